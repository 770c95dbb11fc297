// The morva command line as a user runs it: exit status, what goes to
// standard output and what to standard error.

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {
struct ToolRun {
    int status;
    std::string out, err;
};

// In the given working directory, else in this one.
ToolRun runMorva(const std::string& arguments, const std::string& folder = "") {
    const std::string outPath = tempPath("morva.out"), errPath = tempPath("morva.err");
    const std::string command = (folder.empty() ? "" : "cd '" + folder + "' && ") + "'" + MORVA_TOOL_PATH + "' " +
                                arguments + " >'" + outPath + "' 2>'" + errPath + "'";
    int raw = std::system(command.c_str());
    auto text = [](const std::string& path) {
        std::vector<uint8_t> b = readBytes(path);
        return std::string(b.begin(), b.end());
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text(outPath), text(errPath)};
}

// The value after "label: " on its own line of the summary.
std::string summaryValue(std::string out, const std::string& label) {
    out.insert(0, "\n");
    size_t at = out.find("\n" + label + ": ");
    if (at == std::string::npos) return "<missing>";
    at += label.size() + 3;
    return out.substr(at, out.find('\n', at) - at);
}
bool isPng(const std::string& path) {
    const std::vector<uint8_t> b = readBytes(path);
    return b.size() > 8 && std::string(b.begin() + 1, b.begin() + 4) == "PNG";
}

// A copy of the sample hierarchy in the temporary directory, where its side
// files may be written.
std::string sampleCopy(const std::string& name) {
    const std::string mvh = tempPath(name);
    writeBytes(mvh, readBytes(testDataPath("icosphere2.mvh")));
    return mvh;
}
} // namespace

TEST(MorvaTool, HelpAndInfoSummariseTheSampleHierarchy) {
    ToolRun r = runMorva("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info FILE.mvh"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
    for (const char* command : {"import", "info", "build", "sidefiles", "scene", "render", "bench", "glinfo"}) {
        r = runMorva(std::string(command) + " --help");
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind("usage: morva " + std::string(command), 0), 0u) << r.out;
        EXPECT_NE(r.out.find("example:\n    morva " + std::string(command)), std::string::npos) << r.out;
    }

    // The summary alone by default; --verbose adds the steps' lines on
    // standard error and leaves the summary as it was.
    r = runMorva("info '" + testDataPath("icosphere2.mvh") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const ToolRun verbose = runMorva("info -v '" + testDataPath("icosphere2.mvh") + "'");
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out, r.out);
    EXPECT_GT(std::count(verbose.err.begin(), verbose.err.end(), '\n'), 20);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 9) << r.out;
    // Depth 2 over the icosahedron: 10 * 4^2 + 2 vertices; 20 + 80 + 320
    // triangles; drain, source, 20 + 80 refining nodes; 20 + 80 * 1 + 20 * 4
    // arcs; a root surfel and one per refining node; layers source, two
    // levels, drain.
    const std::pair<const char*, const char*> expected[] = {{"vertices", "162"}, {"triangles", "420"}, {"surfels", "101"},
                                                            {"nodes", "102"},    {"arcs", "180"},      {"source nodes", "1"},
                                                            {"layers", "4"},     {"key frames", "1"}};
    for (const auto& [label, value] : expected) EXPECT_EQ(summaryValue(r.out, label), value) << label;
    float x, y, z, radius;
    ASSERT_EQ(std::sscanf(summaryValue(r.out, "bounding sphere").c_str(), "%f %f %f %f", &x, &y, &z, &radius), 4);
    EXPECT_LT(std::abs(x) + std::abs(y) + std::abs(z), 1e-4); // about the origin
    EXPECT_GT(radius, 1.0f); // node spheres bulge past the unit sphere
    EXPECT_LT(radius, 2.0f);

    r = runMorva("info '" + testDataPath("icosphere1-keyframes3.mvh") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summaryValue(r.out, "key frames"), "3");
}

TEST(MorvaTool, ImportSummarisesTheRepairedMesh) {
    ToolRun r = runMorva("import /usr/share/assimp/models/3DS/cubes_with_alpha.3DS");
    ASSERT_EQ(r.status, 0) << r.err;
    // Five closed cubes, their corners shared per cube.
    const std::pair<const char*, const char*> expected[] = {
        {"vertices", "40"}, {"triangles", "60"}, {"parts", "5"}, {"border edges", "0"}};
    for (const auto& [label, value] : expected) EXPECT_EQ(summaryValue(r.out, label), value) << label;

    ToolRun open = runMorva("import /usr/share/assimp/models/PLY/float-color.ply");
    ASSERT_EQ(open.status, 0) << open.err;
    EXPECT_EQ(summaryValue(open.out, "border edges"), "3"); // a lone triangle
}

// In a headless Mesa context: the driver, the extensions and every program of
// both shader sets. GLSL sources that are missing fail their programs,
// named; exit status 1. (The assembly stages of the view set, missing too,
// only print that they have no code.)
TEST(MorvaTool, GlinfoCompilesEveryProgramOrNamesTheFailedOnes) {
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

    r = runMorva("glinfo --shaders '" + tempPath("no-shaders") + "'");
    EXPECT_EQ(r.status, 1);
    for (const char* program : {"view gouraud", "instance triangle"})
        EXPECT_EQ(summaryValue(r.out, program), "shader/glsl/GouraudVert.txt did not compile: no code available");
}

// A scanned mesh to a hierarchy file that `morva info` then reads, with the
// summary block at the end of the output.
TEST(MorvaTool, BuildMakesAReadableHierarchy) {
    MORVA_SKIP_WITHOUT_DRAGON();
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
    // No terminal: no progress line on standard error.
    EXPECT_EQ(r.err.find('\r'), std::string::npos);

    ToolRun info = runMorva("info '" + out + "'");
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* label : {"vertices", "triangles", "nodes", "arcs", "source nodes", "surfels"})
        EXPECT_EQ(summaryValue(info.out, label), summaryValue(r.out, label)) << label;
}

// The side files of a hierarchy: made on the first run, reused on the
// second, and dumped as pictures on request.
TEST(MorvaTool, SidefilesMakesThenReusesAndDumps) {
    const std::string mvh = sampleCopy("sidefiles.mvh");
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
    for (const char* name : {"/atlas0-front.png", "/atlas0-back-depth.png"}) EXPECT_TRUE(isPng(dump + name)) << name;
    EXPECT_FALSE(readBytes(dump + "/atlas" + std::to_string(atlases - 1) + "-back.png").empty());
}

// One headless frame: the finest cut draws every triangle of the input, the
// selected cut far fewer, and the picture is written.
TEST(MorvaTool, RenderDrawsTheCutOrTheFinestLevel) {
    const std::string mvh = sampleCopy("render.mvh");
    const std::string png = tempPath("frame.png");
    ToolRun full = runMorva("render '" + mvh + "' -o '" + png + "' --full --size 64x48");
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(summaryValue(full.out, "triangles"), "320"); // the sphere's finest level
    EXPECT_EQ(summaryValue("\n" + full.out, "impostors"), "0"); // the first line
    EXPECT_TRUE(isPng(png));
    ToolRun cut = runMorva("render '" + mvh + "' -o '" + png + "' --error 4 --eye 0,0,30");
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_LT(std::stoul(summaryValue(cut.out, "triangles")), 320u);
}

// The distance sweep: 100 frames from distance 1 to 30, one line each, the
// selected cut never more than the finest level and coarser far away than
// near; the finest level is the same at every distance.
TEST(MorvaTool, BenchSweepsTheDistanceFrom1To30) {
    const std::string mvh = sampleCopy("bench.mvh");
    const ToolRun full = runMorva("bench '" + mvh + "' --full --size 64x64");
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(summaryValue(full.out, "median triangles"), "320");
    const ToolRun r = runMorva("bench '" + mvh + "' --error 4 --size 64x64");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::vector<double>> rows; // distance, impostors, triangles, milliseconds
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line); // the header
    while (std::getline(lines, line) && line.rfind("median", 0) != 0) {
        std::istringstream fields(line);
        rows.emplace_back(4, -1);
        for (double& v : rows.back()) fields >> v;
    }
    ASSERT_EQ(rows.size(), 100u) << r.out;
    EXPECT_DOUBLE_EQ(rows.front()[0], 1.0);
    EXPECT_DOUBLE_EQ(rows.back()[0], 30.0);
    for (const auto& row : rows) EXPECT_LE(row[2], 320) << row[0];
    EXPECT_LT(rows.back()[1] + rows.back()[2], rows.front()[1] + rows.front()[2]);
}

// A camera path replayed headless, one frame per entry, over a hierarchy and
// over the generated scene: the statistics file in the working directory and
// the plot; a file that is no path is refused.
TEST(MorvaTool, BenchReplaysACameraPath) {
    const std::string mvh = sampleCopy("path.mvh");
    std::string path = "VWalkPath\nRepeat?:\nfalse\nreference orientation:\n1 0 0\n0 1 0\n0 0 1\n"
                       "number of entries:\n3\nentries:\n";
    for (const char* z : {"6", "4", "2"})
        path += std::string("---------------\n0\n2\n0 0 ") + z + "\n0 0 -1\n0 1 0\n";
    writeBytes(tempPath("path.txt"), std::vector<uint8_t>(path.begin(), path.end()));
    const std::string folder = std::filesystem::path(tempPath("path.txt")).parent_path().string();
    std::filesystem::remove(folder + "/TestPathFPS.txt");
    const ToolRun run = runMorva("bench --path '" + tempPath("path.txt") + "' '" + mvh + "' --full --size 64x64 --plot '" +
                                 tempPath("path.png") + "'", folder);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(summaryValue(run.out, "median triangles"), "320");
    const std::vector<uint8_t> report = readBytes(folder + "/TestPathFPS.txt");
    EXPECT_EQ(std::string(report.begin(), report.end()).rfind("Anzahl(n): 3\n", 0), 0u);
    EXPECT_TRUE(isPng(tempPath("path.png")));

    // Over the generated scene (its content where the build finds it).
    const ToolRun scene = runMorva("scene 3 -o '" + tempPath("generated.scn") + "'");
    ASSERT_EQ(scene.status, 0) << scene.err;
    std::filesystem::remove(folder + "/TestPathFPS.txt");
    const ToolRun flight = runMorva("bench --path '" + tempPath("path.txt") + "' --scene '" + tempPath("generated.scn") +
                                    "' --size 64x64 --cache 16", folder);
    ASSERT_EQ(flight.status, 0) << flight.err;
    EXPECT_EQ(summaryValue("\n" + flight.out, "frames"), "3"); // the first line
    EXPECT_TRUE(std::filesystem::exists(folder + "/TestPathFPS.txt"));
    const ToolRun refused = runMorva("bench --path '" + mvh + "' '" + mvh + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("is no camera path"), std::string::npos) << refused.err;
}

// Copies through the instance manager: the picture of the grid, and the
// bench's two medians, its copy nearest the camera first.
TEST(MorvaTool, InstancesAreDrawnThroughTheInstanceManager) {
    const std::string mvh = sampleCopy("instances.mvh");
    const std::string png = tempPath("instances.png");
    const ToolRun render = runMorva("render '" + mvh + "' -o '" + png + "' --instances 9 --size 64x48");
    ASSERT_EQ(render.status, 0) << render.err;
    EXPECT_EQ(summaryValue("\n" + render.out, "instances"), "9");
    EXPECT_TRUE(isPng(png));
    const ToolRun bench = runMorva("bench '" + mvh + "' --instances 9 --size 64x48");
    ASSERT_EQ(bench.status, 0) << bench.err;
    std::istringstream lines(bench.out);
    std::string header;
    std::getline(lines, header);
    double one[4] = {}, all[4] = {}; // instances, impostors, triangles, milliseconds
    for (double& v : one) lines >> v;
    for (double& v : all) lines >> v;
    EXPECT_EQ(one[0], 1);
    EXPECT_EQ(all[0], 9);
    EXPECT_GT(all[1] + all[2], one[1] + one[2]) << bench.out;
}

// Whatever is refused says why on standard error, prints no summary and
// exits with status 1, or with 2 and the command's usage when the command
// line itself was wrong.
TEST(MorvaTool, RefusalsSayWhyAndExitWithOneOrWithTwoForTheCommandLine) {
    const std::string sample = "'" + testDataPath("icosphere2.mvh") + "'";
    const std::string dragon = "'" + std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res4.ply' ";
    std::vector<uint8_t> bytes = readBytes(testDataPath("icosphere2.mvh"));
    bytes.pop_back();
    writeBytes(tempPath("cut.mvh"), bytes);
    writeBytes(tempPath("existing.mvh"), {1, 2, 3});
    writeBytes(tempPath("read-only.mvh"), {1});
    chmod(tempPath("read-only.mvh").c_str(), 0444);
    struct Case {
        std::string args, expected;
        int status;
    };
    const Case cases[] = {
        {"", "usage: morva COMMAND", 2}, {"frobnicate", "unknown command 'frobnicate'", 2},
        {"info", "usage: morva info FILE.mvh", 2}, {"info a.mvh b.mvh", "usage: morva info", 2},
        // A missing file is one line.
        {"info '" + tempPath("nothing-here.mvh") + "'", "cannot open", 1},
        {"info '" + tempPath("cut.mvh") + "'", "arc 179: unexpected end of file", 1},
        {"import /usr/share/assimp/models/PLY/issue623.ply", "morva: cannot import", 1},
        // An existing output stays unless --force.
        {"build " + dragon + "'" + tempPath("existing.mvh") + "'", "already exists", 1},
        // A read-only output is refused before the mesh is read: the missing
        // input is never looked at.
        {"build '" + tempPath("no-such-mesh.ply") + "' '" + tempPath("read-only.mvh") + "' --force", "is read-only!", 1},
        {"build '" + tempPath("no-such-mesh.ply") + "' '" + tempPath("never.mvh") + "'", "Error importing file", 1},
        {"build a.ply", "usage: morva build", 2}, {"build a.ply b.mvh --patch-size 0", "--patch-size takes", 2},
        {"build a.ply b.mvh --max-error x", "--max-error takes", 2},
        {"build a.ply b.mvh --frobnicate", "unknown option '--frobnicate'", 2},
        {"render " + sample, "usage: morva render", 2}, // no output named
        {"render " + sample + " -o x.png --instances 0", "--instances takes", 2},
        // A scene file that is none: the reader's reason, no picture.
        {"render --scene " + sample + " -o '" + tempPath("scene.png") + "'", "cannot draw the scene", 1},
        {"bench " + sample + " -o x.png", "usage: morva bench", 2},
        {"bench " + sample + " --eye 0,0,0", "--eye must differ", 2},
    };
    for (const Case& c : cases) {
        const ToolRun r = runMorva(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err.rfind("morva: ", 0), 0u) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.args << ": " << r.err;
        if (c.status == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << ": " << r.err;
        }
        EXPECT_TRUE(r.out.empty()) << c.args << ": " << r.out;
    }
    EXPECT_EQ(readBytes(tempPath("existing.mvh")).size(), 3u);
}
