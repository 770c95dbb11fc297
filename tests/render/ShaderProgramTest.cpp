// The shader classes and both set-up tables against Mesa: every program of
// the viewer compiles and links, set-up and reload keep their promises, and
// the impostor creation programs write what the impostors need.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "ShaderSets.h"
#include "TestFiles.h"
#include "VConfiguration.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <vector>

namespace {
class ShaderSets : public ::testing::Test {
  protected:
    void SetUp() override {
        CapturedLog quiet;
        VViewShaders::setupShaders();
        VInstanceShaders::setupShaders();
    }
    void TearDown() override {
        CapturedLog quiet;
        VViewShaders::destroy();
        VInstanceShaders::destroy();
    }
};

void expectAllBuilt(const std::vector<NamedProgram>& programs) {
    for (const NamedProgram& p : programs) {
        ASSERT_NE(p.program, nullptr) << p.name;
        for (const VShader* stage : {p.program->vertexShader, p.program->fragmentShader}) {
            std::string log;
            if (stage) {
                EXPECT_TRUE(shaderCompiled(*stage, &log)) << p.name << ": " << log;
            }
        }
        std::string log;
        EXPECT_TRUE(programLinked(*p.program, &log)) << p.name << ": " << log;
    }
}

TEST_F(ShaderSets, EveryProgramOfBothSetsCompilesAndLinks) {
    expectAllBuilt(VViewShaders::programs());
    expectAllBuilt(VInstanceShaders::programs());
    // The stages no program uses are compiled and kept too.
    for (const VShader* shader : VViewShaders::shaders) {
        ASSERT_NE(shader, nullptr);
        std::string log;
        EXPECT_TRUE(shaderCompiled(*shader, &log)) << static_cast<const VVertexShaderFile*>(shader)->fileName << log;
    }
    EXPECT_EQ(VConfiguration::mQuantShader, VViewShaders::billboardQuant);
}

TEST_F(ShaderSets, ProgramsDeclareTheUniformsTheViewerSets) {
    auto location = [](const VShaderProgram* p, const char* name) { return ext::glGetUniformLocation(p->id, name); };
    for (const VShaderProgram* p : {VViewShaders::billboard, VViewShaders::billboardQuant}) {
        EXPECT_GE(location(p, "front_tex"), 0);
        EXPECT_GE(location(p, "back_tex"), 0);
    }
    for (const char* name : {"quant_tex", "delta", "minDepth"})
        EXPECT_GE(location(VViewShaders::billboardQuant, name), 0) << name;

    const VLODShaderProgram& billboard = *VInstanceShaders::billboard;
    EXPECT_GE(billboard.front_tex, 0);
    EXPECT_GE(billboard.back_tex, 0);
    EXPECT_GE(billboard.sq_proj_const, 0);
    EXPECT_GE(billboard.sq_image_error, 0);
    EXPECT_GE(billboard.sq_texture_scale_error, 0);
    // Without a fragment stage only the selection's three are looked up.
    const VLODShaderProgram& wire = *VInstanceShaders::billboardWireframe;
    EXPECT_GE(wire.sq_proj_const, 0);
    EXPECT_GE(wire.sq_image_error, 0);
    EXPECT_GE(wire.sq_texture_scale_error, 0);
    EXPECT_EQ(wire.front_tex, -1);
    EXPECT_EQ(wire.back_tex, -1);
}

TEST_F(ShaderSets, SetUpTwiceCreatesNothingNew) {
    const VShaderProgram* gouraud = VViewShaders::gouraud;
    const VShader* first = VViewShaders::shaders[0];
    const VLODShaderProgram* billboard = VInstanceShaders::billboard;
    CapturedLog quiet;
    VViewShaders::setupShaders();
    VInstanceShaders::setupShaders();
    EXPECT_EQ(VViewShaders::gouraud, gouraud);
    EXPECT_EQ(VViewShaders::shaders[0], first);
    EXPECT_EQ(VInstanceShaders::billboard, billboard);
}

TEST_F(ShaderSets, ReloadBuildsBothSetsAnew) {
    const GLuint oldStage = VViewShaders::shaders[1]->id;
    const GLuint oldInstanceStage = VInstanceShaders::shaders[0]->id;
    CapturedLog quiet;
    VViewShaders::reloadShader();
    EXPECT_FALSE(ext::glIsShader(oldStage)); // the old objects are gone, the manager's too
    EXPECT_FALSE(ext::glIsShader(oldInstanceStage));
    expectAllBuilt(VViewShaders::programs());
    expectAllBuilt(VInstanceShaders::programs());
    EXPECT_EQ(VConfiguration::mQuantShader, VViewShaders::billboardQuant);
}

TEST(ShaderObjects, CompilingAgainReplacesTheShaderObject) {
    CapturedLog log;
    VVertexShaderFile shader(true, "shader/glsl/GouraudVert.txt");
    shader.compile();
    const GLuint first = shader.id;
    ASSERT_TRUE(ext::glIsShader(first));
    shader.compile();
    EXPECT_TRUE(ext::glIsShader(shader.id));
    EXPECT_FALSE(ext::glIsShader(first) && first != shader.id);
    shader.release();
    EXPECT_EQ(shader.id, kNoGLName);
}

TEST(ShaderObjects, MissingFileLeavesNoObjectAndTheProgramLinksWithoutIt) {
    CapturedLog log;
    VVertexShaderFile vertex(true, "shader/glsl/GouraudVert.txt");
    VFragmentShaderFile missing(true, "shader/glsl/NoSuchShader.txt");
    vertex.compile();
    missing.compile();
    EXPECT_EQ(missing.id, kNoGLName);
    EXPECT_NE(log.out().find("Fehler in loadFileIntoCString !!!!!!!\n"), std::string::npos);
    EXPECT_NE(log.err().find("no code available!\n"), std::string::npos);
    VShaderProgram program(true, &vertex, &missing);
    EXPECT_TRUE(programLinked(program));
    program.release();
    vertex.release();
}

TEST(ShaderObjects, KindsMustMatchToAttach) {
    CapturedLog log;
    VVertexShaderFile glslVertex(true, "shader/glsl/GouraudVert.txt");
    VFragmentShaderFile arbFragment(false, "shader/ImpostorFrag.txt");
    glslVertex.compile();
    arbFragment.compile();
    VShaderProgram glsl(true, &glslVertex, &arbFragment);
    EXPECT_EQ(glsl.fragmentShader, nullptr);
    EXPECT_NE(log.err().find("Can not attach non GLSL fragment shader to GLSL shader program!\n"), std::string::npos);
    VShaderProgram arb(false, &glslVertex, &arbFragment);
    EXPECT_EQ(arb.vertexShader, nullptr);
    EXPECT_EQ(arb.fragmentShader, &arbFragment);
    EXPECT_NE(log.err().find("Can not attach GLSL vertex shader to non GLSL shader program!\n"), std::string::npos);
    // A program that never had an object deletes nothing.
    VShaderProgram empty(false, nullptr, nullptr);
    empty.release();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glsl.release();
    glslVertex.release();
    arbFragment.release();
}

// One impostor-creation pass as the atlas rendering draws it: a float
// framebuffer, an orthographic slab around the impostor plane, a patch
// drawn with the creation programs. Each covered texel must hold the
// patch's unit normal and its depth in the slab; the rest stay empty.
TEST_F(ShaderSets, ImpostorCreationWritesNormalAndDepth) {
    constexpr int kSize = 32;
    GLuint texture = 0, depthBuffer = 0, framebuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA32F_ARB, kSize, kSize, 0, GL_RGBA, GL_FLOAT, nullptr);
    ext::glGenRenderbuffersEXT(1, &depthBuffer);
    ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, depthBuffer);
    ext::glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, kSize, kSize);
    ext::glGenFramebuffersEXT(1, &framebuffer);
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    ext::glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_RECTANGLE_ARB, texture, 0);
    ext::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, depthBuffer);
    ASSERT_TRUE(checkFramebufferStatus());

    glViewport(0, 0, kSize, kSize);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    // Impostor of half depth 0.1 facing +z; eye at distance 1 on its normal.
    const double zf = 1.5 * (0.1 + 0.001);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, 1 - zf, 1 + zf);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, 0, -1);

    VShaderProgram creation(false, VViewShaders::shaders[5], VViewShaders::shaders[16]); // ImpostorVert/Frag
    creation.enable();
    // Left half faces +z at height 0.05; right half is tilted, normal (0.6, 0, 0.8).
    auto vertex = [](float x, float y, float z, std::array<float, 3> n) {
        ext::glVertexAttrib4fARB(2, n[0], n[1], n[2], 0);
        ext::glVertexAttrib4fARB(3, 1.0f, 0.2f, 0.2f, 0);
        ext::glVertexAttrib4fARB(0, x, y, z, 1);
    };
    glBegin(GL_TRIANGLES);
    for (auto [x0, x1, n] : {std::tuple{-0.5f, 0.0f, std::array<float, 3>{0, 0, 1}},
                             std::tuple{0.0f, 0.5f, std::array<float, 3>{0.6f, 0, 0.8f}}}) {
        vertex(x0, -0.5f, 0.05f, n);
        vertex(x1, -0.5f, 0.05f, n);
        vertex(x1, 0.5f, 0.05f, n);
        vertex(x0, -0.5f, 0.05f, n);
        vertex(x1, 0.5f, 0.05f, n);
        vertex(x0, 0.5f, 0.05f, n);
    }
    glEnd();
    creation.disable();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    std::vector<float> texels(size_t(kSize) * kSize * 4, -1.0f);
    glReadPixels(0, 0, kSize, kSize, GL_RGBA, GL_FLOAT, texels.data());
    auto texel = [&](int x, int y) { return &texels[4 * (size_t(y) * kSize + x)]; };
    // Eye-space distance 0.95 in a slab from 1 - zf to 1 + zf.
    const float depth = float((0.95 - (1 - zf)) / (2 * zf));
    const float* flat = texel(12, 16);
    EXPECT_NEAR(flat[0], 0, 1e-3);
    EXPECT_NEAR(flat[1], 0, 1e-3);
    EXPECT_NEAR(flat[2], 1, 1e-3);
    EXPECT_NEAR(flat[3], depth, 2e-3);
    EXPECT_GT(flat[3], 0);
    EXPECT_LT(flat[3], 1);
    const float* tilted = texel(20, 16);
    EXPECT_NEAR(tilted[0], 0.6f, 1e-3);
    EXPECT_NEAR(tilted[2], 0.8f, 1e-3);
    EXPECT_NEAR(std::sqrt(tilted[0] * tilted[0] + tilted[1] * tilted[1] + tilted[2] * tilted[2]), 1, 1e-3);
    for (float channel : std::array<float, 4>{texel(2, 2)[0], texel(2, 2)[1], texel(2, 2)[2], texel(2, 2)[3]})
        EXPECT_EQ(channel, 0.0f); // outside the patch

    creation.release();
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    ext::glDeleteFramebuffersEXT(1, &framebuffer);
    ext::glDeleteRenderbuffersEXT(1, &depthBuffer);
    glDeleteTextures(1, &texture);
    glDisable(GL_DEPTH_TEST);
}
} // namespace
