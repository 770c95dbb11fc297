#include "VShaderProgram.h"

#include "GLExtensions.h"
#include "LogStream.h"

VShaderProgram::VShaderProgram(bool glsl, VShader* vertex, VShader* fragment) : isGLSL(glsl) {
    init(glsl, vertex, fragment);
}

VShaderProgram::~VShaderProgram() = default;

void VShaderProgram::init(bool glsl, VShader* vertex, VShader* fragment) {
    release();
    isGLSL = glsl;
    id = glsl ? ext::glCreateProgram() : kNoGLName;
    attachVertexShader(vertex);
    attachFragmentShader(fragment);
    link();
}

void VShaderProgram::attach(VShader*& slot, VShader* shader, const char* stage) {
    if (isGLSL && slot) {
        if (slot->id != kNoGLName) ext::glDetachShader(id, slot->id);
        slot = nullptr;
    }
    if (!shader) return;
    if (shader->isGLSL != isGLSL) {
        logErr() << (isGLSL ? "Can not attach non GLSL " : "Can not attach GLSL ") << stage
                 << (isGLSL ? " shader to GLSL shader program!\n" : " shader to non GLSL shader program!\n");
        return;
    }
    slot = shader;
    // A stage whose file was missing has no object; the program links without it.
    if (isGLSL && shader->id != kNoGLName) ext::glAttachShader(id, shader->id);
}

void VShaderProgram::attachVertexShader(VShader* shader) { attach(vertexShader, shader, "vertex"); }

void VShaderProgram::attachFragmentShader(VShader* shader) { attach(fragmentShader, shader, "fragment"); }

void VShaderProgram::link() {
    if (!isGLSL) return;
    ext::glLinkProgram(id);
    printInfoLog(id);
}

void VShaderProgram::release() {
    if (isGLSL && id != kNoGLName && ext::glIsProgram(id)) ext::glDeleteProgram(id);
    id = kNoGLName;
}

void VShaderProgram::enable() {
    if (isGLSL) {
        ext::glUseProgram(id);
        return;
    }
    if (vertexShader) {
        glEnable(GL_VERTEX_PROGRAM_ARB);
        vertexShader->bind();
    }
    if (fragmentShader) {
        glEnable(GL_FRAGMENT_PROGRAM_ARB);
        fragmentShader->bind();
    }
}

void VShaderProgram::disable() {
    if (isGLSL) {
        ext::glUseProgram(0);
        return;
    }
    if (vertexShader) glDisable(GL_VERTEX_PROGRAM_ARB);
    if (fragmentShader) glDisable(GL_FRAGMENT_PROGRAM_ARB);
}

VLODShaderProgram::VLODShaderProgram(VShader* vertex, VShader* fragment) : VShaderProgram(true) {
    init(true, vertex, fragment);
}

void VLODShaderProgram::link() {
    VShaderProgram::link();
    if (id == kNoGLName) return;
    sq_proj_const = ext::glGetUniformLocation(id, "sq_proj_const");
    sq_image_error = ext::glGetUniformLocation(id, "sq_image_error");
    sq_texture_scale_error = ext::glGetUniformLocation(id, "sq_texture_scale_error");
    if (fragmentShader) {
        front_tex = ext::glGetUniformLocation(id, "front_tex");
        back_tex = ext::glGetUniformLocation(id, "back_tex");
    }
}
