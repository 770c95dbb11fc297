// Building the multi-triangulation: createMultiTriangulation on the Stanford
// dragon at three resolutions, and beside it meshoptimizer's meshopt_simplify
// taking the same mesh to as many triangles as our source cut holds. Ours
// records every collapse in the DAG; the reference only simplifies.

#include "SilencedLog.h"
#include "VLODObject3DCreator.h"

#include <benchmark/benchmark.h>
#include <meshoptimizer.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {
const char* kResolutions[] = {"dragon_vrip_res3.ply", "dragon_vrip_res2.ply", "dragon_vrip.ply"};

// Imported and repaired once per run.
const VObject3D& dragon(int resolution) {
    static std::map<int, VObject3D> meshes;
    auto [it, inserted] = meshes.try_emplace(resolution);
    if (inserted) {
        SilencedLog silenced;
        it->second.readPly(std::string(MORVA_DRAGON_DIR) + "/" + kResolutions[resolution]);
    }
    return it->second;
}

size_t sourceCutTriangles(const VLODObject3DCreator& c) {
    size_t triangles = 0;
    for (uint32_t a : c.nodes[0].out) triangles += c.arcs[a].patch.size();
    return triangles;
}

double averagePatchSize(const VLODObject3DCreator& c) {
    size_t triangles = 0, arcs = 0;
    for (const CreatorArc& a : c.arcs) {
        triangles += a.patch.size();
        arcs += !a.patch.empty();
    }
    return arcs ? double(triangles) / double(arcs) : 0.0;
}

// What our builder leaves in the source cut, per resolution, for the reference.
std::map<int, size_t>& sourceCuts() {
    static std::map<int, size_t> cuts;
    return cuts;
}

void BM_CreateMultiTriangulation(benchmark::State& state) {
    const VObject3D& mesh = dragon(int(state.range(0)));
    if (mesh.triangles.empty()) {
        state.SkipWithError("the dragon is missing (run scripts/setup.sh)");
        return;
    }
    SilencedLog silenced;
    size_t coarse = 0, nodes = 0;
    for (auto _ : state) {
        VLODObject3DCreator creator;
        AnimationDomain domain;
        creator.createMultiTriangulation(mesh, domain);
        coarse = sourceCutTriangles(creator);
        nodes = creator.nodes.size();
        state.PauseTiming(); // freeing the graph is not part of building it
        creator.vertices.clear();
        creator.triangles.clear();
        creator.arcs.clear();
        creator.nodes.clear();
        state.ResumeTiming();
    }
    sourceCuts()[int(state.range(0))] = coarse;
    state.counters["triangles"] = double(mesh.triangles.size());
    state.counters["source_cut"] = double(coarse);
    state.counters["nodes"] = double(nodes);
}

void BM_MeshoptSimplifyToTheSameCount(benchmark::State& state) {
    const int resolution = int(state.range(0));
    const VObject3D& mesh = dragon(resolution);
    auto cut = sourceCuts().find(resolution);
    if (mesh.triangles.empty() || cut == sourceCuts().end()) {
        state.SkipWithError("run together with BM_CreateMultiTriangulation");
        return;
    }
    std::vector<float> positions;
    for (const auto& v : mesh.vertices) {
        Vec3f p = v->evaluate(0);
        positions.insert(positions.end(), {p.x, p.y, p.z});
    }
    std::vector<unsigned> indices;
    for (const VTriangle& t : mesh.triangles) indices.insert(indices.end(), t.v, t.v + 3);
    std::vector<unsigned> out(indices.size());
    size_t reached = 0;
    for (auto _ : state) {
        reached = meshopt_simplify(out.data(), indices.data(), indices.size(), positions.data(), mesh.vertices.size(),
                                   sizeof(float) * 3, cut->second * 3, 1.0f, 0, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["triangles"] = double(reached / 3);
}

// The steps after the builder, as the pipeline runs them: merging to patches
// of 64 triangles, then one source node per coarsest patch.
void BM_MergeNodesAndInsertSourceNodes(benchmark::State& state) {
    const VObject3D& mesh = dragon(int(state.range(0)));
    if (mesh.triangles.empty()) {
        state.SkipWithError("the dragon is missing (run scripts/setup.sh)");
        return;
    }
    SilencedLog silenced;
    size_t arcs = 0, nodes = 0;
    double averagePatch = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto creator = std::make_unique<VLODObject3DCreator>();
        AnimationDomain domain;
        creator->createMultiTriangulation(mesh, domain);
        state.ResumeTiming();
        creator->mergeNodes(64);
        state.PauseTiming();
        averagePatch = averagePatchSize(*creator);
        state.ResumeTiming();
        creator->insertSourceNodes();
        arcs = creator->arcs.size();
        nodes = creator->nodes.size();
        state.PauseTiming();
        creator.reset();
        state.ResumeTiming();
    }
    state.counters["arcs"] = double(arcs);
    state.counters["nodes"] = double(nodes);
    // The merge's goal is patches near 64 that keep cuts view-dependent.
    state.counters["average patch"] = averagePatch;
}

BENCHMARK(BM_CreateMultiTriangulation)->ArgName("resolution")->DenseRange(0, 2)->Unit(benchmark::kMillisecond)
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_MeshoptSimplifyToTheSameCount)->ArgName("resolution")->DenseRange(0, 2)->Unit(benchmark::kMillisecond)
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_MergeNodesAndInsertSourceNodes)->ArgName("resolution")->DenseRange(0, 2)->Unit(benchmark::kMillisecond)
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
} // namespace

BENCHMARK_MAIN();
