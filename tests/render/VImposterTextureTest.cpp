// Impostor textures read from real textures files in each compression mode,
// uploaded and bound in a headless context; a refused texture stays empty.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "SideFiles.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VLODObject3D.h"
#include "VTexture.h"

#include <EGL/egl.h>
#include <gtest/gtest.h>


namespace {
class ImposterTexture : public ::testing::Test {
  protected:
    // A sphere hierarchy with its textures file built under compression.
    std::string texturesFile(int32_t compression) {
        VConfiguration::mTextureCompression = compression;
        const std::string path = tempPath("tex-" + std::to_string(compression) + ".mvh");
        VLODObject3D sphere;
        makeSphereHierarchy(sphere, {2, 1, true});
        EXPECT_TRUE(sphere.write(path));
        VLODObject3D object;
        EXPECT_TRUE(object.read(path)) << object.lastError();
        SideFileReport report;
        std::string error;
        EXPECT_TRUE(setUpImpostorsAndSideFiles(object, report, error)) << error;
        return texturesFileName(path);
    }
    // The file's own decoding of atlas k.
    RenderedAtlas fromFile(const std::string& file, uint32_t k, TexturesFileDirectory& directory) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> open(std::fopen(file.c_str(), "rb"), &std::fclose);
        std::string error;
        RenderedAtlas atlas;
        EXPECT_TRUE(open && readTexturesDirectory(open.get(), directory, error) &&
                    readAtlas(open.get(), directory, k, atlas, error))
            << error;
        return atlas;
    }
    void TearDown() override { VConfiguration::mTextureCompression = 0; }
    CapturedLog mLog;
};

TEST_F(ImposterTexture, FloatTexelsLoadUploadAndBind) {
    const std::string file = texturesFile(0);
    TexturesFileDirectory directory;
    const uint32_t k = 3;
    const RenderedAtlas expected = fromFile(file, k, directory);
    VImposterTexture texture{int32_t(k)};
    EXPECT_FALSE(texture.isLoaded());
    ASSERT_TRUE(texture.loadInfo(file));
    EXPECT_EQ(uint32_t(texture.width), expected.width);
    EXPECT_FALSE(texture.isLoaded());
    ASSERT_TRUE(texture.load(file)) << texture.lastError();
    EXPECT_TRUE(texture.isLoaded());
    EXPECT_EQ(texture.frontTexels(), expected.front);
    EXPECT_EQ(texture.backTexels(), expected.back);
    EXPECT_EQ(texture.sizeInBytes(), expected.width * expected.height * 32);
    EXPECT_EQ(texture.minDepth, directory.atlases[k].smallest);

    texture.bind(); // uploads first
    EXPECT_TRUE(texture.uploaded);
    for (int unit = 0; unit < 2; ++unit) {
        ext::glActiveTextureARB(GL_TEXTURE0_ARB + unit);
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_RECTANGLE_ARB, &bound);
        EXPECT_EQ(GLuint(bound), unit == 0 ? texture.frontTexture() : texture.backTexture());
        std::vector<float> texels(expected.front.size(), -9.0f);
        glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, GL_FLOAT, texels.data());
        const std::vector<float>& side = unit == 0 ? expected.front : expected.back;
        for (size_t i = 0; i < texels.size(); ++i) ASSERT_NEAR(texels[i], side[i], 2e-3) << i; // half floats
    }
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
    texture.freeClientData();
    EXPECT_TRUE(texture.isLoaded()); // still on the GPU
    texture.deleteTextures();
    EXPECT_FALSE(texture.isLoaded());
    EXPECT_FALSE(texture.upload()); // nothing left to upload
    EXPECT_NE(mLog.err().find("Call load() before"), std::string::npos);
}

// The file's own mode decides how it is read, whatever the configuration
// says by the time a texture is loaded: a quantised file decodes through the
// same decoder as every other reader, a float file stays floats.
TEST_F(ImposterTexture, TexelsAreReadInTheFilesModeNotTheLiveOne) {
    struct Case {
        int32_t built, live;
    } cases[] = {{1, 1}, {1, 0}, {0, 1}, {0, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.built) + " read under " + std::to_string(c.live));
        const std::string file = texturesFile(c.built);
        TexturesFileDirectory directory;
        const RenderedAtlas expected = fromFile(file, 0, directory);
        VConfiguration::mTextureCompression = c.live;
        VImposterTexture texture(0);
        ASSERT_TRUE(texture.load(file)) << texture.lastError();
        EXPECT_FALSE(texture.keepsCodes());
        EXPECT_EQ(texture.frontTexels(), expected.front);
        EXPECT_EQ(texture.backTexels(), expected.back);
        EXPECT_EQ(texture.sizeInBytes(), uint32_t(texture.width * texture.height * 32));
    }
}

// Compression 2: the codes stay as they are; binding tells the quantised
// billboard program how to decode the depth.
TEST_F(ImposterTexture, QuantisedTexturesKeepTheirCodesAndSetTheDecoding) {
    const std::string file = texturesFile(2);
    VViewShaders::setupShaders();
    VImposterTexture texture(1);
    EXPECT_TRUE(texture.quantised);
    ASSERT_TRUE(texture.load(file)) << texture.lastError();
    EXPECT_TRUE(texture.keepsCodes());
    EXPECT_TRUE(texture.frontTexels().empty());
    ASSERT_EQ(texture.frontQuantised().size(), size_t(2 * texture.width * texture.height));
    EXPECT_EQ(texture.sizeInBytes(), uint32_t(texture.width * texture.height * 8));
    texture.bind();
    const GLuint program = VConfiguration::mQuantShader->id;
    float delta = 0, minDepth = -1;
    const auto glGetUniformfv = reinterpret_cast<PFNGLGETUNIFORMFVPROC>(eglGetProcAddress("glGetUniformfv"));
    ext::glUseProgram(program);
    glGetUniformfv(program, ext::glGetUniformLocation(program, "delta"), &delta);
    glGetUniformfv(program, ext::glGetUniformLocation(program, "minDepth"), &minDepth);
    ext::glUseProgram(0);
    EXPECT_FLOAT_EQ(delta, (texture.maxDepth - texture.minDepth) / 65535.0f); // as every decoder reads codes
    EXPECT_FLOAT_EQ(minDepth, texture.minDepth);
    ext::glActiveTextureARB(GL_TEXTURE1_ARB);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_RECTANGLE_ARB, &bound);
    EXPECT_EQ(GLuint(bound), texture.backTexture());
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
    std::vector<uint16_t> codes(texture.frontQuantised().size());
    glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_LUMINANCE_ALPHA, GL_UNSIGNED_SHORT, codes.data());
    EXPECT_EQ(codes, texture.frontQuantised()); // 16 bits kept
    texture.deleteTextures();
    VViewShaders::destroy();
}

// Reading goes through the directory reader that SideFilesTest drives over
// every truncation; here only that a refused texture is left empty.
TEST_F(ImposterTexture, RefusedTexturesAreLeftEmpty) {
    const std::string file = texturesFile(0);
    const std::vector<uint8_t> bytes = readBytes(file);
    const std::string cut = tempPath("cut.mv2");
    writeBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.end() - 100));
    TexturesFileDirectory directory;
    fromFile(file, 0, directory);
    VImposterTexture last{int32_t(directory.atlases.size() - 1)};
    ASSERT_TRUE(last.loadInfo(file));
    EXPECT_FALSE(last.load(cut));
    EXPECT_NE(last.lastError().find("beyond the end"), std::string::npos) << last.lastError();
    EXPECT_FALSE(last.isLoaded());
    EXPECT_EQ(last.width, 0);
    EXPECT_NE(mLog.err().find("ERROR loading file from " + cut), std::string::npos);
}
} // namespace
