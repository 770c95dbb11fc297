// The command-line tool: inspects hierarchy files (and, as the pipeline
// grows, builds them). Exit status 0 on success, 1 on failure.

#include "GLCoverageMeasure.h"
#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "HierarchyCreation.h"
#include "LogStream.h"
#include "QuantizedNormal.h"
#include "ShaderSets.h"
#include "FileBytes.h"
#include "HierarchyDrawing.h"
#include "InstanceScene.h"
#include "SceneGeneration.h"
#include "SceneView.h"
#include "VTextureCache.h"
#include "OffscreenView.h"
#include "PathBench.h"
#include "SideFileStep.h"
#include "SideFiles.h"
#include "VConfiguration.h"
#include "VLODObject3D.h"
#include "VObject3D.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <GL/glu.h>
#include <QImage>
#include <unistd.h>

namespace {
const char* kUsage = "usage: morva COMMAND [ARGUMENTS]\n"
                     "\n"
                     "commands:\n"
                     "  import FILE     import and repair a mesh (.ply, .3ds, .x3d) and print a summary\n"
                     "  info FILE.mvh   read a hierarchy file and print a summary of it\n"
                     "  build IN OUT.mvh [--min-error E | --no-min-error] [--max-error E]\n"
                     "                  [--patch-size N] [--force]\n"
                     "                  build a hierarchy from a mesh (defaults: minimum error 0,\n"
                     "                  no maximum, patch size 1; --force replaces OUT)\n"
                     "  sidefiles FILE.mvh [--dump DIR]\n"
                     "                  read a hierarchy in a headless OpenGL context, making or\n"
                     "                  reusing its impostor side files (.mv2, .mv3); --dump writes\n"
                     "                  every atlas side and its depth as PNG files into DIR\n"
                     "  scene SEED -o OUT.scn\n"
                     "                  generate the scene of the seed (sky box, terrain, 75\n"
                     "                  airplanes) from the scene content (data/scene) and save it\n"
                     "  render FILE.mvh -o OUT.png [--size WxH] [--error PIXELS] [--eye x,y,z]\n"
                     "                  [--center x,y,z] [--up x,y,z] [--fov DEGREES] [--full] [--wireframe]\n"
                     "                  [--immediate | --out-of-core] [--instances N]\n"
                     "                  draw one frame of a hierarchy headless and save it (from\n"
                     "                  buffer objects; --immediate draws vertex by vertex,\n"
                     "                  --out-of-core loads patches from a temporary file as needed);\n"
                     "                  --instances draws N copies through the instance manager,\n"
                     "                  on a grid whose rows recede from distance 2 to 30\n"
                     "  render --scene FILE.scn -o OUT.png [--size WxH] [--error PIXELS] [--eye x,y,z]\n"
                     "                  [--center x,y,z] [--up x,y,z] [--fov DEGREES] [--wireframe]\n"
                     "                  draw one frame of a scene headless: background, node tree\n"
                     "                  with frustum culling, terrain\n"
                     "  bench FILE.mvh [--error PIXELS] [--eye x,y,z] [--full] [--size WxH]\n"
                     "                 [--immediate | --out-of-core] [--instances N]\n"
                     "                  100 headless frames with the camera from distance 1 to 30\n"
                     "                  along the eye's direction: a line per frame, then medians;\n"
                     "                  --instances: the median frame of the N-copy grid against\n"
                     "                  that of its one copy nearest the camera\n"
                     "  bench --path PATH.txt (FILE.mvh | --scene FILE.scn) [--plot OUT.png]\n"
                     "                 [--cache MB] [--error PIXELS] [--size WxH]\n"
                     "                  replay a recorded camera path, one frame per entry: the\n"
                     "                  frame rates and their statistics go to TestPathFPS.txt,\n"
                     "                  --plot draws frame time and triangles along the path\n"
                     "  glinfo          create a headless OpenGL context, report the driver and\n"
                     "                  compile every shader program [--shaders DIR]\n"
                     "  help            show this text\n";

int usageError(const std::string& message) {
    std::cerr << "morva: " << message << "\n\n" << kUsage;
    return 1;
}

int runImport(int argc, char** argv) {
    if (argc != 1) return usageError("import takes exactly one file name");
    const std::string fileName = argv[0];
    VObject3D mesh;
    if (!mesh.importFile(fileName)) {
        std::cerr << "morva: cannot import " << fileName << ": " << mesh.lastError() << "\n";
        return 1;
    }
    const MeshEdgeStatistics& edges = mesh.edgeStatistics();
    std::cout << "vertices: " << mesh.vertices.size() << "\n"
              << "triangles: " << mesh.triangles.size() << "\n"
              << "parts: " << edges.parts << "\n"
              << "border edges: " << edges.borderEdges << "\n";
    return 0;
}

int runInfo(int argc, char** argv) {
    if (argc != 1) return usageError("info takes exactly one file name");
    const std::string fileName = argv[0];
    VLODObject3D object;
    if (!object.read(fileName)) {
        std::cerr << "morva: cannot read " << fileName << ": " << object.lastError() << "\n";
        return 1;
    }
    std::set<uint32_t> layers(object.mNodeLayers.begin(), object.mNodeLayers.end());
    const BoundingSphere& s = object.mBoundingSphere;
    std::cout << "vertices: " << object.vnum() << "\n"
              << "triangles: " << object.tnum() << "\n"
              << "surfels: " << object.pnum() << "\n"
              << "nodes: " << object.nnum() << "\n"
              << "arcs: " << object.anum() << "\n"
              << "source nodes: " << object.m_source_nnum << "\n"
              << "layers: " << layers.size() << "\n"
              << "key frames: " << object.mKeyFrames << "\n"
              << "bounding sphere: " << s.x << " " << s.y << " " << s.z << " " << s.r << "\n";
    return 0;
}

// A context for the steps that draw (the surfel merge measures coverage in
// a depth image); the loader's listing stays out of the output.
bool createDrawingContext(GLHeadlessContext& context) {
    if (!context.create()) {
        std::cerr << "morva: cannot create an OpenGL context: " << context.lastError() << "\n";
        return false;
    }
    std::ostringstream loaderOutput;
    setLogOut(&loaderOutput);
    setLogErr(&loaderOutput);
    const bool usable = initExtensions() && VConfiguration::init();
    setLogOut(nullptr);
    setLogErr(nullptr);
    if (!usable) std::cerr << "morva: the OpenGL driver is not usable:\n" << lastLineOf(loaderOutput.str()) << "\n";
    return usable;
}

// One line on standard error, redrawn in place: step, bar, percent, time.
class ProgressLine {
  public:
    ProgressLine() : mStart(std::chrono::steady_clock::now()), mEnabled(isatty(STDERR_FILENO)) {}
    void show(const char* step, float fraction) {
        if (!mEnabled) return;
        const auto now = std::chrono::steady_clock::now();
        const int percent = int(100 * std::clamp(fraction, 0.0f, 1.0f));
        // Redrawing costs a write; ten times a second is enough to watch.
        if (step == mStep && (percent == mPercent || now - mLastDraw < std::chrono::milliseconds(100))) return;
        mStep = step;
        mPercent = percent;
        mLastDraw = now;
        const int filled = percent / 5;
        std::fprintf(stderr, "\r\033[K%-38s [%s%s] %3d%% %7.1f s", step, std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(20 - filled), ' ').c_str(), percent,
                     std::chrono::duration<double>(now - mStart).count());
        std::fflush(stderr);
    }
    void finish() {
        if (mEnabled && mStep) std::fputs("\r\033[K", stderr);
    }

  private:
    std::chrono::steady_clock::time_point mStart, mLastDraw;
    const char* mStep = nullptr;
    int mPercent = -1;
    bool mEnabled;
};

bool parseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

int runBuild(int argc, char** argv) {
    std::vector<std::string> files;
    CreationSettings settings;
    for (int k = 0; k < argc; ++k) {
        const std::string arg = argv[k];
        auto value = [&](double& out) {
            return k + 1 < argc && parseNumber(argv[++k], out) && out >= 0 && out <= 1e30;
        };
        if (arg == "--min-error") {
            if (!value(settings.minimum)) return usageError("build: --min-error takes a number from 0 to 1e30");
            settings.useMinimum = true;
        } else if (arg == "--no-min-error") {
            settings.useMinimum = false;
        } else if (arg == "--max-error") {
            if (!value(settings.maximum)) return usageError("build: --max-error takes a number from 0 to 1e30");
            settings.useMaximum = true;
        } else if (arg == "--patch-size") {
            double size = 0;
            if (!value(size) || size < 1 || size > 2147483647 || size != std::floor(size))
                return usageError("build: --patch-size takes a whole number from 1 to 2147483647");
            settings.minPatchSize = uint32_t(size);
        } else if (arg == "--force") {
            settings.replaceExisting = true;
        } else if (arg.rfind("--", 0) == 0) {
            return usageError("build: unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) return usageError("build takes an input mesh and an output file");
    if (settings.useMaximum && settings.useMinimum && settings.maximum < settings.minimum)
        return usageError("build: the maximum error is below the minimum");

    GLHeadlessContext context;
    if (!createDrawingContext(context)) return 1;
    GLCoverageMeasure measure;
    VLODObject3DCreator creator;
    ProgressLine progress;
    creator.mProgress = [&progress](const char* step, float fraction) { progress.show(step, fraction); };
    CreationSummary summary;
    std::string error;
    const bool built = createHierarchyFile(files[0], files[1], settings, creator, measure, summary, error);
    progress.finish();
    measure.release();
    if (!built) {
        std::cerr << "morva: " << error << "\n";
        return 1;
    }
    std::cout << "input triangles: " << summary.inputTriangles << "\n"
              << "vertices: " << summary.vertices << "\n"
              << "triangles: " << summary.triangles << "\n"
              << "nodes: " << summary.nodes << "\n"
              << "arcs: " << summary.arcs << "\n"
              << "source nodes: " << summary.sourceNodes << "\n"
              << "surfels: " << summary.surfels << "\n"
              << "seconds: " << summary.seconds << "\n";
    return 0;
}

// Every atlas side of a textures file as two pictures: the normal mapped to
// colour (empty texels transparent) and the depth as grey, nearest white.
bool dumpAtlases(const std::string& texturesFile, const std::string& folder) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(texturesFile.c_str(), "rb"), &std::fclose);
    TexturesFileDirectory directory;
    std::string error = "cannot open it";
    if (!file || !readTexturesDirectory(file.get(), directory, error)) {
        std::cerr << "morva: cannot read " << texturesFile << ": " << error << "\n";
        return false;
    }
    std::filesystem::create_directories(folder);
    for (uint32_t a = 0; a < directory.atlases.size(); ++a) {
        RenderedAtlas atlas;
        if (!readAtlas(file.get(), directory, a, atlas, error)) {
            std::cerr << "morva: cannot read " << texturesFile << ": " << error << "\n";
            return false;
        }
        const AtlasEntry& e = directory.atlases[a];
        const float range = e.largest > e.smallest ? e.largest - e.smallest : 1.0f;
        for (const auto& [side, texels] : {std::pair{"front", &atlas.front}, std::pair{"back", &atlas.back}}) {
            QImage normals(int(atlas.width), int(atlas.height), QImage::Format_ARGB32);
            QImage depths(int(atlas.width), int(atlas.height), QImage::Format_Grayscale8);
            for (uint32_t y = 0; y < atlas.height; ++y)
                for (uint32_t x = 0; x < atlas.width; ++x) {
                    const float* t = &(*texels)[4 * (size_t(y) * atlas.width + x)];
                    const bool empty = t[0] == 0 && t[1] == 0 && t[2] == 0;
                    auto channel = [](float v) { return int(std::lround((std::clamp(v, -1.0f, 1.0f) + 1) * 127.5f)); };
                    // Rows from the bottom, as OpenGL reads them back.
                    const int row = int(atlas.height - 1 - y);
                    normals.setPixel(int(x), row,
                                     empty ? qRgba(0, 0, 0, 0) : qRgba(channel(t[0]), channel(t[1]), channel(t[2]), 255));
                    const int grey = empty ? 0 : int(std::lround(255 * (1 - (t[3] - e.smallest) / range)));
                    depths.setPixel(int(x), row, qRgb(grey, grey, grey));
                }
            const std::string base = folder + "/atlas" + std::to_string(a) + "-" + side;
            if (!normals.save(QString::fromStdString(base + ".png")) ||
                !depths.save(QString::fromStdString(base + "-depth.png"))) {
                std::cerr << "morva: cannot write " << base << ".png\n";
                return false;
            }
        }
    }
    return true;
}

int runSideFiles(int argc, char** argv) {
    std::string dumpFolder;
    std::vector<std::string> files;
    for (int k = 0; k < argc; ++k) {
        if (std::strcmp(argv[k], "--dump") == 0 && k + 1 < argc)
            dumpFolder = argv[++k];
        else if (argv[k][0] == '-')
            return usageError(std::string("sidefiles: unknown option '") + argv[k] + "'");
        else
            files.push_back(argv[k]);
    }
    if (files.size() != 1) return usageError("sidefiles takes exactly one file name");
    argv[0] = files[0].data();
    GLHeadlessContext context;
    if (!createDrawingContext(context)) return 1;
    useShadersBesideOr(MORVA_SHADER_ROOT);
    VLODObject3D object;
    if (!object.read(argv[0])) {
        std::cerr << "morva: cannot read " << argv[0] << ": " << object.lastError() << "\n";
        return 1;
    }
    SideFileReport report;
    std::string error;
    if (!setUpImpostorsAndSideFiles(object, report, error)) {
        std::cerr << "morva: " << error << "\n";
        return 1;
    }
    if (!report.written) {
        std::cerr << "morva: the side files could not be written beside " << argv[0] << "\n";
        return 1;
    }
    std::cout << "atlases: " << object.mImpostorTree.atlases.size() << "\n"
              << "impostors: " << object.mImpostorTree.inum() << "\n"
              << "textures bytes: " << object.mUncompressedTextureBytes << "\n"
              << "mv2 bytes: " << report.mv2Bytes << "\n"
              << "mv3 bytes: " << report.mv3Bytes << "\n"
              << "created: " << (report.created ? "yes" : "no") << "\n";
    if (!dumpFolder.empty() && !dumpAtlases(object.mTexturesFileName, dumpFolder)) return 1;
    return 0;
}

bool parseVector(const char* text, Vec3f& v) {
    return std::sscanf(text, "%f,%f,%f", &v.x, &v.y, &v.z) == 3 && std::isfinite(v.x + v.y + v.z);
}

// Options shared by render and bench.
struct ViewOptions {
    std::string input, output;
    int width = 800, height = 800;
    FrameSettings settings;
    Vec3f eye{0, 0, 4}, centre{0, 0, 0}, up{0, 1, 0};
    int instances = 0; // copies drawn through the instance manager; 0: the hierarchy itself
    std::string scene;  // a scene file instead of a hierarchy
    std::string path, plot; // bench: a camera path to replay, and its picture
    unsigned cacheMegabytes = 512; // the texture cache a scene draws through
};

// Parses argv into options; an empty string when they were good, else the complaint.
std::string parseViewOptions(const char* command, int argc, char** argv, ViewOptions& o) {
    const std::string prefix = std::string(command) + ": ";
    for (int k = 0; k < argc; ++k) {
        const std::string arg = argv[k];
        const bool hasValue = k + 1 < argc;
        if (arg == "-o" && hasValue) {
            o.output = argv[++k];
        } else if (arg == "--size" && hasValue) {
            if (std::sscanf(argv[++k], "%dx%d", &o.width, &o.height) != 2 || o.width < 1 || o.height < 1 ||
                o.width > 8192 || o.height > 8192)
                return prefix + "--size takes WxH, each 1 to 8192";
        } else if (arg == "--error" && hasValue) {
            double e = 0;
            if (!parseNumber(argv[++k], e) || e < 0) return prefix + "--error takes a number of pixels";
            o.settings.errorPixels = float(e);
        } else if (arg == "--fov" && hasValue) {
            double fov = 0;
            if (!parseNumber(argv[++k], fov) || fov <= 0 || fov >= 180)
                return prefix + "--fov takes degrees between 0 and 180";
            o.settings.fovDegrees = float(fov);
        } else if ((arg == "--eye" || arg == "--center" || arg == "--up") && hasValue) {
            Vec3f& target = arg == "--eye" ? o.eye : arg == "--center" ? o.centre : o.up;
            if (!parseVector(argv[++k], target)) return prefix + arg + " takes x,y,z";
        } else if (arg == "--full") {
            o.settings.full = true;
        } else if (arg == "--wireframe") {
            o.settings.wireframe = true;
        } else if (arg == "--immediate") {
            o.settings.geometry = GeometrySource::Immediate;
        } else if (arg == "--out-of-core") {
            o.settings.geometry = GeometrySource::OutOfCore;
        } else if (arg == "--scene" && hasValue) {
            o.scene = argv[++k];
        } else if (arg == "--path" && hasValue) {
            o.path = argv[++k];
        } else if (arg == "--plot" && hasValue) {
            o.plot = argv[++k];
        } else if (arg == "--cache" && hasValue) {
            double megabytes = 0;
            if (!parseNumber(argv[++k], megabytes) || megabytes < 1 || megabytes > 65536 || megabytes != std::floor(megabytes))
                return prefix + "--cache takes megabytes from 1 to 65536";
            o.cacheMegabytes = unsigned(megabytes);
        } else if (arg == "--instances" && hasValue) {
            double n = 0;
            if (!parseNumber(argv[++k], n) || n < 1 || n > 10000 || n != std::floor(n))
                return prefix + "--instances takes a count from 1 to 10000";
            o.instances = int(n);
        } else if (arg.rfind("-", 0) == 0) {
            return prefix + "unknown option '" + arg + "'";
        } else {
            o.input = arg;
        }
    }
    return {};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The headless context, the view's shaders and one hierarchy drawn off screen.
class HeadlessView {
  public:
    ~HeadlessView() {
        if (!mShaders) return;
        view.reset();
        VViewShaders::destroy();
    }

    // False after printing why.
    bool open(const ViewOptions& o) {
        if (!createDrawingContext(mContext)) return false;
        {
            std::ostringstream quiet;
            setLogOut(&quiet);
            setLogErr(&quiet);
            useShadersBesideOr(MORVA_SHADER_ROOT);
            VViewShaders::setupShaders();
            setLogOut(nullptr);
            setLogErr(nullptr);
        }
        mShaders = true;
        // Every atlas read when the hierarchy opens: each frame shows all
        // its impostors, and no loader thread competes with the timings.
        VConfiguration::mUseOutOfCore = false;
        view = std::make_unique<OffscreenView>();
        std::string error;
        if (view->open(o.input, o.width, o.height, error, o.settings.geometry)) {
            if (!view->bufferProblem().empty())
                std::cerr << "morva: drawing vertex by vertex: " << view->bufferProblem() << "\n";
            return true;
        }
        std::cerr << "morva: cannot draw " << o.input << ": " << error << "\n";
        return false;
    }

    FrameCounts draw(const ViewOptions& o) { return view->draw(o.eye, o.centre, o.up, o.settings); }

    bool save(const std::string& output) {
        if (view->picture().save(QString::fromStdString(output))) return true;
        std::cerr << "morva: cannot write " << output << "\n";
        return false;
    }

    std::unique_ptr<OffscreenView> view;

  private:
    GLHeadlessContext mContext;
    bool mShaders = false;
};

// The headless context and a grid of copies drawn through the instance
// manager. False after printing why.
bool openInstanceScene(GLHeadlessContext& context, const ViewOptions& o, InstanceScene& scene) {
    if (!createDrawingContext(context)) return false;
    useShadersBesideOr(MORVA_SHADER_ROOT);
    InstanceSceneOptions options;
    options.count = o.instances;
    options.width = o.width;
    options.height = o.height;
    options.fovDegrees = o.settings.fovDegrees;
    options.errorPixels = o.settings.errorPixels;
    options.wireframe = o.settings.wireframe;
    std::string error;
    if (scene.open(o.input, options, error)) return true;
    std::cerr << "morva: cannot draw instances of " << o.input << ": " << error << "\n";
    return false;
}

int renderInstances(const ViewOptions& o) {
    GLHeadlessContext context;
    InstanceScene scene; // released before the context
    if (!openInstanceScene(context, o, scene)) return 1;
    std::vector<double> frameMs;
    InstanceFrame frame;
    for (int k = 0; k < 10; ++k) {
        frame = scene.draw();
        frameMs.push_back(frame.milliseconds);
    }
    if (!scene.picture().save(QString::fromStdString(o.output))) {
        std::cerr << "morva: cannot write " << o.output << "\n";
        return 1;
    }
    std::cout << "instances: " << frame.counts.instances << "\n"
              << "impostors: " << frame.counts.billboards << "\n"
              << "triangles: " << frame.counts.triangles << "\n"
              << "draw ms: " << median(frameMs) << "\n";
    return 0;
}

// The grid against its one copy nearest the camera: medians of 20 frames
// each, after two that warm the driver up.
int benchInstances(const ViewOptions& o) {
    GLHeadlessContext context;
    InstanceScene scene;
    if (!openInstanceScene(context, o, scene)) return 1;
    std::cout << "instances\timpostors\ttriangles\tmedian frame ms\n";
    for (bool nearestOnly : {true, false}) {
        scene.showNearestOnly(nearestOnly);
        std::vector<double> frameMs;
        InstanceFrame frame;
        for (int k = 0; k < 22; ++k) {
            frame = scene.draw();
            if (k >= 2) frameMs.push_back(frame.milliseconds);
        }
        std::cout << frame.counts.instances << "\t" << frame.counts.billboards << "\t" << frame.counts.triangles
                  << "\t" << median(frameMs) << "\n";
    }
    return 0;
}

// The headless context, the view's shaders, a texture cache and the scene
// file drawn off screen: runs use(view) and returns its status, or 1 after
// printing why the scene could not be opened.
int withSceneView(const ViewOptions& o, const std::function<int(SceneView&)>& use) {
    GLHeadlessContext context;
    if (!createDrawingContext(context)) return 1;
    {
        const LogCapture quiet;
        useShadersBesideOr(MORVA_SHADER_ROOT);
        VViewShaders::setupShaders();
    }
    VConfiguration::mUseOutOfCore = true; // hierarchies of a scene share the texture cache
    VTextureCache cache(uint64_t(o.cacheMegabytes) << 20);
    int status = 1;
    {
        SceneView view;
        SceneViewOptions options;
        options.width = o.width;
        options.height = o.height;
        options.fovDegrees = o.settings.fovDegrees;
        options.errorPixels = o.settings.errorPixels;
        options.wireframe = o.settings.wireframe;
        std::string error;
        if (view.open(o.scene, options, error)) status = use(view);
        else std::cerr << "morva: cannot draw the scene " << o.scene << ": " << error << "\n";
    }
    VViewShaders::destroy();
    return status;
}

// A scene file drawn as the view draws it: the medians of 10 frames, the
// walk through the tree (with culling, drawing suppressed) apart.
int renderScene(const ViewOptions& o) {
    return withSceneView(o, [&o](SceneView& view) {
        std::vector<double> walkMs, drawMs;
        SceneFrame frame;
        for (int k = 0; k < 10; ++k) {
            frame = view.draw(o.eye, o.centre, o.up);
            walkMs.push_back(frame.traversalMs);
            drawMs.push_back(frame.drawMs);
        }
        if (!view.picture().save(QString::fromStdString(o.output))) {
            std::cerr << "morva: cannot write " << o.output << "\n";
            return 1;
        }
        std::cout << "nodes: " << view.graph().nodeCount() << "\n"
                  << "nodes drawn: " << frame.statistics.nodesDrawn << "\n"
                  << "nodes culled: " << frame.statistics.nodesCulled << "\n"
                  << "impostors: " << frame.statistics.billboards << "\n"
                  << "triangles: " << frame.statistics.triangles << "\n"
                  << "lines: " << frame.statistics.lines << "\n"
                  << "traversal ms: " << median(walkMs) << "\n"
                  << "draw ms: " << median(drawMs) << "\n";
        return 0;
    });
}

// A camera path replayed headless over a scene or a hierarchy, one frame
// per entry.
int benchPath(const ViewOptions& o) {
    VWalkPath path;
    std::string error;
    if (!path.load(o.path, error)) {
        std::cerr << "morva: " << error << "\n";
        return 1;
    }
    auto eyeOf = [](const VWalkPathEntry& e) { return Vec3f(e.position); };
    auto centreOf = [](const VWalkPathEntry& e) { return Vec3f(e.position + e.direction); };
    if (!o.scene.empty()) {
        return withSceneView(o, [&](SceneView& view) {
            const int status = replayPath(path, [&](const VWalkPathEntry& e) {
                const SceneFrame frame = view.draw(eyeOf(e), centreOf(e), Vec3f(e.up));
                return PathFrame{frame.drawMs, frame.statistics.triangles, frame.statistics.billboards,
                                 frame.traversalMs};
            }, o.plot);
            const VLRUCache& cache = VTextureCache::instance->engine();
            std::cout << "texture cache MB: " << o.cacheMegabytes << "\n"
                      << "texture cache misses: " << cache.missesOverall << "\n"
                      << "texture cache misses per frame: "
                      << double(cache.missesOverall) / double(std::max<size_t>(path.entries.size(), 1)) << "\n";
            return status;
        });
    }
    HeadlessView view;
    if (!view.open(o)) return 1;
    return replayPath(path, [&](const VWalkPathEntry& e) {
        const FrameCounts counts = view.view->draw(eyeOf(e), centreOf(e), Vec3f(e.up), o.settings);
        return PathFrame{counts.selectMs + counts.drawMs, counts.triangles, counts.impostors};
    }, o.plot);
}

int runRender(int argc, char** argv) {
    ViewOptions o;
    const std::string problem = parseViewOptions("render", argc, argv, o);
    if (!problem.empty()) return usageError(problem);
    if (!o.scene.empty() && !o.output.empty() && o.input.empty()) return renderScene(o);
    if (o.input.empty() || o.output.empty())
        return usageError("render takes FILE.mvh (or --scene FILE.scn) and -o OUT.png");
    if (o.instances > 0) return renderInstances(o);
    HeadlessView view;
    if (!view.open(o)) return 1;
    std::vector<double> selectMs, drawMs;
    FrameCounts counts;
    for (int frame = 0; frame < 10; ++frame) {
        counts = view.draw(o);
        selectMs.push_back(counts.selectMs);
        drawMs.push_back(counts.drawMs);
    }
    if (!view.save(o.output)) return 1;
    std::cout << "impostors: " << counts.impostors << "\n"
              << "triangles: " << counts.triangles << "\n"
              << "select ms: " << median(selectMs) << "\n"
              << "draw ms: " << median(drawMs) << "\n";
    return 0;
}

// What the buffers cost: time to prepare them, bytes on the card and per
// triangle of the full-resolution mesh.
void reportBuffers(const OffscreenView& view) {
    const VLODObject3DOOCViewer* buffers = view.drawing().buffers();
    if (!buffers) return;
    uint64_t inputTriangles = 0;
    for (uint32_t a : finestArcs(view.object())) inputTriangles += view.object().aarray[a].tnum;
    std::cout << "buffer set-up ms: " << view.bufferSetUpMs() << "\n"
              << "buffer bytes: " << buffers->bufferBytes() << "\n"
              << "buffer bytes per input triangle: " << double(buffers->bufferBytes()) / double(std::max<uint64_t>(1, inputTriangles)) << "\n"
              << "prepared memory bytes: " << buffers->memoryBytes() << "\n";
}

// The view's distance sweep: 100 frames with the camera from distance 1 to
// 30 along the eye's direction, one line per frame, then the medians.
int runBench(int argc, char** argv) {
    ViewOptions o;
    const std::string problem = parseViewOptions("bench", argc, argv, o);
    if (!problem.empty()) return usageError(problem);
    if (!o.path.empty()) {
        if (o.input.empty() == o.scene.empty() || !o.output.empty())
            return usageError("bench --path takes FILE.mvh or --scene FILE.scn, and no -o");
        return benchPath(o);
    }
    if (o.input.empty() || !o.output.empty()) return usageError("bench takes FILE.mvh and no -o");
    if (o.instances > 0) return benchInstances(o);
    const Vec3d toEye = Vec3d(o.eye) - Vec3d(o.centre);
    if (length(toEye) <= 0) return usageError("bench: --eye must differ from --center");
    const Vec3d direction = toEye / length(toEye);
    HeadlessView view;
    if (!view.open(o)) return 1;
    std::vector<double> impostors, triangles, frameMs;
    std::cout << "distance\timpostors\ttriangles\tframe ms\n";
    for (int i = 0; i < 100; ++i) {
        const double distance = 1.0 + i / 99.0 * 29.0;
        const Vec3f eye(Vec3d(o.centre) + direction * distance);
        const FrameCounts counts = view.view->draw(eye, o.centre, o.up, o.settings);
        const double ms = counts.selectMs + counts.drawMs;
        std::cout << distance << "\t" << counts.impostors << "\t" << counts.triangles << "\t" << ms << "\n";
        impostors.push_back(double(counts.impostors));
        triangles.push_back(double(counts.triangles));
        frameMs.push_back(ms);
    }
    std::cout << "median impostors: " << median(impostors) << "\n"
              << "median triangles: " << median(triangles) << "\n"
              << "median frame ms: " << median(frameMs) << "\n";
    reportBuffers(*view.view);
    return 0;
}

// The generated scene of a seed, saved as a scene file.
int runScene(int argc, char** argv) {
    double seed = -1;
    std::string output;
    for (int k = 0; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "-o" && k + 1 < argc) output = argv[++k];
        else if (!parseNumber(argv[k], seed) || seed < 0 || seed > 4294967295.0 || seed != std::floor(seed))
            return usageError("scene takes a seed from 0 to 4294967295 and -o OUT.scn");
    }
    if (seed < 0 || output.empty()) return usageError("scene takes a seed and -o OUT.scn");
    GLHeadlessContext context;
    if (!createDrawingContext(context)) return 1;
    VConfiguration::mUseOutOfCore = true; // the airplanes register with the cache
    VTextureCache cache(64u << 20);
    bool saved = false;
    const std::string folder = sceneContentFolder();
    {
        const LogCapture quiet;
        VSceneGraph graph(nullptr);
        generateScene(graph, uint32_t(seed), folder);
        saved = graph.save(output);
    }
    if (!saved) {
        std::cerr << "morva: cannot write " << output << "\n";
        return 1;
    }
    std::cout << "content: " << folder << "\n" << "scene: " << output << "\n";
    return 0;
}

// Extensions the viewer requires, then those it uses when present.
const char* kRequiredExtensions[] = {"GL_EXT_framebuffer_object", "GL_ARB_shader_objects"};
const char* kOptionalExtensions[] = {"GL_ARB_vertex_buffer_object", "GL_EXT_texture_rectangle",
                                     "GL_NV_texture_rectangle",     "GL_ARB_vertex_program",
                                     "GL_ARB_fragment_program",     "GL_ARB_multitexture"};

// Prints one line per program of a set; false when a program or one of its
// stages failed.
bool reportPrograms(const char* set, const std::vector<NamedProgram>& programs) {
    bool allGood = true;
    for (const NamedProgram& p : programs) {
        const std::string problem = programProblem(*p.program);
        std::cout << set << " " << p.name << ": " << (problem.empty() ? "ok" : problem) << "\n";
        allGood = allGood && problem.empty();
    }
    return allGood;
}

int runGLInfo(int argc, char** argv) {
    std::string shaderRoot = std::filesystem::is_directory("shader") ? "" : MORVA_SHADER_ROOT;
    for (int k = 0; k < argc; ++k) {
        if (std::strcmp(argv[k], "--shaders") == 0 && k + 1 < argc)
            shaderRoot = argv[++k];
        else
            return usageError(std::string("glinfo: unknown argument '") + argv[k] + "'");
    }
    GLHeadlessContext context;
    if (!context.create()) {
        std::cerr << "morva: cannot create an OpenGL context: " << context.lastError() << "\n";
        return 1;
    }
    std::cout << "vendor: " << glGetString(GL_VENDOR) << "\n"
              << "renderer: " << glGetString(GL_RENDERER) << "\n"
              << "version: " << glGetString(GL_VERSION) << "\n";
    // The loader's own listing and the shader logs would bury the summary.
    std::ostringstream loaderOutput;
    setLogOut(&loaderOutput);
    setLogErr(&loaderOutput);
    bool required = true;
    for (const char* name : kRequiredExtensions) {
        const bool present = isExtensionSupported(name);
        required = required && present;
        std::cout << name << ": " << (present ? "yes" : "no") << "\n";
    }
    for (const char* name : kOptionalExtensions)
        std::cout << name << ": " << (isExtensionSupported(name) ? "yes" : "no") << "\n";
    if (!required) {
        setLogOut(nullptr);
        setLogErr(nullptr);
        std::cerr << "morva: the driver lacks a required extension\n";
        return 1;
    }
    if (!initExtensions() || !VConfiguration::init()) {
        setLogOut(nullptr);
        setLogErr(nullptr);
        std::cerr << "morva: the OpenGL driver is not usable:\n" << lastLineOf(loaderOutput.str()) << "\n";
        return 1;
    }
    std::cout << "mUseATI: " << (VConfiguration::mUseATI ? "true" : "false") << "\n";
    setShaderRoot(shaderRoot);
    VViewShaders::setupShaders();
    VInstanceShaders::setupShaders();
    setLogOut(nullptr);
    setLogErr(nullptr);
    const bool view = reportPrograms("view", VViewShaders::programs());
    const bool instance = reportPrograms("instance", VInstanceShaders::programs());
    VViewShaders::destroy();
    VInstanceShaders::destroy();
    return view && instance ? 0 : 1;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    if (command == "help" || command == "--help" || command == "-h") {
        std::cout << kUsage;
        return 0;
    }
    initTetrahederLookupTableRec();
    if (command == "info") return runInfo(argc - 2, argv + 2);
    if (command == "import") return runImport(argc - 2, argv + 2);
    if (command == "glinfo") return runGLInfo(argc - 2, argv + 2);
    if (command == "build") return runBuild(argc - 2, argv + 2);
    if (command == "sidefiles") return runSideFiles(argc - 2, argv + 2);
    if (command == "render") return runRender(argc - 2, argv + 2);
    if (command == "bench") return runBench(argc - 2, argv + 2);
    if (command == "scene") return runScene(argc - 2, argv + 2);
    return usageError("unknown command '" + command + "'");
}
