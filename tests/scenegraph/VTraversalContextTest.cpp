// The frustum test that culls scene nodes, and the scene file's number and
// flag lines.

#include "SceneFileText.h"
#include "SceneObjectId.h"
#include "VTraversalContext.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {
// A camera at the origin looking down -z with a 90 degree opening, square:
// at distance 10 the view reaches 10 units to each side.
TEST(Frustum, CullsOnlySpheresWhollyOutsideAPlane) {
    VFrustum frustum;
    VCameraPose camera;
    BoundingSphere probe;
    probe.r = 1;
    EXPECT_FALSE(frustum.outside(probe)) << "an unset frustum culls nothing";
    frustum.set(camera, 1, 100, 90, 1);
    struct Case {
        float x, y, z;
        bool outside;
    };
    for (const Case& c : {Case{0, 0, -10, false}, Case{0, 0, 5, true},     // ahead, behind
                          Case{0, 0, -0.5f, false}, Case{0, 0, 0.5f, true}, // across and behind the near plane
                          Case{0, 0, -102, true}, Case{0, 0, -100.5f, false}, // beyond and at the far plane
                          Case{10.5f, 0, -10, false}, Case{11.5f, 0, -10, true},  // right edge: sqrt 2 / 2 margin
                          Case{-11.5f, 0, -10, true}, Case{0, 11.5f, -10, true}, Case{0, -11.5f, -10, true}}) {
        probe.x = c.x, probe.y = c.y, probe.z = c.z;
        EXPECT_EQ(frustum.outside(probe), c.outside) << c.x << " " << c.y << " " << c.z;
    }
    // A wider than high view reaches further sideways than up.
    frustum.set(camera, 1, 100, 90, 2);
    probe.x = 15, probe.y = 0, probe.z = -10;
    EXPECT_FALSE(frustum.outside(probe));
    probe.x = 0, probe.y = 15;
    EXPECT_TRUE(frustum.outside(probe));
}

TEST(SceneFileText, NumbersComeBackExactAndBadLinesFail) {
    std::ostringstream out;
    scenefile::usePrecision(out);
    const double values[3] = {0.1, 1.0 / 3.0, -2.5e-7};
    scenefile::writeNumbers(out, values, 3);
    scenefile::writeFlag(out, true);
    std::istringstream in(out.str() + "-3\nseven\n");
    bool ok = true, flag = false;
    double back[3];
    scenefile::readNumbers(in, back, 3, ok);
    scenefile::readFlag(in, flag, ok);
    EXPECT_TRUE(ok && flag);
    EXPECT_EQ(back[0], values[0]);
    EXPECT_EQ(back[1], values[1]);
    EXPECT_EQ(back[2], values[2]);
    uint32_t count = 0;
    scenefile::readValue(in, count, ok);
    EXPECT_FALSE(ok) << "a negative count is refused, not wrapped";
}

TEST(SceneObjectId, LoadedIdsPushTheCounterPastThem) {
    const uint32_t first = nextSceneObjectId();
    EXPECT_GE(first, kFirstSceneObjectId);
    advanceSceneObjectIdsPast(first + 100);
    EXPECT_EQ(nextSceneObjectId(), first + 101);
    advanceSceneObjectIdsPast(5); // never backwards
    EXPECT_EQ(nextSceneObjectId(), first + 102);
}
} // namespace
