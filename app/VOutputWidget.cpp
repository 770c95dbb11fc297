#include "VOutputWidget.h"

#include "FailureMessage.h"
#include "OverwriteQuestion.h"
#include "VGLWidget.h"

#include <QAction>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPolygon>
#include <QStatusBar>
#include <QToolBar>
#include <QWhatsThis>

#include <cmath>
#include <iostream>

namespace {
constexpr int kMessageMs = 2000;

// A 16x16 icon with a short label, for actions without a natural picture.
QIcon labelIcon(const QString& label) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setPixelSize(label.size() > 1 ? 8 : 12);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, label);
    return QIcon(pixmap);
}

// A triangle drawn filled, as an outline, or both: the polygon modes.
QIcon triangleIcon(bool filled, bool outlined) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const QPolygon triangle({QPoint(8, 1), QPoint(15, 14), QPoint(1, 14)});
    painter.setPen(outlined ? QPen(Qt::black, 1.5) : Qt::NoPen);
    painter.setBrush(filled ? QBrush(QColor(90, 140, 220)) : Qt::NoBrush);
    painter.drawPolygon(triangle);
    return QIcon(pixmap);
}
} // namespace

VOutputWidget::VOutputWidget(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(tr("Output Window"));
    mView = new VGLWidget(this);
    mView->setObjectName("OpenGL output window");
    setCentralWidget(mView);
    connect(mView, &VGLWidget::fpsCalculated, this, &VOutputWidget::setFrameRateInfo);
    statusBar()->showMessage(tr("Ready."), kMessageMs);
    initActions();
    initToolBar();
    setFocusPolicy(Qt::StrongFocus);
    mView->setBackfaceCulling(mBfCulling->isChecked());
}

QAction* VOutputWidget::addAction(const QString& text, const QString& menuText, const QString& key,
                                  const QString& tip, const QString& help, bool checkable) {
    auto* action = new QAction(menuText, this);
    action->setIconText(text);
    action->setToolTip(text);
    action->setShortcut(QKeySequence(key));
    action->setStatusTip(tip);
    action->setWhatsThis(help);
    action->setCheckable(checkable);
    return action;
}

void VOutputWidget::initActions() {
    mFullScreen = addAction(tr("Set Fullscreen"), tr("&Fullscreen"), tr("F4"), tr("Show output in fullscreen"),
                            tr("Set Fullscreen\n\nShow output in fullscreen"), true);
    mSilhouetteOnly =
        addAction(tr("Show silhouette only"), tr("&Silhouette only"), tr("Ctrl+S"),
                  tr("Show only the extracted silhouette"), tr("Show silhouette only\n\nShow only the extracted silhouette"), true);
    // The view extracts no silhouettes: the toggle stays for the tool bar's
    // layout, and says so instead of doing nothing.
    mSilhouetteOnly->setEnabled(false);
    mSilhouetteOnly->setToolTip(tr("Show silhouette only: not available, this viewer extracts no silhouettes"));
    mBfCulling = addAction(tr("Backface Culling"), tr("&backface culling"), tr("Ctrl+B"), tr("Enables backface culling"),
                           tr("Backface Culling\n\nEnables backface culling"), true);
    mBfCulling->setChecked(true);
    mPaintLoop = addAction(tr("Paint Loop"), tr("&paint loop"), tr("Ctrl+L"), tr("Redraws the view continuously"),
                           tr("Paint Loop\n\nRedraws the view continuously, at the chosen frame rate"), true);
    mBgColorAction =
        addAction(tr("Background Color"), tr("&change background color"), tr("Ctrl+C"), tr("Change Background Color"),
                  tr("Background Color\n\nChange Background Color"), false);
    mWfColorAction = addAction(tr("Wireframe Color"), tr("&change wireframe color"), tr("Ctrl+Shift+C"),
                               tr("Change Wireframe Color"), tr("Wireframe Color\n\nChange Wireframe Color"), false);
    mScreenShot = addAction(tr("Screenshot"), tr("&create a screenshot of the current view"), tr("Ctrl+P"),
                            tr("Create a screenshot"), tr("Screenshot\n\nCreate a screenshot of the current view."), false);
    mResetView = addAction(tr("Reset View"), tr("&reset view to default settings"), tr("Ctrl+R"), tr("Reset view"),
                           tr("Reset view\n\nResets the view to default settings."), false);
    mFreezeMode = addAction(tr("Freeze Mode"), tr("&freeze mode"), tr("Ctrl+F"), tr("Freeze current lod selection"),
                            tr("Freeze Mode\n\nFreeze current lod selection"), true);

    mFullScreen->setIcon(labelIcon("FS"));
    mSilhouetteOnly->setIcon(labelIcon("Si"));
    mBfCulling->setIcon(labelIcon("BF"));
    mPaintLoop->setIcon(labelIcon("\u21bb"));
    mScreenShot->setIcon(labelIcon("\u25a3"));
    mResetView->setIcon(labelIcon("\u2302"));
    mFreezeMode->setIcon(labelIcon("\u2744"));
    setSwatch(mBgColorAction, mBgSwatch, mBgColor);
    setSwatch(mWfColorAction, mWfSwatch, QColor(26, 26, 26)); // the view's line colour until one is chosen

    connect(mFullScreen, &QAction::toggled, this, &VOutputWidget::slotFullScreen);
    connect(mSilhouetteOnly, &QAction::toggled, this, &VOutputWidget::slotSilhouetteOnly);
    connect(mBfCulling, &QAction::toggled, this, &VOutputWidget::slotBfCulling);
    connect(mPaintLoop, &QAction::toggled, this, &VOutputWidget::slotPaintLoop);
    connect(mBgColorAction, &QAction::triggered, this, &VOutputWidget::slotChangeBgColor);
    connect(mWfColorAction, &QAction::triggered, this, &VOutputWidget::slotChangeWfColor);
    connect(mScreenShot, &QAction::triggered, this, &VOutputWidget::slotScreenShot);
    connect(mResetView, &QAction::triggered, this, &VOutputWidget::slotResetView);
    connect(mFreezeMode, &QAction::toggled, this, &VOutputWidget::slotFreezeMode);
}

void VOutputWidget::initPolygonModeBox() {
    mPolygonMode = new QComboBox(this);
    mPolygonMode->addItem(triangleIcon(true, false), QString());
    mPolygonMode->addItem(triangleIcon(false, true), QString());
    mPolygonMode->addItem(triangleIcon(true, true), QString());
    mPolygonMode->setItemData(0, tr("filled"), Qt::ToolTipRole);
    mPolygonMode->setItemData(1, tr("wireframe only"), Qt::ToolTipRole);
    mPolygonMode->setItemData(2, tr("filled with wireframe"), Qt::ToolTipRole);
    connect(mPolygonMode, &QComboBox::activated, this, &VOutputWidget::slotPolygonRenderModeSelected);
}

void VOutputWidget::initFrameRateBox() {
    mFrameRate = new QComboBox(this);
    mFrameRate->setEditable(true);
    QStringList rates{tr("(Framerate)"), "1", "2", "3", "4", "5"};
    for (int rate = 10; rate <= 50; rate += 5)
        rates << QString::number(rate);
    mFrameRate->addItems(rates);
    mFrameRate->setCurrentIndex(0);
    // Connected after filling: the window starts without a paint loop.
    connect(mFrameRate, &QComboBox::currentTextChanged, this, &VOutputWidget::framerateSelected);
}

void VOutputWidget::initToolBar() {
    initPolygonModeBox();
    initFrameRateBox();
    mToolBar = addToolBar(tr("file operations"));
    mToolBar->addActions({mFullScreen, mSilhouetteOnly, mBfCulling});
    mToolBar->addWidget(mPolygonMode);
    mToolBar->addSeparator();
    mToolBar->addAction(mPaintLoop);
    mToolBar->addWidget(mFrameRate);
    mToolBar->addSeparator();
    mToolBar->addActions({mBgColorAction, mWfColorAction});
    mToolBar->addSeparator();
    mToolBar->addAction(mScreenShot);
    mToolBar->addSeparator();
    mToolBar->addActions({mResetView, mFreezeMode});
    mToolBar->addSeparator();
    mToolBar->addSeparator();
    mToolBar->addAction(QWhatsThis::createAction(this));
}

QList<QAction*> VOutputWidget::toolActions() const {
    return {mFullScreen, mSilhouetteOnly, mBfCulling, mPaintLoop, mBgColorAction,
            mWfColorAction, mScreenShot, mResetView, mFreezeMode};
}

void VOutputWidget::setSwatch(QAction* action, QPixmap& swatch, const QColor& colour) {
    swatch.fill(colour);
    action->setIcon(QIcon(swatch));
}

void VOutputWidget::slotFullScreen(bool on) {
    std::cout << "set fullscreen" << std::endl;
    if (on) showFullScreen();
    else showNormal();
    mToolBar->setVisible(!on);
}

void VOutputWidget::slotSilhouetteOnly(bool on) {
    mView->setSilhouetteOnly(on);
}

void VOutputWidget::slotBfCulling(bool on) {
    mView->setBackfaceCulling(on);
}

void VOutputWidget::slotPaintLoop(bool on) {
    mView->setPaintLoop(on);
}

void VOutputWidget::slotChangeBgColor() {
    const QColor chosen = QColorDialog::getColor(mBgColor, this);
    if (!chosen.isValid()) return;
    mBgColor = chosen;
    setSwatch(mBgColorAction, mBgSwatch, mBgColor);
    mView->setBgColor(mBgColor);
}

void VOutputWidget::slotChangeWfColor() {
    const QColor chosen = QColorDialog::getColor(mWfColor, this);
    if (!chosen.isValid()) return;
    mWfColor = chosen;
    setSwatch(mWfColorAction, mWfSwatch, mWfColor);
    mView->setWfColor(mWfColor);
}

QString VOutputWidget::objectStatus(const QString& fps) const {
    const VLODObject3D& object = mView->object();
    size_t strips = 0;
    for (const MTArc& arc : object.aarray)
        strips += arc.strips.size();
    const Vec3d& eye = mView->freeCamera().position();
    const double distance = std::sqrt(eye.x * eye.x + eye.y * eye.y + eye.z * eye.z);
    // What the last frame drew follows the object's own figures: the counts a
    // user tunes the error against.
    const FrameCounts& drawn = mView->lastFrame();
    return tr("%1 vertices (%2 strips, %3 arcs) Distance: %4 %5 | %6 triangles, %7 impostors, %8 px")
        .arg(object.vnum())
        .arg(strips)
        .arg(object.anum())
        .arg(distance, 0, 'g', 4)
        .arg(fps)
        .arg(drawn.triangles)
        .arg(drawn.impostors)
        .arg(double(mView->simplificationErrorPixels()), 0, 'g', 3);
}

QString VOutputWidget::sceneStatus(const QString& fps) const {
    const VDrawStatistics& s = mView->frameStatistics();
    return tr("%1 Points, %2 Lines, %3 Triangles, %4 Imposter, %5 | %6 px")
        .arg(s.points)
        .arg(s.lines)
        .arg(s.triangles)
        .arg(s.billboards)
        .arg(fps)
        .arg(double(mView->simplificationErrorPixels()), 0, 'g', 3);
}

QImage VOutputWidget::picture() {
    // A widget grab leaves the view's OpenGL frame out: it is laid over it.
    QImage shot = grab().toImage().convertToFormat(QImage::Format_RGB32);
    QPainter(&shot).drawImage(mView->geometry().topLeft(), mView->grabFramebuffer().convertToFormat(QImage::Format_RGB32));
    return shot;
}

void VOutputWidget::setFrameRateInfo(const QString& fps) {
    statusBar()->showMessage(mView->hasObject() ? objectStatus(fps) : sceneStatus(fps));
}

void VOutputWidget::slotScreenShot() {
    // The replace question is ours: it also covers read-only files.
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("Choose image filename"), mLastScreenshot,
                                     tr("Images (*.png *.xpm *.jpg)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (fileName.isEmpty() || !mayOverwrite(this, fileName, tr("Output Image File"))) return;
    QString error;
    if (!mView->takeScreenshot(fileName, true, &error)) showFailure(this, tr("Could not save %1: %2").arg(fileName, error));
    mLastScreenshot = fileName;
}

void VOutputWidget::slotResetView() {
    mView->resetView();
}

void VOutputWidget::slotFreezeMode(bool on) {
    mView->setFreezeMode(on);
}

void VOutputWidget::slotPolygonRenderModeSelected(int mode) {
    switch (mode) {
    case 0:
        mView->setWireFrame(false);
        mView->setWireFrameOnly(false);
        break;
    case 1: mView->setWireFrameOnly(true); break;
    case 2: mView->setWireFrame(true); break;
    default: std::cerr << "unrecognized polygon render mode selected\n";
    }
}

void VOutputWidget::framerateSelected(const QString& text) {
    std::cout << "set framerate to: " << text.toStdString() << std::endl;
    bool number = false;
    const int rate = text.toInt(&number, 10);
    mView->setFrameRate(number ? rate : 0);
    // Choosing a rate starts the view's loop: keep the toggle truthful.
    const QSignalBlocker quiet(mPaintLoop);
    mPaintLoop->setChecked(true);
}
