// Scene geometries and the scene tree drawn headless: the line kinds' arrays,
// what frustum culling lets through on a small scene, and pictures of the
// compass and the sky box.

#include "GLTestContext.h"
#include "OffscreenFramebuffer.h"
#include "ShaderSets.h"
#include "TestFiles.h"
#include "VLinePyramid.h"
#include "VLineSphere.h"
#include "VSceneGraph.h"
#include "VSkyBox.h"

#include <GL/glu.h>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {
const float kWhite[4] = {1, 1, 1, 1}, kRed[4] = {1, 0, 0, 1}, kBlack[4] = {0, 0, 0, 1};

class SceneDrawing : public ::testing::Test {
  protected:
    void SetUp() override {
        loaderOutput();
        VViewShaders::setupShaders();
        std::string error;
        ASSERT_TRUE(mTarget.create(64, 64, error)) << error;
        glDisable(GL_DEPTH_TEST);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(90, 1, 0.1, 100);
    }
    // Sets the modelview and the context's frustum to the camera.
    void look(const VCameraPose& camera) {
        mCamera = camera;
        mContext.camera = &mCamera;
        mContext.frustum.set(camera, 0.1, 100, 90, 1);
        const Vec3d& e = camera.position;
        const Vec3d at = e + camera.direction;
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(e.x, e.y, e.z, at.x, at.y, at.z, camera.up.x, camera.up.y, camera.up.z);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    uint64_t linesDrawn(VSceneGraph& graph) {
        VDrawStatistics statistics;
        graph.draw(mContext, statistics);
        return statistics.lines;
    }
    CapturedLog mLog;
    OffscreenFramebuffer mTarget;
    VCameraPose mCamera;
    VTraversalContext mContext;
};

TEST_F(SceneDrawing, LineKindsBuildTheirSegments) {
    VLineSphere sphere("s", 1, 2, 3, 2, 16, 8, kBlack, kWhite, false);
    sphere.init(mContext);
    ASSERT_EQ(sphere.segmentCount(), 240u);
    ASSERT_EQ(sphere.vertices().size(), 480u * 4);
    for (size_t v = 0; v < 480; ++v) {
        const float* p = &sphere.vertices()[4 * v];
        EXPECT_NEAR(std::hypot(p[0] - 1, p[1] - 2, p[2] - 3), 2, 1e-5) << v;
        // Colour follows height: white at the top (y = 4), black at the bottom.
        EXPECT_NEAR(sphere.colours()[4 * v], (1 - std::acos((p[1] - 2) / 2) / M_PI), 1e-5) << v;
    }
    VLineSphere flat("flat", 0, 0, 0, 1, 16, 0, kBlack, kWhite, false);
    flat.init(mContext);
    EXPECT_EQ(flat.segmentCount(), 0u) << "no horizontal slices make no segments";

    for (const char* name : {"compass", "tent"}) {
        const bool compass = std::string(name) == "compass";
        VLinePyramid pyramid(name, 2, 3, kWhite, kRed, false);
        pyramid.init(mContext);
        ASSERT_EQ(pyramid.segmentCount(), 8u);
        std::set<std::vector<float>> baseColours;
        for (size_t v = 0; v < 16; ++v) {
            const float* p = &pyramid.vertices()[4 * v];
            const std::vector<float> colour(&pyramid.colours()[4 * v], &pyramid.colours()[4 * v + 4]);
            EXPECT_LE(std::hypot(p[0] - pyramid.boundingSphere()->x, p[1] - pyramid.boundingSphere()->y,
                                 p[2] - pyramid.boundingSphere()->z),
                      pyramid.boundingSphere()->r * 1.0001f);
            if (p[1] == 3) {
                EXPECT_EQ(colour, std::vector<float>(kRed, kRed + 4));
                continue;
            }
            baseColours.insert(colour);
            // The compass: corners on one diagonal green, on the other blue.
            const std::vector<float> expected = !compass ? std::vector<float>(kWhite, kWhite + 4)
                                                : p[0] * p[2] > 0 ? std::vector<float>{0, 1, 0, 1}
                                                                  : std::vector<float>{0, 0, 1, 1};
            EXPECT_EQ(colour, expected) << name << " " << p[0] << " " << p[2];
        }
        EXPECT_EQ(baseColours.size(), compass ? 2u : 1u) << name;
    }
}

// Camera at the origin looking down -z, 90 degrees: at distance 10 the view
// reaches 10 to each side.
TEST_F(SceneDrawing, CullingDrawsOnlyNodesInView) {
    VSceneGraph graph(nullptr);
    VLineSphere* ball = graph.resourceManager()->createLineSphere("ball", 0, 0, 0, 1, 4, 2, kBlack, kWhite, true);
    auto place = [&](const char* name, double x, double z, double scale) {
        const double matrix[16] = {scale, 0, 0, 0, 0, scale, 0, 0, 0, 0, scale, 0, x, 0, z, 1};
        VSceneNode* node = graph.createNode(name);
        node->setLocalMatrix(matrix);
        node->addGeometry(ball);
        graph.root()->addChild(node);
        return node;
    };
    place("ahead", 0, -10, 1);
    place("behind", 0, 10, 1);
    place("aside", 30, -10, 1);
    // Its ball reaches from x = 6 to 22: in view only if the radius grows with the scale.
    VSceneNode* grown = place("grown", 14, -10, 8);
    EXPECT_FLOAT_EQ(grown->globalSphere().r, 8);
    VSceneNode* ghost = graph.createNode("ghost");
    ghost->addGeometry(ball);
    ghost->setVisible(false);
    graph.getNode("ahead")->addChild(ghost);

    look(VCameraPose());
    const uint64_t perBall = 12, perBoundingSphere = 56;
    EXPECT_EQ(linesDrawn(graph), 2 * perBall);
    EXPECT_EQ(ball->boundingSphere()->z, 0) << "the world-space sphere is put back after drawing";
    mContext.drawBoundingSpheres = true; // root, ahead and grown
    EXPECT_EQ(linesDrawn(graph), 2 * perBall + 3 * perBoundingSphere);
    mContext.drawBoundingSpheres = false;
    mContext.cullFrustum = false;
    EXPECT_EQ(linesDrawn(graph), 4 * perBall);
    mContext.drawChildren = false;
    EXPECT_EQ(linesDrawn(graph), 0u);
    mContext.drawChildren = true;
    mContext.cullFrustum = true;

    // The background follows the camera and is never culled.
    VSceneNode* around = graph.createNode("around");
    around->addGeometry(ball);
    graph.setBackground(around);
    VCameraPose away;
    away.position = Vec3d(0, 0, 500);
    look(away);
    EXPECT_EQ(linesDrawn(graph), perBall);
    double translation[3];
    around->getTranslation(translation);
    EXPECT_EQ(translation[2], 500);
}

// The compass from above: both corner colours show, and the buffer object
// draws the picture the immediate path draws.
TEST_F(SceneDrawing, CompassPictureFromBothPaths) {
    VCameraPose above;
    above.position = Vec3d(0, 3, 0);
    above.direction = Vec3d(0, -1, 0);
    above.up = Vec3d(0, 0, -1);
    QImage pictures[2];
    for (bool useVBO : {false, true}) {
        VLinePyramid compass("compass", 2, 1, kWhite, kRed, useVBO);
        look(above);
        VDrawStatistics statistics;
        compass.draw(mContext, statistics);
        EXPECT_EQ(statistics.lines, 8u);
        pictures[useVBO] = mTarget.picture();
    }
    EXPECT_EQ(pictures[0], pictures[1]);
    int green = 0, blue = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QColor c = pictures[1].pixelColor(x, y);
            green += c.green() > 200 && c.blue() < 50;
            blue += c.blue() > 200 && c.green() < 50;
        }
    EXPECT_GT(green, 10);
    EXPECT_GT(blue, 10);
}

// Six faces in six colours, one image missing: the face ahead shows wherever
// the camera stands, and the missing one is grey.
TEST_F(SceneDrawing, SkyBoxTurnsWithTheCameraOnly) {
    const QColor colours[6] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan, Qt::magenta};
    std::array<std::string, 6> files;
    for (int f = 0; f < 6; ++f) {
        files[f] = tempPath("sky-" + std::to_string(f) + ".png");
        QImage image(4, 4, QImage::Format_RGBA8888);
        image.fill(colours[f]);
        if (f == 1) // the front's upper half white: it must show above the horizon
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 4; ++x) image.setPixelColor(x, y, Qt::white);
        if (f != 2) {
            ASSERT_TRUE(image.save(QString::fromStdString(files[f])));
        }
    }
    VSkyBox sky("sky", files, 10, false);
    sky.init(mContext);
    EXPECT_EQ(sky.texturedFaces(), 5);
    EXPECT_NE(mLog.err().find("cannot read the image \"" + files[2] + "\"; that face stays untextured"),
              std::string::npos);
    struct View {
        Vec3d direction, up;
        QColor expected;
    };
    // Images come as back (+z), front (-z), right (+x, missing here), left, down, up.
    for (const View& view : {View{{0, 0, -1}, {0, 1, 0}, colours[1]}, View{{1, 0, 0}, {0, 1, 0}, QColor(128, 128, 128)},
                             View{{0, 0, 1}, {0, 1, 0}, colours[0]}, View{{0, 1, 0}, {0, 0, 1}, colours[5]},
                             View{{-1, 0, 0}, {0, 1, 0}, colours[3]}}) {
        VCameraPose camera;
        camera.position = Vec3d(1000, -40, 7);
        camera.direction = view.direction;
        camera.up = view.up;
        look(camera);
        VDrawStatistics statistics;
        sky.draw(mContext, statistics);
        const QColor centre = mTarget.picture().pixelColor(32, 40); // below the horizon
        EXPECT_NEAR(centre.red(), view.expected.red(), 2) << view.direction.x << view.direction.y << view.direction.z;
        EXPECT_NEAR(centre.green(), view.expected.green(), 2);
        EXPECT_NEAR(centre.blue(), view.expected.blue(), 2);
        if (view.expected == colours[1]) {
            EXPECT_EQ(mTarget.picture().pixelColor(32, 20), QColor(Qt::white));
        }
    }
}
} // namespace
