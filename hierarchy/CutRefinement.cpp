#include "CutRefinement.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {
constexpr uint32_t kNone = 0xFFFFFFFF;
}

NodeBounds nodeBounds(const VLODObject3D& object, uint32_t node) {
    const MTNode& n = object.narray[node];
    return {n.sphere.x, n.sphere.y, n.sphere.z, n.sphere.r, n.error.empty() ? 0.0f : n.error[0]};
}

double modelViewScale2(const SelectionView& view) {
    const float* M = view.modelView;
    double scale2 = 0;
    for (int c = 0; c < 3; ++c)
        scale2 = std::max(scale2, double(M[4 * c]) * M[4 * c] + double(M[4 * c + 1]) * M[4 * c + 1] +
                                      double(M[4 * c + 2]) * M[4 * c + 2]);
    return scale2;
}

bool nodeNeedsRefinement(const NodeBounds& node, const SelectionView& view, double scale2) {
    if (!(node.error > 0)) return false;
    const float* M = view.modelView;
    const double x = node.x, y = node.y, z = node.z;
    const double ex = M[0] * x + M[4] * y + M[8] * z + M[12];
    const double ey = M[1] * x + M[5] * y + M[9] * z + M[13];
    const double ez = M[2] * x + M[6] * y + M[10] * z + M[14];
    const double distance = std::sqrt(ex * ex + ey * ey + ez * ez) - node.r * std::sqrt(scale2);
    if (distance <= 0) return true; // the eye is inside: any error may show
    return double(node.error) * scale2 * view.P > view.e2 * distance * distance;
}

bool nodeNeedsRefinement(const NodeBounds& node, const SelectionView& view) {
    return nodeNeedsRefinement(node, view, modelViewScale2(view));
}

void CutRefinement::prepare(const VLODObject3D& object) {
    mObject = &object;
    const uint32_t nnum = object.nnum();
    const ImpostorTree& tree = object.mImpostorTree;
    const uint32_t inum = tree.inum();
    std::vector<uint32_t> depth(inum, 0); // steps from the root
    // Parents stand before or after their children: walk down from the root.
    mStack.clear();
    if (tree.root < inum) mStack.push_back(tree.root);
    std::vector<uint32_t> referenced(nnum, kNone);
    while (!mStack.empty()) {
        const uint32_t i = mStack.back();
        mStack.pop_back();
        for (uint32_t child : tree.impostors[i].children) {
            if (child < inum) {
                depth[child] = depth[i] + 1;
                mStack.push_back(child);
            } else if (child - inum < nnum) {
                referenced[child - inum] = i;
            }
        }
    }
    auto lowestCommon = [&](uint32_t a, uint32_t b) {
        if (a == kNone || b == kNone) return kNone;
        while (a != b) {
            if (depth[a] >= depth[b])
                a = tree.impostors[a].parent;
            else
                b = tree.impostors[b].parent;
            if (a >= inum || b >= inum) return kNone;
        }
        return a;
    };
    // Sources first: every node after all the nodes with arcs into it.
    std::vector<uint32_t> order(nnum);
    std::iota(order.begin(), order.end(), 0u);
    if (object.mNodeLayers.size() == nnum)
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return object.mNodeLayers[a] < object.mNodeLayers[b]; });
    std::vector<uint32_t> nodeImpostor(nnum, kNone); // lowest impostor above all of a node's sources
    for (uint32_t n : order) {
        if (referenced[n] != kNone) {
            nodeImpostor[n] = referenced[n];
            continue;
        }
        const std::vector<uint32_t>& in = object.in_arcs[n];
        if (in.empty()) continue; // a source no impostor stands for
        uint32_t lowest = nodeImpostor[object.aarray[in[0]].source];
        for (size_t k = 1; k < in.size() && lowest != kNone; ++k)
            lowest = lowestCommon(lowest, nodeImpostor[object.aarray[in[k]].source]);
        nodeImpostor[n] = lowest;
    }
    mInStart.assign(nnum + 1, 0);
    mInImpostor.clear();
    mOutStart.resize(nnum);
    mOutEnd.resize(nnum);
    mBounds.resize(nnum);
    for (uint32_t n = 0; n < nnum; ++n) {
        for (uint32_t in : object.in_arcs[n]) mInImpostor.push_back(nodeImpostor[object.aarray[in].source]);
        mInStart[n + 1] = uint32_t(mInImpostor.size());
        mOutStart[n] = object.narray[n].out;
        mOutEnd[n] = object.narray[n].out + object.narray[n].onum;
        mBounds[n] = nodeBounds(object, n);
    }
    mArcDest.resize(object.anum());
    for (uint32_t a = 0; a < object.anum(); ++a) mArcDest[a] = object.aarray[a].dest;
    mImpostorCovered.assign(inum, 0);
    mNodes.assign(nnum, NodeState());
    mGeneration = 0;
}

void CutRefinement::markCovered(const ImpostorTree& tree, const std::vector<uint32_t>& accepted) {
    const uint32_t inum = tree.inum();
    mStack.assign(accepted.begin(), accepted.end());
    while (!mStack.empty()) {
        const uint32_t i = mStack.back();
        mStack.pop_back();
        if (i >= inum || mImpostorCovered[i] == mGeneration) continue;
        mImpostorCovered[i] = mGeneration;
        for (uint32_t child : tree.impostors[i].children)
            if (child < inum) mStack.push_back(child);
    }
}

bool CutRefinement::coveredImpostor(uint32_t impostor) const {
    return impostor != kNone && mImpostorCovered[impostor] == mGeneration;
}

void CutRefinement::refine(const VLODObject3D& object, const SelectionView& view, ImpostorSelection& cut) {
    const uint32_t nnum = object.nnum();
    if (object.in_arcs.size() != nnum) {
        // Without the incoming arcs (an object not set up by reading) the
        // reached nodes' own patches are all that can be drawn soundly.
        cut.validArcs.clear();
        for (uint32_t n : cut.validTriangles)
            if (n < nnum)
                for (uint32_t a = object.narray[n].out; a < object.narray[n].out + object.narray[n].onum; ++a)
                    cut.validArcs.push_back(a);
        return;
    }
    if (mObject != &object || mNodes.size() != nnum || mImpostorCovered.size() != object.mImpostorTree.inum())
        prepare(object);
    if (++mGeneration == 0) { // wrapped: old stamps could match again
        std::fill(mImpostorCovered.begin(), mImpostorCovered.end(), 0);
        std::fill(mNodes.begin(), mNodes.end(), NodeState());
        mGeneration = 1;
    }
    const uint32_t generation = mGeneration;
    const double scale2 = modelViewScale2(view); // once a frame, not once a node
    markCovered(object.mImpostorTree, cut.validImposters);

    std::vector<uint32_t>& nodes = cut.validTriangles;
    // The reached nodes stand for refused impostors: they are refined. A
    // node listed twice is kept once.
    size_t kept = 0;
    for (uint32_t n : nodes) {
        if (n >= nnum || n == object.mDrainNode || mNodes[n].refined == generation) continue;
        mNodes[n].refined = generation;
        nodes[kept++] = n;
    }
    nodes.resize(kept);
    // Breadth first below them: a node is decided once each of its parents
    // is refined or under an accepted impostor.
    for (size_t i = 0; i < nodes.size(); ++i) {
        const uint32_t n = nodes[i];
        for (uint32_t a = mOutStart[n]; a < mOutEnd[n]; ++a) {
            const uint32_t dest = mArcDest[a];
            NodeState& state = mNodes[dest];
            if (dest == object.mDrainNode || state.refined == generation) continue;
            if (state.visited != generation) {
                state.visited = generation;
                uint32_t open = mInStart[dest + 1] - mInStart[dest];
                if (!cut.validImposters.empty())
                    for (uint32_t k = mInStart[dest]; k < mInStart[dest + 1]; ++k) open -= coveredImpostor(mInImpostor[k]);
                state.remaining = open;
            }
            if (state.remaining > 0 && --state.remaining == 0 && nodeNeedsRefinement(mBounds[dest], view, scale2)) {
                state.refined = generation;
                nodes.push_back(dest);
            }
        }
    }
    cut.validArcs.clear();
    for (uint32_t n : nodes)
        for (uint32_t a = mOutStart[n]; a < mOutEnd[n]; ++a)
            if (mNodes[mArcDest[a]].refined != generation) cut.validArcs.push_back(a);
}
