#include "RectangleFit.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/convex_hull_3.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <iterator>
#include <limits>
#include <vector>

namespace {
using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point = Kernel::Point_3;

struct Frame {
    Vec3d origin, u, v, normal;
};

struct Extent {
    double lo = std::numeric_limits<double>::max();
    double hi = -std::numeric_limits<double>::max();
    void add(double x) {
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    double mid() const { return (lo + hi) * 0.5; }
};

bool isFinite(const Vec3d& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Interior points would pull the axes towards dense regions of the surface;
// only the outline should shape the rectangle. CGAL's extreme points also
// cover the degenerate hulls: one point, a segment's two ends, a polygon.
std::vector<Vec3d> collectHullVertices(std::span<const Vec3d> points) {
    std::vector<Point> in;
    in.reserve(points.size());
    for (const Vec3d& p : points)
        in.emplace_back(p.x, p.y, p.z);
    std::vector<Point> out;
    CGAL::extreme_points_3(in, std::back_inserter(out));
    std::vector<Vec3d> hull;
    hull.reserve(out.size());
    for (const Point& p : out)
        hull.emplace_back(p.x(), p.y(), p.z());
    return hull;
}

// Weighted per term so that the sum cannot overflow before the division.
Vec3d computeMean(std::span<const Vec3d> points) {
    const double w = 1.0 / double(points.size());
    Vec3d sum;
    for (const Vec3d& p : points)
        sum += p * w;
    return sum;
}

// Eigenvectors of the covariance about mean, largest eigenvalue last. The
// offsets are scaled to at most 1 first: the eigenvectors do not change, and
// spreads near the limits of double neither overflow nor vanish when squared.
Eigen::Matrix3d computeCovarianceAxes(std::span<const Vec3d> points, const Vec3d& mean) {
    double largest = 0;
    for (const Vec3d& p : points) {
        const Vec3d d = p - mean;
        largest = std::max({largest, std::abs(d.x), std::abs(d.y), std::abs(d.z)});
    }
    const double scale = largest > 0 ? 1.0 / largest : 1.0;
    Eigen::Matrix3d cov = Eigen::Matrix3d::Zero();
    for (const Vec3d& p : points) {
        const Vec3d d = (p - mean) * scale;
        const Eigen::Vector3d e(d.x, d.y, d.z);
        cov += e * e.transpose();
    }
    // Eigen sorts the eigenvalues in increasing order and returns an
    // orthonormal basis even when some of them coincide.
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(cov);
    return solver.eigenvectors();
}

Vec3d column(const Eigen::Matrix3d& m, int c) {
    return {m(0, c), m(1, c), m(2, c)};
}

Frame buildFrame(std::span<const Vec3d> hull) {
    Frame f;
    f.origin = computeMean(hull);
    const Eigen::Matrix3d axes = computeCovarianceAxes(hull, f.origin);
    f.u = normalizeOrZ(column(axes, 2));
    f.v = normalizeOrZ(column(axes, 1));
    f.normal = normalizeOrZ(cross(f.u, f.v));
    return f;
}
} // namespace

double FittedRectangle::diameter() const {
    // hypot: the squared lengths of very long or very short sides would
    // overflow or vanish.
    const Vec3d a = sideU(), b = sideV();
    return std::max(std::hypot(a.x, a.y, a.z), std::hypot(b.x, b.y, b.z));
}

FittedRectangle fitRectangle(std::span<const Vec3d> points) {
    FittedRectangle r;
    r.u = {1, 0, 0};
    r.v = {0, 1, 0};
    r.normal = {0, 0, 1};
    if (points.empty()) return r;
    assert(std::all_of(points.begin(), points.end(), isFinite));

    // Axes from the hull, extent from every point so that the box holds them all.
    const Frame f = buildFrame(collectHullVertices(points));
    Extent eu, ev, en;
    for (const Vec3d& p : points) {
        const Vec3d d = p - f.origin;
        eu.add(dot(d, f.u));
        ev.add(dot(d, f.v));
        en.add(dot(d, f.normal));
    }

    r.u = f.u;
    r.v = f.v;
    r.normal = f.normal;
    r.halfThickness = (en.hi - en.lo) * 0.5;
    const Vec3d plane = f.origin + f.normal * en.mid();
    r.corners[0] = plane + f.u * eu.lo + f.v * ev.lo;
    r.corners[1] = plane + f.u * eu.hi + f.v * ev.lo;
    r.corners[2] = plane + f.u * eu.hi + f.v * ev.hi;
    r.corners[3] = plane + f.u * eu.lo + f.v * ev.hi;
    return r;
}
