#include "Quadric.h"

#include <algorithm>
#include <cmath>

namespace {
// How far from the middle of the pair, in pair lengths, an optimum may lie.
constexpr double kPlacementReach = 2.0;
} // namespace

QuadricPlacement placeByQuadric(const Quadric& q, const Vec3d& pi, const Vec3d& pj) {
    const double* m = q.q;
    // The 4x4 system with last row (0, 0, 0, 1) has the determinant of its
    // upper 3x3 block; its solution's point solves A p = -b.
    const double a00 = m[0], a01 = m[1], a02 = m[2], a11 = m[4], a12 = m[5], a22 = m[7];
    const Vec3d b(m[3], m[6], m[8]);
    const double c00 = a11 * a22 - a12 * a12, c01 = a02 * a12 - a01 * a22, c02 = a01 * a12 - a02 * a11;
    const double det = a00 * c00 + a01 * c01 + a02 * c02;
    QuadricPlacement result;
    bool solved = false;
    if (std::abs(det) >= 1e-12) {
        const double c11 = a00 * a22 - a02 * a02, c12 = a01 * a02 - a00 * a12, c22 = a00 * a11 - a01 * a01;
        // Inverse of the symmetric block by cofactors, applied to -b.
        result.point = Vec3d(-(c00 * b.x + c01 * b.y + c02 * b.z), -(c01 * b.x + c11 * b.y + c12 * b.z),
                             -(c02 * b.x + c12 * b.y + c22 * b.z)) /
                       det;
        // A nearly flat neighbourhood passes the determinant test yet puts
        // the optimum far off, where its error is tiny but the new vertex
        // makes a spike: such a point is not taken.
        const Vec3d middle = (pi + pj) * 0.5;
        const double reach = kPlacementReach * length(pi - pj);
        const Vec3d off = result.point - middle;
        solved = std::isfinite(result.point.x + result.point.y + result.point.z) && dot(off, off) <= reach * reach;
    }
    if (!solved) {
        // Along p(s) = pj + s (pi - pj) the error is a quadratic in s.
        const Vec3d d = pi - pj;
        auto applyA = [&](const Vec3d& v) {
            return Vec3d(a00 * v.x + a01 * v.y + a02 * v.z, a01 * v.x + a11 * v.y + a12 * v.z,
                         a02 * v.x + a12 * v.y + a22 * v.z);
        };
        const double quadratic = dot(d, applyA(d));
        if (quadratic != 0) {
            const double s = std::clamp(-dot(applyA(pj) + b, d) / quadratic, 0.0, 1.0);
            result.point = pj + d * s;
        } else {
            result.point = pi;
        }
    }
    result.cost = std::max<QUADRIC_FT>(0, q.evaluate(result.point));
    return result;
}
