// The commands that draw headless: render, bench, and scene, which makes
// the scene files they draw.

#include "ToolCommon.h"

#include "GLHeadlessContext.h"
#include "HierarchyDrawing.h"
#include "InstanceScene.h"
#include "LogStream.h"
#include "OffscreenView.h"
#include "PathBench.h"
#include "SceneGeneration.h"
#include "SceneView.h"
#include "ShaderSets.h"
#include "VConfiguration.h"
#include "VTextureCache.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

namespace {
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
            const LogCapture quiet;
            useShadersBesideOr(MORVA_SHADER_ROOT);
            VViewShaders::setupShaders();
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

// The picture's size, view and error, which the instance grid and the scene
// view take alike.
template <typename Options> Options pictureOptions(const ViewOptions& o) {
    Options options;
    options.width = o.width;
    options.height = o.height;
    options.fovDegrees = o.settings.fovDegrees;
    options.errorPixels = o.settings.errorPixels;
    options.wireframe = o.settings.wireframe;
    return options;
}

// The headless context and a grid of copies drawn through the instance
// manager. False after printing why.
bool openInstanceScene(GLHeadlessContext& context, const ViewOptions& o, InstanceScene& scene) {
    if (!createDrawingContext(context)) return false;
    useShadersBesideOr(MORVA_SHADER_ROOT);
    InstanceSceneOptions options = pictureOptions<InstanceSceneOptions>(o);
    options.count = o.instances;
    std::string error;
    if (scene.open(o.input, options, error)) return true;
    std::cerr << "morva: cannot draw instances of " << o.input << ": " << error << "\n";
    return false;
}

int renderInstances(const ViewOptions& o) {
    GLHeadlessContext context;
    InstanceScene scene; // released before the context
    if (!openInstanceScene(context, o, scene)) return kExitFailure;
    std::vector<double> frameMs;
    InstanceFrame frame;
    for (int k = 0; k < 10; ++k) {
        frame = scene.draw();
        frameMs.push_back(frame.milliseconds);
    }
    if (!scene.picture().save(QString::fromStdString(o.output))) {
        std::cerr << "morva: cannot write " << o.output << "\n";
        return kExitFailure;
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
    if (!openInstanceScene(context, o, scene)) return kExitFailure;
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
    if (!createDrawingContext(context)) return kExitFailure;
    {
        const LogCapture quiet;
        useShadersBesideOr(MORVA_SHADER_ROOT);
        VViewShaders::setupShaders();
    }
    VConfiguration::mUseOutOfCore = true; // hierarchies of a scene share the texture cache
    VTextureCache cache(uint64_t(o.cacheMegabytes) << 20);
    int status = kExitFailure;
    {
        SceneView view;
        const SceneViewOptions options = pictureOptions<SceneViewOptions>(o);
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
            return kExitFailure;
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
        return kExitFailure;
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
    if (!view.open(o)) return kExitFailure;
    return replayPath(path, [&](const VWalkPathEntry& e) {
        const FrameCounts counts = view.view->draw(eyeOf(e), centreOf(e), Vec3f(e.up), o.settings);
        return PathFrame{counts.selectMs + counts.drawMs, counts.triangles, counts.impostors};
    }, o.plot);
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
} // namespace

int runRender(int argc, char** argv) {
    ViewOptions o;
    const std::string problem = parseViewOptions("render", argc, argv, o);
    if (!problem.empty()) return usageError(problem);
    if (!o.scene.empty() && !o.output.empty() && o.input.empty()) return renderScene(o);
    if (o.input.empty() || o.output.empty())
        return usageError("render takes FILE.mvh (or --scene FILE.scn) and -o OUT.png");
    if (o.instances > 0) return renderInstances(o);
    HeadlessView view;
    if (!view.open(o)) return kExitFailure;
    std::vector<double> selectMs, drawMs;
    FrameCounts counts;
    for (int frame = 0; frame < 10; ++frame) {
        counts = view.draw(o);
        selectMs.push_back(counts.selectMs);
        drawMs.push_back(counts.drawMs);
    }
    if (!view.save(o.output)) return kExitFailure;
    std::cout << "impostors: " << counts.impostors << "\n"
              << "triangles: " << counts.triangles << "\n"
              << "select ms: " << median(selectMs) << "\n"
              << "draw ms: " << median(drawMs) << "\n";
    return 0;
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
    if (!view.open(o)) return kExitFailure;
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
    if (!createDrawingContext(context)) return kExitFailure;
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
        return kExitFailure;
    }
    std::cout << "content: " << folder << "\n" << "scene: " << output << "\n";
    return 0;
}
