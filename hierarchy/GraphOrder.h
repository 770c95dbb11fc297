#pragma once
// Order of the nodes of a hierarchy's graph. Plain functions over the arc
// array so that the builder can use them on its own graphs too.

#include "MTRecords.h"

#include <cstdint>
#include <span>
#include <vector>

// Layer of every node: the length of the longest path to it from a node
// without incoming arcs. Also gives the nodes in an order where every arc's
// source comes before its dest, when order is not null. Returns false, with
// layers and order unspecified, when the graph has a cycle. Every arc's source
// and dest must be below nodeCount.
bool computeLongestPathLayers(uint32_t nodeCount, std::span<const MTArc> arcs, std::vector<uint32_t>& layers,
                              std::vector<uint32_t>* order = nullptr);
