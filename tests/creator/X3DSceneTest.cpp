#include "X3DScene.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

namespace {

const std::string kAssimpX3D = std::string(MORVA_ASSIMP_MODELS_DIR) + "/X3D/";

std::string writeText(const std::string& name, const std::string& text) {
    std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// A complete X3D document around the given Scene content.
std::string writeScene(const std::string& name, const std::string& scene) {
    return writeText(name, "<?xml version='1.0' encoding='UTF-8'?>\n"
                           "<X3D profile='Interchange' version='3.3'>\n<Scene>\n" +
                               scene + "\n</Scene>\n</X3D>\n");
}

std::unique_ptr<X3DScene> load(const std::string& path) {
    std::string error;
    auto scene = loadX3DScene(path, error);
    EXPECT_TRUE(scene) << error;
    EXPECT_TRUE(!scene || error.empty());
    return scene;
}

std::string loadError(const std::string& path) {
    std::string error;
    EXPECT_FALSE(loadX3DScene(path, error)) << path;
    EXPECT_FALSE(error.empty());
    return error;
}

struct Collected {
    X3DMesh mesh;
    X3DMeshReport report;
};

Collected collect(const X3DScene& scene) {
    Collected c;
    std::string error;
    EXPECT_TRUE(collectX3DMesh(scene, c.mesh, c.report, error)) << error;
    for (const auto& t : c.mesh.triangles)
        for (uint32_t v : t)
            EXPECT_LT(v, c.mesh.points.size());
    return c;
}

Collected collectScene(const std::string& name, const std::string& sceneText) {
    auto scene = load(writeScene(name, sceneText));
    return scene ? collect(*scene) : Collected{};
}

void expectPoint(const Vec3f& p, double x, double y, double z) {
    EXPECT_NEAR(p.x, x, 1e-5);
    EXPECT_NEAR(p.y, y, 1e-5);
    EXPECT_NEAR(p.z, z, 1e-5);
}

using Tri = std::array<uint32_t, 3>;

// One triangle with corners at the origin, (1,0,0) and (0,1,0).
const std::string kTriangleSet =
    "<IndexedFaceSet coordIndex='0 1 2'><Coordinate point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet>";
const std::string kTriangleShape = "<Shape>" + kTriangleSet + "</Shape>";

// --- Face sets ---------------------------------------------------------------

//  3---2
//  |  /|     one quad, fanned from corner 0
//  | / |
//  0---1
TEST(X3DSceneTest, UnitSquareQuadBecomesTwoTrianglesFannedFromFirstCorner) {
    auto c =
        collectScene("square.x3d", "<Shape><IndexedFaceSet coordIndex='0 1 2 3 -1'>"
                                   "<Coordinate point='0 0 0 1 0 0 1 1 0 0 1 0'/></IndexedFaceSet></Shape>");
    ASSERT_EQ(c.mesh.points.size(), 4u);
    expectPoint(c.mesh.points[2], 1, 1, 0);
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(c.report.skippedFaces, 0u);
}

TEST(X3DSceneTest, LastPolygonNeedsNoClosingSeparator) {
    auto c = collectScene("trailing.x3d",
                          "<Shape><IndexedFaceSet coordIndex='0 1 2 -1 0 2 3'>"
                          "<Coordinate point='0 0 0 1 0 0 1 1 0 0 1 0'/></IndexedFaceSet></Shape>");
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(c.report.skippedFaces, 0u);
}

TEST(X3DSceneTest, ShortAndOutOfRangePolygonsAreSkippedAndCounted) {
    // Two corners; index 9 past the four points; index -5; an empty run from
    // the doubled -1, which is no polygon; then one good triangle.
    auto c = collectScene("skipped.x3d",
                          "<Shape><IndexedFaceSet coordIndex='0 1 -1 0 1 9 -1 0 -5 2 -1 -1 1 2 3 -1'>"
                          "<Coordinate point='0 0 0 1 0 0 1 1 0 0 1 0'/></IndexedFaceSet></Shape>");
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{1, 2, 3}}));
    EXPECT_EQ(c.report.skippedFaces, 3u);
}

TEST(X3DSceneTest, IndexedTriangleSetTakesGroupsOfThreeAfterEarlierShapesPoints) {
    // The trailing 0 is an incomplete group; 7 is out of range.
    auto c = collectScene("its.x3d",
                          kTriangleShape +
                              "<Shape><IndexedTriangleSet index='0 1 2 2 1 3 0 1 7 0'>"
                              "<Coordinate point='5 0 0 6 0 0 5 1 0 6 1 0'/></IndexedTriangleSet></Shape>");
    ASSERT_EQ(c.mesh.points.size(), 7u);
    expectPoint(c.mesh.points[3], 5, 0, 0);
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{0, 1, 2}, {3, 4, 5}, {5, 4, 6}}));
    EXPECT_EQ(c.report.skippedFaces, 2u);
}

TEST(X3DSceneTest, ClockwiseAndMirroredSetsAreTurnedCounterClockwise) {
    auto c = collectScene(
        "winding.x3d", "<Shape><IndexedFaceSet ccw='false' coordIndex='0 1 2'>"
                       "<Coordinate point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet></Shape>"
                       "<Transform scale='-1 1 1'>" +
                           kTriangleShape +
                           "</Transform>"
                           "<Transform scale='-1 1 1'><Shape><IndexedFaceSet ccw='false' coordIndex='0 1 2'>"
                           "<Coordinate point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet></Shape></Transform>");
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{0, 2, 1}, {3, 5, 4}, {6, 7, 8}}));
    // The mirrored triangle's right-hand normal still faces +z, as the original's did.
    const auto& t = c.mesh.triangles[1];
    Vec3f n = cross(c.mesh.points[t[1]] - c.mesh.points[t[0]], c.mesh.points[t[2]] - c.mesh.points[t[0]]);
    EXPECT_GT(n.z, 0);
}

TEST(X3DSceneTest, SetWithoutCoordinateAndOtherGeometryAreReported) {
    auto c = collectScene("other.x3d", "<Shape><Appearance/><Sphere/></Shape>"
                                       "<Shape><IndexedFaceSet coordIndex='0 1 2'/></Shape>"
                                       "<Shape><Box/></Shape><Shape><Sphere/></Shape>");
    EXPECT_TRUE(c.mesh.points.empty());
    EXPECT_EQ(c.report.setsWithoutCoordinates, 1u);
    EXPECT_EQ(c.report.unsupportedGeometry, (std::map<std::string, uint64_t>{{"Box", 1}, {"Sphere", 2}}));
}

// --- Numbers -----------------------------------------------------------------

TEST(X3DSceneTest, CommasAndAnyWhitespaceSeparateNumbers) {
    auto c = collectScene("commas.x3d", "<Shape><IndexedFaceSet coordIndex='0,1 ,2,\t-1,'>"
                                        "<Coordinate point='0,0,0,  1\n0 0,\r\n\t+1.5e0, .25, -2.'/>"
                                        "</IndexedFaceSet></Shape>");
    ASSERT_EQ(c.mesh.points.size(), 3u);
    expectPoint(c.mesh.points[1], 1, 0, 0);
    expectPoint(c.mesh.points[2], 1.5, 0.25, -2);
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{0, 1, 2}}));
}

TEST(X3DSceneTest, MalformedNumbersRefuseTheFileNamingTheToken) {
    struct Case {
        const char* scene;
        const char* token;
    };
    const Case cases[] = {
        {"<Coordinate point='0 0 0 1 abc 0'/>", "\"abc\""},
        {"<Coordinate point='0 0 0 1 2x 0'/>", "\"2x\""},
        {"<Coordinate point='0 0 nan'/>", "\"nan\""},
        {"<Coordinate point='0 0 1e999'/>", "\"1e999\""},
        {"<Coordinate point='0 0 +-1'/>", "\"+-1\""},
        {"<IndexedFaceSet coordIndex='0 1 2.5'/>", "\"2.5\""},
        {"<IndexedFaceSet coordIndex='0 1 3000000000'/>", "\"3000000000\""},
        {"<Transform translation='1 2 three'/>", "\"three\""},
        {"<Switch whichChoice='-'/>", "\"-\""},
    };
    for (const Case& c : cases) {
        std::string error = loadError(writeScene("badnumber.x3d", c.scene));
        EXPECT_NE(error.find(c.token), std::string::npos) << error;
        EXPECT_NE(error.find("line 4"), std::string::npos) << error;
    }
}

TEST(X3DSceneTest, LongGarbageIsCutShortInTheMessage) {
    std::string garbage(5000, 'x');
    std::string error = loadError(writeScene("longgarbage.x3d", "<Coordinate point='0 0 " + garbage + "'/>"));
    std::string shown = "\"";
    shown += garbage.substr(0, 24) + "...\"";
    EXPECT_NE(error.find(shown), std::string::npos) << error;
    EXPECT_LT(error.size(), 200u);
}

TEST(X3DSceneTest, WrongNumberCountsAreRefused) {
    EXPECT_NE(
        loadError(writeScene("count1.x3d", "<Coordinate point='0 0 0 1'/>")).find("not a multiple of 3"),
        std::string::npos);
    EXPECT_NE(loadError(writeScene("count2.x3d", "<Transform translation='1 2'/>")).find("needs 3 numbers"),
              std::string::npos);
    EXPECT_NE(loadError(writeScene("count3.x3d", "<Transform rotation='0 1 0'/>")).find("needs 4 numbers"),
              std::string::npos);
    EXPECT_NE(loadError(writeScene("count4.x3d", "<IndexedFaceSet ccw='maybe'/>")).find("\"maybe\""),
              std::string::npos);
}

// --- Transforms --------------------------------------------------------------

// Collects one point placed by the given transforms around it.
Vec3f placedPoint(const std::string& open, const std::string& close, const std::string& point) {
    auto c = collectScene("placed.x3d", open + "<Shape><IndexedFaceSet><Coordinate point='" + point +
                                            "'/></IndexedFaceSet></Shape>" + close);
    EXPECT_EQ(c.mesh.points.size(), 1u);
    return c.mesh.points.empty() ? Vec3f() : c.mesh.points[0];
}

TEST(X3DSceneTest, TransformScalesThenRotatesThenTranslates) {
    // (1,1,1) scaled (2,3,4), turned 90 degrees about z (the axis need not be
    // unit length), moved by (1,2,3).
    Vec3f p = placedPoint("<Transform translation='1 2 3' rotation='0 0 2 1.5707963268' scale='2 3 4'>",
                          "</Transform>", "1 1 1");
    expectPoint(p, -2, 4, 7);
}

TEST(X3DSceneTest, TransformRotatesAboutItsCenter) {
    Vec3f p =
        placedPoint("<Transform center='1 0 0' rotation='0 0 1 1.5707963268'>", "</Transform>", "2 0 0");
    expectPoint(p, 1, 1, 0);
}

TEST(X3DSceneTest, TransformScalesAlongItsScaleOrientation) {
    // Stretching x2 along the diagonal: (1,0,0) = 0.5 (1,1,0) + 0.5 (1,-1,0)
    // becomes (1,1,0) + 0.5 (1,-1,0).
    Vec3f p = placedPoint("<Transform scale='2 1 1' scaleOrientation='0 0 1 0.7853981634'>", "</Transform>",
                          "1 0 0");
    expectPoint(p, 1.5, 0.5, 0);
}

TEST(X3DSceneTest, NestedTransformsApplyInnerFirst) {
    Vec3f p = placedPoint("<Transform translation='10 0 0' rotation='0 0 1 1.5707963268'>"
                          "<Group><Transform translation='1 0 0'>",
                          "</Transform></Group></Transform>", "1 0 0");
    expectPoint(p, 10, 2, 0);
}

// --- DEF and USE -------------------------------------------------------------

TEST(X3DSceneTest, UsedCoordinateIsSharedByTwoSets) {
    auto scene = load(writeScene("usecoord.x3d",
                                 "<Shape><IndexedFaceSet coordIndex='0 1 2'>"
                                 "<Coordinate DEF='tri' point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet></Shape>"
                                 "<Transform translation='0 0 5'><Shape><IndexedFaceSet coordIndex='2 1 0'>"
                                 "<Coordinate USE='tri'/></IndexedFaceSet></Shape></Transform>"));
    ASSERT_TRUE(scene);
    std::vector<const X3DNode*> coords;
    forEachX3DNode(*scene, [&](const X3DNode& n) {
        if (n.type == "Coordinate") coords.push_back(&n);
    });
    ASSERT_EQ(coords.size(), 2u);
    EXPECT_EQ(coords[0]->def, "tri");
    EXPECT_EQ(coords[1]->use, coords[0]);
    EXPECT_TRUE(coords[1]->points.empty());

    auto c = collect(*scene);
    ASSERT_EQ(c.mesh.points.size(), 6u);
    expectPoint(c.mesh.points[4], 1, 0, 5);
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{0, 1, 2}, {5, 4, 3}}));
}

TEST(X3DSceneTest, UsedGroupAndShapeAreInstancedUnderTheirNewTransform) {
    auto c = collectScene("usegroup.x3d", "<Group DEF='g'><Shape DEF='s'>" + kTriangleSet +
                                              "</Shape></Group>"
                                              "<Transform translation='3 0 0'><Group USE='g'/></Transform>"
                                              "<Transform translation='0 7 0'><Shape USE='s'/></Transform>");
    ASSERT_EQ(c.mesh.points.size(), 9u);
    expectPoint(c.mesh.points[4], 4, 0, 0);
    expectPoint(c.mesh.points[8], 0, 8, 0);
    EXPECT_EQ(c.mesh.triangles, (std::vector<Tri>{{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}));
}

TEST(X3DSceneTest, LaterDefOfTheSameNameWinsForLaterUses) {
    auto c =
        collectScene("redef.x3d", "<Coordinate DEF='c' point='1 1 1'/><Coordinate DEF='c' point='2 2 2'/>"
                                  "<Shape><IndexedFaceSet><Coordinate USE='c'/></IndexedFaceSet></Shape>");
    ASSERT_EQ(c.mesh.points.size(), 1u);
    expectPoint(c.mesh.points[0], 2, 2, 2);
}

TEST(X3DSceneTest, BadUseReferencesAreRefused) {
    EXPECT_NE(loadError(writeScene("usebefore.x3d", "<Group USE='g'/><Group DEF='g'/>"))
                  .find("\"g\" names no earlier"),
              std::string::npos);
    // A node using itself from inside would make the instancing endless.
    EXPECT_NE(loadError(writeScene("usecycle.x3d", "<Group DEF='g'><Group USE='g'/></Group>"))
                  .find("names no earlier"),
              std::string::npos);
    EXPECT_NE(
        loadError(writeScene("usetype.x3d", "<Group DEF='g'/><Transform USE='g'/>")).find("names a Group"),
        std::string::npos);
    EXPECT_NE(loadError(writeScene("usedef.x3d", "<Group DEF='g'/><Group DEF='h' USE='g'/>"))
                  .find("both DEF and USE"),
              std::string::npos);
}

// --- Selection ---------------------------------------------------------------

TEST(X3DSceneTest, OnlyFinestLodLevelAndChosenSwitchChildContribute) {
    auto shapeAt = [](int x) {
        return "<Transform translation='" + std::to_string(x) + " 0 0'>" + kTriangleShape + "</Transform>";
    };
    auto c = collectScene(
        "select.x3d", "<LOD range='10'><MetadataString/>" + shapeAt(1) + shapeAt(2) + "</LOD>" +
                          "<Switch whichChoice='1'>" + shapeAt(3) + shapeAt(4) + "</Switch>" + "<Switch>" +
                          shapeAt(5) + "</Switch>" + "<Switch whichChoice='7'>" + shapeAt(6) + "</Switch>" +
                          "<ProtoDeclare name='P'><ProtoBody>" + shapeAt(8) + "</ProtoBody></ProtoDeclare>");
    ASSERT_EQ(c.mesh.points.size(), 6u);
    expectPoint(c.mesh.points[0], 1, 0, 0);
    expectPoint(c.mesh.points[3], 4, 0, 0);
}

// --- Walk --------------------------------------------------------------------

TEST(X3DSceneTest, WalkVisitsChildrenBeforeParentsInDocumentOrder) {
    auto scene =
        load(writeScene("walk.x3d", "<Group DEF='g'><Shape><IndexedFaceSet/></Shape><Transform/></Group>"
                                    "<!-- not a node -->text<Viewpoint/><Group USE='g'/>"));
    ASSERT_TRUE(scene);
    EXPECT_EQ(scene->root->type, "Scene");
    std::vector<std::string> types;
    forEachX3DNode(*scene, [&](const X3DNode& n) { types.push_back(n.type + (n.use ? "(USE)" : "")); });
    EXPECT_EQ(types, (std::vector<std::string>{"IndexedFaceSet", "Shape", "Transform", "Group", "Viewpoint",
                                               "Group(USE)"}));
}

// --- Refused files -----------------------------------------------------------

TEST(X3DSceneTest, MalformedXmlNamesTheParserMessageAndOffset) {
    std::string text = "<X3D><Scene>\n<Group></Shape></Scene></X3D>";
    std::string error = loadError(writeText("malformed.x3d", text));
    EXPECT_NE(error.find("malformed.x3d"), std::string::npos) << error;
    EXPECT_NE(error.find("not well-formed XML"), std::string::npos) << error;
    EXPECT_NE(error.find("Start-end tags mismatch"), std::string::npos) << error;
    EXPECT_NE(error.find("byte offset " + std::to_string(text.find("Shape>"))), std::string::npos) << error;
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

TEST(X3DSceneTest, EmptyAndTruncatedFilesAreRefused) {
    EXPECT_NE(loadError(writeText("empty.x3d", "")).find("not well-formed"), std::string::npos);
    EXPECT_NE(loadError(writeText("cut.x3d", "<X3D><Scene><Group DEF='")).find("not well-formed"),
              std::string::npos);
}

TEST(X3DSceneTest, MissingFileIsRefusedByName) {
    std::string error = loadError(tempPath("no-such-file.x3d"));
    EXPECT_NE(error.find("no-such-file.x3d"), std::string::npos) << error;
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST(X3DSceneTest, DirectoryIsRefusedAsUnreadable) {
    std::string error = loadError(tempPath(""));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST(X3DSceneTest, XmlThatIsNotX3DIsRefused) {
    std::string error = loadError(writeText("page.x3d", "<?xml version='1.0'?><html><Scene/></html>"));
    EXPECT_NE(error.find("not an X3D file"), std::string::npos) << error;
    EXPECT_NE(error.find("<html>"), std::string::npos) << error;
    error = loadError(writeText("noscene.x3d", "<X3D><head/></X3D>"));
    EXPECT_NE(error.find("without a <Scene>"), std::string::npos) << error;
}

// --- Hostile files -----------------------------------------------------------

TEST(X3DSceneTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    const int depth = 200000;
    std::string scene;
    for (int i = 0; i < depth; ++i)
        scene += "<Group>";
    for (int i = 0; i < depth; ++i)
        scene += "</Group>";
    std::string error = loadError(writeScene("deep.x3d", scene));
    EXPECT_NE(error.find("nested deeper than"), std::string::npos) << error;
}

TEST(X3DSceneTest, UseChainsDeeperThanTheLimitAreRefused) {
    // Each level is shallow, but following the USEs nests 3 x 400 deep.
    auto nest = [](const std::string& def, const std::string& inner) {
        std::string s = "<Group DEF='" + def + "'>";
        for (int i = 0; i < 399; ++i)
            s += "<Group>";
        s += inner;
        for (int i = 0; i < 400; ++i)
            s += "</Group>";
        return s;
    };
    std::string scene = nest("a", "") + nest("b", "<Group USE='a'/>") + nest("c", "<Group USE='b'/>");
    std::string error = loadError(writeScene("usechain.x3d", scene));
    EXPECT_NE(error.find("USE references followed"), std::string::npos) << error;
}

TEST(X3DSceneTest, InstancingBeyondTheLimitIsRefusedBeforeBuilding) {
    // Ten uses per level over nine levels: 10^9 triangles from a few kilobytes.
    std::string scene = "<Group DEF='g0'>" + kTriangleShape + "</Group>";
    for (int level = 1; level <= 9; ++level) {
        scene += "<Group DEF='g" + std::to_string(level) + "'>";
        for (int i = 0; i < 10; ++i)
            scene += "<Group USE='g" + std::to_string(level - 1) + "'/>";
        scene += "</Group>";
    }
    auto loaded = load(writeScene("bomb.x3d", scene));
    ASSERT_TRUE(loaded);
    X3DMesh mesh;
    X3DMeshReport report;
    std::string error;
    EXPECT_FALSE(collectX3DMesh(*loaded, mesh, report, error));
    EXPECT_NE(error.find("1111111111 triangles"), std::string::npos) << error;
    EXPECT_TRUE(mesh.points.empty() && mesh.triangles.empty());
}

TEST(X3DSceneTest, MeshLimitCountsEveryInstance) {
    auto loaded =
        load(writeScene("limit.x3d", "<Group DEF='g'>" + kTriangleShape + "</Group><Group USE='g'/>"));
    ASSERT_TRUE(loaded);
    X3DMesh mesh;
    X3DMeshReport report;
    std::string error;
    EXPECT_FALSE(collectX3DMesh(*loaded, mesh, report, error, 5));
    EXPECT_TRUE(collectX3DMesh(*loaded, mesh, report, error, 6)) << error;
    EXPECT_EQ(mesh.triangles.size(), 2u);
}

TEST(X3DSceneTest, PointsBeyondFloatRangeAreRefused) {
    auto loaded = load(
        writeScene("huge.x3d", "<Transform scale='1e30 1 1'><Shape><IndexedFaceSet>"
                               "<CoordinateDouble point='1e20 0 0'/></IndexedFaceSet></Shape></Transform>"));
    ASSERT_TRUE(loaded);
    X3DMesh mesh;
    X3DMeshReport report;
    std::string error;
    EXPECT_FALSE(collectX3DMesh(*loaded, mesh, report, error));
    EXPECT_NE(error.find("float"), std::string::npos) << error;
    EXPECT_TRUE(mesh.points.empty());
}

// --- Sample files ------------------------------------------------------------

std::map<std::string, int> countTypes(const X3DScene& scene) {
    std::map<std::string, int> counts;
    forEachX3DNode(scene, [&](const X3DNode& n) { ++counts[n.type]; });
    return counts;
}

TEST(X3DSceneTest, ComputerKeyboardSampleIsExtrusionsInstancedThroughUse) {
    auto scene = load(kAssimpX3D + "ComputerKeyboard.x3d");
    ASSERT_TRUE(scene);
    auto types = countTypes(*scene);
    EXPECT_EQ(types["Extrusion"], 3);
    EXPECT_EQ(types["ROUTE"], 3);
    EXPECT_EQ(types["TouchSensor"], 1);
    EXPECT_EQ(types.count("IndexedFaceSet"), 0u);

    const X3DNode* escape = nullptr;
    int usesOfEscape = 0, usesOfRow = 0;
    forEachX3DNode(*scene, [&](const X3DNode& n) {
        if (n.def == "EscapeButton") escape = &n;
        if (n.use && n.use->def == "EscapeButton") ++usesOfEscape;
        if (n.use && n.use->def == "row") ++usesOfRow;
    });
    ASSERT_TRUE(escape);
    EXPECT_EQ(escape->type, "Transform");
    EXPECT_NEAR(escape->translation.z, -0.065, 1e-12);
    EXPECT_NEAR(escape->rotation.angle, -1.571, 1e-12);
    EXPECT_EQ(usesOfEscape, 57);
    EXPECT_EQ(usesOfRow, 2);

    // Every key is an Extrusion: the row of 20 keys is used twice more, so
    // the keyboard body, 98 keys and the space bar make 100 instances and no
    // triangles come from indexed sets.
    auto c = collect(*scene);
    EXPECT_TRUE(c.mesh.triangles.empty());
    EXPECT_EQ(c.report.unsupportedGeometry, (std::map<std::string, uint64_t>{{"Extrusion", 100}}));
}

TEST(X3DSceneTest, HelloX3dTrademarkSampleHoldsSphereAndTextOnly) {
    auto scene = load(kAssimpX3D + "HelloX3dTrademark.x3d");
    ASSERT_TRUE(scene);
    auto types = countTypes(*scene);
    for (const char* t : {"WorldInfo", "Viewpoint", "Group", "ImageTexture", "Sphere", "Material", "Text",
                          "FontStyle", "TimeSensor", "OrientationInterpolator"})
        EXPECT_EQ(types[t], 1) << t;
    EXPECT_EQ(types["Transform"], 2);
    EXPECT_EQ(types["Shape"], 2);
    EXPECT_EQ(types["Appearance"], 2);
    EXPECT_EQ(types["ROUTE"], 2);
    EXPECT_EQ(types.count("head"), 0u) << "only the Scene is walked";

    const X3DNode* satellite = nullptr;
    forEachX3DNode(*scene, [&](const X3DNode& n) {
        if (n.def == "SimpleGeoStationarySatellite") satellite = &n;
    });
    ASSERT_TRUE(satellite);
    EXPECT_EQ(satellite->scale, Vec3d(0.1, 0.3, 0.1));
    EXPECT_EQ(satellite->translation, Vec3d(0, 0, 4));

    auto c = collect(*scene);
    EXPECT_TRUE(c.mesh.points.empty());
    EXPECT_EQ(c.report.unsupportedGeometry, (std::map<std::string, uint64_t>{{"Sphere", 1}, {"Text", 1}}));
}

} // namespace
