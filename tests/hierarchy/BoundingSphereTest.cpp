#include "BoundingSphere.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {
void expectSphere(const BoundingSphere& s, const BoundingSphere& expected) {
    EXPECT_NEAR(length(Vec3d(s.centre() - expected.centre())), 0, 1e-5);
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
        {"right", {0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {1, 1, 0, float(std::sqrt(2.0))}},
        // obtuse: the sphere around the opposite edge, not the circumsphere
        {"obtuse at b", {-2, 0, 0}, {0, 0.5, 0}, {2, 0, 0}, {0, 0, 0, 2}},
        {"obtuse at c", {-2, 0, 0}, {2, 0, 0}, {0, 0.5, 0}, {0, 0, 0, 2}},
        // equilateral with side 2: circumradius 2 / sqrt(3) around the centroid
        {"acute", {-1, 0, 5}, {1, 0, 5}, {0, h, 5}, {0, float(h / 3), 5, float(2 / h)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoundingSphere s;
        s.setToTriangle(c.a, c.b, c.c);
        expectSphere(s, c.expected);
    }
}

TEST(BoundingSphereExtendAndBox, ExtendingKeepsTheCentreTheBoxCentreHoldsEverySphere) {
    BoundingSphere s{0, 0, 0, 2};
    s.extend({0.5f, 0, 0, 1});
    expectSphere(s, {0, 0, 0, 2});
    s.extend({3, 0, 0, 1});
    expectSphere(s, {0, 0, 0, 4}); // the centre stays, the radius reaches the far side
    // The sphere of radius 1 reaches furthest from the box centre (2, 1, 0).
    const std::vector<BoundingSphere> in = {{0, 0, 0, 0}, {4, 2, 0, 0}, {0, 2, 0, 1}};
    s.setToBoxCentre(in);
    expectSphere(s, {2, 1, 0, float(std::sqrt(5.0) + 1)});
    s.setToBoxCentre({});
    expectSphere(s, {});
}

TEST(BoundingSphereExtendDeathTest, InfiniteRadiusIsAnInternalError) {
    BoundingSphere s{0, 0, 0, 1};
    EXPECT_DEATH(s.extend({0, 0, 0, std::numeric_limits<float>::infinity()}), "_finite");
}

TEST(BoundingSphereSmallest, KnownConfigurations) {
    struct Case {
        const char* what;
        std::vector<BoundingSphere> in;
        BoundingSphere expected;
    };
    const Case cases[] = {
        {"none", {}, {0, 0, 0, 0}},
        {"two points", {{-1, 0, 0, 0}, {3, 0, 0, 0}}, {1, 0, 0, 2}},
        {"nested", {{0, 0, 0, 5}, {1, 1, 1, 1}}, {0, 0, 0, 5}},
        {"side by side", {{0, 0, 0, 1}, {0, 4, 0, 1}}, {0, 2, 0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoundingSphere s{9, 9, 9, 9};
        s.setToSmallestEnclosing(c.in);
        expectSphere(s, c.expected);
    }
}

// Random sets, and one of wildly different scales for which the solver's
// rounding returns a zero sphere: the result must still hold every input.
TEST(BoundingSphereSmallest, RandomSpheresAreEnclosedAndNoLargerThanTheBoxEstimate) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-10, 10), rad(0, 2);
    std::vector<BoundingSphere> in = {{0.809017003f, -0.5f, -0.309016973f, 0},
                                      {-0.850650787f, 0, 0.525731087f, 0},
                                      {-0.425325394f, 3.17452928e9f, 0.5f, 3.17452928e9f}};
    for (int round = 0; round < 50; ++round) {
        BoundingSphere best, box;
        best.setToSmallestEnclosing(in);
        box.setToBoxCentre(in);
        for (const BoundingSphere& b : in) {
            EXPECT_TRUE(best.contains(b)) << round;
            EXPECT_TRUE(box.contains(b)) << round;
        }
        EXPECT_LE(best.r, box.r * (1 + 1e-6));
        in.clear();
        for (int i = 0; i < 1 + round * 3; ++i) in.push_back({pos(rng), pos(rng), pos(rng), i % 3 ? rad(rng) : 0});
    }
}
