// Counting on two threads gives what counting on one gives, batch after
// batch, whatever the batch sizes and however the two threads interleave.

#include "MeshTestSupport.h"
#include "StripCountWorker.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <random>
#include <span>

namespace {
TEST(StripCountWorkerTest, CountsMatchOneThreadOverManyBatches) {
    MORVA_SKIP_WITHOUT_DRAGON();
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(dragonPath("dragon_vrip_res4.ply"))) << mesh.lastError();
    std::vector<uint32_t> tris;
    for (const VTriangle& t : mesh.triangles) tris.insert(tris.end(), t.v, t.v + 3);
    StripCountWorker worker;
    VTriStripLocalOptimizer reference;
    std::mt19937 random(11);
    std::uniform_int_distribution<size_t> listsOf(0, 6), sizeOf(1, 300), startOf(0, tris.size() / 3 - 301);
    for (int batch = 0; batch < 3000; ++batch) {
        std::vector<std::span<const uint32_t>> lists(listsOf(random));
        for (auto& list : lists) list = std::span<const uint32_t>(tris).subspan(3 * startOf(random), 3 * sizeOf(random));
        std::vector<size_t> counts(lists.size(), 0);
        worker.countAll(lists, counts);
        for (size_t k = 0; k < lists.size(); ++k)
            ASSERT_EQ(counts[k], reference.countStripIndices(lists[k])) << "batch " << batch << ", list " << k;
    }
}

// Batches far apart let the helper fall asleep; the next batch must wake it
// (or be counted without it), and destroying an idle worker must not hang.
TEST(StripCountWorkerTest, BatchesAfterAPauseAndAnIdleDestruction) {
    const std::vector<uint32_t> fan = {0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 5};
    const size_t expected = VTriStripLocalOptimizer().countStripIndices(fan);
    StripCountWorker worker, unused;
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        std::vector<std::span<const uint32_t>> lists(3, std::span<const uint32_t>(fan));
        std::vector<size_t> counts(3, 0);
        worker.countAll(lists, counts);
        EXPECT_EQ(counts, std::vector<size_t>(3, expected));
    }
}
} // namespace
