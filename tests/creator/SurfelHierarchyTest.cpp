// The surfel tree above the source nodes, built with a software coverage
// measure: its shape (one root, parents after children, every source node
// reached once), the small cases, meshes in pieces, and a scanned mesh
// through to a hierarchy file.

#include "HierarchyCreation.h"
#include "MeshTestSupport.h"
#include "SoftwareCoverage.h"
#include "TestFiles.h"
#include "VLODObject3DCreator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <set>

namespace {
// Runs the creator's pipeline up to the surfels on a mesh as it stands.
void buildUpToSurfels(VLODObject3DCreator& c, const VObject3D& mesh, CoverageMeasure& measure,
                      float maxError = 3.4028235e38f, uint32_t patchSize = 1) {
    c.mMaxError = maxError;
    AnimationDomain domain;
    c.createMultiTriangulation(mesh, domain);
    c.mergeNodes(patchSize);
    c.insertSourceNodes();
    c.createSurfelHierarchy(measure);
}

// One root; each parent after its children and agreeing with their lists;
// every source node in exactly one surfel's mt_children.
void expectSoundTree(const VLODObject3DCreator& c) {
    ASSERT_FALSE(c.plist.empty());
    uint32_t roots = 0;
    std::multiset<uint32_t> reached;
    for (uint32_t s = 0; s < c.plist.size(); ++s) {
        const CreatorSurfel& surfel = c.plist[s];
        if (surfel.pindex == UINT32_MAX) {
            ++roots;
        } else {
            EXPECT_GT(surfel.pindex, s);
            const auto& siblings = c.plist[surfel.pindex].children;
            EXPECT_NE(std::find(siblings.begin(), siblings.end(), s), siblings.end()) << s;
        }
        for (uint32_t child : surfel.children) EXPECT_EQ(c.plist[child].pindex, s);
        reached.insert(surfel.mt_children.begin(), surfel.mt_children.end());
    }
    EXPECT_EQ(roots, 1u);
    const uint32_t firstSource = uint32_t(c.nodes.size()) - c.m_source_nnum;
    std::multiset<uint32_t> sources;
    for (uint32_t n = firstSource; n < c.nodes.size(); ++n) sources.insert(n);
    EXPECT_EQ(reached, sources);
}

class SurfelHierarchy : public ::testing::Test {
  protected:
    CapturedLog mLog;
    SoftwareCoverage mMeasure;
};

// No collapse (maximum error 0): one strip per part. One triangle is its
// own root, measured by nobody; two triangles meeting in one vertex, or not
// at all, merge into one root either way.
TEST_F(SurfelHierarchy, OneOrTwoPatchesEndInOneRoot) {
    const std::pair<int, bool> cases[] = {{1, true}, {2, true}, {2, false}}; // triangles, touching
    for (const auto& [triangles, touching] : cases) {
        SCOPED_TRACE(std::to_string(triangles) + (touching ? " touching" : " apart"));
        VObject3D mesh;
        addVertex(mesh, 0, 0, 0);
        addVertex(mesh, 1, 0, 0);
        addVertex(mesh, 0, 1, 0);
        addTriangle(mesh, 0, 1, 2);
        if (triangles == 2) {
            addVertex(mesh, touching ? 0.0f : 3.0f, touching ? 0.0f : 3.0f, 0);
            addVertex(mesh, -1, 0, 0);
            addVertex(mesh, 0, -1, 0);
            addTriangle(mesh, 3, 4, 5);
            mesh.repair();
        }
        VLODObject3DCreator c;
        buildUpToSurfels(c, mesh, mMeasure, 0);
        ASSERT_EQ(c.m_source_nnum, uint32_t(triangles));
        expectSoundTree(c);
        EXPECT_EQ(c.plist.back().pindex, UINT32_MAX);
        EXPECT_GE(c.plist.back().error, 0);
        if (triangles == 1) {
            EXPECT_EQ(c.plist.size(), 1u);
            EXPECT_EQ(mMeasure.calls, 0);
        }
    }
}

// Two spheres far apart: the merges inside each leave two roots, which are
// joined into one.
TEST_F(SurfelHierarchy, PiecesThatShareNoVertexEndInOneRoot) {
    VObject3D mesh;
    for (float offset : {0.0f, 5.0f}) {
        VObject3D ball;
        makeSphereMesh(ball, 2);
        const uint32_t first = uint32_t(mesh.vertices.size());
        for (const auto& v : ball.vertices) {
            const Vec3f p = v->evaluate(0);
            addVertex(mesh, p.x + offset, p.y, p.z);
        }
        for (const VTriangle& t : ball.triangles) addTriangle(mesh, first + t.v[0], first + t.v[1], first + t.v[2]);
    }
    VLODObject3DCreator c;
    c.mMinError = -FLT_MAX;
    buildUpToSurfels(c, mesh, mMeasure);
    ASSERT_GE(c.m_source_nnum, 4u);
    expectSoundTree(c);
    // The root's shape spans both spheres.
    EXPECT_GT(c.plist.back().shape.diameter(), 6.0);
}

// The dragon through the whole pipeline: a hierarchy file the validating
// reader accepts, with the surfel tree in it.
TEST_F(SurfelHierarchy, ScannedDragonGetsASurfelTreeInItsFile) {
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(dragonPath("dragon_vrip_res4.ply"))) << mesh.lastError();
    normalizeMesh(mesh);
    VLODObject3DCreator c;
    c.mMinPatchSize = 16;
    VLODObject3D object;
    c.createHierarchy(mesh, object, mMeasure);
    expectSoundTree(c);
    EXPECT_GT(c.m_source_nnum, 10u);
    // Thinning only removes surfels: at most one per merge was made.
    EXPECT_LE(c.plist.size(), 2 * size_t(c.m_source_nnum) - 1);
    const std::string path = tempPath("dragon-surfels.mvh");
    ASSERT_TRUE(object.write(path));
    VLODObject3D back;
    ASSERT_TRUE(back.read(path)) << back.lastError();
    ASSERT_EQ(back.pnum(), c.plist.size());
    uint32_t rootCount = 0;
    size_t sourceLinks = 0;
    for (const MTSurfel& s : back.parray) {
        rootCount += s.parent >= back.pnum();
        sourceLinks += s.mt_children.size();
        for (uint32_t node : s.mt_children) EXPECT_EQ(back.narray[node].onum, 1u);
    }
    EXPECT_EQ(rootCount, 1u);
    EXPECT_EQ(sourceLinks, back.m_source_nnum);
    // Normalised: the finest cut's box is centred with largest extent 1 (the
    // base-mode collapses of flat spots keep the outline).
    Vec3f lo(1e9f, 1e9f, 1e9f), hi(-1e9f, -1e9f, -1e9f);
    for (const MTArc& arc : back.aarray) {
        if (arc.dest != 0) continue; // the drain: the input mesh
        for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t)
            for (uint32_t v : back.tarray[t].v) {
                const Vec3f p = back.varray[v].path->evaluate(0);
                lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
            }
    }
    EXPECT_NEAR(std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z}), 1.0f, 1e-5);
    for (float middle : {lo.x + hi.x, lo.y + hi.y, lo.z + hi.z}) EXPECT_NEAR(middle, 0.0f, 1e-5);
}
} // namespace
