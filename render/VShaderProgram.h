#pragma once
// A program binds one vertex and one fragment stage of the same kind (either
// may be absent) and is what drawing code enables and disables. Programs do
// not own their stages.

#include "VShader.h"

class VShaderProgram {
  public:
    GLuint id = kNoGLName;
    bool isGLSL = false;
    VShader* vertexShader = nullptr;
    VShader* fragmentShader = nullptr;

    VShaderProgram(bool glsl, VShader* vertex, VShader* fragment);
    virtual ~VShaderProgram();
    VShaderProgram(const VShaderProgram&) = delete;
    VShaderProgram& operator=(const VShaderProgram&) = delete;

    // Releases what the program holds, then creates, attaches and links anew.
    void init(bool glsl, VShader* vertex, VShader* fragment);
    void attachVertexShader(VShader* shader);
    void attachFragmentShader(VShader* shader);

    virtual void link();
    virtual void release();
    virtual void enable();
    virtual void disable();

  protected:
    // For derived programs, which call init themselves so that their own
    // link() runs (a base constructor would call the base's).
    explicit VShaderProgram(bool glsl) : isGLSL(glsl) {}

  private:
    void attach(VShader*& slot, VShader* shader, const char* stage);
};

// The instance manager's programs: they find the uniforms its selection and
// billboards set.
class VLODShaderProgram : public VShaderProgram {
  public:
    GLint front_tex = -1;
    GLint back_tex = -1;
    GLint sq_proj_const = -1;
    GLint sq_image_error = -1;
    GLint sq_texture_scale_error = -1;

    VLODShaderProgram(VShader* vertex, VShader* fragment);
    void link() override;
};
