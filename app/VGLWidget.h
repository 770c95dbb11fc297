#pragma once
// The OpenGL view of the viewer: a compatibility-profile OpenGL widget that
// sets the drawing layer up in its own context (extension entry points,
// configuration, the view's shaders) and draws an opened hierarchy each
// frame from a camera looking at it, as the headless tools draw it.

#include "HierarchyDrawing.h"
#include "VLODObject3D.h"
#include "Vec3.h"

#include <QOpenGLWidget>

#include <string>

class VGLWidget : public QOpenGLWidget {
    Q_OBJECT
  public:
    explicit VGLWidget(QWidget* parent = nullptr);
    ~VGLWidget() override;

    // The format every view needs: immediate mode and the assembly
    // programs live only in the compatibility profile.
    static QSurfaceFormat surfaceFormat();

    // Reads the hierarchy with its side files and buffers in the widget's
    // context; false with the reader's reason, the previous object staying.
    bool openHierarchy(const std::string& path, std::string& error);
    bool hasObject() const { return mHasObject; }
    const VLODObject3D& object() const { return *mObject; }
    const FrameCounts& lastFrame() const { return mLastFrame; }
    // Why the drawing layer could not be set up (empty when it was).
    const std::string& setupProblem() const { return mSetupProblem; }

    // The camera: eye, centre, up; it looks at the object's sphere when one
    // is opened, from 4.5 radii in front.
    void setCamera(const Vec3f& eye, const Vec3f& centre, const Vec3f& up);
    void setErrorPixels(float pixels);
    float fovDegrees() const { return mFovDegrees; }

  protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

  private:
    void resetCameraToObject();
    void release();

    std::unique_ptr<VLODObject3D> mObject = std::make_unique<VLODObject3D>();
    std::unique_ptr<HierarchyDrawing> mDrawing = std::make_unique<HierarchyDrawing>();
    bool mHasObject = false;
    bool mReady = false; // the drawing layer is set up in this context
    std::string mSetupProblem;
    Vec3f mEye{0, 0, 4}, mCentre{0, 0, 0}, mUp{0, 1, 0};
    float mErrorPixels = 1, mFovDegrees = 20;
    FrameCounts mLastFrame;
};
