#include "ByteStream.h"
#include "QuantizedNormal.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {
class HierarchyFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initTetrahederLookupTableRec(); }

    // Writes object and reads it into a fresh one; the log is kept for checks.
    bool writeAndRead(const VLODObject3D& object, VLODObject3D& back, const std::string& name,
                      bool strips = false) {
        const std::string path = tempPath(name);
        EXPECT_TRUE(object.write(path));
        return back.read(path, strips);
    }
    CapturedLog mLog;
};

std::vector<uint8_t> bytesOf(const VVertex& path) {
    ByteWriter out;
    path.write(out);
    return out.data();
}

// The records of a and b agree in what key picks from them.
template <typename Records, typename Key>
void expectSameRecords(const Records& a, const Records& b, Key key, const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(key(a[i]), key(b[i])) << what << " " << i;
}

// Everything the file stores that reading does not derive anew.
void expectSameStoredContent(const VLODObject3D& a, const VLODObject3D& b) {
    EXPECT_EQ(a.m_source_nnum, b.m_source_nnum);
    EXPECT_EQ(a.mReservedCount, b.mReservedCount);
    expectSameRecords(a.varray, b.varray, [](const MTVertex& v) { return bytesOf(*v.path); }, "vertex");
    expectSameRecords(a.tarray, b.tarray, [](const MTTriangle& t) { return std::tuple(t.v[0], t.v[1], t.v[2], t.arc); },
                      "triangle");
    expectSameRecords(a.parray, b.parray, [](const MTSurfel& p) {
        return std::tuple(p.x, p.y, p.z, p.normal, p.reserved, p.parent, p.mt_children);
    }, "surfel");
    expectSameRecords(a.narray, b.narray, [](const MTNode& n) { return std::tuple(n.out, n.onum, n.error); }, "node");
    expectSameRecords(a.aarray, b.aarray, [](const MTArc& r) { return std::tuple(r.source, r.dest, r.tnum, r.tstart); },
                      "arc");
}

bool holdsDirection(const NormalCone& cone, const Vec3d& n) {
    return angleOfCosine(dot(cone.axis, n)) <= cone.angle + 1e-4;
}

// One right triangle as the whole model: a source with one arc into the
// drain, and one surfel standing for the source's sub-graph. The writer's
// layout is held by the committed sample and the round trips.
const std::vector<uint8_t> kOneTriangleFile = {
    'M', 'O', 'R', 'V', 'A', '_', 'L', 'O', 'D', '_', 'M', 'T', 'F', 'I', 'L', 'E',
    3, 0, 0, 0, /**/ 1, 0, 0, 0, /**/ 1, 0, 0, 0, /**/ 2, 0, 0, 0, /**/ 1, 0, 0, 0, // vnum tnum pnum nnum anum
    1, 0, 0, 0, /**/ 0, 0, 0, 0,                                                   // source nodes, reserved
    0, 0, 0, 0x3f, /**/ 0, 0, 0, 0x3f, /**/ 0, 0, 0, 0, /**/ 0, 0, 0x40, 0x3f,    // sphere (0.5, 0.5, 0, 0.75)
    // vertices: static position, static normal path (0, 0, 1), quantized normal 7
    1, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0,
    1, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0x80, 0x3f, /**/ 7, 0,
    1, /**/ 0, 0, 0x80, 0x3f, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0,
    1, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0x80, 0x3f, /**/ 7, 0,
    1, /**/ 0, 0, 0, 0, /**/ 0, 0, 0x80, 0x3f, /**/ 0, 0, 0, 0,
    1, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0x80, 0x3f, /**/ 7, 0,
    // triangle 0 1 2 on arc 0, normal 9
    0, 0, 0, 0, /**/ 1, 0, 0, 0, /**/ 2, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 9, 0,
    // surfel at (0.25, 0.25, 0), normal 3, reserved 0, parent 1 (the root), children {1}
    0, 0, 0x80, 0x3e, /**/ 0, 0, 0x80, 0x3e, /**/ 0, 0, 0, 0, /**/ 3, 0, /**/ 0, 0, 0, 0,
    1, 0, 0, 0, /**/ 1, 0, 0, 0, /**/ 1, 0, 0, 0,
    // drain: out 0, no arcs, errors {0}, zero sphere, cone axis 0, cone angle 0
    0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 1, 0, /**/ 0, 0, 0, 0,
    0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, /**/ 0, 0, 0, 0,
    // source: out 0, one arc, errors {0.5}
    0, 0, 0, 0, /**/ 1, 0, 0, 0, /**/ 1, 0, /**/ 0, 0, 0, 0x3f,
    0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, /**/ 0, 0, 0, 0,
    // arc 1 -> 0 holding triangle 0
    1, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 1, 0, 0, 0, /**/ 0, 0, 0, 0,
};

} // namespace

TEST_F(HierarchyFile, OneTriangleReadsAndGetsItsDerivedData) {
    VLODObject3D object;
    ASSERT_TRUE(object.readFromMemory(kOneTriangleFile.data(), kOneTriangleFile.size(), "one")) << object.lastError();
    EXPECT_EQ(object.mDrainNode, 0u);
    // Right angle at vertex 0: the source's sphere sits on the hypotenuse.
    const BoundingSphere& s = object.narray[1].sphere;
    EXPECT_NEAR(length(Vec3d(s.centre()) - Vec3d(0.5, 0.5, 0)), 0, 1e-6);
    EXPECT_NEAR(s.r, std::sqrt(0.5), 1e-6);
    EXPECT_EQ(object.narray[0].sphere.r, 0);
    // The object sphere holds the drain's zero sphere at the origin and the source's sphere.
    EXPECT_NEAR(object.mBoundingSphere.r, std::sqrt(0.5), 1e-5);
    EXPECT_NEAR(object.narray[1].cone.axis.z, 1.0, 1e-3);
    EXPECT_LT(object.narray[1].cone.angle, 0.05);
    EXPECT_EQ(object.narray[1].coneaxis, quantizeNormal(Vec3f(object.narray[1].cone.axis)));
    EXPECT_EQ(object.narray[0].cone.axis, Vec3d(0, 0, 1));
    EXPECT_EQ(object.tarray[0].normal, quantizeNormal(Vec3f(0, 0, 1))); // recomputed, not the stored 9
    EXPECT_EQ(object.fileName(), "one");
}

TEST_F(HierarchyFile, CommittedSampleMatchesTheGenerator) {
    VLODObject3D object;
    makeSphereHierarchy(object, {2, 1, true});
    const std::string path = tempPath("icosphere2.mvh");
    ASSERT_TRUE(object.write(path));
    EXPECT_EQ(readBytes(path), readBytes(testDataPath("icosphere2.mvh")));
}

// Odd corners of the format, and a hierarchy of over a hundred thousand
// triangles (beyond 16-bit indices) and 27300 refining nodes.
TEST_F(HierarchyFile, RoundTripKeepsEveryStoredField) {
    VLODObject3D object, large;
    makeSphereHierarchy(object, {3, 3, true});
    // A key-frame path without keys, a static path among key-frame ones, an
    // empty error list, a reserved value.
    object.varray[4].path = std::make_unique<VKeyFrameVertex>();
    object.varray[6].path = std::make_unique<VStaticVertex>(Vec3f(0.1f, 0.2f, 0.9f));
    object.narray[7].error.clear();
    object.parray[3].reserved = 2.5f;
    object.mReservedCount = 77;
    makeSphereHierarchy(large, {6, 1, true});
    ASSERT_GT(large.tnum(), 100000u);
    VLODObject3D back, largeBack;
    ASSERT_TRUE(writeAndRead(object, back, "roundtrip.mvh")) << back.lastError();
    expectSameStoredContent(object, back);
    EXPECT_EQ(back.mKeyFrames, 3);
    EXPECT_EQ(back.mKeyFrameSpheres.size(), 3u);
    ASSERT_TRUE(writeAndRead(large, largeBack, "large.mvh")) << largeBack.lastError();
    expectSameStoredContent(large, largeBack);
    // Source, six levels of refining nodes, drain.
    EXPECT_EQ(largeBack.mNodeLayers[largeBack.mDrainNode], 7u);
    EXPECT_NEAR(largeBack.mKeyFrameSpheres[0].r, 1.0, 1e-4);
    EXPECT_NEAR(largeBack.narray[1].sphere.r, largeBack.mBoundingSphere.r, 0.05); // the source bounds nearly all

    // What the set-up derived is written and read back unchanged as well,
    // and reading with strips asked for keeps the arcs' lists as they are.
    VLODObject3D again;
    ASSERT_TRUE(writeAndRead(back, again, "roundtrip2.mvh", true)) << again.lastError();
    ASSERT_TRUE(again.write(tempPath("roundtrip3.mvh")));
    EXPECT_EQ(readBytes(tempPath("roundtrip2.mvh")), readBytes(tempPath("roundtrip3.mvh")));
}

// Strips asked for without any triangles to strip: arcs with empty patches
// from the source into the drain.
TEST_F(HierarchyFile, ReadingWithStripsAskedForWithoutTriangles) {
    VLODObject3D empty;
    empty.narray.resize(2);
    empty.narray[1].onum = 1;
    empty.aarray.resize(1);
    empty.aarray[0].source = 1;
    VLODObject3D back;
    ASSERT_TRUE(writeAndRead(empty, back, "no-triangles.mvh", true)) << back.lastError();
    EXPECT_EQ(back.tnum(), 0u);
}

TEST_F(HierarchyFile, DerivedSpheresAndConesBoundWhatIsBelowThem) {
    VLODObject3D object;
    makeSphereHierarchy(object, {4, 2, true});
    VLODObject3D h;
    ASSERT_TRUE(writeAndRead(object, h, "bounds.mvh")) << h.lastError();
    ASSERT_EQ(h.in_arcs.size(), h.nnum());
    for (uint32_t n = 0; n < h.nnum(); ++n) {
        const MTNode& node = h.narray[n];
        for (uint32_t a = node.out; a < node.out + node.onum; ++a) {
            const MTArc& arc = h.aarray[a];
            for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t) {
                for (uint32_t v : h.tarray[t].v) {
                    BoundingSphere p;
                    p.setCentre(Vec3d(h.varray[v].path->evaluate(0)));
                    EXPECT_TRUE(node.sphere.contains(p)) << "node " << n << " vertex " << v;
                }
                EXPECT_TRUE(holdsDirection(node.cone, h.triangleNormal(t, 0))) << "node " << n << " triangle " << t;
                EXPECT_TRUE(holdsDirection(arc.cone, Vec3d(dequantizeNormal(h.tarray[t].normal))));
            }
            if (arc.dest != h.mDrainNode) {
                EXPECT_TRUE(node.sphere.contains(h.narray[arc.dest].sphere)) << "node " << n;
                EXPECT_TRUE(node.cone.contains(h.narray[arc.dest].cone)) << "node " << n;
            }
        }
        EXPECT_TRUE(h.mBoundingSphere.contains(node.sphere));
    }
    // The sphere grows by a quarter per key frame: each frame's sphere is taken at its time.
    EXPECT_NEAR(h.mKeyFrameSpheres[0].r, 1.0, 0.01);
    EXPECT_NEAR(h.mKeyFrameSpheres[1].r, 1.25, 0.01);
}

TEST_F(HierarchyFile, WrongIdentifierIsRefusedQuietlyAndEmptiesTheObject) {
    const std::vector<uint8_t> bytes = readBytes(testDataPath("icosahedron.mvh"));
    VLODObject3D object;
    for (size_t i = 0; i < 16; ++i) {
        ASSERT_TRUE(object.readFromMemory(bytes.data(), bytes.size(), "good"));
        std::vector<uint8_t> changed = bytes;
        changed[i] ^= 0x20;
        EXPECT_FALSE(object.readFromMemory(changed.data(), changed.size(), "changed"));
        EXPECT_EQ(object.nnum() + object.vnum(), 0u);
        EXPECT_FALSE(object.lastError().empty());
    }
    EXPECT_TRUE(mLog.err().empty());
}

// A file that cannot be opened leaves the object as it was; the polygon
// shader set-up, while installed, runs on every read, also a failed one. An
// unwritable path fails with a message.
TEST_F(HierarchyFile, UnopenableFileLeavesTheObjectAsItWasUnwritableOneIsNamed) {
    int calls = 0;
    VLODObject3D::setPolygonShaderSetup([&calls] { ++calls; });
    VLODObject3D object;
    ASSERT_TRUE(object.read(testDataPath("icosahedron.mvh")));
    EXPECT_FALSE(object.read(tempPath("does-not-exist.mvh")));
    EXPECT_EQ(object.tnum(), 20u);
    EXPECT_NE(object.lastError().find("does-not-exist.mvh"), std::string::npos);
    VLODObject3D::setPolygonShaderSetup(nullptr);
    EXPECT_FALSE(object.read(tempPath(""))); // a directory
    EXPECT_EQ(object.tnum(), 20u);
    EXPECT_EQ(calls, 2);
    const std::string path = tempPath("no-such-dir/out.mvh");
    CapturedLog log;
    EXPECT_FALSE(object.write(path));
    EXPECT_EQ(log.err(), "Error open file: " + path + " writeable!\n");
}
