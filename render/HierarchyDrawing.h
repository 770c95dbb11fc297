#pragma once
// Drawing a hierarchy's cut: the accepted impostors as textured quads, the
// patches of the selected nodes as triangles. The programs and state are
// the caller's (the view's frame sets them up, see drawHierarchyFrame).
// Patches come from buffer objects prepared once, from nodes loaded on
// demand out of core, or vertex by vertex from the object.
//
// Impostor textures come from the object's depot: in core every atlas is read
// and uploaded when the textures are loaded, so that frames never wait for
// the file (an atlas that could not be read then is read when a cut first
// shows it); out of core the depot's loader thread is told after every
// selection what the cut needs and what to fetch ahead, and textures the cut
// no longer needs are dropped. With a process-wide texture cache out of
// core, the cache holds them instead.

#include "CutRefinement.h"
#include "ImpostorSelection.h"
#include "VLODObject3DOOCFileManager.h"
#include "VLODObject3DOOCViewer.h"
#include "VTextureDepot.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class VLODObject3D;

// Where a frame's triangle patches come from: the prepared buffer objects,
// vertex by vertex from the object, or from the nodes the out-of-core file
// manager has loaded.
enum class GeometrySource { Buffers, Immediate, OutOfCore };

class HierarchyDrawing {
  public:
    HierarchyDrawing() = default;
    HierarchyDrawing(const HierarchyDrawing&) = delete;
    HierarchyDrawing& operator=(const HierarchyDrawing&) = delete;
    ~HierarchyDrawing() { release(); }

    // Opens the object's textures file for its depot (and registers the
    // object with the texture cache when there is one); in core, reads and
    // uploads every atlas at once. False with the reason.
    bool loadTextures(const VLODObject3D& object, std::string& error);
    // Prepares what the source needs: the buffer objects, or the file
    // manager's temporary file. False with the reason; frames are then
    // drawn in immediate mode.
    bool prepareGeometry(const VLODObject3D& object, GeometrySource source, std::string& error);
    const VLODObject3DOOCViewer* buffers() const { return mBuffers.get(); }
    const VLODObject3DOOCFileManager* fileManager() const { return mFileManager.get(); }
    // After a frame drawn out of core: loads what the prefetch strategy
    // chooses around the cut's nodes, drops the nodes unused for a while and
    // starts the next frame.
    void advanceOutOfCoreFrame(const std::vector<uint32_t>& cutNodes, const SelectionView* predicted);
    // Stops the depot, unregisters the object from the texture cache and
    // drops the buffers.
    void release();
    // Out of core: hands the cut's texture sets to the cache or the depot.
    void requestTextures(const VLODObject3D& object, const ImpostorSelection& cut);
    // The object's request flag: the cache is also asked for the textures
    // the cut needs, and the frame selects without drawing (whoever set the
    // flag draws the cut itself).
    void setRequestFlag(bool on) { mRequestFlag = on; }
    bool requestFlag() const { return mRequestFlag; }
    const VTextureDepot& depot() const { return mDepot; }
    // The status line after a selection without a texture cache: atlases,
    // impostors, their size loaded in megabytes and how much of it the depot holds.
    void logTextureStatus(const VLODObject3D& object) const;

    // Returns how many impostors / triangles were drawn, from the source
    // when it was prepared, else in immediate mode (billboards come from
    // buffers or are drawn immediately). Patches from buffers take their
    // colour from the colour buffer with patchColours, from glColor otherwise.
    uint64_t drawImpostors(const VLODObject3D& object, const std::vector<uint32_t>& impostors, GeometrySource source);
    uint64_t drawPatches(const VLODObject3D& object, const std::vector<uint32_t>& arcs, GeometrySource source,
                         bool patchColours);
    CutRefinement& refinement() { return mRefinement; }
    // The cut of the last selection, drawn again while the selection is kept.
    ImpostorSelection& lastCut() { return mLastCut; }

  private:
    bool bindTexture(const VLODObject3D& object, uint32_t atlas);
    // Whether the object's textures come through the texture cache: the
    // cache may be made, or made anew, after the object was loaded.
    bool registeredWithCache(const VLODObject3D& object);
    void loadAllTextures();

    uint64_t drawLoadedPatches(const std::vector<uint32_t>& arcs);

    std::unique_ptr<VLODObject3DOOCViewer> mBuffers;
    std::unique_ptr<VLODObject3DOOCFileManager> mFileManager;
    VTextureDepot mDepot;
    CutRefinement mRefinement; // per-object state kept between frames
    ImpostorSelection mLastCut;
    uint32_t mAtlasCount = 0; // 0: no textures file, impostors are not drawn
    const VLODObject3D* mRegistered = nullptr; // with the texture cache
    uint64_t mRegisteredSerial = 0;            // of that cache
    bool mRequestFlag = false;
};

// Reads a hierarchy for drawing: the file, its impostors and side files
// (made when missing), and the textures for drawing. False with the reason;
// the object may then hold a partial read and should be cleared.
bool readHierarchyForDrawing(const std::string& path, VLODObject3D& object, HierarchyDrawing& drawing,
                             std::string& error);

// One impostor in immediate mode: a quad of its corners with its normal and
// texel coordinates (the caller binds the atlas).
void drawImpostorQuad(const MTImpostor& impostor);

// The finest cut: every arc into the drain.
std::vector<uint32_t> finestArcs(const VLODObject3D& object);

struct FrameSettings {
    float errorPixels = 1; // allowed screen-space error
    float texelWeight = -1; // the impostors' resolution test; below 0: errorPixels
    int viewportHeight = 800;
    // Waits for the drawing to finish so that drawMs covers it; a window
    // leaves that to its buffer swap and goes on with its own work meanwhile.
    bool waitForDrawing = true;
    float fovDegrees = 20;
    double projectionConstant = 0; // pixels per unit at distance 1; 0: from viewportHeight and fovDegrees
    bool full = false;      // the finest cut instead of the selection
    bool wireframe = false; // a line pass over the filled one
    bool wireframeOnly = false;
    float wireframeColour[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    GeometrySource geometry = GeometrySource::Buffers;
    const float* predictedModelView = nullptr; // the camera expected next (out of core, prefetch strategy 2)
    bool keepSelection = false;   // draw the last cut again instead of selecting (freeze)
    bool backfaceCulling = false; // patches facing away are not drawn
    int colorMode = 0;            // 0: each patch its own colour; otherwise one colour for all
};

struct FrameCounts {
    uint64_t impostors = 0, triangles = 0;
    double selectMs = 0, drawMs = 0;
};

// One frame of a hierarchy as the view draws it: selection under the current
// model-view matrix, then the filled pass (billboards blended, patches
// Gouraud-lit) and the optional wireframe pass. Needs the view's shader set.
FrameCounts drawHierarchyFrame(const VLODObject3D& object, HierarchyDrawing& drawing, const FrameSettings& settings);
