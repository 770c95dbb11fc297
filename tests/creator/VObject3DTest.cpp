#include "MeshTestSupport.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {
const char* kSquarePly = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                         "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
                         "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
} // namespace

TEST(MeshImport, FormatFollowsTheNameEnding) {
    CapturedLog log;
    std::ofstream(tempPath("upper.PLY")) << kSquarePly;
    std::ofstream(tempPath("scene.wrl")) << kSquarePly;
    VObject3D mesh;
    EXPECT_TRUE(mesh.importFile(tempPath("upper.PLY"))) << mesh.lastError();
    EXPECT_EQ(mesh.triangles.size(), 1u);
    EXPECT_FALSE(mesh.importFile(tempPath("scene.wrl")));
    EXPECT_TRUE(mesh.triangles.empty());
    EXPECT_NE(mesh.lastError().find(".wrl"), std::string::npos);
    EXPECT_FALSE(mesh.importFile(".ply"));
    EXPECT_FALSE(mesh.importFile("a.obj"));

    // The constructor imports at once.
    VObject3D direct(tempPath("upper.PLY"));
    EXPECT_EQ(direct.vertices.size(), 3u);
}

TEST(MeshImport, X3DSceneBecomesAMesh) {
    CapturedLog log;
    // Two unit squares, the second moved by a transform; their shared corner
    // positions merge.
    std::ofstream(tempPath("squares.x3d"))
        << "<?xml version='1.0'?><X3D><Scene><Shape><IndexedFaceSet coordIndex='0 1 2 3 -1'>"
           "<Coordinate DEF='C' point='0 0 0, 1 0 0, 1 1 0, 0 1 0'/></IndexedFaceSet></Shape>"
           "<Transform translation='1 0 0'><Shape><IndexedFaceSet coordIndex='0 1 2 3'><Coordinate USE='C'/>"
           "</IndexedFaceSet></Shape></Transform></Scene></X3D>";
    VObject3D mesh;
    ASSERT_TRUE(mesh.importFile(tempPath("squares.x3d"))) << mesh.lastError();
    EXPECT_EQ(mesh.triangles.size(), 4u);
    EXPECT_EQ(mesh.vertices.size(), 6u);
    EXPECT_EQ(repairViolation(mesh), "");

    std::ofstream(tempPath("broken.x3d")) << "<X3D><Scene><Shape></X3D>";
    EXPECT_FALSE(mesh.importFile(tempPath("broken.x3d")));
    EXPECT_TRUE(mesh.vertices.empty());
    EXPECT_NE(mesh.lastError().find("not well-formed"), std::string::npos) << mesh.lastError();
    // A real scene whose geometry (a sphere and text) is none the mesh takes.
    EXPECT_TRUE(mesh.readX3D(assimpModel("X3D/HelloX3dTrademark.x3d"))) << mesh.lastError();
}

// From the earliest key to the latest, with the most keys of any vertex (a
// still mesh, which every other test builds, has one frame at time 0).
TEST(MeshImport, AnimationDomain) {
    VObject3D mesh;
    addVertex(mesh, 0, 0, 0);
    mesh.vertices.push_back(std::make_unique<VKeyFrameVertex>(
        std::vector<VKeyFrameVertex::Key>{{{0, 0, 0}, 2}, {{1, 0, 0}, 3}, {{2, 0, 0}, 7}}));
    mesh.vertices.push_back(std::make_unique<VKeyFrameVertex>(
        std::vector<VKeyFrameVertex::Key>{{{0, 0, 0}, 1}, {{1, 0, 0}, 4}}));
    const AnimationDomain moving = mesh.animationDomain();
    EXPECT_EQ(std::tuple(moving.start, moving.end, moving.keyFrames), std::tuple(1.0f, 7.0f, 3));
}
