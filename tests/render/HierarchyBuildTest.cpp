// The whole construction with the surfel merge measured by OpenGL, on real
// meshes: every dragon resolution and a 3DS model. Each file must pass the
// reader's structural checks and carry one surfel root whose tree reaches
// every source node exactly once.

#include "GLCoverageMeasure.h"
#include "GLTestContext.h"
#include "HierarchyCreation.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <set>

namespace {
void expectBuildsSoundly(const std::string& mesh, uint32_t patchSize) {
    CapturedLog quiet;
    GLCoverageMeasure measure;
    VLODObject3DCreator creator;
    CreationSettings settings;
    settings.minPatchSize = patchSize;
    settings.replaceExisting = true;
    CreationSummary summary;
    std::string error;
    const std::string out = tempPath("built.mvh");
    ASSERT_TRUE(createHierarchyFile(mesh, out, settings, creator, measure, summary, error)) << error;
    measure.release();

    VLODObject3D h;
    ASSERT_TRUE(h.read(out)) << mesh << ": " << h.lastError();
    EXPECT_EQ(h.tnum(), summary.triangles);
    EXPECT_EQ(h.pnum(), summary.surfels);
    ASSERT_GT(h.m_source_nnum, 0u);
    uint32_t roots = 0;
    std::set<uint32_t> reached;
    for (uint32_t s = 0; s < h.pnum(); ++s) {
        const MTSurfel& surfel = h.parray[s];
        if (surfel.parent >= h.pnum()) {
            ++roots;
        } else {
            EXPECT_GT(surfel.parent, s) << mesh; // parents after their children
        }
        for (uint32_t node : surfel.mt_children) {
            EXPECT_TRUE(reached.insert(node).second) << mesh << ": node " << node << " twice";
            EXPECT_TRUE(h.in_arcs[node].empty()) << mesh << ": node " << node << " is no source node";
        }
    }
    EXPECT_EQ(roots, 1u) << mesh;
    EXPECT_EQ(reached.size(), h.m_source_nnum) << mesh;
    // The surfel merges drew: the tree is more than its leaves when there are several.
    EXPECT_TRUE(h.m_source_nnum == 1 || h.pnum() > 1) << mesh;
}

TEST(HierarchyBuild, EveryDragonResolutionAndA3dsModelBuildSoundly) {
    MORVA_SKIP_WITHOUT_DRAGON();
    for (const char* name : {"dragon_vrip_res4.ply", "dragon_vrip_res3.ply", "dragon_vrip_res2.ply", "dragon_vrip.ply"})
        expectBuildsSoundly(std::string(MORVA_DRAGON_DIR) + "/" + name, 64);
    expectBuildsSoundly("/usr/share/assimp/models/3DS/fels.3ds", 16);
}
} // namespace
