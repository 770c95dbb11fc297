#pragma once
// The two shader sets the viewer builds at OpenGL initialisation: the view
// widget's (24 stages, 7 programs) and the instance manager's (6 stages, 4
// programs). Each keeps its objects in static slots, creates only what is
// missing, and can drop and rebuild everything so that edited shader files
// are picked up without a restart. Plain classes: the widget and the manager
// call them, and so do the command-line tool and the tests.

#include "VShaderProgram.h"

#include <string>
#include <vector>

// A program of a set, for listing them.
struct NamedProgram {
    const char* name;
    VShaderProgram* program;
};

class VViewShaders {
  public:
    static constexpr int kShaderCount = 24;
    static VShader* shaders[kShaderCount]; // in the order of the set-up table

    static VShaderProgram* billboard;
    static VShaderProgram* billboardQuant; // also VConfiguration::mQuantShader
    static VShaderProgram* background;
    static VShaderProgram* line;
    static VShaderProgram* terrain;
    static VShaderProgram* wireframe;
    static VShaderProgram* gouraud;

    // Creates what is missing; prints every entry's message on every call.
    static void setupShaders();
    // Deletes every program and stage; the slots are empty afterwards.
    static void destroy();
    // Destroys and sets up again, then reloads the instance manager's set.
    static void reloadShader();
    static std::vector<NamedProgram> programs();
};

class VInstanceShaders {
  public:
    static constexpr int kShaderCount = 6;
    static VShader* shaders[kShaderCount];

    static VLODShaderProgram* billboard;
    static VLODShaderProgram* billboardWireframe;
    static VShaderProgram* wireframe;
    static VShaderProgram* triangle;

    // Creates what is missing; prints a message only for what it creates.
    static void setupShaders();
    static void destroy();
    static void reloadShaders();
    static std::vector<NamedProgram> programs();
};

// Whether a stage compiled (GLSL) or loaded (assembly), and whether a GLSL
// program linked; with the log when not.
bool shaderCompiled(const VShader& shader, std::string* log = nullptr);
bool programLinked(const VShaderProgram& program, std::string* log = nullptr);
// Why a program of a set cannot draw: the first stage that did not compile,
// named by its file, or the link log; empty when it can.
std::string programProblem(const VShaderProgram& program);
