#include "GLExtensions.h"

#include "LogStream.h"

#include <EGL/egl.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

bool vboSupported = false;

namespace ext {
PFNGLPROGRAMENVPARAMETER4FARBPROC glProgramEnvParameter4fARB = nullptr;
PFNGLPROGRAMENVPARAMETER4FVARBPROC glProgramEnvParameter4fvARB = nullptr;
PFNGLPROGRAMLOCALPARAMETER4FARBPROC glProgramLocalParameter4fARB = nullptr;
PFNGLPROGRAMLOCALPARAMETER4FVARBPROC glProgramLocalParameter4fvARB = nullptr;
PFNGLVERTEXATTRIBPOINTERARBPROC glVertexAttribPointerARB = nullptr;
PFNGLENABLEVERTEXATTRIBARRAYARBPROC glEnableVertexAttribArrayARB = nullptr;
PFNGLDISABLEVERTEXATTRIBARRAYARBPROC glDisableVertexAttribArrayARB = nullptr;
PFNGLVERTEXATTRIB4FARBPROC glVertexAttrib4fARB = nullptr;
PFNGLBLENDFUNCSEPARATEPROC glBlendFuncSeparate = nullptr;
PFNGLBINDBUFFERARBPROC glBindBufferARB = nullptr;
PFNGLGENBUFFERSARBPROC glGenBuffersARB = nullptr;
PFNGLBUFFERDATAARBPROC glBufferDataARB = nullptr;
PFNGLDELETEBUFFERSARBPROC glDeleteBuffersARB = nullptr;
PFNGLISRENDERBUFFEREXTPROC glIsRenderbufferEXT = nullptr;
PFNGLBINDRENDERBUFFEREXTPROC glBindRenderbufferEXT = nullptr;
PFNGLDELETERENDERBUFFERSEXTPROC glDeleteRenderbuffersEXT = nullptr;
PFNGLGENRENDERBUFFERSEXTPROC glGenRenderbuffersEXT = nullptr;
PFNGLRENDERBUFFERSTORAGEEXTPROC glRenderbufferStorageEXT = nullptr;
PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC glGetRenderbufferParameterivEXT = nullptr;
PFNGLISFRAMEBUFFEREXTPROC glIsFramebufferEXT = nullptr;
PFNGLBINDFRAMEBUFFEREXTPROC glBindFramebufferEXT = nullptr;
PFNGLDELETEFRAMEBUFFERSEXTPROC glDeleteFramebuffersEXT = nullptr;
PFNGLGENFRAMEBUFFERSEXTPROC glGenFramebuffersEXT = nullptr;
PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC glCheckFramebufferStatusEXT = nullptr;
PFNGLFRAMEBUFFERTEXTURE1DEXTPROC glFramebufferTexture1DEXT = nullptr;
PFNGLFRAMEBUFFERTEXTURE2DEXTPROC glFramebufferTexture2DEXT = nullptr;
PFNGLFRAMEBUFFERTEXTURE3DEXTPROC glFramebufferTexture3DEXT = nullptr;
PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC glFramebufferRenderbufferEXT = nullptr;
PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC glGetFramebufferAttachmentParameterivEXT = nullptr;
PFNGLGENERATEMIPMAPEXTPROC glGenerateMipmapEXT = nullptr;
PFNGLACTIVETEXTUREARBPROC glActiveTextureARB = nullptr;
PFNGLCLIENTACTIVETEXTUREARBPROC glClientActiveTextureARB = nullptr;
PFNGLGETBUFFERSUBDATAARBPROC glGetBufferSubDataARB = nullptr;
PFNGLMULTIDRAWARRAYSPROC glMultiDrawArrays = nullptr;
PFNGLCREATESHADERPROC glCreateShader = nullptr;
PFNGLCREATEPROGRAMPROC glCreateProgram = nullptr;
PFNGLCOMPILESHADERPROC glCompileShader = nullptr;
PFNGLATTACHSHADERPROC glAttachShader = nullptr;
PFNGLDELETEPROGRAMPROC glDeleteProgram = nullptr;
PFNGLDELETESHADERPROC glDeleteShader = nullptr;
PFNGLDETACHSHADERPROC glDetachShader = nullptr;
PFNGLGETPROGRAMIVPROC glGetProgramiv = nullptr;
PFNGLGETPROGRAMINFOLOGPROC glGetProgramInfoLog = nullptr;
PFNGLGETSHADERIVPROC glGetShaderiv = nullptr;
PFNGLGETSHADERINFOLOGPROC glGetShaderInfoLog = nullptr;
PFNGLGETSHADERSOURCEPROC glGetShaderSource = nullptr;
PFNGLISPROGRAMPROC glIsProgram = nullptr;
PFNGLISSHADERPROC glIsShader = nullptr;
PFNGLLINKPROGRAMPROC glLinkProgram = nullptr;
PFNGLSHADERSOURCEPROC glShaderSource = nullptr;
PFNGLUSEPROGRAMPROC glUseProgram = nullptr;
PFNGLGETUNIFORMLOCATIONPROC glGetUniformLocation = nullptr;
PFNGLUNIFORM1FPROC glUniform1f = nullptr;
PFNGLUNIFORM2FPROC glUniform2f = nullptr;
PFNGLUNIFORM3FPROC glUniform3f = nullptr;
PFNGLUNIFORM4FPROC glUniform4f = nullptr;
PFNGLUNIFORM1IPROC glUniform1i = nullptr;
PFNGLUNIFORM2IPROC glUniform2i = nullptr;
PFNGLUNIFORM3IPROC glUniform3i = nullptr;
PFNGLUNIFORM4IPROC glUniform4i = nullptr;
PFNGLUNIFORM1FVPROC glUniform1fv = nullptr;
PFNGLUNIFORM2FVPROC glUniform2fv = nullptr;
PFNGLUNIFORM3FVPROC glUniform3fv = nullptr;
PFNGLUNIFORM4FVPROC glUniform4fv = nullptr;
PFNGLUNIFORM1IVPROC glUniform1iv = nullptr;
PFNGLUNIFORM2IVPROC glUniform2iv = nullptr;
PFNGLUNIFORM3IVPROC glUniform3iv = nullptr;
PFNGLUNIFORM4IVPROC glUniform4iv = nullptr;
PFNGLUNIFORMMATRIX2FVPROC glUniformMatrix2fv = nullptr;
PFNGLUNIFORMMATRIX3FVPROC glUniformMatrix3fv = nullptr;
PFNGLUNIFORMMATRIX4FVPROC glUniformMatrix4fv = nullptr;
PFNGLGETACTIVEUNIFORMPROC glGetActiveUniform = nullptr;
PFNGLPROGRAMSTRINGARBPROC glProgramStringARB = nullptr;
PFNGLBINDPROGRAMARBPROC glBindProgramARB = nullptr;
PFNGLDELETEPROGRAMSARBPROC glDeleteProgramsARB = nullptr;
PFNGLGENPROGRAMSARBPROC glGenProgramsARB = nullptr;
} // namespace ext

namespace {
void* eglLookup(const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); }

GLProcAddressLookup gLookup = eglLookup;
// A copy of the current context's list, fetched once per initExtensions: the
// driver's string goes with its context, which may be destroyed before a
// later query.
std::string gExtensions;
bool gExtensionsFetched = false;
bool gExtensionsListed = false;

// Prints the names with a prefix under a heading and takes them out.
void printGroup(const char* heading, const char* prefix, std::vector<std::string>& names) {
    logOut() << heading << "\n";
    for (auto it = names.begin(); it != names.end();) {
        if (prefix && it->rfind(prefix, 0) != 0) {
            ++it;
            continue;
        }
        logOut() << "\t" << *it << "\n";
        it = names.erase(it);
    }
    logOut() << "\n";
}

void printExtensions(const char* list) {
    std::vector<std::string> names;
    std::istringstream words(list);
    for (std::string name; words >> name;) names.push_back(name);
    printGroup("ARB Extensions:", "GL_ARB", names);
    printGroup("GL Extensions:", "GL_EXT", names);
    printGroup("ATI Extensions:", "GL_ATI", names);
    printGroup("NVidia Extensions:", "GL_NV", names);
    printGroup("Other Extensions:", nullptr, names);
}

template <typename T> void load(T& slot, const char* name) { loadGLFunction(reinterpret_cast<void**>(&slot), name); }
} // namespace

#define LOAD(name) load(ext::name, #name)

namespace {
bool failWith(const std::string& message) {
    logErr() << message << std::flush;
    return false;
}
} // namespace

void setGLProcAddressLookup(GLProcAddressLookup lookup) { gLookup = lookup ? lookup : eglLookup; }

bool isExtensionSupported(const char* name) {
    if (!name || !*name || std::strchr(name, ' ')) return false;
    if (!gExtensionsFetched) {
        const auto* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
        if (!list) return failWith("Unable to get supported OpenGL extensions!\n");
        gExtensions = list;
        gExtensionsFetched = true;
        if (!gExtensionsListed) printExtensions(list); // once per process
        gExtensionsListed = true;
    }
    const char* all = gExtensions.c_str();
    const size_t length = std::strlen(name);
    for (const char* at = all; (at = std::strstr(at, name)) != nullptr; at += length) {
        const bool starts = at == all || at[-1] == ' ';
        const bool ends = at[length] == ' ' || at[length] == '\0';
        if (starts && ends) return true;
    }
    return false;
}

void* loadGLFunction(void** slot, const char* name) {
    *slot = gLookup(name);
    if (!*slot) logErr() << "OpenGL function " << name << " is not supported by your OpenGL driver!\n";
    return *slot;
}

void initARBProgramFunctions() {
    static bool done = false;
    if (done) return;
    done = true;
    ext::glProgramStringARB = reinterpret_cast<PFNGLPROGRAMSTRINGARBPROC>(gLookup("glProgramStringARB"));
    ext::glBindProgramARB = reinterpret_cast<PFNGLBINDPROGRAMARBPROC>(gLookup("glBindProgramARB"));
    ext::glDeleteProgramsARB = reinterpret_cast<PFNGLDELETEPROGRAMSARBPROC>(gLookup("glDeleteProgramsARB"));
    ext::glGenProgramsARB = reinterpret_cast<PFNGLGENPROGRAMSARBPROC>(gLookup("glGenProgramsARB"));
}

bool initExtensions() {
    // The list belongs to the context it came from: a later context (a second
    // view) reads its own, the first one's may be gone.
    gExtensionsFetched = false;
    LOAD(glProgramEnvParameter4fARB);
    LOAD(glProgramEnvParameter4fvARB);
    LOAD(glProgramLocalParameter4fARB);
    LOAD(glProgramLocalParameter4fvARB);
    LOAD(glVertexAttribPointerARB);
    LOAD(glEnableVertexAttribArrayARB);
    LOAD(glDisableVertexAttribArrayARB);
    LOAD(glVertexAttrib4fARB);
    LOAD(glBlendFuncSeparate);

    vboSupported = isExtensionSupported("GL_ARB_vertex_buffer_object");
    logOut() << "hardware supports vertex buffer objects: " << (vboSupported ? 1 : 0) << "\n";
    if (vboSupported) {
        LOAD(glBindBufferARB);
        LOAD(glGenBuffersARB);
        LOAD(glBufferDataARB);
        LOAD(glDeleteBuffersARB);
        LOAD(glGetBufferSubDataARB);
    }
    LOAD(glMultiDrawArrays);

    if (!isExtensionSupported("GL_EXT_framebuffer_object"))
        return failWith("EXT_framebuffer_object extension was not found!\n");
    LOAD(glIsRenderbufferEXT);
    LOAD(glBindRenderbufferEXT);
    LOAD(glDeleteRenderbuffersEXT);
    LOAD(glGenRenderbuffersEXT);
    LOAD(glRenderbufferStorageEXT);
    LOAD(glGetRenderbufferParameterivEXT);
    LOAD(glIsFramebufferEXT);
    LOAD(glBindFramebufferEXT);
    LOAD(glDeleteFramebuffersEXT);
    LOAD(glGenFramebuffersEXT);
    LOAD(glCheckFramebufferStatusEXT);
    LOAD(glFramebufferTexture1DEXT);
    LOAD(glFramebufferTexture2DEXT);
    LOAD(glFramebufferTexture3DEXT);
    LOAD(glFramebufferRenderbufferEXT);
    LOAD(glGetFramebufferAttachmentParameterivEXT);
    LOAD(glGenerateMipmapEXT);

    if (isExtensionSupported("GL_EXT_texture_rectangle") || isExtensionSupported("GL_NV_texture_rectangle")) {
        GLint size = 0;
        glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE_ARB, &size);
        logOut() << "GL_EXT_texture_rectangle is supported: \n\tmaximum texture size: " << size << "\n";
    } else {
        logOut() << "GL_EXT_texture_rectangle is not supported!\n";
    }

    LOAD(glActiveTextureARB);
    LOAD(glClientActiveTextureARB);

    if (!isExtensionSupported("GL_ARB_shader_objects"))
        return failWith("Shader objects are not supported by this graphical hardwaree (GL_ARB_shader_objects)!\n");
    LOAD(glCreateShader);
    LOAD(glCreateProgram);
    LOAD(glCompileShader);
    LOAD(glAttachShader);
    LOAD(glDeleteProgram);
    LOAD(glDeleteShader);
    LOAD(glDetachShader);
    LOAD(glGetProgramiv);
    LOAD(glGetProgramInfoLog);
    LOAD(glGetShaderiv);
    LOAD(glGetShaderInfoLog);
    LOAD(glGetShaderSource);
    LOAD(glIsProgram);
    LOAD(glIsShader);
    LOAD(glLinkProgram);
    LOAD(glShaderSource);
    LOAD(glUseProgram);
    LOAD(glGetUniformLocation);
    LOAD(glUniform1f);
    LOAD(glUniform2f);
    LOAD(glUniform3f);
    LOAD(glUniform4f);
    LOAD(glUniform1i);
    LOAD(glUniform2i);
    LOAD(glUniform3i);
    LOAD(glUniform4i);
    LOAD(glUniform1fv);
    LOAD(glUniform2fv);
    LOAD(glUniform3fv);
    LOAD(glUniform4fv);
    LOAD(glUniform1iv);
    LOAD(glUniform2iv);
    LOAD(glUniform3iv);
    LOAD(glUniform4iv);
    LOAD(glUniformMatrix2fv);
    LOAD(glUniformMatrix3fv);
    LOAD(glUniformMatrix4fv);
    LOAD(glGetActiveUniform);

    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    return true;
}

// Impostors rendered into an incomplete framebuffer would be garbage: the
// caller abandons the rendering.
bool checkFramebufferStatus() {
    const GLenum status = ext::glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    if (status == GL_FRAMEBUFFER_COMPLETE_EXT) return true;
    if (status == GL_FRAMEBUFFER_UNSUPPORTED_EXT) return failWith("frambuffer status: GL_FRAMEBUFFER_UNSUPPORTED_EXT\n");
    return failWith("unknown framebuffer status (" + std::to_string(status) + ")\n");
}

bool checkProgramError(const char* programName) {
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR) return true;
    if (error != GL_INVALID_OPERATION) return failWith("Unknown error!\n");
    logErr() << "VOR glGetIntegerv()\n";
    GLint position = 0;
    glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
    const char* reason = reinterpret_cast<const char*>(glGetString(GL_PROGRAM_ERROR_STRING_ARB));
    return failWith(std::string("Syntax error in program ") + (programName ? programName : "") +
                    "!\n\terror at position: " + std::to_string(position) + "\n\treason: " + (reason ? reason : "") +
                    "\n");
}
