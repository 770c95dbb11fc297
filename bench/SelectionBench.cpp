// The per-frame refinement of a hierarchy below its source nodes: the
// 871K-triangle dragon built as `morva build` builds it by default, seen
// from (0, 0, distance) as `morva render --eye` places it, with one
// and four pixels of error on an 800-pixel-high view with a 20 degree
// opening angle. Only the selection is timed; drawing is the driver's.

#include "CutRefinement.h"
#include "HierarchyCreation.h"
#include "SilencedLog.h"
#include "VLODObject3D.h"
#include "VLODObject3DCreator.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>

namespace {
// Built once per run: the dragon's whole graph, without surfels (every
// source node is then reached, as when no impostor is accepted).
const VLODObject3D* dragonHierarchy() {
    static std::unique_ptr<VLODObject3D> object = [] {
        SilencedLog silenced;
        VObject3D mesh;
        if (!mesh.readPly(std::string(MORVA_DRAGON_DIR) + "/dragon_vrip.ply")) return std::unique_ptr<VLODObject3D>();
        normalizeMesh(mesh); // into the unit cube, as the pipeline does
        VLODObject3DCreator creator;
        creator.mMinError = 0;
        AnimationDomain domain;
        creator.createMultiTriangulation(mesh, domain);
        creator.insertSourceNodes();
        auto built = std::make_unique<VLODObject3D>();
        creator.createFinalObject(*built);
        return built;
    }();
    return object.get();
}

void BM_RefineBelowTheSources(benchmark::State& state) {
    const VLODObject3D* object = dragonHierarchy();
    if (!object) {
        state.SkipWithError("the dragon is missing (run scripts/setup.sh)");
        return;
    }
    const double distance = double(state.range(0)), e = double(state.range(1));
    const double p = 800 / (2 * std::tan(10 * M_PI / 180));
    SelectionView view;
    view.modelView[14] = float(-distance); // the eye on +z, looking at the origin as `morva render` does
    view.e2 = e * e;
    view.Q = e;
    view.P = p * p;
    ImpostorSelection sources;
    for (uint32_t n = 0; n < object->nnum(); ++n)
        if (object->in_arcs[n].empty() && n != object->mDrainNode) sources.validTriangles.push_back(n);
    CutRefinement refinement;
    ImpostorSelection cut = sources;
    refinement.refine(*object, view, cut); // the per-object set-up is not a frame's
    for (auto _ : state) {
        cut = sources;
        refinement.refine(*object, view, cut);
        benchmark::DoNotOptimize(cut.validArcs.data());
    }
    uint64_t triangles = 0;
    for (uint32_t a : cut.validArcs) triangles += object->aarray[a].tnum;
    state.counters["triangles"] = double(triangles);
    state.counters["nodes"] = double(cut.validTriangles.size());
}

BENCHMARK(BM_RefineBelowTheSources)->ArgNames({"distance", "error"})->ArgsProduct({{2, 5, 15, 30}, {1, 4}})
    ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
} // namespace

BENCHMARK_MAIN();
