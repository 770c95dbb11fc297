#pragma once
// Shader stages that hide whether they are assembly programs of the ARB
// program extensions or GLSL shader objects. Only the file-backed kinds are
// ever made; their sources are read at compile time, so an edited file is
// picked up by compiling again.

#include <GL/gl.h>

#include <memory>
#include <string>

constexpr GLuint kNoGLName = ~0u;

// Where shader file names are resolved; empty means the working directory.
void setShaderRoot(const std::string& directory);
// Shader sources from ./shader when the working directory has them (an
// installed or edited copy), else from sourceTree.
void useShadersBesideOr(const std::string& sourceTree);
std::string shaderPath(const char* fileName);

// The info log of a shader or program object.
std::string glInfoLog(GLuint object);
// Prints it when it is not empty.
void printInfoLog(GLuint object);

class VShader {
  public:
    GLuint id = kNoGLName;
    bool isGLSL = false;

    explicit VShader(bool glsl);
    virtual ~VShader();
    VShader(const VShader&) = delete;
    VShader& operator=(const VShader&) = delete;

    // Loads the source and compiles it; "no code available!" without one.
    virtual void compile();
    virtual void compileSource(const char* source) = 0;
    virtual void release();
    // Binds an assembly program to its stage; GLSL stages bind through
    // their program.
    virtual void bind() = 0;
    virtual bool ownsSource() const { return false; }
    virtual std::unique_ptr<char[]> loadSource() const { return nullptr; }

  protected:
    void compileStage(const char* source, GLenum arbTarget, GLenum glslType, const char* displayName);
    void bindStage(GLenum arbTarget);
};

class VVertexShader : public VShader {
  public:
    using VShader::VShader;
    void compileSource(const char* source) override;
    void bind() override;
};

class VFragmentShader : public VShader {
  public:
    using VShader::VShader;
    void compileSource(const char* source) override;
    void bind() override;
};

class VVertexShaderFile : public VVertexShader {
  public:
    const char* fileName; // not owned

    VVertexShaderFile(bool glsl, const char* file) : VVertexShader(glsl), fileName(file) {}
    bool ownsSource() const override { return true; }
    std::unique_ptr<char[]> loadSource() const override;
};

class VFragmentShaderFile : public VFragmentShader {
  public:
    const char* fileName; // not owned

    VFragmentShaderFile(bool glsl, const char* file) : VFragmentShader(glsl), fileName(file) {}
    bool ownsSource() const override { return true; }
    std::unique_ptr<char[]> loadSource() const override;
};
