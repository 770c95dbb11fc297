#include "VHCView.h"

#include "HierarchyBuildJob.h"
#include "LogStream.h"
#include "OverwriteQuestion.h"
#include "VCreationProgressDialog.h"

#include <QCheckBox>
#include <QDoubleValidator>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <climits>

namespace {
constexpr int kProgressIntervalMs = 40; // how often the window samples the worker's progress

const char* const kSteps[] = {VLODObject3DCreator::kStepMultiTriangulation,
                              VLODObject3DCreator::kStepMergeNodes,
                              "Replace triangle pairs with quads",
                              "Sample triangles and quads",
                              VLODObject3DCreator::kStepSourceNodes,
                              VLODObject3DCreator::kStepSurfels,
                              VLODObject3DCreator::kStepFinalObject};

QLineEdit* makeNumberField(const QString& text, const QString& name, QWidget* parent) {
    auto* field = new QLineEdit(text, parent);
    field->setObjectName(name);
    auto* validator = new QDoubleValidator(0, 1e30, 10, field);
    validator->setLocale(QLocale::c()); // the numbers are written with a point whatever the desktop's language
    field->setValidator(validator);
    return field;
}

// Parses a number field as the validator reads it.
bool readNumber(const QLineEdit* field, double& value) {
    bool ok = false;
    value = QLocale::c().toDouble(field->text(), &ok);
    return ok;
}
} // namespace

VHCView::VHCView(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Create Hierarchy"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(makeFileGroup());
    layout->addWidget(makeSettingsGroup());
    layout->addWidget(makeOperatorGroup());
    layout->addWidget(makeButtonRow());
    mProgressTimer = new QTimer(this);
    mProgressTimer->setInterval(kProgressIntervalMs);
    connect(mProgressTimer, &QTimer::timeout, this, &VHCView::showBuildProgress);
}

VHCView::~VHCView() = default; // the job cancels and joins a running build before the creator goes

QWidget* VHCView::makeFileGroup() {
    auto* group = new QGroupBox(tr("File Settings"), this);
    auto* grid = new QGridLayout(group);
    auto addRow = [&](int row, const QString& label, const QString& name, QLineEdit*& field, QPushButton*& chooser) {
        field = new QLineEdit(group);
        field->setObjectName(name);
        field->setMinimumWidth(300);
        chooser = new QPushButton(tr("..."), group);
        chooser->setObjectName(name + " chooser");
        chooser->setFixedWidth(chooser->fontMetrics().horizontalAdvance("...") + 24);
        grid->addWidget(new QLabel(label, group), row, 0);
        grid->addWidget(field, row, 1);
        grid->addWidget(chooser, row, 2);
    };
    addRow(0, tr("Input File:"), "input file", mInputFile, mInputChooser);
    addRow(1, tr("Output File:"), "output file", mOutputFile, mOutputChooser);
    connect(mInputChooser, &QPushButton::clicked, this, &VHCView::slotInputFileName);
    connect(mOutputChooser, &QPushButton::clicked, this, &VHCView::slotOutputFileName);
    return group;
}

QWidget* VHCView::makeSettingsGroup() {
    auto* settings = new QGroupBox(tr("Settings"), this);
    auto* polygonal = new QGroupBox(tr("Polygonal Hierarchy"), settings);
    (new QVBoxLayout(settings))->addWidget(polygonal);
    auto* column = new QVBoxLayout(polygonal);

    auto* error = new QGroupBox(tr("Simplification Error"), polygonal);
    auto* grid = new QGridLayout(error);
    mUseMinimum = new QCheckBox(tr("Use Minimum"), error);
    mUseMinimum->setChecked(true);
    mMinimumLabel = new QLabel(tr("Minimum:"), error);
    mMinimum = makeNumberField("0.0", "minimum", error);
    mUseMaximum = new QCheckBox(tr("Use Maximum"), error);
    mMaximumLabel = new QLabel(tr("Maximum:"), error);
    mMaximum = makeNumberField("1000.0", "maximum", error);
    mMaximumLabel->setEnabled(false);
    mMaximum->setEnabled(false);
    grid->addWidget(mUseMinimum, 0, 0);
    grid->addWidget(mMinimumLabel, 0, 1);
    grid->addWidget(mMinimum, 0, 2);
    grid->addWidget(mUseMaximum, 1, 0);
    grid->addWidget(mMaximumLabel, 1, 1);
    grid->addWidget(mMaximum, 1, 2);
    column->addWidget(error);

    column->addWidget(new QLabel(tr("Hierarchy Patches:"), polygonal));
    auto* patchRow = new QHBoxLayout;
    mPatchSize = new QSpinBox(polygonal);
    mPatchSize->setObjectName("patch size");
    mPatchSize->setRange(1, INT_MAX);
    mPatchSize->setSingleStep(1);
    mPatchSize->setValue(1);
    patchRow->addWidget(new QLabel(tr("Minimum Arc Patch Size"), polygonal));
    patchRow->addWidget(mPatchSize);
    column->addLayout(patchRow);

    connect(mUseMinimum, &QCheckBox::clicked, this, &VHCView::slotUseMinimum);
    connect(mUseMaximum, &QCheckBox::clicked, this, &VHCView::slotUseMaximum);
    connect(mMinimum, &QLineEdit::textChanged, this, &VHCView::slotMinimumChanged);
    connect(mMaximum, &QLineEdit::textChanged, this, &VHCView::slotMaximumChanged);
    return settings;
}

QWidget* VHCView::makeOperatorGroup() {
    auto* group = new QGroupBox(tr("Operator"), this);
    mUseVpairCollapse = new QCheckBox(tr("Use Vertex-Pair-Collapse"), group);
    mUseVpairCollapse->setEnabled(false);
    mUseVpairCollapse->setToolTip(tr("Vertex-pair collapse is not offered: hierarchies are built by edge collapses"));
    (new QVBoxLayout(group))->addWidget(mUseVpairCollapse);
    return group;
}

QWidget* VHCView::makeButtonRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    mClose = new QPushButton(tr("Close"), row);
    mClose->setObjectName("close");
    mCreate = new QPushButton(tr("Create Hierarchy"), row);
    mCreate->setObjectName("create hierarchy");
    mCreate->setDefault(true);
    layout->addStretch();
    layout->addWidget(mClose);
    layout->addWidget(mCreate);
    connect(mClose, &QPushButton::clicked, this, &VHCView::slotExit);
    connect(mCreate, &QPushButton::clicked, this, &VHCView::slotCreateHierarchy);
    return row;
}

bool VHCView::isBuilding() const { return mJob && mJob->isRunning(); }

void VHCView::slotInputFileName() {
    QFileDialog dialog(this, tr("Choose an Input File"), QFileInfo(mInputFile->text()).absolutePath(),
                       tr("3D Object Files (*.ply *.PLY *.3ds *.3DS *.x3d *.X3D)"));
    dialog.setObjectName("input file dialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    setInputFile(dialog.selectedFiles().first());
}

void VHCView::setInputFile(const QString& path) {
    const QFileInfo input(path);
    mInputFile->setText(input.filePath());
    // baseName() stops at the first dot: model.v2.ply gives model.mvh.
    mOutputFile->setText(input.absoluteDir().filePath(input.baseName() + ".mvh"));
}

void VHCView::slotOutputFileName() {
    QFileDialog dialog(this, tr("Choose an Output File"), mOutputFile->text(), tr("Morva File (*.mvh)"));
    dialog.setObjectName("output file dialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // Whether to replace an existing file is asked when the hierarchy is written.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    QString name = dialog.selectedFiles().first();
    if (!name.endsWith(".mvh", Qt::CaseInsensitive)) name += ".mvh";
    mOutputFile->setText(name);
}

void VHCView::slotMinimumChanged(const QString& text) {
    bool ok = false;
    const double minimum = QLocale::c().toDouble(text, &ok);
    double maximum = 0;
    if (ok && readNumber(mMaximum, maximum) && minimum > maximum) mMaximum->setText(text);
}

void VHCView::slotMaximumChanged(const QString& text) {
    bool ok = false;
    const double maximum = QLocale::c().toDouble(text, &ok);
    double minimum = 0;
    if (ok && readNumber(mMinimum, minimum) && maximum < minimum) mMinimum->setText(text);
}

void VHCView::slotUseMinimum() {
    mMinimum->setEnabled(mUseMinimum->isChecked());
    mMinimumLabel->setEnabled(mUseMinimum->isChecked());
}

void VHCView::slotUseMaximum() {
    mMaximum->setEnabled(mUseMaximum->isChecked());
    mMaximumLabel->setEnabled(mUseMaximum->isChecked());
}

void VHCView::slotUseVpairCollapse() {}

void VHCView::slotExit() { reject(); }

void VHCView::reject() {
    if (isBuilding()) {
        mJob->cancel();
        return;
    }
    QDialog::reject();
}

bool VHCView::readSettings(CreationSettings& settings) {
    settings.useMinimum = mUseMinimum->isChecked();
    settings.useMaximum = mUseMaximum->isChecked();
    settings.minPatchSize = uint32_t(mPatchSize->value());
    if (settings.useMinimum && !readNumber(mMinimum, settings.minimum)) {
        QMessageBox::critical(this, tr("Settings Error"), tr("The minimum error is not a number."));
        return false;
    }
    if (settings.useMaximum && !readNumber(mMaximum, settings.maximum)) {
        QMessageBox::critical(this, tr("Settings Error"), tr("The maximum error is not a number."));
        return false;
    }
    return true;
}

void VHCView::prepareProgressDialog() {
    if (!mProgress) {
        mProgress = new VCreationProgressDialog(this);
        mProgress->setObjectName("progress dialog");
        for (const char* step : kSteps) mProgress->addStep(tr(step));
        connect(mProgress, &VCreationProgressDialog::cancelRequested, this, [this] {
            if (mJob) mJob->cancel();
        });
    } else {
        mProgress->reset();
    }
    mProgress->slotSetProgressDesc(tr("Reading the mesh"));
    mProgress->show();
}

void VHCView::slotCreateHierarchy() {
    if (isBuilding()) return;
    const QString input = mInputFile->text(), output = mOutputFile->text();
    CreationSettings settings;
    // Asked before anything is read, so that a refusal costs nothing.
    if (!mayOverwrite(this, output, tr("Output File"))) return;
    settings.replaceExisting = true; // asked above
    if (!readSettings(settings)) return;
    if (!mCreator) {
        mCreator = std::make_unique<VLODObject3DCreator>();
        mJob = std::make_unique<HierarchyBuildJob>(*mCreator);
        connect(mJob.get(), &HierarchyBuildJob::finished, this, &VHCView::buildFinished);
    }
    prepareProgressDialog();
    QString error;
    if (!mJob->start(input, output, settings, error)) {
        mProgress->hide();
        QMessageBox::critical(this, tr("Creation Error"), error);
        return;
    }
    mBuildClock.start();
    setBuilding(true);
}

void VHCView::setBuilding(bool building) {
    for (QWidget* w : std::initializer_list<QWidget*>{mInputFile, mOutputFile, mInputChooser, mOutputChooser,
                                                      mUseMinimum, mUseMaximum, mPatchSize, mClose, mCreate})
        w->setEnabled(!building);
    mMinimum->setEnabled(!building && mUseMinimum->isChecked());
    mMaximum->setEnabled(!building && mUseMaximum->isChecked());
    if (building)
        mProgressTimer->start();
    else
        mProgressTimer->stop();
}

void VHCView::showBuildProgress() {
    const char* step = mJob->currentStep();
    if (!step) return;
    const int index = mProgress->findStep(tr(step));
    if (index != mProgress->currentStep()) mProgress->slotSelectStep(index);
    mProgress->slotSetProgressDesc(tr("%1 s so far").arg(mBuildClock.elapsed() / 1000.0, 0, 'f', 1));
    mProgress->slotSetProgress(mJob->currentFraction());
}

void VHCView::buildFinished(bool ok, const CreationSummary& summary, const QString& error) {
    showBuildProgress(); // the last step reached stays selected
    mProgress->hide();
    setBuilding(false);
    if (!ok) {
        if (mJob->wasCancelled()) {
            logOut() << "hierarchy creation cancelled\n";
        } else {
            QMessageBox::critical(this, tr("Creation Error"), error);
        }
        return;
    }
    mOutputFileName = QString::fromStdString(summary.outputFile);
    mTemporary = summary.temporary;
    accept();
}
