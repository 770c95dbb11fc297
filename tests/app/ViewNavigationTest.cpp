// The view widget's frame loop and navigation in a real window: keys and
// mouse moves fly the free camera, a resize sets the viewport and the
// projection, a cropped screenshot holds only the object on a transparent
// background, the two wireframe switches exclude each other, and the paint
// loop paces itself to the target rate; a flight recorded with key R is
// saved, loaded and replayed with its frame rates reported.

#include "DragonHierarchy.h"
#include "VConfiguration.h"
#include "VGLWidget.h"

#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <filesystem>
#include <functional>

namespace {
constexpr int kSize = 256;

struct ShownView : VGLWidget {
    using VGLWidget::resizeGL;
    ShownView() {
        resize(kSize, kSize);
        show();
        waitedForExposure = QTest::qWaitForWindowExposed(this);
    }
    bool waitedForExposure = false;
    // Standing at (0, 0, 10), looking down −z.
    void standAtStart() {
        freeCamera().stop();
        freeCamera().place(Vec3d(0, 0, 10));
    }
};

void expectNear(const Vec3d& actual, const Vec3d& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-6);
    EXPECT_NEAR(actual.y, expected.y, 1e-6);
    EXPECT_NEAR(actual.z, expected.z, 1e-6);
}

TEST(ViewNavigation, KeysMoveTheCameraAlongItsAxes) {
    const double v = VFreeCamera::kDefaultSpeed;
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        Vec3d movedInOneSecond;
    } cases[] = {
        {Qt::Key_W, Qt::NoModifier, {0, 0, -v}},      {Qt::Key_Up, Qt::NoModifier, {0, 0, -v}},
        {Qt::Key_S, Qt::NoModifier, {0, 0, v}},       {Qt::Key_Down, Qt::NoModifier, {0, 0, v}},
        {Qt::Key_A, Qt::NoModifier, {-v, 0, 0}},      {Qt::Key_Left, Qt::NoModifier, {-v, 0, 0}},
        {Qt::Key_D, Qt::NoModifier, {v, 0, 0}},       {Qt::Key_Right, Qt::NoModifier, {v, 0, 0}},
        {Qt::Key_Q, Qt::NoModifier, {0, 0, 0}},       {Qt::Key_PageDown, Qt::NoModifier, {0, 0, 0}},
        // Shift accelerates by 2 units/s²: half of it in the first second.
        {Qt::Key_W, Qt::ShiftModifier, {0, 0, -v - 1}},
    };
    ShownView view;
    for (const Case& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key).toString().toStdString());
        view.standAtStart();
        QTest::keyPress(&view, c.key, c.modifiers);
        const Vec3d before = view.freeCamera().position(); // the repaint may have moved it a little
        view.freeCamera().advance(1.0);
        expectNear(view.freeCamera().position() - before, c.movedInOneSecond);
        QTest::keyRelease(&view, c.key, c.modifiers);
    }
}

TEST(ViewNavigation, ReleasingTheKeyBrakesToAStop) {
    ShownView view;
    view.standAtStart();
    QTest::keyPress(&view, Qt::Key_D);
    QTest::keyRelease(&view, Qt::Key_D);
    for (int i = 0; i < 100; ++i) view.freeCamera().advance(0.05);
    EXPECT_EQ(view.freeCamera().speed(), 0);
    EXPECT_GT(view.freeCamera().position().x, 0); // it did not swing back past the start
}

TEST(ViewNavigation, MouseMovesTurnTheCameraWhileAButtonIsHeld) {
    struct Case {
        Qt::MouseButton button; // NoButton: the mouse moves unpressed
        QPoint move;
        double heading, pitch;
    } cases[] = {
        {Qt::LeftButton, {10, 20}, 5, 5},
        {Qt::RightButton, {-4, 0}, -2, 0},
        {Qt::MiddleButton, {0, -8}, 0, -2},
        {Qt::NoButton, {10, 10}, 0, 0},
        {Qt::LeftButton, {0, 1000}, 0, 90}, // the pitch stops at straight down
    };
    ShownView view;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.move.y());
        view.standAtStart();
        const QPointF from(100, 100), to = from + c.move;
        if (c.button != Qt::NoButton) {
            QMouseEvent press(QEvent::MouseButtonPress, from, view.mapToGlobal(from), c.button, c.button, Qt::NoModifier);
            QCoreApplication::sendEvent(&view, &press);
        } else {
            QMouseEvent hover(QEvent::MouseMove, from, view.mapToGlobal(from), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&view, &hover);
        }
        QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, c.button, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &move);
        EXPECT_DOUBLE_EQ(view.freeCamera().heading(), c.heading);
        EXPECT_DOUBLE_EQ(view.freeCamera().pitch(), c.pitch);
        if (c.button != Qt::NoButton) {
            QMouseEvent release(QEvent::MouseButtonRelease, to, view.mapToGlobal(to), c.button, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&view, &release);
        }
    }
}

TEST(ViewNavigation, AResizeSetsViewportAndProjectionWithHeightAtLeastOne) {
    ShownView view;
    view.makeCurrent();
    for (const QSize size : {QSize(300, 0), QSize(320, 160)}) {
        view.resizeGL(size.width(), size.height());
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        const int height = std::max(size.height(), 1);
        EXPECT_EQ(viewport[2], size.width());
        EXPECT_EQ(viewport[3], height);
        GLfloat projection[16];
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        EXPECT_NEAR(projection[5] / projection[0], double(size.width()) / height, 1e-3); // the aspect
        EXPECT_NEAR(projection[5], 1 / std::tan(10 * M_PI / 180), 1e-4);                // 20° opening
    }
    view.doneCurrent();
}

TEST(ViewNavigation, PaceIntervalIsThePeriodLeftAfterTheFrame) {
    struct Case {
        int rate;
        int64_t spentUs;
        int intervalMs;
    } cases[] = {{25, 10000, 30}, {25, 0, 40}, {25, 40000, 0}, {25, 90000, 0}, {60, 1000, 15}};
    for (const Case& c : cases) EXPECT_EQ(VGLWidget::paceIntervalMs(c.rate, c.spentUs), c.intervalMs) << c.spentUs;
    EXPECT_EQ(VGLWidget::framesPerSecond(10, 0), 0);
    EXPECT_DOUBLE_EQ(VGLWidget::framesPerSecond(10, 500000), 20);

    ShownView view;
    view.setFrameRate(25);
    EXPECT_TRUE(view.isPaintLoop());
    QTest::qWait(300); // a few paced frames
    EXPECT_GE(view.lastPaceIntervalMs(), 0);
    EXPECT_LE(view.lastPaceIntervalMs(), 40);
    view.setPaintLoop(false);
}

class ViewOfDragon : public ::testing::Test {
  protected:
    void SetUp() override {
        MORVA_SKIP_WITHOUT_DRAGON();
        ASSERT_FALSE(dragonHierarchy().empty()) << "morva build failed";
        VConfiguration::mUseOutOfCore = false;
        std::string error;
        ASSERT_TRUE(view.openHierarchy(dragonHierarchy(), error)) << error << view.setupProblem();
        const BoundingSphere& s = view.object().mBoundingSphere;
        view.setCamera(Vec3f(s.x, s.y, s.z + 8 * s.r), s.centre(), {0, 1, 0}); // small, in the middle
        view.setErrorPixels(2);
    }
    ShownView view;
};

TEST_F(ViewOfDragon, WireframeSwitchesExcludeEachOther) {
    struct Step {
        void (VGLWidget::*slot)(bool);
        bool on, wireFrame, wireFrameOnly, filled;
    } steps[] = {
        {&VGLWidget::setWireFrameOnly, true, false, true, false},
        {&VGLWidget::setWireFrame, true, true, false, true},
        {&VGLWidget::setWireFrameOnly, true, false, true, false},
        {&VGLWidget::setWireFrameOnly, false, false, false, true},
    };
    int index = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(index++);
        (view.*s.slot)(s.on);
        EXPECT_EQ(view.isWireFrame(), s.wireFrame);
        EXPECT_EQ(view.isWireFrameOnly(), s.wireFrameOnly);
        view.grabFramebuffer();
        EXPECT_EQ(view.lastFrame().triangles > 0, s.filled); // the filled pass counts its triangles
    }
}

TEST_F(ViewOfDragon, CroppedScreenshotHoldsTheObjectOnATransparentBackground) {
    const QColor background(10, 200, 30);
    view.setBgColor(background);
    const QImage full = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    int objectPixels = 0;
    for (int y = 0; y < full.height(); ++y)
        for (int x = 0; x < full.width(); ++x) objectPixels += full.pixel(x, y) != background.rgb();
    ASSERT_GT(objectPixels, 0);

    const QString file = QString::fromStdString(tempPath("view-cropped.png"));
    ASSERT_TRUE(view.takeScreenshot(file, true));
    const QImage cropped = QImage(file).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(cropped.isNull());
    EXPECT_LT(cropped.width(), full.width());
    EXPECT_LT(cropped.height(), full.height());
    int opaque = 0;
    std::vector<int> opaqueInRow(cropped.height()), opaqueInColumn(cropped.width());
    for (int y = 0; y < cropped.height(); ++y)
        for (int x = 0; x < cropped.width(); ++x) {
            const int alpha = qAlpha(cropped.pixel(x, y));
            ASSERT_TRUE(alpha == 0 || alpha == 255);
            if (alpha == 0) continue;
            ++opaque, ++opaqueInRow[y], ++opaqueInColumn[x];
        }
    EXPECT_EQ(opaque, objectPixels);
    // Tight: the object touches every edge of the cut.
    EXPECT_GT(opaqueInRow.front(), 0);
    EXPECT_GT(opaqueInRow.back(), 0);
    EXPECT_GT(opaqueInColumn.front(), 0);
    EXPECT_GT(opaqueInColumn.back(), 0);

    const std::string noExtension = tempPath("view-screenshot");
    std::filesystem::remove(noExtension);
    EXPECT_FALSE(view.takeScreenshot(QString::fromStdString(noExtension), false));
    EXPECT_FALSE(std::filesystem::exists(noExtension));
}
TEST(ViewNavigation, ARecordedFlightIsSavedLoadedAndReplayedWithItsRates) {
    ShownView view;
    ASSERT_TRUE(view.waitedForExposure);
    view.standAtStart();
    const QString folder = QString::fromStdString(tempPath("paths"));
    QDir().mkpath(folder);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder); // the path and the report go to the working directory

    QTest::keyClick(&view, Qt::Key_R);
    QTest::keyPress(&view, Qt::Key_W);
    for (int frame = 0; frame < 8; ++frame) {
        QTest::qWait(15);
        view.repaint();
    }
    QTest::keyRelease(&view, Qt::Key_W);
    QTest::keyClick(&view, Qt::Key_R);
    view.repaint();
    EXPECT_FALSE(view.isRecording());
    const std::vector<VWalkPathEntry> recorded = view.cameraPath().entries;
    ASSERT_GE(recorded.size(), 8u);
    EXPECT_LT(recorded.back().position.z, recorded.front().position.z) << "flew forward, along -z";
    EXPECT_GT(recorded.back().time, recorded.front().time);

    view.savePath();
    view.loadPath();
    EXPECT_EQ(view.cameraPath().entries.size(), recorded.size());
    // Still braking from the flight: stopped, or the frame after the replay
    // would move it on by as much as the machine's load makes that frame late.
    view.freeCamera().stop();
    const Vec3d standing = view.freeCamera().position();
    view.traceRecordedPath();
    EXPECT_FALSE(view.replayRates().empty());
    const std::vector<uint8_t> report = readBytes(QDir(folder).filePath("TestPathFPS.txt").toStdString());
    const std::string expectedStart = "Anzahl(n): " + std::to_string(view.replayRates().size()) + "\n";
    EXPECT_EQ(std::string(report.begin(), report.end()).rfind(expectedStart, 0), 0u);
    expectNear(view.freeCamera().position(), standing); // the free camera is back
    QDir::setCurrent(previous);
}

// What the user asks of the view and it cannot do is told in a message box
// with the reason, which leaves the view drawing.
TEST(ViewNavigation, FailuresTheUserCausesAreShownWithTheirReason) {
    ShownView view;
    ASSERT_TRUE(view.waitedForExposure);
    const QString folder = QString::fromStdString(tempPath("no-path-here"));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder); // where no camera path was saved
    const std::pair<std::function<void()>, QString> cases[] = {
        {[&] { view.traceRecordedPath(); }, "no camera path to replay"},
        {[&] { view.loadPath(); }, "Cannot load the camera path: "},
        {[&] {
             qputenv("MORVA_SCENE_CONTENT", folder.toLocal8Bit()); // a folder without the content
             view.generateScene(1);
             qunsetenv("MORVA_SCENE_CONTENT");
         },
         "scripts/scene-content.sh makes it"},
    };
    for (const auto& [act, reason] : cases) {
        act();
        const QList<QMessageBox*> boxes = view.findChildren<QMessageBox*>("failure message");
        ASSERT_EQ(boxes.size(), 1) << reason.toStdString();
        EXPECT_TRUE(boxes.front()->isVisible());
        EXPECT_TRUE(boxes.front()->text().contains(reason)) << boxes.front()->text().toStdString();
        delete boxes.front();
    }
    // The screenshot's caller, the output window, shows its reason.
    QString why;
    EXPECT_FALSE(view.takeScreenshot(QString::fromStdString(tempPath("shot")), false, &why));
    EXPECT_TRUE(why.contains("ending")) << why.toStdString();
    QDir::setCurrent(previous);
}
} // namespace
