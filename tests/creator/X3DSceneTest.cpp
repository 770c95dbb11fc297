// The X3D scene layer: scenes collected into triangles and placed points,
// USE references, refused documents and meshes beyond the
// limits, and two sample files.

#include "X3DScene.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace {
using Tri = std::array<uint32_t, 3>;

// A complete X3D document around the given Scene content (which starts on line 4).
std::string document(const std::string& scene) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<X3D profile='Interchange' version='3.3'>\n<Scene>\n" + scene +
           "\n</Scene>\n</X3D>\n";
}

// Loads the text from a file; the error stays empty on success.
std::unique_ptr<X3DScene> loadText(const std::string& text, std::string& error) {
    const std::string path = tempPath("scene.x3d");
    std::ofstream(path, std::ios::binary) << text;
    auto scene = loadX3DScene(path, error);
    EXPECT_TRUE(!scene || error.empty());
    return scene;
}

// One triangle with corners at the origin, (1,0,0) and (0,1,0).
const std::string kTriangleSet =
    "<IndexedFaceSet coordIndex='0 1 2'><Coordinate point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet>";
const std::string kTriangleShape = "<Shape>" + kTriangleSet + "</Shape>";

std::string shapeAt(int x) {
    return "<Transform translation='" + std::to_string(x) + " 0 0'>" + kTriangleShape + "</Transform>";
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// A set of one point, placed by the transforms around it.
std::string placed(const std::string& open, const std::string& point, const std::string& close) {
    return open + "<Shape><IndexedFaceSet><Coordinate point='" + point + "'/></IndexedFaceSet></Shape>" + close;
}

//  3---2
//  |  /|     the square: one quad, fanned from corner 0
//  | / |
//  0---1
//
// Meshes too big to build, and walks too long to wait for, are refused while
// collecting, counting every instance, before anything is built; so are
// points beyond float range.
TEST(X3DSceneTest, ScenesBecomeTrianglesAndPlacedPointsWithinTheLimits) {
    // Ten uses per level over nine levels: 10^9 instances from a few kilobytes.
    auto bombOf = [](const std::string& content) {
        std::string bomb = "<Group DEF='g0'>" + content + "</Group>";
        for (int level = 1; level <= 9; ++level)
            bomb += "<Group DEF='g" + std::to_string(level) + "'>" +
                    repeat("<Group USE='g" + std::to_string(level - 1) + "'/>", 10) + "</Group>";
        return bomb;
    };
    const std::string twice = "<Group DEF='g'>" + kTriangleShape + "</Group><Group USE='g'/>";
    // 23 steps: the Scene and its 2 children, then twice the group (1 + 1),
    // its shape (1 + 1) and the set (1 + 1 + 4 indices). The polygon's 9 is
    // out of range, so the two points make no triangle.
    const std::string unusable = "<Group DEF='g'><Shape><IndexedFaceSet coordIndex='0 0 0 9'>"
                                 "<Coordinate point='0 0 0'/></IndexedFaceSet></Shape></Group><Group USE='g'/>";
    struct Case {
        const char* what;
        std::string scene;
        std::vector<Tri> triangles;
        uint64_t skippedFaces, setsWithoutCoordinates;
        size_t points;
        std::vector<std::pair<uint32_t, Vec3f>> at;
        uint64_t limit = kX3DMaxMeshElements;
        const char* refusal = nullptr; // part of the message when the mesh is refused
        uint64_t steps = X3DLimits().steps;
    };
    const Case cases[] = {
        // The quad; two corners; index 9 past the four points; index -5; an
        // empty run from the doubled -1, which is no polygon; then a last
        // triangle without a closing separator.
        {"quad fanned, short and out-of-range polygons skipped",
         "<Shape><IndexedFaceSet coordIndex='0 1 2 3 -1 0 1 -1 0 1 9 -1 0 -5 2 -1 -1 1 2 3'>"
         "<Coordinate point='0 0 0 1 0 0 1 1 0 0 1 0'/></IndexedFaceSet></Shape>",
         {{0, 1, 2}, {0, 2, 3}, {1, 2, 3}}, 3, 0, 4, {{2, {1, 1, 0}}}},
        // The trailing 0 is an incomplete group; 7 is out of range.
        {"triangle set after an earlier shape's points",
         kTriangleShape + "<Shape><IndexedTriangleSet index='0 1 2 2 1 3 0 1 7 0'>"
                          "<Coordinate point='5 0 0 6 0 0 5 1 0 6 1 0'/></IndexedTriangleSet></Shape>",
         {{0, 1, 2}, {3, 4, 5}, {5, 4, 6}}, 2, 0, 7, {{3, {5, 0, 0}}}},
        // Clockwise, mirrored, and both: the mirrored triangle still faces +z.
        {"clockwise and mirrored sets turned counter-clockwise",
         "<Shape><IndexedFaceSet ccw='false' coordIndex='0 1 2'><Coordinate point='0 0 0 1 0 0 0 1 0'/>"
         "</IndexedFaceSet></Shape><Transform scale='-1 1 1'>" + kTriangleShape + "</Transform>"
         "<Transform scale='-1 1 1'><Shape><IndexedFaceSet ccw='false' coordIndex='0 1 2'>"
         "<Coordinate point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet></Shape></Transform>",
         {{0, 2, 1}, {3, 5, 4}, {6, 7, 8}}, 0, 0, 9, {{4, {-1, 0, 0}}}},
        {"commas and any whitespace separate numbers",
         "<Shape><IndexedFaceSet coordIndex='0,1 ,2,\t-1,'><Coordinate point='0,0,0,  1\n0 0,\r\n\t+1.5e0, .25, -2.'/>"
         "</IndexedFaceSet></Shape>",
         {{0, 1, 2}}, 0, 0, 3, {{1, {1, 0, 0}}, {2, {1.5f, 0.25f, -2}}}},
        // 0: (1,1,1) scaled (2,3,4), turned 90 degrees about z (the axis need
        // not be unit length), moved by (1,2,3). 1: turned about the centre.
        // 2: stretched x2 along the diagonal, (1,0,0) = 0.5 (1,1,0) + 0.5
        // (1,-1,0) becomes (1,1,0) + 0.5 (1,-1,0). 3: nested, inner first.
        {"transforms: scale, rotation, translation, centre, scale orientation, nesting",
         placed("<Transform translation='1 2 3' rotation='0 0 2 1.5707963268' scale='2 3 4'>", "1 1 1", "</Transform>") +
             placed("<Transform center='1 0 0' rotation='0 0 1 1.5707963268'>", "2 0 0", "</Transform>") +
             placed("<Transform scale='2 1 1' scaleOrientation='0 0 1 0.7853981634'>", "1 0 0", "</Transform>") +
             placed("<Transform translation='10 0 0' rotation='0 0 1 1.5707963268'><Group><Transform translation='1 0 0'>",
                    "1 0 0", "</Transform></Group></Transform>"),
         {}, 0, 0, 4, {{0, {-2, 4, 7}}, {1, {1, 1, 0}}, {2, {1.5f, 0.5f, 0}}, {3, {10, 2, 0}}}},
        // The later of the two shapes named 's' is the one used.
        {"used group and shape instanced under their new transform",
         "<Shape DEF='s'/><Group DEF='g'><Shape DEF='s'>" + kTriangleSet + "</Shape></Group>"
             "<Transform translation='3 0 0'><Group USE='g'/></Transform>"
             "<Transform translation='0 7 0'><Shape USE='s'/></Transform>",
         {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}, 0, 0, 9, {{4, {4, 0, 0}}, {8, {0, 8, 0}}}},
        {"only the finest LOD level and the chosen Switch child",
         "<LOD range='10'><MetadataString/>" + shapeAt(1) + shapeAt(2) + "</LOD><Switch whichChoice='1'>" + shapeAt(3) +
             shapeAt(4) + "</Switch><Switch>" + shapeAt(5) + "</Switch><Switch whichChoice='7'>" + shapeAt(6) +
             "</Switch><ProtoDeclare name='P'><ProtoBody>" + shapeAt(8) + "</ProtoBody></ProtoDeclare>",
         {{0, 1, 2}, {3, 4, 5}}, 0, 0, 6, {{0, {1, 0, 0}}, {3, {4, 0, 0}}}},
        {"a set without coordinates", "<Shape><IndexedFaceSet coordIndex='0 1 2'/></Shape>", {}, 0, 1, 0, {}},
        {"uses beyond the limit", bombOf(kTriangleShape), {}, 0, 0, 0, {}, kX3DMaxMeshElements, "1111111111 triangles"},
        // Nothing made, but more than two billion nodes to walk.
        {"uses of a set without coordinates beyond the step limit",
         bombOf("<Shape><IndexedFaceSet coordIndex='0 1 2'><Coordinat point='0 0 0 1 0 0 0 1 0'/></IndexedFaceSet></Shape>"),
         {}, 0, 0, 0, {}, kX3DMaxMeshElements, "steps"},
        {"unusable indices at the step limit", unusable, {}, 2, 0, 2, {}, kX3DMaxMeshElements, nullptr, 23},
        {"unusable indices beyond the step limit", unusable, {}, 0, 0, 0, {}, kX3DMaxMeshElements, "takes 23 steps", 22},
        // Two triangles and three points: six elements.
        {"a used shape over the limit", twice, {}, 0, 0, 0, {}, 5, ""},
        {"a used shape at the limit", twice, {{0, 1, 2}, {3, 4, 5}}, 0, 0, 6, {}, 6},
        {"points beyond float range",
         "<Transform scale='1e30 1 1'><Shape><IndexedFaceSet><CoordinateDouble point='1e20 0 0'/>"
         "</IndexedFaceSet></Shape></Transform>",
         {}, 0, 0, 0, {}, kX3DMaxMeshElements, "float"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        std::string error;
        const auto scene = loadText(document(k.scene), error);
        ASSERT_TRUE(scene) << error;
        X3DMesh mesh;
        X3DMeshReport report;
        EXPECT_EQ(collectX3DMesh(*scene, mesh, report, error, {k.limit, k.steps}), !k.refusal) << error;
        EXPECT_NE(error.find(k.refusal ? k.refusal : ""), std::string::npos) << error;
        ASSERT_EQ(mesh.points.size(), k.points);
        EXPECT_EQ(mesh.triangles, k.triangles);
        EXPECT_EQ(report.skippedFaces, k.skippedFaces);
        EXPECT_EQ(report.setsWithoutCoordinates, k.setsWithoutCoordinates);
        for (const auto& [index, point] : k.at) EXPECT_LT(length(mesh.points[index] - point), 1e-5) << index;
    }
}

// Every refusal names what was wrong; numbers name the token and the line.
TEST(X3DSceneTest, RefusedDocumentsNameTheirFault) {
    // Each level is shallow, but following the USEs nests 3 x 400 deep.
    auto nest = [](const std::string& def, const std::string& inner) {
        return "<Group DEF='" + def + "'>" + repeat("<Group>", 399) + inner + repeat("</Group>", 400);
    };
    const std::string malformed = "<X3D><Scene>\n<Group></Shape></Scene></X3D>";
    struct Case {
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {document("<Coordinate point='0 0 nan'/>"), {"\"nan\"", "line 4"}},
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
         {"scene.x3d", "not well-formed XML", "Start-end tags mismatch",
          "byte offset " + std::to_string(malformed.find("Shape>")), "line 2"}},
        {"<?xml version='1.0'?><html><Scene/></html>", {"not an X3D file", "<html>"}},
        {"<X3D><head/></X3D>", {"without a <Scene>"}},
        {document(repeat("<Group>", 200000) + repeat("</Group>", 200000)), {"nested deeper than"}},
        {document(nest("a", "") + nest("b", "<Group USE='a'/>") + nest("c", "<Group USE='b'/>")),
         {"USE references followed"}},
        // A long garbage token is cut short in the message.
        {document("<Coordinate point='0 0 " + std::string(5000, 'x') + "'/>"), {"\"xxxxxxxxxxxxxxxxxxxxxxxx...\""}},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(loadText(c.text, error));
        for (const std::string& part : c.expected)
            EXPECT_NE(error.find(part), std::string::npos) << "'" << part << "' in: " << error;
    }
    for (const std::string& path : {tempPath("no-such-file.x3d"), tempPath("")}) { // a file, a directory
        std::string error;
        EXPECT_FALSE(loadX3DScene(path, error));
        EXPECT_EQ(error, path + ": cannot open for reading");
    }
}

// Sample files. The keyboard's keys are Extrusions instanced through USE:
// the row of 20 keys is used twice more, so the body, 98 keys and the space
// bar make 100 instances. The trademark holds a sphere and text. Only the
// Scene is walked, not the head with its meta elements.
TEST(X3DSceneTest, SampleFilesInstanceThroughUseAndReportTheirGeometry) {
    struct Sample {
        const char* name;
        std::map<std::string, int> uses;
        std::map<std::string, uint64_t> geometry;
    };
    const Sample samples[] = {{"ComputerKeyboard.x3d", {{"EscapeButton", 57}, {"row", 2}}, {{"Extrusion", 100}}},
                              {"HelloX3dTrademark.x3d", {}, {{"Sphere", 1}, {"Text", 1}}}};
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.name);
        std::string error;
        auto scene = loadX3DScene(std::string(MORVA_ASSIMP_MODELS_DIR "/X3D/") + sample.name, error);
        ASSERT_TRUE(scene) << error;
        std::map<std::string, int> uses;
        forEachX3DNode(*scene, [&](const X3DNode& n) {
            EXPECT_NE(n.type, "meta");
            if (n.use) ++uses[n.use->def];
        });
        for (const auto& [def, count] : sample.uses) EXPECT_EQ(uses[def], count) << def;
        X3DMesh mesh;
        X3DMeshReport report;
        EXPECT_TRUE(collectX3DMesh(*scene, mesh, report, error)) << error;
        EXPECT_TRUE(mesh.points.empty());
        EXPECT_EQ(report.unsupportedGeometry, sample.geometry);
    }
}
} // namespace
