#include "MeshTestSupport.h"
#include "TestFiles.h"
#include "VObject3D.h"

#include <gtest/gtest.h>

#include <random>

namespace {
// A closed cube: 8 corners, 12 triangles wound outward.
void makeCube(VObject3D& mesh, float offset = 0) {
    for (int i = 0; i < 8; ++i) addVertex(mesh, float(i & 1) + offset, float((i >> 1) & 1), float((i >> 2) & 1));
    const uint32_t faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                   {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    const uint32_t base = uint32_t(mesh.vertices.size()) - 8;
    for (const auto& f : faces) addTriangle(mesh, base + f[0], base + f[1], base + f[2]);
}

std::vector<std::array<uint32_t, 3>> cornerLists(const VObject3D& mesh) {
    std::vector<std::array<uint32_t, 3>> lists;
    for (const VTriangle& t : mesh.triangles) lists.push_back({t.v[0], t.v[1], t.v[2]});
    return lists;
}

class MeshRepair : public ::testing::Test {
  protected:
    CapturedLog mLog;
};
} // namespace

// Vertices 2 and 5 (minus zero is zero) become 0, 3 becomes 2, 4 becomes 1.
TEST_F(MeshRepair, MergeKeepsTheFirstOfEqualPointsExactlyOrOnAGrid) {
    VObject3D mesh;
    for (const Vec3f& p :
         {Vec3f(0, 0, 0), Vec3f(1, 0, 0), Vec3f(0, 0, 0), Vec3f(0, 1, 0), Vec3f(1, 0, 0), Vec3f(-0.0f, 0, 0)})
        addVertex(mesh, p.x, p.y, p.z);
    addTriangle(mesh, 2, 4, 3);
    addTriangle(mesh, 5, 3, 1);
    mesh.mergeVertices(0);
    ASSERT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.vertices[2]->evaluate(0), Vec3f(0, 1, 0));
    EXPECT_EQ(cornerLists(mesh), (std::vector<std::array<uint32_t, 3>>{{0, 1, 2}, {0, 2, 1}}));

    // On a grid: the second lies in the first's cell of spacing 0.25 (cells
    // snap towards zero), the third in the next cell in x.
    VObject3D grid;
    for (const Vec3f& p : {Vec3f(1.0f, 2.0f, -0.5f), Vec3f(1.2f, 2.1f, -0.7f), Vec3f(1.3f, 2.0f, -0.5f)})
        addVertex(grid, p.x, p.y, p.z);
    grid.mergeVertices(0.25f);
    ASSERT_EQ(grid.vertices.size(), 2u);
    EXPECT_EQ(grid.vertices[0]->evaluate(0), Vec3f(1.0f, 2.0f, -0.5f)); // positions are not snapped
    EXPECT_EQ(grid.vertices[1]->evaluate(0), Vec3f(1.3f, 2.0f, -0.5f));
}

TEST_F(MeshRepair, DegenerateAndDoubledTriangles) {
    using Corners = std::vector<std::array<uint32_t, 3>>;
    struct Case {
        const char* what;
        Corners added;
        uint32_t removed;
        Corners left;
    };
    // {1, 1, 3} is degenerate; {1, 2, 3} stands alone.
    const Case cases[] = {
        {"a rotated double: the first stays as it was", {{0, 1, 2}, {1, 1, 3}, {1, 2, 0}, {1, 2, 3}}, 1, {{0, 1, 2}, {1, 2, 3}}},
        {"a double turned round: a flap, none of it stays", {{0, 1, 2}, {1, 1, 3}, {2, 1, 0}, {1, 2, 0}, {1, 2, 3}}, 3, {{1, 2, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VObject3D mesh;
        for (int i = 0; i < 4; ++i) addVertex(mesh, float(i), float(i * i), 0);
        for (const auto& t : c.added) addTriangle(mesh, t[0], t[1], t[2]);
        EXPECT_EQ(mesh.removeDegenerateTriangles(), 1u);
        EXPECT_EQ(mesh.removeDoubledTriangles(), c.removed);
        EXPECT_EQ(cornerLists(mesh), c.left);
    }
}

TEST_F(MeshRepair, ManifoldSplitsEveryOverfullEdge) {
    // Five triangles fanned around the edge 0-1, like pages of a book.
    VObject3D mesh;
    addVertex(mesh, 0, 0, 0);
    addVertex(mesh, 0, 0, 1);
    for (int i = 0; i < 5; ++i) {
        addVertex(mesh, std::cos(i * 1.2f), std::sin(i * 1.2f), 0.5f);
        addTriangle(mesh, 0, 1, 2 + i);
    }
    mesh.makeManifold();
    // The pages still run along the spine the same way: only the edge count is repaired.
    EXPECT_EQ(repairViolation(mesh, false), "");
    // Copies keep the positions of what they copy.
    for (const VTriangle& t : mesh.triangles) {
        EXPECT_EQ(mesh.vertices[t.v[0]]->evaluate(0), Vec3f(0, 0, 0));
        EXPECT_EQ(mesh.vertices[t.v[1]]->evaluate(0), Vec3f(0, 0, 1));
    }
    // Pages 3 and 4 share a copy of the spine, page 5 needs another.
    EXPECT_EQ(mesh.vertices.size(), 7u + 4u);
}

TEST_F(MeshRepair, OrientationOfClosedShellsAndParts) {
    VObject3D mesh;
    makeCube(mesh);
    makeCube(mesh, 5);
    // Turn some triangles of both cubes round (never the first of a part).
    for (uint32_t t : {3u, 5u, 6u, 14u, 20u, 23u}) std::swap(mesh.triangles[t].v[1], mesh.triangles[t].v[2]);
    MeshEdgeStatistics stats = mesh.orientFaces();
    EXPECT_EQ(stats.parts, 2u);
    EXPECT_EQ(stats.swappedTriangles, 6u);
    EXPECT_EQ(stats.borderEdges, 0u);
    EXPECT_EQ(repairViolation(mesh), "");
    // Outward again: every normal points away from its cube's centre. This
    // mesh's normal is (P0 - P1) x (P2 - P1), so outward winding gives inward normals.
    for (uint32_t t = 0; t < mesh.triangles.size(); ++t) {
        Vec3f centre = t < 12 ? Vec3f(0.5f, 0.5f, 0.5f) : Vec3f(5.5f, 0.5f, 0.5f);
        Vec3f corner = mesh.vertices[mesh.triangles[t].v[0]]->evaluate(0);
        EXPECT_LT(dot(mesh.triangleNormal(t, 0), corner - centre), 0) << t;
    }
}

TEST_F(MeshRepair, OrientationOfAFlatMesh) {
    // Coplanar neighbours: only the order of the corners can tell.
    VObject3D mesh;
    makeFlatGrid(mesh, 12);
    std::mt19937 rng(4);
    uint32_t turned = 0;
    for (uint32_t t = 1; t < mesh.triangles.size(); ++t)
        if (rng() % 3 == 0) {
            std::swap(mesh.triangles[t].v[0], mesh.triangles[t].v[2]);
            ++turned;
        }
    MeshEdgeStatistics stats = mesh.orientFaces();
    EXPECT_EQ(stats.swappedTriangles, turned);
    EXPECT_EQ(stats.parts, 1u);
    EXPECT_EQ(stats.borderEdges, 48u);
    EXPECT_EQ(repairViolation(mesh), "");
    for (uint32_t t = 0; t < mesh.triangles.size(); ++t) EXPECT_EQ(mesh.triangleNormal(t, 0), Vec3f(0, 0, -1)) << t;
}
