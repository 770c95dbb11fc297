#pragma once
// Reading the geometry side file (.mv3) that writeGeometryFile writes: the
// flat copy of the vertices (table normal and position at time 0), the
// triangles, the ranges of the nodes' outgoing arcs and of the arcs'
// patches, and the impostor tree with its root.
//
// The file is trusted no further than its size: every count is checked
// against the bytes left before anything is allocated, and every index
// against what it indexes, so that selecting and drawing can walk the
// arrays without checks of their own. The impostor tree must be a tree
// (each impostor listed as a child once, by its parent), so that a walk
// from the root ends.

#include "BoundingSphere.h"
#include "ImpostorTree.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct GeometryFileContents {
    struct Node {
        uint32_t out = 0, onum = 0; // outgoing arcs out .. out + onum - 1
    };
    struct Arc {
        uint32_t tnum = 0, tstart = 0; // triangles tstart .. tstart + tnum - 1
    };
    static constexpr size_t kFloatsPerVertex = 6; // normal x, y, z, then position x, y, z

    uint32_t compression = 0; // the texture compression the side files were made under
    BoundingSphere sphere;    // of the whole object
    std::vector<float> vertices;
    std::vector<uint32_t> triangles; // three vertex indices each
    std::vector<Node> nodes;
    std::vector<Arc> arcs;
    ImpostorTree tree; // impostors and root only: no layers, no atlas lists

    uint32_t vnum() const { return uint32_t(vertices.size() / kFloatsPerVertex); }
    uint32_t tnum() const { return uint32_t(triangles.size() / 3); }
    uint32_t nnum() const { return uint32_t(nodes.size()); }
    uint32_t anum() const { return uint32_t(arcs.size()); }
    bool empty() const {
        return vertices.empty() && triangles.empty() && nodes.empty() && arcs.empty() &&
               tree.impostors.empty();
    }
};

// The textures file that belongs to a geometry file: its ".mv3" ending
// replaced by ".mv2"; empty when the name does not end in ".mv3".
std::string texturesFileForGeometry(const std::string& geometryFile);

// The bytes of a geometry file whose impostors' atlases are below
// atlasCount. False, with what was wrong in error and out left empty, when
// the bytes are short, left over or inconsistent.
bool readGeometryBytes(const uint8_t* data, size_t size, uint32_t atlasCount, GeometryFileContents& out,
                       std::string& error);
// The same from a file whose name ends in ".mv3".
bool readGeometryFile(const std::string& path, uint32_t atlasCount, GeometryFileContents& out,
                      std::string& error);
// The same, with the atlas count from the header of the textures file
// beside it (texturesFileForGeometry).
bool readGeometryFile(const std::string& path, GeometryFileContents& out, std::string& error);
