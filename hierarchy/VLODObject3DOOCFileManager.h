#pragma once
// Keeps the drawable vertex data of a hierarchy out of core. start() writes
// every node's outgoing patches into a temporary file; afterwards a node's
// data are read back when one of its arcs is drawn, each loaded node
// remembers the frame of its last use, and deleteNodesOlderThan() drops the
// nodes nobody drew for a while.
//
// A node's block in the file holds its outgoing arcs in order, each arc its
// triangles in order, each triangle its three corners, and each corner six
// float32: the position at time 0 and the unit normal (24 bytes).

#include <cstdint>
#include <list>
#include <string>
#include <vector>

class VLODObject3D;
struct SelectionView;

class VLODObject3DOOCFileManager {
  public:
    static constexpr uint32_t kFloatsPerCorner = 6;

    // Values since start() or reset().
    struct Statistics {
        uint32_t loadedNodes = 0;
        uint64_t residentBytes = 0; // of the loaded nodes' corner data
        uint64_t loads = 0;
        uint64_t deletions = 0;
        uint64_t readFailures = 0;
    };

    VLODObject3DOOCFileManager() = default;
    VLODObject3DOOCFileManager(const VLODObject3DOOCFileManager&) = delete;
    VLODObject3DOOCFileManager& operator=(const VLODObject3DOOCFileManager&) = delete;
    ~VLODObject3DOOCFileManager() { release(); }

    // Writes the object's node blocks into a new temporary file; nothing is
    // loaded yet. The object must outlive the manager's use and stay
    // unchanged until release(). On failure returns false with what failed
    // in error; the file is removed and the manager is empty.
    bool start(const VLODObject3D& object, std::string& error);
    bool started() const { return mFile >= 0; }
    const std::string& temporaryFileName() const { return mFileName; }

    // The arc's corners (kFloatsPerCorner floats each, cornerCount of them),
    // loading its source node first when needed; stamps the arc and its node
    // with the current frame. Null when the arc is out of range or the node
    // cannot be read (counted; the first failure is logged). The pointer
    // stays valid until the node is deleted, reset() or release().
    const float* arcCorners(uint32_t arc, uint32_t& cornerCount);

    void nextFrame() { ++mFrame; }
    uint32_t currentFrame() const { return mFrame; }

    // Walks the nodes from the least recently used and deletes each whose
    // last use lies before frame, unless one of its arcs was drawn in the
    // current frame.
    void deleteNodesOlderThan(uint32_t frame);

    // The nodes worth loading ahead of need around a cut (the nodes whose
    // patches are drawn), ascending and without the cut's own nodes:
    // 0 none; 1 their parents and children; 2 their children that the
    // predicted view would refine (none without a predicted view).
    std::vector<uint32_t> prefetchNodes(int32_t strategy, const std::vector<uint32_t>& cutNodes,
                                        const SelectionView* predicted) const;
    // Loads the nodes that are not loaded and stamps them with the current frame.
    void prefetch(const std::vector<uint32_t>& nodes);
    bool isLoaded(uint32_t node) const { return node < mLoaded.size() && mLoaded[node]; }

    // Frees every loaded node and clears the statistics and the frame count;
    // the temporary file stays.
    void reset();
    // Closes and removes the temporary file and frees everything.
    void release();

    const Statistics& statistics() const { return mStatistics; }

    // Settings the view keeps here for the drawing.
    void setBackfaceCulling(bool on) { mBackfaceCulling = on; }
    bool backfaceCulling() const { return mBackfaceCulling; }
    void setErrorBound(float bound) { mErrorBound = bound; }
    float errorBound() const { return mErrorBound; }

  private:
    struct FrameNode {
        uint32_t frame;
        uint32_t node;
    };

    bool createFile(std::string& error);
    bool writeBlocks(std::string& error);
    bool loadNode(uint32_t node);
    void unloadNode(uint32_t node);
    void touchNode(uint32_t node);
    bool arcUsedThisFrame(uint32_t node) const;

    const VLODObject3D* mObject = nullptr;
    int mFile = -1;
    std::string mFileName;
    std::vector<uint64_t> mNodeCorner; // node n's corners in the file: [mNodeCorner[n], mNodeCorner[n + 1])
    std::vector<uint64_t> mArcCorner;  // an arc's first corner inside its node's block
    std::vector<uint32_t> mInStart, mInSource; // sources of the arcs into node n: mInSource[mInStart[n] ..]

    std::vector<std::vector<float>> mNodeData;
    std::vector<uint8_t> mLoaded;
    std::vector<uint32_t> mNodeFrame, mArcFrame; // frame of last use
    std::list<FrameNode> mUses;                  // by frame; a node's latest pair carries its mNodeFrame
    uint32_t mFrame = 0;
    Statistics mStatistics;

    bool mBackfaceCulling = false;
    float mErrorBound = 1.0f;
};
