// The output window: its tool bar drives the view it holds, every action has
// a key of its own, and its status bar tells what the view draws.

#include "DragonHierarchy.h"
#include "LogStream.h"
#include "TestFiles.h"
#include "VGLWidget.h"
#include "VHVApp.h"
#include "VLogWindow.h"
#include "VOutputWidget.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QSet>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

#include <functional>

namespace {
QAction* actionNamed(const VOutputWidget& window, const QString& text) {
    for (QAction* action : window.toolActions())
        if (action->iconText() == text) return action;
    return nullptr;
}

// A shown output window with a small hierarchy open (freezing needs one).
void openIcosphere(VOutputWidget& window) {
    const std::string copy = tempPath("output-icosphere2.mvh");
    writeBytes(copy, readBytes(testDataPath("icosphere2.mvh")));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    std::string error;
    ASSERT_TRUE(window.view()->openHierarchy(copy, error)) << error;
}

TEST(OutputWindow, ToolBarTogglesReachTheView) {
    VOutputWidget window;
    ASSERT_NO_FATAL_FAILURE(openIcosphere(window));
    VGLWidget& view = *window.view();
    const struct {
        const char* action;
        bool initially;
        std::function<bool()> viewState;
    } toggles[] = {
        {"Backface Culling", true, [&] { return view.objectSettings().backfaceCulling; }},
        {"Paint Loop", false, [&] { return view.isPaintLoop(); }},
        {"Freeze Mode", false, [&] { return view.objectSettings().keepSelection; }},
    };
    for (const auto& toggle : toggles) {
        SCOPED_TRACE(toggle.action);
        QAction* action = actionNamed(window, toggle.action);
        ASSERT_NE(action, nullptr);
        ASSERT_TRUE(action->isCheckable());
        EXPECT_EQ(action->isChecked(), toggle.initially);
        EXPECT_EQ(toggle.viewState(), toggle.initially);
        action->toggle();
        EXPECT_EQ(toggle.viewState(), !toggle.initially);
        action->toggle();
        EXPECT_EQ(toggle.viewState(), toggle.initially);
    }

    // The polygon modes: filled, wireframe only, filled with wireframe.
    const struct {
        int item;
        bool wireFrame, wireFrameOnly;
    } modes[] = {{1, false, true}, {2, true, false}, {0, false, false}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.item);
        emit window.polygonModeBox()->activated(mode.item);
        EXPECT_EQ(view.isWireFrame(), mode.wireFrame);
        EXPECT_EQ(view.isWireFrameOnly(), mode.wireFrameOnly);
    }
}

TEST(OutputWindow, TypedFrameRateIsTheTarget) {
    VOutputWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QComboBox* box = window.frameRateBox();
    EXPECT_EQ(box->currentText(), "(Framerate)");
    EXPECT_FALSE(window.view()->isPaintLoop()) << "the window starts without a loop";
    const struct {
        const char* typed;
        int rate;
    } cases[] = {{"25", 25}, {"abc", 0}, {"7", 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        box->lineEdit()->clear();
        QTest::keyClicks(box->lineEdit(), c.typed);
        EXPECT_EQ(window.view()->targetFrameRate(), c.rate);
        EXPECT_TRUE(window.view()->isPaintLoop());
        EXPECT_TRUE(actionNamed(window, "Paint Loop")->isChecked());
    }
    box->setCurrentIndex(box->findText("40"));
    EXPECT_EQ(window.view()->targetFrameRate(), 40);
}

TEST(OutputWindow, EveryActionHasAKeyOfItsOwn) {
    VOutputWidget window;
    QSet<QString> keys;
    for (QAction* action : window.toolActions()) {
        SCOPED_TRACE(action->iconText().toStdString());
        const QString key = action->shortcut().toString();
        EXPECT_FALSE(key.isEmpty());
        EXPECT_FALSE(keys.contains(key)) << key.toStdString() << " is taken";
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 9);

    // A key no longer shared reaches its action.
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QAction* reset = actionNamed(window, "Reset View");
    ASSERT_NE(reset, nullptr);
    QSignalSpy triggered(reset, &QAction::triggered);
    QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(triggered.count(), 1);
}

TEST(OutputWindow, StatusBarTellsWhatTheViewDraws) {
    MORVA_SKIP_WITHOUT_DRAGON();
    ASSERT_FALSE(dragonHierarchy().empty()) << "morva build failed";
    VHVApp app;
    app.show();
    VOutputWidget& window = *app.outputWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(app.openFile(QString::fromStdString(dragonHierarchy())));
    EXPECT_EQ(window.windowTitle(), QString::fromStdString(dragonHierarchy()) + " - Output Window");
    const VLODObject3D& dragon = window.view()->object();

    // The loop reports a rate about once a second.
    actionNamed(window, "Paint Loop")->setChecked(true);
    const QString prefix = QString("%1 vertices (").arg(dragon.vnum());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.statusBar()->currentMessage().contains(" fps | "); }, 5000));
    const QString status = window.statusBar()->currentMessage();
    EXPECT_TRUE(status.startsWith(prefix)) << status.toStdString();
    EXPECT_TRUE(status.contains(QString(" %1 arcs) Distance: ").arg(dragon.anum()))) << status.toStdString();
    // What was drawn, and against which error: the frame before the report
    // drew the counts the view keeps now, as the camera stood still.
    const FrameCounts& drawn = window.view()->lastFrame();
    EXPECT_GT(drawn.triangles, 0u);
    EXPECT_TRUE(status.endsWith(QString(" fps | %1 triangles, %2 impostors, 1 px").arg(drawn.triangles).arg(drawn.impostors)))
        << status.toStdString();
    actionNamed(window, "Paint Loop")->setChecked(false);
    window.picture().save("/tmp/morva-output-window.png");

    logOut() << "the log window shows what the pipeline prints" << std::endl;
    app.logWindow()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.logWindow()));
    app.logWindow()->grab().save("/tmp/morva-log-window.png");
}
} // namespace
