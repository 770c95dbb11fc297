#include "OffscreenView.h"

#include "GLExtensions.h"
#include "LogStream.h"

#include <GL/glu.h>
#include <algorithm>
#include <chrono>

OffscreenView::~OffscreenView() { release(); }

void OffscreenView::release() {
    mDrawing.release();
    mFramebuffer.release();
}

bool OffscreenView::open(const std::string& path, int width, int height, std::string& error, GeometrySource geometry) {
    release();
    if (width <= 0 || height <= 0) {
        error = "the picture needs a positive size";
        return false;
    }
    bool ready = false;
    {
        const LogCapture quiet; // the reader's progress lines are not the caller's
        ready = readHierarchyForDrawing(path, mObject, mDrawing, error);
        mBufferProblem.clear();
        const auto start = std::chrono::steady_clock::now();
        if (ready) mDrawing.prepareGeometry(mObject, geometry, mBufferProblem);
        mBufferSetUpMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    if (!ready) return false;
    if (mFramebuffer.create(width, height, error)) return true;
    release();
    return false;
}

FrameCounts OffscreenView::draw(const Vec3f& eye, const Vec3f& centre, const Vec3f& up, FrameSettings settings) {
    settings.viewportHeight = mFramebuffer.height();
    const BoundingSphere& s = mObject.mBoundingSphere;
    const double distance = length(Vec3d(eye) - Vec3d(s.x, s.y, s.z));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(settings.fovDegrees, double(mFramebuffer.width()) / mFramebuffer.height(), std::max(1e-3, distance - 2.0 * s.r),
                   distance + 2.0 * s.r + 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat headlight[4] = {0, 0, 1, 0}; // set in eye space: it follows the camera
    glLightfv(GL_LIGHT0, GL_POSITION, headlight);
    gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, up.x, up.y, up.z);
    glClearColor(170 / 255.0f, 170 / 255.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const LogCapture quiet; // the object's per-selection lines would bury the caller's own output
    return drawHierarchyFrame(mObject, mDrawing, settings);
}

QImage OffscreenView::picture() const { return mFramebuffer.picture(); }
