#include "VHVView.h"

#include "FailureMessage.h"
#include "LogStream.h"
#include "VConfiguration.h"
#include "VGLWidget.h"
#include "VLogStream.h"
#include "VLogWindow.h"
#include "VOutputWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <iostream>

namespace {
// "Size Type:" items: a texel size per impostor, or a number of impostors.
struct SizeType {
    const char* text;
    int32_t sizeType, width, height, count;
};
constexpr SizeType kSizeTypes[] = {
    {"8x4", 0, 8, 4, 0},          {"8x8", 0, 8, 8, 0},           {"16x8", 0, 16, 8, 0},
    {"16x16", 0, 16, 16, 0},      {"32x16", 0, 32, 16, 0},       {"32x32", 0, 32, 32, 0},
    {"64x32", 0, 64, 32, 0},      {"64x64", 0, 64, 64, 0},       {"128x64", 0, 128, 64, 0},
    {"1 Impostor", 1, 0, 0, 1},   {"2 Imposters", 1, 0, 0, 2},   {"4 Imposters", 1, 0, 0, 4},
    {"8 Imposters", 1, 0, 0, 8},  {"16 Imposters", 1, 0, 0, 16}, {"32 Imposters", 1, 0, 0, 32},
    {"64 Imposters", 1, 0, 0, 64}, {"128 Imposters", 1, 0, 0, 128}, {"256 Imposters", 1, 0, 0, 256},
};
// Prefetch strategies in list order.
constexpr int32_t kPrefetchStrategies[] = {1, 2, 0};

// Numbers are read and shown the same way in every locale.
QLineEdit* numberField(const QString& text, QValidator* validator, QWidget* parent) {
    auto* field = new QLineEdit(text, parent);
    validator->setLocale(QLocale::c());
    validator->setParent(field);
    field->setValidator(validator);
    return field;
}

QDoubleValidator* floatRange(double bottom, double top) {
    auto* validator = new QDoubleValidator(bottom, top, 20);
    validator->setNotation(QDoubleValidator::ScientificNotation);
    return validator;
}

// Text that does not parse counts as 0.
double valueOf(const QLineEdit* field) {
    return QLocale::c().toDouble(field->text());
}

QComboBox* comboBox(const QStringList& items, int current, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->addItems(items);
    box->setCurrentIndex(current);
    return box;
}

// A labelled row; the field is found by its label's text.
void addRow(QFormLayout* form, const QString& label, QWidget* field) {
    field->setObjectName(label);
    form->addRow(label, field);
}

void removeWithSideFiles(const QString& hierarchy) {
    std::error_code ignored;
    std::filesystem::path path(hierarchy.toStdString());
    std::filesystem::remove(path, ignored);
    for (const char* extension : {".mv2", ".mv3"}) std::filesystem::remove(path.replace_extension(extension), ignored);
}
} // namespace

VHVView::VHVView(QWidget* parent)
    : QWidget(parent), mOutput(std::make_unique<VOutputWidget>()), mLog(std::make_unique<VLogWindow>()) {
    std::cout << "init view" << std::endl;
    mOutput->setAttribute(Qt::WA_QuitOnClose, false); // closing the main window ends the program
    mOutput->resize(640, 640);
    mLog->setAttribute(Qt::WA_QuitOnClose, false);
    mLog->setWindowTitle(tr("OpenGL output window"));
    mLog->resize(600, 200);

    auto* column = new QVBoxLayout(this);
    for (QWidget* group : {qualityGroup(), frustumGroup(), cameraGroup(), cacheGroup(), sceneGroup(),
                           configurationGroup(), testGroup()})
        column->addWidget(group);
    mApply = new QPushButton(tr("Apply Changes"), this);
    mApply->setEnabled(false);
    column->addWidget(mApply);
    column->addStretch(1);
    connect(mApply, &QPushButton::clicked, this, &VHVView::updateGLParameters);
    connect(view(), &VGLWidget::projConstantChanged, this, qOverload<>(&VHVView::updateSimpError));
    connect(view(), &VGLWidget::projConstantChanged, this, qOverload<>(&VHVView::updateSilError));
    bindLogStreams();
}

VHVView::~VHVView() {
    deleteTemporaryFile(); // nobody named it, so nobody will clear it away
    // The streams outlive this panel: stop them writing into its log.
    VLogStream::out().unbind();
    VLogStream::err().unbind();
    setLogOut(mPreviousOut);
    setLogErr(mPreviousErr);
}

VGLWidget* VHVView::view() const {
    return mOutput->view();
}

void VHVView::bindLogStreams() {
    mPreviousOut = &logOut();
    mPreviousErr = &logErr();
    VLogWindow* log = mLog.get();
    const auto toWindow = [log](const std::string& paragraph) {
        log->appendParagraph(QString::fromUtf8(paragraph.data(), qsizetype(paragraph.size())));
    };
    VLogStream::out().bind(toWindow);
    VLogStream::err().bind(toWindow);
    setLogOut(&VLogStream::out());
    setLogErr(&VLogStream::err());
}

// ---- the group boxes ----

QWidget* VHVView::qualityGroup() {
    auto* group = new QGroupBox(tr("Quality Parameter"), this);
    auto* form = new QFormLayout(group);
    // In pixels. Both start at one pixel, which both ranges accept.
    mGlobalError = numberField("1.0", floatRange(0.0, FLT_MAX), group);
    mSilhouetteError = numberField("1.0", floatRange(1.0, FLT_MAX), group);
    addRow(form, tr("Global Error:"), mGlobalError);
    addRow(form, tr("Silhouette Error:"), mSilhouetteError);
    connect(mGlobalError, &QLineEdit::textChanged, this, &VHVView::enableApplyButton);
    connect(mGlobalError, &QLineEdit::textChanged, this, qOverload<>(&VHVView::updateSimpError));
    connect(mGlobalError, &QLineEdit::returnPressed, this, qOverload<>(&VHVView::updateSimpError));
    connect(mSilhouetteError, &QLineEdit::textChanged, this, &VHVView::enableApplyButton);
    connect(mSilhouetteError, &QLineEdit::textChanged, this, qOverload<>(&VHVView::updateSilError));
    connect(mSilhouetteError, &QLineEdit::returnPressed, this, qOverload<>(&VHVView::updateSilError));
    return group;
}

QWidget* VHVView::frustumGroup() {
    auto* group = new QGroupBox(tr("Frustum Parameter"), this);
    auto* form = new QFormLayout(group);
    // The fields start at what the view uses until "Apply Changes".
    mNearPlane = numberField(QString::number(view()->nearPlane()), floatRange(1e-05, FLT_MAX), group);
    mBackPlane = numberField(QString::number(view()->farPlane()), floatRange(2e-05, FLT_MAX), group);
    mOpeningAngle = new QSpinBox(group);
    mOpeningAngle->setSuffix(QString(QChar(0x00B0)));
    mOpeningAngle->setRange(1, 179); // a perspective of 180 degrees has no finite image
    mOpeningAngle->setValue(int(view()->fovDegrees()));
    addRow(form, tr("Near Plane:"), mNearPlane);
    addRow(form, tr("Back Plane:"), mBackPlane);
    addRow(form, tr("Opening Angle:"), mOpeningAngle);
    connect(mNearPlane, &QLineEdit::textChanged, this, &VHVView::enableApplyButton);
    connect(mBackPlane, &QLineEdit::textChanged, this, &VHVView::enableApplyButton);
    connect(mOpeningAngle, &QSpinBox::valueChanged, this, &VHVView::enableApplyButton);
    return group;
}

QWidget* VHVView::cameraGroup() {
    auto* group = new QGroupBox(tr("Camera and HUD"), this);
    auto* grid = new QVBoxLayout(group);
    const VGLWidget::HudSwitches hud = view()->hudSwitches();
    auto box = [&](const QString& text, bool on) {
        auto* check = new QCheckBox(text, group);
        check->setChecked(on);
        grid->addWidget(check);
        connect(check, &QCheckBox::toggled, this, &VHVView::updateCamHUD);
        return check;
    };
    mMotionPrediction = box(tr("Motion Prediction"), hud.motionPrediction);
    mShowPredictor = box(tr("Show Predictor"), hud.showPredictor);
    mShowCompass = box(tr("Show Compass"), hud.showCompass);
    mShowBoundingSphere = box(tr("Show Boundingsphere"), hud.showBoundingSphere);
    auto* paths = new QHBoxLayout;
    auto* load = new QPushButton(tr("Load Path"), group);
    auto* save = new QPushButton(tr("Save Path"), group);
    paths->addWidget(load);
    paths->addWidget(save);
    grid->addLayout(paths);
    connect(load, &QPushButton::clicked, view(), &VGLWidget::loadPath);
    connect(save, &QPushButton::clicked, view(), &VGLWidget::savePath);
    return group;
}

QWidget* VHVView::cacheGroup() {
    auto* group = new QGroupBox(tr("Cache Size (MB)"), this);
    auto* row = new QHBoxLayout(group);
    mCacheSize = numberField(QString::number(mCacheMegabytes), new QIntValidator(1, 1000), group);
    auto* resize = new QPushButton(tr("Resize Cache!"), group);
    row->addWidget(mCacheSize);
    row->addWidget(resize);
    connect(mCacheSize, &QLineEdit::textChanged, this, &VHVView::cacheValueChanged);
    connect(resize, &QPushButton::clicked, this, &VHVView::resizeCache);
    return group;
}

QWidget* VHVView::sceneGroup() {
    auto* group = new QGroupBox(tr("Generate Scenegraph"), this);
    auto* form = new QFormLayout(group);
    mSeedBox = new QSpinBox(group);
    mSeedBox->setRange(0, 1294967100);
    auto* generate = new QPushButton(tr("Generate Scene!"), group);
    addRow(form, tr("Seed Number:"), mSeedBox);
    form->addRow(generate);
    connect(mSeedBox, &QSpinBox::valueChanged, this, &VHVView::seedValueChanged);
    connect(generate, &QPushButton::clicked, this, &VHVView::generateScene);
    return group;
}

QWidget* VHVView::configurationGroup() {
    auto* group = new QGroupBox(tr("Configuration"), this);
    auto* form = new QFormLayout(group);
    QStringList sizes;
    for (const SizeType& s : kSizeTypes) sizes << s.text;
    mSizeType = comboBox(sizes, 3, group);
    mClusterAlgorithm = comboBox({"post order", "breadth first", "simple", "spatial"}, 0, group);
    mPrefetchStrategy = comboBox({"k parents & children", "direction dependend", "no prefetching"}, 0, group);
    mTextureResolution = comboBox({"x1", "x4", "x16"}, 0, group);
    mTextureCompression = comboBox({"no compression", "dequantise in RAM", "dequantise in Shader"}, 0, group);
    mUseOutOfCore = new QCheckBox(tr("use out-of-core"), group);
    mUseOutOfCore->setChecked(true);
    addRow(form, tr("Size Type:"), mSizeType);
    addRow(form, tr("Cluster Algorithm:"), mClusterAlgorithm);
    addRow(form, tr("Prefetch Strategy:"), mPrefetchStrategy);
    addRow(form, tr("Texture Resolution:"), mTextureResolution);
    addRow(form, tr("Texture Compression:"), mTextureCompression);
    form->addRow(mUseOutOfCore);
    for (QComboBox* box : {mSizeType, mClusterAlgorithm, mPrefetchStrategy, mTextureResolution, mTextureCompression})
        connect(box, &QComboBox::currentIndexChanged, this, &VHVView::updateConfiguration);
    connect(mUseOutOfCore, &QCheckBox::toggled, this, &VHVView::updateConfiguration);
    return group;
}

QWidget* VHVView::testGroup() {
    auto* group = new QGroupBox(tr("Test"), this);
    auto* row = new QHBoxLayout(group);
    auto* run = new QPushButton(tr("Run Test!"), group);
    auto* trace = new QPushButton(tr("Trace Path!"), group);
    row->addWidget(run);
    row->addWidget(trace);
    connect(run, &QPushButton::clicked, view(), &VGLWidget::createTestOutput);
    connect(trace, &QPushButton::clicked, view(), &VGLWidget::traceRecordedPath);
    return group;
}

// ---- slots ----

void VHVView::enableApplyButton() {
    mApply->setEnabled(true);
}

void VHVView::updateGLParameters() {
    const float nearPlane = float(valueOf(mNearPlane)), backPlane = float(valueOf(mBackPlane));
    if (!(nearPlane > 0 && backPlane > nearPlane)) {
        QMessageBox::warning(this, tr("Frustum Parameter"), tr("The back plane must lie beyond the near plane."));
        return;
    }
    view()->updateFrustum(nearPlane, backPlane, float(mOpeningAngle->value()));
    view()->repaint();
    mApply->setEnabled(false);
}

void VHVView::slotRepaintGl() {
    view()->repaint();
}

void VHVView::updateSimpError() {
    updateSimpError(true);
}

void VHVView::updateSilError() {
    updateSilError(true);
}

// A half-typed number ("1e-") is left alone rather than read as 0, which
// would ask for the finest level until the typing is done.
void VHVView::updateSimpError(bool repaint) {
    if (!mGlobalError->hasAcceptableInput()) return;
    const float e = float(valueOf(mGlobalError));
    view()->setErrorPixels(e);
    if (repaint) view()->update();
}

void VHVView::updateSilError(bool repaint) {
    if (!mSilhouetteError->hasAcceptableInput()) return;
    const float e = float(valueOf(mSilhouetteError));
    view()->setSilhouetteError(e);
    std::cout << "set sil error to " << e / view()->projectionConstant() << std::endl;
    if (repaint) view()->update();
}

double VHVView::errorBound() const {
    return view()->simplificationErrorPixels() / view()->projectionConstant();
}

void VHVView::updateCamHUD() {
    view()->setHudSwitches({mMotionPrediction->isChecked(), mShowPredictor->isChecked(), mShowCompass->isChecked(),
                            mShowBoundingSphere->isChecked()});
}

void VHVView::cacheValueChanged() {
    mCacheMegabytes = mCacheSize->text().toUInt();
}

void VHVView::resizeCache() {
    if (mCacheMegabytes == 0) return; // the field was emptied
    view()->resizeCache(mCacheMegabytes);
}

void VHVView::seedValueChanged() {
    mSeed = unsigned(mSeedBox->value());
}

void VHVView::generateScene() {
    view()->generateScene(mSeed);
    view()->repaint();
}

// The settings that shape impostor atlases or how textures are held apply to
// the file in view at once: it is read again (its side files rebuilt under
// the new stamp), and textures cached under the old ones are dropped.
void VHVView::updateConfiguration() {
    const std::vector<uint8_t> stampBefore = VConfiguration::configurationStamp();
    const bool outOfCoreBefore = VConfiguration::mUseOutOfCore;
    const SizeType& size = kSizeTypes[std::max(0, mSizeType->currentIndex())];
    VConfiguration::mImpostorSizeType = size.sizeType;
    if (size.sizeType == 0) {
        VConfiguration::mImpostorWidth = size.width;
        VConfiguration::mImpostorHeight = size.height;
    } else {
        VConfiguration::mNumImpostors = size.count;
    }
    VConfiguration::mClusterAlgorithm = std::max(0, mClusterAlgorithm->currentIndex());
    VConfiguration::mPrefetchStrategy = kPrefetchStrategies[std::max(0, mPrefetchStrategy->currentIndex())];
    VConfiguration::mTextureResolution = std::max(0, mTextureResolution->currentIndex());
    VConfiguration::mTextureCompression = std::max(0, mTextureCompression->currentIndex());
    VConfiguration::mUseOutOfCore = mUseOutOfCore->isChecked();
    if (VConfiguration::configurationStamp() == stampBefore && VConfiguration::mUseOutOfCore == outOfCoreBefore)
        return;
    view()->dropCachedTextures();
    if (view()->hasObject()) updateView();
}

// ---- the file in view ----

void VHVView::deleteTemporaryFile() {
    if (mTemporary && !mFileName.isEmpty()) removeWithSideFiles(mFileName);
}

bool VHVView::setFileName(const QString& name, bool temporary, std::string& error) {
    if (name.isEmpty()) {
        view()->closeHierarchy();
        view()->closeScene();
        std::cout << "no object!" << std::endl;
    } else if (name != mFileName) {
        const bool scene = name.endsWith(".scn", Qt::CaseInsensitive);
        if (!(scene ? view()->openScene(name.toStdString(), error) : view()->openHierarchy(name.toStdString(), error)))
            return false;
        updateSimpError(false);
    }
    if (name != mFileName) {
        deleteTemporaryFile();
        mFileName = name;
    }
    mTemporary = temporary;
    mApply->setEnabled(false);
    return true;
}

void VHVView::updateView() {
    if (mFileName.isEmpty()) {
        view()->closeHierarchy();
        view()->closeScene();
        std::cout << "no object!" << std::endl;
        return;
    }
    std::string error;
    const bool scene = mFileName.endsWith(".scn", Qt::CaseInsensitive);
    const bool keepCamera = true;
    if (!(scene ? view()->openScene(mFileName.toStdString(), error, keepCamera)
                : view()->openHierarchy(mFileName.toStdString(), error, keepCamera)))
        showFailure(this, tr("Cannot read %1 again:\n%2").arg(mFileName, QString::fromStdString(error)));
    else
        updateSimpError(false);
    mApply->setEnabled(false);
}
