#include "ShaderSets.h"

#include "GLExtensions.h"
#include "LogStream.h"
#include "VConfiguration.h"

#include <vector>

namespace {
enum class Stage { Vertex, Fragment };

struct ShaderEntry {
    const char* message; // null: none printed
    Stage stage;
    bool glsl;
    const char* file;
};

const ShaderEntry kViewShaders[VViewShaders::kShaderCount] = {
    {"init wireframe vertex shader", Stage::Vertex, true, "shader/glsl/WireFrameVert.txt"},
    {"init gouraud vertex shader", Stage::Vertex, true, "shader/glsl/GouraudVert.txt"},
    {"init phong vertex shader", Stage::Vertex, true, "shader/glsl/PhongVert.txt"},
    {nullptr, Stage::Vertex, false, "shader/SurfelVert.txt"},
    {nullptr, Stage::Vertex, false, "shader/NormalizationVert.txt"},
    {nullptr, Stage::Vertex, false, "shader/ImpostorVert.txt"},
    {nullptr, Stage::Vertex, false, "shader/ImpostorVert1stPass.txt"},
    {nullptr, Stage::Vertex, false, "shader/ImpostorVert2ndPass.txt"},
    {"init billboard vertex shader", Stage::Vertex, true, "shader/glsl/ImpostorVertSinglePass.txt"},
    {"init background (skybox) vertex shader", Stage::Vertex, true, "shader/glsl/BackgroundVert.txt"},
    {"init line (colored wireframe) vertex shader", Stage::Vertex, true, "shader/glsl/LineVert.txt"},
    {"init terrain vertex shader", Stage::Vertex, true, "shader/glsl/TerrainVert.txt"},
    {"init gouraud fragment shader", Stage::Fragment, true, "shader/glsl/GouraudFrag.txt"},
    {"init phong fragment shader", Stage::Fragment, true, "shader/glsl/PhongFrag.txt"},
    {nullptr, Stage::Fragment, false, "shader/SurfelFrag.txt"},
    {nullptr, Stage::Fragment, false, "shader/NormalizationFrag.txt"},
    {nullptr, Stage::Fragment, false, "shader/ImpostorFrag.txt"},
    {nullptr, Stage::Fragment, false, "shader/ImpostorFrag1stPass.txt"},
    {nullptr, Stage::Fragment, false, "shader/ImpostorFrag2ndPass.txt"},
    {"init billboard fragment shader", Stage::Fragment, true, "shader/glsl/ImpostorFragSinglePass.txt"},
    {"init billboard fragment shader for quantisation", Stage::Fragment, true,
     "shader/glsl/QuantImpostorFragSinglePass.txt"},
    {"init background (skybox) fragment shader", Stage::Fragment, true, "shader/glsl/BackgroundFrag.txt"},
    {"init line (wireframe) fragment shader", Stage::Fragment, true, "shader/glsl/LineFrag.txt"},
    {"init terrain fragment shader", Stage::Fragment, true, "shader/glsl/TerrainFrag.txt"},
};

const ShaderEntry kInstanceShaders[VInstanceShaders::kShaderCount] = {
    {"init billboard vertex shader", Stage::Vertex, true, "shader/glsl/ImpostorVertSinglePassSelect.txt"},
    {"init billboard fragment shader", Stage::Fragment, true, "shader/glsl/ImpostorFragSinglePass.txt"},
    {"init wireframe vertex shader for billboards", Stage::Vertex, true, "shader/glsl/WireFrameSelectVert.txt"},
    {"init wireframe vertex shader for triangles", Stage::Vertex, true, "shader/glsl/WireFrameVert.txt"},
    {"init triangle vertex shader", Stage::Vertex, true, "shader/glsl/GouraudVert.txt"},
    {"init triangle fragment shader", Stage::Fragment, true, "shader/glsl/GouraudFrag.txt"},
};

VShader* makeShader(const ShaderEntry& entry) {
    VShader* shader = entry.stage == Stage::Vertex
                          ? static_cast<VShader*>(new VVertexShaderFile(entry.glsl, entry.file))
                          : static_cast<VShader*>(new VFragmentShaderFile(entry.glsl, entry.file));
    shader->compile();
    return shader;
}

// Releases and deletes the object in a slot and empties it.
template <typename T> void destroySlot(T*& slot) {
    if (!slot) return;
    slot->release();
    delete slot;
    slot = nullptr;
}

} // namespace

VShader* VViewShaders::shaders[kShaderCount] = {};
VShaderProgram* VViewShaders::billboard = nullptr;
VShaderProgram* VViewShaders::billboardQuant = nullptr;
VShaderProgram* VViewShaders::background = nullptr;
VShaderProgram* VViewShaders::line = nullptr;
VShaderProgram* VViewShaders::terrain = nullptr;
VShaderProgram* VViewShaders::wireframe = nullptr;
VShaderProgram* VViewShaders::gouraud = nullptr;

void VViewShaders::setupShaders() {
    for (int k = 0; k < kShaderCount; ++k) {
        if (kViewShaders[k].message) logOut() << kViewShaders[k].message << "\n";
        if (!shaders[k]) shaders[k] = makeShader(kViewShaders[k]);
    }
    struct ProgramEntry {
        const char* message;
        VShaderProgram*& slot;
        int vertex, fragment; // indices into shaders; -1 for none
    };
    const ProgramEntry programTable[] = {
        {"create billboard shader program", billboard, 8, 19},
        {"create billboard shader program with quantization", billboardQuant, 8, 20},
        {"create background (skybox) shader program", background, 9, 21},
        {"create line (wireframe) shader program", line, 10, 22},
        {"create terrain shader program", terrain, 11, 23},
        {"create wireframe shader program", wireframe, 0, -1},
        {"create gouraud shader program", gouraud, 1, 12},
    };
    for (const ProgramEntry& p : programTable) {
        logOut() << p.message << "\n";
        if (!p.slot) p.slot = new VShaderProgram(true, shaders[p.vertex], p.fragment < 0 ? nullptr : shaders[p.fragment]);
    }
    VConfiguration::mQuantShader = billboardQuant;
}

void VViewShaders::destroy() {
    for (VShaderProgram** slot : {&billboard, &wireframe, &gouraud, &billboardQuant, &background, &line, &terrain})
        destroySlot(*slot);
    for (VShader*& shader : shaders) destroySlot(shader);
    VConfiguration::mQuantShader = nullptr;
}

void VViewShaders::reloadShader() {
    destroy();
    setupShaders();
    VInstanceShaders::reloadShaders();
}

std::vector<NamedProgram> VViewShaders::programs() {
    return {{"billboard", billboard},   {"billboard with quantization", billboardQuant},
            {"background", background}, {"line", line},
            {"terrain", terrain},       {"wireframe", wireframe},
            {"gouraud", gouraud}};
}

VShader* VInstanceShaders::shaders[kShaderCount] = {};
VLODShaderProgram* VInstanceShaders::billboard = nullptr;
VLODShaderProgram* VInstanceShaders::billboardWireframe = nullptr;
VShaderProgram* VInstanceShaders::wireframe = nullptr;
VShaderProgram* VInstanceShaders::triangle = nullptr;

void VInstanceShaders::setupShaders() {
    for (int k = 0; k < kShaderCount; ++k)
        if (!shaders[k]) {
            logOut() << kInstanceShaders[k].message << "\n";
            shaders[k] = makeShader(kInstanceShaders[k]);
        }
    if (!billboard) {
        logOut() << "create billboard shader program\n";
        billboard = new VLODShaderProgram(shaders[0], shaders[1]);
    }
    if (!billboardWireframe) {
        logOut() << "create wireframe shader program for billboards\n";
        billboardWireframe = new VLODShaderProgram(shaders[2], nullptr);
    }
    if (!wireframe) {
        logOut() << "create wireframe shader program\n";
        wireframe = new VShaderProgram(true, shaders[3], nullptr);
    }
    if (!triangle) {
        logOut() << "create triangle shader program\n";
        triangle = new VShaderProgram(true, shaders[4], shaders[5]);
    }
}

void VInstanceShaders::destroy() {
    destroySlot(billboard);
    destroySlot(wireframe);
    destroySlot(triangle);
    destroySlot(billboardWireframe);
    for (VShader*& shader : shaders) destroySlot(shader);
}

void VInstanceShaders::reloadShaders() {
    destroy();
    setupShaders();
}

std::vector<NamedProgram> VInstanceShaders::programs() {
    return {{"billboard", billboard},
            {"wireframe for billboards", billboardWireframe},
            {"wireframe", wireframe},
            {"triangle", triangle}};
}

bool shaderCompiled(const VShader& shader, std::string* log) {
    if (shader.id == kNoGLName) {
        if (log) *log = "no code available";
        return false;
    }
    if (!shader.isGLSL) return true; // an assembly syntax error ends the program
    GLint status = GL_FALSE;
    ext::glGetShaderiv(shader.id, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE && log) *log = glInfoLog(shader.id);
    return status == GL_TRUE;
}

bool programLinked(const VShaderProgram& program, std::string* log) {
    if (!program.isGLSL) return true;
    if (program.id == kNoGLName) {
        if (log) *log = "no program object";
        return false;
    }
    GLint status = GL_FALSE;
    ext::glGetProgramiv(program.id, GL_LINK_STATUS, &status);
    if (status != GL_TRUE && log) *log = glInfoLog(program.id);
    return status == GL_TRUE;
}

std::string programProblem(const VShaderProgram& program) {
    for (const VShader* stage : {program.vertexShader, program.fragmentShader}) {
        std::string log;
        if (!stage || shaderCompiled(*stage, &log)) continue;
        const char* file = stage == program.vertexShader
                               ? static_cast<const VVertexShaderFile*>(stage)->fileName
                               : static_cast<const VFragmentShaderFile*>(stage)->fileName;
        return std::string(file) + " did not compile: " + log;
    }
    std::string log;
    return programLinked(program, &log) ? std::string() : "did not link: " + log;
}
