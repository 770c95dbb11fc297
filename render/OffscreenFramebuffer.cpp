#include "OffscreenFramebuffer.h"

#include "GLExtensions.h"

bool OffscreenFramebuffer::create(int width, int height, std::string& error) {
    release();
    if (width <= 0 || height <= 0) {
        error = "the picture needs a positive size";
        return false;
    }
    mWidth = width;
    mHeight = height;
    ext::glGenFramebuffersEXT(1, &mFramebuffer);
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, mFramebuffer);
    ext::glGenRenderbuffersEXT(2, mRenderbuffers);
    const GLenum formats[2] = {GL_RGBA8, GL_DEPTH_COMPONENT24};
    const GLenum attachments[2] = {GL_COLOR_ATTACHMENT0_EXT, GL_DEPTH_ATTACHMENT_EXT};
    for (int k = 0; k < 2; ++k) {
        ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, mRenderbuffers[k]);
        ext::glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, formats[k], mWidth, mHeight);
        ext::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, attachments[k], GL_RENDERBUFFER_EXT, mRenderbuffers[k]);
    }
    if (ext::glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) != GL_FRAMEBUFFER_COMPLETE_EXT) {
        error = "the driver refuses a " + std::to_string(width) + "x" + std::to_string(height) + " framebuffer";
        release();
        return false;
    }
    glViewport(0, 0, mWidth, mHeight);
    return true;
}

void OffscreenFramebuffer::release() {
    if (mFramebuffer == 0) return;
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    ext::glDeleteRenderbuffersEXT(2, mRenderbuffers);
    ext::glDeleteFramebuffersEXT(1, &mFramebuffer);
    mFramebuffer = 0;
    mWidth = mHeight = 0;
}

QImage OffscreenFramebuffer::picture() const {
    QImage image(mWidth, mHeight, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, mWidth, mHeight, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    return image.mirrored();
}
