#pragma once
// The configuration panel, the main window's central widget: a column of
// group boxes with the viewer's run-time settings (error bounds, frustum,
// camera and HUD switches, texture cache size, the preparation settings of
// hierarchies), and the owner of the output window with its view, of the
// log window (bound to the log streams while the panel lives) and of the
// name of the file in view.

#include <QString>
#include <QWidget>

#include <memory>
#include <ostream>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class VGLWidget;
class VLogWindow;
class VOutputWidget;

class VHVView : public QWidget {
    Q_OBJECT
  public:
    explicit VHVView(QWidget* parent = nullptr);
    ~VHVView() override;

    VGLWidget* view() const;
    VOutputWidget* outputWindow() const { return mOutput.get(); }
    VLogWindow* logWindow() const { return mLog.get(); }

    // Opens a hierarchy, or a scene for a name ending in ".scn"; an empty
    // name closes the hierarchy. A temporary file (made by an import) is
    // deleted with its side files once another takes its place. False, with
    // the reader's reason, when the file cannot be read: what was shown stays.
    bool setFileName(const QString& name, bool temporary, std::string& error);
    const QString& fileName() const { return mFileName; }
    bool isTemporary() const { return mTemporary; }
    // The simplification bound per unit of distance the last error change
    // gave the view: pixels times the viewport's angle per pixel.
    double errorBound() const;

  public slots:
    // Reads the file in view again (settings that shape its side files changed).
    void updateView();
    void updateGLParameters();
    void slotRepaintGl();
    void enableApplyButton();
    void updateSimpError();
    void updateSimpError(bool repaint);
    void updateSilError();
    void updateSilError(bool repaint);
    void cacheValueChanged();
    void resizeCache();
    void seedValueChanged();
    void generateScene();
    void updateConfiguration();
    void updateCamHUD();

  private:
    QWidget* qualityGroup();
    QWidget* frustumGroup();
    QWidget* cameraGroup();
    QWidget* cacheGroup();
    QWidget* sceneGroup();
    QWidget* configurationGroup();
    QWidget* testGroup();
    void bindLogStreams();
    void deleteTemporaryFile();

    std::unique_ptr<VOutputWidget> mOutput;
    std::unique_ptr<VLogWindow> mLog;
    QString mFileName;
    bool mTemporary = false;
    unsigned mCacheMegabytes = 500;
    unsigned mSeed = 0;
    std::ostream *mPreviousOut = nullptr, *mPreviousErr = nullptr;

    QLineEdit *mGlobalError, *mSilhouetteError, *mNearPlane, *mBackPlane, *mCacheSize;
    QSpinBox *mOpeningAngle, *mSeedBox;
    QCheckBox *mMotionPrediction, *mShowPredictor, *mShowCompass, *mShowBoundingSphere, *mUseOutOfCore;
    QComboBox *mSizeType, *mClusterAlgorithm, *mPrefetchStrategy, *mTextureResolution, *mTextureCompression;
    QPushButton *mApply;
};
