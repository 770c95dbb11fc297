#include "GraphOrder.h"

#include <cassert>

bool computeLongestPathLayers(uint32_t nodeCount, std::span<const MTArc> arcs, std::vector<uint32_t>& layers,
                              std::vector<uint32_t>* order) {
    // Outgoing arcs per node by source, in a compressed array: the arcs of a
    // node need not be contiguous here.
    std::vector<uint32_t> first(size_t(nodeCount) + 1, 0), inDegree(nodeCount, 0);
    for (const MTArc& a : arcs) {
        assert(a.source < nodeCount && a.dest < nodeCount);
        ++first[a.source + 1];
        ++inDegree[a.dest];
    }
    for (uint32_t n = 0; n < nodeCount; ++n) first[n + 1] += first[n];
    std::vector<uint32_t> targets(arcs.size());
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (const MTArc& a : arcs) targets[fill[a.source]++] = a.dest;

    // Kahn's algorithm; a node's layer is final once all its sources are done.
    layers.assign(nodeCount, 0);
    std::vector<uint32_t> ready;
    ready.reserve(nodeCount);
    for (uint32_t n = 0; n < nodeCount; ++n)
        if (inDegree[n] == 0) ready.push_back(n);
    for (size_t head = 0; head < ready.size(); ++head) {
        uint32_t n = ready[head];
        for (uint32_t i = first[n]; i < first[n + 1]; ++i) {
            uint32_t d = targets[i];
            if (layers[d] < layers[n] + 1) layers[d] = layers[n] + 1;
            if (--inDegree[d] == 0) ready.push_back(d);
        }
    }
    if (order) *order = ready;
    return ready.size() == nodeCount;
}
