// The morva command line as a user runs it: exit status, what goes to
// standard output and what to standard error.

#include "SphereHierarchy.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {
struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun runMorva(const std::string& arguments) {
    const std::string outPath = tempPath("morva.out"), errPath = tempPath("morva.err");
    const std::string command =
        std::string("'") + MORVA_TOOL_PATH + "' " + arguments + " >'" + outPath + "' 2>'" + errPath + "'";
    int raw = std::system(command.c_str());
    auto text = [](const std::string& path) {
        std::vector<uint8_t> b = readBytes(path);
        return std::string(b.begin(), b.end());
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text(outPath), text(errPath)};
}

// The value after "label: " on its own line of the summary.
std::string summaryValue(const std::string& out, const std::string& label) {
    size_t at = out.find("\n" + label + ": ");
    if (at == std::string::npos) return "<missing>";
    at += label.size() + 3;
    return out.substr(at, out.find('\n', at) - at);
}
} // namespace

TEST(MorvaTool, HelpListsTheCommands) {
    ToolRun r = runMorva("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info FILE.mvh"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
}

TEST(MorvaTool, UsageErrorsExitWithOne) {
    for (const char* args : {"", "frobnicate", "info", "info a.mvh b.mvh"}) {
        ToolRun r = runMorva(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("morva: "), std::string::npos) << args;
        EXPECT_NE(r.err.find("usage: morva"), std::string::npos) << args;
    }
}

TEST(MorvaTool, InfoSummarisesTheSampleHierarchy) {
    ToolRun r = runMorva("info '" + testDataPath("icosphere2.mvh") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    // The reader's own progress comes first, the summary after it.
    EXPECT_LT(r.out.find("Update time domain ..."), r.out.find("\nvertices: "));
    // Depth 2 over the icosahedron: 10 * 4^2 + 2 vertices; 20 + 80 + 320
    // triangles; drain, source, 20 + 80 refining nodes; 20 + 80 * 1 + 20 * 4
    // arcs; a root surfel and one per refining node; layers source, two
    // levels, drain.
    EXPECT_EQ(summaryValue(r.out, "vertices"), "162");
    EXPECT_EQ(summaryValue(r.out, "triangles"), "420");
    EXPECT_EQ(summaryValue(r.out, "surfels"), "101");
    EXPECT_EQ(summaryValue(r.out, "nodes"), "102");
    EXPECT_EQ(summaryValue(r.out, "arcs"), "180");
    EXPECT_EQ(summaryValue(r.out, "source nodes"), "1");
    EXPECT_EQ(summaryValue(r.out, "layers"), "4");
    EXPECT_EQ(summaryValue(r.out, "key frames"), "1");
    float x, y, z, radius;
    ASSERT_EQ(std::sscanf(summaryValue(r.out, "bounding sphere").c_str(), "%f %f %f %f", &x, &y, &z, &radius), 4);
    EXPECT_NEAR(x, 0, 1e-4);
    EXPECT_NEAR(y, 0, 1e-4);
    EXPECT_NEAR(z, 0, 1e-4);
    EXPECT_GT(radius, 1.0f); // node spheres bulge past the unit sphere
    EXPECT_LT(radius, 2.0f);
}

TEST(MorvaTool, InfoCountsKeyFrames) {
    ToolRun r = runMorva("info '" + testDataPath("icosphere1-keyframes3.mvh") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summaryValue(r.out, "key frames"), "3");
}

TEST(MorvaTool, InfoRefusesMissingAndDamagedFiles) {
    ToolRun missing = runMorva("info '" + tempPath("nothing-here.mvh") + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out.find("vertices: "), std::string::npos);

    std::vector<uint8_t> bytes = readBytes(testDataPath("icosphere2.mvh"));
    bytes.resize(bytes.size() - 1);
    const std::string cut = tempPath("cut.mvh");
    writeBytes(cut, bytes);
    ToolRun damaged = runMorva("info '" + cut + "'");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("arc 179: unexpected end of file"), std::string::npos) << damaged.err;
    EXPECT_EQ(damaged.out.find("vertices: "), std::string::npos);

    const std::string text = tempPath("text.mvh");
    std::ofstream(text) << "ply\nformat ascii 1.0\n";
    ToolRun wrong = runMorva("info '" + text + "'");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("not a hierarchy file"), std::string::npos) << wrong.err;
}

TEST(MorvaTool, ImportSummarisesTheRepairedMesh) {
    ToolRun r = runMorva("import /usr/share/assimp/models/3DS/cubes_with_alpha.3DS");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.out.find("check polygon normals"), r.out.find("\nvertices: "));
    // Five closed cubes, their corners shared per cube.
    EXPECT_EQ(summaryValue(r.out, "vertices"), "40");
    EXPECT_EQ(summaryValue(r.out, "triangles"), "60");
    EXPECT_EQ(summaryValue(r.out, "parts"), "5");
    EXPECT_EQ(summaryValue(r.out, "border edges"), "0");

    ToolRun open = runMorva("import /usr/share/assimp/models/PLY/float-color.ply");
    ASSERT_EQ(open.status, 0) << open.err;
    EXPECT_EQ(summaryValue(open.out, "border edges"), "3"); // a lone triangle
}

TEST(MorvaTool, ImportRefusesWhatItCannotRead) {
    ToolRun refused = runMorva("import /usr/share/assimp/models/PLY/issue623.ply");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("morva: cannot import"), std::string::npos);
    EXPECT_NE(refused.err.find("Unsupported vertex property"), std::string::npos);
    EXPECT_EQ(refused.out.find("vertices: "), std::string::npos);

    ToolRun wrl = runMorva("import /usr/share/assimp/models/WRL/Wuson.wrl");
    EXPECT_EQ(wrl.status, 1);
    EXPECT_NE(wrl.err.find("unsupported file type .wrl"), std::string::npos);
}

// In a headless Mesa context: the driver, the extensions and every program of
// both shader sets.
TEST(MorvaTool, GlinfoCompilesEveryProgram) {
    ToolRun r = runMorva("glinfo");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(summaryValue(r.out, "renderer").rfind("llvmpipe", 0), 0u) << r.out;
    EXPECT_EQ(summaryValue(r.out, "GL_EXT_framebuffer_object"), "yes");
    EXPECT_EQ(summaryValue(r.out, "GL_ARB_shader_objects"), "yes");
    EXPECT_EQ(summaryValue(r.out, "mUseATI"), "true");
    for (const char* program : {"view billboard", "view billboard with quantization", "view background", "view line",
                                "view terrain", "view wireframe", "view gouraud", "instance billboard",
                                "instance wireframe for billboards", "instance wireframe", "instance triangle"})
        EXPECT_EQ(summaryValue(r.out, program), "ok") << program;
    // The loader's extension listing stays out of the summary.
    EXPECT_EQ(r.out.find("ARB Extensions:"), std::string::npos);
}

// GLSL sources that are missing fail their programs, named; exit status 1.
// (The assembly stages of the view set, missing too, only print that they
// have no code.)
TEST(MorvaTool, GlinfoFailsOnMissingShaderSources) {
    ToolRun r = runMorva("glinfo --shaders '" + tempPath("no-shaders") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(summaryValue(r.out, "view gouraud"),
              "shader/glsl/GouraudVert.txt did not compile: no code available");
    EXPECT_EQ(summaryValue(r.out, "instance triangle"),
              "shader/glsl/GouraudVert.txt did not compile: no code available");
}

// A scanned mesh to a hierarchy file that `morva info` then reads, with the
// summary block at the end of the output.
TEST(MorvaTool, BuildMakesAReadableHierarchy) {
    const std::string out = tempPath("dragon-built.mvh");
    std::remove(out.c_str());
    ToolRun r = runMorva("build '" + std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res4.ply' '" + out +
                         "' --patch-size 16");
    ASSERT_EQ(r.status, 0) << r.err;
    // The repaired mesh, as `morva import` counts it.
    ToolRun imported = runMorva("import '" + std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res4.ply'");
    EXPECT_EQ(summaryValue(r.out, "input triangles"), summaryValue(imported.out, "triangles"));
    const std::string surfels = summaryValue(r.out, "surfels");
    EXPECT_GT(std::stoul(surfels), 1u);
    EXPECT_NE(r.out.find("create surfel/stripe hierarchy"), std::string::npos);
    EXPECT_NE(r.out.find("TRANSLATE: ["), std::string::npos);
    // No terminal: no progress line on standard error.
    EXPECT_EQ(r.err.find('\r'), std::string::npos);

    ToolRun info = runMorva("info '" + out + "'");
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* label : {"vertices", "triangles", "nodes", "arcs", "source nodes", "surfels"})
        EXPECT_EQ(summaryValue(info.out, label), summaryValue(r.out, label)) << label;
}

TEST(MorvaTool, BuildRefusesWhatItMustNotDo) {
    const std::string mesh = std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res4.ply";
    const std::string existing = tempPath("existing.mvh");
    writeBytes(existing, {1, 2, 3});
    // An existing output stays unless --force.
    ToolRun kept = runMorva("build '" + mesh + "' '" + existing + "'");
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("already exists"), std::string::npos) << kept.err;
    EXPECT_EQ(readBytes(existing).size(), 3u);
    // A read-only output is refused before the mesh is read: the missing
    // input is never looked at.
    const std::string readOnly = tempPath("read-only.mvh");
    writeBytes(readOnly, {1});
    chmod(readOnly.c_str(), 0444);
    ToolRun refused = runMorva("build '" + tempPath("no-such-mesh.ply") + "' '" + readOnly + "' --force");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("is read-only!"), std::string::npos) << refused.err;
    // A mesh that cannot be imported.
    ToolRun missing = runMorva("build '" + tempPath("no-such-mesh.ply") + "' '" + tempPath("never.mvh") + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Error importing file"), std::string::npos) << missing.err;
    // Arguments.
    for (const char* args : {"build", "build a.ply", "build a.ply b.mvh --patch-size 0", "build a.ply b.mvh --max-error x",
                             "build a.ply b.mvh --frobnicate"}) {
        ToolRun r = runMorva(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("usage: morva"), std::string::npos) << args;
    }
}

// The side files of a hierarchy: made on the first run, reused on the
// second, and dumped as pictures on request.
TEST(MorvaTool, SidefilesMakesThenReusesAndDumps) {
    const std::string mvh = tempPath("sidefiles.mvh");
    writeBytes(mvh, readBytes(testDataPath("icosphere2.mvh")));
    std::remove(tempPath("sidefiles.mv2").c_str());
    ToolRun first = runMorva("sidefiles '" + mvh + "'");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(summaryValue(first.out, "created"), "yes");
    EXPECT_EQ(summaryValue(first.out, "impostors"), "101");
    EXPECT_EQ(std::to_string(readBytes(tempPath("sidefiles.mv2")).size()), summaryValue(first.out, "mv2 bytes"));
    const std::string dump = tempPath("dump");
    ToolRun second = runMorva("sidefiles '" + mvh + "' --dump '" + dump + "'");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(summaryValue(second.out, "created"), "no");
    const int atlases = std::stoi(summaryValue(second.out, "atlases"));
    for (const char* name : {"/atlas0-front.png", "/atlas0-back-depth.png"}) {
        const std::vector<uint8_t> png = readBytes(dump + name);
        ASSERT_GT(png.size(), 8u) << name;
        EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG") << name;
    }
    EXPECT_FALSE(readBytes(dump + "/atlas" + std::to_string(atlases - 1) + "-back.png").empty());
    ToolRun missing = runMorva("sidefiles '" + tempPath("none.mvh") + "'");
    EXPECT_EQ(missing.status, 1);
}

// One headless frame: the finest cut draws every triangle of the input, the
// selected cut far fewer, and the picture is written.
TEST(MorvaTool, RenderDrawsTheCutOrTheFinestLevel) {
    const std::string mvh = tempPath("render.mvh");
    writeBytes(mvh, readBytes(testDataPath("icosphere2.mvh")));
    const std::string png = tempPath("frame.png");
    ToolRun full = runMorva("render '" + mvh + "' -o '" + png + "' --full --size 64x48");
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(summaryValue(full.out, "triangles"), "320"); // the sphere's finest level
    EXPECT_EQ(summaryValue("\n" + full.out, "impostors"), "0"); // the first line
    const std::vector<uint8_t> picture = readBytes(png);
    ASSERT_GT(picture.size(), 8u);
    EXPECT_EQ(std::string(picture.begin() + 1, picture.begin() + 4), "PNG");
    ToolRun cut = runMorva("render '" + mvh + "' -o '" + png + "' --error 4 --eye 0,0,30");
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_LT(std::stoul(summaryValue(cut.out, "triangles")), 320u);
    EXPECT_EQ(runMorva("render '" + mvh + "'").status, 1); // no output named
}

// The distance sweep: 100 frames from distance 1 to 30, one line each, the
// finest level the same at every distance, the selected cut never more than
// it and coarser far away than near.
TEST(MorvaTool, BenchSweepsTheDistanceFrom1To30) {
    const std::string mvh = tempPath("bench.mvh");
    writeBytes(mvh, readBytes(testDataPath("icosphere2.mvh")));
    auto frames = [](const std::string& out) {
        std::vector<std::vector<double>> rows;
        std::istringstream lines(out);
        std::string line;
        std::getline(lines, line); // the header
        while (std::getline(lines, line) && line.rfind("median", 0) != 0) {
            std::istringstream fields(line);
            std::vector<double> row(4, -1);
            for (double& v : row) fields >> v;
            rows.push_back(row);
        }
        return rows;
    };
    ToolRun full = runMorva("bench '" + mvh + "' --full --size 64x64");
    ASSERT_EQ(full.status, 0) << full.err;
    const auto fullRows = frames(full.out);
    ASSERT_EQ(fullRows.size(), 100u) << full.out;
    EXPECT_DOUBLE_EQ(fullRows.front()[0], 1.0);
    EXPECT_DOUBLE_EQ(fullRows.back()[0], 30.0);
    for (const auto& row : fullRows) {
        EXPECT_EQ(row[2], 320) << row[0];
        EXPECT_GE(row[3], 0) << row[0];
    }
    EXPECT_EQ(summaryValue(full.out, "median triangles"), "320");

    ToolRun cut = runMorva("bench '" + mvh + "' --error 4 --size 64x64");
    ASSERT_EQ(cut.status, 0) << cut.err;
    const auto cutRows = frames(cut.out);
    ASSERT_EQ(cutRows.size(), 100u);
    for (const auto& row : cutRows) EXPECT_LE(row[2], 320) << row[0];
    EXPECT_LT(cutRows.back()[1] + cutRows.back()[2], cutRows.front()[1] + cutRows.front()[2]);

    EXPECT_EQ(runMorva("bench '" + mvh + "' -o x.png").status, 1);
    EXPECT_EQ(runMorva("bench '" + mvh + "' --eye 0,0,0").status, 1);
    EXPECT_EQ(runMorva("bench '" + tempPath("none.mvh") + "'").status, 1);
}
