// The impostor tree of generated hierarchies: its shape, the quads against
// the geometry they stand for, texel sizes, and every clustering variant
// packing every impostor exactly once into atlases it fits.

#include "ImpostorTree.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {
class ImpostorTreeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        makeSphereHierarchy(mObject, {3, 1, true});
        mObject.buildInArcs();
        std::string error;
        ASSERT_TRUE(mTree.init(mObject, error)) << error;
    }
    CapturedLog mLog;
    VLODObject3D mObject;
    ImpostorTree mTree;
};

TEST_F(ImpostorTreeTest, MirrorsTheSurfelTree) {
    ASSERT_EQ(mTree.inum(), mObject.pnum());
    uint32_t roots = 0;
    std::multiset<uint32_t> nodeRefs;
    for (uint32_t i = 0; i < mTree.inum(); ++i) {
        const MTImpostor& impostor = mTree.impostors[i];
        const MTSurfel& surfel = mObject.parray[i];
        if (impostor.parent == MTImpostor::kNoParent) {
            ++roots;
            EXPECT_EQ(i, mTree.root);
        } else {
            EXPECT_EQ(impostor.parent, surfel.parent);
            EXPECT_GT(mTree.layers[impostor.parent], mTree.layers[i]);
        }
        for (uint32_t child : impostor.children)
            if (child >= mTree.inum()) nodeRefs.insert(child - mTree.inum());
        for (uint32_t node : surfel.mt_children) EXPECT_EQ(nodeRefs.count(node), 1u) << node;
    }
    EXPECT_EQ(roots, 1u);
}

// Of several roots the highest is the tree's, and the others hang below it,
// so that every impostor stays reachable from the root.
TEST_F(ImpostorTreeTest, SeveralRootsMeetBelowTheHighest) {
    const uint32_t pnum = mObject.pnum();
    std::vector<uint32_t> made;
    for (uint32_t i = 0; i < pnum && made.size() < 2; ++i)
        if (mObject.parray[i].parent < pnum) {
            mObject.parray[i].parent = pnum + 7; // any value of pnum or more marks a root
            made.push_back(i);
        }
    std::string error;
    ASSERT_TRUE(mTree.init(mObject, error)) << error;
    const uint32_t highest = std::max(made.back(), mTree.root);
    EXPECT_EQ(mTree.root, highest);
    std::vector<uint32_t> stack{mTree.root};
    size_t reached = 0;
    for (; !stack.empty(); ++reached) {
        const uint32_t k = stack.back();
        stack.pop_back();
        for (uint32_t child : mTree.impostors[k].children)
            if (child < pnum) stack.push_back(child);
    }
    EXPECT_EQ(reached, pnum);
    std::string clusterError;
    EXPECT_TRUE(mTree.cluster({}, clusterError)) << clusterError;
}

// Every vertex below an impostor lies within its quad's slab and rectangle.
TEST_F(ImpostorTreeTest, QuadsEncloseTheGeometryBelowThem) {
    for (uint32_t i = 0; i < mTree.inum(); ++i) {
        const MTImpostor& q = mTree.impostors[i];
        const Vec3d c0(q.corners[0].x, q.corners[0].y, q.corners[0].z);
        const Vec3d u = Vec3d(q.corners[1].x, q.corners[1].y, q.corners[1].z) - c0;
        const Vec3d v = Vec3d(q.corners[3].x, q.corners[3].y, q.corners[3].z) - c0;
        const Vec3d n(q.normal);
        EXPECT_NEAR(length(n), 1, 1e-5);
        EXPECT_NEAR(dot(u, n), 0, 1e-4);
        std::vector<uint32_t> stack{i};
        while (!stack.empty()) {
            const uint32_t k = stack.back();
            stack.pop_back();
            for (uint32_t child : mTree.impostors[k].children) {
                if (child < mTree.inum()) {
                    stack.push_back(child);
                    continue;
                }
                const MTNode& node = mObject.narray[child - mTree.inum()];
                const MTArc& arc = mObject.aarray[node.out];
                for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t)
                    for (uint32_t vi : mObject.tarray[t].v) {
                        const Vec3d d = Vec3d(mObject.varray[vi].path->evaluate(0)) - c0;
                        EXPECT_LE(std::abs(dot(d, n)), q.depth + 1e-4) << i;
                        EXPECT_GE(dot(d, u), -1e-4 * dot(u, u)) << i;
                        EXPECT_LE(dot(d, u), (1 + 1e-4) * dot(u, u)) << i;
                        EXPECT_GE(dot(d, v), -1e-4 * dot(v, v)) << i;
                        EXPECT_LE(dot(d, v), (1 + 1e-4) * dot(v, v)) << i;
                    }
            }
        }
    }
}

TEST_F(ImpostorTreeTest, TexelSizesFollowTheViewAndTheResolution) {
    MTImpostor& q = mTree.impostors[0];
    q.depth = 0; // a flat impostor counts as seen from 1.5 units
    for (MTImpostor::Corner& c : q.corners) c = {};
    q.corners[1].x = q.corners[2].x = 0.1f;
    q.corners[2].y = q.corners[3].y = 0.05f;
    const double texelsPerUnit = 400.0 / (2.0 * std::tan(0.17453293)) / 1.5;
    uint32_t w = 0, h = 0;
    mTree.pixelSize(0, 0, w, h);
    EXPECT_EQ(w, uint32_t(std::ceil(texelsPerUnit * 0.1f)));
    EXPECT_EQ(h, uint32_t(std::ceil(texelsPerUnit * 0.05f)));
    mTree.pixelSize(0, 2, w, h); // x16: four times as many texels each way
    EXPECT_EQ(w, 4 * uint32_t(std::ceil(texelsPerUnit * 0.1f)));
    // A thick impostor is seen from farther away: fewer texels.
    q.depth = 0.5f;
    uint32_t thickW = 0;
    mTree.pixelSize(0, 0, thickW, h);
    EXPECT_LT(thickW, uint32_t(std::ceil(texelsPerUnit * 0.1f)));
    // Below three texels a side gets two.
    q.corners[1].x = q.corners[2].x = 1e-4f;
    mTree.pixelSize(0, 0, w, h);
    EXPECT_EQ(w, 2u);
}

// Each impostor in exactly one atlas, in its list; placed rectangles inside
// the atlas and apart from each other.
void expectSoundPacking(const ImpostorTree& tree, const ImpostorSettings& settings) {
    std::vector<int> seen(tree.inum(), 0);
    for (uint32_t a = 0; a < tree.atlases.size(); ++a) {
        const ImpostorAtlas& atlas = tree.atlases[a];
        std::vector<bool> used(size_t(atlas.width) * atlas.height, false);
        if (settings.sizeType == 1 && settings.clusterAlgorithm != 3) {
            EXPECT_LE(atlas.impostors.size(), size_t(settings.count));
        }
        for (uint32_t i : atlas.impostors) {
            ++seen[i];
            EXPECT_EQ(tree.impostors[i].atlas, a);
            const MTImpostor::Corner* c = tree.impostors[i].corners;
            uint32_t w = 0, h = 0;
            tree.pixelSize(i, settings.textureResolution, w, h);
            ASSERT_EQ(uint32_t(c[2].s - c[0].s), w);
            ASSERT_EQ(uint32_t(c[2].t - c[0].t), h);
            ASSERT_LE(uint32_t(c[2].s), atlas.width);
            ASSERT_LE(uint32_t(c[2].t), atlas.height);
            for (uint32_t y = uint32_t(c[0].t); y < uint32_t(c[2].t); ++y)
                for (uint32_t x = uint32_t(c[0].s); x < uint32_t(c[2].s); ++x) {
                    ASSERT_FALSE(used[size_t(y) * atlas.width + x]) << "impostor " << i << " overlaps";
                    used[size_t(y) * atlas.width + x] = true;
                }
        }
    }
    for (uint32_t i = 0; i < tree.inum(); ++i) EXPECT_EQ(seen[i], 1) << i;
}

// Every variant packs every impostor once, the same way each time. Post
// order packs children before their parent; breadth first and simple parents
// first, the simple variant also when small atlases make impostors wait for a
// new one. The surfels are numbered leaves first, as construction numbers
// them, so that index order would not do.
TEST_F(ImpostorTreeTest, EveryVariantPacksEveryImpostorOnceInItsOrder) {
    const uint32_t pnum = mObject.pnum();
    std::reverse(mObject.parray.begin(), mObject.parray.end());
    for (MTSurfel& s : mObject.parray)
        if (s.parent < pnum) s.parent = pnum - 1 - s.parent;
    std::string error;
    ASSERT_TRUE(mTree.init(mObject, error)) << error;
    enum Order { kChildrenFirst, kParentsFirst, kAny };
    const Order orders[] = {kChildrenFirst, kParentsFirst, kParentsFirst, kAny};
    for (int32_t algorithm = 0; algorithm < 4; ++algorithm)
        for (int32_t sizeType : {0, 1}) {
            SCOPED_TRACE(std::to_string(algorithm) + " size type " + std::to_string(sizeType));
            ImpostorSettings settings;
            settings.clusterAlgorithm = algorithm;
            settings.sizeType = sizeType;
            settings.textureResolution = sizeType; // x1 and x4
            settings.width = settings.height = 64;
            settings.count = 4;
            ASSERT_TRUE(mTree.cluster(settings, error)) << error;
            ASSERT_TRUE(mTree.place(settings.textureResolution, error)) << error;
            expectSoundPacking(mTree, settings);
            ASSERT_GT(mTree.atlases.size(), 2u);
            std::vector<uint32_t> packed;
            for (const ImpostorAtlas& atlas : mTree.atlases)
                packed.insert(packed.end(), atlas.impostors.begin(), atlas.impostors.end());
            ASSERT_TRUE(mTree.cluster(settings, error));
            for (size_t a = 0, k = 0; a < mTree.atlases.size(); k += mTree.atlases[a++].impostors.size())
                EXPECT_TRUE(std::equal(mTree.atlases[a].impostors.begin(), mTree.atlases[a].impostors.end(),
                                       packed.begin() + long(k)));
            if (orders[algorithm] == kAny) continue;
            std::vector<size_t> position(pnum);
            for (size_t k = 0; k < packed.size(); ++k) position[packed[k]] = k;
            const bool parentsFirst = orders[algorithm] == kParentsFirst;
            EXPECT_EQ(position[mTree.root], parentsFirst ? 0u : pnum - 1);
            for (uint32_t i = 0; i < pnum; ++i)
                if (const uint32_t parent = mTree.impostors[i].parent; parent != MTImpostor::kNoParent) {
                    EXPECT_EQ(position[parent] < position[i], parentsFirst) << i;
                }
        }
}

// An impostor larger than the configured atlas gets an atlas of its size,
// even the first one; one larger than the counted variants' working space
// is an orderly failure.
TEST_F(ImpostorTreeTest, OversizeImpostorsGrowTheirAtlasOrFailInOrder) {
    ImpostorSettings settings;
    settings.width = settings.height = 2;
    std::string error;
    ASSERT_TRUE(mTree.cluster(settings, error)) << error;
    ASSERT_TRUE(mTree.place(0, error)) << error;
    expectSoundPacking(mTree, settings);
    EXPECT_EQ(mTree.atlases.size(), size_t(mTree.inum())); // one each: none fits beside another

    MTImpostor& root = mTree.impostors[mTree.root];
    root.depth = 0;
    root.corners[1].x = root.corners[2].x = root.corners[0].x + 1000; // thousands of texels
    settings.sizeType = 1;
    EXPECT_FALSE(mTree.cluster(settings, error));
    EXPECT_NE(error.find("fits into no atlas"), std::string::npos);
    EXPECT_TRUE(mTree.atlases.empty());
    EXPECT_NE(mLog.err().find("Error in VLODObject3D::cluster3() ! please check!\n"), std::string::npos);
}
} // namespace
