// The viewer's part of reading, in a headless context: impostor atlases
// rendered into a textures file beside the hierarchy, reused while the
// configuration stamp fits, rebuilt when it does not, and a hierarchy that
// stays viewable when its side files cannot be written.

#include "GLCoverageMeasure.h"
#include "GLExtensions.h"
#include "ImpostorAtlasRenderer.h"
#include "GLTestContext.h"
#include "HierarchyCreation.h"
#include "SideFileStep.h"
#include "SideFiles.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {
template <typename T> T at(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// A hierarchy of a flat 6 x 6 grid facing +z, built as `morva build` would.
std::string buildFlatGrid() {
    const std::string ply = tempPath("grid.ply");
    {
        std::ofstream out(ply);
        const int n = 6;
        out << "ply\nformat ascii 1.0\nelement vertex " << (n + 1) * (n + 1)
            << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << 2 * n * n
            << "\nproperty list uchar int vertex_indices\nend_header\n";
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x) out << x << " " << y << " 0\n";
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const int v = y * (n + 1) + x;
                out << "3 " << v << " " << v + 1 << " " << v + n + 2 << "\n3 " << v << " " << v + n + 2 << " "
                    << v + n + 1 << "\n";
            }
    }
    GLCoverageMeasure measure;
    VLODObject3DCreator creator;
    CreationSettings settings;
    settings.replaceExisting = true;
    settings.useMinimum = false; // every collapse a node: the grid keeps its finest level
    CreationSummary summary;
    std::string error;
    const std::string grid = tempPath("grid.mvh");
    const bool built = createHierarchyFile(ply, grid, settings, creator, measure, summary, error);
    measure.release();
    EXPECT_TRUE(built) << error;
    return built ? grid : "";
}

class SideFileStep : public ::testing::Test {
  protected:
    void SetUp() override {
        mPath = tempPath("sphere-" + std::to_string(mCount++) + ".mvh");
        VLODObject3D sphere;
        makeSphereHierarchy(sphere, {2, 1, true});
        ASSERT_TRUE(sphere.write(mPath));
        VConfiguration::mUseATI = true;
    }
    void TearDown() override {
        VConfiguration::mTextureResolution = 0;
        VConfiguration::mTextureCompression = 0;
        VConfiguration::mPrefetchStrategy = 1;
        VConfiguration::mImpostorSizeType = 0;
        VLODObject3D::setViewerSetup(nullptr);
    }
    // Reads the hierarchy and runs the step on it.
    SideFileReport readWithSideFiles(VLODObject3D& object) {
        SideFileReport report;
        std::string error;
        EXPECT_TRUE(object.read(mPath)) << object.lastError();
        EXPECT_TRUE(setUpImpostorsAndSideFiles(object, report, error)) << error;
        return report;
    }
    CapturedLog mLog;
    std::string mPath;
    static inline int mCount = 0;
};

TEST_F(SideFileStep, RendersAtlasesOnceAndReusesThem) {
    VLODObject3D object;
    const SideFileReport first = readWithSideFiles(object);
    ASSERT_TRUE(first.created);
    ASSERT_TRUE(first.written);
    const std::vector<uint8_t> mv2 = readBytes(texturesFileName(mPath));
    const uint32_t n = at<uint32_t>(mv2, 37);
    ASSERT_EQ(n, object.mImpostorTree.atlases.size());
    const uint64_t texels = object.mUncompressedTextureBytes / 32;
    EXPECT_EQ(mv2.size(), 41 + 20 * n + 32 * texels);
    EXPECT_EQ(object.mTexturesFileName, texturesFileName(mPath));
    EXPECT_TRUE(std::filesystem::exists(geometryFileName(mPath)));

    // The texels: drawn ones hold a unit normal and a depth inside the slab,
    // the rest nothing at all; and something was drawn.
    size_t drawn = 0;
    float lowestZ = 1, highestZ = -1;
    for (size_t k = 41 + 20 * size_t(n); k + 16 <= mv2.size(); k += 16) {
        const float r = at<float>(mv2, k), g = at<float>(mv2, k + 4), b = at<float>(mv2, k + 8), d = at<float>(mv2, k + 12);
        if (r == 0 && g == 0 && b == 0) {
            EXPECT_EQ(d, 0.0f);
            continue;
        }
        ++drawn;
        lowestZ = std::min(lowestZ, b);
        highestZ = std::max(highestZ, b);
        EXPECT_NEAR(std::sqrt(r * r + g * g + b * b), 1.0f, 1e-3f);
        EXPECT_GT(d, 0.0f);
        EXPECT_LT(d, 1.0f);
    }
    EXPECT_GT(drawn, texels / 4); // a sphere fills much of its quads
    EXPECT_GT(highestZ - lowestZ, 1.0f) << "the normals follow the sphere";

    // Read again: the stamp fits, nothing is rendered, texel positions agree.
    VLODObject3D again;
    const SideFileReport second = readWithSideFiles(again);
    EXPECT_FALSE(second.created);
    for (uint32_t i = 0; i < object.mImpostorTree.inum(); ++i)
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(again.mImpostorTree.impostors[i].corners[k].s, object.mImpostorTree.impostors[i].corners[k].s);
            EXPECT_EQ(again.mImpostorTree.impostors[i].corners[k].t, object.mImpostorTree.impostors[i].corners[k].t);
        }
    EXPECT_EQ(readBytes(texturesFileName(mPath)), mv2);
}

// Remade when the settings in the stamp change, the file is damaged or it
// belongs to another hierarchy; kept otherwise.
TEST_F(SideFileStep, TexturesFilesAreRemadeOnlyWhenTheyNoLongerFit) {
    VLODObject3D object;
    ASSERT_TRUE(readWithSideFiles(object).created);
    const auto firstSize = std::filesystem::file_size(texturesFileName(mPath));
    VConfiguration::mPrefetchStrategy = 0; // not in the stamp
    EXPECT_FALSE(readWithSideFiles(object).created);
    VConfiguration::mTextureResolution = 1; // four times the texels
    EXPECT_TRUE(readWithSideFiles(object).created);
    EXPECT_NE(mLog.out().find("It was built for a different configuration..."), std::string::npos);
    EXPECT_GT(std::filesystem::file_size(texturesFileName(mPath)), 3 * firstSize);
    VConfiguration::mTextureCompression = 2; // compressed: 8 bytes a texel pair
    const SideFileReport compressed = readWithSideFiles(object);
    EXPECT_TRUE(compressed.created);
    const std::vector<uint8_t> mv2 = readBytes(texturesFileName(mPath));
    EXPECT_EQ(mv2.size() - 41 - 20 * size_t(at<uint32_t>(mv2, 37)), at<uint32_t>(mv2, 33) / 4);
    VConfiguration::mTextureCompression = 1; // also quantised: fits
    EXPECT_FALSE(readWithSideFiles(object).created);

    // The stamp fits, but the file is damaged, or holds the atlases of another
    // hierarchy built earlier under the same name.
    const std::vector<uint8_t> good = readBytes(texturesFileName(mPath));
    writeBytes(texturesFileName(mPath), std::vector<uint8_t>(good.begin(), good.end() - 1));
    EXPECT_TRUE(readWithSideFiles(object).created);
    EXPECT_NE(mLog.out().find("It is damaged: "), std::string::npos);
    EXPECT_EQ(readBytes(texturesFileName(mPath)).size(), good.size());
    VLODObject3D finer;
    makeSphereHierarchy(finer, {3, 1, true});
    ASSERT_TRUE(finer.write(mPath));
    EXPECT_TRUE(readWithSideFiles(object).created);
    EXPECT_NE(mLog.out().find("Its atlases belong to another hierarchy..."), std::string::npos);
}

// A flat grid facing +z: every drawn texel holds that normal, and its depth
// is the middle of the slab (the patch lies in the quad's plane). A new
// build under the same name removes those side files.
TEST_F(SideFileStep, FlatPatchTexelsHoldItsNormalAndTheMiddleDepth) {
    const std::string grid = buildFlatGrid();
    ASSERT_FALSE(grid.empty());
    std::string error;
    VLODObject3D object;
    ASSERT_TRUE(object.read(grid)) << object.lastError();
    SideFileReport report;
    ASSERT_TRUE(setUpImpostorsAndSideFiles(object, report, error)) << error;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> mv2(std::fopen(texturesFileName(grid).c_str(), "rb"), &std::fclose);
    TexturesFileDirectory directory;
    ASSERT_TRUE(mv2 && readTexturesDirectory(mv2.get(), directory, error)) << error;
    size_t drawn = 0;
    for (uint32_t a = 0; a < directory.atlases.size(); ++a) {
        RenderedAtlas atlas;
        ASSERT_TRUE(readAtlas(mv2.get(), directory, a, atlas, error)) << error;
        for (const std::vector<float>* side : {&atlas.front, &atlas.back})
            for (size_t k = 0; k < side->size(); k += 4) {
                const float* t = &(*side)[k];
                if (t[0] == 0 && t[1] == 0 && t[2] == 0) continue;
                ++drawn;
                EXPECT_NEAR(t[2], 1.0f, 1e-3f);
                EXPECT_NEAR(t[3], 0.5f, 2e-3f);
            }
    }
    EXPECT_GT(drawn, 0u);
    // Building the hierarchy again removes the old one's side files.
    mv2.reset();
    ASSERT_EQ(buildFlatGrid(), grid);
    EXPECT_FALSE(std::filesystem::exists(texturesFileName(grid)));
    EXPECT_FALSE(std::filesystem::exists(geometryFileName(grid)));
}

// The run-time atlases hold what the textures file gets.
TEST_F(SideFileStep, RunTimeAtlasTexturesMatchTheRenderedFile) {
    VLODObject3D object;
    readWithSideFiles(object);
    ImpostorAtlasRenderer renderer;
    std::string error;
    const uint32_t last = uint32_t(object.mImpostorTree.atlases.size() - 1); // the root's, the largest
    RenderedAtlas read;
    ASSERT_TRUE(renderer.render(object, object.mImpostorTree, last, true, read, error)) << error;
    GLuint front = 0, back = 0;
    ASSERT_TRUE(renderer.createTextures(object, object.mImpostorTree, last, true, front, back, error)) << error;
    for (auto [texture, expected] : {std::pair{front, &read.front}, std::pair{back, &read.back}}) {
        ASSERT_TRUE(glIsTexture(texture));
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
        std::vector<float> texels(expected->size(), -1.0f);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, GL_FLOAT, texels.data());
        EXPECT_EQ(texels, *expected);
    }
    glDeleteTextures(1, &front);
    glDeleteTextures(1, &back);
    renderer.release();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// Reading runs the step itself once the viewer has installed it; impostors
// too large for any atlas then make the read fail in order: the messages,
// false, an empty object (the program goes on).
TEST_F(SideFileStep, ReadingRunsTheStepWhenInstalled) {
    installViewerSetup();
    VLODObject3D object;
    ASSERT_TRUE(object.read(mPath)) << object.lastError();
    EXPECT_EQ(object.mTexturesFileName, texturesFileName(mPath));

    const std::string grid = buildFlatGrid(); // one flat quad of the whole grid
    ASSERT_FALSE(grid.empty());
    VConfiguration::mImpostorSizeType = 1;  // counted: 2048 x 2048 working space
    VConfiguration::mTextureResolution = 2; // x16: a flat quad of the unit cube needs about 3000
    EXPECT_FALSE(object.read(grid));
    EXPECT_NE(object.lastError().find("fits into no atlas"), std::string::npos) << object.lastError();
    EXPECT_EQ(object.tnum(), 0u);
    EXPECT_NE(mLog.err().find("Error in VLODObject3D::cluster3() ! please check!"), std::string::npos);
}

// A textures file that cannot be written (here a folder stands in its
// place): the messages, and the hierarchy is still there to be drawn.
TEST_F(SideFileStep, UnwritableSideFilesLeaveTheHierarchyViewable) {
    std::filesystem::create_directory(texturesFileName(mPath));
    VLODObject3D object;
    const SideFileReport report = readWithSideFiles(object);
    EXPECT_FALSE(report.written);
    EXPECT_TRUE(object.mTexturesFileName.empty());
    EXPECT_GT(object.tnum(), 0u);
    EXPECT_NE(mLog.out().find("Could not open file " + texturesFileName(mPath) + " for write access!"),
              std::string::npos);
    EXPECT_NE(mLog.err().find("side files not written"), std::string::npos);
}
} // namespace
