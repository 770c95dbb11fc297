#pragma once
// Builds a multi-triangulation from a repaired mesh: greedy vertex-pair
// collapses ordered by a quadric error, each recorded as a node of a DAG whose
// arcs carry the triangles that exist between two steps. Node 0 is the source
// (the coarsest state) and node 1 the drain (the full mesh, layer 0); while the
// graph grows, every live triangle lies on an arc that leaves node 0.
//
// Collapses happen only along edges. Interior edges are checked for fold-overs
// and the link condition; border edges (one triangle) are collapsed only when
// no remaining neighbour folds over and the two ends share no vertex but the
// shared triangle's third corner, so the mesh boundary stays a boundary.

#include "HugePages.h"
#include "Quadric.h"
#include "RectangleFit.h"
#include "VLODObject3D.h"
#include "VObject3D.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Most vertices stand still: their point is kept in place, as a path object
// of its own for each would double the vertices' memory.
struct CreatorVertex {
    Vec3f point;                   // where a vertex without a path stands
    uint32_t layer = 0;            // layer stamp: the highest node layer its triangles reach
    std::unique_ptr<VVertex> path; // an animated vertex's path; null for a static point

    Vec3f evaluate(float time) const { return path ? path->evaluate(time) : point; }
    bool isStatic() const { return !path || path->isStatic(); }
    // The vertex as a path of the hierarchy, taking its own path over.
    std::unique_ptr<VVertex> takePath() {
        return path ? std::move(path) : std::make_unique<VStaticVertex>(point);
    }
};

constexpr uint32_t kNoTriangle = UINT32_MAX;

// A patch is a list linked through its triangles, in the order they joined
// it: millions of arcs with a small array each would cost more than the
// triangles themselves, and moving a patch onto another is a splice.
struct CreatorTriangle {
    uint32_t v[3] = {0, 0, 0};
    uint32_t arc = 0;               // the arc that carries it
    uint32_t prev = kNoTriangle;    // its neighbours in that arc's patch
    uint32_t next = kNoTriangle;
};

struct CreatorPatch {
    uint32_t first = kNoTriangle;
    uint32_t last = kNoTriangle;
    uint32_t count = 0;
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
};

struct CreatorArc {
    uint32_t source = 0;
    uint32_t dest = 0;
    CreatorPatch patch;       // empty once the arc is gone
    uint32_t outPosition = 0; // its place in source's out list and in dest's
    uint32_t inPosition = 0;  // in list; kept only while the builder runs
};

// The triangle indices of a patch, walked through their links.
class PatchTriangles {
  public:
    class Iterator {
      public:
        Iterator(const CreatorTriangle* triangles, uint32_t t) : mTriangles(triangles), mT(t) {}
        uint32_t operator*() const { return mT; }
        Iterator& operator++() {
            mT = mTriangles[mT].next;
            return *this;
        }
        bool operator==(const Iterator& other) const { return mT == other.mT; }

      private:
        const CreatorTriangle* mTriangles;
        uint32_t mT;
    };
    PatchTriangles(const CreatorTriangle* triangles, uint32_t first) : mTriangles(triangles), mFirst(first) {}
    Iterator begin() const { return {mTriangles, mFirst}; }
    Iterator end() const { return {mTriangles, kNoTriangle}; }

  private:
    const CreatorTriangle* mTriangles;
    uint32_t mFirst;
};

// A node of the surfel tree above the source nodes.
struct CreatorSurfel {
    Vec3d centre;                      // midpoint of corners 0 and 2 of the shape
    uint16_t normal = 0;               // quantized, facing the way its triangles face
    uint32_t pindex = UINT32_MAX;      // parent in plist; UINT32_MAX while it has none
    uint32_t level = 0;                // 0 for a base surfel
    FittedRectangle shape;
    double error = 0;                  // of the merge that made it
    std::vector<uint32_t> children;    // in plist
    std::vector<uint32_t> mt_children; // source nodes it stands for directly
};

class CoverageMeasure;

struct CreatorNode {
    std::vector<uint32_t> out; // outgoing arcs
    std::vector<uint32_t> in;  // incoming arcs
    uint32_t layer = 0;
};

class VLODObject3DCreator {
  public:
    // Collapses cheaper than this are made in base mode: they simplify the
    // drain's patch without making nodes. -FLT_MAX turns base mode off.
    float mMinError = 0.0f;
    // No collapse costs more than this.
    float mMaxError = 3.4028235e38f;
    uint32_t mMinPatchSize = 10; // what the pipeline hands to mergeNodes
    // Checked between collapses and between merges; set from another thread
    // (or from mProgress) to stop early. What was built so far stays sound.
    std::atomic<bool> mCancel{false};

    // The steps as a progress display names them.
    static constexpr const char* kStepMultiTriangulation = "Create multi triangulation hierarchy";
    static constexpr const char* kStepMergeNodes = "Increase Patch Size by Merging Nodes";
    static constexpr const char* kStepSourceNodes = "Insert source nodes";
    static constexpr const char* kStepSurfels = "Create surfel hierarchy";
    static constexpr const char* kStepFinalObject = "Create final object";
    // Told the running step and how much of it is done (0 to 1): when it
    // starts, about every percent, and when it ends. Runs on the building
    // thread, so it should be quick.
    std::function<void(const char* step, float fraction)> mProgress;
    void reportProgress(const char* step, float fraction) const {
        if (mProgress) mProgress(step, fraction);
    }

    // Builds the working graph from mesh. domain receives the mesh's
    // animation domain. The mesh must be repaired (at most two triangles per
    // edge, no degenerate triangles).
    void createMultiTriangulation(const VObject3D& mesh, AnimationDomain& domain);
    // The same, taking the mesh's vertex paths over and clearing it as soon
    // as the working graph holds it, so the two never both live whole.
    void createMultiTriangulation(VObject3D&& mesh, AnimationDomain& domain);

    // Merges nodes until the arcs carry minPatchSize triangles on average (or
    // no merge is left), choosing merges that unite patches into few strips.
    // Nodes 0 and 1 are never merged, and no merge closes a cycle.
    void mergeNodes(uint32_t minPatchSize);
    // Keeps only the arcs that carry triangles, and only the triangles some
    // arc carries, in arc order.
    void compactArcs();
    void compactTriangles();

    // Gives every arc of node 0 a source node of its own; an arc from node 0
    // straight into the drain is cut into strips, each one a source node.
    void insertSourceNodes();

    // The whole pipeline on an imported, normalised mesh: builder, merging
    // (with the graph statistics before and after), source nodes, surfels
    // and the final object. Clears mCancel first; stops after the step in
    // which it is set. The mesh is consumed, and the working graph is
    // released once the object holds it: memory is what limits the size of
    // mesh that can be built.
    void createHierarchy(VObject3D&& mesh, VLODObject3D& object, CoverageMeasure& measure);

    // Drops the working graph and the surfel list, memory included.
    void releaseGraph();

    // Builds the surfel tree over the source nodes into plist: one surfel per
    // source node, merged pairwise by least error until one root is left,
    // then thinned. The merge error needs a depth image: measure draws it.
    void createSurfelHierarchy(CoverageMeasure& measure);

    // Fills object from the graph (the drain becomes node 0), releasing the
    // graph, and derives its normals, node spheres and cones, and monotone
    // node errors.
    void createFinalObject(VLODObject3D& object);

    void printGraphStatistics() const;

    // Cost of merging vertices i and j (averaged over the time samples of an
    // animated pair), with the placement at every sample.
    QUADRIC_FT collapseCost(uint32_t i, uint32_t j, std::vector<Vec3d>* placements = nullptr) const;

    HugePageVector<CreatorVertex> vertices;
    // Only while the graph is built: vertex v's quadric at sample k is
    // quadrics[quadricSlot[v] * samples + k]; a collapse's new vertex reuses
    // a slot of the pair it replaces.
    HugePageVector<Quadric> quadrics;
    HugePageVector<uint32_t> quadricSlot;
    std::vector<float> sampleTimes; // the time of each sample
    HugePageVector<CreatorTriangle> triangles;
    HugePageVector<CreatorArc> arcs;
    PatchTriangles patchOf(uint32_t arc) const { return {triangles.data(), arcs[arc].patch.first}; }
    std::vector<uint32_t> patchIndices(uint32_t arc) const;
    // Appends t to the arc's patch; t must be on no patch.
    void appendToPatch(uint32_t arc, uint32_t t);
    // Takes t off its arc's patch.
    void removeFromPatch(uint32_t t);
    // Appends the whole patch of from to that of to; from is left empty.
    void movePatch(uint32_t from, uint32_t to);
    // Empties the arc's patch; its triangles are left on no arc.
    void dropPatch(uint32_t arc);
    HugePageVector<CreatorNode> nodes;
    // Node n's error at sample k is nodeErrors[n * samples + k]: one flat
    // array rather than a small one in each of hundreds of thousands of nodes.
    HugePageVector<double> nodeErrors;
    std::span<double> nodeError(uint32_t n) { return {nodeErrors.data() + size_t(n) * samples, samples}; }
    std::span<const double> nodeError(uint32_t n) const {
        return {nodeErrors.data() + size_t(n) * samples, samples};
    }
    // Appends a node with the errors given (samples of them); returns it.
    uint32_t addNode(uint32_t layer, std::span<const double> errors);
    uint32_t samples = 1;

    uint32_t m_source_nnum = 0; // source nodes made by the last insertSourceNodes
    std::vector<CreatorSurfel> plist;

    // Statistics of the last run.
    uint32_t edgeCollapses = 0;
    uint32_t nonEdgeCollapses = 0; // pairs that are no edge are never collapsed
    uint64_t maxQueueSize = 0;
    double lastError = 0;

  private:
    struct Builder;
    void copyVerticesAndNodes(VLODObject3D& object);
    void copyArcsAndTriangles(VLODObject3D& object);
    void copySurfels(VLODObject3D& object) const;
    void buildGraph(const VObject3D& mesh, VObject3D* consumed, AnimationDomain& domain);
};
