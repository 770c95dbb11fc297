#pragma once
// The textures side file (.mv2): the configuration stamp, the uncompressed
// size, a directory of 20 bytes per atlas (width, height, data offset, depth
// range), then each atlas's front and back side. Texels are four floats, or
// under compression a 16-bit normal code and a 16-bit depth code.
//
// This is the only place that knows the layout: the writer, the directory
// reader the textures and the side-file step share, and the one texel codec.
// Readers check every directory entry against the file's size before
// anything is allocated, so a truncated or lying file is refused in order.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr uint64_t kStampBytes = 33;
constexpr uint64_t kAtlasDirectoryStart = kStampBytes + 8; // after the stamp, the size and the count
constexpr uint64_t kAtlasEntryBytes = 20;
// Normal code of a texel that rendering left black (outside the normal table).
constexpr uint16_t kEmptyTexel = 0x8000;

// One atlas as read back from OpenGL, or decoded from the file: both sides,
// RGBA floats (normal, depth), row by row.
struct RenderedAtlas {
    uint32_t width = 0, height = 0;
    std::vector<float> front, back; // 4 * width * height each
};

struct AtlasEntry {
    uint32_t width = 0, height = 0, offset = 0;
    float smallest = 0, largest = 0; // depth range over both sides
};

struct TexturesFileHeader {
    int32_t compression = 0;        // the mode the file was written in, from its stamp
    uint32_t uncompressedBytes = 0; // width * height * 32 summed over the atlases
    uint32_t atlasCount = 0;
    uint64_t fileBytes = 0;
    bool compressed() const { return compression != 0; }
    // Bytes of one side's texel in the file.
    uint64_t texelBytes() const { return compressed() ? 4 : 16; }
};

struct TexturesFileDirectory {
    TexturesFileHeader header;
    std::vector<AtlasEntry> atlases;
};

// --- texel codec --------------------------------------------------------

// Depth as 0..65535 across [smallest, largest], rounded to the nearest code;
// 0 when the range is empty.
uint16_t encodeDepth(float depth, float smallest, float largest);
// Code 0 is smallest and 65535 largest exactly; no code decodes outside the
// range, whatever its width (or order).
float decodeDepth(uint16_t code, float smallest, float largest);
// A compressed texel as (nx, ny, nz, depth): the table normal, or a zero
// normal for an empty texel.
void decodeTexel(uint16_t normalCode, uint16_t depthCode, float smallest, float largest, float out[4]);

// --- writing ------------------------------------------------------------

// The smallest and largest fourth channel over both sides.
void depthRange(const RenderedAtlas& atlas, float& smallest, float& largest);
// The whole textures file: stamp, uncompressed size, directory, atlases.
std::vector<uint8_t> texturesFileBytes(const std::vector<uint8_t>& stamp, const std::vector<RenderedAtlas>& atlases,
                                       bool compressed);
bool writeTexturesFile(const std::string& path, const std::vector<uint8_t>& stamp,
                       const std::vector<RenderedAtlas>& atlases, bool compressed, std::string& error);

// --- reading ------------------------------------------------------------

// False, with the reason, when the file is too short for its header.
bool readTexturesHeader(std::FILE* file, TexturesFileHeader& header, std::string& error);
// Entry index of the directory; false when it is not in the directory, its
// atlas data lies beyond the end of the file, or the file is compressed and
// the entry's depth range is not finite.
bool readAtlasEntry(std::FILE* file, const TexturesFileHeader& header, uint32_t index, AtlasEntry& entry,
                    std::string& error);
bool readTexturesDirectory(std::FILE* file, TexturesFileDirectory& directory, std::string& error);

// Both sides of an atlas as stored: floats of an uncompressed file (4 a
// texel), or codes of a compressed one (2 a texel); the other pair is left empty.
bool readAtlasSides(std::FILE* file, const TexturesFileHeader& header, const AtlasEntry& entry,
                    std::vector<float>& front, std::vector<float>& back, std::vector<uint16_t>& frontCodes,
                    std::vector<uint16_t>& backCodes, std::string& error);
// Codes of one side as floats.
void decodeSide(const std::vector<uint16_t>& codes, const AtlasEntry& entry, std::vector<float>& texels);
// One atlas as floats, whatever the file's mode.
bool readAtlas(std::FILE* file, const TexturesFileDirectory& directory, uint32_t index, RenderedAtlas& atlas,
               std::string& error);
