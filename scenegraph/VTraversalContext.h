#pragma once
// The drawing state handed down the scene tree each frame: the camera, the
// view frustum, the error bounds and the switches that decide what is
// drawn. The view fills it from its camera; headless callers fill it the
// same way.

#include "BoundingSphere.h"
#include "Vec3.h"

#include <cstdint>

struct VCameraPose {
    Vec3d position{0, 0, 0};
    Vec3d direction{0, 0, -1}; // unit
    Vec3d up{0, 1, 0};         // unit, perpendicular to direction
};

// Six planes of a perspective view, normals pointing inwards.
class VFrustum {
  public:
    void set(const VCameraPose& camera, double zNear, double zFar, double openingAngleDegrees, double aspect);
    // Whether the sphere (in world coordinates) lies wholly outside.
    bool outside(const BoundingSphere& sphere) const;

  private:
    struct Plane {
        Vec3d normal;
        double offset = 0; // inside where dot(normal, p) + offset >= 0
    };
    Plane mPlanes[6];
    bool mSet = false; // an unset frustum culls nothing
};

// Counters of what a frame drew; geometries add to them, nodes count
// themselves as drawn or culled.
struct VDrawStatistics {
    uint64_t points = 0, lines = 0, triangles = 0, billboards = 0;
    uint64_t nodesDrawn = 0, nodesCulled = 0;
};

struct VTraversalContext {
    const VCameraPose* camera = nullptr;
    VFrustum frustum;
    double projectionConstant = 1; // viewport height / (2 tan(opening / 2))
    float simplificationError = 1, silhouetteError = 1;

    bool drawChildren = true;
    bool cullFrustum = true;
    bool worldSpaceSpheres = true;   // geometry spheres moved into world space while they draw
    bool drawBoundingSpheres = false;
    bool skipGeometry = false;       // selection and prefetching only (the predicted view)
    bool wireframe = false, wireframeOnly = false;
    float wireframeColor[4] = {0.1f, 0.1f, 0.1f, 1.0f};
};
