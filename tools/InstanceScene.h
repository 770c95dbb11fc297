#pragma once
// Many copies of one hierarchy drawn headless through the instance manager:
// a grid in front of the camera, its rows receding on the ground from a
// near to a far distance, every copy in a colour of its own. The tool's
// `render --instances` and `bench --instances`.
//
// Needs a current context with the extension entry points loaded.

#include "OffscreenFramebuffer.h"
#include "VLODObject3DInstanceManager.h"

#include <QImage>

#include <memory>
#include <string>
#include <vector>

struct InstanceSceneOptions {
    int count = 1;
    int width = 800, height = 800;
    float fovDegrees = 20;
    float errorPixels = 1;
    bool wireframe = false;
    double nearest = 2, farthest = 30; // distances of the first and the last row
};

struct InstanceFrame {
    InstanceDrawCounts counts;
    double milliseconds = 0; // drawing, until the driver has finished
};

class InstanceScene {
  public:
    InstanceScene() = default;
    InstanceScene(const InstanceScene&) = delete;
    InstanceScene& operator=(const InstanceScene&) = delete;
    ~InstanceScene();

    // Loads the hierarchy into a manager, places the copies and makes a
    // framebuffer; false with the reason.
    bool open(const std::string& path, const InstanceSceneOptions& options, std::string& error);
    // Only the copy in the middle of the first row, or every copy.
    void showNearestOnly(bool only);
    InstanceFrame draw();
    // The framebuffer as an image, top row first.
    QImage picture() const;

  private:
    void place();
    void release();

    InstanceSceneOptions mOptions;
    std::unique_ptr<VLODObject3DInstanceManager> mManager;
    std::vector<VLODObject3DInstance*> mInstances; // row by row
    size_t mNearest = 0;
    float mCamera[16] = {};
    OffscreenFramebuffer mFramebuffer;
};
