#pragma once
// Bounding sphere of a part of the model: centre and radius in object
// coordinates. A radius of 0 marks an empty (or point) sphere.

#include "Vec3.h"

#include <span>

struct BoundingSphere {
    float x = 0, y = 0, z = 0;
    float r = 0;

    Vec3f centre() const { return {x, y, z}; }
    void setCentre(const Vec3d& c) { x = float(c.x); y = float(c.y); z = float(c.z); }

    // Keeps the centre and grows the radius until bs fits. bs.r must be finite.
    void extend(const BoundingSphere& bs);

    // Smallest sphere through or around the triangle (a, b, c): the midpoint of
    // the edge opposite a non-acute angle, otherwise the circumsphere. A
    // degenerate triangle whose circumsphere is undefined sets r = 0 and leaves
    // the centre as it was.
    void setToTriangle(const Vec3d& a, const Vec3d& b, const Vec3d& c);

    // Centre of the axis-aligned box of the spheres' centres; radius large
    // enough to hold every sphere (points are spheres of radius 0). Empty input
    // gives all four fields 0.
    void setToBoxCentre(std::span<const BoundingSphere> spheres);

    // Smallest sphere enclosing all the given spheres (and points, as spheres of
    // radius 0). Empty input gives all four fields 0. Should the solver's
    // rounding leave an input outside, the box-centre sphere is taken instead.
    void setToSmallestEnclosing(std::span<const BoundingSphere> spheres);

    // True when s lies inside this sphere, up to a small relative tolerance for
    // the rounding of the solver and of the float32 fields.
    bool contains(const BoundingSphere& s) const;
};
