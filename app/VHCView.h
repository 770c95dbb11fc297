#pragma once
// The modal dialog that builds a hierarchy file from a mesh file: the two
// file names, the simplification settings and "Create Hierarchy", which runs
// the whole construction on a worker thread while a progress window shows
// the steps. The dialog is accepted only once the hierarchy was written;
// any failure is shown in a message box and the dialog stays as it was.
//
// Use: make it once, exec() it for every import; when exec() returns
// Accepted, outputFileName() is the file written and isTemporary() says
// whether that is a generated temporary name (the output field was empty).

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <memory>

class HierarchyBuildJob;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class VCreationProgressDialog;
class VLODObject3DCreator;
struct CreationSettings;
struct CreationSummary;

class VHCView : public QDialog {
    Q_OBJECT
  public:
    explicit VHCView(QWidget* parent = nullptr);
    ~VHCView() override;

    // After an accepted run: the hierarchy file written, and whether it is
    // a temporary one.
    const QString& outputFileName() const { return mOutputFileName; }
    bool isTemporary() const { return mTemporary; }
    bool isBuilding() const;
    // Sets the input mesh, and the output beside it, as choosing the file
    // in the input dialog does.
    void setInputFile(const QString& path);

  public slots:
    void slotInputFileName();
    void slotOutputFileName();
    void slotMinimumChanged(const QString& text);
    void slotMaximumChanged(const QString& text);
    void slotUseMinimum();
    void slotUseMaximum();
    void slotExit();
    void slotCreateHierarchy();
    void slotUseVpairCollapse();
    // While a build runs, closing the dialog (Escape, the window's close
    // button) cancels the build instead.
    void reject() override;

  private:
    QWidget* makeFileGroup();
    QWidget* makeSettingsGroup();
    QWidget* makeOperatorGroup();
    QWidget* makeButtonRow();
    bool readSettings(CreationSettings& settings);
    void prepareProgressDialog();
    void setBuilding(bool building);
    void showBuildProgress();
    void buildFinished(bool ok, const CreationSummary& summary, const QString& error);

    QLineEdit *mInputFile, *mOutputFile, *mMinimum, *mMaximum;
    QPushButton *mInputChooser, *mOutputChooser, *mClose, *mCreate;
    QCheckBox *mUseMinimum, *mUseMaximum, *mUseVpairCollapse;
    QLabel *mMinimumLabel, *mMaximumLabel;
    QSpinBox* mPatchSize;
    QTimer* mProgressTimer;

    std::unique_ptr<VLODObject3DCreator> mCreator; // made on the first run, reused
    std::unique_ptr<HierarchyBuildJob> mJob;
    VCreationProgressDialog* mProgress = nullptr; // made on the first run, reused
    QElapsedTimer mBuildClock;

    QString mOutputFileName;
    bool mTemporary = false;
};
