// Reshaping the builder's graph: merging nodes until arcs carry patches of a
// useful size, and giving each coarsest patch a source node of its own.

#include "LogStream.h"
#include "MergeQueue.h"
#include "StripCountWorker.h"
#include "VLODObject3DCreator.h"
#include "VTriStripLocalOptimizer.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <chrono>
#include <limits>
#include <map>
#include <span>
#include <utility>

namespace {
constexpr uint32_t kSource = 0;
constexpr uint32_t kDrain = 1;
constexpr float kNoWeight = 3.4028235e38f;
constexpr uint32_t kNoArc = UINT32_MAX;
constexpr size_t kManyArcs = 64; // a node with more arcs gets the cheap weight bound
// A patch with more triangles counts as one strip: the strip optimizer's
// memory for the few patches of hundreds of thousands of triangles would
// set the peak of the whole build, for weights that sort last anyway.
constexpr size_t kLargestCountedPatch = 65536;
// Arcs a cycle test scans before it gives up and refuses the merge: on the
// 3.5M-triangle dragon one test in 2,400 scans more.
constexpr size_t kLongestPathSearch = 16384;
// A merge whose source's error is more than this many times its dest's is
// refused (the errors are quadric costs, squared lengths).
constexpr float kLargestErrorRatio = 2;

double largestError(std::span<const double> errors) {
    return errors.empty() ? 0.0 : *std::max_element(errors.begin(), errors.end());
}

class Merger {
  public:
    explicit Merger(VLODObject3DCreator& creator) : c(creator) {}
    void run(uint32_t minPatchSize);

  private:
    size_t countLiveArcs() const;
    size_t countTriangles() const;
    uint32_t stripIndices(uint32_t arc);
    uint32_t stripIndices(uint32_t a, uint32_t b);
    int64_t knownStripIndices(uint32_t a, uint32_t b) const;
    int64_t knownStripIndices(uint32_t arc) const;
    static uint64_t pairKey(uint32_t a, uint32_t b);
    uint64_t pairVersions(uint32_t a, uint32_t b) const;
    size_t pairSlot(uint32_t a, uint32_t b) const;
    void appendCorners(uint32_t arc);
    void countMissing();
    bool mergeable(uint32_t arc) const;
    float errorRatio(uint32_t arc) const;
    MergeEntry entryFor(uint32_t arc, bool exact);
    bool otherPathExists(uint32_t from, uint32_t to, uint32_t direct);
    uint32_t nextVisitRound();
    uint32_t nextMarkRound();
    void initOrder();
    void restoreOrder(uint32_t from, uint32_t to);
    void takeBestPosition(uint32_t s, uint32_t d);
    // Merges the arc's ends; returns the arcs that changed (moved or grown),
    // valid until the next merge.
    const std::vector<uint32_t>& merge(uint32_t arc);
    void moveTriangles(uint32_t from, uint32_t to);
    uint32_t redirect(uint32_t b, uint32_t newSource, uint32_t newDest, uint32_t twin);
    void detach(uint32_t arc);
    void renumber();

    VLODObject3DCreator& c;
    HugePageVector<uint32_t> mVersion;      // bumped whenever an arc changes: older queue entries are void
    HugePageVector<uint32_t> mPatchVersion; // bumped when an arc's triangles change: strip counts are void
    // Two patches with more triangles than this are not counted together.
    size_t mLargestCountedPair = 0;
    HugePageVector<int32_t> mStripCache; // per arc, -1 when unknown
    // Strip counts of arc pairs, by a hash of the two arcs: a memo that
    // forgets what a later pair overwrites, so it needs no allocation.
    struct PairCount {
        uint64_t arcs = UINT64_MAX;
        uint64_t versions = 0;
        uint32_t count = 0;
    };
    HugePageVector<PairCount> mPairCache;
    std::vector<bool> mMerged;
    HugePageVector<uint32_t> mVisitMark;
    HugePageVector<uint64_t> mArcSum; // per node: triangles + 2 over all its arcs
    // A topological order kept through the merges: every arc runs from a
    // smaller to a larger position. Paths between two nodes stay inside the
    // positions between them, which keeps the cycle test small.
    HugePageVector<uint32_t> mPosition;
    std::vector<uint32_t> mForward, mBackward, mPool; // scratch of the order and path searches
    uint32_t mVisitRound = 0;
    double mSmallestError = 3.4028234663852886e38;
    VTriStripLocalOptimizer mStrips;
    std::vector<uint32_t> mScratch;
    // The weight being taken: its united pairs and the source's arcs left.
    std::vector<std::pair<uint32_t, uint32_t>> mUnited;
    std::vector<uint32_t> mLeft;
    // Strip counts still to run: a patch (second is kNoArc) or a pair, and
    // where its corners lie in mScratch.
    struct CountJob {
        uint32_t first, second;
        size_t begin, end;
    };
    std::vector<CountJob> mJobs;
    std::vector<std::span<const uint32_t>> mLists;
    std::vector<size_t> mCounts;
    StripCountWorker mWorker;
    std::vector<uint32_t> mChanged, mMoving; // scratch of merge()
    HugePageVector<double> mNodeError;       // per node, its largest error
    // Per node: the round that marked it and the arc that joins it to the
    // node whose neighbours were marked.
    struct NeighbourMark {
        uint32_t round = 0;
        uint32_t arc = kNoArc;
    };
    HugePageVector<NeighbourMark> mOutByDest, mInBySource;
    uint32_t mMarkRound = 0;
    static void mark(HugePageVector<NeighbourMark>& marks, uint32_t node, uint32_t round, uint32_t arc) {
        marks[node] = {round, arc};
    }
    // The marked arc of node, once; kNoArc when there is none (left).
    static uint32_t take(HugePageVector<NeighbourMark>& marks, uint32_t node, uint32_t round) {
        if (marks[node].round != round) return kNoArc;
        return std::exchange(marks[node].arc, kNoArc);
    }
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
    if (c.arcs[arc].patch.size() > kLargestCountedPatch) return uint32_t(c.arcs[arc].patch.size() + 2);
    if (mStripCache[arc] < 0) {
        mScratch.clear();
        appendCorners(arc);
        mStripCache[arc] = int32_t(mStrips.countStripIndices(mScratch));
    }
    return uint32_t(mStripCache[arc]);
}

uint32_t Merger::stripIndices(uint32_t a, uint32_t b) {
    // Patches this large would cost the strip optimizer more than the rest
    // of the walk together, for weights that sort last anyway: they are
    // counted as if no strip crossed from one to the other.
    if (c.arcs[a].patch.size() + c.arcs[b].patch.size() > mLargestCountedPair)
        return stripIndices(a) + stripIndices(b);
    const int64_t known = knownStripIndices(a, b);
    if (known >= 0) return uint32_t(known);
    mScratch.clear();
    appendCorners(a);
    appendCorners(b);
    const uint32_t count = uint32_t(mStrips.countStripIndices(mScratch));
    mPairCache[pairSlot(a, b)] = {pairKey(a, b), pairVersions(a, b), count};
    return count;
}

// Runs the strip optimizer, two threads at once, on every patch and united
// pair of the weight being taken (mUnited, mLeft) whose count is not known.
void Merger::countMissing() {
    mJobs.clear();
    mScratch.clear();
    auto add = [&](uint32_t a, uint32_t b) {
        const size_t begin = mScratch.size();
        appendCorners(a);
        if (b != kNoArc) appendCorners(b);
        mJobs.push_back({a, b, begin, mScratch.size()});
    };
    for (auto [a, b] : mUnited) {
        if (c.arcs[a].patch.size() + c.arcs[b].patch.size() <= mLargestCountedPair) {
            if (knownStripIndices(a, b) < 0) add(a, b);
            continue;
        }
        for (uint32_t single : {a, b})
            if (knownStripIndices(single) < 0) add(single, kNoArc);
    }
    for (uint32_t a : mLeft)
        if (knownStripIndices(a) < 0) add(a, kNoArc);
    // A patch listed twice is counted twice; that is rare and harmless.
    mLists.clear();
    for (const CountJob& job : mJobs)
        mLists.emplace_back(mScratch.data() + job.begin, job.end - job.begin);
    mCounts.resize(mJobs.size());
    mWorker.countAll(mLists, mCounts);
    for (size_t k = 0; k < mJobs.size(); ++k) {
        const CountJob& job = mJobs[k];
        if (job.second == kNoArc)
            mStripCache[job.first] = int32_t(mCounts[k]);
        else
            mPairCache[pairSlot(job.first, job.second)] = {pairKey(job.first, job.second),
                                                           pairVersions(job.first, job.second),
                                                           uint32_t(mCounts[k])};
    }
}

// What stripIndices(a, b) would answer without running the strip optimizer;
// -1 when that is not known.
int64_t Merger::knownStripIndices(uint32_t a, uint32_t b) const {
    if (c.arcs[a].patch.size() + c.arcs[b].patch.size() > mLargestCountedPair)
        return knownStripIndices(a) < 0 || knownStripIndices(b) < 0 ? -1 : knownStripIndices(a) + knownStripIndices(b);
    const PairCount& known = mPairCache[pairSlot(a, b)];
    return known.arcs == pairKey(a, b) && known.versions == pairVersions(a, b) ? int64_t(known.count) : -1;
}

int64_t Merger::knownStripIndices(uint32_t arc) const {
    const size_t triangles = c.arcs[arc].patch.size();
    return triangles > kLargestCountedPatch ? int64_t(triangles + 2) : mStripCache[arc];
}

uint64_t Merger::pairKey(uint32_t a, uint32_t b) { return uint64_t(std::min(a, b)) << 32 | std::max(a, b); }

size_t Merger::pairSlot(uint32_t a, uint32_t b) const {
    return size_t((pairKey(a, b) * 0x9E3779B97F4A7C15ull) >> 32) & (mPairCache.size() - 1);
}

void Merger::appendCorners(uint32_t arc) {
    size_t at = mScratch.size();
    mScratch.resize(at + 3 * c.arcs[arc].patch.size());
    for (uint32_t t : c.patchOf(arc))
        for (uint32_t v : c.triangles[t].v) mScratch[at++] = v;
}

uint64_t Merger::pairVersions(uint32_t a, uint32_t b) const {
    return uint64_t(mPatchVersion[std::min(a, b)]) << 32 | mPatchVersion[std::max(a, b)];
}

// Arcs that touch the source or the drain would be refused whenever the walk
// reached them, and their weights are the costly ones (those two nodes carry
// most arcs): they are never queued.
bool Merger::mergeable(uint32_t arc) const {
    const CreatorArc& a = c.arcs[arc];
    return !a.patch.empty() && a.source != kSource && a.source != kDrain && a.dest != kSource && a.dest != kDrain;
}

// Weight of merging the arc's two ends: the strip indices of the patches the
// merge would unite (and of the source's other patches), per united pair.
//
// Most entries go stale or lie beyond the point where the walk stops, so the
// strip optimizer runs only for entries the walk reaches: until then an entry
// carries a lower bound, with every patch counted as one strip (n triangles,
// n + 2 indices). The bound never exceeds the exact weight, so an entry made
// exact when the walk reaches it sorts at or after the walk's position and
// the merges happen in the order of the exact weights.
//
// A few nodes gather thousands of arcs. Below such a source the bound is
// looser but costs nothing per arc: every arc of the source counted once,
// as if as many pairs as the dest has arcs were united.
MergeEntry Merger::entryFor(uint32_t arc, bool exact) {
    const uint32_t s = c.arcs[arc].source, d = c.arcs[arc].dest;
    const float ratio = errorRatio(arc);
    // Refused when the walk reaches it, whatever its weight: not worth taking.
    if (ratio > kLargestErrorRatio) return {0, ratio, arc, mVersion[arc], true};
    const size_t sourceArcs = c.nodes[s].out.size() + c.nodes[s].in.size();
    if (!exact && sourceArcs > kManyArcs) {
        const size_t pairs = std::min(sourceArcs, c.nodes[d].out.size() + c.nodes[d].in.size()) - 1;
        const uint64_t others = mArcSum[s] - (c.arcs[arc].patch.size() + 2);
        return {pairs ? float(double(others) / double(pairs)) : kNoWeight, ratio, arc, mVersion[arc], false};
    }
    // The source's arcs by their other node (a node joins s by at most one
    // arc each way); an arc leaves its list once it is paired.
    const uint32_t round = nextMarkRound();
    for (uint32_t a : c.nodes[s].out)
        if (a != arc) mark(mOutByDest, c.arcs[a].dest, round, a);
    for (uint32_t a : c.nodes[s].in) mark(mInBySource, c.arcs[a].source, round, a);
    mUnited.clear();
    mLeft.clear();
    for (uint32_t b : c.nodes[d].out) {
        const uint32_t a = take(mOutByDest, c.arcs[b].dest, round);
        if (a != kNoArc) mUnited.push_back({a, b});
    }
    for (uint32_t b : c.nodes[d].in) {
        if (b == arc) continue;
        const uint32_t a = take(mInBySource, c.arcs[b].source, round);
        if (a != kNoArc) mUnited.push_back({a, b});
    }
    for (uint32_t a : c.nodes[s].out)
        if (a != arc && take(mOutByDest, c.arcs[a].dest, round) != kNoArc) mLeft.push_back(a);
    for (uint32_t a : c.nodes[s].in)
        if (take(mInBySource, c.arcs[a].source, round) != kNoArc) mLeft.push_back(a);

    uint64_t sum = 0;
    if (exact) {
        countMissing();
        for (auto [a, b] : mUnited) sum += stripIndices(a, b);
        for (uint32_t a : mLeft) sum += stripIndices(a);
    } else {
        for (auto [a, b] : mUnited) sum += c.arcs[a].patch.size() + c.arcs[b].patch.size() + 2;
        for (uint32_t a : mLeft) sum += c.arcs[a].patch.size() + 2;
    }
    const size_t pairs = mUnited.size();
    const float weight = pairs ? float(double(sum) / pairs) : kNoWeight;
    return {weight, ratio, arc, mVersion[arc], exact};
}

// Merges ordered by strip weight alone snowball into a few nodes that join
// steps from the coarse mesh down to the full one: one turned a thousand
// coarse triangles into a hundred thousand fine ones, and any view finer
// than the coarsest cut drew them whole. Refusing merges whose source's
// error is far above its dest's keeps each node within a narrow error band,
// so a cut refines only where the view needs it. The nodes' errors never
// change, and an arc whose ends change is queued anew, so a refused arc is
// refused for good.
float Merger::errorRatio(uint32_t arc) const {
    const double half = mSmallestError / 2;
    return float(std::max(mNodeError[c.arcs[arc].source], half) / std::max(mNodeError[c.arcs[arc].dest], half));
}

uint32_t Merger::nextMarkRound() {
    if (++mMarkRound == 0) {
        std::fill(mOutByDest.begin(), mOutByDest.end(), NeighbourMark{});
        std::fill(mInBySource.begin(), mInBySource.end(), NeighbourMark{});
        mMarkRound = 1;
    }
    return mMarkRound;
}

uint32_t Merger::nextVisitRound() {
    if (++mVisitRound == 0) {
        std::fill(mVisitMark.begin(), mVisitMark.end(), 0);
        mVisitRound = 1;
    }
    return mVisitRound;
}

// True when a path other than the arc `direct` leads from `from` to `to`;
// merging the two would then close a cycle. No path runs back from `to`,
// which lies later in the order, and a path between them only passes nodes
// placed between them. The search runs from both ends in turns and stops
// when either side runs out, so it costs about twice the smaller side.
//
// On large graphs a few searches wander through much of the graph between
// two nodes far apart in the order, and their cost grows faster than the
// graph: a search that has scanned kLongestPathSearch arcs answers true.
// Refusing a merge never closes a cycle, and the arc is queued again if a
// later merge moves it.
bool Merger::otherPathExists(uint32_t from, uint32_t to, uint32_t direct) {
    const uint32_t forwardRound = nextVisitRound(), backwardRound = nextVisitRound();
    const uint32_t lower = mPosition[from], upper = mPosition[to];
    std::vector<uint32_t>& forward = mForward;
    std::vector<uint32_t>& backward = mBackward;
    forward.clear();
    backward.clear();
    // Marks a node for one side; true when the other side has reached it.
    auto reach = [&](uint32_t n, uint32_t round, uint32_t otherRound, std::vector<uint32_t>& stack) {
        if (mVisitMark[n] == otherRound) return true;
        if (mVisitMark[n] != round) {
            mVisitMark[n] = round;
            stack.push_back(n);
        }
        return false;
    };
    // A side whose end has many arcs is not seeded: scanning them all would
    // cost more than the search. The other side then searches alone, to the
    // end it looks for.
    const bool searchForward = c.nodes[from].out.size() <= kManyArcs || c.nodes[to].in.size() > kManyArcs;
    const bool searchBackward = c.nodes[to].in.size() <= kManyArcs || !searchForward;
    if (searchForward)
        for (uint32_t a : c.nodes[from].out) {
            const uint32_t n = c.arcs[a].dest;
            if (a == direct || mPosition[n] >= upper) {
                if (a != direct && n == to) return true;
                continue;
            }
            reach(n, forwardRound, backwardRound, forward);
        }
    if (searchBackward)
        for (uint32_t a : c.nodes[to].in) {
            const uint32_t n = c.arcs[a].source;
            if (a == direct || mPosition[n] <= lower) continue;
            if (reach(n, backwardRound, forwardRound, backward)) return true;
        }
    size_t scanned = 0;
    while (!(searchForward && forward.empty()) && !(searchBackward && backward.empty())) {
        if (scanned > kLongestPathSearch) return true;
        if (!forward.empty()) {
            const uint32_t f = forward.back();
            forward.pop_back();
            scanned += c.nodes[f].out.size();
            for (uint32_t a : c.nodes[f].out) {
                const uint32_t n = c.arcs[a].dest;
                if (n == to) return true;
                if (mPosition[n] < upper && reach(n, forwardRound, backwardRound, forward)) return true;
            }
        }
        if (!backward.empty()) {
            const uint32_t b = backward.back();
            backward.pop_back();
            scanned += c.nodes[b].in.size();
            for (uint32_t a : c.nodes[b].in) {
                const uint32_t n = c.arcs[a].source;
                if (n == from) return true;
                if (mPosition[n] > lower && reach(n, backwardRound, forwardRound, backward)) return true;
            }
        }
    }
    return false;
}

// A first topological order: by layer, coarsest first, when the layers fall
// along every arc (as the builder leaves them); otherwise Kahn's.
void Merger::initOrder() {
    std::vector<uint32_t> byLayer(c.nodes.size());
    for (uint32_t n = 0; n < byLayer.size(); ++n) byLayer[n] = n;
    std::stable_sort(byLayer.begin(), byLayer.end(),
                     [&](uint32_t a, uint32_t b) { return c.nodes[a].layer > c.nodes[b].layer; });
    mPosition.assign(c.nodes.size(), 0);
    for (uint32_t i = 0; i < byLayer.size(); ++i) mPosition[byLayer[i]] = i;
    bool valid = true;
    for (const CreatorArc& a : c.arcs) valid = valid && (a.patch.empty() || mPosition[a.source] < mPosition[a.dest]);
    if (valid) return;
    std::vector<uint32_t> waiting(c.nodes.size()), ready;
    for (uint32_t n = 0; n < c.nodes.size(); ++n) {
        waiting[n] = uint32_t(c.nodes[n].in.size());
        if (waiting[n] == 0) ready.push_back(n);
    }
    uint32_t placed = 0;
    while (!ready.empty()) {
        const uint32_t n = ready.back();
        ready.pop_back();
        mPosition[n] = placed++;
        for (uint32_t a : c.nodes[n].out)
            if (--waiting[c.arcs[a].dest] == 0) ready.push_back(c.arcs[a].dest);
    }
    assert(placed == c.nodes.size() && "the graph has a cycle");
}

// The arc from -> to was just added against the order (to is placed before
// from). Reorders the nodes between the two (Pearce and Kelly, "A dynamic
// topological sort algorithm for directed acyclic graphs", 2006): those that
// reach `from` move before those that `to` reaches, using the same positions.
void Merger::restoreOrder(uint32_t from, uint32_t to) {
    const uint32_t lower = mPosition[to], upper = mPosition[from];
    assert(lower < upper);
    auto collect = [&](uint32_t start, bool forward, std::vector<uint32_t>& found) {
        const uint32_t round = nextVisitRound();
        found.assign(1, start);
        mVisitMark[start] = round;
        for (size_t i = 0; i < found.size(); ++i) {
            const CreatorNode& n = c.nodes[found[i]];
            for (uint32_t a : forward ? n.out : n.in) {
                const uint32_t next = forward ? c.arcs[a].dest : c.arcs[a].source;
                assert(next != (forward ? from : to) && "a merge closed a cycle");
                const bool inside = forward ? mPosition[next] < upper : mPosition[next] > lower;
                if (inside && mVisitMark[next] != round) {
                    mVisitMark[next] = round;
                    found.push_back(next);
                }
            }
        }
    };
    collect(to, true, mForward);
    collect(from, false, mBackward);
    auto byPosition = [&](uint32_t a, uint32_t b) { return mPosition[a] < mPosition[b]; };
    std::sort(mForward.begin(), mForward.end(), byPosition);
    std::sort(mBackward.begin(), mBackward.end(), byPosition);
    mPool.clear();
    for (uint32_t n : mBackward) mPool.push_back(mPosition[n]);
    for (uint32_t n : mForward) mPool.push_back(mPosition[n]);
    std::sort(mPool.begin(), mPool.end());
    size_t next = 0;
    for (uint32_t n : mBackward) mPosition[n] = mPool[next++];
    for (uint32_t n : mForward) mPosition[n] = mPool[next++];
}

// The merged node s keeps its place in the order or takes d's, whichever
// leaves every arc running forward. Staying fails when a predecessor of d
// lies after s; moving fails when a successor of s lies before d. Only when
// both fail must the order be repaired, and on large graphs the repair is
// the costliest part of a merge.
void Merger::takeBestPosition(uint32_t s, uint32_t d) {
    const uint32_t here = mPosition[s], there = mPosition[d];
    auto after = [&](uint32_t a) { return mPosition[c.arcs[a].source] > here; };
    if (std::ranges::none_of(c.nodes[d].in, after)) return;
    auto before = [&](uint32_t a) { return mPosition[c.arcs[a].dest] < there; };
    if (std::ranges::none_of(c.nodes[s].out, before)) mPosition[s] = there;
}

// Takes the arc out of its nodes' lists (the last one of each list takes its
// place: the source and the drain hold long lists); its patch is left alone.
void Merger::detach(uint32_t arc) {
    const CreatorArc& a = c.arcs[arc];
    mArcSum[a.source] -= a.patch.size() + 2;
    mArcSum[a.dest] -= a.patch.size() + 2;
    std::vector<uint32_t>& out = c.nodes[a.source].out;
    assert(out[a.outPosition] == arc);
    c.arcs[out.back()].outPosition = a.outPosition;
    out[a.outPosition] = out.back();
    out.pop_back();
    std::vector<uint32_t>& in = c.nodes[a.dest].in;
    assert(in[a.inPosition] == arc);
    c.arcs[in.back()].inPosition = a.inPosition;
    in[a.inPosition] = in.back();
    in.pop_back();
    ++mVersion[arc];
}

// Re-points arc b to run from newSource to newDest. The twin, an arc that
// already joins the two (kNoArc when there is none), takes b's triangles
// instead. Returns the arc that carries them now.
uint32_t Merger::redirect(uint32_t b, uint32_t newSource, uint32_t newDest, uint32_t twin) {
    detach(b);
    if (twin != kNoArc) {
        moveTriangles(b, twin);
        return twin;
    }
    CreatorArc& arc = c.arcs[b];
    arc.source = newSource;
    arc.dest = newDest;
    mArcSum[newSource] += arc.patch.size() + 2;
    mArcSum[newDest] += arc.patch.size() + 2;
    arc.outPosition = uint32_t(c.nodes[newSource].out.size());
    arc.inPosition = uint32_t(c.nodes[newDest].in.size());
    c.nodes[newSource].out.push_back(b);
    c.nodes[newDest].in.push_back(b);
    return b;
}

void Merger::moveTriangles(uint32_t from, uint32_t to) {
    // The united patch is the pair a weight was taken from, most often.
    const int64_t united = knownStripIndices(from, to);
    mArcSum[c.arcs[to].source] += c.arcs[from].patch.size();
    mArcSum[c.arcs[to].dest] += c.arcs[from].patch.size();
    c.movePatch(from, to);
    --mLiveArcs;
    ++mVersion[to];
    ++mPatchVersion[to];
    mStripCache[to] = united <= INT32_MAX ? int32_t(united) : -1;
}

// Moves every arc of the arc's dest to its source; arcs that then join the
// same two nodes become one. The merged arc's own triangles exist only
// between the two steps, which are now one: they are dropped.
const std::vector<uint32_t>& Merger::merge(uint32_t arc) {
    const uint32_t s = c.arcs[arc].source, d = c.arcs[arc].dest;
    std::vector<uint32_t>& changed = mChanged;
    changed.clear();
    assert(!mMerged[d] && "!merged_nodes.is_set(source_node)");
    detach(arc);
    mTriangles -= c.arcs[arc].patch.size();
    --mLiveArcs;
    c.dropPatch(arc);

    takeBestPosition(s, d);
    // s's arcs by their other node, to find the twins.
    const uint32_t round = nextMarkRound();
    for (uint32_t a : c.nodes[s].out) mark(mOutByDest, c.arcs[a].dest, round, a);
    for (uint32_t a : c.nodes[s].in) mark(mInBySource, c.arcs[a].source, round, a);
    // d's successors lie after d, so after s: only d's predecessors can end
    // up on the wrong side of s.
    mMoving = c.nodes[d].out; // redirect() changes d's lists
    for (uint32_t b : mMoving) {
        const uint32_t to = c.arcs[b].dest;
        const uint32_t carrier = redirect(b, s, to, take(mOutByDest, to, round));
        mark(mOutByDest, to, round, carrier);
        changed.push_back(carrier);
    }
    mMoving = c.nodes[d].in;
    for (uint32_t b : mMoving) {
        const uint32_t from = c.arcs[b].source;
        const uint32_t carrier = redirect(b, from, s, take(mInBySource, from, round));
        mark(mInBySource, from, round, carrier);
        changed.push_back(carrier);
        if (mPosition[from] > mPosition[s]) restoreOrder(from, s);
    }
    mMerged[d] = true;
    // Hundreds of thousands of nodes merge away: their lists go back too.
    assert(c.nodes[d].out.empty() && c.nodes[d].in.empty());
    std::vector<uint32_t>().swap(c.nodes[d].out);
    std::vector<uint32_t>().swap(c.nodes[d].in);
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
    mNodeError.resize(c.nodes.size());
    for (uint32_t n = 0; n < c.nodes.size(); ++n) {
        mNodeError[n] = largestError(c.nodeError(n));
        if (mNodeError[n] > 0) mSmallestError = std::min(mSmallestError, mNodeError[n]);
    }
    logOut() << "smallest node error: " << mSmallestError << "\n";

    mLargestCountedPair = 4 * size_t(minPatchSize);
    // A slot per four arcs: most arcs merge early, and the memo is the
    // largest array of the step.
    mPairCache.assign(std::bit_ceil(std::max<size_t>(c.arcs.size() / 4, 1024)), PairCount{});
    mVersion.assign(c.arcs.size(), 0);
    mPatchVersion.assign(c.arcs.size(), 0);
    mStripCache.assign(c.arcs.size(), -1);
    mMerged.assign(c.nodes.size(), false);
    mVisitMark.assign(c.nodes.size(), 0);
    mArcSum.assign(c.nodes.size(), 0);
    for (uint32_t n = 0; n < c.nodes.size(); ++n) {
        const CreatorNode& node = c.nodes[n];
        for (uint32_t i = 0; i < node.out.size(); ++i) c.arcs[node.out[i]].outPosition = i;
        for (uint32_t i = 0; i < node.in.size(); ++i) c.arcs[node.in[i]].inPosition = i;
        for (const auto* list : {&node.out, &node.in})
            for (uint32_t a : *list) mArcSum[n] += c.arcs[a].patch.size() + 2;
    }
    mOutByDest.assign(c.nodes.size(), {});
    mInBySource.assign(c.nodes.size(), {});
    initOrder();

    logOut() << "init arc priority queue\n";
    MergeQueue queue(c.arcs.size());
    uint32_t queued = 0;
    for (uint32_t a = 0; a < c.arcs.size(); ++a) {
        if (!mergeable(a)) continue;
        queue.push(entryFor(a, false));
        if (++queued % 1000 == 0) logOut() << "." << std::flush;
    }
    logOut() << "\n";

    float maxWeight = 0;
    uint32_t merges = 0;
    double lastProgress = 0;
    while (!queue.empty() && !c.mCancel) {
        MergeEntry entry = queue.pop();
        if (c.arcs[entry.arc].patch.empty() || entry.version != mVersion[entry.arc]) continue;
        maxWeight = std::max(maxWeight, entry.weight);
        // Merges keep every path, so an arc refused now would be refused at
        // its exact weight too: the test comes before the strip counts.
        const uint32_t s = c.arcs[entry.arc].source, d = c.arcs[entry.arc].dest;
        if (s == kSource || s == kDrain || d == kSource || d == kDrain || errorRatio(entry.arc) > kLargestErrorRatio ||
            otherPathExists(s, d, entry.arc)) {
            logOut() << "r";
            continue;
        }
        if (!entry.exact) {
            // The graph may have changed around the arc since the bound was
            // taken; a weight that fell below the walk's position is taken
            // here rather than lost behind it.
            const MergeEntry exact = entryFor(entry.arc, true);
            if (!sortsBefore(exact, entry)) {
                queue.push(exact);
                continue;
            }
            entry = exact;
            maxWeight = std::max(maxWeight, entry.weight);
        }
        ++merges;
        logOut() << "M";
        for (uint32_t a : merge(entry.arc))
            if (mergeable(a)) {
                // A changed arc whose weight fell below the walk's position
                // is taken next rather than left behind the walk for good.
                MergeEntry changed = entryFor(a, false);
                if (sortsBefore(changed, entry)) {
                    changed.weight = entry.weight;
                    changed.ratio = entry.ratio;
                }
                queue.push(changed);
            }

        const size_t arcs = mLiveArcs;
        const double progress = double(mTriangles) / double(std::max<size_t>(1, arcs)) / minPatchSize;
        if (progress - lastProgress > 0.01) {
            logOut() << int(100 * progress) << "% ";
            lastProgress = progress;
            c.reportProgress(VLODObject3DCreator::kStepMergeNodes, float(std::min(1.0, progress)));
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
    for ([[maybe_unused]] uint32_t a = 0; a < c.arcs.size(); ++a)
        assert((c.arcs[a].patch.empty() || mPosition[c.arcs[a].source] < mPosition[c.arcs[a].dest]) &&
               "the node order is topological");
    renumber();

    // Arcs whose coarser end has the smaller error vector.
    uint32_t errorNodes = 0;
    for (const CreatorArc& a : c.arcs)
        errorNodes += std::ranges::lexicographical_compare(c.nodeError(a.source), c.nodeError(a.dest));
    logOut() << "NUMBER OF ERROR NODES: " << errorNodes << "\n";
    std::map<size_t, uint32_t> sizes;
    for (const CreatorArc& a : c.arcs) ++sizes[a.patch.size()];
    logOut() << "Histogramm of patch sizes: \n";
    for (const auto& [size, count] : sizes) logOut() << size << ": " << count << "\n";
}

// Drops merged nodes and dead arcs; indices shrink, order is kept.
void Merger::renumber() {
    c.compactArcs();
    std::vector<uint32_t> nodeIndex(c.nodes.size(), UINT32_MAX);
    uint32_t keptNodes = 0;
    for (uint32_t n = 0; n < c.nodes.size(); ++n)
        if (!mMerged[n]) nodeIndex[n] = keptNodes++;
    for (CreatorArc& arc : c.arcs) {
        arc.source = nodeIndex[arc.source];
        arc.dest = nodeIndex[arc.dest];
    }
    for (uint32_t n = 0; n < c.nodes.size(); ++n)
        if (nodeIndex[n] != UINT32_MAX && nodeIndex[n] != n) {
            c.nodes[nodeIndex[n]] = std::move(c.nodes[n]);
            std::ranges::copy(c.nodeError(n), c.nodeError(nodeIndex[n]).begin());
        }
    c.nodes.resize(keptNodes);
    c.nodeErrors.resize(size_t(keptNodes) * c.samples);
    for (uint32_t a = 0; a < c.arcs.size(); ++a)
        for ([[maybe_unused]] uint32_t t : c.patchOf(a))
            for ([[maybe_unused]] uint32_t v : c.triangles[t].v) assert(v < c.vertices.size());
}
} // namespace

void VLODObject3DCreator::mergeNodes(uint32_t minPatchSize) {
    reportProgress(kStepMergeNodes, 0);
    Merger(*this).run(minPatchSize);
    compactTriangles();
    reportProgress(kStepMergeNodes, 1);
}

// An arc without triangles is on no node's list: it goes, and the arcs
// after it move down, keeping their order.
void VLODObject3DCreator::compactArcs() {
    std::vector<uint32_t> arcIndex(arcs.size(), UINT32_MAX);
    uint32_t kept = 0;
    for (uint32_t a = 0; a < arcs.size(); ++a)
        if (!arcs[a].patch.empty()) arcIndex[a] = kept++;
    for (uint32_t a = 0; a < arcs.size(); ++a) {
        if (arcIndex[a] == UINT32_MAX) continue;
        for (uint32_t t : patchOf(a)) triangles[t].arc = arcIndex[a];
        if (arcIndex[a] != a) arcs[arcIndex[a]] = std::move(arcs[a]);
    }
    arcs.resize(kept);
    for (CreatorNode& node : nodes) {
        for (uint32_t& a : node.out) a = arcIndex[a];
        for (uint32_t& a : node.in) a = arcIndex[a];
    }
}

// Merging drops the triangles of every merged arc: on a scan, over half of
// all the builder made. The rest move together, arc by arc, and the
// arrays give back what they no longer use.
void VLODObject3DCreator::compactTriangles() {
    size_t live = 0;
    for (const CreatorArc& arc : arcs) live += arc.patch.size();
    HugePageVector<CreatorTriangle> kept;
    kept.reserve(live);
    for (uint32_t a = 0; a < arcs.size(); ++a) {
        const uint32_t first = uint32_t(kept.size());
        for (uint32_t t : patchOf(a)) {
            kept.push_back(triangles[t]);
            kept.back().prev = kept.size() - 1 == first ? kNoTriangle : uint32_t(kept.size() - 2);
            kept.back().next = uint32_t(kept.size());
        }
        CreatorPatch& patch = arcs[a].patch;
        if (patch.empty()) continue;
        kept.back().next = kNoTriangle;
        patch.first = first;
        patch.last = uint32_t(kept.size() - 1);
    }
    triangles.swap(kept);
    arcs.shrink_to_fit();
    nodes.shrink_to_fit();
}
