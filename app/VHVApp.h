#pragma once
// The viewer's main window: the File, Extra, Window and Help menus, the
// status bar and, as central widget, the configuration panel (which owns
// the output window with the OpenGL view, and the log window).

#include <QMainWindow>

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class VGLWidget;
class VHCView;
class VHVView;
class VLogWindow;
class VOutputWidget;

class VHVApp : public QMainWindow {
    Q_OBJECT
  public:
    explicit VHVApp(QWidget* parent = nullptr);

    // Loads a hierarchy (or, for a name ending in ".scn", a scene) into the
    // view. When it cannot be read a message box names the file and the
    // reader's reason, and what was shown stays.
    bool openFile(const QString& path);
    // What a file dropped on the main, the output or the log window does: a
    // hierarchy or a scene opens, a mesh opens the creation dialog with it
    // as input. Anything else is refused with a message box.
    void openDroppedFile(const QString& path);
    // Whether a drag carries one local file of a kind openDroppedFile takes.
    static bool takesDrop(const QMimeData* data);
    const QString& fileName() const;
    VHVView* panel() const { return mPanel; }
    VGLWidget* view() const;
    VOutputWidget* outputWindow() const;
    VLogWindow* logWindow() const;

  public slots:
    void slotFileOpen();
    void slotFileClose();
    void slotFileImport();
    void slotFileQuit();
    void slotOpenScene();
    void slotReloadShader();
    void slotWindowView(bool on);
    void slotWindowLog(bool on);
    void slotHelpAbout();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Runs the creation dialog; when it built a hierarchy, opens it.
    void runCreationDialog();
    void initActions();
    void initMenuBar();
    QAction* addPlainAction(const QString& text, const QString& menuText, const QString& key,
                            const QString& tip);
    QAction* addToggleAction(const QString& text, const QString& menuText, const QString& key,
                             const QString& tip, bool on);

    QAction *mFileOpen, *mFileClose, *mFileImport, *mFileQuit, *mOpenScene, *mReloadShader;
    QAction *mWindowView, *mWindowLog, *mHelpAbout;
    VHVView* mPanel;
    VHCView* mCreationDialog = nullptr; // made at the first import, reused
};
