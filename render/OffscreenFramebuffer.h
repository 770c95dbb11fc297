#pragma once
// A colour and depth framebuffer of a given size that frames are drawn into
// headless (the surfaceless context has none of its own), and read back as
// a picture. Needs a current context with the extension entry points loaded.

#include <QImage>

#include <string>

class OffscreenFramebuffer {
  public:
    OffscreenFramebuffer() = default;
    OffscreenFramebuffer(const OffscreenFramebuffer&) = delete;
    OffscreenFramebuffer& operator=(const OffscreenFramebuffer&) = delete;
    ~OffscreenFramebuffer() { release(); }

    // Makes, binds it and sets the viewport to it; false with the reason
    // (nothing is kept then).
    bool create(int width, int height, std::string& error);
    void release();

    // The colour buffer, top row first.
    QImage picture() const;
    int width() const { return mWidth; }
    int height() const { return mHeight; }

  private:
    unsigned mFramebuffer = 0, mRenderbuffers[2] = {0, 0};
    int mWidth = 0, mHeight = 0;
};
