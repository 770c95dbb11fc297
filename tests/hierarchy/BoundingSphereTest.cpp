#include "BoundingSphere.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {
BoundingSphere sphere(float x, float y, float z, float r) {
    BoundingSphere s;
    s.x = x;
    s.y = y;
    s.z = z;
    s.r = r;
    return s;
}

void expectSphere(const BoundingSphere& s, double x, double y, double z, double r, double eps = 1e-5) {
    EXPECT_NEAR(s.x, x, eps);
    EXPECT_NEAR(s.y, y, eps);
    EXPECT_NEAR(s.z, z, eps);
    EXPECT_NEAR(s.r, r, eps);
}
} // namespace

// Right angle at a: the hypotenuse bc is the diameter.
//   c
//   | .
//   a--b
TEST(BoundingSphereTriangle, RightTriangleIsCentredOnHypotenuse) {
    BoundingSphere s;
    s.setToTriangle({0, 0, 0}, {2, 0, 0}, {0, 2, 0});
    expectSphere(s, 1, 1, 0, std::sqrt(2.0));
}

TEST(BoundingSphereTriangle, ObtuseAngleUsesTheOppositeEdge) {
    // Obtuse at b: the sphere is the one around edge ac, not the circumsphere.
    BoundingSphere s;
    s.setToTriangle({-2, 0, 0}, {0, 0.5, 0}, {2, 0, 0});
    expectSphere(s, 0, 0, 0, 2);
    // The same triangle with the obtuse corner at c.
    s.setToTriangle({-2, 0, 0}, {2, 0, 0}, {0, 0.5, 0});
    expectSphere(s, 0, 0, 0, 2);
}

TEST(BoundingSphereTriangle, AcuteTriangleGetsItsCircumsphere) {
    const double h = std::sqrt(3.0);
    BoundingSphere s;
    s.setToTriangle({-1, 0, 5}, {1, 0, 5}, {0, h, 5});
    // Equilateral with side 2: circumradius 2 / sqrt(3), centre at the centroid.
    expectSphere(s, 0, h / 3, 5, 2 / h);
}

TEST(BoundingSphereTriangle, CollinearAndCoincidentPoints) {
    BoundingSphere s;
    s.setToTriangle({0, 0, 0}, {1, 0, 0}, {3, 0, 0});
    expectSphere(s, 1.5, 0, 0, 1.5);
    s.setToTriangle({4, 4, 4}, {4, 4, 4}, {4, 4, 4});
    expectSphere(s, 4, 4, 4, 0);
}

TEST(BoundingSphereExtend, InnerSphereLeavesItUnchangedOuterGrowsIt) {
    BoundingSphere s = sphere(0, 0, 0, 2);
    s.extend(sphere(0.5f, 0, 0, 1));
    expectSphere(s, 0, 0, 0, 2);
    s.extend(sphere(3, 0, 0, 1));
    expectSphere(s, 0, 0, 0, 4); // the centre stays, the radius reaches the far side
}

TEST(BoundingSphereExtendDeathTest, InfiniteRadiusIsAnInternalError) {
    BoundingSphere s = sphere(0, 0, 0, 1);
    EXPECT_DEATH(s.extend(sphere(0, 0, 0, std::numeric_limits<float>::infinity())), "_finite");
}

TEST(BoundingSphereBox, EmptyInputGivesZeroSphere) {
    BoundingSphere s = sphere(1, 2, 3, 4);
    s.setToBoxCentre({});
    expectSphere(s, 0, 0, 0, 0);
}

TEST(BoundingSphereBox, CentreOfTheBoxAndRadiusThatHoldsEverySphere) {
    std::vector<BoundingSphere> in = {sphere(0, 0, 0, 0), sphere(4, 2, 0, 0), sphere(0, 2, 0, 1)};
    BoundingSphere s;
    s.setToBoxCentre(in);
    EXPECT_FLOAT_EQ(s.x, 2);
    EXPECT_FLOAT_EQ(s.y, 1);
    EXPECT_FLOAT_EQ(s.z, 0);
    EXPECT_NEAR(s.r, std::sqrt(5.0) + 1, 1e-5); // the sphere of radius 1 reaches furthest
    for (const BoundingSphere& b : in) EXPECT_TRUE(s.contains(b));
}

TEST(BoundingSphereSmallest, KnownConfigurations) {
    BoundingSphere s;
    s.setToSmallestEnclosing({});
    expectSphere(s, 0, 0, 0, 0);

    std::vector<BoundingSphere> two = {sphere(-1, 0, 0, 0), sphere(3, 0, 0, 0)};
    s.setToSmallestEnclosing(two);
    expectSphere(s, 1, 0, 0, 2);

    // A sphere inside another: the outer one is the answer.
    std::vector<BoundingSphere> nested = {sphere(0, 0, 0, 5), sphere(1, 1, 1, 1)};
    s.setToSmallestEnclosing(nested);
    expectSphere(s, 0, 0, 0, 5);

    // Two unit spheres side by side.
    std::vector<BoundingSphere> pair = {sphere(0, 0, 0, 1), sphere(0, 4, 0, 1)};
    s.setToSmallestEnclosing(pair);
    expectSphere(s, 0, 2, 0, 3);
}

TEST(BoundingSphereSmallest, RandomSpheresAreEnclosedAndNoLargerThanTheBoxEstimate) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-10, 10), rad(0, 2);
    for (int round = 0; round < 50; ++round) {
        std::vector<BoundingSphere> in;
        int count = 1 + round * 3;
        for (int i = 0; i < count; ++i) in.push_back(sphere(pos(rng), pos(rng), pos(rng), i % 3 ? rad(rng) : 0));
        BoundingSphere best, box;
        best.setToSmallestEnclosing(in);
        box.setToBoxCentre(in);
        for (const BoundingSphere& b : in) EXPECT_TRUE(best.contains(b));
        EXPECT_LE(best.r, box.r * (1 + 1e-6));
    }
}

TEST(BoundingSphereSmallest, InputsOfWildlyDifferentScalesStayEnclosed) {
    // The solver's rounding returns a zero sphere for this set; the result
    // must still hold every input.
    std::vector<BoundingSphere> in = {sphere(0.809017003f, -0.5f, -0.309016973f, 0),
                                      sphere(-0.850650787f, 0, 0.525731087f, 0),
                                      sphere(-0.425325394f, 3.17452928e9f, 0.5f, 3.17452928e9f)};
    BoundingSphere s;
    s.setToSmallestEnclosing(in);
    for (const BoundingSphere& b : in) EXPECT_TRUE(s.contains(b));
    EXPECT_LT(s.r, 2 * 3.17452928e9f);
}
