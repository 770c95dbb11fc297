#pragma once
// Quadric error of a vertex: the sum of squared distances to a set of planes,
// as the symmetric 4x4 matrix of the plane equations a x + b y + c z + d = 0.

#include "Vec3.h"

using QUADRIC_FT = double;

struct Quadric {
    // a², ab, ac, ad, b², bc, bd, c², cd, d²
    QUADRIC_FT q[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    static Quadric fromPlane(QUADRIC_FT a, QUADRIC_FT b, QUADRIC_FT c, QUADRIC_FT d) {
        return {{a * a, a * b, a * c, a * d, b * b, b * c, b * d, c * c, c * d, d * d}};
    }

    void add(const Quadric& o) {
        for (int k = 0; k < 10; ++k) q[k] += o.q[k];
    }

    QUADRIC_FT evaluate(const Vec3d& p) const {
        const double x = p.x, y = p.y, z = p.z;
        return q[0] * x * x + q[4] * y * y + q[7] * z * z +
               2 * (q[1] * x * y + q[2] * x * z + q[5] * y * z + q[3] * x + q[6] * y + q[8] * z) + q[9];
    }
};

struct QuadricPlacement {
    Vec3d point;
    QUADRIC_FT cost = 0;
};

// Where the two vertices at pi and pj should meet under the summed quadric q,
// and what that costs: the quadric's minimum when its system is regular
// (|det| >= 1e-12), else the best point on the segment from pj to pi, else pi.
// A negative cost (rounding) is raised to 0.
QuadricPlacement placeByQuadric(const Quadric& q, const Vec3d& pi, const Vec3d& pj);
