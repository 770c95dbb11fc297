#include "NormalCone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {
constexpr double kPi = std::numbers::pi;

std::vector<Vec3f> sortedSet(std::vector<Vec3f> normals) {
    std::sort(normals.begin(), normals.end());
    normals.erase(std::unique(normals.begin(), normals.end()), normals.end());
    return normals;
}

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

TEST(NormalConeOfNormals, SmallSets) {
    NormalCone cone;
    cone.setFromNormals({});
    EXPECT_DOUBLE_EQ(cone.angle, kPi / 2);

    std::vector<Vec3f> one = {normalizeOrZ(Vec3f(1, 2, 2))};
    cone.setFromNormals(one);
    EXPECT_NEAR(dot(cone.axis, Vec3d(one[0])), 1.0, 1e-7);
    EXPECT_NEAR(cone.angle, 0.0, 1e-3);

    // n and -n: the box centre is zero, the axis becomes +z, and the angle is
    // what it takes to reach both from there.
    Vec3f n = normalizeOrZ(Vec3f(0.6f, 0.0f, 0.8f));
    cone.setFromNormals(sortedSet({n, -n}));
    EXPECT_EQ(cone.axis, Vec3d(0, 0, 1));
    EXPECT_NEAR(cone.angle, std::acos(-std::abs(n.z)), 1e-6);
}

TEST(NormalConeOfNormals, TripleSearchFindsTheTightAxis) {
    // Four normals 30 degrees around +z, plus the pole itself.
    std::vector<Vec3f> normals = {Vec3f(0, 0, 1)};
    for (int i = 0; i < 4; ++i) normals.push_back(unitFromAngles(kPi / 6, i * kPi / 2));
    normals = sortedSet(normals);
    NormalCone cone;
    cone.setFromNormals(normals);
    EXPECT_NEAR(cone.axis.z, 1.0, 1e-6);
    EXPECT_NEAR(cone.angle, kPi / 6, 1e-6);
    expectHoldsNormals(cone, normals);
}

TEST(NormalConeOfNormals, NoPositiveCandidateKeepsTheAxisAndOpensToHalfPi) {
    // The six axis directions cannot share an axis with a positive score.
    std::vector<Vec3f> normals =
        sortedSet({{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}});
    NormalCone cone({0.6, 0.8, 0}, 0.1);
    cone.setFromNormals(normals);
    EXPECT_EQ(cone.axis, Vec3d(0.6, 0.8, 0));
    EXPECT_DOUBLE_EQ(cone.angle, kPi / 2);
}

TEST(NormalConeOfNormals, RandomCapsOfEverySizeHoldTheirNormals) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0, 1);
    for (int count : {3, 4, 7, 20, 50, 51, 200}) {
        Vec3d centre = randomUnit(rng);
        std::vector<Vec3f> normals;
        for (int i = 0; i < count; ++i)
            normals.push_back(Vec3f(normalizeOrZ(centre + randomUnit(rng) * (0.6 * u(rng)))));
        normals = sortedSet(normals);
        NormalCone cone;
        cone.setFromNormals(normals);
        SCOPED_TRACE(count);
        EXPECT_LT(cone.angle, kPi / 2); // a cap this tight always has a positive candidate
        expectHoldsNormals(cone, normals);
    }
}

TEST(NormalConeOfNormals, LargeSetChoosesTheBetterOfBoxAxisAndItsNegation) {
    // 60 normals near -z: the box centre points down, so no flip is needed;
    // the same normals mirrored point up.
    std::mt19937 rng(3);
    std::vector<Vec3f> down, up;
    for (int i = 0; i < 60; ++i) {
        Vec3f n = unitFromAngles(kPi - 0.3 * (i % 7) / 7.0, i * 0.7);
        down.push_back(n);
        up.push_back(-n);
    }
    NormalCone a, b;
    a.setFromNormals(sortedSet(down));
    b.setFromNormals(sortedSet(up));
    EXPECT_LT(a.axis.z, -0.9);
    EXPECT_GT(b.axis.z, 0.9);
    EXPECT_NEAR(a.angle, b.angle, 1e-6);
    expectHoldsNormals(a, down);
}

TEST(NormalConeMerge, KnownPairs) {
    const Vec3d tilted = normalizeOrZ(Vec3d(0.1, 0, 1)), diagonal = normalizeOrZ(Vec3d(1, 1, 0));
    struct Case {
        const char* what;
        NormalCone cone, other, expected;
    };
    const Case cases[] = {
        {"itself", {diagonal, 0.4}, {diagonal, 0.4}, {diagonal, 0.4}},
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
        EXPECT_GE(merged.angle, std::max(a.angle, b.angle));
    }
}

TEST(NormalConeExtend, HoldsTheOldConeAndEveryListedOneTightly) {
    // By itself a cone stays as it was.
    NormalCone cone(normalizeOrZ(Vec3d(1, 2, 3)), 0.3);
    const NormalCone same = cone;
    cone.extend({&same, 1});
    EXPECT_NEAR(dot(cone.axis, same.axis), 1.0, 1e-9);
    EXPECT_NEAR(cone.angle, 0.3, 1e-6);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> ang(0, 0.8);
    for (int round = 0; round < 100; ++round) {
        const Vec3d centre = randomUnit(rng);
        cone = NormalCone(centre, ang(rng));
        const NormalCone old = cone;
        std::vector<NormalCone> cones;
        for (int i = 0; i < 1 + round % 6; ++i) cones.emplace_back(normalizeOrZ(centre + randomUnit(rng) * 0.5), ang(rng));
        cone.extend(cones);
        EXPECT_TRUE(cone.contains(old));
        for (const NormalCone& c : cones) EXPECT_TRUE(cone.contains(c));
        EXPECT_NEAR(length(cone.axis), 1.0, 1e-9);
    }
}

// 0.0001 radians of tolerance, on both sides.
TEST(NormalConeContains, ToleranceAndOppositeAxes) {
    const NormalCone cone({0, 0, 1}, 0.5);
    EXPECT_TRUE(cone.contains(NormalCone({0, 0, 1}, 0.5 + 0.00005)));
    EXPECT_FALSE(cone.contains(NormalCone({0, 0, 1}, 0.5 + 0.0002)));
    EXPECT_TRUE(NormalCone({0, 0, 1}, kPi).contains(NormalCone({0, 0, -1}, 0.1)));
    EXPECT_FALSE(cone.contains(NormalCone({0, 0, -1}, 0)));
}
