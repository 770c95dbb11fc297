// The geometry side file read back: what the writer stores comes back from
// real hierarchies, and damaged or hostile files are refused with a message
// naming the fault, leaving nothing behind.

#include "GeometryFile.h"
#include "ByteStream.h"
#include "QuantizedNormal.h"
#include "SideFiles.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
// A hierarchy with its clustered impostor tree, as the side-file step has it.
struct Source {
    VLODObject3D object;
    ImpostorTree tree;
    bool prepare(std::string& error) { return tree.init(object, error) && tree.cluster({}, error); }
};

std::vector<uint8_t> impostorBytes(const MTImpostor& impostor) {
    ByteWriter out;
    writeImpostor(out, impostor);
    return out.data();
}

void expectSameAsWritten(const Source& s, const GeometryFileContents& read) {
    const VLODObject3D& o = s.object;
    EXPECT_EQ(read.compression, 2u);
    EXPECT_EQ(std::memcmp(&read.sphere, &o.mBoundingSphere, sizeof read.sphere), 0);
    ASSERT_TRUE(read.vnum() == o.vnum() && read.tnum() == o.tnum() && read.nnum() == o.nnum() &&
                read.anum() == o.anum());
    for (uint32_t v = 0; v < o.vnum(); ++v) {
        const Vec3f n = dequantizeNormal(o.varray[v].normal), p = o.varray[v].path->evaluate(0);
        const float expected[6] = {n.x, n.y, n.z, p.x, p.y, p.z};
        ASSERT_EQ(std::memcmp(&read.vertices[6 * v], expected, sizeof expected), 0) << v;
    }
    for (uint32_t t = 0; t < o.tnum(); ++t)
        ASSERT_EQ(std::memcmp(&read.triangles[3 * t], o.tarray[t].v, 12), 0) << t;
    for (uint32_t n = 0; n < o.nnum(); ++n)
        ASSERT_TRUE(read.nodes[n].out == o.narray[n].out && read.nodes[n].onum == o.narray[n].onum) << n;
    for (uint32_t a = 0; a < o.anum(); ++a)
        ASSERT_TRUE(read.arcs[a].tnum == o.aarray[a].tnum && read.arcs[a].tstart == o.aarray[a].tstart) << a;
    ASSERT_EQ(read.tree.inum(), s.tree.inum());
    EXPECT_EQ(read.tree.root, s.tree.root);
    for (uint32_t i = 0; i < s.tree.inum(); ++i)
        ASSERT_EQ(impostorBytes(read.tree.impostors[i]), impostorBytes(s.tree.impostors[i])) << i;
}

// The sphere hierarchy and the sample files (one without impostors); the
// atlas count once given, once from the textures file beside.
TEST(GeometryFile, ReadsBackWhatTheWriterStores) {
    initTetrahederLookupTableRec();
    CapturedLog quiet;
    for (const std::string name :
         {"sphere", "icosahedron.mvh", "icosphere1-keyframes3.mvh", "icosphere2.mvh"}) {
        SCOPED_TRACE(name);
        Source source;
        if (name == "sphere")
            makeSphereHierarchy(source.object, {2, 1, true});
        else
            ASSERT_TRUE(source.object.read(testDataPath(name))) << source.object.lastError();
        std::string error;
        ASSERT_TRUE(source.prepare(error)) << error;
        const std::string path = tempPath(name + ".mv3");
        ASSERT_TRUE(writeGeometryFile(path, source.object, source.tree, 2, error)) << error;
        GeometryFileContents read;
        ASSERT_TRUE(readGeometryFile(path, uint32_t(source.tree.atlases.size()), read, error)) << error;
        expectSameAsWritten(source, read);

        const std::vector<RenderedAtlas> atlases(source.tree.atlases.size()); // only their count matters
        ASSERT_TRUE(writeTexturesFile(texturesFileForGeometry(path), std::vector<uint8_t>(33, 0), atlases,
                                      false, error));
        ASSERT_TRUE(readGeometryFile(path, read, error)) << error;
        EXPECT_EQ(read.tree.inum(), source.tree.inum());
    }
    EXPECT_EQ(texturesFileForGeometry("a.mv3.mv3"), "a.mv3.mv2");
    EXPECT_EQ(texturesFileForGeometry("a.mv3.old"), "");
}

void expectRefused(const std::vector<uint8_t>& bytes, uint32_t atlases, const std::string& expected) {
    GeometryFileContents read;
    read.triangles = {1, 2, 3}; // whatever was there goes
    std::string error;
    EXPECT_FALSE(readGeometryBytes(bytes.data(), bytes.size(), atlases, read, error));
    EXPECT_NE(error.find(expected), std::string::npos)
        << "expected '" << expected << "' in '" << error << "'";
    EXPECT_TRUE(read.empty());
}

uint32_t valueAt(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// Every cut of the sphere's file, then single fields of it set to a value
// just past their limit and, where there is one, to the limit itself.
TEST(GeometryFile, TruncatedAndInconsistentFilesAreRefused) {
    CapturedLog quiet;
    Source s;
    makeSphereHierarchy(s.object, {2, 1, true});
    std::string error;
    ASSERT_TRUE(s.prepare(error)) << error;
    const std::vector<uint8_t> bytes = geometryFileBytes(s.object, s.tree, 0);
    const uint32_t atlases = uint32_t(s.tree.atlases.size()), inum = s.tree.inum(), root = s.tree.root;
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        expectRefused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)), atlases,
                      "geometry file");

    const VLODObject3D& o = s.object;
    const size_t tnumAt = 24 + 24 * size_t(o.vnum()), nnumAt = tnumAt + 4 + 12 * size_t(o.tnum());
    const size_t anumAt = nnumAt + 4 + 8 * size_t(o.nnum()), inumAt = anumAt + 4 + 8 * size_t(o.anum());
    std::vector<size_t> impostorAt{inumAt + 4};
    for (const MTImpostor& q : s.tree.impostors)
        impostorAt.push_back(impostorAt.back() + 109 + 4 * q.children.size());
    auto childAt = [&](uint32_t i, size_t k) { return impostorAt[i] + 101 + 4 * k; };
    auto parentAt = [&](uint32_t i) { return childAt(i, s.tree.impostors[i].children.size()); };
    uint32_t leaf = 0; // an impostor whose first child is a node
    while (s.tree.impostors[leaf].children.empty() || s.tree.impostors[leaf].children[0] < inum)
        ++leaf;
    constexpr int64_t kNone = -1;
    struct Case {
        const char* name;
        size_t at;
        uint32_t fault;
        int64_t limit; // the valid value next to the fault
        const char* expected;
    };
    const Case cases[] = {
        {"vertex count", 20, 0xFFFFFFFF, kNone, "too short for its 4294967295 vertices"},
        {"triangle count", tnumAt, 0xFFFFFFFF / 12, kNone, "triangles"},
        {"impostor count", inumAt, 0xFFFFFFFF / 2, kNone, "impostors"},
        {"children count", impostorAt[0] + 97, 0xFFFFFFFF, kNone, "too short for impostor 0"},
        {"infinite radius", 16, 0x7F800000, kNone, "bounding sphere"},
        {"vertex index", tnumAt + 4, o.vnum(), o.vnum() - 1, "triangle 0 refers to vertex"},
        {"arc patch", anumAt + 8, o.tnum(), o.tnum() - 1, "patch of arc 0"},
        {"node arcs", nnumAt + 4, o.anum() + 1, o.anum(), "arcs of node 0"},
        {"atlas", impostorAt[1] - 4, atlases, atlases - 1, "in atlas"},
        {"node reference", childAt(leaf, 0), inum + o.nnum(), inum + o.nnum() - 1, "refers to node"},
        {"parent range", parentAt(root), inum, kNone, "has parent"},
        {"root given a parent", parentAt(root), root == 0 ? 1u : 0u, kNone, "not among the children"},
        {"cycle to the root", childAt(leaf, 0), root, kNone, "not its child alone"},
        {"child listed twice", childAt(root, 0), valueAt(bytes, childAt(root, 1)), kNone,
         "not its child alone"},
        {"root", impostorAt.back(), inum, kNone, "root impostor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> damaged = bytes;
        std::memcpy(damaged.data() + c.at, &c.fault, 4);
        expectRefused(damaged, atlases, c.expected);
        if (c.limit == kNone) continue;
        const uint32_t limit = uint32_t(c.limit);
        std::memcpy(damaged.data() + c.at, &limit, 4);
        GeometryFileContents read;
        EXPECT_TRUE(readGeometryBytes(damaged.data(), damaged.size(), atlases, read, error)) << error;
    }
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    expectRefused(longer, atlases, "1 bytes after");
}

// The smallest file, byte for byte: no geometry, no impostors, no root.
TEST(GeometryFile, EmptyFileGoldenBytes) {
    std::vector<uint8_t> bytes = {1, 0,    0, 0, 0,    0,    0x80, 0x3F, 0,    0,
                                  0, 0x40, 0, 0, 0x40, 0x40, 0,    0,    0x80, 0x40};
    bytes.resize(bytes.size() + 20, 0); // five empty lists
    bytes.insert(bytes.end(), 4, 0xFF);
    GeometryFileContents read;
    std::string error;
    ASSERT_TRUE(readGeometryBytes(bytes.data(), bytes.size(), 0, read, error)) << error;
    EXPECT_TRUE(read.empty() && read.compression == 1 && read.tree.root == MTImpostor::kNoParent);
    EXPECT_TRUE(read.sphere.x == 1 && read.sphere.y == 2 && read.sphere.z == 3 && read.sphere.r == 4);
}

TEST(GeometryFile, FilesWithoutTheEndingOrTheirTexturesAreRefused) {
    const std::vector<uint8_t> empty(44, 0);
    GeometryFileContents read;
    std::string error;
    for (const char* name : {"plain.mv3.bak", "plain"}) {
        writeBytes(tempPath(name), empty);
        EXPECT_FALSE(readGeometryFile(tempPath(name), 100, read, error));
        EXPECT_NE(error.find("does not end in .mv3"), std::string::npos) << error;
    }
    writeBytes(tempPath("no-textures.mv3"), empty);
    EXPECT_FALSE(readGeometryFile(tempPath("no-textures.mv3"), read, error));
    EXPECT_NE(error.find("no-textures.mv2"), std::string::npos) << error;
    EXPECT_FALSE(readGeometryFile(tempPath("missing.mv3"), 100, read, error));
    EXPECT_NE(error.find("missing.mv3"), std::string::npos) << error;
}
} // namespace
