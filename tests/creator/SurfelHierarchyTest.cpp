// The surfel tree above the source nodes, built with a software coverage
// measure: its shape (one root, parents after children, every source node
// reached once) on the small cases and pieces that share no vertex. (The
// tree of a scanned mesh, measured by OpenGL, is checked on every dragon
// resolution by the hierarchy build tests.)

#include "MeshTestSupport.h"
#include "SoftwareCoverage.h"
#include "TestFiles.h"
#include "VLODObject3DCreator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {
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

// No collapse (maximum error 0): one strip per part. One triangle is its
// own root, measured by nobody; two triangles meeting in one vertex, or not
// at all, merge into one root either way, whose shape spans both.
TEST(SurfelHierarchy, OneOrTwoPatchesEndInOneRoot) {
    CapturedLog log;
    SoftwareCoverage measure;
    const std::pair<int, bool> cases[] = {{1, true}, {2, true}, {2, false}}; // triangles, touching
    for (const auto& [triangles, touching] : cases) {
        SCOPED_TRACE(std::to_string(triangles) + (touching ? " touching" : " apart"));
        VObject3D mesh;
        const float corner = touching ? 0.0f : 3.0f;
        for (const Vec3f& p : {Vec3f(0, 0, 0), Vec3f(1, 0, 0), Vec3f(0, 1, 0), Vec3f(corner, corner, 0), Vec3f(-1, 0, 0),
                               Vec3f(0, -1, 0)})
            addVertex(mesh, p.x, p.y, p.z);
        addTriangle(mesh, 0, 1, 2);
        if (triangles == 2) addTriangle(mesh, 3, 4, 5);
        mesh.repair();
        VLODObject3DCreator c;
        c.mMaxError = 0;
        AnimationDomain domain;
        c.createMultiTriangulation(mesh, domain);
        c.insertSourceNodes();
        c.createSurfelHierarchy(measure);
        ASSERT_EQ(c.m_source_nnum, uint32_t(triangles));
        expectSoundTree(c);
        EXPECT_GE(c.plist.back().error, 0);
        if (triangles == 1) {
            EXPECT_EQ(c.plist.size(), 1u);
            EXPECT_EQ(measure.calls, 0);
        }
        if (!touching) {
            EXPECT_GT(c.plist.back().shape.diameter(), 3.0);
        }
    }
}
} // namespace
