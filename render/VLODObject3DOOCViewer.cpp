#include "VLODObject3DOOCViewer.h"

#include "GLExtensions.h"
#include "LogStream.h"
#include "QuantizedNormal.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <new>
#include <numeric>

namespace {
Vec3d cornerOf(const MTImpostor& q, int k) { return {q.corners[k].x, q.corners[k].y, q.corners[k].z}; }
Vec3d centreOf(const MTImpostor& q) { return (cornerOf(q, 0) + cornerOf(q, 2)) * 0.5; }

// (texel span / object length)^2 of the first edge: the resolution test
// reads only this ratio. An edge of no length passes every test.
float resolutionRatio(const MTImpostor& q) {
    const double ds = double(q.corners[1].s) - q.corners[0].s;
    const Vec3d edge = cornerOf(q, 1) - cornerOf(q, 0);
    const double length2 = dot(edge, edge);
    return length2 > 0 ? float(std::min(ds * ds / length2, double(FLT_MAX))) : FLT_MAX;
}

void put4(float* out, double a, double b, double c, double d) {
    out[0] = float(a);
    out[1] = float(b);
    out[2] = float(c);
    out[3] = float(d);
}

template <class T, class A> uint64_t bytesOf(const std::vector<T, A>& v) { return uint64_t(v.capacity()) * sizeof(T); }
} // namespace

bool VLODObject3DOOCViewer::setUp(const VLODObject3D& object, const ImpostorTree& tree, std::string& error) {
    release();
    // Entry points are looked up once per context; a second look-up would
    // also undo a caller's decision to draw without buffers.
    if (!ext::glCreateShader && !initExtensions()) {
        error = "the driver lacks the extensions the viewer needs";
        return false;
    }
    logOut() << "anum: " << object.anum() << "\n"
             << "nnum: " << object.nnum() << "\n"
             << "tnum: " << object.tnum() << "\n"
             << "vnum: " << object.vnum() << "\n";
    try {
        copyTraversal(object, tree);
        mVertexCount = 3 * uint64_t(object.tnum()); // no arc carries extra points
        logOut() << "number of vertices to hold in memory: " << mVertexCount << "\n";
        mVertices.assign(mVertexCount * (kVertexBytes / sizeof(float)), 0.0f);
        logOut() << "Allocated memory for vertex buffer: " << mVertexCount * kVertexBytes << "\n";
        fillVertices(object);
        sortBillboards(tree);
        logBoundStatistics();
        fillBillboardArrays();
    } catch (const std::bad_alloc&) {
        logOut() << "Out of memory!\n";
        error = "out of memory for the " + std::to_string(mVertexCount) + " vertices of the buffers";
        release();
        return false;
    }
    return initBuffers(&error);
}

void VLODObject3DOOCViewer::copyTraversal(const VLODObject3D& object, const ImpostorTree& tree) {
    mTraversal.clear();
    mTraversal.narray = object.narray;
    mTraversal.aarray.resize(object.anum());
    for (uint32_t a = 0; a < object.anum(); ++a) {
        const MTArc& arc = object.aarray[a];
        MTArc& copy = mTraversal.aarray[a];
        copy.source = arc.source;
        copy.dest = arc.dest;
        copy.tnum = arc.tnum;
        copy.tstart = arc.tstart;
        copy.cone = arc.cone;
    }
    mTraversal.in_arcs = object.in_arcs;
    if (mTraversal.in_arcs.size() != object.nnum()) mTraversal.buildInArcs();
    mTraversal.mDrainNode = object.mDrainNode;
    mTraversal.mNodeLayers = object.mNodeLayers;
    mTraversal.mBoundingSphere = object.mBoundingSphere;
    mTraversal.mKeyFrameSpheres = object.mKeyFrameSpheres;
    mTraversal.mImpostorTree = tree;
    mArcMarks.assign(object.anum(), 0);
    uint64_t bytes = bytesOf(mTraversal.narray) + bytesOf(mTraversal.aarray) + bytesOf(mArcMarks);
    for (const std::vector<uint32_t>& in : mTraversal.in_arcs) bytes += bytesOf(in);
    logOut() << "allocated memory for hierarchy traversal: " << bytes << "\nok\n";
}

void VLODObject3DOOCViewer::fillVertices(const VLODObject3D& object) {
    const uint64_t V = mVertexCount;
    float* positions = mVertices.data();
    float* normals = positions + 4 * V;
    float* colours = normals + 4 * V;
    for (uint64_t k = 0; k < V; ++k) {
        const uint32_t v = object.tarray[k / 3].v[k % 3];
        const Vec3f p = object.varray[v].path->evaluate(0);
        const Vec3f& n = dequantizeNormal(object.varray[v].normal);
        put4(positions + 4 * k, p.x, p.y, p.z, 1);
        put4(normals + 4 * k, n.x, n.y, n.z, 0);
        std::copy(kPatchColour, kPatchColour + 4, colours + 4 * k);
    }
    logOut() << "Bounding spheres:\n";
    const std::vector<BoundingSphere>& keyFrames = object.mKeyFrameSpheres;
    for (const BoundingSphere& s : keyFrames.empty() ? std::vector<BoundingSphere>{object.mBoundingSphere} : keyFrames)
        logOut() << "[" << s.x << " " << s.y << " " << s.z << " " << s.r << "]\n";
}

// Sorted by the parent's depth, so that for any bound the billboards whose
// parent is too deep to be drawn form a suffix; the root (no parent) last.
void VLODObject3DOOCViewer::sortBillboards(const ImpostorTree& tree) {
    const uint32_t inum = tree.inum();
    logOut() << "get parent lookup\n";
    std::vector<uint32_t> parent(inum, MTImpostor::kNoParent);
    for (uint32_t i = 0; i < inum; ++i)
        for (uint32_t child : tree.impostors[i].children)
            if (child < inum) parent[child] = i;
    std::vector<float> parentDepth(inum, FLT_MAX);
    for (uint32_t i = 0; i < inum; ++i)
        if (parent[i] != MTImpostor::kNoParent) parentDepth[i] = tree.impostors[parent[i]].depth;

    logOut() << "sort billboards\n";
    std::vector<uint32_t> order(inum);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (parentDepth[a] != parentDepth[b]) return parentDepth[a] < parentDepth[b];
        return tree.impostors[a].depth < tree.impostors[b].depth;
    });
    logOut() << "get position lookups\n";
    mSortedPosition.assign(inum, 0);
    for (uint32_t k = 0; k < inum; ++k) mSortedPosition[order[k]] = k;

    logOut() << "init billboard array \n";
    mBillboards.resize(inum);
    for (uint32_t k = 0; k < inum; ++k) {
        Billboard& b = mBillboards[k];
        b.impostor = tree.impostors[order[k]];
        b.original = order[k];
        b.parentDepth = parentDepth[order[k]];
        b.impostor.parent = parent[order[k]] == MTImpostor::kNoParent ? MTImpostor::kNoParent
                                                                      : mSortedPosition[parent[order[k]]];
        for (uint32_t& child : b.impostor.children)
            if (child < inum) child = mSortedPosition[child];
    }
}

// Diagnostics of what the GPU cut reads. First pair: the quad's half depth
// against the radius of its bounding sphere (how much tighter the depth
// bound is). Second pair: a billboard's depth against its parent's (how
// much the bound shrinks per level). Max diff: the most a child is deeper
// than its parent; above 0 the parent may pass where its child failed.
void VLODObject3DOOCViewer::logBoundStatistics() const {
    double depths = 0, radii = 0, childDepths = 0, parentDepths = 0, maxDiff = 0;
    bool rootFound = false;
    for (const Billboard& b : mBillboards) {
        const MTImpostor& q = b.impostor;
        const Vec3d c = centreOf(q);
        double radius = q.depth;
        for (int k = 0; k < 4; ++k) radius = std::max(radius, length(cornerOf(q, k) - c) + q.depth);
        depths += q.depth;
        radii += radius;
        if (q.parent == MTImpostor::kNoParent) {
            rootFound = true;
            continue;
        }
        childDepths += q.depth;
        parentDepths += b.parentDepth;
        maxDiff = std::max(maxDiff, double(q.depth) - b.parentDepth);
    }
    auto gain = [](double a, double b) { return b > 0 ? (1 - a / b) * 100 : 0.0; };
    logOut() << "\nGAIN OF FIRST BOUND PAIR: " << gain(depths, radii) << "\n"
             << "GAIN OF SECOND BOUND PAIR: " << gain(childDepths, parentDepths) << "\n";
    if (rootFound) logOut() << "root found\n";
    logOut() << "max diff: " << maxDiff << "\n";
}

// Per billboard corner: position, normal, (s, t, rho), and what the GPU cut
// reads of the billboard and of its parent.
void VLODObject3DOOCViewer::fillBillboardArrays() {
    const size_t B = mBillboards.size();
    for (std::vector<float>& array : mBillboardArrays) array.assign(B * 16, 0.0f);
    for (size_t k = 0; k < B; ++k) {
        const MTImpostor& q = mBillboards[k].impostor;
        const Vec3d c = centreOf(q);
        const float rho = resolutionRatio(q);
        const MTImpostor* parent = q.parent == MTImpostor::kNoParent ? nullptr : &mBillboards[q.parent].impostor;
        const Vec3d pc = parent ? centreOf(*parent) : Vec3d(0, 0, 0);
        for (int corner = 0; corner < 4; ++corner) {
            const size_t at = 16 * k + 4 * size_t(corner);
            const MTImpostor::Corner& v = q.corners[corner];
            put4(&mBillboardArrays[0][at], v.x, v.y, v.z, 1);
            put4(&mBillboardArrays[1][at], q.normal.x, q.normal.y, q.normal.z, 0);
            put4(&mBillboardArrays[2][at], v.s, v.t, rho, 0);
            put4(&mBillboardArrays[3][at], c.x, c.y, c.z, q.depth);
            if (parent) {
                put4(&mBillboardArrays[4][at], pc.x, pc.y, pc.z, parent->depth);
                put4(&mBillboardArrays[5][at], parent->normal.x, parent->normal.y, parent->normal.z,
                     resolutionRatio(*parent));
            } else {
                put4(&mBillboardArrays[4][at], 0, 0, 0, FLT_MAX);
                put4(&mBillboardArrays[5][at], 0, 0, 1, 0);
            }
        }
    }
}

bool VLODObject3DOOCViewer::initBuffers(std::string* error) {
    mDrawingMode = 2;
    if (!vboSupported) {
        mHasBuffers = false;
        if (error) *error = "the driver has no vertex buffer objects";
        return false;
    }
    if (mVertexCount > uint64_t(INT_MAX) || (mVertices.empty() && mVertexCount > 0)) {
        if (error)
            *error = mVertices.empty() ? "the vertex array was already handed to the card"
                                       : "its " + std::to_string(mVertexCount) + " vertices are more than the driver can draw";
        return false;
    }
    if (mHasBuffers) {
        logOut() << "delete old buffers\n";
        ext::glDeleteBuffersARB(kBufferCount, mBuffers);
    }
    logOut() << "gen buffers id\n";
    ext::glGenBuffersARB(kBufferCount, mBuffers);
    while (glGetError() != GL_NO_ERROR) {
    }
    static const char* kMessages[kBufferCount] = {
        "init position buffer",
        "init normal buffer",
        "init color buffer",
        "init position buffer (billboards)",
        "init normal buffer (billboards)",
        "init texture buffer (billboards)",
        "init lod selection information buffer 1 (billboards)",
        "init lod selection information buffer 2 (billboards)",
        "init lod selection information buffer 3 (billboards)"};
    const GLsizeiptrARB triangleBytes = GLsizeiptrARB(mVertexCount * 16);
    for (int b = 0; b < kBufferCount; ++b) {
        logOut() << kMessages[b] << "\n";
        const bool triangles = b <= kColours;
        const float* data = triangles ? mVertices.data() + 4 * mVertexCount * uint64_t(b) : mBillboardArrays[b - kBillboardPositions].data();
        const GLsizeiptrARB bytes = triangles ? triangleBytes : GLsizeiptrARB(mBillboards.size() * kBillboardBytes);
        ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, mBuffers[b]);
        ext::glBufferDataARB(GL_ARRAY_BUFFER_ARB, bytes, data, GL_STATIC_DRAW_ARB);
    }
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    if (glGetError() != GL_NO_ERROR) { // out of memory on the card, most likely
        ext::glDeleteBuffersARB(kBufferCount, mBuffers);
        std::fill(std::begin(mBuffers), std::end(mBuffers), 0u);
        mHasBuffers = false;
        if (error) *error = "the driver refused " + std::to_string(mVertexCount * kVertexBytes) + " bytes of vertex buffers";
        return false;
    }
    mHasBuffers = true;
    // The card holds them now; keeping a second copy would double the
    // largest allocation of the viewer.
    std::vector<float>().swap(mVertices);
    logOut() << "vbo ready for drawing\n";
    return true;
}

void VLODObject3DOOCViewer::release() {
    if (mHasBuffers) ext::glDeleteBuffersARB(kBufferCount, mBuffers);
    std::fill(std::begin(mBuffers), std::end(mBuffers), 0u);
    mHasBuffers = false;
    mTraversal.clear();
    mTraversal.mImpostorTree = ImpostorTree();
    mRefinement = CutRefinement();
    mArcMarks.clear();
    std::vector<float>().swap(mVertices);
    mVertexCount = 0;
    mBillboards.clear();
    mSortedPosition.clear();
    for (std::vector<float>& array : mBillboardArrays) array.clear();
}

uint64_t VLODObject3DOOCViewer::bufferBytes() const {
    return mHasBuffers ? mVertexCount * kVertexBytes + mBillboards.size() * kBillboardBytes * 6 : 0;
}

uint64_t VLODObject3DOOCViewer::memoryBytes() const {
    uint64_t bytes = bytesOf(mVertices) + bytesOf(mBillboards) + bytesOf(mSortedPosition) + bytesOf(mArcMarks) +
                     bytesOf(mTraversal.narray) + bytesOf(mTraversal.aarray);
    for (const std::vector<float>& array : mBillboardArrays) bytes += bytesOf(array);
    for (const std::vector<uint32_t>& in : mTraversal.in_arcs) bytes += bytesOf(in);
    for (const Billboard& b : mBillboards) bytes += bytesOf(b.impostor.children);
    return bytes;
}

void VLODObject3DOOCViewer::selectCut(const SelectionView& view, ImpostorSelection& cut) {
    ::selectCut(mTraversal.mImpostorTree, view, false, 0, cut);
    mRefinement.refine(mTraversal, view, cut);
}

// --- Drawing ---------------------------------------------------------------

namespace {
// A buffer's start for the array pointers: offset 0 in the bound buffer, or
// the client array when there are no buffers.
const void* arrayStart(bool hasBuffers, GLuint buffer, const float* client) {
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, hasBuffers ? buffer : 0);
    return hasBuffers ? nullptr : client;
}

void drawRanges(GLenum mode, std::vector<GLint>& firsts, std::vector<GLsizei>& counts) {
    if (firsts.empty()) return;
    if (ext::glMultiDrawArrays) {
        ext::glMultiDrawArrays(mode, firsts.data(), counts.data(), GLsizei(firsts.size()));
        return;
    }
    for (size_t k = 0; k < firsts.size(); ++k) glDrawArrays(mode, firsts[k], counts[k]);
}
} // namespace

void VLODObject3DOOCViewer::bindTriangleBuffers(bool colours) const {
    const float* client = mVertices.empty() ? nullptr : mVertices.data();
    const uint64_t V = mVertexCount;
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(4, GL_FLOAT, 0, arrayStart(mHasBuffers, mBuffers[kPositions], client));
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, 16, arrayStart(mHasBuffers, mBuffers[kNormals], client ? client + 4 * V : nullptr));
    if (colours) {
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(4, GL_FLOAT, 0, arrayStart(mHasBuffers, mBuffers[kColours], client ? client + 8 * V : nullptr));
    }
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void VLODObject3DOOCViewer::unbindTriangleBuffers() const {
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
}

uint64_t VLODObject3DOOCViewer::drawArcs(const std::vector<uint32_t>& arcs) const {
    if (!mHasBuffers && mVertices.empty()) return 0;
    std::vector<std::pair<uint32_t, uint32_t>> ranges; // first triangle, triangle count
    ranges.reserve(arcs.size());
    uint64_t triangles = 0;
    for (uint32_t a : arcs) {
        const MTArc& arc = mTraversal.aarray[a];
        if (arc.tnum == 0) continue;
        ranges.push_back({arc.tstart, arc.tnum});
        triangles += arc.tnum;
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<GLint> firsts;
    std::vector<GLsizei> counts;
    for (const auto& [first, count] : ranges) {
        // Neighbouring patches (siblings are stored together) become one range.
        if (!firsts.empty() && uint64_t(firsts.back()) + uint64_t(counts.back()) == 3 * uint64_t(first)) {
            counts.back() += GLsizei(3 * count);
            continue;
        }
        firsts.push_back(GLint(3 * first));
        counts.push_back(GLsizei(3 * count));
    }
    drawRanges(GL_TRIANGLES, firsts, counts);
    return triangles;
}

void VLODObject3DOOCViewer::bindBillboardBuffers(bool lodInfo) const {
    auto client = [&](int b) { return mBillboardArrays[b - kBillboardPositions].data(); };
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(4, GL_FLOAT, 0, arrayStart(mHasBuffers, mBuffers[kBillboardPositions], client(kBillboardPositions)));
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, 16, arrayStart(mHasBuffers, mBuffers[kBillboardNormals], client(kBillboardNormals)));
    // Plain billboards read (s, t) as the immediate path gives them; the GPU
    // cut also reads rho and the three selection buffers.
    const int units = lodInfo ? 4 : 1;
    for (int unit = 0; unit < units; ++unit) {
        const int b = unit == 0 ? kBillboardTexCoords : kLodInfo1 + unit - 1;
        ext::glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(unit == 0 && !lodInfo ? 2 : 4, GL_FLOAT, 16, arrayStart(mHasBuffers, mBuffers[b], client(b)));
    }
    ext::glClientActiveTextureARB(GL_TEXTURE0_ARB);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void VLODObject3DOOCViewer::unbindBillboardBuffers(bool lodInfo) const {
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    for (int unit = lodInfo ? 3 : 0; unit >= 0; --unit) {
        ext::glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
}

uint64_t VLODObject3DOOCViewer::drawBillboards(const std::vector<uint32_t>& impostors,
                                               const std::function<bool(uint32_t atlas)>& bindAtlas) const {
    std::vector<std::pair<uint32_t, uint32_t>> byAtlas; // atlas, sorted position
    byAtlas.reserve(impostors.size());
    for (uint32_t i : impostors)
        if (i < mSortedPosition.size()) {
            const uint32_t k = mSortedPosition[i];
            byAtlas.push_back({mBillboards[k].impostor.atlas, k});
        }
    std::stable_sort(byAtlas.begin(), byAtlas.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    uint64_t drawn = 0;
    std::vector<GLint> firsts;
    std::vector<GLsizei> counts;
    for (size_t begin = 0; begin < byAtlas.size();) {
        size_t end = begin;
        while (end < byAtlas.size() && byAtlas[end].first == byAtlas[begin].first) ++end;
        if (bindAtlas(byAtlas[begin].first)) {
            firsts.clear();
            for (size_t k = begin; k < end; ++k) firsts.push_back(GLint(4 * byAtlas[k].second));
            counts.assign(firsts.size(), 4);
            drawRanges(GL_QUADS, firsts, counts);
            drawn += end - begin;
        }
        begin = end;
    }
    return drawn;
}

void VLODObject3DOOCViewer::drawAllBillboards() const {
    if (!mBillboards.empty()) glDrawArrays(GL_QUADS, 0, GLsizei(4 * mBillboards.size()));
}
