#pragma once
// The records of a multi-triangulation: vertices with their paths, triangles,
// nodes (simplification steps) and arcs (patches between two steps), and the
// surfels of the tree that stands for whole sub-graphs from afar.

#include "BoundingSphere.h"
#include "NormalCone.h"
#include "VVertex.h"

#include <cstdint>
#include <memory>
#include <vector>

struct MTVertex {
    std::unique_ptr<VVertex> path;  // position over time
    uint16_t normal = 0;            // quantized normal
    std::unique_ptr<VVertex> npath; // unit normal over time; null until vertex normals are assigned
};

struct MTTriangle {
    uint32_t v[3] = {0, 0, 0}; // vertex indices, counter-clockwise
    uint32_t arc = 0;          // arc whose patch holds the triangle
    uint16_t normal = 0;       // quantized face normal
};

struct MTNode {
    uint32_t out = 0;         // first outgoing arc
    uint32_t onum = 0;        // outgoing arcs aarray[out] .. aarray[out + onum - 1]
    std::vector<float> error; // one value per key frame
    BoundingSphere sphere;    // bounds everything below the node
    uint16_t coneaxis = 0;    // quantized axis of cone
    float coneangle = 0;      // half angle of cone, radians
    NormalCone cone;
};

struct MTArc {
    uint32_t source = 0; // node the arc leaves
    uint32_t dest = 0;   // node the arc enters
    uint32_t tnum = 0;   // triangles of the patch ...
    uint32_t tstart = 0; // ... starting at this index of the triangle array
    NormalCone cone;     // of the patch's face normals
    std::vector<std::vector<uint32_t>> strips;
};

struct MTSurfel {
    float x = 0, y = 0, z = 0;
    uint16_t normal = 0;
    float reserved = 0;                // kept as read, 0 from construction
    uint32_t parent = 0;               // pnum or more marks the root
    std::vector<uint32_t> mt_children; // nodes (each with exactly one outgoing arc) the surfel stands for
};
