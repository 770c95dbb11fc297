// The configuration stamp byte for byte, the rules that say whether a side
// file fits the current settings, vendor detection, and the normal lookup
// texture read back from OpenGL.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "QuantizedNormal.h"
#include "TestFiles.h"
#include "VConfiguration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <tuple>

namespace {
using C = VConfiguration;

void restoreDefaults() {
    C::mImpostorSizeType = 0;
    C::mImpostorHeight = C::mImpostorWidth = 16;
    C::mNumImpostors = 5;
    C::mClusterAlgorithm = 0;
    C::mPrefetchStrategy = 1;
    C::mUseATI = true;
    C::mTextureResolution = C::mTextureCompression = 0;
}

class Configuration : public ::testing::Test {
  protected:
    void SetUp() override { mSaved = C::configurationStamp(); }
    void TearDown() override {
        restoreDefaults();
        ASSERT_EQ(C::configurationStamp(), mSaved) << "the defaults are not what the tests started from";
    }
    std::vector<uint8_t> mSaved;
};

TEST_F(Configuration, StampIsThirtyThreeUnalignedBytes) {
    const std::tuple<size_t, int32_t*, int32_t> fields[] = {
        {4, &C::mImpostorSizeType, 1}, {8, &C::mImpostorHeight, 8},     {12, &C::mImpostorWidth, 32},
        {16, &C::mNumImpostors, 64},   {20, &C::mClusterAlgorithm, 3},  {25, &C::mTextureResolution, 2},
        {29, &C::mTextureCompression, 1}};
    for (const auto& [offset, field, value] : fields) *field = value;
    C::mUseATI = false;
    const std::vector<uint8_t> stamp = C::configurationStamp();
    ASSERT_EQ(stamp.size(), size_t(C::configurationSize()));
    ASSERT_EQ(stamp.size(), 33u);
    // The version 1.1f as IEEE 754 stores it, little-endian; the ATI flag one byte.
    EXPECT_EQ(std::vector<uint8_t>(stamp.begin(), stamp.begin() + 4), (std::vector<uint8_t>{0xCD, 0xCC, 0x8C, 0x3F}));
    EXPECT_EQ(stamp[24], 0);
    for (const auto& [offset, field, value] : fields) {
        int32_t stored = 0;
        std::memcpy(&stored, stamp.data() + offset, 4);
        EXPECT_EQ(stored, value) << "at byte " << offset;
    }

    // Written to a file at its position, and read back from there.
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("head", file);
    ASSERT_TRUE(C::writeConfiguration(file));
    EXPECT_EQ(std::ftell(file), 4 + 33);
    std::fseek(file, 4, SEEK_SET);
    EXPECT_TRUE(C::compareConfiguration(file));
    std::fseek(file, 10, SEEK_SET); // too few bytes left
    EXPECT_FALSE(C::compareConfiguration(file));
    std::fclose(file);
}

// A stamp made under the defaults changed by `built`, compared once
// `viewed` has changed the settings further.
TEST_F(Configuration, WhichStampsFitTheCurrentSettings) {
    struct Case {
        const char* what;
        void (*built)();
        void (*viewed)();
        bool fits;
    };
    const Case cases[] = {
        {"prefetching is not in the stamp", [] {}, [] { C::mPrefetchStrategy = 0; }, true},
        // Compression 1 and 2 are interchangeable, but not 0.
        {"compression 1 under 2", [] { C::mTextureCompression = 1; }, [] { C::mTextureCompression = 2; }, true},
        {"compression 1 under 0", [] { C::mTextureCompression = 1; }, [] { C::mTextureCompression = 0; }, false},
        {"compression 0 under 2", [] {}, [] { C::mTextureCompression = 2; }, false},
        // Size type 1 ignores width and height but not the count; size type 0 the other way round.
        {"size type 1, other width and height", [] { C::mImpostorSizeType = 1, C::mNumImpostors = 8; },
         [] { C::mImpostorWidth = 64, C::mImpostorHeight = 32; }, true},
        {"size type 1, other count", [] { C::mImpostorSizeType = 1, C::mNumImpostors = 8; },
         [] { C::mNumImpostors = 16; }, false},
        {"size type 0, other count", [] {}, [] { C::mNumImpostors = 128; }, true},
        {"size type 0, other width", [] {}, [] { C::mImpostorWidth = 32; }, false},
        {"size type 0, other height", [] {}, [] { C::mImpostorHeight = 8; }, false},
        // Every other field must match.
        {"other cluster algorithm", [] {}, [] { C::mClusterAlgorithm = 1; }, false},
        {"other size type", [] {}, [] { C::mImpostorSizeType = 1; }, false},
        {"other texture formats", [] {}, [] { C::mUseATI = false; }, false},
        {"other texture resolution", [] {}, [] { C::mTextureResolution = 1; }, false},
        {"other version", [] { C::mConfigVersion = 1.0f; }, [] { C::mConfigVersion = 1.1f; }, false},
    };
    for (const Case& c : cases) {
        restoreDefaults();
        c.built();
        const std::vector<uint8_t> stamp = C::configurationStamp();
        c.viewed();
        EXPECT_EQ(C::compareConfiguration(stamp.data(), stamp.size()), c.fits) << c.what;
    }
}

TEST(ConfigurationVendor, OnlyNvidiaTakesTheNvidiaFormats) {
    const std::pair<const char*, bool> vendors[] = {
        {"NVIDIA Corporation", false}, {"Nvidia", false}, {"nvidia", true}, // case matters
        {"ATI Technologies Inc.", true}, {"Mesa/X.org", true}};
    for (const auto& [vendor, ati] : vendors) EXPECT_EQ(C::usesATIFormats(vendor), ati) << vendor;
}

TEST(ConfigurationInit, DetectsMesaAndReadsBackTheNormalTable) {
    CapturedLog quiet;
    C::init();
    EXPECT_TRUE(C::mUseATI); // Mesa is not NVIDIA
    ASSERT_NE(C::mNormalTexture, nullptr);
    VNormalLookupTexture& texture = *C::mNormalTexture;
    texture.bind();
    GLint unit = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &unit);
    EXPECT_EQ(unit, GL_TEXTURE2_ARB);
    std::vector<float> texels(size_t(VNormalLookupTexture::kWidth) * VNormalLookupTexture::kHeight * 3, -9.0f);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGB, GL_FLOAT, texels.data());
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    for (uint32_t index : {0u, 1u, 255u, 256u, 12345u, 32767u}) {
        const Vec3f& n = dequantizeNormal(uint16_t(index));
        const float* texel = &texels[3 * size_t(index)]; // column index % 256, row index / 256
        EXPECT_LT(length(Vec3d(Vec3f(texel[0], texel[1], texel[2]) - n)), 1e-3) << index; // stored as half floats
    }
    texture.release();
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
}
} // namespace
