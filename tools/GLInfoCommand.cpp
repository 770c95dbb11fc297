// The glinfo command: the driver, the extensions the viewer needs and uses,
// and whether every shader program compiles.

#include "ToolCommon.h"

#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "LogStream.h"
#include "ShaderSets.h"
#include "VConfiguration.h"

#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

namespace {
// Extensions the viewer requires, then those it uses when present.
const char* kRequiredExtensions[] = {"GL_EXT_framebuffer_object", "GL_ARB_shader_objects"};
const char* kOptionalExtensions[] = {"GL_ARB_vertex_buffer_object", "GL_EXT_texture_rectangle",
                                     "GL_NV_texture_rectangle",     "GL_ARB_vertex_program",
                                     "GL_ARB_fragment_program",     "GL_ARB_multitexture"};

// Prints one line per program of a set; false when a program or one of its
// stages failed.
bool reportPrograms(const char* set, const std::vector<NamedProgram>& programs) {
    bool allGood = true;
    for (const NamedProgram& p : programs) {
        const std::string problem = programProblem(*p.program);
        std::cout << set << " " << p.name << ": " << (problem.empty() ? "ok" : problem) << "\n";
        allGood = allGood && problem.empty();
    }
    return allGood;
}
} // namespace

int runGLInfo(int argc, char** argv) {
    std::string shaderRoot = std::filesystem::is_directory("shader") ? "" : MORVA_SHADER_ROOT;
    for (int k = 0; k < argc; ++k) {
        if (std::strcmp(argv[k], "--shaders") == 0 && k + 1 < argc)
            shaderRoot = argv[++k];
        else
            return usageError(std::string("glinfo: unknown argument '") + argv[k] + "'");
    }
    GLHeadlessContext context;
    if (!context.create()) {
        std::cerr << "morva: cannot create an OpenGL context: " << context.lastError() << "\n";
        return kExitFailure;
    }
    std::cout << "vendor: " << glGetString(GL_VENDOR) << "\n"
              << "renderer: " << glGetString(GL_RENDERER) << "\n"
              << "version: " << glGetString(GL_VERSION) << "\n";
    // The loader's own listing and the shader logs would bury the summary.
    std::optional<LogCapture> loader(std::in_place);
    bool required = true;
    for (const char* name : kRequiredExtensions) {
        const bool present = isExtensionSupported(name);
        required = required && present;
        std::cout << name << ": " << (present ? "yes" : "no") << "\n";
    }
    for (const char* name : kOptionalExtensions)
        std::cout << name << ": " << (isExtensionSupported(name) ? "yes" : "no") << "\n";
    if (!required) {
        loader.reset();
        std::cerr << "morva: the driver lacks a required extension\n";
        return kExitFailure;
    }
    if (!initExtensions() || !VConfiguration::init()) {
        const std::string listing = loader->text();
        loader.reset();
        std::cerr << "morva: the OpenGL driver is not usable:\n" << lastLineOf(listing) << "\n";
        return kExitFailure;
    }
    std::cout << "mUseATI: " << (VConfiguration::mUseATI ? "true" : "false") << "\n";
    setShaderRoot(shaderRoot);
    VViewShaders::setupShaders();
    VInstanceShaders::setupShaders();
    loader.reset();
    const bool view = reportPrograms("view", VViewShaders::programs());
    const bool instance = reportPrograms("instance", VInstanceShaders::programs());
    VViewShaders::destroy();
    VInstanceShaders::destroy();
    return view && instance ? 0 : kExitFailure;
}
