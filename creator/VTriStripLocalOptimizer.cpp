// Triangle strips by tunnelling in the dual graph (A. J. Stewart, "Tunneling
// for Triangle Strips in Continuous Level-of-Detail Meshes", GI 2001).
//
// Invariants kept between tunnels:
//   - every node has at most two STRIP edges and the STRIP edges form paths
//     (no cycles), so each strip is a path in the dual graph;
//   - no three consecutive STRIP sides of a strip meet in one vertex. Such a
//     fan turn cannot be written as a sequential strip (the strip would need a
//     swap), so tunnels that would make one are undone like cycles. It also
//     means that a strip can only be cut next to one of its ends (canCutAt),
//     so tunnels move end triangles between strips rather than re-route
//     whole strips; most joins are between neighbouring ends;
//   - DualGraphNode::strip names the strip a node lies in; the ids stay below
//     the triangle count because re-routed strips reuse the ids they replace.

#include "VTriStripLocalOptimizer.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <memory>
#include <utility>

namespace {
using Strip = VTriStripLocalOptimizer::Strip;

constexpr uint32_t NO_NODE = std::numeric_limits<uint32_t>::max();
constexpr uint32_t NO_EDGE = std::numeric_limits<uint32_t>::max();
constexpr uint32_t NO_PARENT = std::numeric_limits<uint32_t>::max();
constexpr uint32_t CHANGE_RADIUS = 4;

struct DualGraphEdge {
    enum State : uint8_t { NON_STRIP, STRIP };
    uint32_t n1 = NO_NODE;
    uint32_t n2 = NO_NODE; // NO_NODE while only one triangle uses the side
    State state = NON_STRIP;

    uint32_t other(uint32_t n) const { return n == n1 ? n2 : n1; }
};

struct DualGraphNode {
    uint32_t edges[3] = {NO_EDGE, NO_EDGE, NO_EDGE}; // edges[k]: side (corner k, corner k + 1 mod 3)
    uint32_t strip = 0;
    uint32_t changedPass = 0; // last pass that flipped an edge near the node
    uint8_t stripEdges = 0;   // how many of the edges are STRIP

    // A strip end: a strip of one triangle, or the first or last of a longer one.
    bool isLeaf() const { return stripEdges < 2; }
};

// One step of the breadth-first tunnel search. The path back to the start
// follows the parents; keeping only the parent makes a queue entry small.
struct SearchNode {
    const DualGraphNode* edgeNode = nullptr;
    uint32_t depth = 0;          // edges from the start
    uint32_t parent = NO_PARENT; // queue index of the previous step
    uint32_t edge = NO_EDGE;     // edge taken from the parent
};

struct StripCount {
    uint32_t num_nodes = 0;
    uint32_t start = NO_NODE; // first strip end in index order
};

// Up to three vertices; the corners of a triangle that another lacks.
struct VertexSet {
    uint32_t v[3] = {0, 0, 0};
    uint32_t count = 0;
    size_t size() const { return count; }
    void insert(uint32_t x) { v[count++] = x; }
};

uint64_t sideKey(uint32_t a, uint32_t b) {
    if (a > b) std::swap(a, b);
    return (uint64_t(a) << 32) | b;
}

// Side key to edge, for building the dual graph only. Open addressing over
// entry indices; entries are dense in the order they were made, so an entry's
// index is its edge's index. Sized once for the worst case of three edges per
// triangle, which keeps the load at most 3/4 and needs no rehash.
class EdgeMap {
  public:
    using Entry = std::pair<uint64_t, DualGraphEdge>;

    // Empties the map for up to maxEntries keys; keeps the memory it has.
    void reset(size_t maxEntries) {
        size_t capacity = 16;
        while (capacity < maxEntries + maxEntries / 3)
            capacity *= 2;
        mShift = 64;
        for (size_t c = capacity; c > 1; c /= 2)
            --mShift;
        mSlots.assign(capacity, EMPTY);
        mEntries.clear();
        mEntries.reserve(maxEntries / 2 + 16); // closed meshes have 1.5 edges per triangle
    }

    // The entry of key; inserted (with a default edge) when missing.
    Entry* findOrInsert(uint64_t key, bool& inserted) {
        const size_t mask = mSlots.size() - 1;
        for (size_t slot = size_t((key * 0x9E3779B97F4A7C15ull) >> mShift);; slot = (slot + 1) & mask) {
            if (mSlots[slot] == EMPTY) {
                mSlots[slot] = uint32_t(mEntries.size());
                mEntries.push_back({key, DualGraphEdge{}});
                inserted = true;
                return &mEntries.back();
            }
            if (mEntries[mSlots[slot]].first == key) {
                inserted = false;
                return &mEntries[mSlots[slot]];
            }
        }
    }

    uint32_t indexOf(const Entry* entry) const { return uint32_t(entry - mEntries.data()); }
    const std::vector<Entry>& entries() const { return mEntries; }

  private:
    static constexpr uint32_t EMPTY = std::numeric_limits<uint32_t>::max();
    std::vector<uint32_t> mSlots;
    std::vector<Entry> mEntries;
    int mShift = 64;
};

// The working state of one optimizeStrips call; reset() reuses its memory
// for the next one.
class StripSearch {
  public:
    void reset(std::span<const uint32_t> indices) {
        mIndices = indices;
        mTriangles = uint32_t(indices.size() / 3);
    }

    void buildDualGraph();
    // Returns the number of strips left.
    uint32_t optimize(uint32_t bound);
    std::vector<Strip> extractStrips() const;

  private:
    uint32_t corner(uint32_t t, uint32_t k) const { return mIndices[3 * size_t(t) + k]; }
    uint32_t nodeIndex(const DualGraphNode* node) const { return uint32_t(node - mNodes.data()); }
    uint32_t nextStamp(std::vector<uint32_t>& marks, uint32_t& stamp);

    bool mayFindTunnel(uint32_t start) const;
    bool searchTunnel(uint32_t start, uint32_t bound);
    bool isTunnelEnd(uint32_t node, uint32_t startStrip, uint32_t parent, uint32_t visit) const;
    bool applyTunnel();
    void collectPath();
    void flipPathEdges();
    bool checkTurns() const;
    void joinNeighbourStrips();
    bool renumberTouchedStrips();
    bool walkOneWay(uint32_t node, uint32_t edge, uint32_t stamp);
    void markChangedNeighbourhood();

    bool canCutAt(uint32_t node, uint32_t edge) const;
    uint32_t otherStripEdge(uint32_t node, uint32_t edge) const;
    uint32_t pivot(uint32_t node) const;
    Strip extractStrip(const StripCount& count) const;
    void appendFirstTriangle(Strip& strip, uint32_t first, uint32_t firstEdge, uint32_t second) const;
    uint32_t newCorner(uint32_t node, uint32_t previous) const;

    std::span<const uint32_t> mIndices;
    uint32_t mTriangles = 0;
    EdgeMap mEdgeMap;
    std::vector<DualGraphNode> mNodes;
    std::vector<DualGraphEdge> mEdges;
    std::vector<uint32_t> mStripSize; // triangles per strip id

    // Scratch kept across the searches of one call.
    std::vector<SearchNode> mQueue;
    std::vector<uint32_t> mVisitMarks; // search stamp per node
    std::vector<uint32_t> mWalkMarks;  // strip-walk stamp per node
    uint32_t mVisitStamp = 0;
    uint32_t mWalkStamp = 0;
    std::vector<uint32_t> mPathEdges;
    std::vector<uint32_t> mPathNodes;
    std::vector<uint32_t> mTouchedStrips;
    std::vector<uint32_t> mWalkNodes;
    std::vector<uint32_t> mWalkEnds; // end of each walked strip in mWalkNodes
    uint32_t mPass = 0;
    std::vector<uint32_t> mChanged; // nodes whose surroundings a tunnel changed
};

void StripSearch::buildDualGraph() {
    mNodes.assign(mTriangles, DualGraphNode{});
    EdgeMap& edgeMap = mEdgeMap;
    edgeMap.reset(3 * size_t(mTriangles));
    for (uint32_t t = 0; t < mTriangles; ++t) {
        DualGraphNode& node = mNodes[t];
        node.strip = t;
        for (uint32_t k = 0; k < 3; ++k) {
            const uint32_t a = corner(t, k), b = corner(t, (k + 1) % 3);
            assert(a != b && "degenerate triangle");
            bool inserted = false;
            EdgeMap::Entry* edgeMapIt = edgeMap.findOrInsert(sideKey(a, b), inserted);
            if (inserted) {
                edgeMapIt->second.n1 = t;
            } else {
                assert(edgeMapIt->second.n2 == NO_NODE);
                assert(edgeMapIt->second.state == DualGraphEdge::NON_STRIP);
                assert(edgeMapIt->second.n1 != t && "a side used twice by one triangle");
                edgeMapIt->second.n2 = t;
            }
            node.edges[k] = edgeMap.indexOf(edgeMapIt);
        }
    }
    mEdges.clear();
    mEdges.reserve(edgeMap.entries().size());
    for (const EdgeMap::Entry& entry : edgeMap.entries())
        mEdges.push_back(entry.second);
#ifndef NDEBUG
    // Two triangles on the same corners share all sides; the strip writer
    // could not tell them apart.
    for (uint32_t t = 0; t < mTriangles; ++t) {
        const uint32_t* e = mNodes[t].edges;
        const uint32_t o0 = mEdges[e[0]].other(t), o1 = mEdges[e[1]].other(t), o2 = mEdges[e[2]].other(t);
        assert((o0 == NO_NODE || (o0 != o1 && o0 != o2)) && (o1 == NO_NODE || o1 != o2) &&
               "two triangles on the same corners");
    }
#endif
    mStripSize.assign(mTriangles, 1);
    mVisitMarks.assign(mTriangles, 0);
    mWalkMarks.assign(mTriangles, 0);
}

// Passes over all strip ends until one joins nothing; every join removes one strip.
uint32_t StripSearch::optimize(uint32_t bound) {
    uint32_t remaining = mTriangles;
    bool joined = true;
    for (mPass = 1; joined && remaining > 1; ++mPass) {
        joined = false;
        for (uint32_t s = 0; s < mTriangles && remaining > 1; ++s) {
            if (!mNodes[s].isLeaf() || !mayFindTunnel(s)) continue;
            if (searchTunnel(s, bound)) {
                --remaining;
                joined = true;
            }
        }
    }
    return remaining;
}

uint32_t StripSearch::nextStamp(std::vector<uint32_t>& marks, uint32_t& stamp) {
    if (++stamp == 0) { // wrapped: old marks could alias the new stamp
        std::fill(marks.begin(), marks.end(), 0);
        stamp = 1;
    }
    return stamp;
}

// The search bound of a start node is zero when its last search failed and
// no tunnel has changed its surroundings since; the later passes, which join
// few strips, then cost little more than a scan of the nodes. Pass 2 searches
// from every end, so changes need recording only from pass 2 on.
bool StripSearch::mayFindTunnel(uint32_t start) const {
    return mPass <= 2 || mNodes[start].changedPass + 1 >= mPass;
}

// Breadth-first over paths from start that alternate NON_STRIP and STRIP
// edges, beginning with NON_STRIP; each node is entered once per search so
// that a path never repeats a node (a repeat could give a node three STRIP
// edges after the flip). Shortest tunnels are tried first. STRIP edges that
// cannot be cut (canCutAt) are not followed: in practice this keeps the
// search to a few nodes around the strip ends.
bool StripSearch::searchTunnel(uint32_t start, uint32_t bound) {
    std::vector<SearchNode>& queue = mQueue;
    const uint32_t visit = nextStamp(mVisitMarks, mVisitStamp);
    const uint32_t startStrip = mNodes[start].strip;
    queue.clear();
    queue.push_back({&mNodes[start], 0, NO_PARENT, NO_EDGE});
    mVisitMarks[start] = visit;
    for (size_t head = 0; head < queue.size(); ++head) {
        const SearchNode current = queue[head];
        const uint32_t from = nodeIndex(current.edgeNode);
        const auto wanted = current.depth % 2 == 0 ? DualGraphEdge::NON_STRIP : DualGraphEdge::STRIP;
        const uint32_t depth = current.depth + 1;
        for (uint32_t e : current.edgeNode->edges) {
            if (e == NO_EDGE || mEdges[e].state != wanted) continue;
            const uint32_t to = mEdges[e].other(from);
            if (to == NO_NODE) continue;
            if (wanted == DualGraphEdge::STRIP && (!canCutAt(from, e) || !canCutAt(to, e))) continue;
            if (wanted == DualGraphEdge::NON_STRIP && isTunnelEnd(to, startStrip, uint32_t(head), visit)) {
                queue.push_back({&mNodes[to], depth, uint32_t(head), e});
                if (applyTunnel()) return true;
                queue.pop_back();
            }
            if (depth >= bound || mVisitMarks[to] == visit) continue;
            mVisitMarks[to] = visit;
            queue.push_back({&mNodes[to], depth, uint32_t(head), e});
        }
    }
    return false;
}

// An end of another strip that the path so far has not passed through.
bool StripSearch::isTunnelEnd(uint32_t node, uint32_t startStrip, uint32_t parent, uint32_t visit) const {
    if (!mNodes[node].isLeaf() || mNodes[node].strip == startStrip) return false;
    if (mVisitMarks[node] != visit) return true; // only entered nodes can be on the path
    for (uint32_t q = parent; q != NO_PARENT; q = mQueue[q].parent)
        if (nodeIndex(mQueue[q].edgeNode) == node) return false;
    return true;
}

// The tunnel runs from the queue's first entry to its last. Flips it and
// keeps it when the strips stay paths without fan turns.
bool StripSearch::applyTunnel() {
    const std::vector<SearchNode>& queue = mQueue;
    [[maybe_unused]] const SearchNode* s = &queue.front();
    assert(s->edgeNode->isLeaf());
    assert(queue.back().edgeNode->isLeaf());
    collectPath();
    flipPathEdges();
    if (!checkTurns()) {
        flipPathEdges();
        return false;
    }
    mChanged.assign(mPathNodes.begin(), mPathNodes.end());
    if (mPathEdges.size() == 1) {
        // Joining the ends of two different strips cannot close a cycle.
        joinNeighbourStrips();
    } else if (!renumberTouchedStrips()) {
        flipPathEdges();
        return false;
    }
    markChangedNeighbourhood();
    return true;
}

void StripSearch::collectPath() {
    mPathEdges.clear();
    mPathNodes.clear();
    mTouchedStrips.clear();
    for (uint32_t q = uint32_t(mQueue.size() - 1); q != NO_PARENT; q = mQueue[q].parent) {
        const uint32_t node = nodeIndex(mQueue[q].edgeNode);
        mPathNodes.push_back(node);
        if (mQueue[q].edge != NO_EDGE) mPathEdges.push_back(mQueue[q].edge);
        const uint32_t strip = mNodes[node].strip;
        if (std::find(mTouchedStrips.begin(), mTouchedStrips.end(), strip) == mTouchedStrips.end())
            mTouchedStrips.push_back(strip);
    }
}

// Flipping twice restores the previous state.
void StripSearch::flipPathEdges() {
    for (uint32_t e : mPathEdges) {
        DualGraphEdge& edge = mEdges[e];
        if (edge.state == DualGraphEdge::STRIP) {
            edge.state = DualGraphEdge::NON_STRIP;
            --mNodes[edge.n1].stripEdges;
            --mNodes[edge.n2].stripEdges;
        } else {
            edge.state = DualGraphEdge::STRIP;
            ++mNodes[edge.n1].stripEdges;
            ++mNodes[edge.n2].stripEdges;
        }
    }
}

// Only nodes on the path changed their STRIP sides, so a fan turn (two
// neighbouring inner triangles turning about the same vertex) can only
// appear at a path node and one of its strip neighbours.
bool StripSearch::checkTurns() const {
    for (uint32_t node : mPathNodes) {
        assert(mNodes[node].stripEdges <= 2);
        if (mNodes[node].isLeaf()) continue;
        const uint32_t turn = pivot(node);
        for (uint32_t e : mNodes[node].edges) {
            if (e == NO_EDGE || mEdges[e].state != DualGraphEdge::STRIP) continue;
            const uint32_t next = mEdges[e].other(node);
            if (!mNodes[next].isLeaf() && pivot(next) == turn) return false;
        }
    }
    return true;
}

// The smaller strip takes the id of the larger one, so that over a whole run
// a triangle changes its id only O(log n) times through such joins.
void StripSearch::joinNeighbourStrips() {
    const uint32_t a = mPathNodes.front(), b = mPathNodes.back();
    const uint32_t joint = mPathEdges.front();
    const bool aSmaller = mStripSize[mNodes[a].strip] < mStripSize[mNodes[b].strip];
    const uint32_t from = aSmaller ? a : b;
    const uint32_t keep = mNodes[aSmaller ? b : a].strip;
    const uint32_t gone = mNodes[from].strip;
    uint32_t node = from, via = joint;
    for (;;) {
        mNodes[node].strip = keep;
        via = otherStripEdge(node, via);
        if (via == NO_EDGE) break;
        node = mEdges[via].other(node);
    }
    mStripSize[keep] += mStripSize[gone];
    mStripSize[gone] = 0;
}

// Walks every strip that contains a path node. A walk that meets a node it
// has already seen went round a cycle. Otherwise the new strips, one fewer
// than the touched ones, take over the touched ids.
bool StripSearch::renumberTouchedStrips() {
    const uint32_t stamp = nextStamp(mWalkMarks, mWalkStamp);
    mWalkNodes.clear();
    mWalkEnds.clear();
    for (uint32_t node : mPathNodes) {
        if (mWalkMarks[node] == stamp) continue;
        mWalkMarks[node] = stamp;
        mWalkNodes.push_back(node);
        const uint32_t first = otherStripEdge(node, NO_EDGE);
        const uint32_t second = first == NO_EDGE ? NO_EDGE : otherStripEdge(node, first);
        if (!walkOneWay(node, first, stamp) || !walkOneWay(node, second, stamp)) return false;
        mWalkEnds.push_back(uint32_t(mWalkNodes.size()));
    }
    assert(mWalkEnds.size() + 1 == mTouchedStrips.size());
    uint32_t begin = 0;
    for (size_t i = 0; i < mWalkEnds.size(); ++i) {
        const uint32_t id = mTouchedStrips[i];
        for (uint32_t k = begin; k < mWalkEnds[i]; ++k) {
            mNodes[mWalkNodes[k]].strip = id;
            // A far end now belongs to another strip: new tunnels may end there.
            if (mNodes[mWalkNodes[k]].isLeaf()) mChanged.push_back(mWalkNodes[k]);
        }
        mStripSize[id] = mWalkEnds[i] - begin;
        begin = mWalkEnds[i];
    }
    mStripSize[mTouchedStrips.back()] = 0;
    return true;
}

// Marks the changed nodes and every node within CHANGE_RADIUS dual-graph
// edges of them. A tunnel from a start farther away than that would be longer
// than the tunnels the pruned search finds in practice.
void StripSearch::markChangedNeighbourhood() {
    if (mPass < 2) return;
    const uint32_t stamp = nextStamp(mVisitMarks, mVisitStamp);
    std::vector<uint32_t>& marked = mChanged;
    size_t layerBegin = 0, layerEnd = 0;
    for (uint32_t node : marked)
        mVisitMarks[node] = stamp;
    for (uint32_t radius = 0; radius <= CHANGE_RADIUS; ++radius) {
        layerBegin = layerEnd;
        layerEnd = marked.size();
        for (size_t i = layerBegin; i < layerEnd; ++i) {
            mNodes[marked[i]].changedPass = mPass;
            if (radius == CHANGE_RADIUS) continue;
            for (uint32_t e : mNodes[marked[i]].edges) {
                const uint32_t next = e == NO_EDGE ? NO_NODE : mEdges[e].other(marked[i]);
                if (next == NO_NODE || mVisitMarks[next] == stamp) continue;
                mVisitMarks[next] = stamp;
                marked.push_back(next);
            }
        }
    }
}

// Follows STRIP edges from node, leaving over edge, to a strip end; false
// when it comes back to a node it has seen.
bool StripSearch::walkOneWay(uint32_t node, uint32_t edge, uint32_t stamp) {
    while (edge != NO_EDGE) {
        node = mEdges[edge].other(node);
        if (mWalkMarks[node] == stamp) return false;
        mWalkMarks[node] = stamp;
        mWalkNodes.push_back(node);
        edge = otherStripEdge(node, edge);
    }
    return true;
}

// Whether the STRIP edge at node may become NON_STRIP in a tunnel. Node then
// turns about the other corner of its remaining STRIP side, and that corner
// is where an inner neighbour w on that side already turns: a fan turn. So
// the cut must be next to a strip end. (Exact unless w itself lies on the
// tunnel; such rare tunnels are skipped.)
bool StripSearch::canCutAt(uint32_t node, uint32_t edge) const {
    const uint32_t rest = otherStripEdge(node, edge);
    return rest == NO_EDGE || mNodes[mEdges[rest].other(node)].isLeaf();
}

// The STRIP edge of node other than edge (any STRIP edge for NO_EDGE).
uint32_t StripSearch::otherStripEdge(uint32_t node, uint32_t edge) const {
    for (uint32_t e : mNodes[node].edges)
        if (e != NO_EDGE && e != edge && mEdges[e].state == DualGraphEdge::STRIP) return e;
    return NO_EDGE;
}

// The vertex where the two STRIP sides of an inner strip node meet.
uint32_t StripSearch::pivot(uint32_t node) const {
    const uint32_t* e = mNodes[node].edges;
    const bool s0 = e[0] != NO_EDGE && mEdges[e[0]].state == DualGraphEdge::STRIP;
    const bool s1 = e[1] != NO_EDGE && mEdges[e[1]].state == DualGraphEdge::STRIP;
    // Sides k and k + 1 meet in corner k + 1; sides 2 and 0 in corner 0.
    if (s0 && s1) return corner(node, 1);
    if (s1) return corner(node, 2);
    return corner(node, 0);
}

std::vector<Strip> StripSearch::extractStrips() const {
    std::vector<StripCount> counts(mTriangles);
    std::vector<uint32_t> order; // strip ids by their first node
    for (uint32_t t = 0; t < mTriangles; ++t) {
        StripCount& count = counts[mNodes[t].strip];
        if (count.num_nodes++ == 0) order.push_back(mNodes[t].strip);
        if (count.start == NO_NODE && mNodes[t].isLeaf()) count.start = t;
    }
    std::vector<Strip> strips;
    strips.reserve(order.size());
    for (uint32_t id : order)
        strips.push_back(extractStrip(counts[id]));
    return strips;
}

Strip StripSearch::extractStrip(const StripCount& count) const {
    assert(count.start != NO_NODE && "a strip without an end");
    Strip strip;
    strip.reserve(count.num_nodes + 2);
    const uint32_t first = count.start;
    const uint32_t firstEdge = otherStripEdge(first, NO_EDGE);
    if (firstEdge == NO_EDGE) {
        for (uint32_t k = 0; k < 3; ++k)
            strip.push_back(corner(first, k));
        return strip;
    }
    uint32_t node = mEdges[firstEdge].other(first);
    appendFirstTriangle(strip, first, firstEdge, node);
    uint32_t last_node = first, via = firstEdge;
    while (node != NO_NODE) {
        assert(last_node != NO_NODE);
        strip.push_back(newCorner(node, last_node));
        via = otherStripEdge(node, via);
        last_node = node;
        node = via == NO_EDGE ? NO_NODE : mEdges[via].other(node);
    }
    assert(strip.size() == count.num_nodes + 2);
    return strip;
}

// The corner the second triangle lacks, then the shared side. The side's
// corner where the second triangle turns towards the third must come last,
// so that the next triangle's side is the strip's last two indices. A strip
// of two keeps the first triangle's winding.
void StripSearch::appendFirstTriangle(Strip& strip, uint32_t first, uint32_t firstEdge,
                                      uint32_t second) const {
    uint32_t k = 0;
    while (mNodes[first].edges[k] != firstEdge)
        ++k;
    const uint32_t lone = corner(first, (k + 2) % 3);
    uint32_t a = corner(first, k), b = corner(first, (k + 1) % 3);
    if (!mNodes[second].isLeaf() && pivot(second) == a) std::swap(a, b);
    strip.push_back(lone);
    strip.push_back(a);
    strip.push_back(b);
}

// The corner of node off the side it shares with previous. The strip must
// end on that side; the fan-turn invariant guarantees it.
uint32_t StripSearch::newCorner(uint32_t node, uint32_t previous) const {
    VertexSet vset;
    for (uint32_t k = 0; k < 3; ++k) {
        const uint32_t v = corner(node, k);
        if (v != corner(previous, 0) && v != corner(previous, 1) && v != corner(previous, 2)) vset.insert(v);
    }
    assert(vset.size() == 1);
    return vset.v[0];
}
} // namespace

std::vector<Strip> VTriStripLocalOptimizer::optimizeStrips(std::span<const uint32_t> triangleIndices,
                                                           int flag) const {
    assert(triangleIndices.size() % 3 == 0 && "three indices per triangle");
    assert(triangleIndices.size() / 3 < NO_NODE && "too many triangles for 32-bit node ids");
    if (triangleIndices.size() == 3) return {Strip(triangleIndices.begin(), triangleIndices.end())};
    if (triangleIndices.empty()) return {};

    StripSearch search;
    search.reset(triangleIndices);
    search.buildDualGraph();
    search.optimize(flag == 0 ? 1 : SEARCH_LIMIT);
    return search.extractStrips();
}

struct VTriStripLocalOptimizer::Workspace {
    StripSearch search;
};

VTriStripLocalOptimizer::VTriStripLocalOptimizer() = default;
VTriStripLocalOptimizer::~VTriStripLocalOptimizer() = default;
VTriStripLocalOptimizer::VTriStripLocalOptimizer(VTriStripLocalOptimizer&&) noexcept = default;
VTriStripLocalOptimizer& VTriStripLocalOptimizer::operator=(VTriStripLocalOptimizer&&) noexcept = default;

// Every strip is sequential (no fan turns, hence no swaps), so a strip of n
// triangles has n + 2 indices.
size_t VTriStripLocalOptimizer::countStripIndices(std::span<const uint32_t> triangleIndices, int flag) {
    assert(triangleIndices.size() % 3 == 0 && "three indices per triangle");
    assert(triangleIndices.size() / 3 < NO_NODE && "too many triangles for 32-bit node ids");
    const size_t triangles = triangleIndices.size() / 3;
    if (triangles <= 1) return triangles * 3;
    if (!mWorkspace) mWorkspace = std::make_unique<Workspace>();
    StripSearch& search = mWorkspace->search;
    search.reset(triangleIndices);
    search.buildDualGraph();
    return triangles + 2 * size_t(search.optimize(flag == 0 ? 1 : SEARCH_LIMIT));
}

size_t VTriStripLocalOptimizer::countIndices(const std::vector<Strip>& strips) {
    size_t count = 0;
    for (const Strip& strip : strips)
        count += strip.size();
    return count;
}

size_t VTriStripLocalOptimizer::countTriangles(const std::vector<Strip>& strips) {
    size_t count = 0;
    for (const Strip& strip : strips)
        count += strip.size() - 2;
    return count;
}
