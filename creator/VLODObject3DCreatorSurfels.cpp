// The surfel tree above the source nodes: one base surfel per source node,
// merged pairwise (least merge error first) until one root is left, then
// thinned where a surfel would hardly differ from its parent.

#include "CoverageMeasure.h"
#include "LogStream.h"
#include "QuantizedNormal.h"
#include "VLODObject3DCreator.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <queue>
#include <set>
#include <tuple>

namespace {
constexpr double kNoCoverageError = 3.4028235e38;
constexpr size_t kNearestNeighbours = 10;

struct MergeCandidate {
    double error;
    uint32_t s1, s2;
    bool operator>(const MergeCandidate& o) const {
        return error != o.error ? error > o.error : std::tie(s1, s2) > std::tie(o.s1, o.s2);
    }
};

class SurfelBuilder {
  public:
    SurfelBuilder(VLODObject3DCreator& creator, CoverageMeasure& measure) : c(creator), mMeasure(measure) {}
    void run();

  private:
    Vec3d position(uint32_t vertex) const { return Vec3d(c.vertices[vertex].evaluate(0)); }
    void fit(CreatorSurfel& surfel, const std::vector<uint32_t>& triangles) const;
    std::vector<uint32_t> neighbours(uint32_t s) const;
    std::vector<uint32_t> nearest(uint32_t s, const std::vector<uint32_t>& among) const;
    MergeCandidate candidate(uint32_t s1, uint32_t s2);
    double mergeError(const CreatorSurfel& parent, const std::vector<uint32_t>& triangles);
    void offerNeighbours(uint32_t s);
    uint32_t merge(uint32_t s1, uint32_t s2);
    void iterateQueue();
    std::vector<uint32_t> roots() const;
    void joinRoots();
    void thin();
    void validate() const;

    VLODObject3DCreator& c;
    CoverageMeasure& mMeasure;
    // surfel -> triangles it covers, vertex -> triangles using it, triangle
    // -> the surfel covering it now (the topmost one).
    std::vector<std::vector<uint32_t>> mSurfelTriangles;
    std::vector<std::vector<uint32_t>> mVertexTriangles;
    std::vector<uint32_t> mTriangleSurfel;
    std::priority_queue<MergeCandidate, std::vector<MergeCandidate>, std::greater<>> mQueue;
    size_t mMerges = 0, mExpectedMerges = 0;
    std::vector<Vec3f> mCorners; // scratch for the measurement
};

// Fits the shape to the distinct corners of the triangles and turns its
// normal the way the triangles face, so that the impostor's front is outside.
void SurfelBuilder::fit(CreatorSurfel& surfel, const std::vector<uint32_t>& triangles) const {
    std::vector<uint32_t> corners;
    Vec3d facing;
    for (uint32_t t : triangles) {
        const uint32_t* v = c.triangles[t].v;
        corners.insert(corners.end(), v, v + 3);
        facing += cross(position(v[1]) - position(v[0]), position(v[2]) - position(v[0]));
    }
    std::sort(corners.begin(), corners.end());
    corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
    std::vector<Vec3d> points;
    points.reserve(corners.size());
    for (uint32_t v : corners) points.push_back(position(v));
    surfel.shape = fitRectangle(points);
    surfel.centre = surfel.shape.centre();
    const Vec3d n = dot(surfel.shape.normal, facing) < 0 ? -surfel.shape.normal : surfel.shape.normal;
    surfel.normal = quantizeNormal(Vec3f(n));
}

// Surfels whose triangles share a vertex with this one's; the ten nearest
// surfels by centre when there are none.
std::vector<uint32_t> SurfelBuilder::neighbours(uint32_t s) const {
    std::set<uint32_t> found;
    for (uint32_t t : mSurfelTriangles[s])
        for (uint32_t v : c.triangles[t].v)
            for (uint32_t other : mVertexTriangles[v])
                if (mTriangleSurfel[other] != s) found.insert(mTriangleSurfel[other]);
    if (!found.empty()) return {found.begin(), found.end()};
    std::vector<uint32_t> candidates;
    for (uint32_t other : roots())
        if (other != s) candidates.push_back(other);
    return nearest(s, candidates); // empty only for the one root left
}

std::vector<uint32_t> SurfelBuilder::nearest(uint32_t s, const std::vector<uint32_t>& among) const {
    std::vector<std::pair<double, uint32_t>> byDistance;
    for (uint32_t other : among) {
        const Vec3d d = c.plist[other].centre - c.plist[s].centre;
        byDistance.push_back({dot(d, d), other});
    }
    const size_t keep = std::min(kNearestNeighbours, byDistance.size());
    std::partial_sort(byDistance.begin(), byDistance.begin() + keep, byDistance.end());
    std::vector<uint32_t> result;
    for (size_t k = 0; k < keep; ++k) result.push_back(byDistance[k].second);
    return result;
}

// The rectangle's area per covered fraction squared, times its thickness:
// flat, compact unions that fill their rectangle merge first.
double SurfelBuilder::mergeError(const CreatorSurfel& parent, const std::vector<uint32_t>& triangles) {
    mCorners.clear();
    for (uint32_t t : triangles)
        for (uint32_t v : c.triangles[t].v) mCorners.push_back(c.vertices[v].evaluate(0));
    const double coverage = mMeasure.coverage(parent.shape, mCorners);
    if (coverage <= 0) return kNoCoverageError;
    const double error =
        std::sqrt(length(parent.shape.sideU()) * length(parent.shape.sideV())) * parent.shape.halfThickness /
        (coverage * coverage);
    assert(std::isfinite(error) && "_finite(error)");
    return error;
}

MergeCandidate SurfelBuilder::candidate(uint32_t s1, uint32_t s2) {
    assert(s1 != s2 && "info.s1 != info.s2");
    std::vector<uint32_t> triangles = mSurfelTriangles[s1];
    triangles.insert(triangles.end(), mSurfelTriangles[s2].begin(), mSurfelTriangles[s2].end());
    CreatorSurfel parent;
    fit(parent, triangles);
    return {mergeError(parent, triangles), std::min(s1, s2), std::max(s1, s2)};
}

void SurfelBuilder::offerNeighbours(uint32_t s) {
    for (uint32_t other : neighbours(s))
        if (c.plist[other].pindex == UINT32_MAX) mQueue.push(candidate(s, other));
}

uint32_t SurfelBuilder::merge(uint32_t s1, uint32_t s2) {
    assert(c.plist.capacity() > c.plist.size() && "plist.capacity() > plist.size()");
    const uint32_t p = uint32_t(c.plist.size());
    std::vector<uint32_t> triangles = mSurfelTriangles[s1];
    triangles.insert(triangles.end(), mSurfelTriangles[s2].begin(), mSurfelTriangles[s2].end());
    c.plist.emplace_back();
    CreatorSurfel& parent = c.plist.back();
    fit(parent, triangles);
    parent.error = mergeError(parent, triangles);
    parent.level = std::max(c.plist[s1].level, c.plist[s2].level) + 1;
    parent.children = {s1, s2};
    c.plist[s1].pindex = c.plist[s2].pindex = p;
    for (uint32_t t : triangles) mTriangleSurfel[t] = p;
    mSurfelTriangles.push_back(std::move(triangles));
    if (++mMerges % 1000 == 0) logOut() << "." << std::flush;
    if (mExpectedMerges) c.reportProgress(VLODObject3DCreator::kStepSurfels, float(mMerges) / float(mExpectedMerges));
    return p;
}

void SurfelBuilder::iterateQueue() {
    while (!mQueue.empty() && !c.mCancel) {
        const MergeCandidate top = mQueue.top();
        mQueue.pop();
        if (c.plist[top.s1].pindex != UINT32_MAX || c.plist[top.s2].pindex != UINT32_MAX) continue;
        offerNeighbours(merge(top.s1, top.s2));
    }
}

std::vector<uint32_t> SurfelBuilder::roots() const {
    std::vector<uint32_t> result;
    for (uint32_t s = 0; s < c.plist.size(); ++s)
        if (c.plist[s].pindex == UINT32_MAX) result.push_back(s);
    return result;
}

// Pieces of the mesh that share no vertex leave one root each: they are
// joined like any surfels, each root offered its nearest other roots, until
// one is left.
void SurfelBuilder::joinRoots() {
    for (std::vector<uint32_t> left = roots(); left.size() > 1 && !c.mCancel; left = roots()) {
        for (uint32_t s : left)
            for (uint32_t other : nearest(s, [&] {
                     std::vector<uint32_t> others;
                     for (uint32_t o : left)
                         if (o != s) others.push_back(o);
                     return others;
                 }()))
                mQueue.push(candidate(s, other));
        iterateQueue();
    }
}

// Surfels of some size whose parent is hardly larger are left out: the
// parent stands for them. Small ones are kept; their parents differ from
// them by more than a pixel of the reference view anyway.
void SurfelBuilder::thin() {
    const double threshold = 2.0 / (std::sqrt(0.4375) * 600.0 / (2.0 * std::tan(0.1745329300562541)));
    const uint32_t oldCount = uint32_t(c.plist.size());
    std::vector<bool> erased(oldCount, false);
    uint32_t removed = 0;
    for (uint32_t s = 0; s < oldCount; ++s) {
        CreatorSurfel& surfel = c.plist[s];
        if (surfel.pindex == UINT32_MAX || surfel.shape.halfThickness < threshold) continue;
        assert(surfel.pindex < oldCount && "(*pIt)->pindex < old_pnum");
        CreatorSurfel& parent = c.plist[surfel.pindex];
        if (!(parent.shape.halfThickness < 1.5 * surfel.shape.halfThickness)) continue;
        // Parents stand after their children, so the parent is not erased yet.
        assert(!erased[surfel.pindex] && "erasedSurfels.find(*pIt) == erasedSurfels.end()");
        erased[s] = true;
        ++removed;
        std::erase(parent.children, s);
        for (uint32_t child : surfel.children) {
            c.plist[child].pindex = surfel.pindex;
            parent.children.push_back(child);
        }
        parent.mt_children.insert(parent.mt_children.end(), surfel.mt_children.begin(), surfel.mt_children.end());
    }
    logOut() << " surfels removed again (" << removed << " extra)\n";

    std::vector<uint32_t> index(oldCount, UINT32_MAX);
    uint32_t kept = 0;
    for (uint32_t s = 0; s < oldCount; ++s)
        if (!erased[s]) index[s] = kept++;
    std::vector<CreatorSurfel> compact;
    compact.reserve(kept);
    for (uint32_t s = 0; s < oldCount; ++s) {
        if (erased[s]) continue;
        CreatorSurfel& surfel = c.plist[s];
        if (surfel.pindex != UINT32_MAX) surfel.pindex = index[surfel.pindex];
        for (uint32_t& child : surfel.children) child = index[child];
        compact.push_back(std::move(surfel));
    }
    c.plist = std::move(compact);
    for ([[maybe_unused]] uint32_t s = 0; s < c.plist.size(); ++s)
        assert((c.plist[s].pindex == UINT32_MAX || c.plist[s].pindex > s) &&
               "(*pIt)->pindex > surfelIndexLookup[*pIt]");
}

void SurfelBuilder::validate() const {
    logOut() << "\tvalidate ...\n";
    std::set<uint32_t> reached;
    uint32_t rootsFound = 0;
    for (uint32_t s = 0; s < c.plist.size(); ++s) {
        const CreatorSurfel& surfel = c.plist[s];
        if (surfel.pindex == UINT32_MAX) {
            ++rootsFound;
        } else {
            [[maybe_unused]] const std::vector<uint32_t>& siblings = c.plist[surfel.pindex].children;
            assert(std::find(siblings.begin(), siblings.end(), s) != siblings.end() &&
                   "childIt != parentChildList->end()");
        }
        for (uint32_t node : surfel.mt_children) {
            assert(c.nodes[node].out.size() == 1 && "narray[*nit].onum == 1");
            [[maybe_unused]] const bool fresh = reached.insert(node).second;
            assert(fresh && "mt_source_set.find(*cit) == mt_source_set.end()");
        }
    }
    assert((c.mCancel || rootsFound == 1) && "(*pIt)->pindex != UINT_MAX");
    assert((c.mCancel || reached.size() == c.m_source_nnum) && "mt_source_set.size() == m_source_nnum");
    logOut() << "\ttotal number of imposters: " << c.plist.size() << "\n";
}

void SurfelBuilder::run() {
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    assert(c.plist.empty() && "plist.empty()");
    const uint32_t firstSource = uint32_t(c.nodes.size()) - c.m_source_nnum;
    logOut() << "Creater base surfels " << c.m_source_nnum << "\n";
    c.plist.reserve(2 * size_t(c.m_source_nnum));
    mExpectedMerges = c.m_source_nnum > 1 ? c.m_source_nnum - 1 : 0;

    logOut() << "\tinit lookup tables ...\n";
    mVertexTriangles.assign(c.vertices.size(), {});
    mTriangleSurfel.assign(c.triangles.size(), UINT32_MAX);
    for (uint32_t n = firstSource; n < c.nodes.size(); ++n) {
        assert(c.nodes[n].out.size() == 1);
        const uint32_t s = uint32_t(c.plist.size());
        const std::vector<uint32_t> patch = c.patchIndices(c.nodes[n].out[0]);
        c.plist.emplace_back();
        c.plist.back().mt_children = {n};
        fit(c.plist.back(), patch);
        mSurfelTriangles.push_back(patch);
        for (uint32_t t : patch) {
            mTriangleSurfel[t] = s;
            for (uint32_t v : c.triangles[t].v) mVertexTriangles[v].push_back(t);
        }
    }

    // Each neighbouring pair once, though each finds the other.
    std::set<std::pair<uint32_t, uint32_t>> offered;
    for (uint32_t s = 0; s < c.plist.size(); ++s)
        for (uint32_t other : neighbours(s))
            if (offered.insert(std::minmax(s, other)).second) mQueue.push(candidate(s, other));
    logOut() << "\tinit priority queue (" << mQueue.size() << " entries) ok, time: " << seconds() << "\n";
    logOut() << "\titerate priority queue";
    iterateQueue();
    joinRoots();
    logOut() << "ok, time: " << seconds() << "\n";
    if (!c.plist.empty()) {
        const CreatorSurfel& last = c.plist.back();
        logOut() << "\tdiameter of last surfel: " << last.shape.diameter() << "\n"
                 << "\tparent of last surfel: " << last.pindex << "\n";
    }
    for (uint32_t root : roots()) logOut() << "root impostor found: " << root << "\n";
    logOut() << c.plist.size() << " surfels created\n";
    thin();
    validate();
}
} // namespace

void VLODObject3DCreator::createSurfelHierarchy(CoverageMeasure& measure) {
    reportProgress(kStepSurfels, 0);
    logOut() << "create surfel/stripe hierarchy\n";
    plist.clear();
    SurfelBuilder(*this, measure).run();
    reportProgress(kStepSurfels, 1);
}
