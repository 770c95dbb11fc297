#include "QuantizedNormal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

namespace {
double angleBetween(const Vec3f& a, const Vec3f& b) {
    return angleOfCosine(dot(normalizeOrZ(Vec3d(a)), normalizeOrZ(Vec3d(b))));
}
} // namespace

// Each entry: a distinct unit vector, found again by quantizing it (the
// descent is greedy: not always the nearest entry, about 5 degrees off at
// worst, but never far off), with its opposite and its spherical angles,
// in the octant of its block of 4096; the first entry of each block is the
// centre of the octant's middle triangle, close to its diagonal.
TEST(QuantizedNormal, EveryEntryIsADistinctUnitVectorWithItsOppositeAndAngles) {
    initTetrahederLookupTableRec();
    const Vec3f diagonals[8] = {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1},
                                {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1}};
    std::set<Vec3f> distinct;
    double worst = 0;
    for (uint32_t i = 0; i < kNormalTableSize; ++i) {
        const Vec3f& n = dequantizeNormal(uint16_t(i));
        ASSERT_NEAR(length(Vec3d(n)), 1.0, 1e-6) << i;
        distinct.insert(n);
        worst = std::max(worst, angleBetween(dequantizeNormal(quantizeNormal(n)), n));
        const uint16_t o = oppositeNormal(uint16_t(i));
        ASSERT_EQ(o, quantizeNormal(-n)) << i;
        ASSERT_LT(angleBetween(dequantizeNormal(o), -n), 0.1) << i;
        const SphericalAngles& a = normalSphericalAngles(uint16_t(i));
        const Vec3d back(std::sin(a.polar) * std::cos(a.azimuth), std::sin(a.polar) * std::sin(a.azimuth),
                         std::cos(a.polar));
        ASSERT_NEAR(dot(back, Vec3d(n)), 1.0, 1e-5) << i;
        const Vec3f& d = diagonals[i / 4096];
        EXPECT_GE(std::min({n.x * d.x, n.y * d.y, n.z * d.z}), -1e-6f) << i; // up to the border
        if (i % 4096 == 0) {
            EXPECT_LT(angleBetween(n, d), 0.02) << i;
        }
    }
    EXPECT_EQ(distinct.size(), kNormalTableSize);
    EXPECT_LT(worst, 0.1);
}

TEST(QuantizedNormal, RandomDirectionsLandOnCloseEntries) {
    initTetrahederLookupTableRec();
    std::mt19937 rng(1);
    std::normal_distribution<float> g;
    double sum = 0, worst = 0;
    const int count = 20000;
    for (int i = 0; i < count; ++i) {
        Vec3f v(g(rng), g(rng), g(rng));
        uint16_t q = quantizeNormal(normalizeOrZ(v));
        ASSERT_LT(q, kNormalTableSize);
        double a = angleBetween(dequantizeNormal(q), v);
        sum += a;
        worst = std::max(worst, a);
    }
    // 32768 directions are about 1.1 degrees (0.02 rad) apart.
    EXPECT_LT(sum / count, 0.015);
    EXPECT_LT(worst, 0.1);
    // Degenerate input still gives a valid index.
    EXPECT_LT(quantizeNormal(Vec3f(0, 0, 0)), kNormalTableSize);
    EXPECT_LT(quantizeNormal(Vec3f(1e30f, -1e30f, 0)), kNormalTableSize);
    // Unnormalized input quantizes like its direction.
    EXPECT_EQ(quantizeNormal(Vec3f(0, 0, 7)), quantizeNormal(Vec3f(0, 0, 1)));
}
