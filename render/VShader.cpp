#include "VShader.h"

#include "GLExtensions.h"
#include "LoadFile.h"
#include "LogStream.h"

#include <algorithm>
#include <filesystem>
#include <cstring>

namespace {
std::string gShaderRoot;
}

void setShaderRoot(const std::string& directory) { gShaderRoot = directory; }

void useShadersBesideOr(const std::string& sourceTree) {
    setShaderRoot(std::filesystem::is_directory("shader") ? "" : sourceTree);
}

std::string shaderPath(const char* fileName) {
    if (gShaderRoot.empty() || !fileName || fileName[0] == '/') return fileName ? fileName : ""; // absolute names stay
    return gShaderRoot + "/" + fileName;
}

std::string glInfoLog(GLuint object) {
    const bool shader = ext::glIsShader(object);
    GLint length = 0;
    if (shader)
        ext::glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        ext::glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0) return "";
    std::string log(size_t(length), '\0');
    GLsizei written = 0;
    if (shader)
        ext::glGetShaderInfoLog(object, length, &written, log.data());
    else
        ext::glGetProgramInfoLog(object, length, &written, log.data());
    log.resize(size_t(std::max<GLsizei>(written, 0)));
    return log;
}

void printInfoLog(GLuint object) {
    const std::string log = glInfoLog(object);
    if (!log.empty()) logOut() << (ext::glIsShader(object) ? "Shader log:\n" : "Program log:\n") << log << "\n";
}

VShader::VShader(bool glsl) : isGLSL(glsl) { initARBProgramFunctions(); }

VShader::~VShader() = default;

void VShader::compile() {
    const std::unique_ptr<char[]> source = loadSource();
    if (!source) {
        logErr() << "no code available!\n";
        return;
    }
    compileSource(source.get());
}

void VShader::release() {
    if (id != kNoGLName) {
        if (isGLSL)
            ext::glDeleteShader(id);
        else
            ext::glDeleteProgramsARB(1, &id);
    }
    id = kNoGLName;
}

void VShader::compileStage(const char* source, GLenum arbTarget, GLenum glslType, const char* displayName) {
    if (!isGLSL) {
        if (id != kNoGLName) release();
        // Errors left by earlier calls must not be taken for this program's.
        while (glGetError() != GL_NO_ERROR) {
        }
        ext::glGenProgramsARB(1, &id);
        bindStage(arbTarget);
        ext::glProgramStringARB(arbTarget, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(std::strlen(source)), source);
        // A broken program is left unmade (id kNoGLName), as a missing file is.
        if (!checkProgramError(displayName)) release();
        return;
    }
    if (id != kNoGLName && ext::glIsShader(id)) release();
    id = ext::glCreateShader(glslType);
    ext::glShaderSource(id, 1, &source, nullptr);
    ext::glCompileShader(id);
    printInfoLog(id);
}

void VShader::bindStage(GLenum arbTarget) {
    if (!isGLSL) ext::glBindProgramARB(arbTarget, id);
}

void VVertexShader::compileSource(const char* source) {
    compileStage(source, GL_VERTEX_PROGRAM_ARB, GL_VERTEX_SHADER, "vertex shader");
}

void VVertexShader::bind() { bindStage(GL_VERTEX_PROGRAM_ARB); }

void VFragmentShader::compileSource(const char* source) {
    compileStage(source, GL_FRAGMENT_PROGRAM_ARB, GL_FRAGMENT_SHADER, "pixel shader");
}

void VFragmentShader::bind() { bindStage(GL_FRAGMENT_PROGRAM_ARB); }

std::unique_ptr<char[]> VVertexShaderFile::loadSource() const {
    return fileName ? loadFileIntoCString(shaderPath(fileName)) : nullptr;
}

std::unique_ptr<char[]> VFragmentShaderFile::loadSource() const {
    return fileName ? loadFileIntoCString(shaderPath(fileName)) : nullptr;
}
