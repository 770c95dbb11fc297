#include "TexturesFile.h"

#include "ByteStream.h"
#include "FileBytes.h"
#include "QuantizedNormal.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>

// Texel data is read straight into arrays of the host's integers and floats.
static_assert(std::endian::native == std::endian::little, "textures files are little-endian");

namespace {
constexpr uint64_t kCompressionField = 29; // offset of the compression mode inside the stamp

bool readAt(std::FILE* file, uint64_t offset, void* out, uint64_t bytes) {
    return std::fseek(file, long(offset), SEEK_SET) == 0 && std::fread(out, 1, bytes, file) == bytes;
}

uint64_t sizeOf(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return 0;
    const long size = std::ftell(file);
    return size < 0 ? 0 : uint64_t(size);
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
        out.u16(encodeDepth(rgba[k + 3], smallest, largest));
    }
}
} // namespace

uint16_t encodeDepth(float depth, float smallest, float largest) {
    if (!(largest > smallest)) return 0;
    const double scaled = (double(depth) - smallest) / (double(largest) - smallest) * 65535.0;
    return uint16_t(std::lround(std::clamp(scaled, 0.0, 65535.0)));
}

float decodeDepth(uint16_t code, float smallest, float largest) {
    // lerp keeps both ends exact and stays inside the range: smallest +
    // t * (largest - smallest) rounds past it when one end dwarfs the other.
    return float(std::lerp(double(smallest), double(largest), double(code) / 65535.0));
}

void decodeTexel(uint16_t normalCode, uint16_t depthCode, float smallest, float largest, float out[4]) {
    if (normalCode < kEmptyTexel) {
        const Vec3f& n = dequantizeNormal(normalCode);
        out[0] = n.x, out[1] = n.y, out[2] = n.z;
    } else {
        out[0] = out[1] = out[2] = 0;
    }
    out[3] = decodeDepth(depthCode, smallest, largest);
}

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

std::vector<uint8_t> texturesFileBytes(const std::vector<uint8_t>& stamp, const std::vector<RenderedAtlas>& atlases,
                                       bool compressed) {
    assert(stamp.size() == kStampBytes);
    ByteWriter out;
    out.bytes(stamp.data(), stamp.size());
    uint64_t uncompressed = 0;
    for (const RenderedAtlas& atlas : atlases) uncompressed += uint64_t(atlas.width) * atlas.height * 32;
    out.u32(uint32_t(uncompressed));
    out.u32(uint32_t(atlases.size()));
    uint64_t offset = kAtlasDirectoryStart + kAtlasEntryBytes * atlases.size();
    std::vector<std::pair<float, float>> ranges;
    for (const RenderedAtlas& atlas : atlases) {
        float smallest = 0, largest = 0;
        depthRange(atlas, smallest, largest);
        ranges.push_back({smallest, largest});
        out.u32(atlas.width);
        out.u32(atlas.height);
        out.u32(uint32_t(offset));
        out.f32(smallest);
        out.f32(largest);
        offset += uint64_t(atlas.width) * atlas.height * (compressed ? 8 : 32);
    }
    for (size_t a = 0; a < atlases.size(); ++a) {
        const RenderedAtlas& atlas = atlases[a];
        assert(atlas.front.size() == size_t(atlas.width) * atlas.height * 4 && atlas.back.size() == atlas.front.size());
        writeAtlasSide(out, atlas.front, compressed, ranges[a].first, ranges[a].second);
        writeAtlasSide(out, atlas.back, compressed, ranges[a].first, ranges[a].second);
    }
    return out.data();
}

bool writeTexturesFile(const std::string& path, const std::vector<uint8_t>& stamp,
                       const std::vector<RenderedAtlas>& atlases, bool compressed, std::string& error) {
    return writeFileAtomically(path, texturesFileBytes(stamp, atlases, compressed), error);
}

bool readTexturesHeader(std::FILE* file, TexturesFileHeader& header, std::string& error) {
    header = TexturesFileHeader();
    header.fileBytes = sizeOf(file);
    uint8_t bytes[kAtlasDirectoryStart];
    if (header.fileBytes < kAtlasDirectoryStart || !readAt(file, 0, bytes, sizeof bytes)) {
        error = "textures file too short for its header";
        return false;
    }
    ByteReader in(bytes + kCompressionField, sizeof bytes - kCompressionField);
    uint32_t compression = 0;
    in.u32(compression);
    in.u32(header.uncompressedBytes);
    in.u32(header.atlasCount);
    header.compression = int32_t(compression);
    // Divided, so that a lying count cannot overflow the test.
    if (header.atlasCount > (header.fileBytes - kAtlasDirectoryStart) / kAtlasEntryBytes) {
        error = "textures file too short for its directory of " + std::to_string(header.atlasCount) + " atlases";
        return false;
    }
    return true;
}

bool readAtlasEntry(std::FILE* file, const TexturesFileHeader& header, uint32_t index, AtlasEntry& entry,
                    std::string& error) {
    uint8_t bytes[kAtlasEntryBytes];
    if (index >= header.atlasCount || !readAt(file, kAtlasDirectoryStart + kAtlasEntryBytes * index, bytes, sizeof bytes)) {
        error = "atlas " + std::to_string(index) + " is not in the textures file's directory";
        return false;
    }
    ByteReader in(bytes, sizeof bytes);
    AtlasEntry e;
    in.u32(e.width);
    in.u32(e.height);
    in.u32(e.offset);
    in.f32(e.smallest);
    in.f32(e.largest);
    // Both sides must lie inside the file (divided, so that lying sizes cannot overflow).
    const uint64_t room = e.offset <= header.fileBytes ? (header.fileBytes - e.offset) / (2 * header.texelBytes()) : 0;
    if (e.offset > header.fileBytes || (e.height != 0 && e.width > room / e.height)) {
        error = "atlas " + std::to_string(index) + " lies beyond the end of the textures file";
        return false;
    }
    // Compressed depths are decoded across this range, which the writer
    // made from finite depths (uncompressed texels do not use it).
    if (header.compressed() && (!std::isfinite(e.smallest) || !std::isfinite(e.largest))) {
        error = "atlas " + std::to_string(index) + " has a depth range that is not finite";
        return false;
    }
    entry = e;
    return true;
}

bool readTexturesDirectory(std::FILE* file, TexturesFileDirectory& directory, std::string& error) {
    directory = TexturesFileDirectory();
    bool read = readTexturesHeader(file, directory.header, error);
    directory.atlases.resize(read ? directory.header.atlasCount : 0);
    for (uint32_t a = 0; read && a < directory.atlases.size(); ++a)
        read = readAtlasEntry(file, directory.header, a, directory.atlases[a], error);
    if (!read) directory = TexturesFileDirectory(); // nothing half-read is left
    return read;
}

bool readAtlasSides(std::FILE* file, const TexturesFileHeader& header, const AtlasEntry& entry,
                    std::vector<float>& front, std::vector<float>& back, std::vector<uint16_t>& frontCodes,
                    std::vector<uint16_t>& backCodes, std::string& error) {
    front.clear(), back.clear(), frontCodes.clear(), backCodes.clear();
    const uint64_t texels = uint64_t(entry.width) * entry.height, sideBytes = texels * header.texelBytes();
    bool read = false;
    if (header.compressed()) {
        frontCodes.resize(2 * texels);
        backCodes.resize(2 * texels);
        read = readAt(file, entry.offset, frontCodes.data(), sideBytes) &&
               readAt(file, entry.offset + sideBytes, backCodes.data(), sideBytes);
    } else {
        front.resize(4 * texels);
        back.resize(4 * texels);
        read = readAt(file, entry.offset, front.data(), sideBytes) &&
               readAt(file, entry.offset + sideBytes, back.data(), sideBytes);
    }
    if (read) return true;
    front.clear(), back.clear(), frontCodes.clear(), backCodes.clear();
    error = "cannot read the atlas at offset " + std::to_string(entry.offset);
    return false;
}

void decodeSide(const std::vector<uint16_t>& codes, const AtlasEntry& entry, std::vector<float>& texels) {
    initTetrahederLookupTableRec();
    texels.resize(codes.size() * 2);
    for (size_t k = 0; 2 * k + 1 < codes.size(); ++k)
        decodeTexel(codes[2 * k], codes[2 * k + 1], entry.smallest, entry.largest, &texels[4 * k]);
}

bool readAtlas(std::FILE* file, const TexturesFileDirectory& directory, uint32_t index, RenderedAtlas& atlas,
               std::string& error) {
    atlas = RenderedAtlas();
    if (index >= directory.atlases.size()) {
        error = "atlas " + std::to_string(index) + " is not in the textures file's directory";
        return false;
    }
    const AtlasEntry& entry = directory.atlases[index];
    std::vector<uint16_t> frontCodes, backCodes;
    if (!readAtlasSides(file, directory.header, entry, atlas.front, atlas.back, frontCodes, backCodes, error))
        return false;
    if (directory.header.compressed()) {
        decodeSide(frontCodes, entry, atlas.front);
        decodeSide(backCodes, entry, atlas.back);
    }
    atlas.width = entry.width;
    atlas.height = entry.height;
    return true;
}
