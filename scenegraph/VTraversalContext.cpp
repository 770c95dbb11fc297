#include "VTraversalContext.h"

#include <cmath>

void VFrustum::set(const VCameraPose& camera, double zNear, double zFar, double openingAngleDegrees, double aspect) {
    const Vec3d d = camera.direction, up = camera.up, right = cross(d, up);
    const double halfV = openingAngleDegrees * M_PI / 360, tanV = std::tan(halfV), tanH = tanV * aspect;
    const Vec3d& eye = camera.position;
    auto plane = [&](const Vec3d& normal, const Vec3d& through) {
        const Vec3d n = normal / length(normal);
        return Plane{n, -dot(n, through)};
    };
    mPlanes[0] = plane(d, eye + d * zNear);
    mPlanes[1] = plane(d * -1.0, eye + d * zFar);
    // Side planes through the eye: each normal leans from the side towards the axis.
    mPlanes[2] = plane(right + d * tanH, eye);      // left
    mPlanes[3] = plane(right * -1.0 + d * tanH, eye); // right
    mPlanes[4] = plane(up + d * tanV, eye);         // bottom
    mPlanes[5] = plane(up * -1.0 + d * tanV, eye);  // top
    mSet = true;
}

bool VFrustum::outside(const BoundingSphere& sphere) const {
    if (!mSet) return false;
    const Vec3d c(sphere.x, sphere.y, sphere.z);
    for (const Plane& p : mPlanes)
        if (dot(p.normal, c) + p.offset < -double(sphere.r)) return true;
    return false;
}
