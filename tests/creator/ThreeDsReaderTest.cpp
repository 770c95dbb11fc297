#include "MeshTestSupport.h"
#include "TestFiles.h"
#include "VObject3D.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
// A chunk of a 3DS file: id, length with header, content.
struct Chunk3ds {
    uint16_t id;
    std::vector<uint8_t> content;

    template <typename T> Chunk3ds& put(T value) {
        const size_t at = content.size();
        content.resize(at + sizeof(T));
        std::memcpy(content.data() + at, &value, sizeof(T));
        return *this;
    }
    Chunk3ds& name(const std::string& s) {
        content.insert(content.end(), s.begin(), s.end());
        content.push_back(0);
        return *this;
    }
    Chunk3ds& child(const Chunk3ds& c) {
        std::vector<uint8_t> b = c.bytes();
        content.insert(content.end(), b.begin(), b.end());
        return *this;
    }
    std::vector<uint8_t> bytes() const {
        Chunk3ds whole{id, {}};
        whole.content.reserve(content.size() + 6);
        whole.put(id).put(uint32_t(content.size() + 6));
        whole.content.insert(whole.content.end(), content.begin(), content.end());
        return whole.content;
    }
};

Chunk3ds vertexList(const std::vector<Vec3f>& points) {
    Chunk3ds c{0x4110, {}};
    c.put(uint16_t(points.size()));
    for (const Vec3f& p : points) c.put(p.x).put(p.y).put(p.z);
    return c;
}

Chunk3ds faceList(const std::vector<std::array<uint16_t, 3>>& faces) {
    Chunk3ds c{0x4120, {}};
    c.put(uint16_t(faces.size()));
    for (const auto& f : faces) c.put(f[0]).put(f[1]).put(f[2]).put(uint16_t(7));
    return c;
}

// One object holding a triangle mesh, inside the editor and main chunks.
std::string write3ds(const std::string& fileName, const std::vector<Chunk3ds>& meshChunks) {
    Chunk3ds mesh{0x4100, {}};
    for (const Chunk3ds& c : meshChunks) mesh.child(c);
    Chunk3ds object{0x4000, {}};
    object.name("Box01").child(mesh);
    Chunk3ds editor{0x3D3D, {}};
    editor.child(Chunk3ds{0x3D3E, {3, 0, 0, 0}}).child(object); // a version chunk first
    Chunk3ds main{0x4D4D, {}};
    main.child(editor);
    const std::string path = tempPath(fileName);
    writeBytes(path, main.bytes());
    return path;
}

const std::vector<Vec3f> kTetrahedron = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

class ThreeDsReader : public ::testing::Test {
  protected:
    void expectRefused(const std::string& path, const std::string& expected) {
        VObject3D mesh;
        EXPECT_FALSE(mesh.read3ds(path));
        EXPECT_TRUE(mesh.vertices.empty());
        EXPECT_TRUE(mesh.triangles.empty());
        EXPECT_NE(mesh.lastError().find(expected), std::string::npos) << mesh.lastError();
    }
    CapturedLog mLog;
};
} // namespace

TEST_F(ThreeDsReader, TetrahedronWithSwappedWinding) {
    VObject3D mesh;
    ASSERT_TRUE(mesh.read3ds(write3ds("tet.3ds", {vertexList(kTetrahedron), faceList({{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {0, 3, 2}})})))
        << mesh.lastError();
    EXPECT_EQ(mesh.vertices.size(), 4u);
    ASSERT_EQ(mesh.triangles.size(), 4u);
    // The first two corners trade places; the first triangle keeps its turn.
    EXPECT_EQ(std::vector<uint32_t>(mesh.triangles[0].v, mesh.triangles[0].v + 3), (std::vector<uint32_t>{2, 0, 1}));
    EXPECT_EQ(repairViolation(mesh), "");
    EXPECT_EQ(mesh.edgeStatistics().borderEdges, 0u);
}

TEST_F(ThreeDsReader, FlatDoubledAndOverfullTriangles) {
    // Face 1 is flat, face 2 doubles face 0 the other way round, faces 3 to 5
    // are three triangles on the edge 0-1: the flat and the double go, and
    // two vertices are copied to split the edge.
    std::vector<Vec3f> points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}};
    VObject3D mesh;
    ASSERT_TRUE(mesh.read3ds(
        write3ds("messy.3ds", {vertexList(points), faceList({{0, 1, 2}, {1, 1, 3}, {2, 1, 0}, {0, 1, 3}, {0, 1, 4}})})))
        << mesh.lastError();
    EXPECT_EQ(mesh.triangles.size(), 3u);
    EXPECT_EQ(mesh.vertices.size(), 7u);
    EXPECT_EQ(repairViolation(mesh), "");
}

TEST_F(ThreeDsReader, DamagedFilesAreRefused) {
    // A vertex list that claims more points than the chunk holds.
    Chunk3ds shortList{0x4110, {}};
    shortList.put(uint16_t(10)).put(1.0f).put(2.0f);
    expectRefused(write3ds("short.3ds", {shortList}), "unexpected end of file");
    expectRefused(write3ds("range.3ds", {vertexList(kTetrahedron), faceList({{0, 1, 9}})}),
                  "face 0: vertex index 9 out of range");
    Chunk3ds noEditor{0x4D4D, {}};
    noEditor.child(Chunk3ds{0x0002, {3, 0, 0, 0}});
    writeBytes(tempPath("noeditor.3ds"), noEditor.bytes());
    expectRefused(tempPath("noeditor.3ds"), "no editor chunk");
    writeBytes(tempPath("text.3ds"), {'h', 'e', 'l', 'l', 'o', '!', '!', '!'});
    expectRefused(tempPath("text.3ds"), "not a 3DS file");
    // A chunk of length 0 would stop the chunk search from moving on.
    std::vector<uint8_t> stuck = {0x4D, 0x4D, 20, 0, 0, 0, 0x3D, 0x3D, 14, 0, 0, 0, 0x00, 0x40, 0, 0, 0, 0, 0, 0};
    writeBytes(tempPath("stuck.3ds"), stuck);
    VObject3D mesh;
    mesh.read3ds(tempPath("stuck.3ds"));
    EXPECT_TRUE(mesh.triangles.empty());
    expectRefused(tempPath("missing.3ds"), "Can't open 3ds file");
}

TEST_F(ThreeDsReader, RealFiles) {
    VObject3D mesh;
    // The cube comes with a point per face corner: 26 points merge to 8.
    ASSERT_TRUE(mesh.read3ds(assimpModel("3DS/RotatingCube.3DS"))) << mesh.lastError();
    EXPECT_EQ(mesh.vertices.size(), 8u);
    EXPECT_EQ(mesh.triangles.size(), 12u);
    EXPECT_EQ(mesh.edgeStatistics().borderEdges, 0u);
    EXPECT_EQ(repairViolation(mesh), "");

    // Five cubes as five objects: their points follow each other.
    ASSERT_TRUE(mesh.read3ds(assimpModel("3DS/cubes_with_alpha.3DS"))) << mesh.lastError();
    EXPECT_EQ(mesh.edgeStatistics().parts, 5u);
    EXPECT_EQ(mesh.triangles.size(), 60u);

    ASSERT_TRUE(mesh.read3ds(assimpModel("3DS/fels.3ds"))) << mesh.lastError();
    EXPECT_GT(mesh.triangles.size(), 500u);
    EXPECT_EQ(repairViolation(mesh), "");
}
