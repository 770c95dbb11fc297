// Scene files: a scene with every kind of resource survives save, load and
// save unchanged, and every damaged file is refused whole, with its reason
// and line, leaving the scene that was there.

#include "TestFiles.h"
#include "VGeometryInstance.h"
#include "VLinePyramid.h"
#include "VLineSphere.h"
#include "VSceneGraph.h"
#include "VSceneTexture.h"
#include "VSkyBox.h"
#include "VTerrain.h"
#include "VTerrainPatch.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {
std::string readText(const std::string& path) {
    const std::vector<uint8_t> bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string writeImage(const std::string& name, QColor colour) {
    QImage image(4, 4, QImage::Format_RGBA8888);
    image.fill(colour);
    const std::string path = tempPath(name);
    image.save(QString::fromStdString(path));
    return path;
}

// Root - arm (turned, a compass) - hand (hidden, a copy of the globe); a
// sky node as background with a sky box; a node hung nowhere.
void buildSampleScene(VSceneGraph& graph) {
    VResourceManager& resources = *graph.resourceManager();
    const std::string image = writeImage("scene-file-wall.png", Qt::darkGreen);
    ASSERT_NE(resources.createTexture("terrain", image), nullptr);
    VSkyBox* sky = resources.createSkyBox("sky", {image, image, image, image, image, tempPath("no-such.png")}, 50,
                                          false);
    const float white[4] = {1, 1, 1, 1}, red[4] = {1, 0, 0, 1}, blue[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    VLinePyramid* compass = resources.createLinePyramid("compass", 1.5f, 2.25f, white, red, true);
    VLineSphere* globe = resources.createLineSphere("globe", 1, 2, 3, 1.0f / 3, 16, 8, blue, white, false);
    VGeometryInstance* copy = resources.createInstance("globe copy", globe);
    VSceneNode* skyNode = graph.createNode("sky node");
    skyNode->addGeometry(sky);
    graph.setBackground(skyNode);
    const double translation[3] = {0.1, -7, 1e-9}, turn[9] = {0.6, 0, -0.8, 0, 1, 0, 0.8, 0, 0.6};
    VSceneNode* arm = graph.createNode(translation, turn, "arm");
    ASSERT_TRUE(graph.root()->addChild(arm));
    arm->addGeometry(compass);
    VSceneNode* hand = graph.createNode("hand");
    ASSERT_TRUE(arm->addChild(hand));
    hand->addInstance(copy);
    hand->setVisible(false);
    graph.createNode("loose");
    graph.createTerrain("Sinus", "ground", 7, 1, 8, 0, 0, 2, 1, false);
}

TEST(SceneFile, EveryKindSurvivesSaveLoadSave) {
    CapturedLog log;
    VSceneGraph original(nullptr);
    buildSampleScene(original);
    const std::string first = tempPath("round-trip-1.scn"), second = tempPath("round-trip-2.scn");
    ASSERT_TRUE(original.save(first));

    VSceneGraph loaded(nullptr);
    ASSERT_TRUE(loaded.load(first)) << log.err();
    ASSERT_TRUE(loaded.save(second));
    EXPECT_EQ(readText(second), readText(first));

    EXPECT_EQ(loaded.nodeCount(), 5u);
    ASSERT_NE(loaded.background(), nullptr);
    EXPECT_EQ(loaded.background()->name(), "sky node");
    VSceneNode* hand = loaded.getNode("hand");
    ASSERT_NE(hand, nullptr);
    EXPECT_FALSE(hand->isVisible());
    ASSERT_NE(hand->parent(), nullptr);
    EXPECT_EQ(hand->parent()->parent(), loaded.root());
    const VResourceManager& resources = *loaded.resourceManager();
    EXPECT_EQ(VResourceManager::current(), &resources);
    ASSERT_EQ(hand->instances().count("globe copy"), 1u);
    EXPECT_EQ(hand->instances().at("globe copy")->geometry(), resources.getGeometry("globe"));
    ASSERT_NE(resources.getTexture("terrain"), nullptr);
    EXPECT_TRUE(resources.getTexture("terrain")->isLoaded());

    // The terrain comes back from its parameters: two patches of 8 x 8
    // cells, centred at (4, 0, 4) and (12, 0, 4), heights sampled from the
    // world position of each grid point.
    const VTerrain* terrain = loaded.getTerrain();
    ASSERT_NE(terrain, nullptr);
    ASSERT_TRUE(terrain->valid());
    ASSERT_EQ(terrain->patchNodes().size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        const double* m = terrain->patchNodes()[k]->globalMatrix();
        EXPECT_EQ((std::array<double, 3>{m[12], m[13], m[14]}), (std::array<double, 3>{4 + 8.0 * k, 0, 4}));
    }
    const VTerrainPatch& patch = *terrain->patches()[0];
    EXPECT_FLOAT_EQ(patch.height(3, 5), VTerrain::heightAt(3, 5));
    EXPECT_FLOAT_EQ(VTerrain::heightAt(M_PI / 2, M_PI / 2), 0.5f);
}

// A node entry with the given lists; identity matrices.
std::string nodeEntry(const std::string& name, int id, const std::string& children, const std::string& geometries,
                      const std::string& instances, const std::string& translation = "0 0 0") {
    auto count = [](const std::string& ids) {
        std::istringstream in(ids);
        return std::distance(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
    };
    std::istringstream t(translation);
    std::string x, y, z;
    t >> x >> y >> z;
    const std::string matrix = "1 0 0 " + x + "\n0 1 0 " + y + "\n0 0 1 " + z + "\n0 0 0 1\n";
    return "VSceneNode\n" + name + "\n" + std::to_string(id) + "\nglobal matrix:\n" + matrix + "local matrix:\n" +
           matrix + "global bounding sphere:\n0 0 0\n0\nlocal bounding sphere:\n0 0 0\n0\nvisible = true\n" +
           "number of child nodes:\n" + std::to_string(count(children)) + "\nchild nodes:\n" + children +
           "\nnumber of geometry objects:\n" + std::to_string(count(geometries)) + "\ngeometry objects:\n" +
           geometries + "\nnumber of geometry instances:\n" + std::to_string(count(instances)) +
           "\ngeometry instances:\n" + instances + "\n";
}

// Written by hand with six-digit numbers: root 1 - arm 2 (the ball 11) -
// hand 3 (the ball's copy 12); a texture whose image is missing.
std::string handMadeScene() {
    return std::string(VSceneGraph::kFileHeader) + "\n1\nVResourceManager\n"
           "textures:\n1\nVTextureRGBA\nwall\n21\n/no/such/wall.png\n0\n"
           "geometries:\n1\nVLineSphere\nball\n11\nbounding sphere:\n0 0 0\n0.333333\ncenter:\n0 0 0\n"
           "radius:\n0.333333\nvertical slices:\n4\nhorizontal slices:\n2\nsouth color:\n0 0 0 1\n"
           "north color:\n1 1 1 1\nuse VBO for rendering:\nfalse\n"
           "instances:\n1\nVGeometryInstance\nball copy\n12\ngeometry ID:\n11\n"
           "number of nodes:\n3\nnodes:\n" +
           nodeEntry("Root Node", 1, "2", "", "") + nodeEntry("arm", 2, "3", "11", "") +
           nodeEntry("hand", 3, "", "", "12", "5 0 0") +
           "ID of root node:\n1\nID of background node:\n0\nterrain:\nNULL\n";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

int lineOf(const std::string& text, const std::string& anchor) {
    const size_t at = text.find(anchor);
    return at == std::string::npos ? -1 : 1 + int(std::count(text.begin(), text.begin() + long(at), '\n'));
}

TEST(SceneFile, HandMadeSixDigitFileReads) {
    CapturedLog log;
    VSceneGraph graph(nullptr);
    const std::string path = tempPath("hand-made.scn");
    // An ID far above the counter: objects made after the load go above it.
    writeText(path, replaced(handMadeScene(), "wall\n21\n", "wall\n4000000021\n"));
    ASSERT_TRUE(graph.load(path)) << log.err();
    EXPECT_GT(graph.createNode("after")->id(), 4000000021u);
    EXPECT_NE(log.err().find("cannot read the image \"/no/such/wall.png\"; it stays unloaded"), std::string::npos);
    ASSERT_NE(graph.resourceManager()->getTexture(4000000021u), nullptr);
    EXPECT_FALSE(graph.resourceManager()->getTexture(4000000021u)->isLoaded());
    VSceneNode* hand = graph.getNode(3);
    ASSERT_NE(hand, nullptr);
    // The ball copy's sphere moved by the hand's translation.
    EXPECT_FLOAT_EQ(hand->globalSphere().x, 5);
    EXPECT_FLOAT_EQ(hand->globalSphere().r, 0.333333f);
    EXPECT_EQ(graph.getNode(2)->geometries().count("ball"), 1u);
}

struct Refusal {
    const char* what;
    std::vector<std::pair<std::string, std::string>> edits;
    std::string message;
    std::string lineAnchor; // the refusal names the line where this text begins
};

TEST(SceneFile, DamagedFilesAreRefusedWholeWithTheirLine) {
    const std::string root = "Root Node\n1\n", arm = "VSceneNode\narm\n", hand = "VSceneNode\nhand\n";
    const std::vector<Refusal> refusals = {
        {"header", {{"*****", "#####"}}, "no scene file of version 1", ""},
        {"version", {{"*\n1\n", "*\n2\n"}}, "no scene file of version 1", ""},
        {"texture unit", {{"wall.png\n0\n", "wall.png\n40\n"}}, "ERROR - reading texture nr. 1!", "VTextureRGBA"},
        {"texture count", {{"textures:\n1\n", "textures:\n3000000000\n"}}, "cannot fit into the", "textures:"},
        {"no horizontal slices", {{"horizontal slices:\n2", "horizontal slices:\n0"}}, "must lie in 1..4096",
         "VLineSphere"},
        {"too many slices", {{"vertical slices:\n4", "vertical slices:\n5000"}}, "ERROR - reading geometry nr. 1!",
         "VLineSphere"},
        {"negative radius", {{"0.333333\ncenter:", "-1\ncenter:"}}, "its sphere must be finite, its radius at least 0",
         "VLineSphere"},
        {"unknown geometry", {{"VLineSphere", "VLineCube"}}, "ERROR - reading geometry nr. 1!", "VLineCube"},
        {"instance of nothing", {{"geometry ID:\n11", "geometry ID:\n99"}},
         "ERROR - reading geometry instance nr. 1!", "VGeometryInstance"},
        {"node count", {{"number of nodes:\n3", "number of nodes:\n4000000000"}}, "cannot fit into the",
         "number of nodes:"},
        {"no nodes", {{"number of nodes:\n3", "number of nodes:\n0"}}, "a scene needs its root node",
         "number of nodes:"},
        {"root class", {{"VSceneNode\n" + root, "VSceneNod\n" + root}}, "ERROR - reading the root node!",
         "VSceneNod\n"},
        {"child count", {{"child nodes:\n1\nchild nodes:\n3\n", "child nodes:\n2\nchild nodes:\n3\n"}},
         "ERROR - reading scene node nr. 1!", arm},
        {"negative child", {{"child nodes:\n3\n", "child nodes:\n-3\n"}}, "ERROR - reading scene node nr. 1!", arm},
        {"duplicate node ID", {{"hand\n3\n", "hand\n2\n"}}, "scene node ID 2 is used twice", hand},
        {"negative node radius", {{"0 0 0\n0\nvisible", "0 0 0\n-1\nvisible"}},
         "matrices and spheres must be finite", "VSceneNode\nRoot Node"},
        {"beyond float range", {{"1 0 0 5\n", "1 0 0 1e300\n"}, {"1 0 0 5\n", "1 0 0 1e300\n"}}, "node 3 is placed beyond the number range!", hand},
        {"truncated", {{"ID of root node:\n1\nID of background node:\n0\nterrain:\nNULL\n", "ID of root node:\n1\n"}},
         "ERROR - reading ID numbers!", "ID of root node:"},
        {"root ID 0", {{"ID of root node:\n1", "ID of root node:\n0"}}, "ERROR - invalid root ID!",
         "ID of root node:"},
        {"root ID of another node", {{"ID of root node:\n1", "ID of root node:\n2"}}, "ERROR - invalid root ID!",
         "ID of root node:"},
        {"unknown child", {{"child nodes:\n3\n", "child nodes:\n7\n"}}, "could not get node!!!", arm},
        {"unknown geometry ID", {{"geometry objects:\n11\n", "geometry objects:\n77\n"}},
         "could not get geometry from resource manager!!!", arm},
        {"root as child", {{"child nodes:\n3\n", "child nodes:\n1\n"}},
         "ERROR - the root node is listed as a child of node 2!", arm},
        {"own child", {{"child nodes:\n0\nchild nodes:\n\n", "child nodes:\n1\nchild nodes:\n3\n"}},
         "ERROR - node 3 is its own ancestor!", hand},
        // hand lists arm, and the root lets go of arm: arm and hand hang from each other.
        {"cycle", {{"child nodes:\n0\nchild nodes:\n\n", "child nodes:\n1\nchild nodes:\n2\n"},
                   {"child nodes:\n1\nchild nodes:\n2\n", "child nodes:\n0\nchild nodes:\n\n"}},
         "is its own ancestor!", ""},
        {"two parents", {{"child nodes:\n1\nchild nodes:\n2\n", "child nodes:\n2\nchild nodes:\n2 3\n"}},
         "ERROR - node 3 is listed as a child of node 1 and of node 2!", arm},
        {"background", {{"background node:\n0", "background node:\n9"}}, "ERROR - ID of background node is faulty!",
         "ID of background node:"},
        {"terrain", {{"terrain:\nNULL", "terrain:\nVTerrain"}}, "ERROR - could not read in terrain!", "terrain:"},
    };
    CapturedLog log;
    VSceneGraph graph(nullptr);
    const std::string good = tempPath("refusal-good.scn"), bad = tempPath("refusal-bad.scn");
    writeText(good, handMadeScene());
    ASSERT_TRUE(graph.load(good)) << log.err();
    std::ostringstream before;
    graph.write(before);
    VResourceManager* resources = graph.resourceManager();
    for (const Refusal& refusal : refusals) {
        std::string text = handMadeScene();
        for (const auto& [from, to] : refusal.edits) text = replaced(text, from, to);
        writeText(bad, text);
        log.mErr.str("");
        EXPECT_FALSE(graph.load(bad)) << refusal.what;
        const std::string err = log.err();
        EXPECT_NE(err.find(refusal.message), std::string::npos) << refusal.what << ":\n" << err;
        if (!refusal.lineAnchor.empty()) {
            const std::string line = "refused at line " + std::to_string(lineOf(text, refusal.lineAnchor)) + ";";
            EXPECT_NE(err.find(line), std::string::npos) << refusal.what << ":\n" << err;
        }
        std::ostringstream after;
        graph.write(after);
        EXPECT_EQ(after.str(), before.str()) << refusal.what;
        EXPECT_EQ(graph.resourceManager(), resources) << refusal.what;
        EXPECT_EQ(VResourceManager::current(), resources) << refusal.what;
    }
}
} // namespace
