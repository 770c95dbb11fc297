#include "X3DScene.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace {

const std::string kAssimpX3D = std::string(MORVA_ASSIMP_MODELS_DIR) + "/X3D/";

std::string writeText(const std::string& name, const std::string& text) {
    std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// A complete X3D document around the given Scene content (which starts on line 4).
std::string document(const std::string& scene) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<X3D profile='Interchange' version='3.3'>\n<Scene>\n" + scene +
           "\n</Scene>\n</X3D>\n";
}

std::string writeScene(const std::string& name, const std::string& scene) { return writeText(name, document(scene)); }

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
        for (uint32_t v : t) EXPECT_LT(v, c.mesh.points.size());
    return c;
}

Collected collectScene(const std::string& scene) {
    auto loaded = load(writeScene("collect.x3d", scene));
    return loaded ? collect(*loaded) : Collected{};
}

void expectPoint(const Vec3f& p, const Vec3f& expected) {
    EXPECT_NEAR(p.x, expected.x, 1e-5);
    EXPECT_NEAR(p.y, expected.y, 1e-5);
    EXPECT_NEAR(p.z, expected.z, 1e-5);
}

using Tri = std::array<uint32_t, 3>;

// One triangle with corners at the origin, (1,0,0) and (0,1,0).
const std::string kTriangleSet =
    "<IndexedFaceSet coordIndex='0 1 2'><Coordinate point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet>";
const std::string kTriangleShape = "<Shape>" + kTriangleSet + "</Shape>";
const std::string kSquarePoints = "<Coordinate point='0 0 0 1 0 0 1 1 0 0 1 0'/>";

std::string shapeAt(int x) {
    return "<Transform translation='" + std::to_string(x) + " 0 0'>" + kTriangleShape + "</Transform>";
}

// A set of one point, placed by the transforms around it.
std::string placed(const std::string& open, const std::string& point, const std::string& close) {
    return open + "<Shape><IndexedFaceSet><Coordinate point='" + point + "'/></IndexedFaceSet></Shape>" + close;
}

//  3---2
//  |  /|     the square: one quad, fanned from corner 0
//  | / |
//  0---1
TEST(X3DSceneTest, ScenesBecomeTrianglesAndPlacedPoints) {
    struct Case {
        const char* what;
        std::string scene;
        std::vector<Tri> triangles;
        uint64_t skippedFaces;
        size_t points;
        std::vector<std::pair<uint32_t, Vec3f>> at;
    };
    const Case cases[] = {
        {"quad fanned from its first corner",
         "<Shape><IndexedFaceSet coordIndex='0 1 2 3 -1'>" + kSquarePoints + "</IndexedFaceSet></Shape>",
         {{0, 1, 2}, {0, 2, 3}}, 0, 4, {{2, {1, 1, 0}}}},
        {"last polygon without a closing separator",
         "<Shape><IndexedFaceSet coordIndex='0 1 2 -1 0 2 3'>" + kSquarePoints + "</IndexedFaceSet></Shape>",
         {{0, 1, 2}, {0, 2, 3}}, 0, 4, {}},
        // Two corners; index 9 past the four points; index -5; an empty run
        // from the doubled -1, which is no polygon; then one good triangle.
        {"short and out-of-range polygons skipped",
         "<Shape><IndexedFaceSet coordIndex='0 1 -1 0 1 9 -1 0 -5 2 -1 -1 1 2 3 -1'>" + kSquarePoints +
             "</IndexedFaceSet></Shape>",
         {{1, 2, 3}}, 3, 4, {}},
        // The trailing 0 is an incomplete group; 7 is out of range.
        {"triangle set after an earlier shape's points",
         kTriangleShape + "<Shape><IndexedTriangleSet index='0 1 2 2 1 3 0 1 7 0'>"
                          "<Coordinate point='5 0 0 6 0 0 5 1 0 6 1 0'/></IndexedTriangleSet></Shape>",
         {{0, 1, 2}, {3, 4, 5}, {5, 4, 6}}, 2, 7, {{3, {5, 0, 0}}}},
        // Clockwise, mirrored, and both: the mirrored triangle still faces +z.
        {"clockwise and mirrored sets turned counter-clockwise",
         "<Shape><IndexedFaceSet ccw='false' coordIndex='0 1 2'><Coordinate point='0 0 0 1 0 0 0 1 0'/>"
         "</IndexedFaceSet></Shape><Transform scale='-1 1 1'>" + kTriangleShape + "</Transform>"
         "<Transform scale='-1 1 1'><Shape><IndexedFaceSet ccw='false' coordIndex='0 1 2'>"
         "<Coordinate point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet></Shape></Transform>",
         {{0, 2, 1}, {3, 5, 4}, {6, 7, 8}}, 0, 9, {{4, {-1, 0, 0}}}},
        {"commas and any whitespace separate numbers",
         "<Shape><IndexedFaceSet coordIndex='0,1 ,2,\t-1,'><Coordinate point='0,0,0,  1\n0 0,\r\n\t+1.5e0, .25, -2.'/>"
         "</IndexedFaceSet></Shape>",
         {{0, 1, 2}}, 0, 3, {{1, {1, 0, 0}}, {2, {1.5f, 0.25f, -2}}}},
        // (1,1,1) scaled (2,3,4), turned 90 degrees about z (the axis need not
        // be unit length), moved by (1,2,3).
        {"scale, then rotation, then translation",
         placed("<Transform translation='1 2 3' rotation='0 0 2 1.5707963268' scale='2 3 4'>", "1 1 1", "</Transform>"),
         {}, 0, 1, {{0, {-2, 4, 7}}}},
        {"rotation about the centre",
         placed("<Transform center='1 0 0' rotation='0 0 1 1.5707963268'>", "2 0 0", "</Transform>"), {}, 0, 1,
         {{0, {1, 1, 0}}}},
        // Stretching x2 along the diagonal: (1,0,0) = 0.5 (1,1,0) + 0.5 (1,-1,0)
        // becomes (1,1,0) + 0.5 (1,-1,0).
        {"scale along the scale orientation",
         placed("<Transform scale='2 1 1' scaleOrientation='0 0 1 0.7853981634'>", "1 0 0", "</Transform>"), {}, 0,
         1, {{0, {1.5f, 0.5f, 0}}}},
        {"nested transforms, inner first",
         placed("<Transform translation='10 0 0' rotation='0 0 1 1.5707963268'><Group><Transform translation='1 0 0'>",
                "1 0 0", "</Transform></Group></Transform>"),
         {}, 0, 1, {{0, {10, 2, 0}}}},
        {"used group and shape instanced under their new transform",
         "<Group DEF='g'><Shape DEF='s'>" + kTriangleSet + "</Shape></Group>"
             "<Transform translation='3 0 0'><Group USE='g'/></Transform>"
             "<Transform translation='0 7 0'><Shape USE='s'/></Transform>",
         {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}, 0, 9, {{4, {4, 0, 0}}, {8, {0, 8, 0}}}},
        {"a used Coordinate shared by a second set under a transform",
         "<Shape><IndexedFaceSet coordIndex='0 1 2'><Coordinate DEF='tri' point='0 0 0 1 0 0 0 1 0'/>"
         "</IndexedFaceSet></Shape><Transform translation='0 0 5'><Shape><IndexedFaceSet coordIndex='2 1 0'>"
         "<Coordinate USE='tri'/></IndexedFaceSet></Shape></Transform>",
         {{0, 1, 2}, {5, 4, 3}}, 0, 6, {{4, {1, 0, 5}}}},
        {"the later DEF of a name wins for later uses",
         "<Coordinate DEF='c' point='1 1 1'/><Coordinate DEF='c' point='2 2 2'/>"
         "<Shape><IndexedFaceSet><Coordinate USE='c'/></IndexedFaceSet></Shape>",
         {}, 0, 1, {{0, {2, 2, 2}}}},
        {"only the finest LOD level and the chosen Switch child",
         "<LOD range='10'><MetadataString/>" + shapeAt(1) + shapeAt(2) + "</LOD><Switch whichChoice='1'>" + shapeAt(3) +
             shapeAt(4) + "</Switch><Switch>" + shapeAt(5) + "</Switch><Switch whichChoice='7'>" + shapeAt(6) +
             "</Switch><ProtoDeclare name='P'><ProtoBody>" + shapeAt(8) + "</ProtoBody></ProtoDeclare>",
         {{0, 1, 2}, {3, 4, 5}}, 0, 6, {{0, {1, 0, 0}}, {3, {4, 0, 0}}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const Collected c = collectScene(k.scene);
        ASSERT_EQ(c.mesh.points.size(), k.points);
        EXPECT_EQ(c.mesh.triangles, k.triangles);
        EXPECT_EQ(c.report.skippedFaces, k.skippedFaces);
        for (const auto& [index, point] : k.at) expectPoint(c.mesh.points[index], point);
    }
}

TEST(X3DSceneTest, SetWithoutCoordinateAndOtherGeometryAreReported) {
    auto c = collectScene("<Shape><Appearance/><Sphere/></Shape><Shape><IndexedFaceSet coordIndex='0 1 2'/></Shape>"
                          "<Shape><Box/></Shape><Shape><Sphere/></Shape>");
    EXPECT_TRUE(c.mesh.points.empty());
    EXPECT_EQ(c.report.setsWithoutCoordinates, 1u);
    EXPECT_EQ(c.report.unsupportedGeometry, (std::map<std::string, uint64_t>{{"Box", 1}, {"Sphere", 2}}));
}

// A used node refers to its definition instead of copying it; the walk
// visits children before parents in document order, the uses included.
TEST(X3DSceneTest, UseRefersToTheDefinitionAndTheWalkIsPostOrder) {
    auto scene = load(writeScene("walk.x3d", "<Group DEF='g'><Shape><IndexedFaceSet>"
                                             "<Coordinate DEF='tri' point='0 0 0'/></IndexedFaceSet></Shape><Transform/>"
                                             "</Group><!-- not a node -->text<Viewpoint/><Group USE='g'/>"
                                             "<Coordinate USE='tri'/>"));
    ASSERT_TRUE(scene);
    EXPECT_EQ(scene->root->type, "Scene");
    std::vector<std::string> types;
    std::vector<const X3DNode*> coords;
    forEachX3DNode(*scene, [&](const X3DNode& n) {
        types.push_back(n.type + (n.use ? "(USE)" : ""));
        if (n.type == "Coordinate") coords.push_back(&n);
    });
    EXPECT_EQ(types, (std::vector<std::string>{"Coordinate", "IndexedFaceSet", "Shape", "Transform", "Group",
                                               "Viewpoint", "Group(USE)", "Coordinate(USE)"}));
    ASSERT_EQ(coords.size(), 2u);
    EXPECT_EQ(coords[0]->def, "tri");
    EXPECT_EQ(coords[1]->use, coords[0]);
    EXPECT_TRUE(coords[1]->points.empty());
}

// Every refusal names what was wrong; numbers name the token and the line.
TEST(X3DSceneTest, RefusedDocumentsNameTheirFault) {
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<Group>";
    for (int i = 0; i < 200000; ++i) deep += "</Group>";
    // Each level is shallow, but following the USEs nests 3 x 400 deep.
    auto nest = [](const std::string& def, const std::string& inner) {
        std::string s = "<Group DEF='" + def + "'>";
        for (int i = 0; i < 399; ++i) s += "<Group>";
        s += inner;
        for (int i = 0; i < 400; ++i) s += "</Group>";
        return s;
    };
    const std::string malformed = "<X3D><Scene>\n<Group></Shape></Scene></X3D>";
    struct Case {
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {document("<Coordinate point='0 0 0 1 abc 0'/>"), {"\"abc\"", "line 4"}},
        {document("<Coordinate point='0 0 0 1 2x 0'/>"), {"\"2x\"", "line 4"}},
        {document("<Coordinate point='0 0 nan'/>"), {"\"nan\"", "line 4"}},
        {document("<Coordinate point='0 0 1e999'/>"), {"\"1e999\"", "line 4"}},
        {document("<Coordinate point='0 0 +-1'/>"), {"\"+-1\"", "line 4"}},
        {document("<IndexedFaceSet coordIndex='0 1 2.5'/>"), {"\"2.5\"", "line 4"}},
        {document("<IndexedFaceSet coordIndex='0 1 3000000000'/>"), {"\"3000000000\"", "line 4"}},
        {document("<Transform translation='1 2 three'/>"), {"\"three\"", "line 4"}},
        {document("<Switch whichChoice='-'/>"), {"\"-\"", "line 4"}},
        {document("<IndexedFaceSet ccw='maybe'/>"), {"\"maybe\""}},
        {document("<Coordinate point='0 0 0 1'/>"), {"not a multiple of 3"}},
        {document("<Transform translation='1 2'/>"), {"needs 3 numbers"}},
        {document("<Transform rotation='0 1 0'/>"), {"needs 4 numbers"}},
        {document("<Group USE='g'/><Group DEF='g'/>"), {"\"g\" names no earlier"}},
        // A node using itself from inside would make the instancing endless.
        {document("<Group DEF='g'><Group USE='g'/></Group>"), {"names no earlier"}},
        {document("<Group DEF='g'/><Transform USE='g'/>"), {"names a Group"}},
        {document("<Group DEF='g'/><Group DEF='h' USE='g'/>"), {"both DEF and USE"}},
        {malformed,
         {"bad.x3d", "not well-formed XML", "Start-end tags mismatch",
          "byte offset " + std::to_string(malformed.find("Shape>")), "line 2"}},
        {"", {"not well-formed"}},
        {"<X3D><Scene><Group DEF='", {"not well-formed"}},
        {"<?xml version='1.0'?><html><Scene/></html>", {"not an X3D file", "<html>"}},
        {"<X3D><head/></X3D>", {"without a <Scene>"}},
        {document(deep), {"nested deeper than"}},
        {document(nest("a", "") + nest("b", "<Group USE='a'/>") + nest("c", "<Group USE='b'/>")),
         {"USE references followed"}},
    };
    for (const Case& c : cases) {
        const std::string error = loadError(writeText("bad.x3d", c.text));
        for (const std::string& part : c.expected)
            EXPECT_NE(error.find(part), std::string::npos) << "'" << part << "' in: " << error;
    }
    const std::string missing = loadError(tempPath("no-such-file.x3d"));
    EXPECT_NE(missing.find("no-such-file.x3d"), std::string::npos) << missing;
    EXPECT_NE(missing.find("cannot open"), std::string::npos) << missing;
    EXPECT_NE(loadError(tempPath("")).find("cannot open"), std::string::npos) << "a directory";
}

TEST(X3DSceneTest, LongGarbageIsCutShortInTheMessage) {
    std::string garbage(5000, 'x');
    std::string error = loadError(writeScene("longgarbage.x3d", "<Coordinate point='0 0 " + garbage + "'/>"));
    std::string shown = "\""; // built by appending: GCC 12 warns falsely on "\"" + std::string
    shown += garbage.substr(0, 24) + "...\"";
    EXPECT_NE(error.find(shown), std::string::npos) << error;
    EXPECT_LT(error.size(), 200u);
}

// Meshes too big to build are refused while collecting, counting every
// instance, before anything is built; so are points beyond float range.
TEST(X3DSceneTest, CollectingRefusesMeshesBeyondTheLimits) {
    // Ten uses per level over nine levels: 10^9 triangles from a few kilobytes.
    std::string bomb = "<Group DEF='g0'>" + kTriangleShape + "</Group>";
    for (int level = 1; level <= 9; ++level) {
        bomb += "<Group DEF='g" + std::to_string(level) + "'>";
        for (int i = 0; i < 10; ++i) bomb += "<Group USE='g" + std::to_string(level - 1) + "'/>";
        bomb += "</Group>";
    }
    const std::string twice = "<Group DEF='g'>" + kTriangleShape + "</Group><Group USE='g'/>";
    struct Case {
        std::string scene;
        uint64_t limit;
        const char* expected;
    };
    const Case cases[] = {
        {bomb, kX3DMaxMeshElements, "1111111111 triangles"},
        {twice, 5, ""},
        {"<Transform scale='1e30 1 1'><Shape><IndexedFaceSet><CoordinateDouble point='1e20 0 0'/>"
         "</IndexedFaceSet></Shape></Transform>",
         kX3DMaxMeshElements, "float"},
    };
    for (const Case& c : cases) {
        auto loaded = load(writeScene("limit.x3d", c.scene));
        ASSERT_TRUE(loaded);
        X3DMesh mesh;
        X3DMeshReport report;
        std::string error;
        EXPECT_FALSE(collectX3DMesh(*loaded, mesh, report, error, c.limit)) << c.limit;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_TRUE(mesh.points.empty() && mesh.triangles.empty());
    }
    // Six elements: six points, or two triangles and three points.
    auto loaded = load(writeScene("limit.x3d", twice));
    ASSERT_TRUE(loaded);
    X3DMesh mesh;
    X3DMeshReport report;
    std::string error;
    EXPECT_TRUE(collectX3DMesh(*loaded, mesh, report, error, 6)) << error;
    EXPECT_EQ(mesh.triangles.size(), 2u);
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
    for (const char* t : {"Transform", "Shape", "Appearance", "ROUTE"}) EXPECT_EQ(types[t], 2) << t;
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
