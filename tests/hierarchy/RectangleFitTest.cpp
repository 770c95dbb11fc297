#include "RectangleFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

namespace {
constexpr double kTol = 1e-9;

void expectNear(const Vec3d& a, const Vec3d& b, double tol = kTol) { EXPECT_LT(length(a - b), tol); }

// a and b are the same axis, either way round.
void expectSameAxis(const Vec3d& a, const Vec3d& b, double tol = kTol) { EXPECT_NEAR(std::abs(dot(a, b)), 1.0, tol); }

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

// Coordinates a, b, c along e1, e2, n from origin; the second frame is
// orthonormal, right-handed and tilted away from every coordinate axis.
struct Frame {
    Vec3d origin, e1, e2, n;
    Vec3d at(double a, double b, double c) const { return origin + e1 * a + e2 * b + n * c; }
};
const Vec3d kE1 = normalizeOrZ(Vec3d(2, 1, -2)), kE2 = normalizeOrZ(cross(Vec3d(0.3, -1, 0.4), kE1));
Frame tilted(const Vec3d& origin) { return {origin, kE1, kE2, cross(kE1, kE2)}; }
} // namespace

// Point sets whose box is known (a zero axis: free); the tight box fixes the corners.
//   flat: a grid, exactly coplanar, in the plane x + y + z = 790;
//   thin roof: a 6 x 2 floor and a ridge 0.2 above its middle line; the hull
//     vertices' mean lies below mid-height, so the corners must move up to 0.1;
//   box with interior points along a diagonal, which would turn the principal
//     axes if they entered the covariance: only the hull shapes the rectangle;
//   degenerate: a repeated point, a line (uneven, with a repeat), and a square
//     whose in-plane axes may lie anywhere.
TEST(RectangleFit, KnownBoxes) {
    const Frame flat{{1000, -250, 40}, {1, -1, 0}, {1, 1, -2}, {}}, roof = tilted({-3, 7, 2}), box = tilted({5, 5, 5});
    const Frame line{{3, 0, -1}, normalizeOrZ(Vec3d(1, -2, 2)), {}, {}};
    std::vector<Vec3d> grid, boxPoints, linePoints;
    for (int i = 0; i <= 8; ++i)
        for (int j = 0; j <= 4; ++j) grid.push_back(flat.at(0.25 * i, 0.125 * j, 0));
    for (double a : {0.0, 4.0})
        for (double b : {0.0, 3.0})
            for (double c : {0.0, 0.5}) boxPoints.push_back(box.at(a, b, c));
    for (int i = 1; i < 200; ++i) boxPoints.push_back(box.at(4 * i / 200.0, 3 * i / 200.0, 0.25));
    for (double a : {0.0, 0.1, 0.1, 2.5, 6.0, 1.0}) linePoints.push_back(line.at(a, 0, 0));
    struct Case {
        const char* what;
        std::vector<Vec3d> points;
        Vec3d u, normal;
        double halfThickness;
        double tolerance = kTol;
    };
    const Case cases[] = {
        {"flat", grid, normalizeOrZ(flat.e1), normalizeOrZ(Vec3d(1, 1, 1)), 0},
        {"thin roof",
         {roof.at(0, 0, 0), roof.at(6, 0, 0), roof.at(6, 2, 0), roof.at(0, 2, 0), roof.at(0, 1, 0.2), roof.at(6, 1, 0.2)},
         roof.e1, roof.n, 0.1, 1e-6},
        {"box with interior points", boxPoints, box.e1, box.n, 0.25},
        {"one point repeated", std::vector<Vec3d>(5, {1, -2, 3}), {}, {}, 0},
        {"line", linePoints, line.e1, {}, 0},
        {"square with its centre", {{0, 0, 2}, {1, 0, 2}, {1, 1, 2}, {0, 1, 2}, {0.5, 0.5, 2}}, {}, {0, 0, 1}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FittedRectangle r = fitRectangle(c.points);
        expectConsistent(r);
        if (length(c.u) > 0) expectSameAxis(r.u, c.u, c.tolerance);
        if (length(c.normal) > 0) expectSameAxis(r.normal, c.normal, c.tolerance);
        EXPECT_NEAR(r.halfThickness, c.halfThickness, c.tolerance);
        expectTightBox(r, c.points);
    }
}

// No points: a zero rectangle at the origin in the xy plane. Spreads whose
// squares would overflow or vanish still give the axes of a 4 x 1
// rectangle and a finite box.
TEST(RectangleFit, NoPointsAndExtremeScales) {
    const FittedRectangle none = fitRectangle({});
    EXPECT_EQ(std::tuple(none.u, none.v, none.normal, none.halfThickness),
              std::tuple(Vec3d(1, 0, 0), Vec3d(0, 1, 0), Vec3d(0, 0, 1), 0.0));
    for (const Vec3d& c : none.corners) EXPECT_EQ(c, Vec3d());
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
