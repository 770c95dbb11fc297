#include "SideFiles.h"

#include "ByteStream.h"
#include "FileBytes.h"
#include "LogStream.h"
#include "QuantizedNormal.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <filesystem>

namespace {
std::string replaceExtension(const std::string& hierarchyFile, const char* extension) {
    std::string name = hierarchyFile;
    const size_t at = name.find(".mvh");
    if (at == std::string::npos) return name + extension; // no ".mvh": the side file goes beside it
    return name.replace(at, 4, extension);
}
} // namespace

std::string texturesFileName(const std::string& hierarchyFile) { return replaceExtension(hierarchyFile, ".mv2"); }
std::string geometryFileName(const std::string& hierarchyFile) { return replaceExtension(hierarchyFile, ".mv3"); }

void removeSideFiles(const std::string& hierarchyFile) {
    std::error_code ignored;
    for (const std::string& side : {texturesFileName(hierarchyFile), geometryFileName(hierarchyFile)})
        if (std::filesystem::remove(side, ignored)) logOut() << "removed the old side file " << side << "\n";
}

void writeImpostor(ByteWriter& out, const MTImpostor& impostor) {
    for (const MTImpostor::Corner& c : impostor.corners)
        for (float value : {c.x, c.y, c.z, c.s, c.t}) out.f32(value);
    out.f32(impostor.normal.x);
    out.f32(impostor.normal.y);
    out.f32(impostor.normal.z);
    out.f32(impostor.depth);
    out.u8(impostor.flag);
    out.u32(uint32_t(impostor.children.size()));
    for (uint32_t child : impostor.children) out.u32(child);
    out.u32(impostor.parent);
    out.u32(impostor.atlas);
}

std::vector<uint8_t> geometryFileBytes(const VLODObject3D& object, const ImpostorTree& tree, uint32_t compression) {
    initTetrahederLookupTableRec();
    ByteWriter out;
    out.u32(compression);
    const BoundingSphere& s = object.mBoundingSphere;
    for (float value : {s.x, s.y, s.z, s.r}) out.f32(value);
    out.u32(object.vnum());
    for (const MTVertex& v : object.varray) {
        const Vec3f n = dequantizeNormal(v.normal), p = v.path->evaluate(0);
        for (float value : {n.x, n.y, n.z, p.x, p.y, p.z}) out.f32(value);
    }
    out.u32(object.tnum());
    for (const MTTriangle& t : object.tarray)
        for (uint32_t v : t.v) out.u32(v);
    out.u32(object.nnum());
    for (const MTNode& n : object.narray) {
        out.u32(n.out);
        out.u32(n.onum);
    }
    out.u32(object.anum());
    for (const MTArc& a : object.aarray) {
        out.u32(a.tnum);
        out.u32(a.tstart);
    }
    out.u32(tree.inum());
    for (const MTImpostor& impostor : tree.impostors) writeImpostor(out, impostor);
    out.u32(tree.root);
    return out.data();
}

bool writeGeometryFile(const std::string& path, const VLODObject3D& object, const ImpostorTree& tree,
                       uint32_t compression, std::string& error) {
    return writeFileAtomically(path, geometryFileBytes(object, tree, compression), error);
}
