#pragma once
// The output window: a top-level window around the OpenGL view with the tool
// bar "file operations" (full screen, silhouette, culling, polygon mode,
// paint loop and frame rate, colours, screenshot, reset, freeze) and a status
// bar that shows what the view draws and how fast.

#include <QColor>
#include <QMainWindow>
#include <QPixmap>
#include <QString>

class QAction;
class QComboBox;
class QToolBar;
class VGLWidget;

class VOutputWidget : public QMainWindow {
    Q_OBJECT
  public:
    explicit VOutputWidget(QWidget* parent = nullptr);

    VGLWidget* view() const { return mView; }

    QToolBar* toolBar() const { return mToolBar; }
    QComboBox* polygonModeBox() const { return mPolygonMode; }
    QComboBox* frameRateBox() const { return mFrameRate; }
    const QColor& backgroundColour() const { return mBgColor; }
    // Every action of the tool bar, in its order.
    QList<QAction*> toolActions() const;
    // The window as the user sees it: tool bar, view and status line.
    QImage picture();

  public slots:
    void slotFullScreen(bool on);
    void slotSilhouetteOnly(bool on);
    void slotBfCulling(bool on);
    void slotPaintLoop(bool on);
    void slotChangeBgColor();
    void slotChangeWfColor();
    void setFrameRateInfo(const QString& fps);
    void slotScreenShot();
    void slotResetView();
    void slotFreezeMode(bool on);
    void slotPolygonRenderModeSelected(int mode);
    void framerateSelected(const QString& text);

  private:
    void initActions();
    void initToolBar();
    void initPolygonModeBox();
    void initFrameRateBox();
    QAction* addAction(const QString& text, const QString& menuText, const QString& key, const QString& tip,
                       const QString& help, bool checkable);
    void setSwatch(QAction* action, QPixmap& swatch, const QColor& colour);
    QString objectStatus(const QString& fps) const;
    QString sceneStatus(const QString& fps) const;

    VGLWidget* mView = nullptr;
    QToolBar* mToolBar = nullptr;
    QAction *mFullScreen, *mSilhouetteOnly, *mBfCulling, *mPaintLoop, *mBgColorAction, *mWfColorAction;
    QAction *mScreenShot, *mResetView, *mFreezeMode;
    QComboBox* mPolygonMode = nullptr;
    QComboBox* mFrameRate = nullptr;
    QColor mBgColor{170, 170, 255};
    QColor mWfColor; // unset until chosen
    QPixmap mBgSwatch{12, 12}, mWfSwatch{12, 12};
    QString mLastScreenshot; // offered again by the next screenshot
};
