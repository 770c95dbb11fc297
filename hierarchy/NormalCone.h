#pragma once
// Cone of normal directions: a unit axis and a half opening angle in radians
// (0 to pi; pi holds every direction). Lets the selection reject back-facing
// parts of the model without looking at their triangles.

#include "Vec3.h"

#include <span>

struct NormalCone {
    Vec3d axis;       // (0, 0, 0) until set
    double angle = 0; // radians

    NormalCone() = default;
    NormalCone(const Vec3d& a, double ang) : axis(a), angle(ang) {}

    // The cone an accumulation starts from: axis (0, 0, 1), angle 0.
    static NormalCone accumulationStart() { return {{0, 0, 1}, 0}; }

    // Cone around a set of distinct normals, sorted ascending by x, then y, then
    // z. Sets of 3 to 50 normals search every triple for the tightest axis;
    // other sizes take the centre of the normals' bounding box.
    void setFromNormals(std::span<const Vec3f> normals);

    // Grows this cone until it also holds nc.
    void merge(const NormalCone& nc);

    // Grows this cone until it holds all of cones, through the smallest sphere
    // around the cones' caps on the unit sphere.
    void extend(std::span<const NormalCone> cones);

    // True when every direction of other lies within this cone (0.0001 radians
    // of tolerance); reports the shortfall on the log when it does not.
    bool contains(const NormalCone& other) const;
};
