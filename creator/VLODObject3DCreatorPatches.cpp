// The patches of the working graph: lists linked through their triangles.

#include "VLODObject3DCreator.h"

#include <cassert>

std::vector<uint32_t> VLODObject3DCreator::patchIndices(uint32_t arc) const {
    std::vector<uint32_t> indices;
    indices.reserve(arcs[arc].patch.size());
    for (uint32_t t : patchOf(arc)) indices.push_back(t);
    return indices;
}

void VLODObject3DCreator::appendToPatch(uint32_t arc, uint32_t t) {
    CreatorPatch& patch = arcs[arc].patch;
    CreatorTriangle& triangle = triangles[t];
    triangle.arc = arc;
    triangle.prev = patch.last;
    triangle.next = kNoTriangle;
    if (patch.last == kNoTriangle) patch.first = t;
    else triangles[patch.last].next = t;
    patch.last = t;
    ++patch.count;
}

void VLODObject3DCreator::removeFromPatch(uint32_t t) {
    CreatorTriangle& triangle = triangles[t];
    CreatorPatch& patch = arcs[triangle.arc].patch;
    assert(patch.count > 0 && "(*tr->arc)->patch.tnum > 0");
    if (triangle.prev == kNoTriangle) patch.first = triangle.next;
    else triangles[triangle.prev].next = triangle.next;
    if (triangle.next == kNoTriangle) patch.last = triangle.prev;
    else triangles[triangle.next].prev = triangle.prev;
    triangle.prev = triangle.next = kNoTriangle;
    --patch.count;
}

void VLODObject3DCreator::movePatch(uint32_t from, uint32_t to) {
    CreatorPatch& source = arcs[from].patch;
    CreatorPatch& dest = arcs[to].patch;
    if (source.empty()) return;
    for (uint32_t t = source.first; t != kNoTriangle; t = triangles[t].next) triangles[t].arc = to;
    triangles[source.first].prev = dest.last;
    if (dest.last == kNoTriangle) dest.first = source.first;
    else triangles[dest.last].next = source.first;
    dest.last = source.last;
    dest.count += source.count;
    source = CreatorPatch();
}

void VLODObject3DCreator::dropPatch(uint32_t arc) {
    for (uint32_t t : patchOf(arc)) triangles[t].arc = UINT32_MAX;
    arcs[arc].patch = CreatorPatch();
}
