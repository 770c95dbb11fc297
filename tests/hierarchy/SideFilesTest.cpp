// The side files byte for byte: the textures file's stamp, sizes, directory
// offsets and texel encodings, the geometry file's records, and writing that
// never leaves a partial file under the real name.

#include "ByteStream.h"
#include "QuantizedNormal.h"
#include "SideFiles.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {
template <typename T> T at(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// An atlas whose texels are given as (r, g, b, depth) quadruples.
RenderedAtlas atlasOf(uint32_t width, uint32_t height, std::vector<float> front, std::vector<float> back) {
    return {width, height, std::move(front), std::move(back)};
}

TEST(SideFiles, NamesReplaceTheFirstExtension) {
    EXPECT_EQ(texturesFileName("models/dragon.mvh"), "models/dragon.mv2");
    EXPECT_EQ(geometryFileName("models/dragon.mvh"), "models/dragon.mv3");
    EXPECT_EQ(texturesFileName("a.mvh.mvh"), "a.mv2.mvh");
    EXPECT_EQ(texturesFileName("plain"), "plain.mv2");
}

TEST(SideFiles, TexturesFileLayoutWithFloatTexels) {
    const std::vector<uint8_t> stamp(33, 0xAB);
    const std::vector<RenderedAtlas> atlases = {
        atlasOf(2, 1, {0, 0, 1, 0.25f, 1, 0, 0, 0.5f}, {0, 0, -1, 0.75f, 0, 0, 0, 0}),
        atlasOf(1, 1, {0, 1, 0, 0.5f}, {0, 1, 0, 0.5f})};
    const std::vector<uint8_t> bytes = texturesFileBytes(stamp, atlases, false);
    ASSERT_EQ(bytes.size(), 41 + 2 * 20 + (2 + 1) * 32u);
    EXPECT_TRUE(std::equal(stamp.begin(), stamp.end(), bytes.begin()));
    EXPECT_EQ(at<uint32_t>(bytes, 33), (2 + 1) * 32u); // uncompressed size
    EXPECT_EQ(at<uint32_t>(bytes, 37), 2u);
    // Directory: data of atlas 0 at 41 + 20 n, atlas 1 after 32 bytes per texel.
    EXPECT_EQ(at<uint32_t>(bytes, 41), 2u);
    EXPECT_EQ(at<uint32_t>(bytes, 45), 1u);
    EXPECT_EQ(at<uint32_t>(bytes, 49), 81u);
    EXPECT_EQ(at<float>(bytes, 53), 0.0f); // depth range over both sides
    EXPECT_EQ(at<float>(bytes, 57), 0.75f);
    EXPECT_EQ(at<uint32_t>(bytes, 61 + 8), 81u + 2 * 32);
    EXPECT_EQ(at<float>(bytes, 61 + 12), 0.5f); // constant depth: smallest = largest
    // Front then back, four floats a texel.
    EXPECT_EQ(at<float>(bytes, 81 + 2 * 4), 1.0f);
    EXPECT_EQ(at<float>(bytes, 81 + 3 * 4), 0.25f);
    EXPECT_EQ(at<float>(bytes, 81 + 32 + 2 * 4), -1.0f);
}

TEST(SideFiles, CompressedTexelsHoldNormalCodesAndScaledDepths) {
    initTetrahederLookupTableRec();
    const std::vector<RenderedAtlas> atlases = {
        atlasOf(2, 1, {0, 0, 1, 0.25f, 0, 0, 0, 0.25f}, {1, 0, 0, 0.75f, 0, 0.6f, 0.8f, 0.5f}),
        atlasOf(1, 1, {0, 1, 0, 0.5f}, {0, -1, 0, 0.5f})};
    const std::vector<uint8_t> bytes = texturesFileBytes(std::vector<uint8_t>(33, 0), atlases, true);
    ASSERT_EQ(bytes.size(), 41 + 2 * 20 + (2 + 1) * 8u);
    EXPECT_EQ(at<uint32_t>(bytes, 33), (2 + 1) * 32u); // still the uncompressed size
    EXPECT_EQ(at<uint32_t>(bytes, 61 + 8), 81u + 2 * 8);
    const size_t data = 81;
    EXPECT_EQ(at<uint16_t>(bytes, data), quantizeNormal(Vec3f(0, 0, 1)));
    EXPECT_EQ(at<uint16_t>(bytes, data + 2), 0u);      // the smallest depth
    EXPECT_EQ(at<uint16_t>(bytes, data + 4), kEmptyTexel); // black: empty
    EXPECT_EQ(at<uint16_t>(bytes, data + 8), quantizeNormal(Vec3f(1, 0, 0)));
    EXPECT_EQ(at<uint16_t>(bytes, data + 10), 65535u); // the largest depth
    EXPECT_EQ(at<uint16_t>(bytes, data + 14), uint16_t(0.5 * 65535.0)); // halfway
    // An atlas of one depth stores 0 for every texel.
    EXPECT_EQ(at<uint16_t>(bytes, data + 16 + 2), 0u);
    EXPECT_EQ(at<uint16_t>(bytes, data + 16 + 6), 0u);
    EXPECT_EQ(at<uint16_t>(bytes, data + 16 + 4), quantizeNormal(Vec3f(0, -1, 0)));
}

TEST(SideFiles, GeometryFileHoldsTheFlatCopyAndTheImpostorTree) {
    CapturedLog quiet;
    VLODObject3D object;
    makeSphereHierarchy(object, {2, 1, true});
    ImpostorTree tree;
    std::string error;
    ASSERT_TRUE(tree.init(object, error)) << error;
    const std::vector<uint8_t> bytes = geometryFileBytes(object, tree, 2);
    size_t impostorBytes = 0;
    for (const MTImpostor& impostor : tree.impostors) impostorBytes += 109 + 4 * impostor.children.size();
    ASSERT_EQ(bytes.size(), 4 + 16 + 4 + 24 * object.vnum() + 4 + 12 * object.tnum() + 4 + 8 * object.nnum() + 4 +
                                8 * object.anum() + 4 + impostorBytes + 4);
    EXPECT_EQ(at<uint32_t>(bytes, 0), 2u);
    EXPECT_EQ(at<float>(bytes, 16), object.mBoundingSphere.r);
    EXPECT_EQ(at<uint32_t>(bytes, 20), object.vnum());
    const Vec3f p = object.varray[1].path->evaluate(0);
    EXPECT_EQ(at<float>(bytes, 24 + 24 + 12), p.x);
    EXPECT_EQ(at<uint32_t>(bytes, bytes.size() - 4), tree.root);
    // The first impostor record, right after the impostor count.
    const size_t records = bytes.size() - 4 - impostorBytes;
    EXPECT_EQ(at<uint32_t>(bytes, records - 4), tree.inum());
    const MTImpostor& first = tree.impostors[0];
    EXPECT_EQ(at<float>(bytes, records + 4), first.corners[0].y);
    EXPECT_EQ(at<float>(bytes, records + 80 + 12), first.depth);
    EXPECT_EQ(at<uint32_t>(bytes, records + 97), first.children.size());
}

// The directory and atlases read back, compressed ones decoded; a file cut
// short anywhere is refused with the reason.
TEST(SideFiles, TexturesFilesReadBackAndShortOnesAreRefused) {
    initTetrahederLookupTableRec();
    std::vector<uint8_t> stamp(33, 0);
    const int32_t compression = 1;
    std::memcpy(stamp.data() + 29, &compression, 4);
    const std::vector<RenderedAtlas> atlases = {atlasOf(2, 1, {0, 0, 1, 0.25f, 0, 0, 0, 0}, {1, 0, 0, 0.75f, 0, 0, 0, 0})};
    const std::vector<uint8_t> bytes = texturesFileBytes(stamp, atlases, true);
    TexturesFileDirectory directory;
    std::string error;
    ASSERT_TRUE(parseTexturesFile(bytes, directory, error)) << error;
    ASSERT_EQ(directory.atlases.size(), 1u);
    EXPECT_EQ(directory.compression, 1);
    RenderedAtlas back;
    readAtlas(bytes, directory, 0, back);
    ASSERT_EQ(back.front.size(), 8u);
    EXPECT_NEAR(back.front[2], 1.0f, 1e-3f);   // the normal, through the table
    EXPECT_NEAR(back.front[3], 0.25f, 1e-4f);  // empty texels' 0 counts: range 0 to 0.75
    EXPECT_NEAR(back.back[0], 1.0f, 1e-3f);
    EXPECT_NEAR(back.back[3], 0.75f, 1e-4f);   // the largest
    for (int c = 0; c < 4; ++c) EXPECT_EQ(back.front[4 + c], 0.0f); // empty stays empty
    // Sizes whose product overflows 64 bits must not pass for small.
    std::vector<uint8_t> lying = bytes;
    const uint32_t huge = 0xFFFFFFFF;
    std::memcpy(lying.data() + 41, &huge, 4);
    std::memcpy(lying.data() + 45, &huge, 4);
    EXPECT_FALSE(parseTexturesFile(lying, directory, error));
    for (size_t cut : {size_t(10), size_t(40), size_t(60), bytes.size() - 1}) {
        const std::vector<uint8_t> shorter(bytes.begin(), bytes.begin() + long(cut));
        EXPECT_FALSE(parseTexturesFile(shorter, directory, error)) << cut;
        EXPECT_FALSE(error.empty());
    }
}

TEST(SideFiles, WritingLeavesACompleteFileOrNone) {
    const std::string path = tempPath("side.mv2");
    std::string error;
    const std::vector<RenderedAtlas> atlases = {atlasOf(1, 1, {0, 0, 1, 0.5f}, {0, 0, 1, 0.5f})};
    ASSERT_TRUE(writeTexturesFile(path, std::vector<uint8_t>(33, 0), atlases, false, error)) << error;
    EXPECT_EQ(readBytes(path), texturesFileBytes(std::vector<uint8_t>(33, 0), atlases, false));
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
        EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
    // A folder that is not there: nothing written, and the reason.
    const std::string nowhere = tempPath("missing-folder/side.mv2");
    EXPECT_FALSE(writeTexturesFile(nowhere, std::vector<uint8_t>(33, 0), atlases, false, error));
    EXPECT_NE(error.find("missing-folder/side.mv2"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(nowhere));
}
} // namespace
