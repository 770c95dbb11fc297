// The texture cache on a textures file of known atlas sizes: eviction by
// frame of last use, forced and prefetch insertion, capacity changes and the
// bytes counted per texel in each compression mode.

#include "GLTestContext.h"
#include "SmallTexturesFile.h"
#include "SideFiles.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VTextureCache.h"

#include <gtest/gtest.h>

namespace {
class TextureCache : public ::testing::Test {
  protected:
    void SetUp() override { mFile = smallTexturesFile(0); }
    void TearDown() override { VConfiguration::mTextureCompression = 0; }
    std::string mFile;
    int mObject = 0; // stands for a hierarchy: only its address is the key
    CapturedLog mLog;
};

TEST_F(TextureCache, PrefetchingWaitsForFrameThreeAndOldEntries) {
    VTextureCache cache(3 * 2048); // room for three small atlases
    ASSERT_TRUE(cache.registerObject(&mObject, 7, mFile));
    for (int32_t i = 0; i < 3; ++i) EXPECT_TRUE(cache.prefetchTexture(&mObject, i));
    EXPECT_EQ(cache.engine().used, 3 * 2048u);
    // Frames 0 to 2: a prefetch that does not fit is refused.
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_FALSE(cache.prefetchTexture(&mObject, 3)) << frame;
        cache.nextFrame();
    }
    // Frame 3: entries of frame 0 are old enough to go.
    EXPECT_TRUE(cache.prefetchTexture(&mObject, 3));
    EXPECT_EQ(cache.engine().size(), 3u);
    EXPECT_FALSE(cache.engine().contains(0)); // the least recently used went
    // What was used in this frame or the last is never evicted by prefetching.
    cache.nextFrame();
    EXPECT_TRUE(cache.useTexture(&mObject, 1));
    EXPECT_TRUE(cache.useTexture(&mObject, 2));
    EXPECT_TRUE(cache.useTexture(&mObject, 3));
    EXPECT_FALSE(cache.prefetchTexture(&mObject, 4));
    EXPECT_TRUE(cache.engine().contains(1));
}

TEST_F(TextureCache, DrawingForcesRoomAndOversizeTexturesAreNeverKept) {
    VTextureCache cache(3 * 2048);
    ASSERT_TRUE(cache.registerObject(&mObject, 7, mFile));
    for (int32_t i = 0; i < 5; ++i) EXPECT_TRUE(cache.useTexture(&mObject, i)) << i; // frame 0: forced anyway
    EXPECT_EQ(cache.engine().size(), 3u);
    EXPECT_EQ(cache.engine().used, 3 * 2048u);
    EXPECT_EQ(cache.engine().missesThisFrame, 5u);
    EXPECT_TRUE(cache.engine().contains(4) && cache.engine().contains(3) && cache.engine().contains(2));
    // 64 x 64 x 32 bytes exceed the whole cache: refused, nothing lost.
    EXPECT_FALSE(cache.useTexture(&mObject, 6));
    EXPECT_EQ(cache.engine().size(), 3u);
    EXPECT_FALSE(cache.prefetchTexture(&mObject, 6));
    // A hit counts no miss.
    cache.nextFrame();
    EXPECT_TRUE(cache.useTexture(&mObject, 4));
    EXPECT_EQ(cache.engine().missesThisFrame, 0u);
    EXPECT_EQ(cache.engine().missesOverall, 6u);
    // An unknown object has no textures.
    int other = 0;
    EXPECT_FALSE(cache.useTexture(&other, 0));
}

TEST_F(TextureCache, ShrinkingEvictsLeastRecentlyUsedUntilTheRestFits) {
    VTextureCache cache(6 * 2048);
    ASSERT_TRUE(cache.registerObject(&mObject, 7, mFile));
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(cache.useTexture(&mObject, i));
        cache.nextFrame(); // texture i last used in frame i
    }
    EXPECT_TRUE(cache.useTexture(&mObject, 0)); // now the most recent
    cache.setCapacity(2 * 2048);
    EXPECT_EQ(cache.engine().used, 2 * 2048u);
    EXPECT_TRUE(cache.engine().contains(0));
    EXPECT_TRUE(cache.engine().contains(4));
    EXPECT_FALSE(cache.engine().contains(1));
    cache.endFrame();
    EXPECT_NE(mLog.err().find("CACHE: 0.00390625 of 0.00390625 MB filled (100%)"), std::string::npos) << mLog.err();
    EXPECT_NE(mLog.err().find("TLB: 1 known objects, 1 files open."), std::string::npos);
}

// Compression 2 keeps 16-bit codes: 8 bytes for the two sides of a texel.
TEST_F(TextureCache, QuantisedTexturesCountEightBytesATexel) {
    const std::string quantised = smallTexturesFile(2);
    VTextureCache cache(1 << 20);
    ASSERT_TRUE(cache.registerObject(&mObject, 7, quantised));
    EXPECT_TRUE(cache.useTexture(&mObject, 6));
    EXPECT_EQ(cache.engine().used, 64u * 64 * 8);
    // Prefetch requests are dropped while nothing can go and less than 1 MB is free.
    cache.prefetchTextures(&mObject, {0, 1});
    EXPECT_EQ(cache.engine().size(), 1u);
}
// Each entry leaves with the bytes it came with: a compression setting
// changed in between must not make the count wrap or the bound slip.
TEST_F(TextureCache, ChangingCompressionKeepsTheCountHonest) {
    VTextureCache cache(3 * 2048);
    ASSERT_TRUE(cache.registerObject(&mObject, 7, mFile));
    for (int32_t i = 0; i < 3; ++i) EXPECT_TRUE(cache.useTexture(&mObject, i));
    VConfiguration::mTextureCompression = 2;
    cache.nextFrame();
    for (int32_t i = 3; i < 6; ++i) EXPECT_TRUE(cache.useTexture(&mObject, i)); // evicts the first three
    EXPECT_EQ(cache.engine().used, 3 * 2048u);
    cache.setCapacity(2048);
    EXPECT_EQ(cache.engine().used, 2048u);
    cache.setCapacity(0);
    EXPECT_EQ(cache.engine().used, 0u);
}

// One object read anew with another file: its old textures go, its old file
// is closed, and the new file's textures are the ones bound.
TEST_F(TextureCache, ObjectsRegisteredAgainGetTheirNewFile) {
    VTextureCache cache(1 << 20);
    ASSERT_TRUE(cache.registerObject(&mObject, 7, mFile));
    EXPECT_TRUE(cache.useTexture(&mObject, 0));
    EXPECT_EQ(cache.engine().used, 2048u); // 8 x 8
    const std::string other = tempPath("other.mv2");
    std::string error;
    ASSERT_TRUE(writeTexturesFile(other, VConfiguration::configurationStamp(),
                                  {{16, 16, std::vector<float>(4 * 256, 0.5f), std::vector<float>(4 * 256, 0.5f)}},
                                  false, error));
    ASSERT_TRUE(cache.registerObject(&mObject, 1, other));
    EXPECT_EQ(cache.engine().size(), 0u);
    EXPECT_TRUE(cache.useTexture(&mObject, 0));
    EXPECT_EQ(cache.engine().used, 16u * 16 * 32);
    cache.unregisterObject(&mObject);
    EXPECT_EQ(cache.engine().used, 0u);
    EXPECT_FALSE(cache.useTexture(&mObject, 0));
    cache.endFrame();
    EXPECT_NE(mLog.err().find("TLB: 0 known objects, 0 files open."), std::string::npos) << mLog.err();
}
} // namespace
