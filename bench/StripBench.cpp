// Triangle strips: VTriStripLocalOptimizer on the full Stanford dragon (871K
// triangles, read and repaired by VObject3D) and on a generated grid of about
// the same size, against meshoptimizer's meshopt_stripify on the same
// triangles in the same order. Small patches time the many short calls the
// node merging makes.
//
// Counters: triangles, strips, and indices. Our indices are the sum of the
// strip lengths; meshopt's include one restart index between strips (and any
// repeated vertices it uses to turn a strip).

#include "SilencedLog.h"
#include "VObject3D.h"
#include "VTriStripLocalOptimizer.h"

#include <benchmark/benchmark.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr unsigned RESTART = ~0u;

struct Mesh {
    std::vector<uint32_t> indices; // three per triangle
    size_t vertexCount = 0;
    std::string error; // why the mesh is missing
};

Mesh readDragon() {
    SilencedLog silenced;
    Mesh mesh;
    VObject3D object;
    const std::string path = std::string(MORVA_DRAGON_DIR) + "/dragon_vrip.ply";
    if (object.readPly(path)) {
        for (const VTriangle& t : object.triangles)
            mesh.indices.insert(mesh.indices.end(), t.v, t.v + 3);
        mesh.vertexCount = object.vertices.size();
    } else {
        mesh.error = "cannot read " + path + " (run scripts/setup.sh): " + object.lastError();
    }
    return mesh;
}

// w x h quads, each cut along the same diagonal, rows in order.
Mesh makeGrid(uint32_t w, uint32_t h) {
    Mesh mesh;
    mesh.vertexCount = size_t(w + 1) * (h + 1);
    mesh.indices.reserve(size_t(w) * h * 6);
    for (uint32_t j = 0; j < h; ++j) {
        for (uint32_t i = 0; i < w; ++i) {
            const uint32_t a = j * (w + 1) + i, b = a + 1, c = b + w + 1, d = a + w + 1;
            mesh.indices.insert(mesh.indices.end(), {a, b, c, a, c, d});
        }
    }
    return mesh;
}

enum Input { DRAGON, GRID };

const Mesh& input(int which) {
    static const Mesh dragon = readDragon();
    static const Mesh grid = makeGrid(670, 670); // 897,800 triangles
    return which == DRAGON ? dragon : grid;
}

void nameInput(benchmark::State& state) {
    state.SetLabel(state.range(0) == DRAGON ? "dragon" : "grid 670x670");
}

void BM_OptimizeStrips(benchmark::State& state) {
    const Mesh& mesh = input(int(state.range(0)));
    if (!mesh.error.empty()) {
        state.SkipWithError(mesh.error.c_str());
        return;
    }
    const int flag = int(state.range(1));
    size_t strips = 0, indices = 0;
    for (auto _ : state) {
        std::vector<VTriStripLocalOptimizer::Strip> result =
            VTriStripLocalOptimizer().optimizeStrips(mesh.indices, flag);
        // Counting and freeing the strips is the caller's business.
        state.PauseTiming();
        if (VTriStripLocalOptimizer::countTriangles(result) != mesh.indices.size() / 3) {
            state.SkipWithError("strips lost or repeated triangles");
            break;
        }
        strips = VTriStripLocalOptimizer::countStrips(result);
        indices = VTriStripLocalOptimizer::countIndices(result);
        result = {};
        state.ResumeTiming();
    }
    nameInput(state);
    state.counters["triangles"] = double(mesh.indices.size() / 3);
    state.counters["strips"] = double(strips);
    state.counters["indices"] = double(indices);
}
BENCHMARK(BM_OptimizeStrips)
    ->ArgNames({"input", "flag"})
    ->Args({DRAGON, 1})
    ->Args({DRAGON, 0})
    ->Args({GRID, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Argument 1 set: the triangles are first reordered by
// meshopt_optimizeVertexCache (untimed), the order meshopt_stripify expects.
void BM_MeshoptStripify(benchmark::State& state) {
    const Mesh& mesh = input(int(state.range(0)));
    if (!mesh.error.empty()) {
        state.SkipWithError(mesh.error.c_str());
        return;
    }
    std::vector<unsigned> triangles(mesh.indices.begin(), mesh.indices.end());
    if (state.range(1))
        meshopt_optimizeVertexCache(triangles.data(), mesh.indices.data(), mesh.indices.size(),
                                    mesh.vertexCount);
    std::vector<unsigned> out(meshopt_stripifyBound(triangles.size()));
    size_t count = 0;
    for (auto _ : state) {
        count = meshopt_stripify(out.data(), triangles.data(), triangles.size(), mesh.vertexCount, RESTART);
        benchmark::DoNotOptimize(out.data());
    }
    nameInput(state);
    state.counters["triangles"] = double(triangles.size() / 3);
    state.counters["strips"] = double(std::count(out.begin(), out.begin() + ptrdiff_t(count), RESTART) + 1);
    state.counters["indices"] = double(count);
}
BENCHMARK(BM_MeshoptStripify)
    ->ArgNames({"input", "cacheOptimized"})
    ->Args({DRAGON, 0})
    ->Args({DRAGON, 1})
    ->Args({GRID, 0})
    ->Args({GRID, 1})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Many small calls: the grid cut into blocks of k x k quads, one call each.
void BM_OptimizeStripsSmallPatches(benchmark::State& state) {
    const uint32_t k = uint32_t(state.range(0)), blocks = 64;
    std::vector<std::vector<uint32_t>> patches;
    const Mesh grid = makeGrid(k * blocks, k);
    const size_t patchIndices = size_t(k) * k * 6;
    for (size_t b = 0; b < blocks; ++b) {
        std::vector<uint32_t> patch;
        for (uint32_t row = 0; row < k; ++row) {
            auto first = grid.indices.begin() + ptrdiff_t((size_t(row) * k * blocks + b * k) * 6);
            patch.insert(patch.end(), first, first + ptrdiff_t(k * 6));
        }
        patches.push_back(std::move(patch));
    }
    const VTriStripLocalOptimizer optimizer;
    size_t strips = 0;
    for (auto _ : state) {
        strips = 0;
        for (const auto& patch : patches)
            strips += optimizer.optimizeStrips(patch).size();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * blocks);
    state.counters["triangles_per_call"] = double(patchIndices / 3);
    state.counters["strips_per_call"] = double(strips) / blocks;
}
BENCHMARK(BM_OptimizeStripsSmallPatches)
    ->ArgName("quads")
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
