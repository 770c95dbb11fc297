#include "OffscreenView.h"

#include "GLExtensions.h"
#include "LogStream.h"
#include "SideFileStep.h"

#include <GL/glu.h>
#include <algorithm>
#include <chrono>
#include <sstream>

namespace {
// Sends the hierarchy code's lines into a sink for a while, then back to
// wherever they went before (a test's capture, the GUI's log).
class QuietLog {
  public:
    QuietLog() : mOut(&logOut()), mErr(&logErr()) {
        setLogOut(&mSink);
        setLogErr(&mSink);
    }
    ~QuietLog() {
        setLogOut(mOut);
        setLogErr(mErr);
    }

  private:
    std::ostream *mOut, *mErr;
    std::ostringstream mSink;
};
} // namespace

OffscreenView::~OffscreenView() { release(); }

void OffscreenView::release() {
    mDrawing.release();
    if (mFramebuffer == 0) return;
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    ext::glDeleteRenderbuffersEXT(2, mRenderbuffers);
    ext::glDeleteFramebuffersEXT(1, &mFramebuffer);
    mFramebuffer = 0;
}

bool OffscreenView::open(const std::string& path, int width, int height, std::string& error, GeometrySource geometry) {
    release();
    if (width <= 0 || height <= 0) {
        error = "the picture needs a positive size";
        return false;
    }
    bool ready = false;
    {
        const QuietLog quiet; // the reader's progress lines are not the caller's
        SideFileReport report;
        ready = mObject.read(path) && setUpImpostorsAndSideFiles(mObject, report, error) &&
                mDrawing.loadTextures(mObject, error);
        mBufferProblem.clear();
        const auto start = std::chrono::steady_clock::now();
        if (ready) mDrawing.prepareGeometry(mObject, geometry, mBufferProblem);
        mBufferSetUpMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    if (!ready) {
        if (error.empty()) error = mObject.lastError();
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

FrameCounts OffscreenView::draw(const Vec3f& eye, const Vec3f& centre, const Vec3f& up, FrameSettings settings) {
    settings.viewportHeight = mHeight;
    const BoundingSphere& s = mObject.mBoundingSphere;
    const double distance = length(Vec3d(eye) - Vec3d(s.x, s.y, s.z));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(settings.fovDegrees, double(mWidth) / mHeight, std::max(1e-3, distance - 2.0 * s.r),
                   distance + 2.0 * s.r + 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat headlight[4] = {0, 0, 1, 0}; // set in eye space: it follows the camera
    glLightfv(GL_LIGHT0, GL_POSITION, headlight);
    gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, up.x, up.y, up.z);
    glClearColor(170 / 255.0f, 170 / 255.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const QuietLog quiet; // the object's per-selection lines would bury the caller's own output
    return drawHierarchyFrame(mObject, mDrawing, settings);
}

QImage OffscreenView::picture() const {
    QImage image(mWidth, mHeight, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, mWidth, mHeight, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    return image.mirrored();
}
