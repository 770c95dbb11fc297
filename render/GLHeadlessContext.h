#pragma once
// A desktop OpenGL context (compatibility profile) without a window, display
// or X server, for the command-line tool and the tests: EGL on Mesa's
// surfaceless platform, or on a GPU device where a vendor driver offers no
// such platform. There is no default framebuffer: draw into framebuffer
// objects.

#include <string>

class GLHeadlessContext {
  public:
    GLHeadlessContext() = default;
    ~GLHeadlessContext();
    GLHeadlessContext(const GLHeadlessContext&) = delete;
    GLHeadlessContext& operator=(const GLHeadlessContext&) = delete;

    // Creates the context and makes it current. False, with the reason in
    // lastError(), when no EGL display or context can be had.
    bool create();
    bool makeCurrent();
    void destroy();
    bool valid() const { return mContext != nullptr; }
    const std::string& lastError() const { return mError; }

  private:
    bool fail(const std::string& message);

    void* mDisplay = nullptr; // EGLDisplay
    void* mContext = nullptr; // EGLContext
    std::string mError;
};
