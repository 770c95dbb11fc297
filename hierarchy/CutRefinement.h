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

// What the error test reads of a node: its sphere and its squared error at
// time 0 (the frame shows the vertices at time 0).
struct NodeBounds {
    float x = 0, y = 0, z = 0, r = 0;
    float error = 0;
};
NodeBounds nodeBounds(const VLODObject3D& object, uint32_t node);

// Whether a node's error shows on screen: its squared error (a quadric cost,
// a squared length) against the squared bound at the nearest point of its
// sphere, both scaled by the model-view matrix.
bool nodeNeedsRefinement(const NodeBounds& node, const SelectionView& view);
// The model-view's largest squared axis scale, which brings a scaled
// object's errors and spheres into eye units; a selection computes it once
// and hands it to the test for each node.
double modelViewScale2(const SelectionView& view);
bool nodeNeedsRefinement(const NodeBounds& node, const SelectionView& view, double scale2);

class CutRefinement {
  public:
    // Starts from cut.validTriangles (the nodes the impostor walk reached,
    // refined whatever their error), appends the nodes refined below them
    // and fills cut.validArcs with the arcs whose patches are drawn.
    void refine(const VLODObject3D& object, const SelectionView& view, ImpostorSelection& cut);

  private:
    void prepare(const VLODObject3D& object);
    void markCovered(const ImpostorTree& tree, const std::vector<uint32_t>& accepted);
    bool coveredImpostor(uint32_t impostor) const;

    const VLODObject3D* mObject = nullptr;
    // Per node, the arcs into it as the impostors of their sources, in one
    // array (node n's run starts at mInStart[n]): counting a node's open
    // parents then reads memory in order.
    std::vector<uint32_t> mInStart, mInImpostor;
    std::vector<uint32_t> mImpostorCovered;  // generation in which an accepted impostor stood above
    std::vector<uint32_t> mArcDest;          // aarray[a].dest, packed
    std::vector<uint32_t> mOutStart, mOutEnd; // node n's outgoing arcs, packed: mOutStart[n] .. mOutEnd[n] - 1
    struct NodeState {
        uint32_t visited = 0;   // generation that set remaining
        uint32_t remaining = 0; // arcs into the node from parents not yet refined
        uint32_t refined = 0;   // generation that refined the node
    };
    std::vector<NodeState> mNodes;
    std::vector<NodeBounds> mBounds; // packed copies of what the error test reads
    std::vector<uint32_t> mStack;
    uint32_t mGeneration = 0;
};
