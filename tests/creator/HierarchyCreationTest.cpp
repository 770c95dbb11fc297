// The construction driver without a window: normalisation into the unit
// cube, unnamed outputs and cancelled runs.

#include "HierarchyCreation.h"
#include "MeshTestSupport.h"
#include "SoftwareCoverage.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {
// A PLY file of a generated sphere, moved and scaled off the unit cube.
std::string writeSpherePly(const std::string& name) {
    VObject3D mesh;
    makeSphereMesh(mesh, 2);
    const std::string path = tempPath(name);
    std::ofstream out(path);
    out << "ply\nformat ascii 1.0\nelement vertex " << mesh.vertices.size() << "\nproperty float x\nproperty float y\n"
        << "property float z\nelement face " << mesh.triangles.size()
        << "\nproperty list uchar int vertex_indices\nend_header\n";
    for (const auto& v : mesh.vertices) {
        const Vec3f p = v->evaluate(0);
        out << 7 + 3 * p.x << " " << -2 + 3 * p.y << " " << 40 + 1.5f * p.z << "\n";
    }
    for (const VTriangle& t : mesh.triangles) out << "3 " << t.v[0] << " " << t.v[1] << " " << t.v[2] << "\n";
    return path;
}

TEST(HierarchyCreation, NormalisationCentresTheBoxWithLargestExtentOne) {
    CapturedLog log;
    VObject3D mesh;
    addVertex(mesh, 10, 20, 30);
    addVertex(mesh, 14, 21, 30.5f);
    // A moving vertex: its key frames count towards the box, 4 x 2 x 0.5.
    mesh.vertices.push_back(std::make_unique<VKeyFrameVertex>(
        std::vector<VKeyFrameVertex::Key>{{Vec3f(12, 20, 30), 0.0f}, {Vec3f(12, 22, 30), 1.0f}}));
    normalizeMesh(mesh);
    Vec3f lo(1e9f, 1e9f, 1e9f), hi(-1e9f, -1e9f, -1e9f);
    for (const auto& v : mesh.vertices)
        for (float time : {0.0f, 1.0f}) {
            const Vec3f p = v->evaluate(time);
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
    EXPECT_LT(length(hi - lo - Vec3f(1, 0.5f, 0.125f)), 1e-6f);
    EXPECT_LT(length(hi + lo), 1e-6f);
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
    const std::string ball = writeSpherePly("ball.ply");
    ASSERT_TRUE(createHierarchyFile(ball, "", settings, creator, measure, summary, error)) << error;
    EXPECT_TRUE(summary.temporary);
    EXPECT_EQ(std::filesystem::path(summary.outputFile).parent_path(), std::filesystem::temp_directory_path());
    EXPECT_EQ(std::filesystem::path(summary.outputFile).extension(), ".mvh");
    VLODObject3D back;
    EXPECT_TRUE(back.read(summary.outputFile)) << back.lastError();
    EXPECT_EQ(summary.inputTriangles, 320u);
    ASSERT_TRUE(createHierarchyFile(ball, "", settings, creator, measure, second, error));
    EXPECT_NE(second.outputFile, summary.outputFile);
    std::filesystem::remove(summary.outputFile);
    std::filesystem::remove(second.outputFile);

    creator.mProgress = [&creator](const char* step, float) {
        if (std::string(step) == VLODObject3DCreator::kStepMergeNodes) creator.mCancel = true;
    };
    measure.calls = 0;
    const std::string out = tempPath("cancelled.mvh");
    EXPECT_FALSE(createHierarchyFile(ball, out, settings, creator, measure, summary, error));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(measure.calls, 0); // stopped before the surfels
}
} // namespace
