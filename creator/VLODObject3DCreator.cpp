#include "VLODObject3DCreator.h"

#include "LogStream.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>

namespace {
constexpr uint32_t kSource = 0;
constexpr uint32_t kDrain = 1;
constexpr double kLargestError = 3.4028234663852886e38;

// Stamp, cost and insertion order packed into two words that sort the same
// way: a non-negative double's bits grow with its value. The queue compares
// keys millions of times, so integer comparisons pay; two 64-bit words
// rather than one 128-bit one keep a queued candidate at 24 bytes.
struct CandidateKey {
    uint64_t high = 0; // stamp, then the cost's upper half
    uint64_t low = 0;  // the cost's lower half, then the order
    uint32_t stamp() const { return uint32_t(high >> 32); }
    auto operator<=>(const CandidateKey&) const = default;
};

struct Candidate {
    uint32_t stamp;
    QUADRIC_FT cost;
    uint32_t order; // insertion order among equal keys
    uint32_t i, j;

    CandidateKey key() const {
        uint64_t costBits;
        std::memcpy(&costBits, &cost, sizeof costBits);
        return {(uint64_t(stamp) << 32) | (costBits >> 32), (costBits << 32) | order};
    }
};

struct QueuedCandidate {
    CandidateKey key;
    uint32_t i, j;
    Candidate candidate() const {
        const uint64_t costBits = (key.high << 32) | (key.low >> 32);
        QUADRIC_FT cost;
        std::memcpy(&cost, &costBits, sizeof cost);
        return {key.stamp(), cost, uint32_t(key.low), i, j};
    }
};
static_assert(sizeof(QueuedCandidate) == 24);

struct LaterCandidate {
    bool operator()(const QueuedCandidate& a, const QueuedCandidate& b) const { return a.key > b.key; }
};

// Candidates by stamp, then cost, then insertion, one bucket per stamp. Later
// buckets are filled by appending; when a bucket's turn comes it is sorted
// once and taken from the back, so the many candidates that turn out stale
// cost no heap work. Pushes into the bucket being taken (base mode offers at
// the stamp it works on) wait in a small heap beside it.
class CandidateQueue {
  public:
    bool empty() const { return mSize == 0; }
    size_t size() const { return mSize; }

    void push(const QueuedCandidate& q) {
        const uint32_t stamp = q.key.stamp();
        ++mSize;
        if (mCurrent == kNone) {
            bucket(stamp).push_back(q); // nothing taken yet
            return;
        }
        if (stamp == mCurrent) {
            mLate.push_back(q);
            std::push_heap(mLate.begin(), mLate.end(), LaterCandidate());
            return;
        }
        if (stamp < mCurrent) {
            // Back to an earlier stamp: what is left of this one waits again.
            std::vector<QueuedCandidate>& rest = bucket(mCurrent);
            rest.insert(rest.end(), mSorted.begin(), mSorted.end());
            rest.insert(rest.end(), mLate.begin(), mLate.end());
            mSorted.clear();
            mLate.clear();
            mCurrent = stamp;
            load();
            --mSize;
            push(q);
            return;
        }
        bucket(stamp).push_back(q);
    }

    QueuedCandidate pop() {
        while (mSorted.empty() && mLate.empty()) {
            mCurrent = mCurrent == kNone ? 0 : mCurrent + 1;
            load();
        }
        --mSize;
        if (mLate.empty() || (!mSorted.empty() && mSorted.back().key < mLate.front().key)) {
            QueuedCandidate q = mSorted.back();
            mSorted.pop_back();
            return q;
        }
        std::pop_heap(mLate.begin(), mLate.end(), LaterCandidate());
        QueuedCandidate q = mLate.back();
        mLate.pop_back();
        return q;
    }

  private:
    std::vector<QueuedCandidate>& bucket(uint32_t stamp) {
        if (stamp >= mBuckets.size()) mBuckets.resize(stamp + 1);
        return mBuckets[stamp];
    }

    // Makes the current stamp's bucket the sorted run, smallest key last.
    void load() {
        mSorted.swap(bucket(mCurrent));
        // The bucket must not keep the sorted run's old buffer: over a
        // hundred stamps those buffers would add up to many times the queue.
        decltype(mSorted)().swap(bucket(mCurrent));
        std::sort(mSorted.begin(), mSorted.end(), LaterCandidate());
    }

    std::vector<std::vector<QueuedCandidate>> mBuckets;
    std::vector<QueuedCandidate> mSorted;
    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<QueuedCandidate> mLate; // a heap, smallest key at the front
    uint32_t mCurrent = kNone;           // the stamp being taken
    size_t mSize = 0;
};

bool contains(const CreatorTriangle& t, uint32_t v) { return t.v[0] == v || t.v[1] == v || t.v[2] == v; }

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
} // namespace

struct VLODObject3DCreator::Builder {
    VLODObject3DCreator& c;
    AnimationDomain domain;
    // A live triangle at a vertex, with the layer of its arc's dest beside it:
    // the stamp check of every candidate taken reads only these lists.
    struct Incidence {
        uint32_t t;
        uint32_t layer;
        operator uint32_t() const { return t; }
    };
    HugePageVector<std::vector<Incidence>> adjacent; // live triangles at each vertex
    // Per vertex, the largest layer in its incidence list: most candidates
    // taken from the queue are stale, and this tells so without the lists.
    HugePageVector<uint32_t> incidentLayer;
    void updateIncidentLayer(uint32_t v);
    std::vector<bool, HugePageAllocator<bool>> removed;
    CandidateQueue queue;
    uint32_t order = 0;

    void push(const Candidate& cand) {
        queue.push({cand.key(), cand.i, cand.j});
        c.maxQueueSize = std::max<uint64_t>(c.maxQueueSize, queue.size());
    }
    bool baseMode = true;
    uint32_t inputTriangles = 0;
    uint32_t inputVertices = 0;
    // Scratch of collapse(), kept to spare an allocation per collapse.
    std::vector<std::pair<uint32_t, uint32_t>> scratchArcToDest;
    std::vector<uint32_t> scratchChanged, scratchOffered, scratchRing;
    std::vector<double> scratchErrors;
    // Arcs emptied again, on no node's list: the next arcs take their places,
    // or they would be two in five of all arcs made.
    std::vector<uint32_t> freeArcs;

    explicit Builder(VLODObject3DCreator& creator) : c(creator) {}

    Vec3d position(uint32_t v, uint32_t sample) const {
        return Vec3d(c.vertices[v].evaluate(c.sampleTimes[sample]));
    }

    // consumed, when given, is the mesh itself: its paths are taken over and
    // it is cleared once copied.
    void setUp(const VObject3D& mesh, VObject3D* consumed);
    void reserveArrays(const VObject3D& mesh);
    void copyVertices(const VObject3D& mesh, VObject3D* consumed);
    void copyTriangles(const VObject3D& mesh);
    void offer(uint32_t i, uint32_t j);
    void run();
    uint32_t currentStamp(uint32_t i, uint32_t j) const;
    static void eraseIncidence(std::vector<Incidence>& list, uint32_t t) {
        auto it = std::find_if(list.begin(), list.end(), [t](const Incidence& in) { return in.t == t; });
        assert(it != list.end());
        *it = list.back();
        list.pop_back();
    }
    bool foldsOver(uint32_t i, uint32_t j, const std::vector<uint32_t>& neighbourhood,
                   const std::vector<Vec3d>& placement) const;
    bool linkConditionHolds(uint32_t i, uint32_t j, const std::vector<uint32_t>& shared) const;
    void collapse(const Candidate& cand, uint32_t stamp, const std::vector<Vec3d>& placement,
                  const std::vector<uint32_t>& neighbourhood);
    uint32_t addVertex(uint32_t i, uint32_t j, const std::vector<Vec3d>& placement);
    void removeFromArc(uint32_t t);
    void addToArc(uint32_t t, uint32_t arc);
    uint32_t addArc(uint32_t source, uint32_t dest);
    void finish();
    void removeUnusedVertices();
};

QUADRIC_FT VLODObject3DCreator::collapseCost(uint32_t i, uint32_t j, std::vector<Vec3d>* placements) const {
    assert(i < quadricSlot.size() && j < quadricSlot.size() && "only while the graph is built");
    const bool bothStatic = vertices[i].isStatic() && vertices[j].isStatic();
    // Only an animated pair over a real time span is measured at every sample.
    const uint32_t measured = bothStatic ? 1 : samples;
    if (placements) placements->assign(samples, Vec3d());
    QUADRIC_FT sum = 0;
    for (uint32_t k = 0; k < measured; ++k) {
        Quadric q = quadrics[size_t(quadricSlot[i]) * samples + k];
        q.add(quadrics[size_t(quadricSlot[j]) * samples + k]);
        const float time = sampleTimes[k];
        QuadricPlacement p = placeByQuadric(q, Vec3d(vertices[i].evaluate(time)),
                                            Vec3d(vertices[j].evaluate(time)));
        sum += p.cost;
        if (placements) (*placements)[k] = p.point;
    }
    if (placements)
        for (uint32_t k = measured; k < samples; ++k) (*placements)[k] = (*placements)[0];
    return sum / QUADRIC_FT(measured);
}

void VLODObject3DCreator::createMultiTriangulation(const VObject3D& mesh, AnimationDomain& domain) {
    buildGraph(mesh, nullptr, domain);
}

void VLODObject3DCreator::createMultiTriangulation(VObject3D&& mesh, AnimationDomain& domain) {
    buildGraph(mesh, &mesh, domain);
}

void VLODObject3DCreator::buildGraph(const VObject3D& mesh, VObject3D* consumed, AnimationDomain& domain) {
    reportProgress(kStepMultiTriangulation, 0);
    {
        Builder builder(*this);
        builder.setUp(mesh, consumed);
        builder.run();
        builder.finish();
        domain = builder.domain;
    }
    // The quadrics only rank collapses, and arcs emptied again leave holes:
    // what the later steps do not need goes back before they start. The
    // other arrays were reserved for more than they hold, but the pages
    // never used were never resident, and a shrinking copy of the triangles
    // would set the step's peak.
    decltype(quadrics)().swap(quadrics);
    decltype(quadricSlot)().swap(quadricSlot);
    compactArcs();
    arcs.shrink_to_fit();
    reportProgress(kStepMultiTriangulation, 1);
}

void VLODObject3DCreator::Builder::setUp(const VObject3D& mesh, VObject3D* consumed) {
    const auto start = std::chrono::steady_clock::now();
    domain = mesh.animationDomain();
    c.samples = domain.keyFrames;
    logOut() << (c.samples == 1 ? "Static Object" : "Dynamic Object") << "\n";
    // One time per sample; an object without a real time span is measured once.
    if (domain.start == domain.end) c.samples = 1;
    c.sampleTimes.resize(c.samples);
    for (uint32_t k = 0; k < c.samples; ++k)
        c.sampleTimes[k] = c.samples < 2 ? domain.start
                                          : float(domain.start + (double(domain.end) - domain.start) / (c.samples - 1) * k);

    logOut() << "Recreate arrays ...\n";
    c.releaseGraph();
    c.edgeCollapses = c.nonEdgeCollapses = 0;
    c.maxQueueSize = 0;
    c.lastError = 0;
    inputTriangles = uint32_t(mesh.triangles.size());
    reserveArrays(mesh);
    copyVertices(mesh, consumed);

    c.addNode(1, std::vector<double>(c.samples, kLargestError));
    c.addNode(0, std::vector<double>(c.samples, 0.0));
    copyTriangles(mesh);
    if (consumed) consumed->clear();
    logOut() << "Init EdgeSet ...\n";
    // Every triangle side (edge, triangle * 3 + side), grouped by edge.
    HugePageVector<std::pair<uint64_t, uint32_t>> sides(c.triangles.size() * 3);
    for (uint32_t t = 0; t < c.triangles.size(); ++t)
        for (uint32_t k = 0; k < 3; ++k) {
            uint32_t a = c.triangles[t].v[k], b = c.triangles[t].v[(k + 1) % 3];
            sides[t * 3 + k] = {a < b ? (uint64_t(a) << 32 | b) : (uint64_t(b) << 32 | a), t * 3 + k};
        }
    std::sort(sides.begin(), sides.end());
    std::vector<bool> firstSide(sides.size(), false);
    size_t edgeCount = 0;
    for (size_t s = 0; s < sides.size(); ++s)
        if (s == 0 || sides[s].first != sides[s - 1].first) {
            firstSide[sides[s].second] = true;
            ++edgeCount;
        }
    logOut() << "number of edges: " << edgeCount << "\n";

    logOut() << "Init quadrics ...\n";
    for (const CreatorTriangle& t : c.triangles) {
        const bool allStatic = std::all_of(t.v, t.v + 3, [&](uint32_t v) { return c.vertices[v].isStatic(); });
        for (uint32_t k = 0; k < (allStatic ? 1 : c.samples); ++k) {
            const Vec3d p0 = position(t.v[0], k), p1 = position(t.v[1], k), p2 = position(t.v[2], k);
            const Vec3d n = normalizeOrZ(cross(p0 - p1, p2 - p1));
            const Quadric plane = Quadric::fromPlane(n.x, n.y, n.z, -dot(n, p0));
            for (uint32_t v : t.v) c.quadrics[size_t(c.quadricSlot[v]) * c.samples + k].add(plane);
        }
    }

    logOut() << "Initialize priority-queue ... \n";
    // Every edge once, in the order the triangles first name it.
    for (uint32_t t = 0; t < c.triangles.size(); ++t)
        for (uint32_t k = 0; k < 3; ++k)
            if (firstSide[t * 3 + k]) offer(c.triangles[t].v[k], c.triangles[t].v[(k + 1) % 3]);
    logOut() << "\tTime: " << seconds(start) << "\n";
}

void VLODObject3DCreator::Builder::reserveArrays(const VObject3D& mesh) {
    inputVertices = uint32_t(mesh.vertices.size());
    // Every collapse adds one vertex: room for all of them now spares the
    // copies (and the doubled peak) of growing arrays of millions.
    const size_t most = 2 * size_t(inputVertices);
    c.vertices.reserve(most);
    c.quadricSlot.reserve(most);
    removed.reserve(most);
    adjacent.reserve(most);
    incidentLayer.reserve(most);
    // A collapse adds at most one node, and on scans about six triangles and
    // three arcs. Reserving more than is ever used costs address space only:
    // pages no element reaches are never touched, so never resident.
    c.nodes.reserve(size_t(inputVertices) + 2);
    c.nodeErrors.reserve((size_t(inputVertices) + 2) * c.samples);
    c.triangles.reserve(3 * mesh.triangles.size() + 8 * size_t(inputVertices));
    c.arcs.reserve(8 * size_t(inputVertices) + 1);
}

void VLODObject3DCreator::Builder::copyVertices(const VObject3D& mesh, VObject3D* consumed) {
    logOut() << "Copy vertices ...\n";
    c.vertices.resize(mesh.vertices.size());
    for (size_t v = 0; v < mesh.vertices.size(); ++v) {
        const VVertex& path = *mesh.vertices[v];
        if (path.type() == VVertex::StaticType) c.vertices[v].point = path.evaluate(0);
        else c.vertices[v].path = consumed ? std::move(consumed->vertices[v]) : path.clone();
        if (consumed) consumed->vertices[v].reset();
    }
    c.quadrics.assign(c.vertices.size() * c.samples, Quadric());
    c.quadricSlot.resize(c.vertices.size());
    std::iota(c.quadricSlot.begin(), c.quadricSlot.end(), 0u);
    removed.assign(c.vertices.size(), false);
    adjacent.assign(c.vertices.size(), {});
    incidentLayer.assign(c.vertices.size(), 0); // every triangle is on the arc into the drain, layer 0
}

void VLODObject3DCreator::Builder::copyTriangles(const VObject3D& mesh) {
    logOut() << "Copy triangles ...\n";
    const uint32_t first = addArc(kSource, kDrain);
    c.triangles.resize(mesh.triangles.size());
    for (uint32_t t = 0; t < mesh.triangles.size(); ++t) {
        std::copy(mesh.triangles[t].v, mesh.triangles[t].v + 3, c.triangles[t].v);
        addToArc(t, first);
        for (uint32_t corner : c.triangles[t].v) adjacent[corner].push_back({t, c.nodes[kDrain].layer});
    }
}

void VLODObject3DCreator::Builder::offer(uint32_t i, uint32_t j) {
    const QUADRIC_FT cost = c.collapseCost(i, j);
    if (!(cost < c.mMaxError)) return;
    push({std::max(c.vertices[i].layer, c.vertices[j].layer), cost, order++, i, j});
}

uint32_t VLODObject3DCreator::addNode(uint32_t layer, std::span<const double> errors) {
    assert(errors.size() == samples);
    nodes.emplace_back();
    nodes.back().layer = layer;
    nodeErrors.insert(nodeErrors.end(), errors.begin(), errors.end());
    return uint32_t(nodes.size() - 1);
}

uint32_t VLODObject3DCreator::Builder::addArc(uint32_t source, uint32_t dest) {
    const CreatorArc made{source, dest, {}, uint32_t(c.nodes[source].out.size()), uint32_t(c.nodes[dest].in.size())};
    uint32_t arc = uint32_t(c.arcs.size());
    if (freeArcs.empty()) {
        c.arcs.push_back(made);
    } else {
        arc = freeArcs.back();
        freeArcs.pop_back();
        c.arcs[arc] = made;
    }
    c.nodes[source].out.push_back(arc);
    c.nodes[dest].in.push_back(arc);
    return arc;
}

void VLODObject3DCreator::Builder::addToArc(uint32_t t, uint32_t arc) { c.appendToPatch(arc, t); }

// Takes t off its arc; an arc left empty leaves its nodes too.
void VLODObject3DCreator::Builder::removeFromArc(uint32_t t) {
    CreatorArc& arc = c.arcs[c.triangles[t].arc];
    c.removeFromPatch(t);
    if (arc.patch.empty()) {
        freeArcs.push_back(c.triangles[t].arc);
        // Node 0 has an arc per collapse: take the arc out by its known place.
        std::vector<uint32_t>& out = c.nodes[arc.source].out;
        out[arc.outPosition] = out.back();
        c.arcs[out[arc.outPosition]].outPosition = arc.outPosition;
        out.pop_back();
        std::vector<uint32_t>& in = c.nodes[arc.dest].in;
        in[arc.inPosition] = in.back();
        c.arcs[in[arc.inPosition]].inPosition = arc.inPosition;
        in.pop_back();
    }
}

uint32_t VLODObject3DCreator::Builder::currentStamp(uint32_t i, uint32_t j) const {
    return std::max(incidentLayer[i], incidentLayer[j]);
}

void VLODObject3DCreator::Builder::updateIncidentLayer(uint32_t v) {
    uint32_t layer = 0;
    for (const Incidence& in : adjacent[v]) layer = std::max(layer, in.layer);
    incidentLayer[v] = layer;
}

void VLODObject3DCreator::Builder::run() {
    const auto start = std::chrono::steady_clock::now();
    logOut() << "Iterate priority queue\n";
    std::vector<uint32_t> shared, neighbourhood;
    std::vector<Vec3d> placement;
    while (!c.mCancel && !queue.empty()) {
        Candidate cand = queue.pop().candidate();
        if (removed[cand.i] || removed[cand.j]) continue;
        const uint32_t stamp = currentStamp(cand.i, cand.j);
        if (stamp != cand.stamp) {
            cand.stamp = stamp;
            cand.order = order++;
            push(cand);
            continue;
        }
        assert(cand.cost >= QUADRIC_FT(0.0) && "weight >= QUADRIC_FT(0.0)");
        if (cand.cost > c.mMaxError) break;
        if (baseMode && cand.cost > c.mMinError) baseMode = false;

        // Only pairs that are edges of the live mesh collapse.
        shared.clear();
        for (uint32_t t : adjacent[cand.i])
            if (contains(c.triangles[t], cand.j)) shared.push_back(t);
        if (shared.empty()) continue;
        if (shared.size() > 2) {
            logOut() << "WARNING: too much triangles that contain both indices\n";
            continue; // an edge of more than two triangles cannot collapse soundly
        }
        neighbourhood.assign(adjacent[cand.i].begin(), adjacent[cand.i].end());
        for (uint32_t t : adjacent[cand.j])
            if (!contains(c.triangles[t], cand.i)) neighbourhood.push_back(t);
        // A piece of the mesh that would vanish whole (a lone triangle) stays:
        // its triangles would be left on no arc that the source reaches.
        if (neighbourhood.size() == shared.size()) continue;

        c.collapseCost(cand.i, cand.j, &placement);
        const bool interior = shared.size() == 2;
        const bool check = !interior || (adjacent[cand.i].size() > 1 && adjacent[cand.j].size() > 1 &&
                                         neighbourhood.size() > 2);
        if (check && (foldsOver(cand.i, cand.j, neighbourhood, placement) || !linkConditionHolds(cand.i, cand.j, shared)))
            continue;
        collapse(cand, stamp, placement, neighbourhood);
    }
    logOut() << "\n";
    logOut() << "Maximum priority queue size: " << c.maxQueueSize << "\n"
             << "Last error: " << c.lastError << "\n"
             << "number of edge-collapses: " << c.edgeCollapses << "\n"
             << "number of non-edge-collapses: " << c.nonEdgeCollapses << "\n"
             << "number of layers: " << c.nodes[kSource].layer + 1 << "\n";
    std::map<uint32_t, uint32_t> perLayer;
    for (const CreatorNode& n : c.nodes) ++perLayer[n.layer];
    for (const auto& [layer, count] : perLayer) logOut() << "\tlayer " << layer << ": " << count << " nodes\n";
    logOut() << "Time: " << seconds(start) << "\n";
}

// True when moving i and j to the placement turns a remaining neighbour over
// at some sample.
bool VLODObject3DCreator::Builder::foldsOver(uint32_t i, uint32_t j, const std::vector<uint32_t>& neighbourhood,
                                             const std::vector<Vec3d>& placement) const {
    for (uint32_t t : neighbourhood) {
        const CreatorTriangle& tri = c.triangles[t];
        if (contains(tri, i) && contains(tri, j)) continue;
        int corner = 0;
        while (tri.v[corner] != i && tri.v[corner] != j) ++corner;
        const uint32_t mv = tri.v[corner], av = tri.v[(corner + 1) % 3], bv = tri.v[(corner + 2) % 3];
        for (uint32_t k = 0; k < c.samples; ++k) {
            const Vec3d m = position(mv, k), a = position(av, k), b = position(bv, k);
            const Vec3d before = cross(m - a, b - a), after = cross(placement[k] - a, b - a);
            if (dot(before, after) <= 0) return true;
        }
    }
    return false;
}

// The link condition: the two ends may only have the third corners of their
// shared triangles in common, and may not both span a triangle with them. Any
// other common neighbour would end up on an edge of more than two triangles.
// (Counting |Ti| + |Tj| - |R| == 4 says the same for interior vertices, but
// lets a border vertex through that shares a third neighbour.)
bool VLODObject3DCreator::Builder::linkConditionHolds(uint32_t i, uint32_t j, const std::vector<uint32_t>& shared) const {
    auto neighbours = [&](uint32_t v) {
        std::vector<uint32_t> corners;
        for (uint32_t t : adjacent[v])
            for (uint32_t corner : c.triangles[t].v)
                if (corner != i && corner != j) corners.push_back(corner);
        std::sort(corners.begin(), corners.end());
        corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
        return corners;
    };
    std::vector<uint32_t> a = neighbours(i), b = neighbours(j), common, thirds;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(common));
    for (uint32_t t : shared)
        for (uint32_t corner : c.triangles[t].v)
            if (corner != i && corner != j) thirds.push_back(corner);
    std::sort(thirds.begin(), thirds.end());
    if (common != thirds) return false;
    // Nor may both ends already form a triangle with the two third corners:
    // that is a tetrahedron, which would collapse into two triangles back to back.
    if (thirds.size() == 2) {
        auto hasTriangle = [&](uint32_t end) {
            return std::any_of(adjacent[end].begin(), adjacent[end].end(), [&](uint32_t t) {
                return contains(c.triangles[t], thirds[0]) && contains(c.triangles[t], thirds[1]);
            });
        };
        if (hasTriangle(i) && hasTriangle(j)) return false;
    }
    return true;
}

uint32_t VLODObject3DCreator::Builder::addVertex(uint32_t i, uint32_t j, const std::vector<Vec3d>& placement) {
    CreatorVertex v;
    if (c.vertices[i].isStatic() && c.vertices[j].isStatic()) {
        v.point = Vec3f(placement[0]);
    } else {
        std::vector<VKeyFrameVertex::Key> keys(c.samples);
        for (uint32_t k = 0; k < c.samples; ++k) keys[k] = {Vec3f(placement[k]), c.sampleTimes[k]};
        v.path = std::make_unique<VKeyFrameVertex>(std::move(keys));
    }
    const uint32_t index = uint32_t(c.vertices.size());
    c.vertices.push_back(std::move(v));
    // The new vertex takes over i's quadric slot: i and j are never asked
    // about again, so the quadrics never outnumber the input's vertices.
    const uint32_t slot = c.quadricSlot[i];
    for (uint32_t k = 0; k < c.samples; ++k)
        c.quadrics[size_t(slot) * c.samples + k].add(c.quadrics[size_t(c.quadricSlot[j]) * c.samples + k]);
    c.quadricSlot.push_back(slot);
    removed.push_back(false);
    adjacent.emplace_back();
    incidentLayer.push_back(0);
    return index;
}

void VLODObject3DCreator::Builder::collapse(const Candidate& cand, uint32_t stamp, const std::vector<Vec3d>& placement,
                                            const std::vector<uint32_t>& neighbourhood) {
    const uint32_t i = cand.i, j = cand.j;
    const uint32_t n = addVertex(i, j, placement);
    removed[i] = removed[j] = true;

    uint32_t node = kDrain, newArc = 0;
    if (!baseMode) {
        std::vector<double>& errors = scratchErrors;
        errors.assign(1, cand.cost);
        if (c.samples > 1) {
            errors.clear();
            for (uint32_t k = 0; k < c.samples; ++k) {
                Quadric q = c.quadrics[size_t(c.quadricSlot[n]) * c.samples + k];
                errors.push_back(std::max<QUADRIC_FT>(0, q.evaluate(placement[k])));
            }
        }
        node = c.addNode(stamp + 1, errors);
        newArc = addArc(kSource, node);
        c.nodes[kSource].layer = std::max(c.nodes[kSource].layer, c.nodes[node].layer + 1);
    }
    const uint32_t layer = c.nodes[node].layer;
    c.vertices[n].layer = baseMode ? std::max(c.vertices[i].layer, c.vertices[j].layer) : layer;

    std::vector<std::pair<uint32_t, uint32_t>>& arcToDest = scratchArcToDest; // (X, arc N -> X), made on first need
    std::vector<uint32_t>& changed = scratchChanged;                          // triangles now holding n
    std::vector<uint32_t>& ring = scratchRing; // vertices whose incidences change
    arcToDest.clear();
    changed.clear();
    ring.clear();
    for (uint32_t t : neighbourhood) {
        const bool both = contains(c.triangles[t], i) && contains(c.triangles[t], j);
        for (uint32_t corner : c.triangles[t].v)
            if (corner != i && corner != j) {
                eraseIncidence(adjacent[corner], t);
                ring.push_back(corner);
            }
        if (baseMode) {
            if (both) {
                removeFromArc(t);
                c.triangles[t].arc = UINT32_MAX;
                continue;
            }
            for (uint32_t& corner : c.triangles[t].v)
                if (corner == i || corner == j) corner = n;
            changed.push_back(t);
            continue;
        }
        const uint32_t dest = c.arcs[c.triangles[t].arc].dest;
        removeFromArc(t);
        auto found = std::find_if(arcToDest.begin(), arcToDest.end(), [&](const auto& e) { return e.first == dest; });
        if (found == arcToDest.end()) {
            arcToDest.emplace_back(dest, addArc(node, dest));
            found = arcToDest.end() - 1;
        }
        addToArc(t, found->second);
        if (both) continue;
        CreatorTriangle copy = c.triangles[t];
        for (uint32_t& corner : copy.v)
            if (corner == i || corner == j) corner = n;
        const uint32_t copyIndex = uint32_t(c.triangles.size());
        c.triangles.push_back(copy);
        addToArc(copyIndex, newArc);
        changed.push_back(copyIndex);
    }
    adjacent[i].clear();
    adjacent[i].shrink_to_fit();
    adjacent[j].clear();
    adjacent[j].shrink_to_fit();

    std::vector<uint32_t>& offered = scratchOffered;
    offered.clear();
    adjacent[n].reserve(changed.size());
    for (uint32_t t : changed) {
        const CreatorTriangle& tri = c.triangles[t];
        int rindex = 0;
        while (rindex < 3 && tri.v[rindex] != n) ++rindex;
        assert(rindex < 3 && rindex >= 0 && "rindex < 3 && rindex >= 0");
        assert(c.arcs[tri.arc].source == kSource && "(*(*adjTrIt)->arc)->source == 0");
        for (uint32_t corner : tri.v) {
            adjacent[corner].push_back({t, c.nodes[c.arcs[tri.arc].dest].layer});
            if (corner != n) c.vertices[corner].layer = std::max(c.vertices[corner].layer, layer);
        }
        for (int k = 1; k <= 2; ++k) {
            const uint32_t other = tri.v[(rindex + k) % 3];
            // Each new edge once, although two triangles share it.
            if (std::find(offered.begin(), offered.end(), other) == offered.end()) {
                offered.push_back(other);
                offer(n, other);
            }
        }
    }

    for (uint32_t v : ring) updateIncidentLayer(v);
    updateIncidentLayer(n);

    ++c.edgeCollapses;
    c.lastError = cand.cost;
    if (c.edgeCollapses % 1000 == 0) logOut() << (baseMode ? "," : ".") << std::flush;
    // Each collapse removes one input vertex's worth, and few are left at the end.
    const uint32_t percent = std::max<uint32_t>(1, inputVertices / 100);
    if (c.edgeCollapses % percent == 0)
        c.reportProgress(kStepMultiTriangulation, std::min(1.0f, float(c.edgeCollapses) / float(inputVertices)));
}

void VLODObject3DCreator::Builder::finish() {
    // Every live arc runs from a higher to a lower layer and carries triangles;
    // every node sits one layer above the highest node it refines into.
    for (uint32_t k = 0; k < c.nodes.size(); ++k) {
        const CreatorNode& node = c.nodes[k];
        uint32_t highest = 0;
        for ([[maybe_unused]] uint32_t a : node.out) {
            assert(c.nodes[c.arcs[a].source].layer > c.nodes[c.arcs[a].dest].layer &&
                   "narray[(*ait)->source].layer > narray[(*ait)->dest].layer");
            assert(!c.arcs[a].patch.empty() && "(*ait)->patch.tnum");
            highest = std::max(highest, c.nodes[c.arcs[a].dest].layer);
        }
        assert((k == kSource || node.out.empty() || node.layer == highest + 1) && "narray[k].layer == max_layer+1");
        assert(node.layer <= c.nodes[kSource].layer && "narray[k].layer <= narray[0].layer");
        (void)highest;
    }
    assert(c.nodes[kDrain].layer == 0 && "narray[1].layer == 0");

    std::map<uint32_t, uint32_t> perLayer;
    for (const CreatorNode& n : c.nodes) ++perLayer[n.layer];
    logOut() << "histogramm (bottom-up):\n";
    for (const auto& [layer, count] : perLayer) logOut() << "layer " << layer << ": " << count << "\n";

    removeUnusedVertices();

    size_t sourceTriangles = 0;
    for (uint32_t a : c.nodes[kSource].out) sourceTriangles += c.arcs[a].patch.size();
    logOut() << "Primitives in source node:\n\tTriangles: " << sourceTriangles << "\n\tSimplify ratio: "
             << (inputTriangles ? 100.0 * double(sourceTriangles) / inputTriangles : 0.0) << "\n";
}

// Vertices that no triangle of any arc uses any more are deleted; the rest
// keep their order.
void VLODObject3DCreator::Builder::removeUnusedVertices() {
    logOut() << "Remove unused vertices\n";
    std::vector<uint32_t> newIndex(c.vertices.size(), UINT32_MAX);
    for (uint32_t a = 0; a < c.arcs.size(); ++a)
        for (uint32_t t : c.patchOf(a))
            for (uint32_t v : c.triangles[t].v) newIndex[v] = 0;
    uint32_t kept = 0;
    for (uint32_t v = 0; v < c.vertices.size(); ++v) {
        if (newIndex[v] == UINT32_MAX) continue;
        newIndex[v] = kept;
        if (kept != v) c.vertices[kept] = std::move(c.vertices[v]);
        ++kept;
    }
    logOut() << c.vertices.size() - kept << " vertices removed.\n";
    c.vertices.resize(kept);
    for (uint32_t a = 0; a < c.arcs.size(); ++a)
        for (uint32_t t : c.patchOf(a))
            for (uint32_t& v : c.triangles[t].v) v = newIndex[v];
}
