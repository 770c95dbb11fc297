// The construction driver without a window: normalisation into the unit
// cube, unnamed outputs and cancelled runs.

#include "HierarchyCreation.h"
#include "MeshTestSupport.h"
#include "SoftwareCoverage.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
TEST(HierarchyCreation, NormalisationCentresTheBoxWithLargestExtentOne) {
    CapturedLog log;
    VObject3D mesh;
    addVertex(mesh, 10, 20, 30);
    addVertex(mesh, 14, 21, 30.5f);
    // A moving vertex: its key frames count towards the box, 4 x 2 x 0.5.
    mesh.vertices.push_back(std::make_unique<VKeyFrameVertex>(
        std::vector<VKeyFrameVertex::Key>{{Vec3f(12, 20, 30), 0.0f}, {Vec3f(12, 22, 30), 1.0f}}));
    normalizeMesh(mesh);
    // Centre (12, 21, 30.25), scale 1/4.
    const std::pair<uint32_t, float> atTimes[] = {{0, 0.0f}, {1, 0.0f}, {2, 0.0f}, {2, 1.0f}};
    const Vec3f expected[] = {{-0.5f, -0.25f, -0.0625f}, {0.5f, 0, 0.0625f}, {0, -0.25f, -0.0625f}, {0, 0.25f, -0.0625f}};
    for (int k = 0; k < 4; ++k)
        EXPECT_LT(length(mesh.vertices[atTimes[k].first]->evaluate(atTimes[k].second) - expected[k]), 1e-6f) << k;
}

// An unnamed output goes to a new temporary file, each run's its own; a run
// cancelled from the progress report writes nothing.
TEST(HierarchyCreation, UnnamedOutputGoesToANewTemporaryFileAndCancelledRunsWriteNothing) {
    CapturedLog log;
    SoftwareCoverage measure;
    VLODObject3DCreator creator;
    CreationSettings settings;
    settings.minPatchSize = 8;
    CreationSummary summary, second;
    std::string error;
    const std::string cube = assimpModel("PLY/cube.ply");
    ASSERT_TRUE(createHierarchyFile(cube, "", settings, creator, measure, summary, error)) << error;
    EXPECT_TRUE(summary.temporary);
    EXPECT_EQ(std::filesystem::path(summary.outputFile).parent_path(), std::filesystem::temp_directory_path());
    EXPECT_EQ(std::filesystem::path(summary.outputFile).extension(), ".mvh");
    VLODObject3D back;
    EXPECT_TRUE(back.read(summary.outputFile)) << back.lastError();
    EXPECT_EQ(summary.inputTriangles, 12u);
    ASSERT_TRUE(createHierarchyFile(cube, "", settings, creator, measure, second, error));
    EXPECT_NE(second.outputFile, summary.outputFile);
    std::filesystem::remove(summary.outputFile);
    std::filesystem::remove(second.outputFile);

    creator.mProgress = [&creator](const char* step, float) {
        if (std::string(step) == VLODObject3DCreator::kStepMergeNodes) creator.mCancel = true;
    };
    measure.calls = 0;
    const std::string out = tempPath("cancelled.mvh");
    EXPECT_FALSE(createHierarchyFile(cube, out, settings, creator, measure, summary, error));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(measure.calls, 0); // stopped before the surfels
}
} // namespace
