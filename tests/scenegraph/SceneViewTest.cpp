// A whole scene drawn headless: a sky box at the background node, a sine
// terrain, a compass and a line sphere, and two dragons, one read whole and
// one drawn from its side files alone. Saved and loaded again first, so the
// picture is of what the scene file keeps.

#include "GLTestContext.h"
#include "SceneView.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VLinePyramid.h"
#include "VLineSphere.h"
#include "VSkyBox.h"
#include "VSurfelModel.h"
#include "VSurfelModel2.h"
#include "VTextureCache.h"

#include <QImage>
#include <gtest/gtest.h>

#include <set>

namespace {
std::string image(const std::string& name, QColor top, QColor bottom) {
    QImage picture(64, 64, QImage::Format_RGBA8888);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double t = y / 63.0;
            const bool check = ((x / 8) + (y / 8)) % 2;
            picture.setPixelColor(x, y, QColor(int(top.red() * (1 - t) + bottom.red() * t) - (check ? 12 : 0),
                                               int(top.green() * (1 - t) + bottom.green() * t),
                                               int(top.blue() * (1 - t) + bottom.blue() * t)));
        }
    const std::string path = tempPath(name);
    picture.save(QString::fromStdString(path));
    return path;
}

// The 11K dragon with its side files.
std::string dragonWithSideFiles() {
    std::string path, error;
    EXPECT_TRUE(buildDragonHierarchy("dragon_vrip_res4.ply", "scene-dragon.mvh", 1, path));
    VLODObject3D object;
    SideFileReport report;
    EXPECT_TRUE(object.read(path) && setUpImpostorsAndSideFiles(object, report, error)) << error;
    return path;
}

VSceneNode* placedNode(VSceneGraph& graph, const std::string& name, double x, double y, double z) {
    const double at[3] = {x, y, z}, identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    VSceneNode* node = graph.createNode(at, identity, name);
    graph.root()->addChild(node);
    return node;
}

std::string buildScene() {
    const std::string dragon = dragonWithSideFiles();
    VSceneGraph graph(nullptr);
    VResourceManager& resources = *graph.resourceManager();
    const std::string sky = image("sky.png", QColor(90, 140, 230), QColor(200, 220, 250));
    VSceneNode* background = graph.createNode("sky node");
    background->addGeometry(resources.createSkyBox("sky", {sky, sky, sky, sky, sky, sky}, 10, false));
    graph.setBackground(background);
    resources.createTexture("terrain", image("terrain.png", QColor(230, 230, 220), QColor(200, 210, 190)));
    graph.createTerrain("Sinus", "ground", 1, 0.25f, 8, -4, -4, 8, 8, true);

    const float white[4] = {1, 1, 1, 1}, red[4] = {1, 0, 0, 1}, orange[4] = {1, 0.6f, 0, 1};
    placedNode(graph, "compass", -1.2, 0.6, 0.8)->addGeometry(resources.createLinePyramid("compass", 0.3f, 0.4f, white, red, false));
    placedNode(graph, "whole dragon", -0.6, 0.8, 0)->addGeometry(resources.createSurfelModel("dragon", dragon, true));
    std::string sideFiles = dragon;
    sideFiles.replace(sideFiles.size() - 4, 4, ".mv3");
    VSceneNode* second = placedNode(graph, "side-file dragon", 0.7, 0.8, -0.8);
    second->addGeometry(resources.createSurfelModel2("dragon from side files", sideFiles, true));
    second->addGeometry(resources.createLineSphere("halo", 0, 0, 0, 0.7f, 16, 8, red, orange, false));
    const std::string scene = tempPath("demo.scn");
    EXPECT_TRUE(graph.save(scene));
    return scene;
}

TEST(SceneView, ASavedSceneDrawsEveryKindAndCullsWhatIsBehind) {
    MORVA_SKIP_WITHOUT_DRAGON();
    CapturedLog log;
    VViewShaders::setupShaders();
    const bool outOfCore = VConfiguration::mUseOutOfCore;
    VConfiguration::mUseOutOfCore = true;
    VTextureCache cache(128u << 20);
    const std::string scene = buildScene();
    SceneView view;
    SceneViewOptions options;
    options.width = options.height = 256;
    std::string error;
    ASSERT_TRUE(view.open(scene, options, error)) << error << log.err();

    const SceneFrame ahead = view.draw({0, 1.6f, 4}, {0, 0.6f, 0}, {0, 1, 0});
    const QImage picture = view.picture();
    picture.save(QString::fromStdString(tempPath("scene.png")));
    EXPECT_GE(ahead.statistics.nodesDrawn, 5u); // root, background and the three placed nodes
    EXPECT_GT(ahead.statistics.triangles, 8u * 8 * 2 * 8 * 8) << "the dragons on top of the terrain's";
    EXPECT_GT(ahead.statistics.lines, 0u);
    size_t skyPixels = 0, distinct = 0;
    std::set<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            colours.insert(picture.pixel(x, y));
            const QRgb p = picture.pixel(x, y);
            skyPixels += y < 20 && p != qRgb(170, 170, 255) && qBlue(p) > qRed(p) + 40; // not the clear colour
        }
    distinct = colours.size();
    EXPECT_GT(skyPixels, 256u * 10) << "the sky box fills the top";
    EXPECT_GT(distinct, 200u) << "shaded terrain and dragons, not flat colour";

    // Looking up and away: the placed nodes fall outside the frustum.
    const SceneFrame away = view.draw({0, 1.6f, 4}, {0, 4, 9}, {0, 1, 0});
    EXPECT_GE(away.statistics.nodesCulled, 3u);
    EXPECT_LT(away.statistics.triangles, ahead.statistics.triangles);
    VConfiguration::mUseOutOfCore = outOfCore;
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
} // namespace
