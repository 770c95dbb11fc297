#include "VLODObject3D.h"

#include "GraphOrder.h"
#include "LogStream.h"
#include "ParallelFor.h"
#include "QuantizedNormal.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace {
constexpr float kFloatMax = std::numeric_limits<float>::max();
} // namespace

void VLODObject3D::clear() {
    varray.clear();
    tarray.clear();
    narray.clear();
    aarray.clear();
    parray.clear();
    in_arcs.clear();
    varray.shrink_to_fit();
    tarray.shrink_to_fit();
    narray.shrink_to_fit();
    aarray.shrink_to_fit();
    parray.shrink_to_fit();
    in_arcs.shrink_to_fit();
    mKeyFrameSpheres.clear();
    mNodeLayers.clear();
    m_source_nnum = 0;
    mReservedCount = 0;
    mBoundingSphere = BoundingSphere();
    mTimeBegin = mTimeEnd = 0;
    mKeyFrames = 1;
    mDrainNode = 0;
    mImpostorTree = ImpostorTree();
    mTexturesFileName.clear();
    mUncompressedTextureBytes = 0;
    mFileName.clear();
}

void VLODObject3D::buildInArcs() {
    in_arcs.assign(narray.size(), {});
    for (uint32_t a = 0; a < anum(); ++a) in_arcs[aarray[a].dest].push_back(a);
}

bool VLODObject3D::computeLayers(std::vector<uint32_t>& layers) const {
    if (computeLongestPathLayers(nnum(), aarray, layers)) return true;
    logErr() << "Hierarchy contains at least one loop!\n";
    return false;
}

void VLODObject3D::propagateNodeErrors() {
    // Visiting dests before sources makes one pass enough; a graph with a
    // cycle falls back to repeating passes until nothing changes.
    auto raise = [this](const MTArc& a) {
        std::vector<float>& src = narray[a.source].error;
        const std::vector<float>& dst = narray[a.dest].error;
        bool changed = false;
        for (size_t k = 0; k < std::min(src.size(), dst.size()); ++k)
            if (src[k] < dst[k]) {
                src[k] = dst[k];
                changed = true;
            }
        return changed;
    };
    std::vector<uint32_t> layers, order;
    if (computeLongestPathLayers(nnum(), aarray, layers, &order)) {
        buildInArcs();
        for (auto it = order.rbegin(); it != order.rend(); ++it)
            for (uint32_t a : in_arcs[*it]) raise(aarray[a]);
        return;
    }
    bool changed = true;
    while (changed) {
        changed = false;
        for (const MTArc& a : aarray) changed |= raise(a);
    }
}

uint32_t VLODObject3D::findDrain() const {
    for (uint32_t n = 0; n < nnum(); ++n)
        if (narray[n].onum == 0) return n;
    return std::numeric_limits<uint32_t>::max();
}

void VLODObject3D::updateTimeDomain() {
    float begin = kFloatMax, end = -kFloatMax;
    uint32_t frames = 1;
    for (const MTVertex& v : varray) {
        if (!v.path || v.path->isStatic()) continue;
        const auto& keys = static_cast<const VKeyFrameVertex&>(*v.path).keys();
        begin = std::min(begin, keys.front().t);
        end = std::max(end, keys.back().t);
        frames = std::max<uint32_t>(frames, uint32_t(keys.size()));
    }
    if (begin == kFloatMax) {
        logOut() << "set static object animation domain\n";
        begin = end = 0;
    }
    mTimeBegin = begin;
    mTimeEnd = end;
    mKeyFrames = uint16_t(frames);
    logOut() << "domain begin: " << mTimeBegin << "\n"
             << "domain end:   " << mTimeEnd << "\n"
             << "domain kf:    " << mKeyFrames << "\n";
}

float VLODObject3D::keyFrameTime(uint32_t k) const {
    if (mKeyFrames < 2) return mTimeBegin;
    // In double: the span of two extreme float times overflows float.
    return float(double(mTimeBegin) + double(k) * (double(mTimeEnd) - mTimeBegin) / double(mKeyFrames - 1));
}

namespace {
Vec3d normalOf(const Vec3d& p0, const Vec3d& p1, const Vec3d& p2) { return normalizeOrZ(cross(p1 - p0, p2 - p0)); }
} // namespace

Vec3d VLODObject3D::triangleNormal(uint32_t t, float time) const {
    assert(t < tnum() && "t < tnum");
    const MTTriangle& tri = tarray[t];
    return normalOf(Vec3d(varray[tri.v[0]].path->evaluate(time)), Vec3d(varray[tri.v[1]].path->evaluate(time)),
                    Vec3d(varray[tri.v[2]].path->evaluate(time)));
}

std::vector<Vec3f> VLODObject3D::vertexPositions(float time) const {
    std::vector<Vec3f> positions(vnum());
    for (uint32_t v = 0; v < vnum(); ++v) positions[v] = varray[v].path->evaluate(time);
    return positions;
}

std::vector<Vec3d> VLODObject3D::triangleNormals(std::span<const Vec3f> positions) const {
    std::vector<Vec3d> normals(tnum());
    for (uint32_t t = 0; t < tnum(); ++t) {
        const MTTriangle& tri = tarray[t];
        normals[t] = normalOf(Vec3d(positions[tri.v[0]]), Vec3d(positions[tri.v[1]]), Vec3d(positions[tri.v[2]]));
    }
    return normals;
}

void VLODObject3D::assignPolygonNormals() {
    const std::vector<Vec3d> normals = triangleNormals(vertexPositions(0));
    parallelFor(tnum(), [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) tarray[t].normal = quantizeNormal(Vec3f(normals[t]));
    });
}

void VLODObject3D::assignVertexNormals() {
    updateTimeDomain();
    // Every triangle adds its unit normal to its three corners; all weigh the same.
    std::vector<Vec3d> sums(vnum());
    auto accumulate = [&](float time) {
        std::fill(sums.begin(), sums.end(), Vec3d());
        const std::vector<Vec3d> normals = triangleNormals(vertexPositions(time));
        for (uint32_t t = 0; t < tnum(); ++t)
            for (uint32_t corner : tarray[t].v) sums[corner] += normals[t];
    };

    if (mKeyFrames < 2) {
        accumulate(keyFrameTime(0));
        parallelFor(vnum(), [&](size_t begin, size_t end) {
            for (size_t v = begin; v < end; ++v) {
                Vec3f n(normalizeOrZ(sums[v]));
                varray[v].normal = quantizeNormal(n);
                varray[v].npath = std::make_unique<VStaticVertex>(n);
            }
        });
        return;
    }
    std::vector<std::vector<VKeyFrameVertex::Key>> keys(vnum());
    for (auto& k : keys) k.reserve(mKeyFrames);
    for (uint32_t f = 0; f < mKeyFrames; ++f) {
        float time = keyFrameTime(f);
        accumulate(time);
        for (uint32_t v = 0; v < vnum(); ++v) keys[v].push_back({Vec3f(normalizeOrZ(sums[v])), time});
    }
    for (uint32_t v = 0; v < vnum(); ++v) varray[v].npath = std::make_unique<VKeyFrameVertex>(std::move(keys[v]));
}

float VLODObject3D::groundHeight(float x, float y) const { return heightAbove(2, x, y); }

float VLODObject3D::heightAbove(int upAxis, float first, float second) const {
    uint32_t drain = findDrain();
    if (drain >= in_arcs.size() || upAxis < 0 || upAxis > 2) return 0;
    const int firstAxis = upAxis == 0 ? 1 : 0, secondAxis = upAxis == 2 ? 1 : 2;
    float bestDistance = kFloatMax, height = 0;
    auto consider = [&](uint32_t v) {
        const Vec3f p = varray[v].path->evaluate(0);
        const float c[3] = {p.x, p.y, p.z};
        const float da = c[firstAxis] - first, db = c[secondAxis] - second;
        const float d = std::sqrt(da * da + db * db);
        if (d < bestDistance) {
            bestDistance = d;
            height = c[upAxis];
        }
    };
    for (uint32_t a : in_arcs[drain]) {
        const MTArc& arc = aarray[a];
        for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t)
            for (uint32_t v : tarray[t].v) consider(v);
        for (const auto& strip : arc.strips)
            for (uint32_t v : strip) consider(v);
    }
    return height;
}
