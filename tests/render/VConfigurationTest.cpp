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

namespace {
// Restores the settings a test changes.
class Configuration : public ::testing::Test {
  protected:
    void SetUp() override { mSaved = VConfiguration::configurationStamp(); }
    void TearDown() override {
        VConfiguration::mImpostorSizeType = 0;
        VConfiguration::mImpostorHeight = 16;
        VConfiguration::mImpostorWidth = 16;
        VConfiguration::mNumImpostors = 5;
        VConfiguration::mClusterAlgorithm = 0;
        VConfiguration::mUseATI = true;
        VConfiguration::mTextureResolution = 0;
        VConfiguration::mTextureCompression = 0;
        ASSERT_EQ(VConfiguration::configurationStamp(), mSaved) << "a test changed a setting it did not restore";
    }
    std::vector<uint8_t> mSaved;
};

template <typename T> T at(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

TEST_F(Configuration, StampIsThirtyThreeUnalignedBytes) {
    VConfiguration::mImpostorSizeType = 1;
    VConfiguration::mImpostorHeight = 8;
    VConfiguration::mImpostorWidth = 32;
    VConfiguration::mNumImpostors = 64;
    VConfiguration::mClusterAlgorithm = 3;
    VConfiguration::mUseATI = false;
    VConfiguration::mTextureResolution = 2;
    VConfiguration::mTextureCompression = 1;
    const std::vector<uint8_t> stamp = VConfiguration::configurationStamp();
    ASSERT_EQ(stamp.size(), 33u);
    EXPECT_EQ(VConfiguration::configurationSize(), 33);
    EXPECT_EQ(at<float>(stamp, 0), 1.1f);
    EXPECT_EQ(at<int32_t>(stamp, 4), 1);
    EXPECT_EQ(at<int32_t>(stamp, 8), 8);
    EXPECT_EQ(at<int32_t>(stamp, 12), 32);
    EXPECT_EQ(at<int32_t>(stamp, 16), 64);
    EXPECT_EQ(at<int32_t>(stamp, 20), 3);
    EXPECT_EQ(stamp[24], 0);
    EXPECT_EQ(at<int32_t>(stamp, 25), 2);
    EXPECT_EQ(at<int32_t>(stamp, 29), 1);
    // Little-endian: the version's bytes as IEEE 754 stores 1.1f.
    EXPECT_EQ(std::vector<uint8_t>(stamp.begin(), stamp.begin() + 4), (std::vector<uint8_t>{0xCD, 0xCC, 0x8C, 0x3F}));

    // Written to a file at its position, and read back from there.
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("head", file);
    ASSERT_TRUE(VConfiguration::writeConfiguration(file));
    EXPECT_EQ(std::ftell(file), 4 + 33);
    std::fseek(file, 4, SEEK_SET);
    EXPECT_TRUE(VConfiguration::compareConfiguration(file));
    std::fseek(file, 10, SEEK_SET); // too few bytes left
    EXPECT_FALSE(VConfiguration::compareConfiguration(file));
    std::fclose(file);
}

// Builds a stamp under some settings and compares it under others.
bool fits(void (*builtUnder)(), void (*viewedUnder)()) {
    builtUnder();
    const std::vector<uint8_t> stamp = VConfiguration::configurationStamp();
    viewedUnder();
    return VConfiguration::compareConfiguration(stamp.data(), stamp.size());
}

TEST_F(Configuration, CompressionOneAndTwoAreInterchangeableButNotZero) {
    EXPECT_TRUE(fits([] { VConfiguration::mTextureCompression = 1; }, [] { VConfiguration::mTextureCompression = 2; }));
    EXPECT_TRUE(fits([] { VConfiguration::mTextureCompression = 2; }, [] { VConfiguration::mTextureCompression = 1; }));
    EXPECT_FALSE(fits([] { VConfiguration::mTextureCompression = 1; }, [] { VConfiguration::mTextureCompression = 0; }));
    EXPECT_FALSE(fits([] { VConfiguration::mTextureCompression = 0; }, [] { VConfiguration::mTextureCompression = 2; }));
}

TEST_F(Configuration, OnlyTheSizeFieldsOfTheSizeTypeCount) {
    // Size type 1: width and height are ignored, the count is not.
    auto countOf8 = [] {
        VConfiguration::mImpostorSizeType = 1;
        VConfiguration::mNumImpostors = 8;
    };
    EXPECT_TRUE(fits(countOf8, [] {
        VConfiguration::mImpostorWidth = 64;
        VConfiguration::mImpostorHeight = 32;
    }));
    EXPECT_FALSE(fits(countOf8, [] { VConfiguration::mNumImpostors = 16; }));
    // Size type 0: the other way round.
    VConfiguration::mImpostorSizeType = 0;
    VConfiguration::mNumImpostors = 5;
    EXPECT_TRUE(fits([] {}, [] { VConfiguration::mNumImpostors = 128; }));
    EXPECT_FALSE(fits([] {}, [] { VConfiguration::mImpostorWidth = 32; }));
    EXPECT_FALSE(fits([] {}, [] { VConfiguration::mImpostorHeight = 8; }));
}

TEST_F(Configuration, EveryOtherFieldMustMatch) {
    EXPECT_TRUE(fits([] {}, [] {}));
    EXPECT_TRUE(fits([] {}, [] { VConfiguration::mPrefetchStrategy = 0; })); // not in the stamp
    VConfiguration::mPrefetchStrategy = 1;
    EXPECT_FALSE(fits([] {}, [] { VConfiguration::mClusterAlgorithm = 1; }));
    VConfiguration::mClusterAlgorithm = 0;
    EXPECT_FALSE(fits([] {}, [] { VConfiguration::mImpostorSizeType = 1; }));
    VConfiguration::mImpostorSizeType = 0;
    EXPECT_FALSE(fits([] {}, [] { VConfiguration::mUseATI = false; }));
    VConfiguration::mUseATI = true;
    EXPECT_FALSE(fits([] {}, [] { VConfiguration::mTextureResolution = 1; }));
    VConfiguration::mTextureResolution = 0;
    std::vector<uint8_t> stamp = VConfiguration::configurationStamp();
    const float otherVersion = 1.0f;
    std::memcpy(stamp.data(), &otherVersion, 4);
    EXPECT_FALSE(VConfiguration::compareConfiguration(stamp.data(), stamp.size()));
}

TEST(ConfigurationVendor, OnlyNvidiaTakesTheNvidiaFormats) {
    EXPECT_FALSE(VConfiguration::usesATIFormats("NVIDIA Corporation"));
    EXPECT_FALSE(VConfiguration::usesATIFormats("Nvidia"));
    EXPECT_TRUE(VConfiguration::usesATIFormats("nvidia")); // case matters
    EXPECT_TRUE(VConfiguration::usesATIFormats("ATI Technologies Inc."));
    EXPECT_TRUE(VConfiguration::usesATIFormats("Mesa/X.org"));
}

TEST(ConfigurationInit, DetectsMesaAndReadsBackTheNormalTable) {
    CapturedLog log;
    VConfiguration::init();
    EXPECT_TRUE(VConfiguration::mUseATI); // Mesa is not NVIDIA
    EXPECT_NE(log.err().find("VConfiguration::mUseATI = true\n"), std::string::npos);
    ASSERT_NE(VConfiguration::mNormalTexture, nullptr);
    VNormalLookupTexture& texture = *VConfiguration::mNormalTexture;
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
        EXPECT_NEAR(texel[0], n.x, 1e-3) << index; // stored as half floats
        EXPECT_NEAR(texel[1], n.y, 1e-3) << index;
        EXPECT_NEAR(texel[2], n.z, 1e-3) << index;
    }
    texture.release();
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
}
} // namespace
