#pragma once
// The two files a hierarchy gets beside it the first time it is viewed: the
// textures file (.mv2), the rendered impostor atlases behind the
// configuration stamp they were built under, and the geometry file (.mv3),
// a flat copy of the geometry and the impostor tree for the out-of-core
// path. This part lays out the bytes; rendering the atlases is the viewer's.
// Both are written whole to a temporary name and then renamed, so that a
// file under the real name is always complete.

#include "ImpostorTree.h"

#include <cstdint>
#include <string>
#include <vector>

class ByteWriter;
class VLODObject3D;

// The hierarchy file name with its first ".mvh" replaced.
std::string texturesFileName(const std::string& hierarchyFile);
std::string geometryFileName(const std::string& hierarchyFile);

// 16-bit texel codes of compressed atlases: the quantized normal, or this
// for a texel that rendering left black (outside the normal table).
constexpr uint16_t kEmptyTexel = 0x8000;

// One atlas as read back from OpenGL: both sides, RGBA floats, row by row.
struct RenderedAtlas {
    uint32_t width = 0, height = 0;
    std::vector<float> front, back; // 4 * width * height each
};

// The smallest and largest fourth channel over both sides.
void depthRange(const RenderedAtlas& atlas, float& smallest, float& largest);
// One side's texels: four floats each, or (compressed) the normal code and
// the depth scaled into [smallest, largest] as 0..65535 (0 when they are equal).
void writeAtlasSide(ByteWriter& out, const std::vector<float>& rgba, bool compressed, float smallest, float largest);
// The whole textures file: stamp, uncompressed size, directory, atlases.
std::vector<uint8_t> texturesFileBytes(const std::vector<uint8_t>& stamp, const std::vector<RenderedAtlas>& atlases,
                                       bool compressed);

// An impostor record: corners (x, y, z, s, t), normal, depth, flag,
// children, parent, atlas.
void writeImpostor(ByteWriter& out, const MTImpostor& impostor);
std::vector<uint8_t> geometryFileBytes(const VLODObject3D& object, const ImpostorTree& tree, uint32_t compression);

// What a textures file says about its atlases, checked against its size.
struct TexturesFileDirectory {
    struct Entry {
        uint32_t width = 0, height = 0, offset = 0;
        float smallest = 0, largest = 0; // depth range
    };
    int32_t compression = 0; // from the stamp
    uint32_t uncompressedBytes = 0;
    std::vector<Entry> atlases;
};
// False, with the reason, for a file too short for its header, directory
// or atlas data.
bool parseTexturesFile(const std::vector<uint8_t>& bytes, TexturesFileDirectory& directory, std::string& error);
// One atlas's texels as floats again (compressed ones decoded: the table
// normal, or black for an empty texel; the depth within its range).
void readAtlas(const std::vector<uint8_t>& bytes, const TexturesFileDirectory& directory, uint32_t atlas,
               RenderedAtlas& result);

bool writeTexturesFile(const std::string& path, const std::vector<uint8_t>& stamp,
                       const std::vector<RenderedAtlas>& atlases, bool compressed, std::string& error);
bool writeGeometryFile(const std::string& path, const VLODObject3D& object, const ImpostorTree& tree,
                       uint32_t compression, std::string& error);
