#pragma once
// The per-frame cut through the impostor tree: an impostor is drawn when its
// flat quad is good enough for the view (neither its parallax nor its texel
// size shows at the allowed error); otherwise the selection descends, and
// where it leaves the impostors it reaches the nodes whose triangle patches
// are drawn instead.

#include "ImpostorTree.h"

#include <cstdint>
#include <set>
#include <vector>

struct ImpostorSelection {
    std::vector<uint32_t> validImposters; // impostors to draw
    std::vector<uint32_t> validTriangles; // nodes whose outgoing patches to draw
    std::vector<uint32_t> validArcs;      // the arcs of those patches that are drawn (refineCut)
    // Out of core: the texture ids the cut needs now (AN_List), and those to
    // fetch ahead of need (PC_List).
    std::set<uint32_t> needed, prefetch;
};

// The selection's inputs: e2 the squared error bound, Q the texel weight,
// P the squared projection constant, modelView the current model-view matrix
// (column-major).
struct SelectionView {
    double e2 = 1, Q = 1, P = 1;
    float modelView[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

// Whether impostor's quad may stand for its geometry in this view.
bool acceptImpostor(const MTImpostor& impostor, const SelectionView& view);

// Fills selection (cleared first) from the root. With outOfCore, the texture
// ids (atlases) go into the two sets; prefetchStrategy 1 ("k parents &
// children") adds the parents and impostor children of accepted impostors.
void selectCut(const ImpostorTree& tree, const SelectionView& view, bool outOfCore, int32_t prefetchStrategy,
               ImpostorSelection& selection);

// The lines the object prints after every selection: the sizes of the two
// result lists, and out of core those of the two texture sets.
void logSelectionSizes(const ImpostorSelection& selection, bool outOfCore);
