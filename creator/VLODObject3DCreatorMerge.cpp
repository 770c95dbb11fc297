// Reshaping the builder's graph: merging nodes until arcs carry patches of a
// useful size, and giving each coarsest patch a source node of its own.

#include "LogStream.h"
#include "VLODObject3DCreator.h"
#include "VTriStripLocalOptimizer.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>

namespace {
constexpr uint32_t kSource = 0;
constexpr uint32_t kDrain = 1;
constexpr float kNoWeight = 3.4028235e38f;
constexpr uint32_t kNoArc = UINT32_MAX;
// Nodes a cycle search may visit before it gives up and refuses the merge.
constexpr uint32_t kPathSearchBudget = 4096;

double nodeError(const CreatorNode& n) {
    return n.error.empty() ? 0.0 : *std::max_element(n.error.begin(), n.error.end());
}

struct MergeEntry {
    float weight;
    float ratio;
    uint32_t arc;
    uint32_t version; // the arc's version when the entry was made
};

struct EntryOrder {
    bool operator()(const MergeEntry& a, const MergeEntry& b) const {
        return a.weight != b.weight ? a.weight < b.weight : a.ratio < b.ratio;
    }
};

class Merger {
  public:
    explicit Merger(VLODObject3DCreator& creator) : c(creator) {}
    void run(uint32_t minPatchSize);

  private:
    size_t countLiveArcs() const;
    size_t countTriangles() const;
    uint32_t stripIndices(uint32_t arc);
    uint32_t stripIndices(uint32_t a, uint32_t b);
    MergeEntry entryFor(uint32_t arc);
    bool otherPathExists(uint32_t from, uint32_t to, uint32_t direct);
    // Merges the arc's ends; returns the arcs that changed (moved or grown).
    std::vector<uint32_t> merge(uint32_t arc);
    void moveTriangles(uint32_t from, uint32_t to);
    uint32_t redirect(uint32_t b, uint32_t newSource, uint32_t newDest);
    void detach(uint32_t arc);
    uint32_t outArcTo(uint32_t node, uint32_t dest) const;
    void renumber();

    VLODObject3DCreator& c;
    std::vector<uint32_t> mVersion;      // bumped whenever an arc changes: older queue entries are void
    std::vector<uint32_t> mPatchVersion; // bumped when an arc's triangles change: strip counts are void
    std::vector<int64_t> mStripCache;            // per arc, -1 when unknown
    std::unordered_map<uint64_t, std::pair<uint64_t, uint32_t>> mPairCache; // arcs -> (versions, count)
    std::vector<bool> mMerged;
    std::vector<uint32_t> mVisitMark;
    uint32_t mVisitRound = 0;
    double mSmallestError = 3.4028234663852886e38;
    VTriStripLocalOptimizer mStrips;
    std::vector<uint32_t> mScratch;
    // Kept up to date by merge(), so that progress costs nothing per merge.
    size_t mLiveArcs = 0;
    size_t mTriangles = 0;
};

size_t Merger::countLiveArcs() const {
    size_t n = 0;
    for (const CreatorArc& a : c.arcs) n += !a.patch.empty();
    return n;
}

size_t Merger::countTriangles() const {
    size_t n = 0;
    for (const CreatorArc& a : c.arcs) n += a.patch.size();
    return n;
}

uint32_t Merger::stripIndices(uint32_t arc) {
    if (mStripCache[arc] < 0) {
        mScratch.clear();
        for (uint32_t t : c.arcs[arc].patch) mScratch.insert(mScratch.end(), c.triangles[t].v, c.triangles[t].v + 3);
        mStripCache[arc] = int64_t(VTriStripLocalOptimizer::countIndices(mStrips.optimizeStrips(mScratch)));
    }
    return uint32_t(mStripCache[arc]);
}

uint32_t Merger::stripIndices(uint32_t a, uint32_t b) {
    const uint64_t key = uint64_t(std::min(a, b)) << 32 | std::max(a, b);
    const uint64_t versions = uint64_t(mPatchVersion[std::min(a, b)]) << 32 | mPatchVersion[std::max(a, b)];
    auto it = mPairCache.find(key);
    if (it != mPairCache.end() && it->second.first == versions) return it->second.second;
    mScratch.clear();
    for (uint32_t arc : {a, b})
        for (uint32_t t : c.arcs[arc].patch) mScratch.insert(mScratch.end(), c.triangles[t].v, c.triangles[t].v + 3);
    const uint32_t count = uint32_t(VTriStripLocalOptimizer::countIndices(mStrips.optimizeStrips(mScratch)));
    mPairCache[key] = {versions, count};
    return count;
}

uint32_t Merger::outArcTo(uint32_t node, uint32_t dest) const {
    for (uint32_t a : c.nodes[node].out)
        if (c.arcs[a].dest == dest) return a;
    return kNoArc;
}

// Weight of merging the arc's two ends: the strip indices of the patches the
// merge would unite (and of the source's other patches), per united pair.
MergeEntry Merger::entryFor(uint32_t arc) {
    const uint32_t s = c.arcs[arc].source, d = c.arcs[arc].dest;
    const double half = mSmallestError / 2;
    const float ratio = float(std::max(nodeError(c.nodes[s]), half) / std::max(nodeError(c.nodes[d]), half));
    std::map<uint32_t, uint32_t> outByDest, inBySource; // neighbour -> arc of s
    for (uint32_t a : c.nodes[s].out)
        if (a != arc) outByDest[c.arcs[a].dest] = a;
    for (uint32_t a : c.nodes[s].in) inBySource[c.arcs[a].source] = a;
    uint64_t sum = 0;
    uint32_t pairs = 0;
    for (uint32_t b : c.nodes[d].out) {
        auto it = outByDest.find(c.arcs[b].dest);
        if (it == outByDest.end()) continue;
        sum += stripIndices(it->second, b);
        ++pairs;
        outByDest.erase(it);
    }
    for (uint32_t b : c.nodes[d].in) {
        if (b == arc) continue;
        auto it = inBySource.find(c.arcs[b].source);
        if (it == inBySource.end()) continue;
        sum += stripIndices(it->second, b);
        ++pairs;
        inBySource.erase(it);
    }
    for (const auto& [node, a] : outByDest) sum += stripIndices(a);
    for (const auto& [node, a] : inBySource) sum += stripIndices(a);
    const float weight = pairs ? float(double(sum) / pairs) : kNoWeight;
    return {weight, ratio, arc, mVersion[arc]};
}

// True when a path other than the arc `direct` leads from `from` to `to`, or
// when the search is too large to tell; merging then could close a cycle.
bool Merger::otherPathExists(uint32_t from, uint32_t to, uint32_t direct) {
    if (++mVisitRound == 0) {
        std::fill(mVisitMark.begin(), mVisitMark.end(), 0);
        mVisitRound = 1;
    }
    std::vector<uint32_t> stack;
    for (uint32_t a : c.nodes[from].out)
        if (a != direct) stack.push_back(c.arcs[a].dest);
    uint32_t visited = 0;
    while (!stack.empty()) {
        const uint32_t n = stack.back();
        stack.pop_back();
        if (n == to) return true;
        if (mVisitMark[n] == mVisitRound) continue;
        mVisitMark[n] = mVisitRound;
        if (++visited > kPathSearchBudget) return true;
        for (uint32_t a : c.nodes[n].out) stack.push_back(c.arcs[a].dest);
    }
    return false;
}

// Takes the arc out of its nodes' lists; its patch is left alone.
void Merger::detach(uint32_t arc) {
    CreatorArc& a = c.arcs[arc];
    auto drop = [arc](std::vector<uint32_t>& list) { list.erase(std::find(list.begin(), list.end(), arc)); };
    drop(c.nodes[a.source].out);
    drop(c.nodes[a.dest].in);
    ++mVersion[arc];
}

// Re-points arc b to run from newSource to newDest. An arc that already joins
// the two takes b's triangles instead. Returns the arc that carries them now.
uint32_t Merger::redirect(uint32_t b, uint32_t newSource, uint32_t newDest) {
    const uint32_t twin = outArcTo(newSource, newDest);
    detach(b);
    if (twin != kNoArc) {
        moveTriangles(b, twin);
        return twin;
    }
    c.arcs[b].source = newSource;
    c.arcs[b].dest = newDest;
    c.nodes[newSource].out.push_back(b);
    c.nodes[newDest].in.push_back(b);
    return b;
}

void Merger::moveTriangles(uint32_t from, uint32_t to) {
    for (uint32_t t : c.arcs[from].patch) {
        c.triangles[t].arc = to;
        c.triangles[t].position = uint32_t(c.arcs[to].patch.size());
        c.arcs[to].patch.push_back(t);
    }
    c.arcs[from].patch.clear();
    --mLiveArcs;
    ++mVersion[to];
    ++mPatchVersion[to];
    mStripCache[to] = -1;
}

// Moves every arc of the arc's dest to its source; arcs that then join the
// same two nodes become one. The merged arc's own triangles exist only
// between the two steps, which are now one: they are dropped.
std::vector<uint32_t> Merger::merge(uint32_t arc) {
    const uint32_t s = c.arcs[arc].source, d = c.arcs[arc].dest;
    std::vector<uint32_t> changed;
    assert(!mMerged[d] && "!merged_nodes.is_set(source_node)");
    detach(arc);
    for (uint32_t t : c.arcs[arc].patch) c.triangles[t].arc = UINT32_MAX;
    mTriangles -= c.arcs[arc].patch.size();
    --mLiveArcs;
    c.arcs[arc].patch.clear();

    for (uint32_t b : std::vector<uint32_t>(c.nodes[d].out)) changed.push_back(redirect(b, s, c.arcs[b].dest));
    for (uint32_t b : std::vector<uint32_t>(c.nodes[d].in)) changed.push_back(redirect(b, c.arcs[b].source, s));
    mMerged[d] = true;
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    return changed;
}

void Merger::run(uint32_t minPatchSize) {
    const auto start = std::chrono::steady_clock::now();
    logOut() << "merge nodes to increase patch size of arcs\n";
    mLiveArcs = countLiveArcs();
    mTriangles = countTriangles();
    const double average = double(mTriangles) / double(std::max<size_t>(1, mLiveArcs));
    if (double(minPatchSize) <= average || mLiveArcs <= 1) return;

    for (uint32_t n = 0; n < c.nodes.size(); ++n)
        if (c.nodes[n].out.empty() && !c.nodes[n].in.empty()) logOut() << "drain node: " << n << "\n";
    for (const CreatorNode& n : c.nodes) {
        const double e = nodeError(n);
        if (e > 0) mSmallestError = std::min(mSmallestError, e);
    }
    logOut() << "smallest node error: " << mSmallestError << "\n";

    mVersion.assign(c.arcs.size(), 0);
    mPatchVersion.assign(c.arcs.size(), 0);
    mStripCache.assign(c.arcs.size(), -1);
    mMerged.assign(c.nodes.size(), false);
    mVisitMark.assign(c.nodes.size(), 0);

    logOut() << "init arc priority queue\n";
    std::multiset<MergeEntry, EntryOrder> queue;
    uint32_t queued = 0;
    for (uint32_t a = 0; a < c.arcs.size(); ++a) {
        if (c.arcs[a].patch.empty()) continue;
        queue.insert(entryFor(a));
        if (++queued % 1000 == 0) logOut() << "." << std::flush;
    }
    logOut() << "\n";

    float maxWeight = 0;
    uint32_t merges = 0;
    double lastProgress = 0;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        const MergeEntry entry = *it;
        if (c.arcs[entry.arc].patch.empty() || entry.version != mVersion[entry.arc]) continue;
        maxWeight = std::max(maxWeight, entry.weight);
        const uint32_t s = c.arcs[entry.arc].source, d = c.arcs[entry.arc].dest;
        if (s == kSource || s == kDrain || d == kSource || d == kDrain || otherPathExists(s, d, entry.arc)) {
            logOut() << "r";
            continue;
        }
        ++merges;
        logOut() << "M";
        for (uint32_t a : merge(entry.arc))
            if (!c.arcs[a].patch.empty()) queue.insert(entryFor(a));

        const size_t arcs = mLiveArcs;
        const double progress = double(mTriangles) / double(std::max<size_t>(1, arcs)) / minPatchSize;
        if (progress - lastProgress > 0.01) {
            logOut() << int(100 * progress) << "% ";
            lastProgress = progress;
        }
        if (progress >= 1) {
            logOut() << "SUCCESS\n";
            break;
        }
        if (arcs == 1) {
            logOut() << "SINGLE OBJECT CREATED\n";
            break;
        }
    }
    logOut() << "\nMAX WEIGHT: " << maxWeight << "\n"
             << "total # of merges: " << merges << "\n"
             << "# of arcs: " << mLiveArcs << "\n"
             << "time: " << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << "\n";
    renumber();

    // Arcs whose coarser end has the smaller error vector.
    uint32_t errorNodes = 0;
    for (const CreatorArc& a : c.arcs)
        errorNodes += c.nodes[a.source].error < c.nodes[a.dest].error;
    logOut() << "NUMBER OF ERROR NODES: " << errorNodes << "\n";
    std::map<size_t, uint32_t> sizes;
    for (const CreatorArc& a : c.arcs) ++sizes[a.patch.size()];
    logOut() << "Histogramm of patch sizes: \n";
    for (const auto& [size, count] : sizes) logOut() << size << ": " << count << "\n";
}

// Drops merged nodes and dead arcs; indices shrink, order is kept.
void Merger::renumber() {
    std::vector<uint32_t> nodeIndex(c.nodes.size(), UINT32_MAX);
    uint32_t keptNodes = 0;
    for (uint32_t n = 0; n < c.nodes.size(); ++n)
        if (!mMerged[n]) nodeIndex[n] = keptNodes++;
    std::vector<uint32_t> arcIndex(c.arcs.size(), UINT32_MAX);
    uint32_t keptArcs = 0;
    for (uint32_t a = 0; a < c.arcs.size(); ++a)
        if (!c.arcs[a].patch.empty()) arcIndex[a] = keptArcs++;

    for (uint32_t a = 0; a < c.arcs.size(); ++a) {
        if (arcIndex[a] == UINT32_MAX) continue;
        CreatorArc& arc = c.arcs[a];
        arc.source = nodeIndex[arc.source];
        arc.dest = nodeIndex[arc.dest];
        for (uint32_t t : arc.patch) c.triangles[t].arc = arcIndex[a];
        if (arcIndex[a] != a) c.arcs[arcIndex[a]] = std::move(arc);
    }
    c.arcs.resize(keptArcs);
    for (uint32_t n = 0; n < c.nodes.size(); ++n) {
        if (nodeIndex[n] == UINT32_MAX) continue;
        CreatorNode& node = c.nodes[n];
        for (uint32_t& a : node.out) a = arcIndex[a];
        for (uint32_t& a : node.in) a = arcIndex[a];
        if (nodeIndex[n] != n) c.nodes[nodeIndex[n]] = std::move(node);
    }
    c.nodes.resize(keptNodes);
    for (const CreatorArc& arc : c.arcs)
        for ([[maybe_unused]] uint32_t t : arc.patch)
            for ([[maybe_unused]] uint32_t v : c.triangles[t].v) assert(v < c.vertices.size());
}
} // namespace

void VLODObject3DCreator::mergeNodes(uint32_t minPatchSize) { Merger(*this).run(minPatchSize); }
