#include "BoundingSphere.h"

#include <CGAL/Min_sphere_of_spheres_d.h>
#include <CGAL/Min_sphere_of_spheres_d_traits_3.h>
#include <CGAL/Simple_cartesian.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <vector>

namespace {
using Kernel = CGAL::Simple_cartesian<double>;
using MinSphereTraits = CGAL::Min_sphere_of_spheres_d_traits_3<Kernel, double, CGAL::Tag_true>;
using MinSphere = CGAL::Min_sphere_of_spheres_d<MinSphereTraits>;

double distance(const BoundingSphere& a, const BoundingSphere& b) {
    return length(Vec3d(a.centre()) - Vec3d(b.centre()));
}
} // namespace

void BoundingSphere::extend(const BoundingSphere& bs) {
    assert(std::isfinite(bs.r) && "_finite(bs.r)");
    r = float(std::max<double>(r, distance(*this, bs) + bs.r));
}

void BoundingSphere::setToTriangle(const Vec3d& a, const Vec3d& b, const Vec3d& c) {
    double d1 = dot(b - a, c - a);
    double d2 = dot(a - b, c - b);
    double d3 = dot(a - c, b - c);

    // A non-acute angle: the opposite edge is a diameter of the smallest sphere.
    auto setToEdge = [this](const Vec3d& p, const Vec3d& q) {
        setCentre((p + q) * 0.5);
        r = float(0.5 * length(q - p));
    };
    if (d1 <= 0) return setToEdge(b, c);
    if (d2 <= 0) return setToEdge(a, c);
    if (d3 <= 0) return setToEdge(a, b);

    double c1 = d2 * d3, c2 = d3 * d1, c3 = d1 * d2;
    double s = c1 + c2 + c3;
    if (s == 0) {
        r = 0;
        return;
    }
    setCentre((a * (c2 + c3) + b * (c3 + c1) + c * (c1 + c2)) / (2 * s));
    r = float(0.5 * std::sqrt((d1 + d2) * (d2 + d3) * (d3 + d1) / s));
}

void BoundingSphere::setToBoxCentre(std::span<const BoundingSphere> spheres) {
    *this = BoundingSphere();
    if (spheres.empty()) return;
    const double big = std::numeric_limits<float>::max();
    Vec3d lo(big, big, big), hi(-big, -big, -big);
    for (const BoundingSphere& s : spheres) {
        lo = {std::min<double>(lo.x, s.x), std::min<double>(lo.y, s.y), std::min<double>(lo.z, s.z)};
        hi = {std::max<double>(hi.x, s.x), std::max<double>(hi.y, s.y), std::max<double>(hi.z, s.z)};
    }
    setCentre((lo + hi) * 0.5);
    double radius = 0;
    for (const BoundingSphere& s : spheres) radius = std::max(radius, distance(*this, s) + s.r);
    r = float(radius);
}

void BoundingSphere::setToSmallestEnclosing(std::span<const BoundingSphere> spheres) {
    *this = BoundingSphere();
    if (spheres.empty()) return;
    std::vector<MinSphereTraits::Sphere> input;
    input.reserve(spheres.size());
    for (const BoundingSphere& s : spheres)
        input.emplace_back(Kernel::Point_3(s.x, s.y, s.z), double(s.r));

    MinSphere solver(input.begin(), input.end());
    assert(!solver.is_empty() && "!is_empty()");
    auto c = solver.center_cartesian_begin();
    setCentre(Vec3d(c[0], c[1], c[2]));
    r = float(solver.radius());
    // The floating-point solver can fail on inputs of wildly different scales
    // (a sphere of radius 1e9 among unit-sized ones). A file must not be able
    // to break the bound, so fall back to the box estimate, which always holds.
    for (const BoundingSphere& s : spheres)
        if (!contains(s)) {
            setToBoxCentre(spheres);
            break;
        }
}

bool BoundingSphere::contains(const BoundingSphere& s) const {
    double slack = 1e-5 * (1.0 + std::abs(double(r)) + length(Vec3d(centre())));
    return distance(*this, s) + s.r <= double(r) + slack;
}
