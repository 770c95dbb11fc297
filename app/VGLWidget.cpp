#include "VGLWidget.h"

#include "GLExtensions.h"
#include "LogStream.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "VConfiguration.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <GL/glu.h>

#include <algorithm>
#include <filesystem>

namespace {
// Entry points from whichever Qt context is current: the widget's.
void* qtLookup(const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}
} // namespace

VGLWidget::VGLWidget(QWidget* parent) : QOpenGLWidget(parent) { setFormat(surfaceFormat()); }

VGLWidget::~VGLWidget() {
    makeCurrent(); // the GL objects go with the context they were made in
    release();
    doneCurrent();
}

QSurfaceFormat VGLWidget::surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    return format;
}

void VGLWidget::release() {
    mDrawing->release();
    mHasObject = false;
}

void VGLWidget::initializeGL() {
    setGLProcAddressLookup(qtLookup);
    std::ostringstream loader;
    {
        const LogCapture quiet; // the extension listing is not the user's
        mReady = initExtensions() && VConfiguration::init();
        if (mReady) {
            setShaderRoot(std::filesystem::is_directory("shader") ? "" : MORVA_SHADER_ROOT);
            VViewShaders::setupShaders();
        } else {
            mSetupProblem = lastLineOf(quiet.text());
        }
    }
    if (!mReady) logErr() << "the OpenGL driver is not usable: " << mSetupProblem << "\n";
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
}

void VGLWidget::resizeGL(int width, int height) { glViewport(0, 0, width, std::max(height, 1)); }

bool VGLWidget::openHierarchy(const std::string& path, std::string& error) {
    if (!mReady) {
        error = "the OpenGL driver is not usable: " + mSetupProblem;
        return false;
    }
    makeCurrent();
    auto object = std::make_unique<VLODObject3D>();
    auto drawing = std::make_unique<HierarchyDrawing>();
    bool ok = false;
    {
        const LogCapture quiet; // the reader's progress lines
        SideFileReport report;
        ok = object->read(path) && setUpImpostorsAndSideFiles(*object, report, error) &&
             drawing->loadTextures(*object, error);
        if (ok) {
            std::string bufferProblem;
            drawing->prepareGeometry(*object, GeometrySource::Buffers, bufferProblem);
        }
    }
    if (!ok) {
        if (error.empty()) error = object->lastError();
        doneCurrent();
        return false;
    }
    release();
    mDrawing = std::move(drawing);
    mObject = std::move(object);
    mHasObject = true;
    doneCurrent();
    resetCameraToObject();
    update();
    return true;
}

void VGLWidget::resetCameraToObject() {
    const BoundingSphere& s = mObject->mBoundingSphere;
    mCentre = s.centre();
    mEye = Vec3f(s.x, s.y, s.z + 4.5f * s.r);
    mUp = Vec3f(0, 1, 0);
}

void VGLWidget::setCamera(const Vec3f& eye, const Vec3f& centre, const Vec3f& up) {
    mEye = eye;
    mCentre = centre;
    mUp = up;
    update();
}

void VGLWidget::setErrorPixels(float pixels) {
    mErrorPixels = pixels;
    update();
}

void VGLWidget::paintGL() {
    glClearColor(170 / 255.0f, 170 / 255.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!mReady || !mHasObject) return;
    const int w = std::max(1, int(width() * devicePixelRatio())), h = std::max(1, int(height() * devicePixelRatio()));
    const BoundingSphere& s = mObject->mBoundingSphere;
    const double distance = length(Vec3d(mEye) - Vec3d(s.x, s.y, s.z));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(mFovDegrees, double(w) / h, std::max(1e-3, distance - 2.0 * s.r), distance + 2.0 * s.r + 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat headlight[4] = {0, 0, 1, 0}; // in eye space: it follows the camera
    glLightfv(GL_LIGHT0, GL_POSITION, headlight);
    gluLookAt(mEye.x, mEye.y, mEye.z, mCentre.x, mCentre.y, mCentre.z, mUp.x, mUp.y, mUp.z);
    FrameSettings settings;
    settings.errorPixels = mErrorPixels;
    settings.viewportHeight = h;
    settings.fovDegrees = mFovDegrees;
    const LogCapture quiet; // the per-selection lines
    mLastFrame = drawHierarchyFrame(*mObject, *mDrawing, settings);
}
