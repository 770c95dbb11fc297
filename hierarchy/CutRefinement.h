#pragma once
// Below the impostors: the multi-triangulation refined from the nodes the
// impostor walk reached, as far as the view needs. A node is refined when
// its error, seen from the eye, is above the bound and every node with an
// arc into it is refined or stands under an accepted impostor; the patches
// drawn are those of the arcs leaving a refined node into one that is not.
// Node errors grow towards the sources and node spheres hold those below
// them, so wherever no impostor stands the drawn arcs form one mesh.
//
// A node stands under an accepted impostor when every source patch it
// derives from does: each node keeps the lowest impostor above all of them,
// computed once per object.

#include "ImpostorSelection.h"

#include <cstdint>
#include <vector>

class VLODObject3D;

// Whether node's error shows on screen: its squared error (a quadric cost,
// a squared length) against the squared bound at the nearest point of its
// sphere, both scaled by the model-view matrix.
bool nodeNeedsRefinement(const VLODObject3D& object, uint32_t node, const SelectionView& view);

class CutRefinement {
  public:
    // Starts from cut.validTriangles (the nodes the impostor walk reached,
    // refined whatever their error), appends the nodes refined below them
    // and fills cut.validArcs with the arcs whose patches are drawn.
    void refine(const VLODObject3D& object, const SelectionView& view, ImpostorSelection& cut);

  private:
    void prepare(const VLODObject3D& object);
    void markCovered(const ImpostorTree& tree, const std::vector<uint32_t>& accepted);
    bool covered(uint32_t node) const;

    const VLODObject3D* mObject = nullptr;
    std::vector<uint32_t> mNodeImpostor;     // lowest impostor above all of a node's sources (or none)
    std::vector<uint32_t> mImpostorDepth;    // steps from the root
    std::vector<uint32_t> mImpostorCovered;  // generation in which an accepted impostor stood above
    std::vector<uint32_t> mVisited;          // generation that set mRemaining
    std::vector<uint32_t> mRemaining;        // arcs into the node from parents not yet refined
    std::vector<uint32_t> mRefined;          // generation that refined the node
    std::vector<uint32_t> mStack;
    uint32_t mGeneration = 0;
};
