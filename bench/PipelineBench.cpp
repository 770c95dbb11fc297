// The whole construction as `morva build` runs it, on the four dragon
// resolutions and the large subdivided dragon (scripts/large-mesh.sh) at patch
// size 64: for every stage its seconds, input triangles per second and peak
// resident bytes per input triangle, counted above what the process held
// before the import (libraries, the OpenGL context: a fixed 100 MB or so
// that would swamp the small meshes' figures). The surfel merges are
// measured by OpenGL in a headless context.

#include "GLCoverageMeasure.h"
#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "HierarchyCreation.h"
#include "PeakMemory.h"
#include "SideFiles.h"
#include "SilencedLog.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {
const char* kMeshes[] = {"dragon/dragon_vrip_res4.ply", "dragon/dragon_vrip_res3.ply", "dragon/dragon_vrip_res2.ply",
                         "dragon/dragon_vrip.ply", "large/dragon_x16.ply"};
constexpr int kLargeMesh = 4;

GLHeadlessContext& context() {
    static GLHeadlessContext instance;
    if (!instance.valid() && instance.create()) {
        SilencedLog silenced;
        initExtensions();
    }
    return instance;
}

// Seconds and peak bytes of each stage of one run, keyed by the stage's name.
struct StageFigures {
    uint64_t baseline = 0; // resident before the run
    std::map<std::string, double> seconds;
    std::map<std::string, uint64_t> peakBytes;
    std::map<std::string, std::chrono::steady_clock::time_point> started;

    void begin(const std::string& stage) {
        resetPeakResident();
        started[stage] = std::chrono::steady_clock::now();
    }
    void end(const std::string& stage) {
        seconds[stage] = std::chrono::duration<double>(std::chrono::steady_clock::now() - started[stage]).count();
        peakBytes[stage] = peakResidentBytes();
    }
};

// Import, the creator's steps and the writing, each one stage; false with
// the reason when a step fails.
bool buildOnce(const std::string& mesh, const std::string& out, StageFigures& figures, size_t& inputTriangles,
               std::string& error) {
    SilencedLog silenced;
    resetPeakResident();
    figures.baseline = residentBytes();
    figures.begin("import");
    VObject3D input;
    if (!input.importFile(mesh)) {
        error = input.lastError();
        return false;
    }
    normalizeMesh(input);
    inputTriangles = input.triangles.size();
    figures.end("import");

    GLCoverageMeasure measure;
    VLODObject3DCreator creator;
    creator.mMinError = 0;
    creator.mMinPatchSize = 64;
    creator.mProgress = [&](const char* step, float fraction) {
        if (fraction == 0) figures.begin(step);
        if (fraction == 1) figures.end(step);
    };
    VLODObject3D object;
    creator.createHierarchy(std::move(input), object, measure);
    measure.release();

    figures.begin("write");
    if (!object.write(out)) {
        error = object.lastError();
        return false;
    }
    figures.end("write");
    removeSideFiles(out);
    return true;
}

std::string counterName(std::string step) {
    for (char& ch : step) ch = ch == ' ' ? '_' : char(std::tolower(ch));
    return step;
}

void BM_BuildHierarchy(benchmark::State& state) {
    if (!context().valid()) {
        state.SkipWithError(("no OpenGL context: " + context().lastError()).c_str());
        return;
    }
    const std::string mesh = std::string(MORVA_DATA_DIR) + "/" + kMeshes[state.range(0)];
    if (!std::filesystem::exists(mesh)) {
        state.SkipWithError((mesh + " is missing (scripts/setup.sh fetches the dragon, scripts/large-mesh.sh "
                                    "makes the large mesh)").c_str());
        return;
    }
    // The large mesh's hierarchy stays beside it, for opening in the viewer.
    const bool keep = state.range(0) == kLargeMesh;
    const std::string out = keep ? std::filesystem::path(mesh).replace_extension(".mvh").string()
                                 : (std::filesystem::temp_directory_path() / "morva-bench.mvh").string();
    StageFigures figures;
    size_t triangles = 0;
    uint64_t peak = 0;
    for (auto _ : state) {
        std::string error;
        if (!buildOnce(mesh, out, figures, triangles, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    if (!keep) std::remove(out.c_str());
    state.counters["input_triangles"] = double(triangles);
    state.counters["triangles_per_s"] = benchmark::Counter(double(triangles), benchmark::Counter::kIsIterationInvariantRate);
    for (const auto& [step, seconds] : figures.seconds) {
        const std::string name = counterName(step);
        state.counters[name + "_s"] = seconds;
        const uint64_t used = figures.peakBytes[step] - std::min(figures.peakBytes[step], figures.baseline);
        state.counters[name + "_bytes_per_tri"] = double(used) / double(std::max<size_t>(triangles, 1));
        peak = std::max(peak, used);
    }
    state.counters["peak_bytes_per_tri"] = double(peak) / double(std::max<size_t>(triangles, 1));
    state.counters["peak_MB"] = double(peak) / 1e6;
    state.counters["baseline_MB"] = double(figures.baseline) / 1e6;
}

BENCHMARK(BM_BuildHierarchy)->ArgName("mesh")->DenseRange(0, kLargeMesh - 1)->Unit(benchmark::kSecond)
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
// The large mesh takes minutes: one run.
BENCHMARK(BM_BuildHierarchy)->ArgName("mesh")->Arg(kLargeMesh)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
