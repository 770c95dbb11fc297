#include "BoundingSphere.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {
BoundingSphere sphere(float x, float y, float z, float r) {
    BoundingSphere s;
    s.x = x, s.y = y, s.z = z, s.r = r;
    return s;
}

void expectSphere(const BoundingSphere& s, const BoundingSphere& expected) {
    EXPECT_NEAR(s.x, expected.x, 1e-5);
    EXPECT_NEAR(s.y, expected.y, 1e-5);
    EXPECT_NEAR(s.z, expected.z, 1e-5);
    EXPECT_NEAR(s.r, expected.r, 1e-5);
}
} // namespace

TEST(BoundingSphereTriangle, SmallestSphereOfEachShape) {
    const double h = std::sqrt(3.0);
    struct Case {
        const char* what;
        Vec3d a, b, c;
        BoundingSphere expected;
    };
    const Case cases[] = {
        // c | .  a--b: right angle at a, the hypotenuse bc is the diameter
        {"right", {0, 0, 0}, {2, 0, 0}, {0, 2, 0}, sphere(1, 1, 0, float(std::sqrt(2.0)))},
        // obtuse: the sphere around the opposite edge, not the circumsphere
        {"obtuse at b", {-2, 0, 0}, {0, 0.5, 0}, {2, 0, 0}, sphere(0, 0, 0, 2)},
        {"obtuse at c", {-2, 0, 0}, {2, 0, 0}, {0, 0.5, 0}, sphere(0, 0, 0, 2)},
        // equilateral with side 2: circumradius 2 / sqrt(3) around the centroid
        {"acute", {-1, 0, 5}, {1, 0, 5}, {0, h, 5}, sphere(0, float(h / 3), 5, float(2 / h))},
        {"collinear", {0, 0, 0}, {1, 0, 0}, {3, 0, 0}, sphere(1.5f, 0, 0, 1.5f)},
        {"coincident", {4, 4, 4}, {4, 4, 4}, {4, 4, 4}, sphere(4, 4, 4, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoundingSphere s;
        s.setToTriangle(c.a, c.b, c.c);
        expectSphere(s, c.expected);
    }
}

TEST(BoundingSphereExtend, InnerSphereLeavesItUnchangedOuterGrowsIt) {
    BoundingSphere s = sphere(0, 0, 0, 2);
    s.extend(sphere(0.5f, 0, 0, 1));
    expectSphere(s, sphere(0, 0, 0, 2));
    s.extend(sphere(3, 0, 0, 1));
    expectSphere(s, sphere(0, 0, 0, 4)); // the centre stays, the radius reaches the far side
}

TEST(BoundingSphereExtendDeathTest, InfiniteRadiusIsAnInternalError) {
    BoundingSphere s = sphere(0, 0, 0, 1);
    EXPECT_DEATH(s.extend(sphere(0, 0, 0, std::numeric_limits<float>::infinity())), "_finite");
}

TEST(BoundingSphereBox, CentreOfTheBoxAndRadiusThatHoldsEverySphere) {
    BoundingSphere s = sphere(1, 2, 3, 4);
    s.setToBoxCentre({});
    expectSphere(s, sphere(0, 0, 0, 0));
    // The sphere of radius 1 reaches furthest from the box centre (2, 1, 0).
    const std::vector<BoundingSphere> in = {sphere(0, 0, 0, 0), sphere(4, 2, 0, 0), sphere(0, 2, 0, 1)};
    s.setToBoxCentre(in);
    expectSphere(s, sphere(2, 1, 0, float(std::sqrt(5.0) + 1)));
}

TEST(BoundingSphereSmallest, KnownConfigurations) {
    struct Case {
        const char* what;
        std::vector<BoundingSphere> in;
        BoundingSphere expected;
    };
    const Case cases[] = {
        {"none", {}, sphere(0, 0, 0, 0)},
        {"two points", {sphere(-1, 0, 0, 0), sphere(3, 0, 0, 0)}, sphere(1, 0, 0, 2)},
        {"nested", {sphere(0, 0, 0, 5), sphere(1, 1, 1, 1)}, sphere(0, 0, 0, 5)},
        {"side by side", {sphere(0, 0, 0, 1), sphere(0, 4, 0, 1)}, sphere(0, 2, 0, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoundingSphere s = sphere(9, 9, 9, 9);
        s.setToSmallestEnclosing(c.in);
        expectSphere(s, c.expected);
    }
}

TEST(BoundingSphereSmallest, RandomSpheresAreEnclosedAndNoLargerThanTheBoxEstimate) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-10, 10), rad(0, 2);
    for (int round = 0; round < 50; ++round) {
        std::vector<BoundingSphere> in;
        for (int i = 0; i < 1 + round * 3; ++i) in.push_back(sphere(pos(rng), pos(rng), pos(rng), i % 3 ? rad(rng) : 0));
        BoundingSphere best, box;
        best.setToSmallestEnclosing(in);
        box.setToBoxCentre(in);
        for (const BoundingSphere& b : in) {
            EXPECT_TRUE(best.contains(b));
            EXPECT_TRUE(box.contains(b));
        }
        EXPECT_LE(best.r, box.r * (1 + 1e-6));
    }
}

TEST(BoundingSphereSmallest, InputsOfWildlyDifferentScalesStayEnclosed) {
    // The solver's rounding returns a zero sphere for this set; the result
    // must still hold every input.
    const std::vector<BoundingSphere> in = {sphere(0.809017003f, -0.5f, -0.309016973f, 0),
                                            sphere(-0.850650787f, 0, 0.525731087f, 0),
                                            sphere(-0.425325394f, 3.17452928e9f, 0.5f, 3.17452928e9f)};
    BoundingSphere s;
    s.setToSmallestEnclosing(in);
    for (const BoundingSphere& b : in) EXPECT_TRUE(s.contains(b));
    EXPECT_LT(s.r, 2 * 3.17452928e9f);
}
