#include "VCreationProgressDialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kWidth = 400;
constexpr int kFractionSteps = 1000;
} // namespace

VCreationProgressDialog::VCreationProgressDialog(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(tr("Creating Hierarchy"));
    setFixedWidth(kWidth);
    auto* grid = new QGridLayout(this);

    auto* steps = new QGroupBox(tr("Steps"), this);
    mStepLayout = new QVBoxLayout(steps);
    grid->addWidget(steps, 0, 0);

    auto* progress = new QGroupBox(tr("Progress"), this);
    auto* progressLayout = new QVBoxLayout(progress);
    mDescription = new QLabel(progress);
    mDescription->setObjectName("progress description");
    mBar = new QProgressBar(progress);
    mBar->setObjectName("progress bar");
    progressLayout->addWidget(mDescription);
    progressLayout->addWidget(mBar);
    grid->addWidget(progress, 1, 0);

    mCancel = new QPushButton(tr("Cancel"), this);
    mCancel->setObjectName("cancel");
    grid->addWidget(mCancel, 2, 0, Qt::AlignRight);
    connect(mCancel, &QPushButton::clicked, this, &VCreationProgressDialog::cancelRequested);
}

int VCreationProgressDialog::addStep(const QString& text) {
    auto* label = new QLabel(text, this);
    mStepLayout->addWidget(label);
    mSteps.push_back(label);
    return int(mSteps.size()) - 1;
}

int VCreationProgressDialog::findStep(const QString& text) const {
    const auto found = std::find_if(mSteps.begin(), mSteps.end(), [&](QLabel* l) { return l->text() == text; });
    return found == mSteps.end() ? -1 : int(found - mSteps.begin());
}

QString VCreationProgressDialog::stepText(int index) const { return mSteps.at(size_t(index))->text(); }

bool VCreationProgressDialog::isStepBold(int index) const {
    return mSteps.at(size_t(index))->font().weight() >= QFont::Bold;
}

QString VCreationProgressDialog::progressDescription() const { return mDescription->text(); }
int VCreationProgressDialog::progressValue() const { return mBar->value(); }
int VCreationProgressDialog::progressMaximum() const { return mBar->maximum(); }

void VCreationProgressDialog::slotSetProgress(int progress, int total) {
    mBar->setRange(0, std::max(total, 1));
    mBar->setValue(progress);
    QApplication::processEvents();
}

void VCreationProgressDialog::slotSetProgress(int progress) { mBar->setValue(progress); }

void VCreationProgressDialog::slotSetProgress(float fraction) {
    const float clamped = std::clamp(fraction, 0.0f, 1.0f);
    slotSetProgress(int(std::lround(clamped * kFractionSteps)), kFractionSteps);
}

void VCreationProgressDialog::slotNextStep() { slotSelectStep(mCurrent + 1); }

void VCreationProgressDialog::setStepBold(int index, bool bold) {
    if (index < 0 || index >= stepCount()) return;
    QFont font = mSteps[size_t(index)]->font();
    // Weight 75 on the old 0..99 scale is Qt 6's Bold.
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    mSteps[size_t(index)]->setFont(font);
}

void VCreationProgressDialog::slotSelectStep(int index) {
    setStepBold(mCurrent, false);
    mCurrent = index >= -1 && index < stepCount() ? index : -1;
    setStepBold(mCurrent, true);
    mDescription->clear();
    mBar->reset();
    QApplication::processEvents();
}

void VCreationProgressDialog::slotSetProgressDesc(const QString& text) { mDescription->setText(text); }

void VCreationProgressDialog::reset() { slotSelectStep(-1); }
