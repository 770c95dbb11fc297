#pragma once
// An oriented rectangle fitted to a point set: the shape of a surfel and of
// an impostor quad. The points are reduced to the vertices of their convex
// hull; the two principal axes of those (eigenvectors of the two largest
// eigenvalues of their mean-centred covariance) span the rectangle, whose
// normal is their cross product. The rectangle is the box of the points in
// that frame, placed in the middle of their extent along the normal.
//
// The hull is exact, so points that are coplanar only up to rounding span a
// thin solid whose vertices can include points along its outline's edges;
// the axes of such a patch may turn slightly from those of its outline.

#include "Vec3.h"

#include <span>

struct FittedRectangle {
    // In the order (min u, min v), (max u, min v), (max u, max v), (min u, max v).
    Vec3d corners[4];
    Vec3d u, v;          // unit in-plane axes, u the one of largest spread
    Vec3d normal;        // unit, normalize(u x v)
    double halfThickness = 0; // half the extent of the points along the normal

    Vec3d centre() const { return (corners[0] + corners[2]) * 0.5; }
    // The side vectors: corner 0 to 1 and corner 0 to 3.
    Vec3d sideU() const { return corners[1] - corners[0]; }
    Vec3d sideV() const { return corners[3] - corners[0]; }
    // The longer side's length.
    double diameter() const;
};

// Any number of points, including none (a zero rectangle at the origin),
// one, and collinear or coplanar sets (the hull is then a segment or a
// polygon). Non-finite points are the caller's fault (asserted).
FittedRectangle fitRectangle(std::span<const Vec3d> points);
