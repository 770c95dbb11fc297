// The hierarchy creation dialog: a build through its widgets gives the file
// the command-line tool gives, Cancel leaves nothing behind, refusals are
// shown and write nothing, and the fields follow one another.

#include "DragonHierarchy.h"
#include "TestFiles.h"
#include "VCreationProgressDialog.h"
#include "VGLWidget.h"
#include "VHCView.h"
#include "VHVApp.h"
#include "VHVView.h"
#include "VLODObject3DCreator.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

namespace {
const std::string kDragon11K = std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res4.ply";
constexpr int kBuildTimeoutMs = 120000;

template <typename T> T* child(const QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// Runs action on every tick while a modal widget of type T (and name, when
// given) is up, for as long as the returned timer lives.
template <typename T>
std::unique_ptr<QTimer> whileModalShows(const QString& name, std::function<void(T*)> action) {
    auto poll = std::make_unique<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, [name, action] {
        auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
        if (widget && (name.isEmpty() || widget->objectName() == name)) action(widget);
    });
    poll->start(20);
    return poll;
}

// Closes message boxes (with their escape button: "No" where one asks) and
// keeps the last one's text.
std::unique_ptr<QTimer> answerMessageBoxes(QString& text) {
    return whileModalShows<QMessageBox>({}, [&text](QMessageBox* box) {
        text = box->text();
        box->close();
    });
}

struct ShownDialog {
    VHCView dialog;
    ShownDialog() {
        dialog.setModal(true);
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    void setFiles(const std::string& input, const std::string& output) {
        child<QLineEdit>(dialog, "input file")->setText(QString::fromStdString(input));
        child<QLineEdit>(dialog, "output file")->setText(QString::fromStdString(output));
    }
    void create() { QTest::mouseClick(child<QPushButton>(dialog, "create hierarchy"), Qt::LeftButton); }
    bool waitUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, kBuildTimeoutMs); }
    bool fieldsEnabled() {
        return child<QLineEdit>(dialog, "input file")->isEnabled() &&
               child<QPushButton>(dialog, "create hierarchy")->isEnabled();
    }
};

TEST(CreationDialog, BuildsWhatTheToolBuilds) {
    MORVA_SKIP_WITHOUT_DRAGON();
    const std::string byTool = tempPath("tool-res4.mvh");
    ASSERT_TRUE(runMorva("build '" + kDragon11K + "' '" + byTool + "' --patch-size 64 --force"));
    for (const std::string& output : {tempPath("dialog-res4.mvh"), std::string()}) {
        SCOPED_TRACE("output '" + output + "'");
        ShownDialog shown;
        shown.setFiles(kDragon11K, output);
        child<QSpinBox>(shown.dialog, "patch size")->setValue(64);
        shown.create();
        EXPECT_FALSE(shown.fieldsEnabled()) << "inputs stay locked while building";
        ASSERT_TRUE(shown.waitUntil([&] { return !shown.dialog.isVisible(); }));
        ASSERT_EQ(shown.dialog.result(), QDialog::Accepted);
        EXPECT_EQ(shown.dialog.isTemporary(), output.empty());
        if (!output.empty()) {
            EXPECT_EQ(shown.dialog.outputFileName().toStdString(), output);
        }
        const std::string written = shown.dialog.outputFileName().toStdString();
        EXPECT_TRUE(readBytes(written) == readBytes(byTool)) << written << " differs from the tool's file";
        if (shown.dialog.isTemporary()) std::filesystem::remove(written);

        // The progress window followed the builder's steps up to the last.
        auto* progress = child<VCreationProgressDialog>(shown.dialog, "progress dialog");
        const int last = progress->findStep(VLODObject3DCreator::kStepFinalObject);
        ASSERT_GE(last, 0);
        EXPECT_EQ(progress->currentStep(), last);
        EXPECT_TRUE(progress->isStepBold(last));
        EXPECT_FALSE(progress->isStepBold(0));
    }
}

TEST(CreationDialog, CancelLeavesNoFileAndTheDialogOpen) {
    MORVA_SKIP_WITHOUT_DRAGON();
    ShownDialog shown;
    const std::string output = tempPath("cancelled.mvh");
    shown.setFiles(kDragon11K, output);
    shown.create();
    auto* progress = child<VCreationProgressDialog>(shown.dialog, "progress dialog");
    ASSERT_TRUE(progress->isVisible());
    ASSERT_TRUE(shown.waitUntil([&] { return progress->currentStep() >= 0 || !shown.dialog.isBuilding(); }));
    QTest::mouseClick(child<QPushButton>(*progress, "cancel"), Qt::LeftButton);
    ASSERT_TRUE(shown.waitUntil([&] { return !shown.dialog.isBuilding(); }));
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_LT(progress->currentStep(), progress->findStep(VLODObject3DCreator::kStepFinalObject))
        << "the builder stopped early";
    EXPECT_TRUE(shown.dialog.isVisible());
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(shown.fieldsEnabled());
    EXPECT_EQ(child<QLineEdit>(shown.dialog, "output file")->text().toStdString(), output);
}

TEST(CreationDialog, RefusalsAreShownAndWriteNothing) {
    const std::vector<uint8_t> dragon = readBytes(kDragon11K);
    const std::string broken = tempPath("half-dragon.ply");
    writeBytes(broken, std::vector<uint8_t>(dragon.begin(), dragon.begin() + long(dragon.size() / 2)));
    const std::string existing = tempPath("existing.mvh"), readOnly = tempPath("read-only.mvh");
    const std::vector<uint8_t> oldBytes = {'o', 'l', 'd'};
    writeBytes(existing, oldBytes);
    writeBytes(readOnly, oldBytes);
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
    struct Case {
        std::string input, output, message;
    } cases[] = {
        // The missing input shows that nothing was read before the refusal.
        {tempPath("no-such-mesh.ply"), readOnly, readOnly + " is read-only!"},
        {kDragon11K, existing, existing + " already exists.\nDo you want to replace it?"},
        {broken, tempPath("from-broken.mvh"), "Error importing file " + broken + ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const bool outputExisted = std::filesystem::exists(c.output);
        ShownDialog shown;
        shown.setFiles(c.input, c.output);
        QString message;
        const auto answering = answerMessageBoxes(message);
        shown.create();
        ASSERT_TRUE(shown.waitUntil([&] { return !message.isEmpty() && !shown.dialog.isBuilding(); }));
        EXPECT_TRUE(message.startsWith(QString::fromStdString(c.message))) << message.toStdString();
        if (c.message.ends_with(": ")) {
            EXPECT_GT(message.size(), qsizetype(c.message.size())) << "the importer's reason follows";
        }
        EXPECT_TRUE(shown.dialog.isVisible());
        EXPECT_EQ(std::filesystem::exists(c.output), outputExisted);
        if (outputExisted) {
            EXPECT_EQ(readBytes(c.output), oldBytes);
        }
    }
}

// Typing into a field, or choosing a file in a chooser's dialog, and what
// another field shows then.
TEST(CreationDialog, FieldsFollowEachOther) {
    const std::string folder = std::filesystem::path(tempPath("model.v2.ply")).parent_path().string();
    writeBytes(folder + "/model.v2.ply", {});
    struct Case {
        const char* widget; // a field typed into, or a chooser button
        std::string value;
        const char* field;
        std::string expected;
    } cases[] = {
        {"minimum", "5", "maximum", "1000.0"},
        {"minimum", "2000", "maximum", "2000"},
        {"input file chooser", folder + "/model.v2.ply", "output file", folder + "/model.mvh"},
        {"output file chooser", folder + "/result", "output file", folder + "/result.mvh"},
        {"output file chooser", folder + "/Result.MVH", "output file", folder + "/Result.MVH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.widget) + " " + c.value);
        ShownDialog shown;
        if (auto* field = shown.dialog.findChild<QLineEdit*>(c.widget)) {
            field->clear();
            QTest::keyClicks(field, QString::fromStdString(c.value));
        } else {
            const QString dialogName = QString(c.widget).replace("chooser", "dialog");
            const QString value = QString::fromStdString(c.value);
            const auto choosing = whileModalShows<QFileDialog>(dialogName, [value](QFileDialog* d) {
                // Typed as a user types it: selectFile() would restart the folder listing,
                // which may clear the name again before accept() reads it.
                d->findChild<QLineEdit*>("fileNameEdit")->setText(value);
                QMetaObject::invokeMethod(d, "accept"); // a protected override of a public slot
            });
            QTest::mouseClick(child<QPushButton>(shown.dialog, c.widget), Qt::LeftButton);
        }
        EXPECT_EQ(child<QLineEdit>(shown.dialog, c.field)->text().toStdString(), c.expected);
    }
}
// File > Import from the main window: the mesh built into a temporary
// hierarchy (no output named) is opened in the view, and closing it deletes
// the file.
TEST(CreationDialog, TheMainWindowOpensWhatItBuilt) {
    MORVA_SKIP_WITHOUT_DRAGON();
    VHVApp window;
    window.show();
    bool started = false;
    const auto fill = whileModalShows<VHCView>({}, [&started](VHCView* dialog) {
        if (started) return;
        started = true;
        child<QLineEdit>(*dialog, "input file")->setText(QString::fromStdString(kDragon11K));
        child<QLineEdit>(*dialog, "output file")->clear();
        QTest::mouseClick(child<QPushButton>(*dialog, "create hierarchy"), Qt::LeftButton);
    });
    window.slotFileImport(); // returns when the dialog ends
    ASSERT_TRUE(window.view()->hasObject());
    const std::string built = window.panel()->fileName().toStdString();
    EXPECT_TRUE(window.panel()->isTemporary());
    EXPECT_TRUE(std::filesystem::exists(built));
    window.slotFileClose();
    EXPECT_FALSE(std::filesystem::exists(built));
}
} // namespace

