// Damaged and hostile hierarchy files: each must be refused with one message
// that names the failed check, leaving the object empty.

#include "QuantizedNormal.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

namespace {
constexpr size_t kHeaderSize = 60;
constexpr size_t kStaticVertexBytes = 13 + 13 + 2;
constexpr size_t kTriangleBytes = 18;

class CorruptHierarchyFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initTetrahederLookupTableRec(); }

    std::vector<uint8_t> bytesOf(const VLODObject3D& object) {
        const std::string path = tempPath("corrupt-source.mvh");
        EXPECT_TRUE(object.write(path));
        return readBytes(path);
    }

    // Reads bytes expecting a refusal whose one error line holds expected.
    void expectRefused(const std::vector<uint8_t>& bytes, const std::string& expected) {
        CapturedLog log;
        VLODObject3D object;
        EXPECT_FALSE(object.readFromMemory(bytes.data(), bytes.size(), "corrupt"));
        EXPECT_NE(object.lastError().find(expected), std::string::npos)
            << "expected '" << expected << "' in '" << object.lastError() << "'";
        EXPECT_EQ(log.err(), object.lastError() + "\n");
        expectEmpty(object);
    }

    static void expectEmpty(const VLODObject3D& object) {
        EXPECT_EQ(object.vnum() + object.tnum() + object.pnum() + object.nnum() + object.anum(), 0u);
        EXPECT_TRUE(object.in_arcs.empty());
        EXPECT_TRUE(object.fileName().empty());
    }
};
} // namespace

// Every truncation into one object, which afterwards reads the whole file;
// another object read before is not disturbed.
TEST_F(CorruptHierarchyFile, EveryTruncationIsRefused) {
    CapturedLog log;
    VLODObject3D kept, object;
    ASSERT_TRUE(kept.read(testDataPath("icosphere2.mvh")));
    for (const char* name : {"icosahedron.mvh", "icosphere1-keyframes3.mvh"}) {
        const std::vector<uint8_t> whole = readBytes(testDataPath(name));
        ASSERT_GT(whole.size(), kHeaderSize);
        for (size_t size = 0; size < whole.size(); ++size) {
            CapturedLog cut;
            ASSERT_FALSE(object.readFromMemory(whole.data(), size, "cut")) << name << " " << size;
            expectEmpty(object);
            EXPECT_FALSE(object.lastError().empty()) << size;
            // Below the identifier the file is simply not ours; past it, one message.
            const std::string err = cut.err();
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), size < 16 ? 0 : 1) << name << " " << size;
        }
        EXPECT_TRUE(object.readFromMemory(whole.data(), whole.size(), "whole")) << object.lastError();
    }
    EXPECT_EQ(kept.tnum(), 420u);
}

// Damage to the bytes of the sample files, and the message its refusal must hold.
TEST_F(CorruptHierarchyFile, DamagedBytesAreRefusedNamingTheRecord) {
    using Bytes = std::vector<uint8_t>;
    auto putU32 = [](Bytes& bytes, size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); };
    // icosahedron.mvh: 12 static vertices, 20 triangles, no surfels, then the drain's 36 bytes.
    const size_t node1 = kHeaderSize + kStaticVertexBytes * 12 + kTriangleBytes * 20 + 36;
    // icosphere2.mvh: surfel 21 is the first of the last level, standing for one node.
    VLODObject3D sphere;
    makeSphereHierarchy(sphere, {2, 1, true});
    ASSERT_EQ(sphere.parray[21].mt_children.size(), 1u);
    ASSERT_EQ(sphere.narray[2].onum, 4u); // a first-level node, with four arcs
    size_t child = kHeaderSize + kStaticVertexBytes * sphere.vnum() + kTriangleBytes * sphere.tnum() + 26;
    for (uint32_t s = 0; s < 21; ++s) child += 26 + 4 * sphere.parray[s].mt_children.size();

    struct Case {
        const char* file;
        std::function<void(Bytes&)> damage;
        std::string expected;
    };
    std::vector<Case> cases = {
        // Past the header's own bound, so that the records themselves run out.
        {"icosphere1-keyframes3.mvh", [](Bytes& b) { b.resize(b.size() - 10); }, "arc 39: unexpected end of file"},
        // 42 vertices of 66 bytes after the header, then 18-byte triangles.
        {"icosphere1-keyframes3.mvh", [](Bytes& b) { b.resize(kHeaderSize + 42 * 66 + 70 * kTriangleBytes + 5); },
         "triangle 70: unexpected end of file"},
        // A count inside a record: a node claiming 65535 error values.
        {"icosahedron.mvh", [&](Bytes& b) { b[node1 + 8] = b[node1 + 9] = 0xff; }, "node 1: unexpected end of file"},
        {"icosahedron.mvh", [](Bytes& b) { b[kHeaderSize] = 3; }, "vertex 0: position: unknown path type 3 (path != NULL)"},
        {"icosahedron.mvh", [](Bytes& b) { b[kHeaderSize + kStaticVertexBytes + 13] = 0; },
         "vertex 1: normal: unknown path type 0 (npath != NULL)"},
        {"icosphere2.mvh", [&](Bytes& b) { putU32(b, child, 0); }, "surfel 21: *it > 0 failed"},
        {"icosphere2.mvh", [&](Bytes& b) { putU32(b, child, 2); }, "surfel 21: narray[*it].onum == 1 failed for node 2"},
        {"icosphere2.mvh", [&](Bytes& b) { putU32(b, child, 102); }, "surfel 21: child node 102 out of range"},
    };
    // Counts the file cannot hold fail before anything is allocated.
    for (size_t field = 0; field < 5; ++field)
        cases.push_back({"icosahedron.mvh", [&, field](Bytes& b) { putU32(b, 16 + 4 * field, 0xffffffffu); },
                         "header counts"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        Bytes bytes = readBytes(testDataPath(c.file));
        c.damage(bytes);
        const auto start = std::chrono::steady_clock::now();
        expectRefused(bytes, c.expected);
        // Refusing must not depend on a claimed size; generous bound for slow machines.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
}

// A sphere hierarchy (depth 2 with surfels unless a case says otherwise)
// changed before writing, and the message its refusal must hold.
TEST_F(CorruptHierarchyFile, DamagedContentIsRefusedNamingTheCheck) {
    using Object = VLODObject3D;
    struct Case {
        const char* expected;
        void (*damage)(Object&);
        SphereHierarchyOptions options = {2, 1, true};
    };
    const Case cases[] = {
        {"parent links form a loop", [](Object& o) { o.parray[3].parent = 5, o.parray[5].parent = 3; }},
        // A graph without a drain or with dead ends.
        {"drain_node != UINT_MAX failed", [](Object& o) { o.narray[0].onum = 1; }},
        {"node 5: narray[i].onum failed", [](Object& o) { o.narray[5].onum = 0; }, {1, 1, false}},
        // Indices out of range; the sums of a start and a count would wrap in 32 bits.
        {"node 3: aindex < anum failed", [](Object& o) { o.narray[3].out = 0xfffffffeu; }},
        {"triangle 7: vertex index 162 out of range", [](Object& o) { o.tarray[7].v[2] = o.vnum(); }},
        {"triangle 7: arc index 180 out of range", [](Object& o) { o.tarray[7].arc = o.anum(); }},
        {"arc 9: node index out of range", [](Object& o) { o.aarray[9].dest = o.nnum(); }},
        {"arc 9: node index out of range", [](Object& o) { o.aarray[9].source = 0xffffffffu; }},
        {"arc 9: triangles", [](Object& o) { o.aarray[9].tstart = o.aarray[9].tnum = 0x80000000u; }},
        // An arc turned round so that it leaves the drain, which owns no arcs;
        // an arc beyond every node's range.
        {"node 12: arc 30 in its range leaves node 0",
         [](Object& o) { std::swap(o.aarray[30].source, o.aarray[30].dest); }, {1, 3, true}},
        {"arc 180: not among the outgoing arcs of its source node", [](Object& o) { o.aarray.push_back(o.aarray.back()); }},
        // Node 2 refines into nodes 22..25, one of which is sent back up to node 2.
        {"Hierarchy contains at least one loop!",
         [](Object& o) { o.aarray[o.narray[o.aarray[o.narray[2].out].dest].out].dest = 2; }, {2, 1, false}},
        // Unusable values.
        {"vertex 3: quantized normal 40000 out of range", [](Object& o) { o.varray[3].normal = 40000; }},
        {"surfel 2: quantized normal 32768 out of range", [](Object& o) { o.parray[2].normal = 32768; }},
        {"triangle 1: quantized normal", [](Object& o) { o.tarray[1].normal = 65535; }},
        {"node 1: quantized normal", [](Object& o) { o.narray[1].coneaxis = 50000; }},
        {"surfel 6: coordinate is not a finite number",
         [](Object& o) { o.parray[6].z = -std::numeric_limits<float>::infinity(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        VLODObject3D object;
        makeSphereHierarchy(object, c.options);
        c.damage(object);
        expectRefused(bytesOf(object), c.expected);
    }
}

// The fuzzer's seeds, and inputs it once broke the reader with.
TEST_F(CorruptHierarchyFile, SeedCorpusIsReadOrRefusedCleanly) {
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testDataPath("fuzz-seeds"))) {
        CapturedLog log;
        std::vector<uint8_t> bytes = readBytes(entry.path().string());
        VLODObject3D object;
        if (object.readFromMemory(bytes.data(), bytes.size(), "seed")) {
            for (const MTNode& n : object.narray) EXPECT_TRUE(std::isfinite(n.sphere.r)) << entry.path();
            EXPECT_TRUE(object.mBoundingSphere.contains(object.narray[object.mDrainNode].sphere));
            // What was accepted and derived must also be written back readable.
            VLODObject3D again;
            const std::vector<uint8_t> written = bytesOf(object);
            EXPECT_TRUE(again.readFromMemory(written.data(), written.size(), "again"))
                << entry.path() << ": " << again.lastError();
        } else {
            expectEmpty(object);
            EXPECT_FALSE(object.lastError().empty()) << entry.path();
        }
        ++files;
    }
    EXPECT_GE(files, 10u);
}
