// The shader classes and both set-up tables against Mesa: every program of
// the viewer compiles and links, and set-up and reload keep their promises.
// What the impostor creation programs write is checked on rendered atlases
// (SideFileStepTest).

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

} // namespace
