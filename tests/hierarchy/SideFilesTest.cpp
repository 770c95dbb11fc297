// The side files byte for byte: a small textures file in both modes, the
// texel codec, the directory reader against truncated and lying files, the
// geometry file's records, and writing that never leaves a partial file.

#include "ByteStream.h"
#include "QuantizedNormal.h"
#include "SideFiles.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>

namespace {
template <typename T> T at(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// A stamp whose compression field (bytes 29 to 32) says mode.
std::vector<uint8_t> stampFor(int32_t mode) {
    std::vector<uint8_t> stamp(33);
    for (uint8_t k = 0; k < 29; ++k) stamp[k] = k;
    std::memcpy(stamp.data() + 29, &mode, 4);
    return stamp;
}

// 2 x 1 texels: front (0, 0, 1) at depth 0.25 and an empty texel at 0; back
// (1, 0, 0) at 1 and (0, 0, 1) at 0.5.
const std::vector<RenderedAtlas> kAtlases = {{2, 1, {0, 0, 1, 0.25f, 0, 0, 0, 0}, {1, 0, 0, 1, 0, 0, 1, 0.5f}}};

std::vector<uint8_t> readBack(const std::string& path, TexturesFileDirectory& directory, RenderedAtlas& atlas,
                              std::string& error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file || !readTexturesDirectory(file.get(), directory, error) || !readAtlas(file.get(), directory, 0, atlas, error))
        return {};
    return readBytes(path);
}

TEST(SideFiles, NamesReplaceTheFirstExtension) {
    EXPECT_EQ(texturesFileName("models/dragon.mvh"), "models/dragon.mv2");
    EXPECT_EQ(geometryFileName("models/dragon.mvh"), "models/dragon.mv3");
    EXPECT_EQ(texturesFileName("a.mvh.mvh"), "a.mv2.mvh");
    EXPECT_EQ(texturesFileName("plain"), "plain.mv2");
}

// Depth codes round: 0.25 and 0.5 of the range are 16384 and 32768, where
// truncation would give one less.
TEST(SideFiles, CompressedTexturesFileGoldenBytes) {
    initTetrahederLookupTableRec();
    std::vector<uint8_t> expected = stampFor(1);
    const std::vector<uint8_t> rest = {
        0x40, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,                   // uncompressed bytes 64, one atlas
        0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3D, 0x00, 0x00, 0x00, // 2 x 1 at offset 61
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F,                   // depths 0 to 1
        0xAA, 0x0A, 0x00, 0x40, 0x00, 0x80, 0x00, 0x00,                   // front: +z at 0.25, empty at 0
        0xFF, 0x1F, 0xFF, 0xFF, 0xAA, 0x0A, 0x00, 0x80};                  // back: +x at 1, +z at 0.5
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(texturesFileBytes(stampFor(1), kAtlases, true), expected);
}

TEST(SideFiles, TexturesFilesReadBackInBothModes) {
    initTetrahederLookupTableRec();
    for (int32_t mode : {0, 1}) {
        SCOPED_TRACE(mode);
        const std::string path = tempPath("small-" + std::to_string(mode) + ".mv2");
        std::string error;
        ASSERT_TRUE(writeTexturesFile(path, stampFor(mode), kAtlases, mode != 0, error)) << error;
        TexturesFileDirectory directory;
        RenderedAtlas atlas;
        const std::vector<uint8_t> bytes = readBack(path, directory, atlas, error);
        ASSERT_FALSE(bytes.empty()) << error;
        EXPECT_EQ(bytes.size(), 41 + 20 + 2 * (mode ? 8u : 32u));
        EXPECT_EQ(directory.header.compression, mode);
        EXPECT_EQ(directory.header.uncompressedBytes, 64u);
        ASSERT_EQ(directory.atlases.size(), 1u);
        EXPECT_EQ(directory.atlases[0].offset, 61u);
        // Within half a depth step, and the normals through the table (about a degree apart).
        const float halfStep = mode ? 0.5f / 65535 : 0.0f;
        for (size_t k = 0; k < 8; ++k) {
            EXPECT_NEAR(atlas.front[k], kAtlases[0].front[k], k % 4 == 3 ? halfStep : 0.02f) << k;
            EXPECT_NEAR(atlas.back[k], kAtlases[0].back[k], k % 4 == 3 ? halfStep : 0.02f) << k;
        }
        EXPECT_EQ(atlas.front[4], 0.0f); // empty stays empty
    }
}

TEST(SideFiles, DepthCodesRoundTripWithinHalfAStepAndStayInTheirRange) {
    const float lo = -0.3f, hi = 1.7f, step = (hi - lo) / 65535;
    for (int k = 0; k <= 1000; ++k) {
        const float depth = lo + (hi - lo) * float(k) / 1000;
        ASSERT_NEAR(decodeDepth(encodeDepth(depth, lo, hi), lo, hi), depth, step / 2 + 1e-6f) << depth;
    }
    EXPECT_EQ(encodeDepth(lo, lo, hi), 0u);
    EXPECT_EQ(encodeDepth(hi, lo, hi), 65535u);
    EXPECT_EQ(encodeDepth(0.7f, 0.7f, 0.7f), 0u); // one depth over the whole atlas
    // Ranges where one end dwarfs the other (one given reversed): the ends
    // still decode exactly and no code lands outside.
    for (auto [a, b] : {std::pair(-1e20f, 1e4f), std::pair(2.66e36f, 0.326f)}) {
        EXPECT_EQ(decodeDepth(0, a, b), a);
        EXPECT_EQ(decodeDepth(65535, a, b), b);
        for (uint32_t code = 0; code <= 65535; code += 257) {
            const float depth = decodeDepth(uint16_t(code), a, b);
            EXPECT_TRUE(depth >= std::min(a, b) && depth <= std::max(a, b)) << code << " " << depth;
        }
    }
    float texel[4];
    decodeTexel(kEmptyTexel, 0, lo, hi, texel);
    EXPECT_EQ(texel[0] * texel[0] + texel[1] * texel[1] + texel[2] * texel[2], 0.0f);
    EXPECT_EQ(texel[3], lo);
}

// Every cut of a real file, sizes whose product would overflow and depth
// ranges that are not finite are refused with a reason before anything is
// allocated.
TEST(SideFiles, ShortOrLyingTexturesFilesAreRefused) {
    const std::vector<uint8_t> bytes = texturesFileBytes(stampFor(0), kAtlases, false);
    auto refused = [](const std::vector<uint8_t>& content, const std::string& reason) {
        const std::string path = tempPath("lying.mv2");
        writeBytes(path, content);
        TexturesFileDirectory directory;
        RenderedAtlas atlas;
        std::string error;
        return readBack(path, directory, atlas, error).empty() && error.find(reason) != std::string::npos;
    };
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_TRUE(refused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)), "textures file")) << cut;
    std::vector<uint8_t> lying = bytes;
    const uint32_t huge = 0xFFFFFFFF;
    std::memcpy(lying.data() + 41, &huge, 4);
    std::memcpy(lying.data() + 45, &huge, 4);
    EXPECT_TRUE(refused(lying, "beyond the end"));
    lying = bytes;
    std::memcpy(lying.data() + 37, &huge, 4); // atlas count
    EXPECT_TRUE(refused(lying, "too short for its directory"));
    // A compressed file would decode every depth across the range.
    for (size_t field : {53, 57}) // smallest, largest
        for (float depth : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
            lying = texturesFileBytes(stampFor(1), kAtlases, true);
            std::memcpy(lying.data() + field, &depth, 4);
            EXPECT_TRUE(refused(lying, "depth range that is not finite")) << field << " " << depth;
        }
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

TEST(SideFiles, WritingLeavesACompleteFileOrNone) {
    const std::string path = tempPath("side.mv2");
    std::string error;
    ASSERT_TRUE(writeTexturesFile(path, stampFor(0), kAtlases, false, error)) << error;
    EXPECT_EQ(readBytes(path), texturesFileBytes(stampFor(0), kAtlases, false));
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
        EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
    // A folder that is not there: nothing written, and the reason.
    const std::string nowhere = tempPath("missing-folder/side.mv2");
    EXPECT_FALSE(writeTexturesFile(nowhere, stampFor(0), kAtlases, false, error));
    EXPECT_NE(error.find("missing-folder/side.mv2"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(nowhere));
}
} // namespace
