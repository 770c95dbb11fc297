// The main window: a hierarchy or scene file that cannot be read is
// reported in a message box naming it and the reader's reason, and what is
// in view stays; "Reload Shader" names a broken shader file in the log
// window and picks up the mended one; dropped files open.

#include "DragonHierarchy.h"
#include "TestFiles.h"
#include "VGLWidget.h"
#include "VHCView.h"
#include "VHVApp.h"
#include "VOutputWidget.h"
#include "VLineSphere.h"
#include "VLogWindow.h"
#include "VSceneGraph.h"
#include "VShader.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>

namespace {
// Closes the next message box and returns its text through `text`.
void answerNextMessageBox(QString& text) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, &text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        text = box->text();
        box->close();
        poll->deleteLater();
    });
    poll->start(20);
}

// A file and its first half.
std::pair<std::string, std::string> goodAndCorrupt(const std::string& name, std::vector<uint8_t> bytes) {
    const std::string good = tempPath(name), corrupt = tempPath("half-of-" + name);
    writeBytes(good, bytes);
    bytes.resize(bytes.size() / 2);
    writeBytes(corrupt, bytes);
    return {good, corrupt};
}

std::vector<uint8_t> sceneWithALineSphere() {
    VSceneGraph graph(nullptr);
    const float red[4] = {1, 0, 0, 1};
    VSceneNode* node = graph.createNode("ball");
    node->addGeometry(graph.resourceManager()->createLineSphere("ball", 0, 0, 0, 1, 16, 8, red, red, false));
    graph.root()->addChild(node);
    const std::string path = tempPath("ball-made.scn");
    EXPECT_TRUE(graph.save(path));
    return readBytes(path);
}

TEST(MainWindow, ACorruptFileIsReportedAndWhatIsInViewStays) {
    VHVApp window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    VGLWidget& view = *window.view();
    // Opening builds side files beside the hierarchy: work on copies.
    const auto hierarchy = goodAndCorrupt("icosphere2.mvh", readBytes(testDataPath("icosphere2.mvh")));
    const auto scene = goodAndCorrupt("ball.scn", sceneWithALineSphere());
    ASSERT_TRUE(window.openFile(QString::fromStdString(hierarchy.first)));
    ASSERT_TRUE(window.openFile(QString::fromStdString(scene.first)));
    view.grabFramebuffer();
    ASSERT_GT(view.frameStatistics().lines, 0u) << "the scene's sphere is drawn";
    const VSceneGraph* shownScene = view.sceneGraph();

    for (const std::string& corrupt : {hierarchy.second, scene.second}) {
        SCOPED_TRACE(corrupt);
        QString message;
        answerNextMessageBox(message);
        EXPECT_FALSE(window.openFile(QString::fromStdString(corrupt)));
        EXPECT_TRUE(message.contains(QString::fromStdString(corrupt))) << message.toStdString();
        EXPECT_GT(message.section('\n', 1).trimmed().size(), 0) << "no reason given: " << message.toStdString();
        EXPECT_TRUE(view.hasObject());
        EXPECT_EQ(view.sceneGraph(), shownScene);
    }
    EXPECT_EQ(window.fileName(), QString::fromStdString(scene.first));
    window.grab().save(QString::fromStdString(tempPath("main-window.png")));
    window.slotFileClose(); // closes what is shown, scene and hierarchy
    EXPECT_FALSE(view.hasObject());
    EXPECT_EQ(view.sceneGraph(), nullptr);
}

bool logWindowHas(const VLogWindow& log, const QString& text) {
    for (int k = 0; k < log.lineCount(); ++k)
        if (log.line(k).contains(text)) return true;
    return false;
}

TEST(MainWindow, ReloadShaderNamesABrokenFileAndPicksUpTheMendedOne) {
    MORVA_SKIP_WITHOUT_DRAGON();
    ASSERT_FALSE(dragonHierarchy().empty()) << "morva build failed";
    VHVApp window;
    window.show();
    ASSERT_TRUE(window.openFile(QString::fromStdString(dragonHierarchy())));
    VGLWidget& view = *window.view();
    const QImage before = view.grabFramebuffer();

    // A copy of the shader files, read from now on.
    namespace fs = std::filesystem;
    const fs::path root = tempPath("reloaded-shaders");
    fs::remove_all(root);
    fs::create_directories(root);
    fs::copy(fs::path(MORVA_SHADER_ROOT) / "shader", root / "shader", fs::copy_options::recursive);
    setShaderRoot(root.string());
    const fs::path gouraud = root / "shader/glsl/GouraudFrag.txt";
    const std::vector<uint8_t> source = readBytes(gouraud.string());
    const std::string broken = "void main() { gl_FragColor = no_such_colour; }\n";
    writeBytes(gouraud.string(), std::vector<uint8_t>(broken.begin(), broken.end()));

    QAction* reload = nullptr;
    for (QAction* action : window.findChildren<QAction*>())
        if (action->iconText() == "Reload Shader") reload = action;
    ASSERT_NE(reload, nullptr);
    ASSERT_TRUE(reload->isEnabled());
    reload->trigger();
    const VLogWindow& log = *window.logWindow();
    EXPECT_TRUE(logWindowHas(log, "GouraudFrag.txt did not compile")) << "the file and the reason";
    view.grabFramebuffer(); // still drawing

    writeBytes(gouraud.string(), source);
    reload->trigger();
    EXPECT_TRUE(logWindowHas(log, "all programs ready"));
    EXPECT_EQ(view.grabFramebuffer(), before);
    setShaderRoot(MORVA_SHADER_ROOT);
}
} // namespace

namespace {
// Drags the file over target and drops it there, as a file manager does;
// returns whether target took the drag.
bool dropFile(QWidget& target, const std::string& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    const QPointF at(target.width() / 2.0, target.height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    return true;
}
} // namespace

// A hierarchy dropped on the output or the log window opens; a mesh dropped
// on the main window opens the creation dialog with it as input; other files
// are not taken.
TEST(MainWindow, DroppedFilesOpenOrStartTheCreationDialog) {
    VHVApp window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const std::string hierarchy = tempPath("dropped.mvh");
    writeBytes(hierarchy, readBytes(testDataPath("icosphere2.mvh")));
    ASSERT_TRUE(dropFile(*window.outputWindow(), hierarchy));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.fileName().toStdString() == hierarchy; }, 5000));
    EXPECT_EQ(window.outputWindow()->windowTitle().toStdString(), hierarchy + " - Output Window");
    window.slotFileClose();
    ASSERT_TRUE(dropFile(*window.logWindow(), hierarchy));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.fileName().toStdString() == hierarchy; }, 5000));

    const std::string mesh = tempPath("dropped.ply");
    writeBytes(mesh, readBytes(testDataPath("icosphere2.mvh"))); // read only once the dialog builds
    QString input, output;
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        auto* dialog = qobject_cast<VHCView*>(QApplication::activeModalWidget());
        if (!dialog) return;
        input = dialog->findChild<QLineEdit*>("input file")->text();
        output = dialog->findChild<QLineEdit*>("output file")->text();
        dialog->reject();
        poll->stop();
    });
    poll->start(20);
    ASSERT_TRUE(dropFile(window, mesh));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !input.isEmpty(); }, 5000));
    EXPECT_EQ(input.toStdString(), mesh);
    EXPECT_EQ(output.toStdString(), tempPath("dropped.mvh"));
    EXPECT_EQ(window.fileName().toStdString(), hierarchy) << "a dialog closed without building opens nothing";

    for (const std::string& refused : {tempPath("notes.txt"), std::string("/nonexistent/mesh.PLY.bak")})
        EXPECT_FALSE(dropFile(window, refused)) << refused;
}
