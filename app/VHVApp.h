#pragma once
// The viewer's main window: the File, Extra, Window and Help menus, the
// status bar, the log window (bound to the log streams for the window's
// lifetime), the output window with the OpenGL view and, as central widget,
// a file row.

#include <QMainWindow>

#include <memory>
#include <ostream>

class QAction;
class QLabel;
class VGLWidget;
class VLogWindow;
class VOutputWidget;

class VHVApp : public QMainWindow {
    Q_OBJECT
  public:
    explicit VHVApp(QWidget* parent = nullptr);
    ~VHVApp() override;

    // Loads a hierarchy (or, for a name ending in ".scn", a scene) into the
    // view. When it cannot be read a message box names the file and the
    // reader's reason, and what was shown stays.
    bool openFile(const QString& path);
    const QString& fileName() const { return mFileName; }
    VGLWidget* view() const;
    VOutputWidget* outputWindow() const { return mOutput.get(); }
    VLogWindow* logWindow() const { return mLog.get(); }

  public slots:
    void slotFileOpen();
    void slotFileClose();
    void slotFileQuit();
    void slotReloadShader();
    void slotWindowView(bool on);
    void slotWindowLog(bool on);
    void slotHelpAbout();

  private:
    void initActions();
    void initMenuBar();
    void initCentralWidget();
    void bindLogStreams();
    QAction* addPlainAction(const QString& text, const QString& menuText, const QString& key,
                            const QString& tip);
    QAction* addToggleAction(const QString& text, const QString& menuText, const QString& key,
                             const QString& tip, bool on);
    void setMissingTarget(QAction* action, const QString& missing);

    QAction *mFileOpen, *mFileClose, *mFileImport, *mFileQuit, *mOpenScene, *mReloadShader;
    QAction *mWindowView, *mWindowLog, *mHelpAbout;
    QLabel* mFileLabel = nullptr;
    std::unique_ptr<VOutputWidget> mOutput;
    std::unique_ptr<VLogWindow> mLog;
    QString mFileName;
    std::ostream *mPreviousOut = nullptr, *mPreviousErr = nullptr;
};
