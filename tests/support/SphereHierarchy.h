#pragma once
// A valid hierarchy over a subdivided icosahedron, for tests, benchmarks and
// sample files. Each node refines one triangle of level k into its four
// children of level k + 1; the nodes of the last level refine into the drain.
//
//   source (1, error 2) --20 arcs, 1 triangle each--> level-0 nodes
//   level-k node (error 2^-k) --4 arcs, 1 triangle each--> level-(k+1) nodes
//   level-(depth-1) node --1 arc, 4 triangles--> drain (0, error 0)
//
// With depth 0 one arc carries the 20 faces from the source into the drain.

#include "VLODObject3D.h"

#include <cstdint>

struct SphereHierarchyOptions {
    uint32_t depth = 2;     // subdivision levels; triangles grow about 4^depth
    uint32_t keyFrames = 1; // 1: static vertices; more: a sphere growing over time
    bool surfels = true;    // one surfel per node of a level, below a root surfel
};

void makeSphereHierarchy(VLODObject3D& object, const SphereHierarchyOptions& options);
