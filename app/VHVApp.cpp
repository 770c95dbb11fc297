#include "VHVApp.h"

#include "VGLWidget.h"
#include "VHCView.h"
#include "VHVView.h"
#include "VLogWindow.h"
#include "VObject3D.h"
#include "VOutputWidget.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <iostream>

namespace {
constexpr int kMessageMs = 2000;

enum class DroppedKind { Hierarchy, Mesh, Other };

DroppedKind kindOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "mvh" || suffix == "scn") return DroppedKind::Hierarchy;
    if (VObject3D::isImportable(path.toStdString())) return DroppedKind::Mesh;
    return DroppedKind::Other;
}

// The one local file a drag carries; empty when it carries anything else.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().first().isLocalFile()) return {};
    return data->urls().first().toLocalFile();
}
} // namespace

VHVApp::VHVApp(QWidget* parent) : QMainWindow(parent), mPanel(new VHVView(this)) {
    setWindowTitle(tr("Morva Viewer 0.8 (beta)"));
    setCentralWidget(mPanel);
    initActions();
    initMenuBar();
    statusBar()->showMessage(tr("Ready."), kMessageMs);
    resize(440, sizeHint().height()); // room for a file's path in the status bar
    // Shown at once: showing sets up the view's OpenGL context, which opening a file needs.
    outputWindow()->setVisible(mWindowView->isChecked());
    // A file dropped on the view or the log opens as one dropped here does.
    setAcceptDrops(true);
    for (QWidget* window : {static_cast<QWidget*>(outputWindow()), static_cast<QWidget*>(logWindow())}) {
        window->setAcceptDrops(true);
        window->installEventFilter(this);
    }
}

bool VHVApp::takesDrop(const QMimeData* data) {
    const QString path = droppedFile(data);
    return !path.isEmpty() && kindOf(path) != DroppedKind::Other;
}

void VHVApp::dragEnterEvent(QDragEnterEvent* event) {
    if (takesDrop(event->mimeData())) event->acceptProposedAction();
}

void VHVApp::dropEvent(QDropEvent* event) {
    if (!takesDrop(event->mimeData())) return;
    event->acceptProposedAction();
    // After the drop is done: the dialog or a message box would otherwise
    // hold the program the file came from until it is closed.
    QTimer::singleShot(0, this, [this, path = droppedFile(event->mimeData())] { openDroppedFile(path); });
}

bool VHVApp::eventFilter(QObject* watched, QEvent* event) {
    const bool ours = watched == outputWindow() || watched == logWindow();
    if (ours && event->type() == QEvent::DragEnter) {
        dragEnterEvent(static_cast<QDragEnterEvent*>(event));
        return true;
    }
    if (ours && event->type() == QEvent::Drop) {
        dropEvent(static_cast<QDropEvent*>(event));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void VHVApp::openDroppedFile(const QString& path) {
    switch (kindOf(path)) {
    case DroppedKind::Hierarchy:
        openFile(path);
        return;
    case DroppedKind::Mesh:
        if (!mCreationDialog) mCreationDialog = new VHCView(this);
        mCreationDialog->setInputFile(path);
        runCreationDialog();
        return;
    case DroppedKind::Other:
        QMessageBox::warning(this, windowTitle(),
                             tr("Cannot open %1:\nnot a hierarchy (.mvh), a scene (.scn) or a mesh (.ply, .3ds, .x3d)")
                                 .arg(path));
        return;
    }
}

QAction* VHVApp::addPlainAction(const QString& text, const QString& menuText, const QString& key,
                                const QString& tip) {
    auto* action = new QAction(menuText, this);
    action->setIconText(text);
    if (!key.isEmpty()) action->setShortcut(QKeySequence(key));
    action->setStatusTip(tip);
    action->setWhatsThis(text + "\n\n" + tip);
    return action;
}

QAction* VHVApp::addToggleAction(const QString& text, const QString& menuText, const QString& key,
                                 const QString& tip, bool on) {
    QAction* action = addPlainAction(text, menuText, key, tip);
    action->setCheckable(true);
    action->setChecked(on);
    return action;
}

void VHVApp::initActions() {
    mFileOpen =
        addPlainAction(tr("Open File"), tr("&Open..."), tr("Ctrl+O"), tr("Opens an existing document"));
    mFileOpen->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    mFileClose =
        addPlainAction(tr("Close File"), tr("&Close"), tr("Ctrl+W"), tr("Closes the actual document"));
    mFileImport =
        addPlainAction(tr("Import File"), tr("&Import"), tr("Ctrl+I"), tr("Imports an existing Object"));
    mFileQuit = addPlainAction(tr("Exit"), tr("E&xit"), tr("Ctrl+Q"), tr("Quits the application"));
    mOpenScene =
        addPlainAction(tr("Open Scene"), tr("Load predefined &Scene..."), {}, tr("Load predefined &Scene"));
    mReloadShader = addPlainAction(tr("Reload Shader"), tr("Reload Shader"), {},
                                   tr("Reloads vertex an fragment shader programs"));
    mWindowView = addToggleAction(tr("View"), tr("&View"), tr("Ctrl+V"), tr("Display view of scene"), true);
    mWindowLog = addToggleAction(tr("Log"), tr("&Log"), tr("Ctrl+L"), tr("Show History Log"), false);
    mHelpAbout = addPlainAction(tr("About"), tr("&About..."), {}, tr("About the application"));

    connect(mFileOpen, &QAction::triggered, this, &VHVApp::slotFileOpen);
    connect(mFileClose, &QAction::triggered, this, &VHVApp::slotFileClose);
    connect(mFileImport, &QAction::triggered, this, &VHVApp::slotFileImport);
    connect(mFileQuit, &QAction::triggered, this, &VHVApp::slotFileQuit);
    connect(mReloadShader, &QAction::triggered, this, &VHVApp::slotReloadShader);
    connect(mOpenScene, &QAction::triggered, this, &VHVApp::slotOpenScene);
    connect(mWindowView, &QAction::toggled, this, &VHVApp::slotWindowView);
    connect(mWindowLog, &QAction::toggled, this, &VHVApp::slotWindowLog);
    connect(mHelpAbout, &QAction::triggered, this, &VHVApp::slotHelpAbout);
}

void VHVApp::initMenuBar() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addActions({mFileOpen, mFileClose});
    file->addSeparator();
    file->addAction(mFileImport);
    file->addSeparator();
    file->addAction(mOpenScene);
    file->addSeparator();
    file->addAction(mFileQuit);
    menuBar()->addMenu(tr("&Extra"))->addAction(mReloadShader);
    menuBar()->addMenu(tr("&Window"))->addActions({mWindowView, mWindowLog});
    menuBar()->addSeparator();
    menuBar()->addMenu(tr("&Help"))->addAction(mHelpAbout);
    for (QMenu* menu : menuBar()->findChildren<QMenu*>())
        menu->setToolTipsVisible(true);
}

VGLWidget* VHVApp::view() const {
    return mPanel->view();
}

VOutputWidget* VHVApp::outputWindow() const {
    return mPanel->outputWindow();
}

VLogWindow* VHVApp::logWindow() const {
    return mPanel->logWindow();
}

const QString& VHVApp::fileName() const {
    return mPanel->fileName();
}

bool VHVApp::openFile(const QString& path) {
    // A view never shown has no OpenGL context yet.
    if (!view()->isValid()) mWindowView->setChecked(true);
    std::string error;
    if (!mPanel->setFileName(path, false, error)) {
        statusBar()->showMessage(tr("Opening failed"), kMessageMs);
        QMessageBox::warning(this, windowTitle(),
                             tr("Cannot open %1:\n%2").arg(path, QString::fromStdString(error)));
        return false;
    }
    outputWindow()->setWindowTitle(path + " - " + tr("Output Window"));
    statusBar()->showMessage(tr("Loaded document: ") + path);
    return true;
}

void VHVApp::slotFileOpen() {
    statusBar()->showMessage(tr("Opening file..."));
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open hierarchy"), fileName(), tr("Morva (*.mvh);;Scenes (*.scn)"));
    if (path.isEmpty()) {
        statusBar()->showMessage(tr("Opening aborted"), kMessageMs);
        return;
    }
    openFile(path);
}

void VHVApp::slotFileClose() {
    statusBar()->showMessage(tr("Closing file..."));
    std::string ignored; // closing cannot fail
    mPanel->setFileName(QString(), false, ignored);
    outputWindow()->setWindowTitle(tr("Output Window"));
    statusBar()->showMessage(tr("Ready."));
}

void VHVApp::slotFileImport() {
    if (!mCreationDialog) mCreationDialog = new VHCView(this);
    runCreationDialog();
}

void VHVApp::runCreationDialog() {
    if (mCreationDialog->exec() == QDialog::Accepted) {
        std::cerr << "set hierarchy" << std::endl;
        const QString built = mCreationDialog->outputFileName();
        std::string error;
        if (!view()->isValid()) mWindowView->setChecked(true);
        if (mPanel->setFileName(built, mCreationDialog->isTemporary(), error)) {
            outputWindow()->setWindowTitle(built + " - " + tr("Output Window"));
            statusBar()->showMessage(tr("Loaded document: ") + built);
        } else {
            QMessageBox::warning(this, windowTitle(), tr("Cannot open %1:\n%2").arg(built, QString::fromStdString(error)));
        }
    }
    mCreationDialog->hide();
}

void VHVApp::slotFileQuit() {
    statusBar()->showMessage(tr("Exiting application..."));
    QApplication::quit();
    statusBar()->showMessage(tr("Ready."));
}

void VHVApp::slotOpenScene() {
    std::string error;
    if (!view()->isValid()) mWindowView->setChecked(true);
    if (view()->openInstanceScene(error)) {
        outputWindow()->setWindowTitle(tr("Predefined Scene") + " - " + tr("Output Window"));
        statusBar()->showMessage(tr("Loaded the predefined scene"), kMessageMs);
        return;
    }
    QMessageBox::warning(this, windowTitle(), tr("Cannot load the predefined scene:\n%1").arg(QString::fromStdString(error)));
}

void VHVApp::slotReloadShader() {
    view()->reloadShader();
}

void VHVApp::slotWindowView(bool on) {
    outputWindow()->setVisible(on);
}

void VHVApp::slotWindowLog(bool on) {
    logWindow()->setVisible(on);
}

void VHVApp::slotHelpAbout() {
    QMessageBox::information(this, tr("About..."), tr("Morva Viewer\nVersion 0.8 (beta)"));
}
