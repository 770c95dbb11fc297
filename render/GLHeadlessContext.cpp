#include "GLHeadlessContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>
#include <vector>

namespace {
bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t length = std::strlen(name);
    for (const char* at = list; (at = std::strstr(at, name)) != nullptr; at += length)
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
    return false;
}

// Mesa's surfaceless platform first; then the first device that initialises.
EGLDisplay openDisplay() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) return EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    }
    if (!hasExtension(clientExtensions, "EGL_EXT_platform_device")) return EGL_NO_DISPLAY;
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (!queryDevices) return EGL_NO_DISPLAY;
    EGLint count = 0;
    if (!queryDevices(0, nullptr, &count) || count <= 0) return EGL_NO_DISPLAY;
    std::vector<EGLDeviceEXT> devices(static_cast<size_t>(count));
    if (!queryDevices(count, devices.data(), &count)) return EGL_NO_DISPLAY;
    for (EGLint k = 0; k < count; ++k) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[size_t(k)], nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    }
    return EGL_NO_DISPLAY;
}
} // namespace

GLHeadlessContext::~GLHeadlessContext() { destroy(); }

bool GLHeadlessContext::fail(const std::string& message) {
    mError = message;
    destroy();
    return false;
}

bool GLHeadlessContext::create() {
    destroy();
    EGLDisplay display = openDisplay();
    if (display == EGL_NO_DISPLAY)
        return fail("no EGL display: neither Mesa's surfaceless platform nor an EGL device is available "
                    "(install libegl-mesa0 and libgl1-mesa-dri)");
    mDisplay = display;
    if (!hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context"))
        return fail("the EGL display cannot make a context current without a surface");
    if (!eglBindAPI(EGL_OPENGL_API)) return fail("the EGL display offers no desktop OpenGL");
    // A context without a surface needs no particular configuration where
    // the display says so; otherwise any one that renders desktop OpenGL.
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (!hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_no_config_context")) {
        const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                           EGL_NONE};
        EGLint configs = 0;
        if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1)
            return fail("no EGL configuration renders desktop OpenGL");
    }
    // The viewer draws with fixed-function state and assembly programs.
    const EGLint contextAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) return fail("no compatibility-profile OpenGL context could be created");
    mContext = context;
    if (!makeCurrent()) return fail("the OpenGL context could not be made current");
    return true;
}

bool GLHeadlessContext::makeCurrent() {
    return mContext && eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, mContext) == EGL_TRUE;
}

void GLHeadlessContext::destroy() {
    if (mDisplay) {
        eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (mContext) eglDestroyContext(mDisplay, mContext);
        eglTerminate(mDisplay);
    }
    mDisplay = nullptr;
    mContext = nullptr;
}
