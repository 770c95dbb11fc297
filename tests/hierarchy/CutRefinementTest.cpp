// Refining the multi-triangulation below the impostor cut: the error test's
// limits by hand, and on a small graph whose two sources meet in one node,
// how a source under an accepted impostor lets that node refine while a
// source nobody decided keeps it coarse.

#include "CutRefinement.h"
#include "SelectionViews.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {
// A node at the origin with radius 1 and an error of length 2 (squared 4),
// seen from distance 11 with p = 10: 2 * 10 / (11 - 1) = 2 pixels.
TEST(CutRefinement, NodeErrorIsMeasuredAtTheNearestPointOfItsSphere) {
    const NodeBounds node{0, 0, 0, 1, 4};
    EXPECT_TRUE(nodeNeedsRefinement(node, viewFrom(11, 1.99, 10)));
    EXPECT_FALSE(nodeNeedsRefinement(node, viewFrom(11, 2.01, 10)));
    // Scaled by 2: error length 4 and radius 2, seen from 22: again 2 pixels.
    EXPECT_TRUE(nodeNeedsRefinement(node, viewFrom(22, 1.99, 10, 2)));
    EXPECT_FALSE(nodeNeedsRefinement(node, viewFrom(22, 2.01, 10, 2)));
    // The eye inside the sphere: any error shows, however large the bound.
    EXPECT_TRUE(nodeNeedsRefinement(node, viewFrom(0.5, 1e6, 10)));
    // No error: nothing to refine, even at bound 0 from inside.
    const NodeBounds exact{0, 0, 0, 1, 0};
    EXPECT_FALSE(nodeNeedsRefinement(exact, viewFrom(0.5, 0, 10)));
}

// A graph from its arcs (source, dest, triangle count), listed by source,
// with node 0 as the drain (error 0) and every other node of error 1.
void makeGraph(VLODObject3D& h, const std::vector<std::array<uint32_t, 3>>& arcs, std::vector<uint32_t> layers) {
    h.narray.resize(layers.size());
    for (MTNode& n : h.narray) {
        n.sphere.r = 1;
        n.error = {1.0f};
    }
    h.narray[0].error = {0.0f};
    for (const auto& [source, dest, triangles] : arcs) {
        MTArc& arc = h.aarray.emplace_back();
        arc.source = source;
        arc.dest = dest;
        arc.tnum = triangles;
        if (h.narray[source].onum++ == 0) h.narray[source].out = h.anum() - 1;
    }
    h.mDrainNode = 0;
    h.buildInArcs();
    h.mNodeLayers = std::move(layers);
}

// Sources 1 and 2 each carry one arc into node 3, which refines into the
// drain 0. Impostors A (0) and B (1) under root R (2) stand for the sources.
//
//   1 --arc 0--> 3 <--arc 1-- 2        3 --arc 2--> 0
class SmallGraph : public ::testing::Test {
  protected:
    void SetUp() override {
        makeGraph(h, {{1, 3, 1}, {2, 3, 2}, {3, 0, 3}}, {2, 0, 0, 1});
        ImpostorTree& tree = h.mImpostorTree;
        tree.impostors.resize(3);
        tree.impostors[0].children = {3 + 1};
        tree.impostors[1].children = {3 + 2};
        tree.impostors[2].children = {0, 1};
        tree.impostors[0].parent = tree.impostors[1].parent = 2;
        tree.root = 2;
    }
    // The cut refined from the nodes reached and the impostors accepted.
    ImpostorSelection refined(const VLODObject3D& object, std::vector<uint32_t> reached,
                              std::vector<uint32_t> accepted = {}, double distance = 5) {
        ImpostorSelection cut;
        cut.validTriangles = std::move(reached);
        cut.validImposters = std::move(accepted);
        refinement.refine(object, viewFrom(distance, 1, 1000), cut);
        return cut;
    }
    VLODObject3D h;
    CutRefinement refinement;
};

// Impostor A accepted and B refused, whose node is reached.
TEST_F(SmallGraph, AnAcceptedImpostorDoesNotHoldBackTheNodeBelowBoth) {
    // Near: node 3's error shows, and its other parent stands under A.
    ImpostorSelection cut = refined(h, {2}, {0});
    EXPECT_EQ(cut.validTriangles, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{2});
    // Far: node 3 stays, and only the reached source's patch is drawn (A's is the impostor's).
    cut = refined(h, {2}, {0}, 1e5);
    EXPECT_EQ(cut.validTriangles, std::vector<uint32_t>{2});
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{1});
}

TEST_F(SmallGraph, AParentNobodyDecidedKeepsTheNodeCoarse) {
    // No impostor accepted and only source 2 reached: refining node 3 would
    // drop source 1's patch that nothing else shows.
    ImpostorSelection cut = refined(h, {2});
    EXPECT_EQ(cut.validTriangles, std::vector<uint32_t>{2});
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{1});
    // Both reached, and listed twice: refined once, the drain's patch drawn once.
    cut = refined(h, {1, 2, 2, 1});
    std::sort(cut.validTriangles.begin(), cut.validTriangles.end());
    EXPECT_EQ(cut.validTriangles, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{2});
}

TEST_F(SmallGraph, TheRefinementFollowsAChangedObject) {
    ASSERT_EQ(refined(h, {2}, {0}).validArcs, std::vector<uint32_t>{2});
    // Another object of another size through the same refinement: node 2
    // is now a leaf of impostor A alone, so accepting A covers all of it.
    VLODObject3D other;
    makeGraph(other, {{1, 2, 1}, {2, 0, 3}}, {2, 0, 1});
    other.mImpostorTree.impostors.resize(1);
    other.mImpostorTree.impostors[0].children = {1 + 1};
    other.mImpostorTree.root = 0;
    const ImpostorSelection cut = refined(other, {}, {0});
    EXPECT_TRUE(cut.validTriangles.empty());
    EXPECT_TRUE(cut.validArcs.empty());
    EXPECT_EQ(refined(other, {1}).validArcs, std::vector<uint32_t>{1});
}

TEST_F(SmallGraph, WithoutIncomingArcsOnlyTheReachedPatchesAreDrawn) {
    h.in_arcs.clear(); // an object never set up by reading
    const ImpostorSelection cut = refined(h, {1, 2});
    EXPECT_EQ(cut.validTriangles, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(cut.validArcs, (std::vector<uint32_t>{0, 1}));
}
} // namespace
