#pragma once
// A hierarchy prepared for drawing from buffer objects: every triangle
// corner un-indexed in one vertex buffer (so any patch is one buffer range),
// the impostors as billboards sorted so that, for any error bound, those
// whose parent is too deep form a suffix, and per billboard the data a
// vertex program needs to decide on the GPU whether the billboard belongs
// to the cut. Beside the buffers it keeps a copy of the graph and the
// impostor tree (no vertices, no triangles), so that the cut can be
// selected after the hierarchy object itself is gone.
//
// Needs a current context with the extension entry points loaded.

#include "CutRefinement.h"
#include "ImpostorSelection.h"
#include "VLODObject3D.h"

#include <GL/gl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct VTextureAtlas;

// One impostor as a billboard: its quad, its parent's half depth (the
// largest float for the root) and its children renumbered into sorted order
// (node references stay billboardCount + node).
struct Billboard {
    MTImpostor impostor;
    float parentDepth = 0;
    uint32_t original = 0; // index in the object's impostor tree
};

class VLODObject3DOOCViewer {
  public:
    // The buffers, in upload order.
    enum Buffer {
        kPositions, kNormals, kColours,                         // triangle corners, 4 floats each
        kBillboardPositions, kBillboardNormals, kBillboardTexCoords, // per billboard corner
        kLodInfo1, kLodInfo2, kLodInfo3,
        kBufferCount
    };
    static constexpr size_t kVertexBytes = 48;    // position, normal, colour
    static constexpr size_t kBillboardBytes = 64; // four corners of 4 floats, per buffer

    VLODObject3DOOCViewer() = default;
    VLODObject3DOOCViewer(const VLODObject3DOOCViewer&) = delete;
    VLODObject3DOOCViewer& operator=(const VLODObject3DOOCViewer&) = delete;
    ~VLODObject3DOOCViewer() { release(); }

    // The set-up sequence from the object, with the billboards taken from
    // tree (the object's own, or one placed in a shared atlas), then
    // initBuffers. False with the reason when the arrays cannot be
    // allocated or the buffers cannot be made; the arrays are kept then.
    bool setUp(const VLODObject3D& object, const ImpostorTree& tree, std::string& error);
    // Uploads the arrays; false without buffer object support or when the
    // driver refuses the sizes. The client copy of the vertices is dropped
    // once it is on the card.
    bool initBuffers(std::string* error = nullptr);
    void release();

    // --- Selection (from the traversal copies) ------------------------------
    // The impostor walk and the refinement below it, as for the object.
    void selectCut(const SelectionView& view, ImpostorSelection& cut);

    // --- Drawing (programs, textures and colour are the caller's) ----------
    // Triangle buffers as positions, normals and (with colours) colours.
    void bindTriangleBuffers(bool colours) const;
    void unbindTriangleBuffers() const;
    // The arcs' patches: arcs sorted, neighbouring ranges merged, one call.
    // Returns the triangles drawn.
    uint64_t drawArcs(const std::vector<uint32_t>& arcs) const;
    // Billboard corners: positions, normals, texture coordinates (s, t) and,
    // with lodInfo, texture unit 0 as (s, t, rho) and units 1 to 3 as the
    // selection data of the GPU cut.
    void bindBillboardBuffers(bool lodInfo) const;
    void unbindBillboardBuffers(bool lodInfo) const;
    // The given impostors (indices of the object's tree), grouped by atlas:
    // bindAtlas is asked once per atlas and its impostors are drawn in one
    // call when it says the atlas is bound. Returns how many were drawn.
    uint64_t drawBillboards(const std::vector<uint32_t>& impostors,
                            const std::function<bool(uint32_t atlas)>& bindAtlas) const;
    // Every billboard, for the GPU cut.
    void drawAllBillboards() const;

    // --- Contents -----------------------------------------------------------
    const VLODObject3D& traversal() const { return mTraversal; }
    uint64_t vertexCount() const { return mVertexCount; }
    uint32_t billboardCount() const { return uint32_t(mBillboards.size()); }
    const std::vector<Billboard>& billboards() const { return mBillboards; }
    // Sorted position of every impostor of the object's tree.
    const std::vector<uint32_t>& sortedPosition() const { return mSortedPosition; }
    const std::vector<uint16_t>& arcMarks() const { return mArcMarks; }
    // The client arrays (V x 12 floats: all positions, all normals, all
    // colours; per billboard buffer B x 16 floats). The vertices are empty
    // once uploaded.
    const std::vector<float>& vertices() const { return mVertices; }
    const std::vector<float>& billboardArray(Buffer b) const { return mBillboardArrays[b - kBillboardPositions]; }
    bool hasBuffers() const { return mHasBuffers; }
    GLuint buffer(Buffer b) const { return mBuffers[b]; }
    int drawingMode() const { return mDrawingMode; }
    // Bytes held on the card and in memory.
    uint64_t bufferBytes() const;
    uint64_t memoryBytes() const;

    // The shared atlas the instance manager placed the billboards in.
    VTextureAtlas* atlas = nullptr;
    // The colour every patch corner carries (the view's patch colour).
    static constexpr float kPatchColour[4] = {0.2f, 0.9f, 0.9f, 1.0f};

  private:
    void copyTraversal(const VLODObject3D& object, const ImpostorTree& tree);
    void fillVertices(const VLODObject3D& object);
    void sortBillboards(const ImpostorTree& tree);
    void fillBillboardArrays();
    void logBoundStatistics() const;

    VLODObject3D mTraversal; // graph and impostor tree only
    CutRefinement mRefinement;
    std::vector<uint16_t> mArcMarks;
    uint64_t mVertexCount = 0;
    std::vector<float> mVertices;
    std::vector<Billboard> mBillboards;
    std::vector<uint32_t> mSortedPosition;
    std::vector<float> mBillboardArrays[6];
    GLuint mBuffers[kBufferCount] = {};
    bool mHasBuffers = false;
    int mDrawingMode = 0;
};
