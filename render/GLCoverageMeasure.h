#pragma once
// The coverage measure drawn with OpenGL: the triangles go into an
// off-screen kImageSize x kImageSize depth image, seen orthographically
// along the rectangle's normal, and the pixels whose depth left the cleared
// value are counted.
//
// Every call needs the context it was first used in to be current. The
// framebuffer object (a depth renderbuffer plus an RGBA8 colour renderbuffer,
// since a framebuffer without a colour image is incomplete where the draw
// buffer still names attachment 0) is made on first use and kept until
// release(). The destructor makes no GL call, because the object may outlive
// its context or be destroyed on a thread without one: call release() while
// the context is still current; names not released go with the context.
//
// A call leaves the context as it found it: matrices and matrix mode,
// viewport and depth range, colour and depth masks, depth test and function,
// clear depth, the enables it turns off (culling, scissor, stencil, alpha
// test, clip planes, polygon offset, depth clamp, assembly programs),
// polygon mode, pixel pack settings, the GLSL program, and the framebuffer
// and renderbuffer bindings. It clears no OpenGL error the caller left pending and leaves
// none of its own. It assumes no pixel pack buffer is bound.

#include "CoverageMeasure.h"

#include <GL/gl.h>

#include <string>
#include <vector>

class GLCoverageMeasure : public CoverageMeasure {
  public:
    // What the driver offers beyond the framebuffer objects, looked up once.
    struct DriverSupport {
        bool separateReadBinding = false; // draw and read framebuffers bind apart
        bool vertexProgram = false, fragmentProgram = false, depthClamp = false;
        GLint clipPlanes = 0;
    };

    GLCoverageMeasure() = default;
    ~GLCoverageMeasure() override = default;
    GLCoverageMeasure(const GLCoverageMeasure&) = delete;
    GLCoverageMeasure& operator=(const GLCoverageMeasure&) = delete;

    // Draws the complete triangles among triangleCorners (a trailing one or
    // two corners are ignored). 0 when the view has no area or no usable
    // direction (a zero side, a zero normal, a normal along sideV(),
    // non-finite values), and when the framebuffer cannot be made: then
    // lastError() says why.
    double coverage(const FittedRectangle& view, std::span<const Vec3f> triangleCorners) override;

    // Makes the framebuffer object unless it exists: false, with the reason
    // in lastError(), when the driver reports it incomplete. coverage() calls
    // it; a caller may call it first to learn about a failure up front.
    bool prepare();
    // Deletes the framebuffer object; the next coverage() makes it anew.
    void release();

    const std::string& lastError() const { return mError; }

  private:
    GLuint mFramebuffer = 0;
    GLuint mDepthBuffer = 0;
    GLuint mColorBuffer = 0;
    DriverSupport mSupport;
    std::vector<float> mDepth; // the read-back image, kept between calls
    std::string mError;
};
