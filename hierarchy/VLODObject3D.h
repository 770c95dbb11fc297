#pragma once
// One level-of-detail hierarchy in memory: a multi-triangulation (a DAG of
// nodes whose arcs carry triangle patches; node 0 is the drain, the full
// resolution) plus a tree of surfels for distant views. Construction fills
// the arrays and writes them; the viewer reads them and derives the rest
// (incoming arcs, normals, cones, spheres, layers, time domain).

#include "BoundingSphere.h"
#include "HugePages.h"
#include "ImpostorTree.h"
#include "MTRecords.h"

#include <cstdint>
#include <functional>
#include <string>
#include <span>
#include <vector>

class VLODObject3D {
  public:
    VLODObject3D() = default;
    VLODObject3D(const VLODObject3D&) = delete;
    VLODObject3D& operator=(const VLODObject3D&) = delete;

    uint32_t vnum() const { return uint32_t(varray.size()); }
    uint32_t tnum() const { return uint32_t(tarray.size()); }
    uint32_t anum() const { return uint32_t(aarray.size()); }
    uint32_t nnum() const { return uint32_t(narray.size()); }
    uint32_t pnum() const { return uint32_t(parray.size()); }

    // Frees every array and resets the counts.
    void clear();

    // --- Files (.mvh) -------------------------------------------------------

    // Writes the object; false with a message on the error log when the file
    // cannot be opened or written.
    bool write(const std::string& fileName) const;

    // Reads a hierarchy file and runs the set-up sequence. createStrips asks
    // for the strip step; the last flag is accepted and ignored. Returns false
    // when the file cannot be opened (object unchanged) or is not a valid
    // hierarchy (object left empty); lastError() then says why.
    bool read(const std::string& fileName, bool createStrips = false, bool unused = false);

    // The same from bytes in memory; name is kept as the object's file name.
    bool readFromMemory(const uint8_t* data, size_t size, const std::string& name, bool createStrips = false);

    const std::string& lastError() const { return mLastError; }
    const std::string& fileName() const { return mFileName; }

    // Called at the start of every read to make sure the shared polygon
    // shaders exist. The rendering layer installs it; it must do nothing when
    // no OpenGL context is current. Reading without one installed skips it.
    static void setPolygonShaderSetup(std::function<void()> setup);

    // The viewer's part of reading, run after the set-up sequence: the
    // impostor tree, its clustering and the side files. It needs an OpenGL
    // context, so the rendering layer installs it; without it reading skips
    // that part and says so. A false return fails the read with its error.
    using ViewerSetup = std::function<bool(VLODObject3D& object, std::string& error)>;
    static void setViewerSetup(ViewerSetup setup);

    // --- Graph --------------------------------------------------------------

    // in_arcs[n]: arcs whose dest is n, ascending.
    void buildInArcs();

    // Layer of every node (longest path from a node without incoming arcs).
    // Prints "Hierarchy contains at least one loop!" and returns false on a
    // cycle.
    bool computeLayers(std::vector<uint32_t>& layers) const;

    // Raises every node's error, key frame by key frame, to at least the error
    // of every node reachable from it.
    void propagateNodeErrors();

    // Index of the drain (first node without outgoing arcs), UINT32_MAX when
    // there is none.
    uint32_t findDrain() const;

    // --- Geometry and time --------------------------------------------------

    // Scans the vertex paths for the animated time range and key frame count.
    void updateTimeDomain();
    float keyFrameTime(uint32_t k) const;
    Vec3d triangleNormal(uint32_t t, float time) const;
    // Every vertex's position and every triangle's unit normal at one time,
    // in index order: the set-up steps walk arrays instead of calling each
    // vertex's path three times per triangle.
    std::vector<Vec3f> vertexPositions(float time) const;
    std::vector<Vec3d> triangleNormals(std::span<const Vec3f> positions) const;
    void assignPolygonNormals();
    void assignVertexNormals();
    // Height of the terrain under (x, y): z of the nearest full-resolution
    // vertex in the x-y plane.
    float groundHeight(float x, float y) const;
    // The same for a terrain whose up axis is upAxis (0 x, 1 y, 2 z): first
    // and second are the other two coordinates in order (y up: x, then z).
    float heightAbove(int upAxis, float first, float second) const;

    // --- Set-up steps after reading -----------------------------------------

    void computeArcCones();
    // Drain, node spheres and cones. False when the graph has a cycle.
    bool computeNodeInformation();
    void initObjectBoundingSphere();
    void printLayerStatistics() const;

    // --- Records ------------------------------------------------------------

    // Hundreds of megabytes each on large models, walked in cut order.
    HugePageVector<MTVertex> varray;
    HugePageVector<MTTriangle> tarray;
    HugePageVector<MTNode> narray;
    HugePageVector<MTArc> aarray;
    HugePageVector<MTSurfel> parray;
    std::vector<std::vector<uint32_t>> in_arcs;

    uint32_t m_source_nnum = 0;  // source nodes inserted by construction
    uint32_t mReservedCount = 0; // carried through files unchanged

    BoundingSphere mBoundingSphere;
    std::vector<BoundingSphere> mKeyFrameSpheres;
    float mTimeBegin = 0;
    float mTimeEnd = 0;
    uint16_t mKeyFrames = 1;
    uint32_t mDrainNode = 0;
    std::vector<uint32_t> mNodeLayers; // set by computeNodeInformation

    // Set by the viewer's part of reading.
    ImpostorTree mImpostorTree;
    std::string mTexturesFileName;      // the textures file kept for loading atlases
    uint32_t mUncompressedTextureBytes = 0;

  private:
    bool parse(const uint8_t* data, size_t size);
    bool checkStructure();
    bool runSetupSequence(bool createStrips);
    bool fail(const std::string& message);
    // Per-thread buffers of the node step.
    struct NodeScratch {
        std::vector<BoundingSphere> bounds;
        std::vector<Vec3f> normals;
        std::vector<NormalCone> childCones;
        std::vector<uint32_t> corners;
    };
    void boundNode(uint32_t node, std::span<const Vec3f> positions, std::span<const Vec3d> triangleNormal,
                   std::vector<NormalCone>& cones, NodeScratch& scratch);

    std::string mFileName;
    std::string mLastError;
};
