#include "RectangleFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {
constexpr double kTol = 1e-9;

void expectNear(const Vec3d& a, const Vec3d& b, double tol = kTol) {
    EXPECT_LT(length(a - b), tol) << "(" << a.x << " " << a.y << " " << a.z << ") vs (" << b.x << " " << b.y << " " << b.z << ")";
}

// a and b are the same axis, either way round.
void expectSameAxis(const Vec3d& a, const Vec3d& b, double tol = 1e-9) {
    EXPECT_NEAR(std::abs(dot(a, b)), 1.0, tol)
        << "(" << a.x << " " << a.y << " " << a.z << ") vs (" << b.x << " " << b.y << " " << b.z << ")";
}

// u, v, normal a right-handed orthonormal frame; the sides run along +u and
// +v from corner 0 (so that it is the corner of least u and v) and the four
// corners close a rectangle.
void expectConsistent(const FittedRectangle& r) {
    const Vec3d axes[3] = {r.u, r.v, r.normal};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(dot(axes[i], axes[j]), i == j ? 1.0 : 0.0, 1e-12) << i << j;
    expectNear(cross(r.u, r.v), r.normal, 1e-12);
    const double lu = dot(r.sideU(), r.u), lv = dot(r.sideV(), r.v);
    EXPECT_GE(std::min(lu, lv), -kTol);
    expectNear(r.sideU(), r.u * lu);
    expectNear(r.sideV(), r.v * lv);
    expectNear(r.corners[2], r.corners[1] + r.sideV());
    EXPECT_NEAR(r.diameter(), std::max(lu, lv), kTol);
    EXPECT_GE(r.halfThickness, 0.0);
}

// Every point lies within the box (the rectangle thickened by halfThickness
// on both sides), and some point touches each of its six faces.
void expectTightBox(const FittedRectangle& r, const std::vector<Vec3d>& points) {
    const Vec3d axes[3] = {r.u, r.v, r.normal};
    const double half[3] = {length(r.sideU()) / 2, length(r.sideV()) / 2, r.halfThickness};
    for (int k = 0; k < 3; ++k) {
        double lo = 1e300, hi = -1e300;
        for (const Vec3d& p : points) {
            lo = std::min(lo, dot(p - r.centre(), axes[k]));
            hi = std::max(hi, dot(p - r.centre(), axes[k]));
        }
        EXPECT_NEAR(lo, -half[k], kTol) << "axis " << k;
        EXPECT_NEAR(hi, half[k], kTol) << "axis " << k;
    }
}

// Each corner of a is one of b's.
void expectSameCorners(const FittedRectangle& a, const std::vector<Vec3d>& b) {
    for (const Vec3d& c : a.corners) {
        double nearest = 1e300;
        for (const Vec3d& e : b) nearest = std::min(nearest, length(c - e));
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
    const auto at = [&](double a, double b) { return origin + d1 * a + d2 * b; };
    std::vector<Vec3d> points;
    for (int i = 0; i <= 8; ++i)
        for (int j = 0; j <= 4; ++j) points.push_back(at(0.25 * i, 0.125 * j));

    const FittedRectangle r = fitRectangle(points);
    expectConsistent(r);
    expectSameAxis(r.normal, normalizeOrZ(Vec3d(1, 1, 1)));
    expectSameAxis(r.u, normalizeOrZ(d1));
    expectSameAxis(r.v, normalizeOrZ(d2));
    expectSameCorners(r, {at(0, 0), at(2, 0), at(2, 0.5), at(0, 0.5)});
    expectTightBox(r, points);
}

// A thin roof: a 6 x 2 floor at height 0 and a ridge at height 0.2 over its
// long middle line. The hull vertices' mean lies below the middle height, so
// the corners must be moved up into the mid-plane at 0.1.
TEST(RectangleFit, ThinSlabPutsCornersInTheMidPlane) {
    const TiltedFrame t;
    const Vec3d origin(-3, 7, 2);
    const std::vector<Vec3d> points = {t.at(origin, 0, 0, 0), t.at(origin, 6, 0, 0),   t.at(origin, 6, 2, 0),
                                       t.at(origin, 0, 2, 0), t.at(origin, 0, 1, 0.2), t.at(origin, 6, 1, 0.2)};
    const FittedRectangle r = fitRectangle(points);
    expectConsistent(r);
    expectSameAxis(r.normal, t.n, 1e-6);
    EXPECT_NEAR(r.halfThickness, 0.1, 1e-6);
    EXPECT_NEAR(r.diameter(), 6.0, 1e-6);
    for (const Vec3d& c : r.corners) EXPECT_NEAR(dot(c - origin, t.n), 0.1, 1e-6);
    expectTightBox(r, points);
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
            for (double c : {0.0, 0.5}) box.push_back(t.at(origin, a, b, c));
    std::vector<Vec3d> withInterior = box;
    for (int i = 1; i < 200; ++i) withInterior.push_back(t.at(origin, 4 * i / 200.0, 3 * i / 200.0, 0.25));

    const FittedRectangle bare = fitRectangle(box);
    const FittedRectangle full = fitRectangle(withInterior);
    expectConsistent(full);
    expectSameAxis(full.u, t.e1);
    expectSameAxis(full.v, t.e2);
    expectSameAxis(full.normal, t.n);
    expectSameAxis(full.u, bare.u, 1e-12);
    expectSameAxis(full.v, bare.v, 1e-12);
    EXPECT_NEAR(full.halfThickness, 0.25, kTol);
    expectSameCorners(full, {bare.corners[0], bare.corners[1], bare.corners[2], bare.corners[3]});
    expectTightBox(full, withInterior);
}

TEST(RectangleFit, DegenerateSets) {
    // None: a zero rectangle at the origin in the xy plane.
    const FittedRectangle none = fitRectangle({});
    EXPECT_EQ(none.u, Vec3d(1, 0, 0));
    EXPECT_EQ(none.v, Vec3d(0, 1, 0));
    EXPECT_EQ(none.normal, Vec3d(0, 0, 1));
    for (const Vec3d& c : none.corners) EXPECT_EQ(c, Vec3d());
    EXPECT_EQ(none.halfThickness, 0.0);

    const Vec3d dir = normalizeOrZ(Vec3d(1, -2, 2));
    std::vector<Vec3d> line; // collinear, unevenly spaced, with a repeat
    for (double s : {0.0, 0.1, 0.1, 2.5, 6.0, 1.0}) line.push_back(Vec3d(3, 0, -1) + dir * s);
    struct Case {
        const char* what;
        std::vector<Vec3d> points;
        double diameterLo, diameterHi, sideV;
        Vec3d u, normal; // (0, 0, 0): free
    };
    const Case cases[] = {
        {"one point", {{1, -2, 3}}, 0, 0, 0, {}, {}},
        {"one point repeated", std::vector<Vec3d>(5, {1, -2, 3}), 0, 0, 0, {}, {}},
        {"two points: u runs between them", {{1, 1, 1}, {4, 5, 1}}, 5, 5, 0, {0.6, 0.8, 0}, {}},
        {"collinear", line, 6, 6, 0, dir, {}},
        // The in-plane axes may lie anywhere in the plane, but the normal is fixed.
        {"square with its centre", {{0, 0, 2}, {1, 0, 2}, {1, 1, 2}, {0, 1, 2}, {0.5, 0.5, 2}}, 1, std::sqrt(2.0), -1, {}, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FittedRectangle r = fitRectangle(c.points);
        expectConsistent(r);
        EXPECT_NEAR(r.halfThickness, 0.0, kTol);
        EXPECT_GE(r.diameter(), c.diameterLo - kTol);
        EXPECT_LE(r.diameter(), c.diameterHi + kTol);
        if (c.sideV >= 0) {
            EXPECT_NEAR(length(r.sideV()), c.sideV, kTol);
        }
        if (length(c.u) > 0) expectSameAxis(r.u, c.u);
        if (length(c.normal) > 0) expectSameAxis(r.normal, c.normal);
        expectTightBox(r, c.points);
    }
}

// Spreads whose squares would overflow or vanish still give the axes of a
// 4 x 1 rectangle and a finite box.
TEST(RectangleFit, ExtremeScales) {
    for (double scale : {1e-170, 1e200}) {
        const std::vector<Vec3d> points = {{0, 0, 0}, {4 * scale, 0, 0}, {4 * scale, scale, 0}, {0, scale, 0}};
        const FittedRectangle r = fitRectangle(points);
        expectSameAxis(r.u, Vec3d(1, 0, 0));
        expectSameAxis(r.v, Vec3d(0, 1, 0));
        expectSameAxis(r.normal, Vec3d(0, 0, 1));
        for (const Vec3d& c : r.corners) EXPECT_TRUE(std::isfinite(c.x + c.y + c.z));
        EXPECT_EQ(r.halfThickness, 0.0);
        EXPECT_NEAR(r.diameter() / scale, 4.0, 1e-9);
    }
}

TEST(RectangleFit, RandomCloudIsBoxedTightly) {
    std::mt19937 rng(7);
    std::normal_distribution<double> g;
    const TiltedFrame t;
    std::vector<Vec3d> points;
    for (int i = 0; i < 2000; ++i) points.push_back(t.at({-20, 3, 11}, 5 * g(rng), 2 * g(rng), 0.3 * g(rng)));

    const FittedRectangle r = fitRectangle(points);
    expectConsistent(r);
    expectTightBox(r, points);
    // The spreads differ enough that the axes follow them roughly.
    EXPECT_GT(std::abs(dot(r.u, t.e1)), 0.95);
    EXPECT_GT(std::abs(dot(r.normal, t.n)), 0.95);
}
