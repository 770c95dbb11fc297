// The whole construction as `morva build` runs it, on the four dragon
// resolutions at patch size 64: seconds per stage and input triangles per
// second, with the surfel merges measured by OpenGL in a headless context.

#include "GLCoverageMeasure.h"
#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "HierarchyCreation.h"
#include "SilencedLog.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {
const char* kResolutions[] = {"dragon_vrip_res4.ply", "dragon_vrip_res3.ply", "dragon_vrip_res2.ply",
                              "dragon_vrip.ply"};

GLHeadlessContext& context() {
    static GLHeadlessContext instance;
    if (!instance.valid() && instance.create()) {
        SilencedLog silenced;
        initExtensions();
    }
    return instance;
}

void BM_BuildHierarchy(benchmark::State& state) {
    if (!context().valid()) {
        state.SkipWithError(("no OpenGL context: " + context().lastError()).c_str());
        return;
    }
    const std::string mesh = std::string(MORVA_DRAGON_DIR) + "/" + kResolutions[state.range(0)];
    if (!std::filesystem::exists(mesh)) {
        state.SkipWithError("the dragon is missing (run scripts/setup.sh)");
        return;
    }
    const std::string out = (std::filesystem::temp_directory_path() / "morva-bench.mvh").string();
    CreationSettings settings;
    settings.minPatchSize = 64;
    settings.replaceExisting = true;
    std::map<std::string, double> stageSeconds;
    CreationSummary summary;
    for (auto _ : state) {
        SilencedLog silenced;
        GLCoverageMeasure measure;
        VLODObject3DCreator creator;
        std::map<std::string, std::chrono::steady_clock::time_point> started;
        creator.mProgress = [&](const char* step, float fraction) {
            const auto now = std::chrono::steady_clock::now();
            if (fraction == 0) started[step] = now;
            if (fraction == 1) stageSeconds[step] = std::chrono::duration<double>(now - started[step]).count();
        };
        std::string error;
        if (!createHierarchyFile(mesh, out, settings, creator, measure, summary, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        measure.release();
    }
    std::remove(out.c_str());
    const double triangles = double(summary.inputTriangles);
    state.counters["input_triangles"] = triangles;
    state.counters["triangles_per_s"] = benchmark::Counter(triangles, benchmark::Counter::kIsIterationInvariantRate);
    for (const auto& [step, seconds] : stageSeconds) {
        std::string name = step;
        for (char& ch : name) ch = ch == ' ' ? '_' : char(std::tolower(ch));
        state.counters[name + "_s"] = seconds;
    }
}

BENCHMARK(BM_BuildHierarchy)->ArgName("resolution")->DenseRange(0, 3)->Unit(benchmark::kSecond)->Iterations(1)
    ->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
