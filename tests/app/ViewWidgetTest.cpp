// The viewer's OpenGL widget in a real window (under a virtual X server):
// a hierarchy opened there looks as the command-line renderer draws it for
// the same camera and error, and a file that cannot be read leaves the
// previous object in view.

#include "DragonHierarchy.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VGLWidget.h"

#include <QApplication>
#include <QImage>
#include <QSurfaceFormat>
#include <QTest>
#include <gtest/gtest.h>

#include <sstream>

namespace {
constexpr int kSize = 256;

// Share of pixels that differ by more than a few steps in any channel.
double differingShare(const QImage& a, const QImage& b) {
    size_t differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            differing += std::abs(qRed(p) - qRed(q)) > 3 || std::abs(qGreen(p) - qGreen(q)) > 3 ||
                         std::abs(qBlue(p) - qBlue(q)) > 3;
        }
    return double(differing) / (double(a.width()) * a.height());
}

TEST(ViewWidget, AnOpenedHierarchyLooksAsTheRendererDrawsIt) {
    MORVA_SKIP_WITHOUT_DRAGON();
    ASSERT_FALSE(dragonHierarchy().empty()) << "morva build failed";
    VConfiguration::mUseOutOfCore = false; // every atlas at once, as the renderer reads them
    VGLWidget view;
    view.resize(kSize, kSize);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    std::string error;
    ASSERT_TRUE(view.openHierarchy(dragonHierarchy(), error)) << error << view.setupProblem();
    const BoundingSphere& s = view.object().mBoundingSphere;
    const Vec3f eye(s.x + 0.8f * s.r, s.y + 1.2f * s.r, s.z + 4 * s.r);
    view.setCamera(eye, s.centre(), {0, 1, 0});
    view.setErrorPixels(2);
    const QImage shown = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    ASSERT_GT(view.lastFrame().triangles, 0u);

    std::ostringstream camera;
    camera << " --eye " << eye.x << "," << eye.y << "," << eye.z << " --center " << s.x << "," << s.y << "," << s.z;
    const std::string reference = tempPath("viewer-reference.png");
    ASSERT_TRUE(runMorva("render '" + dragonHierarchy() + "' -o '" + reference + "' --size 256x256 --error 2" + camera.str()));
    const QImage expected = QImage(QString::fromStdString(reference)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(expected.size(), shown.size());
    shown.save(QString::fromStdString(tempPath("viewer-shown.png")));
    // The same program on the same driver: only rounding of the camera
    // written as text may move an edge pixel.
    EXPECT_LT(differingShare(shown, expected), 0.01);

    // A file that is no hierarchy: the reason, and the dragon stays.
    const uint64_t triangles = view.lastFrame().triangles;
    EXPECT_FALSE(view.openHierarchy(testDataPath("no-such-file.mvh"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(view.hasObject());
    view.grabFramebuffer();
    EXPECT_EQ(view.lastFrame().triangles, triangles);
}
} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (the build does, without a display) needs no window.
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    VGLWidget::prepareApplication();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
