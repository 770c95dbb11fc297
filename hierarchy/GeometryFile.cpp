#include "GeometryFile.h"

#include "ByteStream.h"
#include "FileBytes.h"
#include "TexturesFile.h"

#include <bit>
#include <cmath>
#include <memory>

// Vertex and triangle records are read straight into arrays of the host's floats and integers.
static_assert(std::endian::native == std::endian::little, "geometry files are little-endian");

namespace {
constexpr uint64_t kVertexBytes = 24, kTriangleBytes = 12, kRangeBytes = 8;
constexpr uint64_t kImpostorBytes = 109; // without its children
constexpr const char* kExtension = ".mv3";

bool endsWith(const std::string& name, const std::string& ending) {
    return name.size() >= ending.size() &&
           name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
}

// A count, and whether that many records of at least recordBytes each fit
// into what is left (so that a lying count allocates nothing).
bool readCount(ByteReader& in, uint64_t recordBytes, const char* what, uint32_t& count, std::string& error) {
    if (!in.u32(count)) {
        error = std::string("geometry file ends before its number of ") + what;
        return false;
    }
    if (in.canHold(count, recordBytes)) return true;
    error = "geometry file too short for its " + std::to_string(count) + " " + what;
    return false;
}

bool readHeader(ByteReader& in, GeometryFileContents& c, std::string& error) {
    BoundingSphere& s = c.sphere;
    if (!(in.u32(c.compression) && in.f32(s.x) && in.f32(s.y) && in.f32(s.z) && in.f32(s.r))) {
        error = "geometry file too short for its header";
        return false;
    }
    if (std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.z) && std::isfinite(s.r) && s.r >= 0)
        return true;
    error = "geometry file has no valid bounding sphere";
    return false;
}

bool readVerticesAndTriangles(ByteReader& in, GeometryFileContents& c, std::string& error) {
    uint32_t count = 0;
    if (!readCount(in, kVertexBytes, "vertices", count, error)) return false;
    c.vertices.resize(size_t(count) * GeometryFileContents::kFloatsPerVertex);
    if (count) in.bytes(c.vertices.data(), count * kVertexBytes); // an empty array has no address to copy to
    if (!readCount(in, kTriangleBytes, "triangles", count, error)) return false;
    c.triangles.resize(size_t(count) * 3);
    if (count) in.bytes(c.triangles.data(), count * kTriangleBytes);
    return true;
}

bool readNodesAndArcs(ByteReader& in, GeometryFileContents& c, std::string& error) {
    uint32_t count = 0;
    if (!readCount(in, kRangeBytes, "nodes", count, error)) return false;
    c.nodes.resize(count);
    for (GeometryFileContents::Node& n : c.nodes)
        in.u32(n.out), in.u32(n.onum);
    if (!readCount(in, kRangeBytes, "arcs", count, error)) return false;
    c.arcs.resize(count);
    for (GeometryFileContents::Arc& a : c.arcs)
        in.u32(a.tnum), in.u32(a.tstart);
    return true;
}

// The record writeImpostor writes.
bool readImpostor(ByteReader& in, uint32_t index, MTImpostor& q, std::string& error) {
    bool read = true;
    for (MTImpostor::Corner& corner : q.corners)
        for (float* value : {&corner.x, &corner.y, &corner.z, &corner.s, &corner.t})
            read = read && in.f32(*value);
    read = read && in.f32(q.normal.x) && in.f32(q.normal.y) && in.f32(q.normal.z) && in.f32(q.depth) &&
           in.u8(q.flag);
    uint32_t children = 0;
    if (!read || !in.u32(children) || !in.canHold(children, 4)) {
        error = "geometry file too short for impostor " + std::to_string(index);
        return false;
    }
    q.children.resize(children);
    for (uint32_t& child : q.children)
        in.u32(child);
    if (in.u32(q.parent) && in.u32(q.atlas)) return true;
    error = "geometry file too short for impostor " + std::to_string(index);
    return false;
}

bool readImpostors(ByteReader& in, GeometryFileContents& c, std::string& error) {
    uint32_t count = 0;
    if (!readCount(in, kImpostorBytes, "impostors", count, error)) return false;
    c.tree.impostors.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        if (!readImpostor(in, i, c.tree.impostors[i], error)) return false;
    if (!in.u32(c.tree.root)) {
        error = "geometry file ends before its root impostor";
        return false;
    }
    if (in.remaining() == 0) return true;
    error = "geometry file has " + std::to_string(in.remaining()) + " bytes after its root impostor";
    return false;
}

bool checkPatches(const GeometryFileContents& c, std::string& error) {
    const uint32_t vnum = c.vnum();
    for (size_t k = 0; k < c.triangles.size(); ++k)
        if (c.triangles[k] >= vnum) {
            error = "triangle " + std::to_string(k / 3) + " refers to vertex " +
                    std::to_string(c.triangles[k]) + " of " + std::to_string(vnum);
            return false;
        }
    for (uint32_t a = 0; a < c.anum(); ++a)
        if (uint64_t(c.arcs[a].tstart) + c.arcs[a].tnum > c.tnum()) {
            error = "the patch of arc " + std::to_string(a) + " lies beyond the " + std::to_string(c.tnum()) +
                    " triangles";
            return false;
        }
    for (uint32_t n = 0; n < c.nnum(); ++n)
        if (uint64_t(c.nodes[n].out) + c.nodes[n].onum > c.anum()) {
            error = "the arcs of node " + std::to_string(n) + " lie beyond the " + std::to_string(c.anum()) +
                    " arcs";
            return false;
        }
    return true;
}

// One impostor's own fields and its children: each child impostor must
// name it as parent and be listed nowhere else; listed counts the listings.
bool checkImpostor(const GeometryFileContents& c, uint32_t i, uint32_t atlasCount,
                   std::vector<uint8_t>& listed, std::string& error) {
    const std::vector<MTImpostor>& impostors = c.tree.impostors;
    const uint32_t inum = c.tree.inum();
    const MTImpostor& q = impostors[i];
    const std::string name = "impostor " + std::to_string(i);
    if (q.atlas >= atlasCount) {
        error = name + " is in atlas " + std::to_string(q.atlas) + " of " + std::to_string(atlasCount);
        return false;
    }
    if (q.parent != MTImpostor::kNoParent && q.parent >= inum) {
        error =
            name + " has parent " + std::to_string(q.parent) + " of " + std::to_string(inum) + " impostors";
        return false;
    }
    for (uint32_t child : q.children) {
        if (child >= inum && child - inum >= c.nnum()) {
            error =
                name + " refers to node " + std::to_string(child - inum) + " of " + std::to_string(c.nnum());
            return false;
        }
        if (child < inum && (impostors[child].parent != i || listed[child]++ != 0)) {
            error = name + " lists impostor " + std::to_string(child) + ", which is not its child alone";
            return false;
        }
    }
    return true;
}

bool checkImpostorTree(const GeometryFileContents& c, uint32_t atlasCount, std::string& error) {
    const uint32_t inum = c.tree.inum();
    std::vector<uint8_t> listed(inum, 0);
    for (uint32_t i = 0; i < inum; ++i)
        if (!checkImpostor(c, i, atlasCount, listed, error)) return false;
    for (uint32_t i = 0; i < inum; ++i)
        if (c.tree.impostors[i].parent != MTImpostor::kNoParent && !listed[i]) {
            error = "impostor " + std::to_string(i) + " is not among the children of its parent";
            return false;
        }
    const uint32_t root = c.tree.root;
    const bool rootValid = inum == 0 ? root == MTImpostor::kNoParent
                                     : root < inum && c.tree.impostors[root].parent == MTImpostor::kNoParent;
    if (rootValid) return true;
    error = "root impostor " + std::to_string(root) + " is not a parentless one of " + std::to_string(inum);
    return false;
}
} // namespace

std::string texturesFileForGeometry(const std::string& geometryFile) {
    if (!endsWith(geometryFile, kExtension)) return "";
    return geometryFile.substr(0, geometryFile.size() - 4) + ".mv2";
}

bool readGeometryBytes(const uint8_t* data, size_t size, uint32_t atlasCount, GeometryFileContents& out,
                       std::string& error) {
    out = GeometryFileContents();
    ByteReader in(data, size);
    const bool read = readHeader(in, out, error) && readVerticesAndTriangles(in, out, error) &&
                      readNodesAndArcs(in, out, error) && readImpostors(in, out, error) &&
                      checkPatches(out, error) && checkImpostorTree(out, atlasCount, error);
    if (!read) out = GeometryFileContents(); // nothing half-read is left
    return read;
}

bool readGeometryFile(const std::string& path, uint32_t atlasCount, GeometryFileContents& out,
                      std::string& error) {
    out = GeometryFileContents();
    if (!endsWith(path, kExtension)) {
        error = "the geometry file name " + path + " does not end in " + kExtension;
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes)) {
        error = "cannot read the geometry file " + path;
        return false;
    }
    if (readGeometryBytes(bytes.data(), bytes.size(), atlasCount, out, error)) return true;
    error = path + ": " + error;
    return false;
}

bool readGeometryFile(const std::string& path, GeometryFileContents& out, std::string& error) {
    out = GeometryFileContents();
    const std::string textures = texturesFileForGeometry(path);
    if (textures.empty()) {
        error = "the geometry file name " + path + " does not end in " + kExtension;
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(textures.c_str(), "rb"), &std::fclose);
    TexturesFileHeader header;
    if (!file) {
        error = "cannot open the textures file " + textures;
        return false;
    }
    if (!readTexturesHeader(file.get(), header, error)) {
        error = textures + ": " + error;
        return false;
    }
    return readGeometryFile(path, header.atlasCount, out, error);
}
