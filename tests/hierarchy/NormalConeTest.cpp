#include "NormalCone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {
constexpr double kPi = std::numbers::pi;

Vec3f unitFromAngles(double polar, double azimuth) {
    return Vec3f(Vec3d(std::sin(polar) * std::cos(azimuth), std::sin(polar) * std::sin(azimuth), std::cos(polar)));
}

// Every normal lies within the cone, up to float rounding of the inputs.
void expectHoldsNormals(const NormalCone& cone, const std::vector<Vec3f>& normals) {
    for (const Vec3f& n : normals)
        EXPECT_LE(angleOfCosine(dot(cone.axis, normalizeOrZ(Vec3d(n)))), cone.angle + 1e-6);
}

Vec3d randomUnit(std::mt19937& rng) {
    std::normal_distribution<double> g;
    return normalizeOrZ(Vec3d(g(rng), g(rng), g(rng)));
}
} // namespace

// Sets with a known cone, starting from the cone (+x, 0.1). That a cone
// holds its normals is also checked on every arc and node of a hierarchy as
// it is read.
TEST(NormalConeOfNormals, KnownSets) {
    const Vec3f n = normalizeOrZ(Vec3f(0.6f, 0.0f, 0.8f));
    std::vector<Vec3f> aroundThePole = {Vec3f(0, 0, 1)};
    for (int i = 0; i < 4; ++i) aroundThePole.push_back(unitFromAngles(kPi / 6, i * kPi / 2));
    struct Case {
        const char* what;
        std::vector<Vec3f> normals;
        Vec3d axis; // (0, 0, 0): any
        double angle, tolerance;
        bool holdsThem = true;
    };
    const Case cases[] = {
        {"none", {}, {}, kPi / 2, 0},
        // The box centre is zero, the axis becomes +z, and the angle is what it takes to reach both.
        {"n and -n", {n, -n}, {0, 0, 1}, std::acos(-std::abs(n.z)), 1e-6},
        // The triple search finds the tight axis.
        {"four normals 30 degrees around +z, and +z", aroundThePole, {0, 0, 1}, kPi / 6, 1e-6},
        // No candidate with a positive score: the axis is kept and the cone opens to half pi.
        {"the six axis directions", {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}}, {1, 0, 0},
         kPi / 2, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NormalCone cone({1, 0, 0}, 0.1);
        cone.setFromNormals(c.normals);
        if (length(c.axis) > 0) {
            EXPECT_NEAR(dot(cone.axis, c.axis), 1.0, 1e-6);
        }
        EXPECT_NEAR(cone.angle, c.angle, c.tolerance);
        if (c.holdsThem) expectHoldsNormals(cone, c.normals);
    }
}

TEST(NormalConeOfNormals, LargeSetChoosesTheBetterOfBoxAxisAndItsNegation) {
    // 60 normals near -z: the box centre points down, so no flip is needed;
    // the same normals mirrored point up.
    std::vector<Vec3f> down, up;
    for (int i = 0; i < 60; ++i) {
        down.push_back(unitFromAngles(kPi - 0.3 * (i % 7) / 7.0, i * 0.7));
        up.push_back(-down.back());
    }
    NormalCone a, b;
    a.setFromNormals(down);
    b.setFromNormals(up);
    EXPECT_LT(a.axis.z, -0.9);
    EXPECT_GT(b.axis.z, 0.9);
    EXPECT_NEAR(a.angle, b.angle, 1e-6);
    expectHoldsNormals(a, down);
}

TEST(NormalConeMerge, KnownPairs) {
    const Vec3d tilted = normalizeOrZ(Vec3d(0.1, 0, 1));
    struct Case {
        const char* what;
        NormalCone cone, other, expected;
    };
    const Case cases[] = {
        {"into a full cone", {{0, 0, 1}, kPi}, {{1, 0, 0}, 0.2}, {{0, 0, 1}, kPi}},
        {"opposite axes in the xy plane", {{1, 0, 0}, 0}, {{-1, 0, 0}, 0}, {{0, 0, 1}, kPi / 2}},
        {"a contained one", {{0, 0, 1}, 1.0}, {tilted, 0.2}, {{0, 0, 1}, 1.0}},
        {"a containing one", {tilted, 0.2}, {{0, 0, 1}, 1.0}, {{0, 0, 1}, 1.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NormalCone cone = c.cone;
        cone.merge(c.other);
        EXPECT_EQ(cone.axis, c.expected.axis);
        EXPECT_DOUBLE_EQ(cone.angle, c.expected.angle);
    }
}

TEST(NormalConeMerge, RandomPairsContainBoth) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> ang(0, 1.2);
    for (int i = 0; i < 500; ++i) {
        NormalCone a(randomUnit(rng), ang(rng)), b(randomUnit(rng), ang(rng));
        NormalCone merged = a;
        merged.merge(b);
        EXPECT_TRUE(merged.contains(a));
        EXPECT_TRUE(merged.contains(b));
        EXPECT_LE(merged.angle, kPi);
    }
}

// By itself a cone stays as it was; that the extended cone holds the old
// one and every listed one is checked on the cones of a whole hierarchy as
// it is read.
TEST(NormalConeExtend, ByItselfAConeStaysAsItWas) {
    NormalCone cone(normalizeOrZ(Vec3d(1, 2, 3)), 0.3);
    const NormalCone same = cone;
    cone.extend({&same, 1});
    EXPECT_NEAR(dot(cone.axis, same.axis), 1.0, 1e-9);
    EXPECT_NEAR(cone.angle, 0.3, 1e-6);
}

// 0.0001 radians of tolerance, on both sides.
TEST(NormalConeContains, ToleranceAndOppositeAxes) {
    const NormalCone cone({0, 0, 1}, 0.5);
    EXPECT_TRUE(cone.contains(NormalCone({0, 0, 1}, 0.5 + 0.00005)));
    EXPECT_FALSE(cone.contains(NormalCone({0, 0, 1}, 0.5 + 0.0002)));
    EXPECT_TRUE(NormalCone({0, 0, 1}, kPi).contains(NormalCone({0, 0, -1}, 0.1)));
    EXPECT_FALSE(cone.contains(NormalCone({0, 0, -1}, 0)));
}
