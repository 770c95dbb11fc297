#include "VGLWidget.h"

#include "FailureMessage.h"
#include "GLExtensions.h"
#include "InstanceTestScene.h"
#include "LogStream.h"
#include "SceneGeneration.h"
#include "ShaderSets.h"
#include "VConfiguration.h"
#include "VSceneGraph.h"
#include "VTextureCache.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QCoreApplication>
#include <QOpenGLContext>
#include <QPainter>
#include <QSurfaceFormat>

#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <iostream>

VGLWidget* VGLWidget::instance = nullptr;

namespace {
// Entry points from whichever Qt context is current: the widget's.
void* qtLookup(const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

constexpr double kLongestStepSeconds = 0.1;
// The panel's default cache size, for scenes opened before it is set.
constexpr uint64_t kSceneCacheBytes = 500ull << 20;

struct OverlayText {
    int x, y;
    QColor colour;
    int points;
    QString text;
};

// Bold Arial over the frame.
void drawOverlay(QOpenGLWidget* widget, std::initializer_list<OverlayText> texts) {
    // The painter's glyph cache uploads rows padded to four bytes; the
    // texture loaders leave an unpack alignment of one, which shears every
    // glyph cached after them.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    {
        QPainter painter(widget);
        for (const OverlayText& t : texts) {
            painter.setPen(t.colour);
            painter.setFont(QFont("Arial", t.points, QFont::Bold));
            painter.drawText(t.x, t.y, t.text);
        }
    }
    glPopClientAttrib();
}

void multiplyCameraMatrix(const VCameraPose& camera) {
    const Vec3d& p = camera.position;
    const Vec3d centre = p + camera.direction;
    gluLookAt(p.x, p.y, p.z, centre.x, centre.y, centre.z, camera.up.x, camera.up.y, camera.up.z);
}
} // namespace

void FrameStopwatch::restart() {
    accumulatedUs = 0;
    start = std::chrono::steady_clock::now();
    stopped = false;
}

int64_t FrameStopwatch::elapsedUs() const {
    if (stopped) return accumulatedUs;
    const auto now = std::chrono::steady_clock::now();
    return accumulatedUs + std::chrono::duration_cast<std::chrono::microseconds>(now - start).count();
}

VGLWidget::VGLWidget(QWidget* parent) : QOpenGLWidget(parent) {
    setFormat(surfaceFormat());
    setFocusPolicy(Qt::StrongFocus);
    instance = this;
    frameTimer.setSingleShot(true);
    connect(&frameTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    mFreeCamera.place(Vec3d(0, 0, 10));
    mNavigation.setCamera(&mFreeCamera);
    lastFrameTime = frameTime = secondsSinceStart();
}

VGLWidget::~VGLWidget() {
    if (instance == this) instance = nullptr;
    makeCurrent(); // the GL objects go with the context they were made in
    release();
    mOwnedScene.reset(); // its hierarchies leave the cache first
    mTextureCache.reset();
    mInstances.reset();
    doneCurrent();
}

void VGLWidget::prepareApplication() {
    QSurfaceFormat::setDefaultFormat(surfaceFormat());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

QSurfaceFormat VGLWidget::surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    return format;
}

int VGLWidget::paceIntervalMs(int rate, int64_t spentUs) {
    const int64_t waitUs = std::max<int64_t>(0, 1000000 / rate - spentUs);
    return int(waitUs / 1000);
}

double VGLWidget::framesPerSecond(int frames, int64_t elapsedUs) {
    return elapsedUs > 0 ? frames / (double(elapsedUs) * 1e-6) : 0.0;
}

double VGLWidget::secondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startCounter).count();
}

double VGLWidget::projectionConstant() const {
    const double h = std::max(1.0, height() * devicePixelRatio());
    return h / (2 * std::tan(openingAngle * M_PI / 180 / 2));
}

void VGLWidget::release() {
    mDrawing->release();
    mHasObject = false;
}

void VGLWidget::repaintUnlessLooping() {
    if (!paintLoop) repaint();
}

// ---- GL set-up and the frame ----

void VGLWidget::initializeGL() {
    glClearColor(mClearColour[0], mClearColour[1], mClearColour[2], mClearColour[3]);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glEnable(GL_COLOR_MATERIAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    setUpDrawingLayer();
    if (!mReady) return;
    GLint maxTexture = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    logOut() << "maximal texture size: " << maxTexture << "\n";
}

void VGLWidget::setUpDrawingLayer() {
    setGLProcAddressLookup(qtLookup);
    {
        const LogCapture quiet; // the extension listing is not the user's
        mReady = initExtensions() && VConfiguration::init();
        if (mReady) {
            useShadersBesideOr(MORVA_SHADER_ROOT);
            VViewShaders::setupShaders();
        } else {
            mSetupProblem = lastLineOf(quiet.text());
        }
    }
    if (!mReady) showFailure(this, tr("The OpenGL driver is not usable: %1").arg(QString::fromStdString(mSetupProblem)));
}

void VGLWidget::applyProjection(int width, int height) {
    height = std::max(height, 1);
    GLint mode = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(openingAngle, double(width) / height, zNear, zFar);
    glMatrixMode(GLenum(mode));
}

void VGLWidget::resizeGL(int width, int height) {
    height = std::max(height, 1);
    glViewport(0, 0, width, height);
    applyProjection(width, height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    logOut() << "glWidget size changed to: " << width << " " << height << "\n";
    emit projConstantChanged();
}

VTraversalContext VGLWidget::buildContext(const VCameraPose& camera) const {
    GLint viewport[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const double aspect = double(viewport[2]) / std::max(viewport[3], 1);
    VTraversalContext context;
    context.camera = &camera;
    context.frustum.set(camera, zNear, zFar, openingAngle, aspect);
    context.projectionConstant = std::max(viewport[3], 1) / (2 * std::tan(openingAngle * M_PI / 180 / 2));
    context.simplificationError = simplificationError;
    context.silhouetteError = silhouetteError;
    context.wireframeOnly = wireFrameOnly;
    context.drawBoundingSpheres = showBoundingSphere;
    context.wireframe = wireFrame;
    std::copy_n(wireFrameColor, 4, context.wireframeColor);
    return context;
}

void VGLWidget::paintGL() {
    predictionTime = 0.85;
    ++frameNumber;
    // Pacing subtracts this frame's own drawing time from the period; the
    // wait before it is not part of it.
    mPaceWatch.restart();
    frameTime = secondsSinceStart();
    glClearColor(mClearColour[0], mClearColour[1], mClearColour[2], mClearColour[3]);
    glEnable(GL_DEPTH_TEST); // the text overlay of the last frame may have changed it
    glDepthFunc(GL_LEQUAL);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    applyProjection(int(width() * devicePixelRatio()), int(height() * devicePixelRatio()));
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat headlight[4] = {0, 0, 1, 0}; // in eye space: it follows the camera
    glLightfv(GL_LIGHT0, GL_POSITION, headlight);

    const VCameraPose camera = placeCamera();
    multiplyCameraMatrix(camera);

    if (mReady) {
        if (motionPrediction) prefetchPredictedView();
        const VTraversalContext context = buildContext(camera);
        mFrustum = context.frustum;
        mStatistics = VDrawStatistics{};
        placeCompass(camera);
        drawScene(context);
        drawObject();
        drawInstances();
        reportGlError();
    }
    if (paintLoop) measureAndPace();
    else if (!mReplayCamera) emit fpsCalculated(QString());
    if (mRecorder.recording()) drawRecordingText();
    else drawText(fpsText);
    lastFrameTime = frameTime;
    if (VTextureCache::instance) VTextureCache::instance->endFrame();
}

// A replayed path's camera, or the free camera, which the recorder follows
// while recording.
VCameraPose VGLWidget::placeCamera() {
    if (mReplayCamera) return *mReplayCamera;
    // Idle frames may lie seconds apart: the camera moves at most one step's worth.
    mFreeCamera.advance(std::min(frameTime - lastFrameTime, kLongestStepSeconds));
    const VCameraPose camera = mFreeCamera.pose();
    mRecorder.record(frameTime, mFreeCamera.speed(), camera);
    return camera;
}

void VGLWidget::prefetchPredictedView() {
    if (!mSceneGraph) return;
    const VFreeCamera predicted = mFreeCamera.extrapolated(std::max(frameTime - lastFrameTime, 0.5));
    const VCameraPose pose = predicted.pose();
    if (VSceneNode* node = mSceneGraph->getNode(std::string("PredictorNode"))) {
        node->setVisible(showPredictor);
        if (showPredictor) {
            const double at[3] = {pose.position.x, pose.position.y, pose.position.z};
            node->setTranslation(at);
        }
    }
    if (VConfiguration::mPrefetchStrategy != 2) return;
    VTraversalContext context = buildContext(pose);
    context.skipGeometry = true;
    VDrawStatistics ignored;
    const LogCapture quiet;
    mSceneGraph->draw(context, ignored);
}

void VGLWidget::placeCompass(const VCameraPose& camera) {
    if (!mSceneGraph) return;
    VSceneNode* compass = mSceneGraph->getNode(std::string("Compass"));
    if (!compass) return;
    compass->setVisible(showCompass);
    if (!showCompass) return;
    // Just beyond the near plane, but no nearer than the panel's default
    // near plane of 1 puts it: closer, the small pyramid fills the view.
    const Vec3d at = camera.position + camera.direction * std::max(double(2 * zNear + 0.5), 2.5);
    const double translation[3] = {at.x, at.y, at.z};
    compass->setTranslation(translation);
}

void VGLWidget::drawScene(const VTraversalContext& context) {
    if (!mSceneGraph) return;
    const LogCapture quiet; // per-frame lines of the hierarchies
    if (!mSceneInitialised) {
        mSceneGraph->initGeometries(context);
        mSceneInitialised = true;
    }
    mSceneGraph->draw(context, mStatistics);
}

void VGLWidget::drawObject() {
    if (!mHasObject || mFrustum.outside(mObject->mBoundingSphere)) {
        mLastFrame = FrameCounts{};
        return;
    }
    GLint viewport[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, viewport);
    FrameSettings settings = mObjectSettings;
    settings.errorPixels = simplificationError;
    settings.viewportHeight = std::max(viewport[3], 1);
    settings.fovDegrees = openingAngle;
    settings.wireframe = wireFrame;
    settings.wireframeOnly = wireFrameOnly;
    settings.waitForDrawing = false; // the composition waits for it anyway
    std::copy_n(wireFrameColor, 4, settings.wireframeColour);
    const LogCapture quiet; // the per-selection lines
    mLastFrame = drawHierarchyFrame(*mObject, *mDrawing, settings);
    mStatistics.billboards += mLastFrame.impostors;
    mStatistics.triangles += mLastFrame.triangles;
}

void VGLWidget::drawInstances() {
    if (!mInstances || mInstances->instances.empty()) return;
    InstanceView view;
    glGetFloatv(GL_MODELVIEW_MATRIX, view.viewMatrix); // the camera alone at this point
    view.projectionConstant = projectionConstant();
    view.wireframe = wireFrame || wireFrameOnly;
    const LogCapture quiet;
    const InstanceDrawCounts counts = mInstances->drawInstances(view);
    mStatistics.billboards += counts.billboards;
    mStatistics.triangles += counts.triangles;
}

void VGLWidget::reportGlError() {
    glDisable(GL_FRAGMENT_PROGRAM_ARB);
    glDisable(GL_VERTEX_PROGRAM_ARB);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        std::cerr << "OpenGL error message: " << reinterpret_cast<const char*>(gluErrorString(error)) << "\n";
}

void VGLWidget::measureAndPace() {
    if (++frameCounter % 10 == 0) {
        const double fps = framesPerSecond(10, mRateWatch.elapsedUs());
        fpsText = QString::number(fps, 'g', 6) + " fps";
        mRateWatch.restart();
        emit fpsCalculated(fpsText);
        frameCounter = 0;
        logOut() << fpsText.toStdString() << "\n";
    }
    if (frameRate == 0) {
        update(); // the next frame as soon as the event loop runs
        return;
    }
    mLastPaceMs = paceIntervalMs(frameRate, mPaceWatch.elapsedUs());
    frameTimer.start(mLastPaceMs);
}

void VGLWidget::drawText(const QString& text) {
    if (text.isEmpty()) return; // QPainter changes GL state: only when there is text
    drawOverlay(this, {{7, 17, Qt::black, 11, text}});
}

void VGLWidget::drawRecordingText() {
    drawOverlay(this, {{7, 27, Qt::red, 20, "R"},
                       {37, 17, QColor::fromRgbF(0.1f, 0.1f, 0.1f), 11,
                        QString::number(mPath.entries.size()) + " entries"}});
}

// ---- opening and the camera ----

bool VGLWidget::openHierarchy(const std::string& path, std::string& error, bool keepCamera) {
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
        ok = readHierarchyForDrawing(path, *object, *drawing, error);
        if (ok) {
            std::string bufferProblem;
            drawing->prepareGeometry(*object, GeometrySource::Buffers, bufferProblem);
        }
    }
    if (!ok) {
        doneCurrent();
        return false;
    }
    release();
    mDrawing = std::move(drawing);
    mObject = std::move(object);
    mHasObject = true;
    doneCurrent();
    if (keepCamera) update();
    else lookAtSphere(mObject->mBoundingSphere);
    return true;
}

bool VGLWidget::openScene(const std::string& path, std::string& error, bool keepCamera) {
    if (!mReady) {
        error = "the OpenGL driver is not usable: " + mSetupProblem;
        return false;
    }
    makeCurrent();
    if (!mTextureCache) mTextureCache = std::make_unique<VTextureCache>(kSceneCacheBytes);
    VConfiguration::mUseOutOfCore = true; // the scene's hierarchies share the cache
    auto graph = std::make_unique<VSceneGraph>(nullptr);
    bool ok = false;
    {
        const LogCapture quiet; // the reader's progress lines
        ok = graph->load(path);
        if (!ok) error = lastLineOf(quiet.text());
    }
    if (ok) mOwnedScene = std::move(graph);
    else graph.reset(); // with the context current: it may have made textures
    doneCurrent();
    if (!ok) {
        if (error.empty()) error = "not a scene file";
        return false;
    }
    setSceneGraph(mOwnedScene.get());
    if (!keepCamera) lookAtSphere(mOwnedScene->root()->globalSphere());
    return true;
}

void VGLWidget::generateScene(uint32_t seed) {
    if (!mReady) return;
    const QString content = QString::fromStdString(sceneContentFolder());
    if (!QDir(content).exists("textures") || !QDir(content).exists("meshes")) {
        showFailure(this, tr("The scene's content is not in %1: scripts/scene-content.sh makes it "
                             "(or set MORVA_SCENE_CONTENT to where it is).")
                              .arg(QDir(content).absolutePath()));
        return;
    }
    makeCurrent();
    const uint64_t capacity = mTextureCache ? mTextureCache->engine().capacity : kSceneCacheBytes;
    setSceneGraph(nullptr);
    mOwnedScene.reset(); // its hierarchies leave the old cache first
    mTextureCache.reset();
    // The opened hierarchy registers with the new cache at its next frame.
    mTextureCache = std::make_unique<VTextureCache>(capacity);
    VConfiguration::mUseOutOfCore = true; // the scene's hierarchies share the cache
    auto graph = std::make_unique<VSceneGraph>(nullptr);
    ::generateScene(*graph, seed, sceneContentFolder());
    if (!graph->save("Test.scn")) showFailure(this, tr("Cannot write the generated scene to Test.scn in %1.").arg(QDir::currentPath()));
    mOwnedScene = std::move(graph);
    doneCurrent();
    setSceneGraph(mOwnedScene.get());
    setCamera({0, 4, 14}, {0, 1.5f, 0}, {0, 1, 0});
}

bool VGLWidget::openInstanceScene(std::string& error) {
    const std::string folder = sceneContentFolder();
    if (!openHierarchy(instanceSceneTerrainFile(folder), error)) {
        std::cerr << "Could not load terrain model!" << std::endl;
        return false;
    }
    makeCurrent();
    if (!mInstances) mInstances = std::make_unique<VLODObject3DInstanceManager>();
    Vec3f tree;
    const bool built = buildInstanceTestScene(*mInstances, *mObject, folder, tree);
    doneCurrent();
    if (!built) {
        error = "the trees in " + folder + "/test could not be read";
        return false;
    }
    setCamera(tree + Vec3f(0, 0.55f, 2.8f), tree + Vec3f(0, 0.33f, 0), {0, 1, 0});
    return true;
}

void VGLWidget::closeScene() {
    makeCurrent();
    setSceneGraph(nullptr);
    mOwnedScene.reset();
    if (mInstances) mInstances->clear();
    doneCurrent();
    update();
}

void VGLWidget::closeHierarchy() {
    makeCurrent();
    release();
    doneCurrent();
    mLastFrame = FrameCounts{};
    update();
}

void VGLWidget::setSceneGraph(VSceneGraph* graph) {
    mSceneGraph = graph;
    mSceneInitialised = false;
    update();
}

void VGLWidget::lookAtSphere(const BoundingSphere& s) {
    // Far enough for the sphere to fit the narrower opening angle, with a margin.
    const double aspect = double(width()) / std::max(height(), 1);
    const double halfAngle = std::atan(std::tan(openingAngle * M_PI / 360) * std::min(1.0, aspect));
    const float distance = float(1.1 * s.r / std::sin(halfAngle));
    setCamera(Vec3f(s.x, s.y, s.z + distance), s.centre(), Vec3f(0, 1, 0));
}

void VGLWidget::setCamera(const Vec3f& eye, const Vec3f& centre, const Vec3f& /*up: stays +y*/) {
    mFreeCamera.stop();
    mFreeCamera.place(Vec3d(eye));
    mFreeCamera.lookAlong(Vec3d(centre) - Vec3d(eye));
    update();
}

void VGLWidget::setErrorPixels(float pixels) {
    simplificationError = silhouetteError = pixels;
    update();
}

void VGLWidget::setSilhouetteError(float pixels) {
    silhouetteError = pixels;
    update();
}

VGLWidget::HudSwitches VGLWidget::hudSwitches() const {
    return {motionPrediction, showPredictor, showCompass, showBoundingSphere};
}

void VGLWidget::setHudSwitches(const HudSwitches& switches) {
    motionPrediction = switches.motionPrediction;
    showPredictor = switches.showPredictor;
    showCompass = switches.showCompass;
    showBoundingSphere = switches.showBoundingSphere;
    repaintUnlessLooping();
}

void VGLWidget::resizeCache(uint64_t megabytes) {
    makeCurrent(); // shrinking evicts textures
    if (mTextureCache) mTextureCache->setCapacity(megabytes << 20);
    else mTextureCache = std::make_unique<VTextureCache>(megabytes << 20);
    doneCurrent();
    logOut() << "texture cache: " << megabytes << " MB\n";
}

void VGLWidget::dropCachedTextures() {
    if (!mTextureCache) return;
    makeCurrent();
    mTextureCache->clear();
    doneCurrent();
    update();
}

bool VGLWidget::takeScreenshot(const QString& fileName, bool crop, QString* error) {
    const QString suffix = QFileInfo(fileName).suffix().toUpper();
    if (suffix.isEmpty()) {
        if (error) *error = tr("the name has no image type ending (.png, .jpg, .xpm)");
        return false;
    }
    QImage image = grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    if (crop) {
        const QRgb background = qRgb(int(std::lround(mClearColour[0] * 255)), int(std::lround(mClearColour[1] * 255)),
                                     int(std::lround(mClearColour[2] * 255)));
        std::cout << "bg: " << qRed(background) << " " << qGreen(background) << " " << qBlue(background) << "\n";
        QRect content;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != background) content |= QRect(x, y, 1, 1);
        std::cout << "rect: " << content.x() << " " << content.y() << " " << content.width() << " "
                  << content.height() << "\n";
        if (!content.isEmpty() && content != image.rect()) image = image.copy(content);
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = (row[x] | 0xff000000u) == (background | 0xff000000u) ? (row[x] & 0x00ffffffu)
                                                                               : (row[x] | 0xff000000u);
        }
    }
    if (!image.save(fileName, suffix.toLatin1().constData())) {
        if (error) *error = tr("the picture could not be written there as %1").arg(suffix);
        return false;
    }
    return true;
}

// ---- slots ----

void VGLWidget::updateFrustum(float nearPlane, float farPlane, float angle) {
    zNear = nearPlane;
    zFar = farPlane;
    openingAngle = angle;
    makeCurrent();
    applyProjection(int(width() * devicePixelRatio()), int(height() * devicePixelRatio()));
    doneCurrent();
    emit projConstantChanged();
}

void VGLWidget::flipFullScreen() {
    QWidget* top = window();
    if (mFullScreen) top->showNormal();
    else top->showFullScreen();
    mFullScreen = !mFullScreen;
}

void VGLWidget::setPaintLoop(bool on) {
    paintLoop = on;
    if (!on) return; // the loop ends after the frame in flight
    mRateWatch.restart();
    mPaceWatch.restart();
    fpsText.clear();
    frameCounter = 0;
    repaint();
}

void VGLWidget::setSilhouetteOnly(bool on) { silhouetteOnly = on; }

void VGLWidget::setBackfaceCulling(bool on) {
    mObjectSettings.backfaceCulling = on;
    repaintUnlessLooping();
}

void VGLWidget::setFrameRate(int rate) {
    frameRate = std::max(rate, 0);
    setPaintLoop(true);
}

void VGLWidget::setWireFrame(bool on) {
    wireFrame = on;
    if (on) wireFrameOnly = false;
    repaintUnlessLooping();
}

void VGLWidget::setWireFrameOnly(bool on) {
    wireFrameOnly = on;
    if (on) wireFrame = false;
    repaintUnlessLooping();
}

void VGLWidget::setBgColor(const QColor& colour) {
    mClearColour[0] = float(colour.red()) / 255;
    mClearColour[1] = float(colour.green()) / 255;
    mClearColour[2] = float(colour.blue()) / 255;
    mClearColour[3] = 1;
    repaintUnlessLooping();
}

void VGLWidget::setWfColor(const QColor& colour) {
    wireFrameColor[0] = float(colour.red()) / 255;
    wireFrameColor[1] = float(colour.green()) / 255;
    wireFrameColor[2] = float(colour.blue()) / 255;
    wireFrameColor[3] = 1;
    repaintUnlessLooping();
}

void VGLWidget::resetView() {
    mFreeCamera.stop();
    mFreeCamera.place(Vec3d(0, 0, 7));
    repaintUnlessLooping();
}

void VGLWidget::setColorMode(int mode) {
    if (!mHasObject) return;
    std::cout << "set color mode to " << mode << "\n";
    mObjectSettings.colorMode = mode;
}

void VGLWidget::setFreezeMode(bool on) {
    if (!mHasObject) return;
    mObjectSettings.keepSelection = on;
    if (!on) repaintUnlessLooping();
}

void VGLWidget::animate() {
    const Vec3d kept = mFreeCamera.position();
    const Vec3d d = normalizeOrZ(kept);
    std::cout << "test: \n";
    mFreeCamera.stop();
    repaint();
    for (int i = 0; i < 100; ++i) {
        mFreeCamera.place(d * (1 + i / 99.0 * 29), mFreeCamera.heading(), mFreeCamera.pitch());
        repaint();
        if (mHasObject) std::cout << mLastFrame.impostors << "\t" << mLastFrame.triangles << "\n";
    }
    mFreeCamera.place(kept, mFreeCamera.heading(), mFreeCamera.pitch());
    repaintUnlessLooping();
}

void VGLWidget::setUsePhong(bool on) {
    usePhong = on;
    repaintUnlessLooping();
}

void VGLWidget::reloadShader() {
    if (!mReady) return;
    makeCurrent();
    VViewShaders::reloadShader();
    int failed = 0;
    for (const auto& [set, programs] : {std::pair{"view", VViewShaders::programs()},
                                        std::pair{"instance", VInstanceShaders::programs()}})
        for (const NamedProgram& p : programs) {
            const std::string problem = programProblem(*p.program);
            if (problem.empty()) continue;
            logErr() << "Reload Shader: the " << set << " program '" << p.name << "' cannot draw: " << problem << "\n";
            ++failed;
        }
    logOut() << "Reload Shader: " << (failed ? std::to_string(failed) + " programs failed" : "all programs ready") << "\n";
    doneCurrent();
    repaintUnlessLooping();
}

// ---- input ----

void VGLWidget::afterInput() {
    mNavigation.updateCamera();
    // Key R starts a new path or ends the one being recorded.
    if (mNavigation.recordingRequested() && !mRecorder.recording()) mRecorder.start(mPath, secondsSinceStart());
    if (!mNavigation.recordingRequested()) mRecorder.stop();
    repaintUnlessLooping();
}

void VGLWidget::keyPressEvent(QKeyEvent* event) {
    if (!mNavigation.keyPress(event->key(), event->modifiers() & Qt::ShiftModifier)) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    afterInput();
}

void VGLWidget::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat() || !mNavigation.keyRelease(event->key(), event->modifiers() & Qt::ShiftModifier)) {
        QOpenGLWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
    afterInput();
}

void VGLWidget::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    mNavigation.mousePress(event->button(), at.x(), at.y());
}

void VGLWidget::mouseReleaseEvent(QMouseEvent* event) { mNavigation.mouseRelease(event->button()); }

void VGLWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    mNavigation.mouseMove(at.x(), at.y());
    afterInput();
}
