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

// One object, named and holding a triangle mesh, inside the editor and main
// chunks; the editor holds a version chunk first.
std::string write3ds(const std::string& fileName, const std::vector<Chunk3ds>& meshChunks) {
    Chunk3ds mesh{0x4100, {}};
    for (const Chunk3ds& c : meshChunks) mesh.child(c);
    Chunk3ds object{0x4000, {'B', 'o', 'x', '0', '1', 0}};
    Chunk3ds editor{0x3D3D, {}};
    editor.child(Chunk3ds{0x3D3E, {3, 0, 0, 0}}).child(object.child(mesh));
    const std::string path = tempPath(fileName);
    writeBytes(path, Chunk3ds{0x4D4D, {}}.child(editor).bytes());
    return path;
}

const std::vector<Vec3f> kTetrahedron = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
} // namespace

TEST(ThreeDsReader, TetrahedronWithSwappedWinding) {
    CapturedLog log;
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

// A refused file leaves the mesh empty and says what was wrong. A chunk of
// length 0, which would stop the chunk search from moving on, reads nothing.
TEST(ThreeDsReader, DamagedFilesAreRefused) {
    CapturedLog log;
    Chunk3ds shortList{0x4110, {}}; // claims more points than the chunk holds
    shortList.put(uint16_t(10)).put(1.0f).put(2.0f);
    writeBytes(tempPath("noeditor.3ds"), Chunk3ds{0x4D4D, {}}.child(Chunk3ds{0x0002, {3, 0, 0, 0}}).bytes());
    writeBytes(tempPath("text.3ds"), {'h', 'e', 'l', 'l', 'o', '!', '!', '!'});
    writeBytes(tempPath("stuck.3ds"), {0x4D, 0x4D, 20, 0, 0, 0, 0x3D, 0x3D, 14, 0, 0, 0, 0x00, 0x40, 0, 0, 0, 0, 0, 0});
    const std::pair<std::string, const char*> cases[] = {
        {write3ds("short.3ds", {shortList}), "unexpected end of file"},
        {write3ds("range.3ds", {vertexList(kTetrahedron), faceList({{0, 1, 9}})}), "face 0: vertex index 9 out of range"},
        {tempPath("noeditor.3ds"), "no editor chunk"},
        {tempPath("text.3ds"), "not a 3DS file"},
        {tempPath("stuck.3ds"), nullptr},
        {tempPath("missing.3ds"), "Can't open 3ds file"},
    };
    for (const auto& [path, expected] : cases) {
        VObject3D mesh;
        EXPECT_EQ(mesh.read3ds(path), !expected) << path;
        EXPECT_TRUE(mesh.vertices.empty() && mesh.triangles.empty()) << path;
        EXPECT_NE(mesh.lastError().find(expected ? expected : ""), std::string::npos) << mesh.lastError();
    }
}
