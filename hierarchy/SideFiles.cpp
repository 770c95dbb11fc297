#include "SideFiles.h"

#include "ByteStream.h"
#include "FileBytes.h"
#include "QuantizedNormal.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <cassert>

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

void depthRange(const RenderedAtlas& atlas, float& smallest, float& largest) {
    smallest = 3.4028235e38f;
    largest = -3.4028235e38f;
    for (const std::vector<float>* side : {&atlas.front, &atlas.back})
        for (size_t k = 3; k < side->size(); k += 4) {
            smallest = std::min(smallest, (*side)[k]);
            largest = std::max(largest, (*side)[k]);
        }
    if (smallest > largest) smallest = largest = 0; // no texels at all
}

void writeAtlasSide(ByteWriter& out, const std::vector<float>& rgba, bool compressed, float smallest, float largest) {
    if (!compressed) {
        for (float value : rgba) out.f32(value);
        return;
    }
    initTetrahederLookupTableRec();
    for (size_t k = 0; k + 3 < rgba.size(); k += 4) {
        const Vec3f normal(rgba[k], rgba[k + 1], rgba[k + 2]);
        out.u16(normal.x == 0 && normal.y == 0 && normal.z == 0 ? kEmptyTexel : quantizeNormal(normal));
        const double scaled = largest == smallest ? 0.0 : (rgba[k + 3] - smallest) / (largest - smallest) * 65535.0;
        out.u16(uint16_t(std::clamp(scaled, 0.0, 65535.0)));
    }
}

std::vector<uint8_t> texturesFileBytes(const std::vector<uint8_t>& stamp, const std::vector<RenderedAtlas>& atlases,
                                       bool compressed) {
    ByteWriter out;
    out.bytes(stamp.data(), stamp.size());
    uint64_t uncompressed = 0;
    for (const RenderedAtlas& atlas : atlases) uncompressed += uint64_t(atlas.width) * atlas.height * 32;
    out.u32(uint32_t(uncompressed));
    out.u32(uint32_t(atlases.size()));
    uint32_t offset = uint32_t(stamp.size() + 8 + 20 * atlases.size());
    std::vector<std::pair<float, float>> ranges;
    for (const RenderedAtlas& atlas : atlases) {
        float smallest = 0, largest = 0;
        depthRange(atlas, smallest, largest);
        ranges.push_back({smallest, largest});
        out.u32(atlas.width);
        out.u32(atlas.height);
        out.u32(offset);
        out.f32(smallest);
        out.f32(largest);
        offset += uint32_t(atlas.width) * atlas.height * (compressed ? 8 : 32);
    }
    for (size_t a = 0; a < atlases.size(); ++a) {
        const RenderedAtlas& atlas = atlases[a];
        assert(atlas.front.size() == size_t(atlas.width) * atlas.height * 4 && atlas.back.size() == atlas.front.size());
        writeAtlasSide(out, atlas.front, compressed, ranges[a].first, ranges[a].second);
        writeAtlasSide(out, atlas.back, compressed, ranges[a].first, ranges[a].second);
    }
    return out.data();
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

bool writeTexturesFile(const std::string& path, const std::vector<uint8_t>& stamp,
                       const std::vector<RenderedAtlas>& atlases, bool compressed, std::string& error) {
    return writeFileAtomically(path, texturesFileBytes(stamp, atlases, compressed), error);
}

bool writeGeometryFile(const std::string& path, const VLODObject3D& object, const ImpostorTree& tree,
                       uint32_t compression, std::string& error) {
    return writeFileAtomically(path, geometryFileBytes(object, tree, compression), error);
}
