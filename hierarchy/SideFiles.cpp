#include "SideFiles.h"

#include "ByteStream.h"
#include "FileBytes.h"
#include "QuantizedNormal.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <cassert>
#include <cstring>

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

bool parseTexturesFile(const std::vector<uint8_t>& bytes, TexturesFileDirectory& directory, std::string& error) {
    directory = TexturesFileDirectory();
    constexpr size_t kStampSize = 33;
    ByteReader in(bytes.data(), bytes.size());
    uint8_t stamp[kStampSize];
    uint32_t count = 0;
    if (!in.bytes(stamp, kStampSize) || !in.u32(directory.uncompressedBytes) || !in.u32(count)) {
        error = "textures file too short for its header";
        return false;
    }
    std::memcpy(&directory.compression, stamp + 29, 4);
    if (!in.canHold(count, 20)) {
        error = "textures file too short for its directory of " + std::to_string(count) + " atlases";
        return false;
    }
    const uint64_t bytesPerTexel = directory.compression == 0 ? 32 : 8;
    for (uint32_t a = 0; a < count; ++a) {
        TexturesFileDirectory::Entry e;
        in.u32(e.width);
        in.u32(e.height);
        in.u32(e.offset);
        in.f32(e.smallest);
        in.f32(e.largest);
        // Divided, so that lying sizes cannot overflow the test.
        const uint64_t room = e.offset <= bytes.size() ? (bytes.size() - e.offset) / bytesPerTexel : 0;
        if (e.offset > bytes.size() || (e.height != 0 && e.width > room / e.height)) {
            error = "atlas " + std::to_string(a) + " lies beyond the end of the textures file";
            return false;
        }
        directory.atlases.push_back(e);
    }
    return true;
}

void readAtlas(const std::vector<uint8_t>& bytes, const TexturesFileDirectory& directory, uint32_t atlas,
               RenderedAtlas& result) {
    initTetrahederLookupTableRec();
    const TexturesFileDirectory::Entry& e = directory.atlases[atlas];
    const size_t texels = size_t(e.width) * e.height;
    result.width = e.width;
    result.height = e.height;
    ByteReader in(bytes.data() + e.offset, bytes.size() - e.offset);
    for (std::vector<float>* side : {&result.front, &result.back}) {
        side->assign(4 * texels, 0.0f);
        for (size_t k = 0; k < texels; ++k) {
            float* texel = &(*side)[4 * k];
            if (directory.compression == 0) {
                for (int c = 0; c < 4; ++c) in.f32(texel[c]);
                continue;
            }
            uint16_t normal = kEmptyTexel, depth = 0;
            in.u16(normal);
            in.u16(depth);
            if (normal >= kEmptyTexel) continue;
            const Vec3f& n = dequantizeNormal(normal);
            texel[0] = n.x;
            texel[1] = n.y;
            texel[2] = n.z;
            texel[3] = e.smallest + float(depth) / 65535.0f * (e.largest - e.smallest);
        }
    }
}

bool writeTexturesFile(const std::string& path, const std::vector<uint8_t>& stamp,
                       const std::vector<RenderedAtlas>& atlases, bool compressed, std::string& error) {
    return writeFileAtomically(path, texturesFileBytes(stamp, atlases, compressed), error);
}

bool writeGeometryFile(const std::string& path, const VLODObject3D& object, const ImpostorTree& tree,
                       uint32_t compression, std::string& error) {
    return writeFileAtomically(path, geometryFileBytes(object, tree, compression), error);
}
