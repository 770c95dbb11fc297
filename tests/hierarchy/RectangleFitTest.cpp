#include "RectangleFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {
constexpr double kTol = 1e-9;

bool isFinite(const Vec3d& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

void expectNear(const Vec3d& a, const Vec3d& b, double tol = kTol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// a and b are the same axis, either way round.
void expectSameAxis(const Vec3d& a, const Vec3d& b, double tol = 1e-9) {
    EXPECT_NEAR(std::abs(dot(a, b)), 1.0, tol)
        << "(" << a.x << " " << a.y << " " << a.z << ") vs (" << b.x << " " << b.y << " " << b.z << ")";
}

// u, v, normal unit, mutually orthogonal, right-handed; the sides run along
// +u and +v from corner 0 and the four corners close a rectangle.
void expectConsistent(const FittedRectangle& r) {
    for (const Vec3d& a : {r.u, r.v, r.normal}) {
        ASSERT_TRUE(isFinite(a));
        EXPECT_NEAR(length(a), 1.0, 1e-12);
    }
    EXPECT_NEAR(dot(r.u, r.v), 0.0, 1e-12);
    EXPECT_NEAR(dot(r.u, r.normal), 0.0, 1e-12);
    EXPECT_NEAR(dot(r.v, r.normal), 0.0, 1e-12);
    expectNear(cross(r.u, r.v), r.normal, 1e-12);

    for (const Vec3d& c : r.corners)
        ASSERT_TRUE(isFinite(c));
    EXPECT_GE(r.halfThickness, 0.0);
    const double lu = dot(r.sideU(), r.u), lv = dot(r.sideV(), r.v);
    EXPECT_GE(lu, -kTol);
    EXPECT_GE(lv, -kTol);
    expectNear(r.sideU(), r.u * lu);
    expectNear(r.sideV(), r.v * lv);
    expectNear(r.corners[2], r.corners[1] + r.sideV());
    EXPECT_NEAR(r.diameter(), std::max(lu, lv), kTol);
}

// Every point lies within the box: the rectangle thickened by halfThickness
// on both sides.
void expectHolds(const FittedRectangle& r, const std::vector<Vec3d>& points) {
    const Vec3d c = r.centre();
    const double hu = length(r.sideU()) * 0.5, hv = length(r.sideV()) * 0.5;
    for (const Vec3d& p : points) {
        const Vec3d d = p - c;
        EXPECT_LE(std::abs(dot(d, r.u)), hu + kTol);
        EXPECT_LE(std::abs(dot(d, r.v)), hv + kTol);
        EXPECT_LE(std::abs(dot(d, r.normal)), r.halfThickness + kTol);
    }
}

// Each corner of a is one of b's.
void expectSameCorners(const FittedRectangle& a, const std::vector<Vec3d>& b) {
    for (const Vec3d& c : a.corners) {
        double nearest = 1e300;
        for (const Vec3d& e : b)
            nearest = std::min(nearest, length(c - e));
        EXPECT_LT(nearest, kTol) << "corner (" << c.x << " " << c.y << " " << c.z << ")";
    }
}

// A right-handed orthonormal frame tilted away from every coordinate axis.
struct TiltedFrame {
    Vec3d e1 = normalizeOrZ(Vec3d(2, 1, -2));
    Vec3d e2 = normalizeOrZ(cross(Vec3d(0.3, -1, 0.4), e1));
    Vec3d n = cross(e1, e2);
    Vec3d at(const Vec3d& origin, double a, double b, double c) const {
        return origin + e1 * a + e2 * b + n * c;
    }
};
} // namespace

//   d2
//   ^  3 +-----------+ 2      a grid of points in the plane x + y + z = 790,
//   |    |  . . . .  |        whose coordinates are exact so that the
//   |  0 +-----------+ 1      points are exactly coplanar
//   +---------------------> d1
TEST(RectangleFit, FlatRectangleInATiltedPlane) {
    const Vec3d origin(1000, -250, 40), d1(1, -1, 0), d2(1, 1, -2);
    const Vec3d e1 = normalizeOrZ(d1), e2 = normalizeOrZ(d2), n = normalizeOrZ(Vec3d(1, 1, 1));
    const auto at = [&](double a, double b) { return origin + d1 * a + d2 * b; };
    std::vector<Vec3d> points;
    for (int i = 0; i <= 8; ++i)
        for (int j = 0; j <= 4; ++j)
            points.push_back(at(0.25 * i, 0.125 * j));
    const double longSide = 2 * length(d1), shortSide = 0.5 * length(d2);

    const FittedRectangle r = fitRectangle(points);
    expectConsistent(r);
    expectSameAxis(r.normal, n);
    expectSameAxis(r.u, e1);
    expectSameAxis(r.v, e2);
    EXPECT_NEAR(r.halfThickness, 0.0, kTol);
    EXPECT_NEAR(length(r.sideU()), longSide, kTol);
    EXPECT_NEAR(length(r.sideV()), shortSide, kTol);
    EXPECT_NEAR(r.diameter(), longSide, kTol);
    expectSameCorners(r, {at(0, 0), at(2, 0), at(2, 0.5), at(0, 0.5)});
    // Corner 0 is the one at the low end of both axes.
    EXPECT_LT(dot(r.corners[0] - r.centre(), r.u), 0.0);
    EXPECT_LT(dot(r.corners[0] - r.centre(), r.v), 0.0);
    expectNear(r.centre(), at(1, 0.25));
    expectHolds(r, points);
}

// A thin roof: a 6 x 2 floor at height 0 and a ridge at height 0.2 over its
// long middle line. The hull vertices' mean lies below the middle height, so
// the corners must be moved up into the mid-plane at 0.1.
TEST(RectangleFit, ThinSlabPutsCornersInTheMidPlane) {
    const TiltedFrame t;
    const Vec3d origin(-3, 7, 2);
    std::vector<Vec3d> points = {t.at(origin, 0, 0, 0), t.at(origin, 6, 0, 0),   t.at(origin, 6, 2, 0),
                                 t.at(origin, 0, 2, 0), t.at(origin, 0, 1, 0.2), t.at(origin, 6, 1, 0.2)};

    const FittedRectangle r = fitRectangle(points);
    expectConsistent(r);
    expectSameAxis(r.normal, t.n, 1e-6);
    EXPECT_NEAR(r.halfThickness, 0.1, 1e-6);
    EXPECT_NEAR(r.diameter(), 6.0, 1e-6);
    for (const Vec3d& c : r.corners)
        EXPECT_NEAR(dot(c - origin, t.n), 0.1, 1e-6);
    expectHolds(r, points);
    // The thickness is reached on both sides of the mid-plane.
    double lo = 1e300, hi = -1e300;
    for (const Vec3d& p : points) {
        lo = std::min(lo, dot(p - r.centre(), r.normal));
        hi = std::max(hi, dot(p - r.centre(), r.normal));
    }
    EXPECT_NEAR(lo, -r.halfThickness, kTol);
    EXPECT_NEAR(hi, r.halfThickness, kTol);
}

// Interior points crowded along a diagonal would turn the principal axes if
// they entered the covariance; only the hull shapes the rectangle, but the
// box still holds them.
TEST(RectangleFit, InteriorPointsDoNotMoveTheRectangle) {
    const TiltedFrame t;
    const Vec3d origin(5, 5, 5);
    std::vector<Vec3d> box;
    for (double a : {0.0, 4.0})
        for (double b : {0.0, 3.0})
            for (double c : {0.0, 0.5})
                box.push_back(t.at(origin, a, b, c));
    std::vector<Vec3d> withInterior = box;
    for (int i = 1; i < 200; ++i) {
        const double s = i / 200.0;
        withInterior.push_back(t.at(origin, 4 * s, 3 * s, 0.25));
    }

    const FittedRectangle bare = fitRectangle(box);
    const FittedRectangle full = fitRectangle(withInterior);
    expectConsistent(full);
    expectSameAxis(full.u, t.e1);
    expectSameAxis(full.v, t.e2);
    expectSameAxis(full.normal, t.n);
    expectSameAxis(full.u, bare.u, 1e-12);
    expectSameAxis(full.v, bare.v, 1e-12);
    EXPECT_NEAR(full.halfThickness, bare.halfThickness, kTol);
    EXPECT_NEAR(full.halfThickness, 0.25, kTol);
    expectSameCorners(full, {bare.corners[0], bare.corners[1], bare.corners[2], bare.corners[3]});
    expectHolds(full, withInterior);
}

TEST(RectangleFit, DegenerateSets) {
    // None: a zero rectangle at the origin in the xy plane.
    const FittedRectangle none = fitRectangle({});
    EXPECT_EQ(none.u, Vec3d(1, 0, 0));
    EXPECT_EQ(none.v, Vec3d(0, 1, 0));
    EXPECT_EQ(none.normal, Vec3d(0, 0, 1));
    for (const Vec3d& c : none.corners)
        EXPECT_EQ(c, Vec3d());
    EXPECT_EQ(none.halfThickness, 0.0);
    EXPECT_EQ(none.diameter(), 0.0);

    // One point, alone or repeated: everything collapses onto it.
    for (const std::vector<Vec3d>& same :
         {std::vector<Vec3d>{{1, -2, 3}}, std::vector<Vec3d>(5, {1, -2, 3})}) {
        const FittedRectangle r = fitRectangle(same);
        expectConsistent(r);
        for (const Vec3d& c : r.corners)
            expectNear(c, same[0]);
        EXPECT_EQ(r.halfThickness, 0.0);
        EXPECT_EQ(r.diameter(), 0.0);
    }

    // Two points: u runs between them.
    std::vector<Vec3d> two = {{1, 1, 1}, {4, 5, 1}};
    FittedRectangle r = fitRectangle(two);
    expectConsistent(r);
    expectSameAxis(r.u, Vec3d(0.6, 0.8, 0));
    EXPECT_NEAR(r.diameter(), 5.0, kTol);
    EXPECT_NEAR(length(r.sideV()), 0.0, kTol);
    EXPECT_NEAR(r.halfThickness, 0.0, kTol);
    expectHolds(r, two);

    // Collinear, unevenly spaced, with a repeat.
    const Vec3d dir = normalizeOrZ(Vec3d(1, -2, 2));
    std::vector<Vec3d> line;
    for (double s : {0.0, 0.1, 0.1, 2.5, 6.0, 1.0})
        line.push_back(Vec3d(3, 0, -1) + dir * s);
    r = fitRectangle(line);
    expectConsistent(r);
    expectSameAxis(r.u, dir);
    EXPECT_NEAR(r.diameter(), 6.0, kTol);
    EXPECT_NEAR(r.halfThickness, 0.0, kTol);
    expectHolds(r, line);

    // A square with its centre: the in-plane axes may lie anywhere in the
    // plane, but the normal is fixed and the box is flat.
    std::vector<Vec3d> square = {{0, 0, 2}, {1, 0, 2}, {1, 1, 2}, {0, 1, 2}, {0.5, 0.5, 2}};
    r = fitRectangle(square);
    expectConsistent(r);
    expectSameAxis(r.normal, Vec3d(0, 0, 1));
    EXPECT_NEAR(r.halfThickness, 0.0, kTol);
    for (const Vec3d& c : r.corners)
        EXPECT_NEAR(c.z, 2.0, kTol);
    EXPECT_GE(r.diameter(), 1.0 - kTol);
    EXPECT_LE(r.diameter(), std::sqrt(2.0) + kTol);
    expectHolds(r, square);
}

// Spreads whose squares would overflow or vanish still give the axes of a
// 4 x 1 rectangle and a finite box.
TEST(RectangleFit, ExtremeScales) {
    for (double scale : {1e-170, 1e200}) {
        std::vector<Vec3d> points = {{0, 0, 0}, {4 * scale, 0, 0}, {4 * scale, scale, 0}, {0, scale, 0}};
        const FittedRectangle r = fitRectangle(points);
        expectSameAxis(r.u, Vec3d(1, 0, 0));
        expectSameAxis(r.v, Vec3d(0, 1, 0));
        expectSameAxis(r.normal, Vec3d(0, 0, 1));
        for (const Vec3d& c : r.corners)
            EXPECT_TRUE(isFinite(c));
        EXPECT_EQ(r.halfThickness, 0.0);
        EXPECT_NEAR(r.diameter() / scale, 4.0, 1e-9);
    }
}

TEST(RectangleFit, RandomCloudIsBoxedTightly) {
    std::mt19937 rng(7);
    std::normal_distribution<double> g;
    const TiltedFrame t;
    const Vec3d origin(-20, 3, 11);
    std::vector<Vec3d> points;
    for (int i = 0; i < 2000; ++i)
        points.push_back(t.at(origin, 5 * g(rng), 2 * g(rng), 0.3 * g(rng)));

    const FittedRectangle r = fitRectangle(points);
    expectConsistent(r);
    expectHolds(r, points);
    // The spreads differ enough that the axes follow them roughly.
    EXPECT_GT(std::abs(dot(r.u, t.e1)), 0.95);
    EXPECT_GT(std::abs(dot(r.normal, t.n)), 0.95);

    // Tight: some point touches each of the six faces.
    const Vec3d c = r.centre();
    const double hu = length(r.sideU()) * 0.5, hv = length(r.sideV()) * 0.5;
    double reach[6] = {};
    for (const Vec3d& p : points) {
        const double a = dot(p - c, r.u), b = dot(p - c, r.v), n = dot(p - c, r.normal);
        reach[0] = std::max(reach[0], a), reach[1] = std::max(reach[1], -a);
        reach[2] = std::max(reach[2], b), reach[3] = std::max(reach[3], -b);
        reach[4] = std::max(reach[4], n), reach[5] = std::max(reach[5], -n);
    }
    EXPECT_NEAR(reach[0], hu, kTol);
    EXPECT_NEAR(reach[1], hu, kTol);
    EXPECT_NEAR(reach[2], hv, kTol);
    EXPECT_NEAR(reach[3], hv, kTol);
    EXPECT_NEAR(reach[4], r.halfThickness, kTol);
    EXPECT_NEAR(reach[5], r.halfThickness, kTol);
}
