// A scene of 200 nodes, each placing the 48K-triangle dragon through the
// side-file model, on a grid receding from distance 2 to 30 in front of the
// camera, 800x800 headless: the walk through the tree with frustum culling
// alone, the whole frame through the scene graph, and the same 200
// placements drawn directly without the graph.

#include "GLCoverageMeasure.h"
#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "HierarchyCreation.h"
#include "OffscreenFramebuffer.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "SilencedLog.h"
#include "VConfiguration.h"
#include "VSceneGraph.h"
#include "VSurfelModel2.h"
#include "VTextureCache.h"

#include <GL/glu.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <memory>

namespace {
constexpr int kSize = 800, kNodes = 200;

struct SceneFixture {
    GLHeadlessContext context;
    std::unique_ptr<VTextureCache> cache;
    OffscreenFramebuffer framebuffer;
    std::unique_ptr<VSceneGraph> graph;
    VSurfelModel2* dragon = nullptr;
    VCameraPose camera;
    VTraversalContext frame;
    std::string problem;

    bool open() {
        SilencedLog silenced;
        if (!context.create() || !initExtensions() || !VConfiguration::init()) return fail("no OpenGL context");
        setShaderRoot(MORVA_SHADER_ROOT);
        VViewShaders::setupShaders();
        VConfiguration::mUseOutOfCore = true;
        cache = std::make_unique<VTextureCache>(256u << 20);
        const std::string folder = (std::filesystem::temp_directory_path() / "morva-scene-bench").string();
        std::filesystem::create_directories(folder);
        const std::string mvh = folder + "/dragon.mvh";
        if (!std::filesystem::exists(folder + "/dragon.mv3")) {
            GLCoverageMeasure measure;
            VLODObject3DCreator creator;
            CreationSettings settings;
            settings.replaceExisting = true;
            settings.minPatchSize = 64;
            CreationSummary summary;
            std::string error;
            const bool built = createHierarchyFile(std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res3.ply", mvh,
                                                   settings, creator, measure, summary, error);
            measure.release();
            VLODObject3D object;
            SideFileReport report;
            if (!built || !object.read(mvh) || !setUpImpostorsAndSideFiles(object, report, error))
                return fail("the dragon could not be built (run scripts/setup.sh)");
        }
        if (!framebuffer.create(kSize, kSize, problem)) return false;
        graph = std::make_unique<VSceneGraph>(nullptr);
        dragon = graph->resourceManager()->createSurfelModel2("dragon", folder + "/dragon.mv3", true);
        if (!dragon->loaded()) return fail("the dragon's side files could not be read");
        placeNodes();
        setUpView();
        graph->initGeometries(frame);
        return true;
    }

    bool fail(const std::string& message) {
        problem = message;
        return false;
    }

    // 20 columns, 10 rows from distance 2 to 30; the outer columns lie
    // outside the view, so culling has work to do.
    void placeNodes() {
        const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        for (int k = 0; k < kNodes; ++k) {
            const int row = k / 20, column = k % 20;
            const double at[3] = {(column - 9.5) * 1.2, -0.5, -(2 + 28.0 * row / 9)};
            VSceneNode* node = graph->createNode(at, identity, "dragon " + std::to_string(k));
            node->addGeometry(dragon);
            graph->root()->addChild(node);
        }
    }

    void setUpView() {
        frame.camera = &camera;
        frame.frustum.set(camera, 0.05, 100, 20, 1);
        frame.projectionConstant = kSize / (2 * std::tan(10 * M_PI / 180));
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(20, 1, 0.05, 100);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_DEPTH_TEST);
    }
};

SceneFixture* fixture() {
    static std::unique_ptr<SceneFixture> scene = [] {
        auto made = std::make_unique<SceneFixture>();
        made->open();
        return made;
    }();
    return scene->problem.empty() ? scene.get() : nullptr;
}

void BM_SceneTraversalAndCulling(benchmark::State& state) {
    SceneFixture* scene = fixture();
    if (!scene) return state.SkipWithError("no scene (see the fixture's problem)");
    VTraversalContext walk = scene->frame;
    walk.skipGeometry = true;
    VDrawStatistics statistics;
    for (auto _ : state) {
        statistics = VDrawStatistics();
        scene->graph->draw(walk, statistics);
    }
    state.counters["nodes drawn"] = double(statistics.nodesDrawn);
    state.counters["nodes culled"] = double(statistics.nodesCulled);
}
BENCHMARK(BM_SceneTraversalAndCulling)->Unit(benchmark::kMicrosecond);

void BM_SceneFrame(benchmark::State& state) {
    SceneFixture* scene = fixture();
    if (!scene) return state.SkipWithError("no scene (see the fixture's problem)");
    SilencedLog silenced;
    VDrawStatistics statistics;
    for (auto _ : state) {
        statistics = VDrawStatistics();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        scene->graph->draw(scene->frame, statistics);
        glFinish();
    }
    state.counters["triangles"] = double(statistics.triangles);
    state.counters["billboards"] = double(statistics.billboards);
}
BENCHMARK(BM_SceneFrame)->Unit(benchmark::kMillisecond);

// The same placements, each drawn under its own matrix without the graph
// (and without culling: every placement is drawn).
void BM_DirectFrame(benchmark::State& state) {
    SceneFixture* scene = fixture();
    if (!scene) return state.SkipWithError("no scene (see the fixture's problem)");
    SilencedLog silenced;
    VDrawStatistics statistics;
    for (auto _ : state) {
        statistics = VDrawStatistics();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (int k = 0; k < kNodes; ++k) {
            const double* m = scene->graph->getNode("dragon " + std::to_string(k))->globalMatrix();
            glLoadMatrixd(m);
            scene->dragon->draw(scene->frame, statistics);
        }
        glLoadIdentity();
        glFinish();
    }
    state.counters["triangles"] = double(statistics.triangles);
    state.counters["billboards"] = double(statistics.billboards);
}
BENCHMARK(BM_DirectFrame)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
