#include "MeshTestSupport.h"
#include "TestFiles.h"
#include "VObject3D.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstring>

namespace {
// Builds a PLY file: header lines, then ASCII text or binary fields.
class PlyFile {
  public:
    explicit PlyFile(std::string header) : mHeader(std::move(header)) {}
    PlyFile& text(const std::string& s) {
        mBody.insert(mBody.end(), s.begin(), s.end());
        return *this;
    }
    template <typename T> PlyFile& le(T value) {
        uint8_t b[sizeof(T)];
        std::memcpy(b, &value, sizeof(T));
        mBody.insert(mBody.end(), b, b + sizeof(T));
        return *this;
    }
    template <typename T> PlyFile& be(T value) {
        uint8_t b[sizeof(T)];
        std::memcpy(b, &value, sizeof(T));
        mBody.insert(mBody.end(), std::rbegin(b), std::rend(b));
        return *this;
    }
    std::string write(const std::string& name) const {
        std::vector<uint8_t> bytes(mHeader.begin(), mHeader.end());
        bytes.insert(bytes.end(), mBody.begin(), mBody.end());
        const std::string path = tempPath(name);
        writeBytes(path, bytes);
        return path;
    }

  private:
    std::string mHeader;
    std::vector<uint8_t> mBody;
};

const char* kUnitSquareAscii = "ply\nformat ascii 1.0\ncomment two triangles\nelement vertex 4\n"
                               "property float x\nproperty float y\nproperty float z\n"
                               "element face 2\nproperty list uchar int vertex_indices\nend_header\n";

class PlyReader : public ::testing::Test {
  protected:
    // Reads expecting failure; the mesh must be empty and the reason hold expected.
    void expectRefused(const std::string& path, const std::string& expected) {
        VObject3D mesh;
        EXPECT_FALSE(mesh.readPly(path));
        EXPECT_TRUE(mesh.vertices.empty());
        EXPECT_TRUE(mesh.triangles.empty());
        EXPECT_NE(mesh.lastError().find(expected), std::string::npos)
            << "expected '" << expected << "' in '" << mesh.lastError() << "'";
    }
    CapturedLog mLog;
};
} // namespace

TEST_F(PlyReader, AsciiSquare) {
    std::string path = PlyFile(kUnitSquareAscii).text("0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 2\n3 0 2 3\n").write("square.ply");
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(path)) << mesh.lastError();
    ASSERT_EQ(mesh.vertices.size(), 4u);
    EXPECT_EQ(mesh.vertices[2]->evaluate(0), Vec3f(1, 1, 0));
    EXPECT_EQ(cornerSets(mesh), (std::multiset<std::array<uint32_t, 3>>{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(repairViolation(mesh), "");
    EXPECT_EQ(mesh.edgeStatistics().borderEdges, 4u);
    const std::string out = mLog.out();
    for (const char* line : {"Reading ", "Endian: big endian\n", "other prop len: 0\n", "is binary: no\n",
                             " Reading 4 vertices... Done.\n", " Reading 2 faces... Done.\n",
                             "Assign face normal directions.\n", "number of merged vertex pairs: 0\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
}

TEST_F(PlyReader, AsciiNumbersReadAsScanfReadsThem) {
    // Signs, exponents, a leading dot, hex floats; integer corners in octal and hex.
    std::string path = PlyFile(kUnitSquareAscii)
                           .text("+0 -0.0 0e0\n1.0e0 .0 0\n0x1p0 1 -0\n0 +1. 0.\n3 00 01 02\n3 0x0 2 03\n")
                           .write("numbers.ply");
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(path)) << mesh.lastError();
    ASSERT_EQ(mesh.vertices.size(), 4u);
    EXPECT_EQ(mesh.vertices[1]->evaluate(0), Vec3f(1, 0, 0));
    EXPECT_EQ(mesh.vertices[2]->evaluate(0), Vec3f(1, 1, 0));
    EXPECT_EQ(mesh.vertices[3]->evaluate(0), Vec3f(0, 1, 0));
    EXPECT_EQ(cornerSets(mesh), (std::multiset<std::array<uint32_t, 3>>{{0, 1, 2}, {0, 2, 3}}));
}

TEST_F(PlyReader, BinaryInBothByteOrdersEqualsAscii) {
    const std::string header = "element vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
                               "element face 2\nproperty list uchar int vertex_indices\nend_header\n";
    PlyFile little("ply\nformat binary_little_endian 1.0\n" + header);
    PlyFile big("ply\nformat binary_big_endian 1.0\n" + header);
    const float points[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    for (const auto& p : points)
        for (float c : p) {
            little.le(c);
            big.be(c);
        }
    for (const std::array<int32_t, 3>& f : {std::array<int32_t, 3>{0, 1, 2}, std::array<int32_t, 3>{0, 2, 3}}) {
        little.le(uint8_t(3));
        big.be(uint8_t(3));
        for (int32_t i : f) {
            little.le(i);
            big.be(i);
        }
    }
    VObject3D ascii, le, be;
    ASSERT_TRUE(ascii.readPly(PlyFile(kUnitSquareAscii).text("0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 2\n3 0 2 3\n").write("a.ply")));
    ASSERT_TRUE(le.readPly(little.write("le.ply"))) << le.lastError();
    ASSERT_TRUE(be.readPly(big.write("be.ply"))) << be.lastError();
    for (const VObject3D* m : {&le, &be}) {
        ASSERT_EQ(m->vertices.size(), 4u);
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(m->vertices[i]->evaluate(0), ascii.vertices[i]->evaluate(0));
        EXPECT_EQ(cornerSets(*m), cornerSets(ascii));
    }
    EXPECT_NE(mLog.out().find("Endian: little endian"), std::string::npos);
}

TEST_F(PlyReader, VertexElementWithoutFacesIsAPointSet) {
    std::string path = PlyFile("ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
                               "property float z\nend_header\n")
                           .text("1 2 3\n4 5 6\n")
                           .write("points.ply");
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(path)) << mesh.lastError();
    EXPECT_EQ(mesh.vertices.size(), 2u);
    EXPECT_TRUE(mesh.triangles.empty());
}

TEST_F(PlyReader, ExtraPropertiesOfEveryTypeAreSkipped) {
    // One property of each scalar size, and 40 doubles more: 335 extra bytes
    // per vertex, well past any line buffer.
    std::string header = "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty double x\n"
                         "property float32 y\nproperty float64 z\nproperty uchar red\nproperty int16 s\n"
                         "property uint t\nproperty double w\n";
    for (int i = 0; i < 40; ++i) header += "property float64 extra" + std::to_string(i) + "\n";
    header += "element face 1\nproperty list uint8 uint16 vertex_index\nend_header\n";
    PlyFile file(header);
    const double xs[3] = {0.5, 2.25, -1.0};
    for (int v = 0; v < 3; ++v) {
        file.le(xs[v]).le(float(v)).le(double(v * 2));
        file.le(uint8_t(255)).le(int16_t(-7)).le(uint32_t(v)).le(double(9.5));
        for (int i = 0; i < 40; ++i) file.le(double(i));
    }
    file.le(uint8_t(3)).le(uint16_t(0)).le(uint16_t(1)).le(uint16_t(2));
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(file.write("extra.ply"))) << mesh.lastError();
    ASSERT_EQ(mesh.vertices.size(), 3u);
    for (int v = 0; v < 3; ++v) EXPECT_EQ(mesh.vertices[v]->evaluate(0), Vec3f(float(xs[v]), float(v), float(v * 2)));
    EXPECT_EQ(mesh.triangles.size(), 1u);
    EXPECT_NE(mLog.out().find("other prop len: 335"), std::string::npos);
}

TEST_F(PlyReader, PolygonsAreFanTriangulated) {
    // A binary quad and an ASCII pentagon; the message comes once.
    PlyFile quad("ply\nformat binary_little_endian 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
                 "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n");
    const float points[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    for (const auto& p : points)
        for (float c : p) quad.le(c);
    quad.le(uint8_t(4)).le(int32_t(0)).le(int32_t(1)).le(int32_t(2)).le(int32_t(3));
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(quad.write("quad.ply"))) << mesh.lastError();
    EXPECT_EQ(cornerSets(mesh), (std::multiset<std::array<uint32_t, 3>>{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_NE(mLog.err().find("Non-triangle found in mesh (4 vertices).\n"), std::string::npos);

    std::string pentagon = PlyFile("ply\nformat ascii 1.0\nelement vertex 5\nproperty float x\nproperty float y\n"
                                   "property float z\nelement face 2\nproperty list uchar int vertex_indices\nend_header\n")
                               .text("0 0 0\n2 0 0\n3 1 0\n1 2 0\n-1 1 0\n5 0 1 2 3 4\n2 0 1\n")
                               .write("pentagon.ply");
    ASSERT_TRUE(mesh.readPly(pentagon)) << mesh.lastError();
    EXPECT_EQ(cornerSets(mesh), (std::multiset<std::array<uint32_t, 3>>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}));
}

TEST_F(PlyReader, TriangleStrips) {
    PlyFile strips("ply\nformat binary_little_endian 1.0\nelement vertex 7\nproperty float x\nproperty float y\n"
                   "property float z\nelement tristrips 1\nproperty list int int vertex_indices\nend_header\n");
    const float points[7][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {5, 0, 0}, {6, 0, 0}, {5, 1, 0}};
    for (const auto& p : points)
        for (float c : p) strips.le(c);
    strips.le(int32_t(8));
    for (int32_t i : {0, 1, 2, 3, -1, 4, 5, 6}) strips.le(i);
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(strips.write("strips.ply"))) << mesh.lastError();
    EXPECT_EQ(cornerSets(mesh), (std::multiset<std::array<uint32_t, 3>>{{0, 1, 2}, {1, 2, 3}, {4, 5, 6}}));
    EXPECT_NE(mLog.out().find("number of triangles: 3"), std::string::npos);
    EXPECT_EQ(repairViolation(mesh), "");
}

TEST_F(PlyReader, BrokenStripIsRefused) {
    PlyFile strips("ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                   "property float z\nelement tristrips 1\nproperty list int int vertex_indices\nend_header\n");
    for (int i = 0; i < 9; ++i) strips.le(float(i));
    // The second strip holds a single index: the third index after the
    // separator finds the separator behind it.
    strips.le(int32_t(8));
    for (int32_t i : {0, 1, 2, -1, 0, -1, 1, 2}) strips.le(i);
    expectRefused(strips.write("broken-strip.ply"), "tstripdata[t] != -1 && tstripdata[t-1] != -1 && tstripdata[t-2] != -1");
}

TEST_F(PlyReader, HeaderProblemsAreRefusedWithTheirMessage) {
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    expectRefused(PlyFile("plx\n").write("not.ply"), "Not a ply file.");
    expectRefused(PlyFile("ply\nformat ascii 1.0\nelement face 3\n").write("noverts.ply"), "Expected \"element vertex\"");
    expectRefused(PlyFile("ply\nformat ascii 1.0\ncomment nothing here\nend_header\n0 0 0\n").write("empty.ply"),
                  "Expected \"element vertex\"");
    expectRefused(PlyFile("ply\nformat ascii 1.0\nelement vertex 1\nproperty float y\n").write("noy.ply"),
                  "Expected \"property float x\"");
    expectRefused(PlyFile("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty uchar y\n").write("chary.ply"),
                  "Expected \"property float y\"");
    expectRefused(PlyFile("ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "property list uchar int n\n").write("list.ply"),
                  "Unsupported vertex property: property list uchar int n");
    expectRefused(PlyFile("ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "property half h\n").write("half.ply"),
                  "Unsupported vertex property: property half h");
    expectRefused(PlyFile("ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "element face 1\nproperty list uchar float vertex_indices\n")
                      .write("floatlist.ply"),
                  "Expected \"property list uchar int vertex_indices\"");
    expectRefused(PlyFile("ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "element edge 1\nend_header\n").write("edge.ply"),
                  "Expected \"end_header\"");
    expectRefused(tempPath("missing.ply"), "Can't open plyfile");
    EXPECT_NE(mLog.err().find("Error reading plyfile at line 5.\n"), std::string::npos);
}

TEST_F(PlyReader, BadDataIsRefused) {
    const std::string header = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                               "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n";
    expectRefused(PlyFile(header).text("0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n").write("range.ply"),
                  "face 0: vertex index 3 out of range (3 vertices)");
    expectRefused(PlyFile(header).text("0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n").write("negative.ply"), "vertex index -1 out of range");
    expectRefused(PlyFile(header).text("0 0 0\n1 0\n0 1 0\n3 0 1 2\n").write("short-line.ply"), "vertex 1: expected three numbers");
    expectRefused(PlyFile(header).text("0 0 0\n1 0 0\n0 1 nan\n3 0 1 2\n").write("nan.ply"),
                  "vertex 2: coordinate is not a finite number");
    expectRefused(PlyFile(header).text("0 0 0\n1 0 0\n0 1 0\n3 0 1").write("cut.ply"), "face 0: expected 3 vertex indices");
    EXPECT_NE(mLog.out().find("End Of file!"), std::string::npos);

    // Counts the data cannot hold are refused before anything is allocated.
    auto start = std::chrono::steady_clock::now();
    expectRefused(PlyFile("ply\nformat binary_little_endian 1.0\nelement vertex 2000000000\nproperty float x\n"
                          "property float y\nproperty float z\nelement face 2000000000\n"
                          "property list uchar int vertex_indices\nend_header\n")
                      .le(1.0f)
                      .write("huge.ply"),
                  "more than the file's 4 bytes of data can hold");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(PlyReader, GarbageAfterTheDataIsReported) {
    std::string path = PlyFile(kUnitSquareAscii).text("0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 2\n3 0 2 3\nrubbish\n").write("garbage.ply");
    VObject3D mesh;
    EXPECT_TRUE(mesh.readPly(path));
    EXPECT_NE(mLog.err().find("Warning: ignored excess garbage at end of ply file.\n"), std::string::npos);
}

TEST_F(PlyReader, FilesRealToolsWrote) {
    VObject3D mesh;
    // float32 and uint8/int32 list types, the name vertex_index, quads.
    ASSERT_TRUE(mesh.readPly(assimpModel("PLY/cube.ply"))) << mesh.lastError();
    EXPECT_EQ(mesh.vertices.size(), 8u);
    EXPECT_EQ(mesh.triangles.size(), 12u);
    EXPECT_EQ(mesh.edgeStatistics().parts, 1u);
    EXPECT_EQ(mesh.edgeStatistics().borderEdges, 0u);
    EXPECT_EQ(repairViolation(mesh), "");

    ASSERT_TRUE(mesh.readPly(assimpModel("PLY/cube_binary.ply"))) << mesh.lastError();
    EXPECT_EQ(mesh.vertices.size(), 8u);
    EXPECT_EQ(mesh.triangles.size(), 12u);
    EXPECT_EQ(mesh.edgeStatistics().borderEdges, 0u);

    // Blender: a bare text line before the elements, uint list indices,
    // normals and texture coordinates per corner; corners merge.
    ASSERT_TRUE(mesh.readPly(assimpModel("PLY/Wuson.ply"))) << mesh.lastError();
    EXPECT_EQ(mesh.triangles.size(), 3732u);
    EXPECT_LT(mesh.vertices.size(), 11184u);
    EXPECT_EQ(repairViolation(mesh), "");

    // A point cloud with colour bytes between float properties.
    ASSERT_TRUE(mesh.readPly(assimpModel("PLY/points.ply"))) << mesh.lastError();
    EXPECT_EQ(mesh.vertices.size(), 4u);
    EXPECT_EQ(mesh.vertices[1]->evaluate(0), Vec3f(0, 0, 1));

    // A list property inside the vertex element, and a file cut short.
    expectRefused(assimpModel("PLY/issue623.ply"), "Unsupported vertex property: property list uchar uint vertex_indices");
    expectRefused(assimpModel("PLY/pond.0.ply"), "more than the file's");
}

TEST_F(PlyReader, DragonComesOutRepaired) {
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(dragonPath("dragon_vrip_res4.ply"))) << mesh.lastError();
    // The scan has doubled triangles and edges shared by more than two faces;
    // none survive the repair.
    const std::string out = mLog.out();
    const size_t at = out.find(" double triangles removed");
    ASSERT_NE(at, std::string::npos);
    const unsigned long doubled = std::stoul(out.substr(out.rfind('\n', at) + 1));
    EXPECT_GT(doubled, 0u);
    EXPECT_EQ(mesh.triangles.size(), 11102u - doubled); // the header's face count
    EXPECT_NE(out.find("edges with more than 2 neibhbored triangles: 0"), std::string::npos);
    // Where the scan had sheets crossing on an edge, the split sheets can join
    // into strips that no orientation fits; those stay few.
    EXPECT_EQ(repairViolation(mesh, false), "");
    EXPECT_LT(disagreeingEdges(mesh) * 50, mesh.triangles.size());
    EXPECT_EQ(mesh.edgeStatistics().overfullEdges, 0u);
    EXPECT_GT(mesh.edgeStatistics().borderEdges, 0u); // the scan has holes
}
