#pragma once
// The OpenGL view of the viewer: a compatibility-profile OpenGL widget that
// sets the drawing layer up in its own context, owns the camera, frustum and
// render switches, and runs the frame loop. A frame places the free camera,
// draws the scene graph (when one is set) and the opened hierarchy, reports
// OpenGL errors and overlays the frame-rate text. In the paint loop each
// frame schedules the next, as fast as possible or at a target rate.
// Keyboard and mouse fly the free camera through the navigation controller.

#include "HierarchyDrawing.h"
#include "VFreeCamera.h"
#include "VLODObject3D.h"
#include "VNavigationController.h"
#include "VPathTracer.h"
#include "VTraversalContext.h"
#include "Vec3.h"

#include <QColor>
#include <QOpenGLWidget>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class VSceneGraph;
class VTextureCache;
class VLODObject3DInstanceManager;

// A microsecond stopwatch on the steady clock.
struct FrameStopwatch {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    int64_t accumulatedUs = 0;
    bool stopped = false;
    void restart();
    int64_t elapsedUs() const;
};

class VGLWidget : public QOpenGLWidget {
    Q_OBJECT
  public:
    // The one view; set by the constructor, cleared by the destructor.
    static VGLWidget* instance;

    explicit VGLWidget(QWidget* parent = nullptr);
    ~VGLWidget() override;

    // The format every view needs: immediate mode and the assembly
    // programs live only in the compatibility profile.
    static QSurfaceFormat surfaceFormat();
    // Before the application object exists: that format for every window,
    // and one set of OpenGL objects shared by all views' contexts (the
    // shader programs and textures are made once, in whichever context
    // comes first).
    static void prepareApplication();
    // The single-shot timer's interval after a frame that took spentUs
    // microseconds, for a target rate (> 0) in frames per second; 0 when
    // the frame took the whole period or longer.
    static int paceIntervalMs(int frameRate, int64_t spentUs);
    // Frames per second over elapsedUs microseconds; 0 when no time passed.
    static double framesPerSecond(int frames, int64_t elapsedUs);

    // Reads the hierarchy with its side files and buffers in the widget's
    // context; false with the reader's reason, the previous object staying.
    // The opened hierarchy is the object drawn directly every frame.
    // With keepCamera the view stays where it is (the same file read again).
    bool openHierarchy(const std::string& path, std::string& error, bool keepCamera = false);
    bool hasObject() const { return mHasObject; }
    // Drops the opened hierarchy; a scene stays.
    void closeHierarchy();
    // Drops the scene the view owns and the placed instances.
    void closeScene();
    const VLODObject3D& object() const { return *mObject; }
    const FrameCounts& lastFrame() const { return mLastFrame; }
    // Why the drawing layer could not be set up (empty when it was).
    const std::string& setupProblem() const { return mSetupProblem; }
    // Reads a scene file into a scene the view owns, with a texture cache
    // for its hierarchies' impostors, and looks at it; false with the
    // reader's reason, the previous scene staying.
    bool openScene(const std::string& path, std::string& error, bool keepCamera = false);
    // Replaces the scene, its resources and the texture cache with the
    // scene generated from the seed, saves it as "Test.scn" in the working
    // directory and looks at it from above the terrain's edge.
    void generateScene(uint32_t seed);
    // The instance manager's test scene: its terrain model opened as the
    // hierarchy in view and a tree placed on it through the instance
    // manager; false with the reason.
    bool openInstanceScene(std::string& error);
    // The scene drawn each frame (not owned; null: none).
    void setSceneGraph(VSceneGraph* graph);
    VSceneGraph* sceneGraph() const { return mSceneGraph; }
    const VDrawStatistics& frameStatistics() const { return mStatistics; }

    // Places the free camera at eye looking at centre (up stays +y). Opening
    // a file looks at its sphere from in front, the whole sphere in view.
    void setCamera(const Vec3f& eye, const Vec3f& centre, const Vec3f& up);
    // Both error bounds, in pixels.
    void setErrorPixels(float pixels);
    // The silhouette bound alone (the scene's hierarchies read it).
    void setSilhouetteError(float pixels);
    float simplificationErrorPixels() const { return simplificationError; }
    float silhouetteErrorPixels() const { return silhouetteError; }
    float fovDegrees() const { return openingAngle; }
    float nearPlane() const { return zNear; }
    float farPlane() const { return zFar; }

    // What is shown besides the objects, and whether the camera's motion is
    // extrapolated for prefetching.
    struct HudSwitches {
        bool motionPrediction = true, showPredictor = false, showCompass = true, showBoundingSphere = false;
    };
    HudSwitches hudSwitches() const;
    void setHudSwitches(const HudSwitches& switches);

    // Makes the texture cache, or gives it a new capacity.
    void resizeCache(uint64_t megabytes);
    const VTextureCache* textureCache() const { return mTextureCache.get(); }
    // Empties the texture cache: its textures were uploaded under settings
    // that no longer hold.
    void dropCachedTextures();
    // Pixels per unit at distance 1 for the current height and opening angle.
    double projectionConstant() const;

    VFreeCamera& freeCamera() { return mFreeCamera; }
    VNavigationController& navigation() { return mNavigation; }
    bool isPaintLoop() const { return paintLoop; }
    int targetFrameRate() const { return frameRate; }
    bool isWireFrame() const { return wireFrame; }
    bool isWireFrameOnly() const { return wireFrameOnly; }
    const FrameSettings& objectSettings() const { return mObjectSettings; }
    // The interval the frame timer was last started with (ms), -1 before.
    int lastPaceIntervalMs() const { return mLastPaceMs; }
    const QString& frameRateText() const { return fpsText; }

    // The camera path recorded with key R or loaded from its file.
    const VWalkPath& cameraPath() const { return mPath; }
    bool isRecording() const { return mRecorder.recording(); }
    // The frame rates of the last measured replay, in frame order.
    const std::vector<float>& replayRates() const { return mReplayRates; }

    // Saves the frame in the format of the name's extension; with crop the
    // picture is cut to what differs from the background, which becomes
    // transparent. False when nothing was saved.
    bool takeScreenshot(const QString& fileName, bool crop, QString* error = nullptr);

  public slots:
    void updateFrustum(float zNear, float zFar, float openingAngle);
    void flipFullScreen();
    void setPaintLoop(bool on);
    void setSilhouetteOnly(bool on);
    void setBackfaceCulling(bool on);
    void setFrameRate(int rate);
    void setWireFrame(bool on);
    void setWireFrameOnly(bool on);
    void setBgColor(const QColor& colour);
    void setWfColor(const QColor& colour);
    void resetView();
    void setColorMode(int mode);
    void setFreezeMode(bool on);
    void animate();
    void setUsePhong(bool on);
    // Rebuilds both shader sets from their files. A program that does not
    // compile or link is named on the error log with the reason; the view
    // goes on, and a later reload picks up the mended file.
    void reloadShader();
    // The camera path in the working directory's "Test_camera_path.txt".
    void savePath();
    void loadPath();
    // The measured replay: the path flown in real time, a frame drawn as
    // soon as the last is done, each frame's rate kept and written with
    // their statistics to "TestPathFPS.txt".
    void traceRecordedPath();
    // One frame per recorded entry, the same views on every run: each
    // frame's time and drawn primitives, and their median time, to the log.
    void createTestOutput();
    // How 16-bit values survive being mapped to [0, 1] as floats and back:
    // three counts, written to out (the test replay writes them to the log).
    void testQuant(std::ostream* out);

  signals:
    void fpsCalculated(const QString& text);
    void projConstantChanged();

  protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void setUpDrawingLayer();
    void applyProjection(int width, int height);
    void lookAtSphere(const BoundingSphere& sphere);
    void release();
    void repaintUnlessLooping();
    double secondsSinceStart() const;
    VTraversalContext buildContext(const VCameraPose& camera) const;
    void placeCompass(const VCameraPose& camera);
    void prefetchPredictedView();
    void drawScene(const VTraversalContext& context);
    void drawObject();
    void drawInstances();
    void reportGlError();
    void measureAndPace();
    void drawText(const QString& text);
    void drawRecordingText();
    void afterInput();
    VCameraPose placeCamera();
    // Draws the frame at once with the camera there; its time in seconds.
    double replayFrame(const VCameraPose& camera);
    // Whether there is a path to replay; says so in the log when not.
    bool canReplay(); // says why not when not

    std::unique_ptr<VLODObject3D> mObject = std::make_unique<VLODObject3D>();
    std::unique_ptr<HierarchyDrawing> mDrawing = std::make_unique<HierarchyDrawing>();
    bool mHasObject = false;
    bool mReady = false; // the drawing layer is set up in this context
    std::string mSetupProblem;
    FrameCounts mLastFrame;
    FrameSettings mObjectSettings; // the object's switches: freeze, colour mode, culling

    float zNear = 0.1f, zFar = 50, openingAngle = 20;
    float simplificationError = 1, silhouetteError = 1;
    bool wireFrame = false, wireFrameOnly = false, usePhong = true;
    bool showCompass = true, showBoundingSphere = false, showPredictor = false, motionPrediction = true;
    bool paintLoop = false;
    int frameRate = 0; // frames per second, 0: as fast as possible
    QTimer frameTimer;
    QString fpsText;
    std::chrono::steady_clock::time_point startCounter = std::chrono::steady_clock::now();
    double lastFrameTime = 0, frameTime = 0; // seconds since construction
    double predictionTime = 0.25;
    int frameCounter = 0;
    int frameNumber = 0;
    FrameStopwatch mRateWatch, mPaceWatch;
    int mLastPaceMs = -1;
    VDrawStatistics mStatistics;
    float wireFrameColor[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    float mClearColour[4] = {170 / 255.0f, 170 / 255.0f, 1.0f, 0.0f};

    VSceneGraph* mSceneGraph = nullptr;
    bool mSceneInitialised = false;
    VFreeCamera mFreeCamera;
    VNavigationController mNavigation;
    VFrustum mFrustum; // of the last frame
    bool mFullScreen = false;
    bool silhouetteOnly = false; // kept for the panel; no drawing reads it
    VWalkPath mPath;
    VPathRecorder mRecorder;
    std::optional<VCameraPose> mReplayCamera; // set while a path is replayed
    std::vector<float> mReplayRates;
    std::unique_ptr<VTextureCache> mTextureCache;
    std::unique_ptr<VSceneGraph> mOwnedScene;
    std::unique_ptr<VLODObject3DInstanceManager> mInstances;
};
