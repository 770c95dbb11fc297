// The geometry side file read back: everything the writer stores comes back
// bit for bit from real hierarchies, and damaged or hostile files are
// refused with a message naming the fault, leaving nothing behind.

#include "GeometryFile.h"
#include "QuantizedNormal.h"
#include "SideFiles.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

namespace {
// A hierarchy with its clustered impostor tree, as the side-file step has it.
struct Source {
    VLODObject3D object;
    ImpostorTree tree;
};

::testing::AssertionResult prepare(Source& source) {
    std::string error;
    if (!source.tree.init(source.object, error) || !source.tree.cluster({}, error))
        return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

void expectSameImpostor(const MTImpostor& a, const MTImpostor& b) {
    for (int k = 0; k < 4; ++k) {
        const MTImpostor::Corner &x = a.corners[k], &y = b.corners[k];
        EXPECT_TRUE(x.x == y.x && x.y == y.y && x.z == y.z && x.s == y.s && x.t == y.t) << "corner " << k;
    }
    EXPECT_TRUE(a.normal.x == b.normal.x && a.normal.y == b.normal.y && a.normal.z == b.normal.z);
    EXPECT_EQ(a.depth, b.depth);
    EXPECT_EQ(a.flag, b.flag);
    EXPECT_EQ(a.children, b.children);
    EXPECT_EQ(a.parent, b.parent);
    EXPECT_EQ(a.atlas, b.atlas);
}

void expectSameAsWritten(const Source& source, const GeometryFileContents& read) {
    const VLODObject3D& o = source.object;
    EXPECT_EQ(read.compression, 2u);
    EXPECT_EQ(std::memcmp(&read.sphere, &o.mBoundingSphere, sizeof read.sphere), 0);
    ASSERT_EQ(read.vnum(), o.vnum());
    for (uint32_t v = 0; v < o.vnum(); ++v) {
        const Vec3f n = dequantizeNormal(o.varray[v].normal), p = o.varray[v].path->evaluate(0);
        const float* r = &read.vertices[v * GeometryFileContents::kFloatsPerVertex];
        ASSERT_TRUE(r[0] == n.x && r[1] == n.y && r[2] == n.z && r[3] == p.x && r[4] == p.y && r[5] == p.z)
            << v;
    }
    ASSERT_EQ(read.tnum(), o.tnum());
    for (uint32_t t = 0; t < o.tnum(); ++t)
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(read.triangles[3 * t + k], o.tarray[t].v[k]) << t;
    ASSERT_EQ(read.nnum(), o.nnum());
    for (uint32_t n = 0; n < o.nnum(); ++n)
        ASSERT_TRUE(read.nodes[n].out == o.narray[n].out && read.nodes[n].onum == o.narray[n].onum) << n;
    ASSERT_EQ(read.anum(), o.anum());
    for (uint32_t a = 0; a < o.anum(); ++a)
        ASSERT_TRUE(read.arcs[a].tnum == o.aarray[a].tnum && read.arcs[a].tstart == o.aarray[a].tstart) << a;
    ASSERT_EQ(read.tree.inum(), source.tree.inum());
    EXPECT_EQ(read.tree.root, source.tree.root);
    for (uint32_t i = 0; i < read.tree.inum(); ++i) {
        SCOPED_TRACE(i);
        expectSameImpostor(read.tree.impostors[i], source.tree.impostors[i]);
    }
}

// Atlases of the tree's sizes, for a textures file the reader takes its atlas count from.
std::vector<RenderedAtlas> blankAtlases(const ImpostorTree& tree) {
    std::vector<RenderedAtlas> atlases;
    for (const ImpostorAtlas& a : tree.atlases) {
        const std::vector<float> texels(size_t(a.width) * a.height * 4, 0.0f);
        atlases.push_back({a.width, a.height, texels, texels});
    }
    return atlases;
}

// The sphere hierarchy and the sample files (one without impostors),
// written and read back; the
// atlas count once given and once from a textures file beside the geometry file.
TEST(GeometryFile, ReadsBackWhatTheWriterStores) {
    initTetrahederLookupTableRec();
    CapturedLog quiet;
    for (const char* name : {"sphere", "icosahedron.mvh", "icosphere1-keyframes3.mvh", "icosphere2.mvh"}) {
        SCOPED_TRACE(name);
        Source source;
        if (std::string(name) == "sphere")
            makeSphereHierarchy(source.object, {2, 1, true});
        else
            ASSERT_TRUE(source.object.read(testDataPath(name))) << source.object.lastError();
        ASSERT_TRUE(prepare(source));
        const std::string path = tempPath(std::string(name) + ".mv3");
        std::string error;
        ASSERT_TRUE(writeGeometryFile(path, source.object, source.tree, 2, error)) << error;
        GeometryFileContents read;
        ASSERT_TRUE(readGeometryFile(path, uint32_t(source.tree.atlases.size()), read, error)) << error;
        expectSameAsWritten(source, read);

        ASSERT_TRUE(writeTexturesFile(texturesFileForGeometry(path), std::vector<uint8_t>(33, 0),
                                      blankAtlases(source.tree), false, error))
            << error;
        GeometryFileContents again;
        ASSERT_TRUE(readGeometryFile(path, again, error)) << error;
        EXPECT_EQ(again.tree.inum(), read.tree.inum());
    }
}

// The smallest file: no geometry and no impostors, byte for byte.
TEST(GeometryFile, EmptyFileGoldenBytes) {
    const std::vector<uint8_t> bytes = {
        0x01, 0x00, 0x00, 0x00,                                                 // compression 1
        0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40, // centre (1, 2, 3)
        0x00, 0x00, 0x80, 0x40,                                                 // radius 4
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0, // no vertices ... impostors
        0xFF, 0xFF, 0xFF, 0xFF};                     // no root
    GeometryFileContents read;
    std::string error;
    ASSERT_TRUE(readGeometryBytes(bytes.data(), bytes.size(), 0, read, error)) << error;
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(read.compression, 1u);
    EXPECT_TRUE(read.sphere.x == 1 && read.sphere.y == 2 && read.sphere.z == 3 && read.sphere.r == 4);
    EXPECT_EQ(read.tree.root, MTImpostor::kNoParent);
}

TEST(GeometryFile, TexturesFileNameReplacesTheEnding) {
    EXPECT_EQ(texturesFileForGeometry("models/a.mv3"), "models/a.mv2");
    EXPECT_EQ(texturesFileForGeometry("a.mv3.mv3"), "a.mv3.mv2");
    EXPECT_EQ(texturesFileForGeometry("a.mv3.old"), "");
    EXPECT_EQ(texturesFileForGeometry("mv3"), "");
}

// Offsets of the sphere hierarchy's geometry file, from its counts.
struct Layout {
    std::vector<uint8_t> bytes;
    uint32_t vnum = 0, tnum = 0, nnum = 0, anum = 0, inum = 0, atlases = 0;
    size_t vnumAt = 20, tnumAt = 0, nnumAt = 0, anumAt = 0, inumAt = 0, rootAt = 0;
    std::vector<size_t> impostorAt;
    std::vector<uint32_t> children; // per impostor

    size_t childAt(uint32_t i, uint32_t k) const { return impostorAt[i] + 101 + 4 * k; }
    size_t parentAt(uint32_t i) const { return childAt(i, children[i]); }
    size_t atlasAt(uint32_t i) const { return parentAt(i) + 4; }
    void put(size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }
    void putFloat(size_t at, float value) { std::memcpy(bytes.data() + at, &value, 4); }
};

Layout sphereLayout() {
    CapturedLog quiet;
    Source source;
    makeSphereHierarchy(source.object, {2, 1, true});
    Layout l;
    if (!prepare(source)) return l;
    const VLODObject3D& o = source.object;
    l.bytes = geometryFileBytes(o, source.tree, 0);
    l.vnum = o.vnum(), l.tnum = o.tnum(), l.nnum = o.nnum(), l.anum = o.anum(), l.inum = source.tree.inum();
    l.atlases = uint32_t(source.tree.atlases.size());
    l.tnumAt = l.vnumAt + 4 + 24 * size_t(l.vnum);
    l.nnumAt = l.tnumAt + 4 + 12 * size_t(l.tnum);
    l.anumAt = l.nnumAt + 4 + 8 * size_t(l.nnum);
    l.inumAt = l.anumAt + 4 + 8 * size_t(l.anum);
    size_t at = l.inumAt + 4;
    for (const MTImpostor& q : source.tree.impostors) {
        l.impostorAt.push_back(at);
        l.children.push_back(uint32_t(q.children.size()));
        at += 109 + 4 * q.children.size();
    }
    l.rootAt = at;
    return l;
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

TEST(GeometryFile, EveryTruncationIsRefused) {
    const Layout l = sphereLayout();
    ASSERT_FALSE(l.bytes.empty());
    GeometryFileContents read;
    std::string error;
    ASSERT_TRUE(readGeometryBytes(l.bytes.data(), l.bytes.size(), l.atlases, read, error)) << error;
    for (size_t cut = 0; cut < l.bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        expectRefused(std::vector<uint8_t>(l.bytes.begin(), l.bytes.begin() + long(cut)), l.atlases,
                      "geometry file");
    }
}

// Values on both sides of each limit: the first fault is refused, the
// largest valid value beside it is read.
TEST(GeometryFile, InconsistentRecordsAreRefused) {
    const Layout source = sphereLayout();
    ASSERT_GT(source.inum, 2u);
    const uint32_t huge = std::numeric_limits<uint32_t>::max();
    auto valueAt = [&](size_t at) {
        uint32_t value = 0;
        std::memcpy(&value, source.bytes.data() + at, 4);
        return value;
    };
    const uint32_t root = valueAt(source.rootAt);
    ASSERT_LT(root, source.inum);
    const uint32_t other = root == 0 ? 1 : 0;
    // A leaf impostor: its first child is a node reference.
    uint32_t leaf = 0;
    while (leaf < source.inum &&
           (source.children[leaf] == 0 || valueAt(source.childAt(leaf, 0)) < source.inum))
        ++leaf;
    ASSERT_LT(leaf, source.inum);
    struct Case {
        const char* name;
        std::function<void(Layout&)> damage, limit; // limit: the valid value next to the fault (may be empty)
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"vertex count", [](Layout& l) { l.put(l.vnumAt, huge); }, nullptr,
         "too short for its 4294967295 vertices"},
        {"triangle count", [](Layout& l) { l.put(l.tnumAt, huge / 12); }, nullptr, "triangles"},
        {"impostor count", [](Layout& l) { l.put(l.inumAt, huge / 2); }, nullptr, "impostors"},
        {"children count", [](Layout& l) { l.put(l.impostorAt[0] + 97, huge); }, nullptr,
         "too short for impostor 0"},
        {"vertex index", [](Layout& l) { l.put(l.tnumAt + 4, l.vnum); },
         [](Layout& l) { l.put(l.tnumAt + 4, l.vnum - 1); }, "triangle 0 refers to vertex"},
        {"arc patch", [](Layout& l) { l.put(l.anumAt + 8, l.tnum); },
         [](Layout& l) { l.put(l.anumAt + 8, l.tnum - 1); }, "patch of arc 0"},
        {"arc patch overflow", [](Layout& l) { l.put(l.anumAt + 4, huge), l.put(l.anumAt + 8, 2); }, nullptr,
         "patch of arc 0"},
        {"node arcs", [](Layout& l) { l.put(l.nnumAt + 4, l.anum + 1); },
         [](Layout& l) { l.put(l.nnumAt + 4, l.anum); }, "arcs of node 0"},
        {"atlas", [](Layout& l) { l.put(l.atlasAt(0), l.atlases); },
         [](Layout& l) { l.put(l.atlasAt(0), l.atlases - 1); }, "in atlas"},
        {"node reference", [&](Layout& l) { l.put(l.childAt(leaf, 0), l.inum + l.nnum); },
         [&](Layout& l) { l.put(l.childAt(leaf, 0), l.inum + l.nnum - 1); }, "refers to node"},
        {"parent range", [&](Layout& l) { l.put(l.parentAt(root), l.inum); }, nullptr, "has parent"},
        {"root given a parent", [&](Layout& l) { l.put(l.parentAt(root), other); }, nullptr,
         "not among the children"},
        {"cycle to the root", [&](Layout& l) { l.put(l.childAt(leaf, 0), root); }, nullptr,
         "not its child alone"},
        {"child listed twice", [&](Layout& l) { l.put(l.childAt(root, 0), valueAt(l.childAt(root, 1))); },
         nullptr, "not its child alone"},
        {"root", [](Layout& l) { l.put(l.rootAt, l.inum); }, nullptr, "root impostor"},
        {"non-finite sphere", [](Layout& l) { l.putFloat(16, std::numeric_limits<float>::infinity()); },
         nullptr, "bounding sphere"},
        {"trailing byte", [](Layout& l) { l.bytes.push_back(0); }, nullptr, "1 bytes after"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Layout damaged = source;
        c.damage(damaged);
        expectRefused(damaged.bytes, source.atlases, c.expected);
        if (!c.limit) continue;
        Layout atLimit = source;
        c.limit(atLimit);
        GeometryFileContents read;
        std::string error;
        EXPECT_TRUE(
            readGeometryBytes(atLimit.bytes.data(), atLimit.bytes.size(), source.atlases, read, error))
            << error;
    }
}

TEST(GeometryFile, FilesWithoutTheEndingOrTheirTexturesAreRefused) {
    CapturedLog quiet;
    Source source;
    makeSphereHierarchy(source.object, {1, 1, true});
    ASSERT_TRUE(prepare(source));
    std::string error;
    for (const char* name : {"plain.mv3.bak", "plain"}) {
        const std::string path = tempPath(name);
        ASSERT_TRUE(writeGeometryFile(path, source.object, source.tree, 0, error)) << error;
        GeometryFileContents read;
        EXPECT_FALSE(readGeometryFile(path, 100, read, error));
        EXPECT_NE(error.find("does not end in .mv3"), std::string::npos) << error;
    }
    const std::string path = tempPath("no-textures.mv3");
    ASSERT_TRUE(writeGeometryFile(path, source.object, source.tree, 0, error)) << error;
    GeometryFileContents read;
    EXPECT_FALSE(readGeometryFile(path, read, error));
    EXPECT_NE(error.find("no-textures.mv2"), std::string::npos) << error;
    EXPECT_FALSE(readGeometryFile(tempPath("missing.mv3"), 100, read, error));
    EXPECT_NE(error.find("missing.mv3"), std::string::npos) << error;
    EXPECT_TRUE(read.empty());
}
} // namespace
