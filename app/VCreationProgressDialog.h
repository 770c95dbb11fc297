#pragma once
// The small window that lists the steps of a hierarchy construction, shows
// the running one in bold and its progress in a bar, and offers "Cancel".
// It only displays: whoever runs the construction selects the steps, sets
// the bar and listens to cancelRequested().

#include <QWidget>

#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

class VCreationProgressDialog : public QWidget {
    Q_OBJECT
  public:
    explicit VCreationProgressDialog(QWidget* parent = nullptr);

    // Appends a step label below the others; returns its index.
    int addStep(const QString& text);
    int stepCount() const { return int(mSteps.size()); }
    // The index of the step whose label reads text, -1 when none does.
    int findStep(const QString& text) const;
    int currentStep() const { return mCurrent; }
    QString stepText(int index) const;
    bool isStepBold(int index) const;
    QString progressDescription() const;
    int progressValue() const;
    int progressMaximum() const;

  signals:
    void cancelRequested();

  public slots:
    // progress out of total; then pending events are processed.
    void slotSetProgress(int progress, int total);
    void slotSetProgress(int progress);
    // fraction of the whole bar, 0 to 1.
    void slotSetProgress(float fraction);
    void slotNextStep();
    // -1 <= index < stepCount(): that step becomes the current one (bold),
    // the description is cleared and the bar reset. Other values leave no
    // step selected.
    void slotSelectStep(int index);
    void slotSetProgressDesc(const QString& text);
    // No step selected, empty description, bar reset.
    void reset();

  private:
    void setStepBold(int index, bool bold);

    std::vector<QLabel*> mSteps;
    int mCurrent = -1;
    QVBoxLayout* mStepLayout;
    QLabel* mDescription;
    QProgressBar* mBar;
    QPushButton* mCancel;
};
