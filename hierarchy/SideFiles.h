#pragma once
// The two files a hierarchy gets beside it the first time it is viewed: the
// textures file (.mv2), the rendered impostor atlases behind the
// configuration stamp they were built under, and the geometry file (.mv3),
// a flat copy of the geometry and the impostor tree for the out-of-core
// path. The textures file's layout is TexturesFile's; rendering the atlases
// is the viewer's.
// Both are written whole to a temporary name and then renamed, so that a
// file under the real name is always complete.

#include "ImpostorTree.h"
#include "TexturesFile.h"

#include <cstdint>
#include <string>
#include <vector>

class ByteWriter;
class VLODObject3D;

// The hierarchy file name with its first ".mvh" replaced.
std::string texturesFileName(const std::string& hierarchyFile);
std::string geometryFileName(const std::string& hierarchyFile);
// Side files made for an earlier hierarchy under this name would be reused
// by the viewer whenever their settings still match: whoever writes a new
// hierarchy removes them.
void removeSideFiles(const std::string& hierarchyFile);

// An impostor record: corners (x, y, z, s, t), normal, depth, flag,
// children, parent, atlas.
void writeImpostor(ByteWriter& out, const MTImpostor& impostor);
std::vector<uint8_t> geometryFileBytes(const VLODObject3D& object, const ImpostorTree& tree, uint32_t compression);

bool writeGeometryFile(const std::string& path, const VLODObject3D& object, const ImpostorTree& tree,
                       uint32_t compression, std::string& error);
