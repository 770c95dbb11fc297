#pragma once
// A scene file drawn headless as the view draws it: the background node
// first (centred on the camera), then the node tree with frustum culling,
// then the terrain: the tool's `render --scene` and the scene tests.
//
// Needs a current context with the extension entry points loaded and the
// view's shaders set up.

#include "OffscreenFramebuffer.h"
#include "VSceneGraph.h"
#include "Vec3.h"

#include <QImage>

#include <memory>
#include <string>

struct SceneViewOptions {
    int width = 800, height = 800;
    float fovDegrees = 20;
    float errorPixels = 1;
    bool wireframe = false;
    bool cull = true;
};

struct SceneFrame {
    VDrawStatistics statistics;
    double traversalMs = 0; // walking and culling the tree with drawing suppressed
    double drawMs = 0;      // the whole frame, until the driver has finished
};

class SceneView {
  public:
    // Loads the scene and makes a framebuffer; false with the reason.
    bool open(const std::string& path, const SceneViewOptions& options, std::string& error);
    SceneFrame draw(const Vec3f& eye, const Vec3f& centre, const Vec3f& up);
    QImage picture() const { return mFramebuffer.picture(); }
    const VSceneGraph& graph() const { return *mGraph; }

  private:
    VTraversalContext context(const VCameraPose& camera, double zNear, double zFar) const;

    SceneViewOptions mOptions;
    std::unique_ptr<VSceneGraph> mGraph;
    OffscreenFramebuffer mFramebuffer;
    bool mInitialised = false;
};
