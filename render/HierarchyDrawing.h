#pragma once
// Drawing a hierarchy's cut in core: the accepted impostors as textured
// quads from their atlases (all loaded from the textures file at once), the
// patches of the selected nodes as triangles. The programs and state are
// the caller's (the view's frame sets them up, see drawHierarchyFrame).

#include "ImpostorSelection.h"
#include "VTexture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class VLODObject3D;

class HierarchyDrawing {
  public:
    // Every atlas of the object's textures file; false with the reason.
    bool loadTextures(const VLODObject3D& object, std::string& error);
    void release();

    // Returns how many impostors / triangles were drawn.
    uint64_t drawImpostors(const VLODObject3D& object, const std::vector<uint32_t>& impostors);
    uint64_t drawPatches(const VLODObject3D& object, const std::vector<uint32_t>& nodes);
    // The finest cut: every arc into the drain.
    uint64_t drawFinest(const VLODObject3D& object);

  private:
    std::vector<std::unique_ptr<VImposterTexture>> mTextures; // per atlas
};

struct FrameSettings {
    float errorPixels = 1; // allowed screen-space error
    int viewportHeight = 800;
    float fovDegrees = 20;
    bool full = false;      // the finest cut instead of the selection
    bool wireframe = false; // a line pass over the filled one
};

struct FrameCounts {
    uint64_t impostors = 0, triangles = 0;
    double selectMs = 0, drawMs = 0;
};

// One frame of a hierarchy as the view draws it: selection under the current
// model-view matrix, then the filled pass (billboards blended, patches
// Gouraud-lit) and the optional wireframe pass. Needs the view's shader set.
FrameCounts drawHierarchyFrame(const VLODObject3D& object, HierarchyDrawing& drawing, const FrameSettings& settings);
