// Merging keeps the hierarchy view-dependent: on the scanned dragon, a cut
// at a given error draws about what the unmerged graph draws, and the
// patches still reach a useful size.

#include "MeshTestSupport.h"
#include "TestFiles.h"
#include "VLODObject3DCreator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {
constexpr uint32_t kPatchSize = 64;

double averagePatch(const VLODObject3DCreator& c) {
    size_t triangles = 0, arcs = 0;
    for (const CreatorArc& a : c.arcs) {
        triangles += a.patch.size();
        arcs += !a.patch.empty();
    }
    return double(triangles) / double(std::max<size_t>(arcs, 1));
}

// Triangles on the arcs from a node whose error is above `error` into one
// whose error is not: the cut a view drawn at that error shows. Errors grow
// towards the sources, so the nodes above hold all their ancestors.
size_t cutAtError(const VLODObject3D& h, float error) {
    auto above = [&](uint32_t n) { return h.narray[n].error[0] > error || h.in_arcs[n].empty(); };
    size_t triangles = 0;
    for (const MTArc& a : h.aarray)
        if (above(a.source) && !above(a.dest)) triangles += a.tnum;
    return triangles;
}
} // namespace

// Merges that joined steps of far apart errors made a few nodes that turn
// the coarse mesh into most of the fine one at once; any cut finer than the
// coarsest then drew them whole.
TEST(MergeRefusal, CutsAtEveryErrorStayNearTheUnmergedOnes) {
    MORVA_SKIP_WITHOUT_DRAGON();
    CapturedLog log;
    VObject3D dragon;
    ASSERT_TRUE(dragon.readPly(dragonPath("dragon_vrip_res3.ply"))) << dragon.lastError();
    VLODObject3DCreator unmergedGraph, mergedGraph;
    AnimationDomain domain;
    unmergedGraph.createMultiTriangulation(dragon, domain);
    mergedGraph.createMultiTriangulation(dragon, domain);
    mergedGraph.mergeNodes(kPatchSize);
    // This small dragon has fewer steps of like error to merge than the full
    // one (which reaches 54 of 64): a third of the goal is what it reaches.
    EXPECT_GE(averagePatch(mergedGraph), kPatchSize / 3.0);
    VLODObject3D unmerged, merged;
    for (auto [graph, object] : {std::pair{&unmergedGraph, &unmerged}, std::pair{&mergedGraph, &merged}}) {
        graph->insertSourceNodes();
        graph->createFinalObject(*object);
    }
    // Errors at which the unmerged cut holds from a few hundred triangles to
    // half the mesh.
    std::vector<float> errors;
    for (uint32_t n = 0; n < unmerged.nnum(); ++n)
        if (!unmerged.in_arcs[n].empty()) errors.push_back(unmerged.narray[n].error[0]);
    std::sort(errors.begin(), errors.end());
    for (double quantile : {0.5, 0.8, 0.9, 0.95, 0.97, 0.99}) {
        const float error = errors[size_t(quantile * double(errors.size() - 1))];
        const size_t fine = cutAtError(unmerged, error), coarse = cutAtError(merged, error);
        EXPECT_LE(coarse, 2 * fine + 16 * kPatchSize) << "at error " << error << " (quantile " << quantile << ")";
    }
}
