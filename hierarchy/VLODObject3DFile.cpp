// Reading and writing the hierarchy file (.mvh): a 60-byte header, then the
// vertices, triangles, surfels, nodes and arcs, little-endian, without gaps.

#include "ByteStream.h"
#include "FileBytes.h"
#include "GraphOrder.h"
#include "LogStream.h"
#include "QuantizedNormal.h"
#include "VLODObject3D.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {
constexpr char kIdentifier[16] = {'M', 'O', 'R', 'V', 'A', '_', 'L', 'O', 'D', '_', 'M', 'T', 'F', 'I', 'L', 'E'};
constexpr size_t kHeaderSize = 60;

// Smallest encoded size of each record, to bound the counts of a header by
// the bytes that follow it.
constexpr uint64_t kMinVertexBytes = 3 + 3 + 2; // two empty key-frame paths and the normal
constexpr uint64_t kTriangleBytes = 18;
constexpr uint64_t kMinSurfelBytes = 26;
constexpr uint64_t kMinNodeBytes = 32;
constexpr uint64_t kArcBytes = 16;

std::function<void()>& polygonShaderSetup() {
    static std::function<void()> setup;
    return setup;
}

VLODObject3D::ViewerSetup& viewerSetup() {
    static VLODObject3D::ViewerSetup setup;
    return setup;
}

std::string at(const char* what, uint32_t index) { return std::string(what) + " " + std::to_string(index) + ": "; }

void writeSphere(ByteWriter& out, const BoundingSphere& s) {
    out.f32(s.x);
    out.f32(s.y);
    out.f32(s.z);
    out.f32(s.r);
}

bool readSphere(ByteReader& in, BoundingSphere& s) { return in.f32(s.x) && in.f32(s.y) && in.f32(s.z) && in.f32(s.r); }

bool validNormal(uint16_t n) { return n < kNormalTableSize; }
std::string badNormal(uint16_t n) { return "quantized normal " + std::to_string(n) + " out of range"; }
} // namespace

void VLODObject3D::setPolygonShaderSetup(std::function<void()> setup) { polygonShaderSetup() = std::move(setup); }

void VLODObject3D::setViewerSetup(ViewerSetup setup) { viewerSetup() = std::move(setup); }

bool VLODObject3D::write(const std::string& fileName) const {
    initTetrahederLookupTableRec(); // a vertex without a normal path writes its table normal
    // Beside the file and renamed into place: a failed write never leaves
    // half a hierarchy where a good one stood. The bytes go out in pieces, as
    // a whole file in memory would be the largest thing a build holds.
    AtomicFileWriter file(fileName);
    std::string error;
    if (!file.open(error)) {
        logErr() << "Error open file: " << fileName << " writeable!\n";
        return false;
    }
    ByteWriter out;
    auto passOn = [&](size_t atLeast) {
        if (out.size() < atLeast) return;
        file.append(out.data().data(), out.size());
        out.clear();
    };
    constexpr size_t kPieceBytes = 1 << 20;
    out.bytes(kIdentifier, sizeof kIdentifier);
    for (uint32_t count : {vnum(), tnum(), pnum(), nnum(), anum(), m_source_nnum, mReservedCount}) out.u32(count);
    writeSphere(out, mBoundingSphere);

    for (const MTVertex& v : varray) {
        assert(v.path && "path != NULL");
        v.path->write(out);
        if (v.npath)
            v.npath->write(out);
        else
            VStaticVertex(dequantizeNormal(v.normal)).write(out);
        out.u16(v.normal);
        passOn(kPieceBytes);
    }
    for (const MTTriangle& t : tarray) {
        for (uint32_t i : t.v) out.u32(i);
        out.u32(t.arc);
        out.u16(t.normal);
        passOn(kPieceBytes);
    }
    for (const MTSurfel& s : parray) {
        out.f32(s.x);
        out.f32(s.y);
        out.f32(s.z);
        out.u16(s.normal);
        out.f32(s.reserved);
        out.u32(s.parent);
        out.u32(uint32_t(s.mt_children.size()));
        for (uint32_t c : s.mt_children) out.u32(c);
        passOn(kPieceBytes);
    }
    for (const MTNode& n : narray) {
        out.u32(n.out);
        out.u32(n.onum);
        assert(n.error.size() < 65536 && "error count fits 16 bits");
        out.u16(uint16_t(n.error.size()));
        for (float e : n.error) out.f32(e);
        writeSphere(out, n.sphere);
        out.u16(n.coneaxis);
        out.f32(n.coneangle);
        passOn(kPieceBytes);
    }
    for (const MTArc& a : aarray) {
        out.u32(a.source);
        out.u32(a.dest);
        out.u32(a.tnum);
        out.u32(a.tstart);
        passOn(kPieceBytes);
    }
    // Construction must only ever hang surfels below single-arc nodes.
    for (const MTSurfel& s : parray)
        for (uint32_t c : s.mt_children) {
            assert(c > 0 && "*it > 0");
            assert(c < nnum() && narray[c].onum == 1 && "narray[*it].onum == 1");
            (void)c;
        }

    passOn(0);
    if (file.commit(error)) return true;
    logErr() << "Error writing file: " << fileName << ": " << error << "\n";
    return false;
}

bool VLODObject3D::read(const std::string& fileName, bool createStrips, bool /*unused*/) {
    logOut() << "VLODObject3D::read called (1)\n";
    if (polygonShaderSetup()) polygonShaderSetup()();

    std::vector<uint8_t> bytes;
    if (!readFileBytes(fileName, bytes)) {
        mLastError = "cannot open " + fileName + " for reading";
        return false;
    }
    return readFromMemory(bytes.data(), bytes.size(), fileName, createStrips);
}

bool VLODObject3D::readFromMemory(const uint8_t* data, size_t size, const std::string& name, bool createStrips) {
    initTetrahederLookupTableRec();
    clear();
    mLastError.clear();
    if (size < sizeof kIdentifier || std::memcmp(data, kIdentifier, sizeof kIdentifier) != 0) {
        mLastError = "not a hierarchy file: it does not start with MORVA_LOD_MTFILE";
        return false;
    }
    logOut() << "VLODObject3D::read called (2)\n";
    if (!parse(data, size) || !checkStructure()) return false;
    mFileName = name;
    if (!runSetupSequence(createStrips)) return false;
    // The impostor tree and the side files of the viewer, once the hierarchy
    // itself is complete.
    if (!viewerSetup()) {
        logOut() << "no OpenGL context: impostor tree and side files skipped\n";
        return true;
    }
    std::string error;
    if (!viewerSetup()(*this, error)) return fail(error);
    return true;
}

bool VLODObject3D::fail(const std::string& message) {
    logErr() << message << "\n";
    clear();
    mLastError = message;
    return false;
}

bool VLODObject3D::parse(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return fail("unexpected end of file in the header");
    ByteReader in(data + sizeof kIdentifier, size - sizeof kIdentifier);
    uint32_t vCount = 0, tCount = 0, pCount = 0, nCount = 0, aCount = 0;
    in.u32(vCount);
    in.u32(tCount);
    in.u32(pCount);
    in.u32(nCount);
    in.u32(aCount);
    in.u32(m_source_nnum);
    in.u32(mReservedCount);
    readSphere(in, mBoundingSphere);

    const uint64_t needed = vCount * kMinVertexBytes + tCount * kTriangleBytes + pCount * kMinSurfelBytes +
                            nCount * kMinNodeBytes + aCount * kArcBytes;
    if (needed > in.remaining())
        return fail("header counts (" + std::to_string(vCount) + " vertices, " + std::to_string(tCount) +
                    " triangles, " + std::to_string(pCount) + " surfels, " + std::to_string(nCount) + " nodes, " +
                    std::to_string(aCount) + " arcs) need at least " + std::to_string(needed + kHeaderSize) +
                    " bytes, the file has " + std::to_string(size));
    const std::string truncated = "unexpected end of file";

    varray.resize(vCount);
    for (uint32_t i = 0; i < vCount; ++i) {
        MTVertex& v = varray[i];
        std::string error;
        v.path = VVertex::readPath(in, error);
        if (!v.path) return fail(at("vertex", i) + "position: " + error + " (path != NULL)");
        v.npath = VVertex::readPath(in, error);
        if (!v.npath) return fail(at("vertex", i) + "normal: " + error + " (npath != NULL)");
        if (!in.u16(v.normal)) return fail(at("vertex", i) + truncated);
        if (!validNormal(v.normal)) return fail(at("vertex", i) + badNormal(v.normal));
    }

    tarray.resize(tCount);
    for (uint32_t i = 0; i < tCount; ++i) {
        MTTriangle& t = tarray[i];
        if (!(in.u32(t.v[0]) && in.u32(t.v[1]) && in.u32(t.v[2]) && in.u32(t.arc) && in.u16(t.normal)))
            return fail(at("triangle", i) + truncated);
        if (!validNormal(t.normal)) return fail(at("triangle", i) + badNormal(t.normal));
    }

    parray.resize(pCount);
    for (uint32_t i = 0; i < pCount; ++i) {
        MTSurfel& s = parray[i];
        uint32_t children = 0;
        if (!(in.f32(s.x) && in.f32(s.y) && in.f32(s.z) && in.u16(s.normal) && in.f32(s.reserved) &&
              in.u32(s.parent) && in.u32(children) && in.canHold(children, 4)))
            return fail(at("surfel", i) + truncated);
        if (!validNormal(s.normal)) return fail(at("surfel", i) + badNormal(s.normal));
        if (!isUsablePoint(Vec3f(s.x, s.y, s.z))) return fail(at("surfel", i) + kBadCoordinateMessage);
        s.mt_children.resize(children);
        for (uint32_t& c : s.mt_children) in.u32(c);
    }

    narray.resize(nCount);
    for (uint32_t i = 0; i < nCount; ++i) {
        MTNode& n = narray[i];
        uint16_t errors = 0;
        if (!(in.u32(n.out) && in.u32(n.onum) && in.u16(errors) && in.canHold(errors, 4)))
            return fail(at("node", i) + truncated);
        n.error.resize(errors);
        for (float& e : n.error) in.f32(e);
        if (!(readSphere(in, n.sphere) && in.u16(n.coneaxis) && in.f32(n.coneangle)))
            return fail(at("node", i) + truncated);
        if (!validNormal(n.coneaxis)) return fail(at("node", i) + badNormal(n.coneaxis));
    }

    aarray.resize(aCount);
    for (uint32_t i = 0; i < aCount; ++i) {
        MTArc& a = aarray[i];
        if (!(in.u32(a.source) && in.u32(a.dest) && in.u32(a.tnum) && in.u32(a.tstart)))
            return fail(at("arc", i) + truncated);
    }
    return true;
}

// Everything later steps index with is checked here, so that a hostile file
// is refused with the failed check's text instead of being walked out of bounds.
bool VLODObject3D::checkStructure() {
    for (uint32_t i = 0; i < tnum(); ++i) {
        const MTTriangle& t = tarray[i];
        for (uint32_t v : t.v)
            if (v >= vnum())
                return fail(at("triangle", i) + "vertex index " + std::to_string(v) + " out of range (vnum " +
                            std::to_string(vnum()) + ")");
        if (t.arc >= anum())
            return fail(at("triangle", i) + "arc index " + std::to_string(t.arc) + " out of range (anum " +
                        std::to_string(anum()) + ")");
    }
    for (uint32_t i = 0; i < anum(); ++i) {
        const MTArc& a = aarray[i];
        if (a.source >= nnum() || a.dest >= nnum())
            return fail(at("arc", i) + "node index out of range (source " + std::to_string(a.source) + ", dest " +
                        std::to_string(a.dest) + ", nnum " + std::to_string(nnum()) + ")");
        if (uint64_t(a.tstart) + a.tnum > tnum())
            return fail(at("arc", i) + "triangles " + std::to_string(a.tstart) + " + " + std::to_string(a.tnum) +
                        " exceed tnum " + std::to_string(tnum()));
    }
    for (uint32_t i = 0; i < nnum(); ++i)
        if (uint64_t(narray[i].out) + narray[i].onum > anum())
            return fail(at("node", i) + "aindex < anum failed: arcs " + std::to_string(narray[i].out) + " + " +
                        std::to_string(narray[i].onum) + " exceed anum " + std::to_string(anum()));

    mDrainNode = findDrain();
    if (mDrainNode == std::numeric_limits<uint32_t>::max())
        return fail("drain_node != UINT_MAX failed: no node without outgoing arcs");
    for (uint32_t i = mDrainNode + 1; i < nnum(); ++i)
        if (narray[i].onum == 0)
            return fail(at("node", i) + "narray[i].onum failed: a node other than the drain " +
                        std::to_string(mDrainNode) + " has no outgoing arcs");

    // The arcs of a node's range must leave that node, and every arc must lie
    // in its source's range: the set-up walks ranges, the layering walks arcs.
    for (uint32_t i = 0; i < nnum(); ++i)
        for (uint32_t a = narray[i].out; a < narray[i].out + narray[i].onum; ++a)
            if (aarray[a].source != i)
                return fail(at("node", i) + "arc " + std::to_string(a) + " in its range leaves node " +
                            std::to_string(aarray[a].source));
    for (uint32_t a = 0; a < anum(); ++a) {
        const MTNode& source = narray[aarray[a].source];
        if (a < source.out || a >= source.out + source.onum)
            return fail(at("arc", a) + "not among the outgoing arcs of its source node " +
                        std::to_string(aarray[a].source));
    }

    for (uint32_t i = 0; i < pnum(); ++i)
        for (uint32_t c : parray[i].mt_children) {
            if (c == 0) return fail(at("surfel", i) + "*it > 0 failed");
            if (c >= nnum())
                return fail(at("surfel", i) + "child node " + std::to_string(c) + " out of range (nnum " +
                            std::to_string(nnum()) + ")");
            if (narray[c].onum != 1)
                return fail(at("surfel", i) + "narray[*it].onum == 1 failed for node " + std::to_string(c));
        }
    // Parent links must reach a root from every surfel; a loop would make the
    // impostor tree walk forever.
    std::vector<uint8_t> state(pnum(), 0); // 0 unseen, 1 on the current chain, 2 reaches a root
    for (uint32_t i = 0; i < pnum(); ++i) {
        uint32_t s = i;
        while (s < pnum() && state[s] == 0) {
            state[s] = 1;
            s = parray[s].parent;
        }
        if (s < pnum() && state[s] == 1) return fail(at("surfel", s) + "parent links form a loop");
        for (s = i; s < pnum() && state[s] == 1; s = parray[s].parent) state[s] = 2;
    }

    std::vector<uint32_t> layers;
    if (!computeLongestPathLayers(nnum(), aarray, layers)) return fail("Hierarchy contains at least one loop!");
    return true;
}
