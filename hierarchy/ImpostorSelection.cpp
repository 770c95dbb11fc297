#include "ImpostorSelection.h"
#include "LogStream.h"

bool acceptImpostor(const MTImpostor& impostor, const SelectionView& view) {
    const float* M = view.modelView;
    const MTImpostor::Corner *c0 = &impostor.corners[0], *c1 = &impostor.corners[1], *c2 = &impostor.corners[2];
    const double cx = (double(c0->x) + c2->x) / 2, cy = (double(c0->y) + c2->y) / 2, cz = (double(c0->z) + c2->z) / 2;
    const double z = double(M[2]) * cx + double(M[6]) * cy + double(M[10]) * cz + M[14]; // eye-space depth
    const double cosine =
        double(M[2]) * impostor.normal.x + double(M[6]) * impostor.normal.y + double(M[10]) * impostor.normal.z;
    const double d = impostor.depth;
    // Parallax: the quad's depth would show as an error above the bound.
    if (z * z * view.e2 < (1 - cosine * cosine) * d * d * view.P) return false;
    // Resolution: enough texels along the first edge for its length on screen.
    const double ds = double(c1->s) - c0->s;
    const double ex = double(c1->x) - c0->x, ey = double(c1->y) - c0->y, ez = double(c1->z) - c0->z;
    const double length2 = ex * ex + ey * ey + ez * ez;
    return ds * ds * z * z * view.Q >= length2 * view.P;
}

void selectCut(const ImpostorTree& tree, const SelectionView& view, bool outOfCore, int32_t prefetchStrategy,
               ImpostorSelection& selection) {
    selection = ImpostorSelection();
    if (tree.impostors.empty() || tree.root >= tree.inum()) return;
    const uint32_t inum = tree.inum();
    // Depth first with the children in their order, as the recursive walk
    // goes; a value of inum or more on the stack is a node reference.
    std::vector<uint32_t> stack{tree.root};
    while (!stack.empty()) {
        const uint32_t i = stack.back();
        stack.pop_back();
        if (i >= inum) {
            selection.validTriangles.push_back(i - inum);
            continue;
        }
        const MTImpostor& impostor = tree.impostors[i];
        if (!acceptImpostor(impostor, view)) {
            stack.insert(stack.end(), impostor.children.rbegin(), impostor.children.rend());
            continue;
        }
        selection.validImposters.push_back(i);
        if (!outOfCore) continue;
        selection.needed.insert(impostor.atlas);
        if (prefetchStrategy != 1) continue;
        if (impostor.parent != MTImpostor::kNoParent) selection.prefetch.insert(tree.impostors[impostor.parent].atlas);
        for (uint32_t child : impostor.children)
            if (child < inum) selection.prefetch.insert(tree.impostors[child].atlas);
    }
}

void logSelectionSizes(const ImpostorSelection& selection, bool outOfCore) {
    std::ostream& out = logOut();
    out << "mValidImposters.size: " << selection.validImposters.size() << "\n"
        << "mValidTriangles.size: " << selection.validTriangles.size() << "\n";
    if (outOfCore) out << "PC_List.size: " << selection.prefetch.size() << "\n" << "AN_List.size: " << selection.needed.size() << "\n";
}
