// Refining the multi-triangulation below the impostor cut: the error test's
// limits by hand, and on a small graph whose two sources meet in one node,
// how a source under an accepted impostor lets that node refine while a
// source nobody decided keeps it coarse.

#include "CutRefinement.h"
#include "SelectionViews.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// Sources 1 and 2 each carry one arc into node 3, which refines into the
// drain 0. Impostors A (0) and B (1) under root R (2) stand for the sources.
//
//   1 --arc 0--> 3 <--arc 1-- 2        3 --arc 2--> 0
class SmallGraph : public ::testing::Test {
  protected:
    void SetUp() override {
        h.narray.resize(4);
        h.aarray.resize(3);
        const uint32_t arcs[3][2] = {{1, 3}, {2, 3}, {3, 0}};
        for (uint32_t a = 0; a < 3; ++a) {
            h.aarray[a].source = arcs[a][0];
            h.aarray[a].dest = arcs[a][1];
            h.aarray[a].tnum = 1 + a;
        }
        const uint32_t out[4] = {3, 0, 1, 2};
        for (uint32_t n = 0; n < 4; ++n) {
            h.narray[n].out = out[n];
            h.narray[n].onum = n == 0 ? 0 : 1;
            h.narray[n].sphere.r = 1;
            h.narray[n].error = {n == 0 ? 0.0f : 1.0f};
        }
        h.mDrainNode = 0;
        h.in_arcs = {{2}, {}, {}, {0, 1}};
        h.mNodeLayers = {2, 0, 0, 1};
        ImpostorTree& tree = h.mImpostorTree;
        tree.impostors.resize(3);
        tree.impostors[0].children = {3 + 1};
        tree.impostors[1].children = {3 + 2};
        tree.impostors[2].children = {0, 1};
        tree.impostors[0].parent = tree.impostors[1].parent = 2;
        tree.root = 2;
    }
    // The cut with impostor A accepted and B refused, whose node is reached.
    ImpostorSelection halfUnderImpostor() const {
        ImpostorSelection cut;
        cut.validImposters = {0};
        cut.validTriangles = {2};
        return cut;
    }
    VLODObject3D h;
    CutRefinement refinement;
};

TEST_F(SmallGraph, AnAcceptedImpostorDoesNotHoldBackTheNodeBelowBoth) {
    // Near: node 3's error shows, and its other parent stands under A.
    ImpostorSelection cut = halfUnderImpostor();
    refinement.refine(h, viewFrom(5, 1, 1000), cut);
    EXPECT_EQ(cut.validTriangles, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{2});
    // Far: node 3 stays, and only the reached source's patch is drawn (A's is the impostor's).
    cut = halfUnderImpostor();
    refinement.refine(h, viewFrom(1e5, 1, 1000), cut);
    EXPECT_EQ(cut.validTriangles, std::vector<uint32_t>{2});
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{1});
}

TEST_F(SmallGraph, AParentNobodyDecidedKeepsTheNodeCoarse) {
    // No impostor accepted and only source 2 reached: refining node 3 would
    // drop source 1's patch that nothing else shows.
    ImpostorSelection cut;
    cut.validTriangles = {2};
    refinement.refine(h, viewFrom(5, 1, 1000), cut);
    EXPECT_EQ(cut.validTriangles, std::vector<uint32_t>{2});
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{1});
    // Both reached, and listed twice: refined once, the drain's patch drawn once.
    cut = ImpostorSelection();
    cut.validTriangles = {1, 2, 2, 1};
    refinement.refine(h, viewFrom(5, 1, 1000), cut);
    std::sort(cut.validTriangles.begin(), cut.validTriangles.end());
    EXPECT_EQ(cut.validTriangles, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{2});
}

TEST_F(SmallGraph, TheRefinementFollowsAChangedObject) {
    ImpostorSelection cut = halfUnderImpostor();
    refinement.refine(h, viewFrom(5, 1, 1000), cut);
    ASSERT_EQ(cut.validArcs, std::vector<uint32_t>{2});
    // Another object of another size through the same refinement: node 2
    // is now a leaf of impostor A alone, so accepting A covers all of it.
    VLODObject3D other;
    other.narray.resize(3);
    other.aarray.resize(2);
    other.aarray[0] = h.aarray[0];
    other.aarray[0].dest = 2;
    other.aarray[1] = h.aarray[2];
    other.aarray[1].source = 2;
    for (uint32_t n = 0; n < 3; ++n) other.narray[n] = h.narray[n];
    other.narray[1].out = 0;
    other.narray[2].out = 1;
    other.in_arcs = {{1}, {}, {0}};
    other.mNodeLayers = {2, 0, 1};
    other.mImpostorTree.impostors.resize(1);
    other.mImpostorTree.impostors[0].children = {1 + 1};
    other.mImpostorTree.root = 0;
    cut = ImpostorSelection();
    cut.validImposters = {0};
    refinement.refine(other, viewFrom(5, 1, 1000), cut);
    EXPECT_TRUE(cut.validTriangles.empty());
    EXPECT_TRUE(cut.validArcs.empty());
    cut = ImpostorSelection();
    cut.validTriangles = {1};
    refinement.refine(other, viewFrom(5, 1, 1000), cut);
    EXPECT_EQ(cut.validArcs, std::vector<uint32_t>{1});
}
TEST_F(SmallGraph, WithoutIncomingArcsOnlyTheReachedPatchesAreDrawn) {
    h.in_arcs.clear(); // an object never set up by reading
    ImpostorSelection cut;
    cut.validTriangles = {1, 2};
    refinement.refine(h, viewFrom(5, 1, 1000), cut);
    EXPECT_EQ(cut.validTriangles, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(cut.validArcs, (std::vector<uint32_t>{0, 1}));
}
} // namespace
