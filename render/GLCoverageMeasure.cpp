#include "GLCoverageMeasure.h"

#include "GLExtensions.h"

#include <cmath>
#include <optional>
#include <sstream>

namespace {
constexpr double kEyeDistance = 100.0; // along the normal, in units of the normal's length
constexpr double kNear = 0.001;
constexpr double kFar = 10000.0;
constexpr size_t kPixelCount = size_t(CoverageMeasure::kImageSize) * CoverageMeasure::kImageSize;

// The orthographic extents and the modelview matrix (column-major) of one view.
struct ViewTransform {
    double halfWidth = 0, halfHeight = 0;
    double modelview[16] = {};
};

// What the drawing changes that the attribute stacks do not hold.
struct SavedState {
    GLint drawFramebuffer = 0, readFramebuffer = 0;
    GLint program = 0;
    GLdouble projection[16] = {}, modelview[16] = {};
    GLboolean colorMask[4] = {};
    GLfloat depthScale = 1, depthBias = 0;
};

bool isFinite(const Vec3d& a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// The camera of a look-at: eye at centre + 100 normal, looking at the
// centre, sideV() as up. Empty when the view has no area or no direction.
std::optional<ViewTransform> makeViewTransform(const FittedRectangle& view) {
    ViewTransform t;
    t.halfWidth = length(view.sideU()) / 2;
    t.halfHeight = length(view.sideV()) / 2;
    const Vec3d centre = view.centre();
    const Vec3d eye = centre + view.normal * kEyeDistance;
    if (!(t.halfWidth > 0) || !(t.halfHeight > 0) || !std::isfinite(t.halfWidth) ||
        !std::isfinite(t.halfHeight) || !isFinite(eye))
        return std::nullopt;
    const Vec3d toCentre = centre - eye;
    const Vec3d across = cross(toCentre, view.sideV());
    const double toCentreLength = length(toCentre), acrossLength = length(across);
    if (!(toCentreLength > 0) || !(acrossLength > 0)) return std::nullopt;
    const Vec3d forward = toCentre / toCentreLength;
    const Vec3d side = across / acrossLength;
    const Vec3d up = cross(side, forward);
    const Vec3d rows[3] = {side, up, -forward};
    for (int r = 0; r < 3; ++r) {
        t.modelview[0 + r] = rows[r].x;
        t.modelview[4 + r] = rows[r].y;
        t.modelview[8 + r] = rows[r].z;
        t.modelview[12 + r] = -dot(rows[r], eye);
    }
    t.modelview[15] = 1;
    return t;
}

void bindFramebuffers(GLint draw, GLint read, bool separateRead) {
    if (separateRead && draw != read) {
        ext::glBindFramebufferEXT(GL_DRAW_FRAMEBUFFER_EXT, GLuint(draw));
        ext::glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, GLuint(read));
    } else {
        ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GLuint(draw));
    }
}

// Pushes the attribute groups the drawing changes and reads the rest.
SavedState saveState(bool separateRead) {
    glPushAttrib(GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT | GL_POLYGON_BIT | GL_TRANSFORM_BIT | GL_VIEWPORT_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    SavedState s;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &s.drawFramebuffer);
    s.readFramebuffer = s.drawFramebuffer;
    if (separateRead) glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING_EXT, &s.readFramebuffer);
    glGetIntegerv(GL_CURRENT_PROGRAM, &s.program);
    // Matrices by value: the projection stack may be only two deep.
    glGetDoublev(GL_PROJECTION_MATRIX, s.projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, s.modelview);
    glGetBooleanv(GL_COLOR_WRITEMASK, s.colorMask);
    glGetFloatv(GL_DEPTH_SCALE, &s.depthScale);
    glGetFloatv(GL_DEPTH_BIAS, &s.depthBias);
    return s;
}

void restoreState(const SavedState& s, bool separateRead) {
    bindFramebuffers(s.drawFramebuffer, s.readFramebuffer, separateRead);
    ext::glUseProgram(GLuint(s.program));
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(s.projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(s.modelview);
    glColorMask(s.colorMask[0], s.colorMask[1], s.colorMask[2], s.colorMask[3]);
    glPixelTransferf(GL_DEPTH_SCALE, s.depthScale);
    glPixelTransferf(GL_DEPTH_BIAS, s.depthBias);
    glPopClientAttrib();
    glPopAttrib(); // last: it restores the matrix mode
}

// Everything that could drop or move a fragment is off, so that only the
// geometry decides which pixels are covered.
void enterMeasurementState(const ViewTransform& t, GLuint framebuffer,
                           const GLCoverageMeasure::DriverSupport& support) {
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    ext::glUseProgram(0);
    for (GLenum cap : {GL_CULL_FACE, GL_SCISSOR_TEST, GL_STENCIL_TEST, GL_ALPHA_TEST, GL_POLYGON_OFFSET_FILL})
        glDisable(cap);
    for (GLint k = 0; k < support.clipPlanes; ++k)
        glDisable(GLenum(GL_CLIP_PLANE0 + k));
    if (support.vertexProgram) glDisable(GL_VERTEX_PROGRAM_ARB);
    if (support.fragmentProgram) glDisable(GL_FRAGMENT_PROGRAM_ARB);
    // A clamped depth would bring back what lies outside near and far.
    if (support.depthClamp) glDisable(GL_DEPTH_CLAMP);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);

    glViewport(0, 0, CoverageMeasure::kImageSize, CoverageMeasure::kImageSize);
    glDepthRange(0, 1);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDepthMask(GL_TRUE);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-t.halfWidth, t.halfWidth, -t.halfHeight, t.halfHeight, kNear, kFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(t.modelview);
}

void drawTriangles(std::span<const Vec3f> corners) {
    const size_t count = corners.size() - corners.size() % 3;
    glBegin(GL_TRIANGLES);
    for (size_t k = 0; k < count; ++k)
        glVertex3f(corners[k].x, corners[k].y, corners[k].z);
    glEnd();
}

void readDepth(float* out) {
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelTransferf(GL_DEPTH_SCALE, 1);
    glPixelTransferf(GL_DEPTH_BIAS, 0);
    glReadPixels(0, 0, CoverageMeasure::kImageSize, CoverageMeasure::kImageSize, GL_DEPTH_COMPONENT, GL_FLOAT,
                 out);
}
} // namespace

double GLCoverageMeasure::coverage(const FittedRectangle& view, std::span<const Vec3f> triangleCorners) {
    const std::optional<ViewTransform> transform = makeViewTransform(view);
    if (!transform || triangleCorners.size() < 3 || !prepare()) return 0;

    const SavedState saved = saveState(mSupport.separateReadBinding);
    enterMeasurementState(*transform, mFramebuffer, mSupport);
    drawTriangles(triangleCorners);
    readDepth(mDepth.data());
    restoreState(saved, mSupport.separateReadBinding);

    size_t covered = 0;
    for (float depth : mDepth)
        covered += depth != 1.0f;
    return double(covered) / double(kPixelCount);
}

bool GLCoverageMeasure::prepare() {
    if (mFramebuffer != 0) return true;
    mSupport.separateReadBinding =
        isExtensionSupported("GL_EXT_framebuffer_blit") || isExtensionSupported("GL_ARB_framebuffer_object");
    mSupport.vertexProgram = isExtensionSupported("GL_ARB_vertex_program");
    mSupport.fragmentProgram = isExtensionSupported("GL_ARB_fragment_program");
    mSupport.depthClamp = isExtensionSupported("GL_ARB_depth_clamp");
    glGetIntegerv(GL_MAX_CLIP_PLANES, &mSupport.clipPlanes);

    GLint draw = 0, read = 0, renderbuffer = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &draw);
    read = draw;
    if (mSupport.separateReadBinding) glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING_EXT, &read);
    glGetIntegerv(GL_RENDERBUFFER_BINDING_EXT, &renderbuffer);

    auto makeRenderbuffer = [](GLenum format) {
        GLuint name = 0;
        ext::glGenRenderbuffersEXT(1, &name);
        ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, name);
        ext::glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, format, kImageSize, kImageSize);
        return name;
    };
    mDepthBuffer = makeRenderbuffer(GL_DEPTH_COMPONENT24);
    mColorBuffer = makeRenderbuffer(GL_RGBA8);
    ext::glGenFramebuffersEXT(1, &mFramebuffer);
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, mFramebuffer);
    ext::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                      mDepthBuffer);
    ext::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                                      mColorBuffer);
    const GLenum status = ext::glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    bindFramebuffers(draw, read, mSupport.separateReadBinding);
    ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, GLuint(renderbuffer));

    if (status != GL_FRAMEBUFFER_COMPLETE_EXT) {
        std::ostringstream message;
        message << "coverage framebuffer is incomplete (status 0x" << std::hex << status << ")";
        mError = message.str();
        release();
        return false;
    }
    mError.clear();
    mDepth.assign(kPixelCount, 1.0f);
    return true;
}

void GLCoverageMeasure::release() {
    if (mFramebuffer != 0) ext::glDeleteFramebuffersEXT(1, &mFramebuffer);
    if (mDepthBuffer != 0) ext::glDeleteRenderbuffersEXT(1, &mDepthBuffer);
    if (mColorBuffer != 0) ext::glDeleteRenderbuffersEXT(1, &mColorBuffer);
    mFramebuffer = mDepthBuffer = mColorBuffer = 0;
}
