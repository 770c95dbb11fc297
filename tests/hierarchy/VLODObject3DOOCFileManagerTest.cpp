// The out-of-core file manager on the sample sphere hierarchies: what it
// reads back, which nodes it deletes when, its temporary file, and which
// nodes it fetches ahead.
//
// icosphere2: drain 0; source 1 --20 arcs--> level-0 nodes 2..21, each
// --4 arcs--> level-1 nodes, each --1 arc of 4 triangles--> drain.

#include "VLODObject3DOOCFileManager.h"
#include "QuantizedNormal.h"
#include "SelectionViews.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Nodes = std::vector<uint32_t>;

namespace {
class OutOfCore : public ::testing::Test {
  protected:
    void SetUp() override { open("icosphere2.mvh"); }
    void open(const char* name) {
        ASSERT_TRUE(object.read(testDataPath(name))) << object.lastError();
        std::string error;
        ASSERT_TRUE(manager.start(object, error)) << error;
    }
    bool use(uint32_t node) { // draws the node's first patch
        uint32_t count = 0;
        return manager.arcCorners(object.narray[node].out, count) != nullptr;
    }
    Nodes loaded() const {
        Nodes nodes;
        for (uint32_t n = 0; n < object.nnum(); ++n)
            if (manager.isLoaded(n)) nodes.push_back(n);
        return nodes;
    }
    Nodes children(uint32_t node) const {
        Nodes nodes;
        for (uint32_t a = object.narray[node].out; a < object.narray[node].out + object.narray[node].onum;
             ++a)
            nodes.push_back(object.aarray[a].dest);
        return nodes;
    }
    void expectCornersOfObject() {
        for (uint32_t a = 0; a < object.anum(); ++a) {
            uint32_t count = 0;
            const float* c = manager.arcCorners(a, count);
            ASSERT_TRUE(c && count == 3 * object.aarray[a].tnum) << "arc " << a;
            for (uint32_t k = 0; k < count; ++k, c += 6) {
                const MTVertex& v = object.varray[object.tarray[object.aarray[a].tstart + k / 3].v[k % 3]];
                const Vec3f p = v.path->evaluate(0), n = dequantizeNormal(v.normal);
                EXPECT_EQ((std::array<float, 6>{c[0], c[1], c[2], c[3], c[4], c[5]}),
                          (std::array<float, 6>{p.x, p.y, p.z, n.x, n.y, n.z}))
                    << "arc " << a << ", corner " << k;
            }
        }
    }
    CapturedLog log;
    VLODObject3D object;
    VLODObject3DOOCFileManager manager;
};

// The second sample's vertices move: only time 0 is drawn.
TEST_F(OutOfCore, EveryArcReadsBackItsCornersAlsoAfterReloading) {
    for (const char* name : {"icosphere2.mvh", "icosphere1-keyframes3.mvh"}) {
        SCOPED_TRACE(name);
        open(name);
        expectCornersOfObject();
        // Every triangle lies in one arc; every node but the drain has arcs.
        EXPECT_EQ(manager.statistics().residentBytes, uint64_t(object.tnum()) * 3 * 24);
        EXPECT_EQ(manager.statistics().loadedNodes, object.nnum() - 1);
        manager.nextFrame();
        manager.deleteNodesOlderThan(manager.currentFrame());
        EXPECT_EQ(manager.statistics().residentBytes, 0u);
        expectCornersOfObject();
        EXPECT_EQ(manager.statistics().loads, 2u * (object.nnum() - 1));
    }
}

TEST_F(OutOfCore, DeletesOnlyNodesWhoseLastUseIsOld) {
    const uint32_t a = 2, b = 3, c = 4, d = 5;
    ASSERT_TRUE(use(a) && use(b));
    manager.nextFrame(); // 1
    ASSERT_TRUE(use(c) && use(a));
    manager.nextFrame(); // 2
    manager.deleteNodesOlderThan(0);
    EXPECT_EQ(loaded(), (Nodes{a, b, c}));
    manager.deleteNodesOlderThan(1); // a's pair of frame 0 is outdated by its use in frame 1
    EXPECT_EQ(loaded(), (Nodes{a, c}));

    // In frame 2: c drawn, d only fetched, b drawn again. A limit past the
    // current frame takes every node not drawn in it, and none twice.
    ASSERT_TRUE(use(c));
    manager.prefetch({d});
    ASSERT_TRUE(use(b));
    EXPECT_EQ(loaded(), (Nodes{a, b, c, d}));
    for (int pass = 0; pass < 2; ++pass) {
        manager.deleteNodesOlderThan(3);
        EXPECT_EQ(loaded(), (Nodes{b, c}));
        EXPECT_EQ(manager.statistics().deletions, 3u); // b, a, d
    }
    // d, deleted in this frame and drawn again in it, goes once unused.
    ASSERT_TRUE(use(d));
    manager.nextFrame();
    manager.deleteNodesOlderThan(manager.currentFrame());
    EXPECT_EQ(loaded(), Nodes{});
    EXPECT_EQ(manager.statistics().loadedNodes, 0u);

    manager.reset();
    EXPECT_EQ(manager.statistics().deletions, 0u);
    ASSERT_TRUE(use(b));
    manager.nextFrame();
    manager.deleteNodesOlderThan(manager.currentFrame());
    EXPECT_EQ(loaded(), Nodes{});
}

TEST_F(OutOfCore, TheTemporaryFileLivesFromStartToRelease) {
    const fs::path file = manager.temporaryFileName();
    EXPECT_TRUE(fs::equivalent(file.parent_path(), fs::temp_directory_path()));
    EXPECT_EQ(fs::file_size(file), uint64_t(object.tnum()) * 3 * 24);
    VLODObject3DOOCFileManager second;
    std::string error;
    ASSERT_TRUE(second.start(object, error)) << error;
    EXPECT_NE(second.temporaryFileName(), file.string());

    fs::resize_file(file, 0); // reads fail, and load nothing
    EXPECT_FALSE(use(2) || use(2));
    EXPECT_EQ(manager.statistics().readFailures, 2u);
    EXPECT_EQ(manager.statistics().loadedNodes, 0u);

    manager.release();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(use(2));
}

TEST_F(OutOfCore, AFailedStartLeavesNoFileBehind) {
    manager.release();
    const fs::path dir = fs::temp_directory_path() / ("morva-ooc-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const char* set = std::getenv("TMPDIR");
    const std::string old = set ? set : "";
    std::string error;
    // Files may not grow past 1000 bytes: the writing fails half way.
    setenv("TMPDIR", dir.c_str(), 1);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{}, limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    limit = oldLimit;
    limit.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_FALSE(manager.start(object, error));
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(error.find("could not write"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(dir));
    // Nowhere to make it.
    setenv("TMPDIR", "/nonexistent/morva", 1);
    EXPECT_FALSE(manager.start(object, error));
    set ? setenv("TMPDIR", old.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_NE(error.find("temporary"), std::string::npos) << error;
    // An arc that its source does not list.
    --object.narray[1].onum;
    EXPECT_FALSE(manager.start(object, error));
    EXPECT_EQ(error, "arc 19 is not among the outgoing arcs of its source node");
    EXPECT_FALSE(manager.started());
    fs::remove_all(dir);
}

TEST_F(OutOfCore, PrefetchChoosesNeighboursInTheGraph) {
    const uint32_t level0 = 2;
    const Nodes below = children(level0);
    EXPECT_EQ(manager.prefetchNodes(0, {level0}, nullptr), Nodes{});

    // k = 1: one step up and one down, never the drain, the cut or a node twice.
    Nodes expected = below;
    expected.insert(expected.begin(), 1);
    EXPECT_EQ(manager.prefetchNodes(1, {level0}, nullptr), expected);
    EXPECT_EQ(manager.prefetchNodes(1, {below[0], below[1]}, nullptr), Nodes{level0});
    expected = children(1);
    std::erase(expected, level0);
    expected.insert(expected.end(), below.begin(), below.end());
    EXPECT_EQ(manager.prefetchNodes(1, {1, level0}, nullptr), expected);

    // Direction: the children the predicted view would refine.
    const SelectionView far = viewFrom(1e6, 1, 1000), near = viewFrom(2, 0.01, 1000);
    EXPECT_EQ(manager.prefetchNodes(2, {1}, nullptr), Nodes{});
    EXPECT_EQ(manager.prefetchNodes(2, {1}, &far), Nodes{});
    EXPECT_EQ(manager.prefetchNodes(2, {1, level0}, &near), expected);
    manager.prefetch(expected);
    EXPECT_EQ(loaded(), expected);
}
} // namespace
