// The texture depot's loader thread against the drawing thread: requests
// served smallest first, textures no longer needed dropped, and many
// updates racing the loader leaving exactly what the last one asked for.
// No OpenGL: the loader only reads files (run it under ThreadSanitizer).

#include "SmallTexturesFile.h"
#include "VTextureDepot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

namespace {
// Waits up to five seconds for the condition.
template <typename Condition> bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Smallest first, what is no longer asked for dropped; then many updates
// racing the loader.
TEST(TextureDepot, LoadsWhatIsNeededDropsTheRestAndFollowsTheLastRequest) {
    CapturedLog log;
    const std::string file = smallTexturesFile(0);
    VTextureDepot depot;
    ASSERT_TRUE(depot.start(file));
    depot.update({0, 1, 2});
    ASSERT_TRUE(eventually([&] { return depot.delivered(0) && depot.delivered(1) && depot.delivered(2); }));
    EXPECT_EQ(depot.totalSize(), 3 * 2048u);
    EXPECT_EQ(depot.queued(), 0u);
    depot.update({1, 6});
    EXPECT_FALSE(depot.delivered(0));
    EXPECT_FALSE(depot.delivered(2));
    ASSERT_TRUE(eventually([&] { return depot.delivered(6); }));
    EXPECT_EQ(depot.totalSize(), 2048u + 64 * 64 * 32);

    std::mt19937 random(3);
    std::set<uint32_t> last;
    for (int round = 0; round < 3000; ++round) {
        last.clear();
        for (uint32_t index = 0; index < 7; ++index)
            if (random() % 2) last.insert(index);
        depot.update(last);
        if (round % 7 == 0) std::this_thread::yield();
    }
    // Loads of older requests still in flight must not be delivered.
    ASSERT_TRUE(eventually([&] {
        for (uint32_t index : last)
            if (!depot.delivered(index)) return false;
        return true;
    }));
    for (uint32_t index = 0; index < 7; ++index) EXPECT_EQ(depot.delivered(index), last.count(index) == 1) << index;
    // Stopping while requests are queued ends the thread cleanly and drops everything.
    depot.update({0, 1, 2, 3, 4, 5, 6});
    depot.stop();
    EXPECT_EQ(depot.queued(), 0u);
    EXPECT_EQ(depot.totalSize(), 0u);
}

TEST(TextureDepot, MissingFileStartsNoLoader) {
    CapturedLog log;
    VTextureDepot depot;
    EXPECT_FALSE(depot.start(tempPath("no-such.mv2")));
    EXPECT_NE(log.err().find("Error using VTextureDepot!\nThe file \""), std::string::npos);
    depot.update({0});
    EXPECT_EQ(depot.queued(), 1u); // queued, but nobody loads it
}
} // namespace
