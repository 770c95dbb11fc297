// The cut through the impostor tree: the acceptance test's two limits on
// hand-made quads, and on a generated hierarchy the cut as a partition of
// its leaves at any error, the full descent at error 0, and the texture ids
// the out-of-core path asks for.

#include "ImpostorSelection.h"
#include "SelectionViews.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <map>

namespace {
// A quad in the plane x = 0 (normal +x), 2 x 2 units, s running over
// `texels` along its first edge; the eye looks down -z from distance 10.
MTImpostor edgeOnQuad(float texels, float depth) {
    MTImpostor q;
    const float y[4] = {-1, 1, 1, -1}, z[4] = {-1, -1, 1, 1};
    for (int k = 0; k < 4; ++k) q.corners[k] = {0, y[k], z[k], k == 1 || k == 2 ? texels : 0, 0};
    q.normal = Vec3f(1, 0, 0);
    q.depth = depth;
    return q;
}

// The acceptance test's two limits, each on both sides.
TEST(ImpostorSelection, ParallaxAndTexelLimits) {
    // Texels to spare, so that only parallax decides: z^2 e^2 against d^2 P,
    // 100 e^2 against 100 with P = 100.
    const MTImpostor q = edgeOnQuad(1e6f, 1);
    EXPECT_FALSE(acceptImpostor(q, viewFrom(10, 0.99, 10)));
    EXPECT_TRUE(acceptImpostor(q, viewFrom(10, 1.01, 10)));
    // Seen face on, depth never shows, even at error 0.
    MTImpostor facing = q;
    facing.normal = Vec3f(0, 0, 1);
    SelectionView exact = viewFrom(10, 0, 10);
    exact.Q = 1; // plenty of texels per pixel
    EXPECT_TRUE(acceptImpostor(facing, exact));

    // No parallax, so that the texels decide: ds^2 z^2 Q >= L^2 P with
    // L = 2, z = 10, P = 100, Q = 1: ds >= 2.
    const SelectionView view = viewFrom(10, 1, 10);
    EXPECT_FALSE(acceptImpostor(edgeOnQuad(1.99f, 0), view));
    EXPECT_TRUE(acceptImpostor(edgeOnQuad(2.0f, 0), view));
    // No texel span: never, unless the edge has no length either.
    MTImpostor none = edgeOnQuad(0, 0);
    EXPECT_FALSE(acceptImpostor(none, viewFrom(10, 1e6, 1e-6)));
    none.corners[1].y = none.corners[0].y;
    none.corners[1].z = none.corners[0].z;
    EXPECT_TRUE(acceptImpostor(none, view));
}

class SelectionOnSphere : public ::testing::Test {
  protected:
    void SetUp() override {
        makeSphereHierarchy(mObject, {3, 1, true});
        std::string error;
        ASSERT_TRUE(mTree.init(mObject, error)) << error;
        ASSERT_TRUE(mTree.cluster(ImpostorSettings{0, 256, 256, 5, 0, 0}, error)) << error;
        ASSERT_TRUE(mTree.place(0, error)) << error;
    }
    CapturedLog mLog;
    VLODObject3D mObject;
    ImpostorTree mTree;
};

// At every error each leaf is shown exactly once: by itself, or by one
// accepted impostor above it; at error 0 the cut descends to every leaf.
TEST_F(SelectionOnSphere, EveryCutCoversEveryLeafOnce) {
    std::map<uint32_t, std::vector<uint32_t>> ancestors; // of every node reference
    for (uint32_t i = 0; i < mTree.inum(); ++i)
        for (uint32_t child : mTree.impostors[i].children)
            if (child >= mTree.inum())
                for (uint32_t a = i; a != MTImpostor::kNoParent; a = mTree.impostors[a].parent)
                    ancestors[child - mTree.inum()].push_back(a);
    size_t cutsWithBoth = 0;
    for (double distance : {2.0, 3.0, 5.0, 20.0, 200.0})
        for (double e : {0.0, 0.5, 2.0, 8.0}) {
            ImpostorSelection cut;
            selectCut(mTree, viewFrom(distance, e, 1000), false, 1, cut);
            const std::set<uint32_t> accepted(cut.validImposters.begin(), cut.validImposters.end());
            const std::multiset<uint32_t> nodes(cut.validTriangles.begin(), cut.validTriangles.end());
            for (const auto& [node, chain] : ancestors) {
                size_t shown = nodes.count(node);
                for (uint32_t a : chain) shown += accepted.count(a);
                EXPECT_EQ(shown, 1u) << "node " << node << " at " << distance << ", e " << e;
            }
            EXPECT_TRUE(e > 0 || cut.validImposters.empty()) << distance;
            EXPECT_TRUE(cut.needed.empty()); // in core: no texture lists
            cutsWithBoth += !cut.validImposters.empty() && !cut.validTriangles.empty();
        }
    EXPECT_GT(cutsWithBoth, 0u); // the grid of views reaches mixed cuts
}

// Out of core with "k parents & children": the accepted root asks for its
// own atlas and its children's, and for no parent; without prefetching,
// only for what the cut needs.
TEST_F(SelectionOnSphere, OutOfCoreListsTheTexturesOfTheCut) {
    ImpostorSelection cut;
    selectCut(mTree, viewFrom(1e4, 1e3, 1), true, 1, cut);
    ASSERT_EQ(cut.validImposters, std::vector<uint32_t>{mTree.root});
    EXPECT_EQ(cut.needed, std::set<uint32_t>{mTree.impostors[mTree.root].atlas});
    std::set<uint32_t> children;
    for (uint32_t child : mTree.impostors[mTree.root].children)
        if (child < mTree.inum()) children.insert(mTree.impostors[child].atlas);
    EXPECT_EQ(cut.prefetch, children);
    selectCut(mTree, viewFrom(1e4, 1e3, 1), true, 0, cut);
    EXPECT_TRUE(cut.prefetch.empty());
    EXPECT_EQ(cut.needed.size(), 1u);
}
} // namespace
