// Opening a hierarchy: reading the .mvh file and running the whole set-up
// sequence, as the viewer does when a model is loaded. The files are generated
// once per run into a private temporary directory; only read() is timed.

#include "SilencedLog.h"
#include "QuantizedNormal.h"
#include "SphereHierarchy.h"
#include "VLODObject3D.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace {
namespace fs = std::filesystem;

// Owns the generated files and removes them when the program ends.
class BenchFiles {
  public:
    ~BenchFiles() {
        if (mDir.empty()) return;
        std::error_code ignored;
        fs::remove_all(mDir, ignored);
    }

    struct File {
        std::string path;
        uint32_t triangles = 0;
        uintmax_t bytes = 0;
    };

    // The sphere hierarchy of the given depth, written on first use.
    const File* sphere(uint32_t depth, std::string& error) {
        auto it = mFiles.find(depth);
        if (it != mFiles.end()) return &it->second;
        if (mDir.empty()) {
            mDir = fs::temp_directory_path() / ("morva-bench-" + std::to_string(getpid()));
            fs::create_directories(mDir);
        }
        File file;
        file.path = (mDir / ("icosphere" + std::to_string(depth) + ".mvh")).string();
        {
            VLODObject3D object;
            makeSphereHierarchy(object, {depth, 1, true});
            file.triangles = object.tnum();
            if (!object.write(file.path)) {
                error = "cannot write " + file.path;
                return nullptr;
            }
        }
        file.bytes = fs::file_size(file.path);
        return &mFiles.emplace(depth, file).first->second;
    }

  private:
    fs::path mDir;
    std::map<uint32_t, File> mFiles;
};

BenchFiles& benchFiles() {
    static BenchFiles files;
    return files;
}

void BM_ReadSphereHierarchy(benchmark::State& state) {
    const uint32_t depth = uint32_t(state.range(0));
    std::string error;
    const BenchFiles::File* file = benchFiles().sphere(depth, error);
    if (!file) {
        state.SkipWithError(error.c_str());
        return;
    }

    SilencedLog silenced;
    for (auto _ : state) {
        auto object = std::make_unique<VLODObject3D>();
        const bool ok = object->read(file->path);
        // A read that stops early would look fast; make sure it did the work.
        if (!ok || object->tnum() != file->triangles) {
            state.SkipWithError(("read failed: " + object->lastError()).c_str());
            break;
        }
        benchmark::DoNotOptimize(object->mBoundingSphere);
        // Freeing the arrays is not part of opening a file.
        state.PauseTiming();
        object.reset();
        state.ResumeTiming();
    }
    state.counters["triangles"] = file->triangles;
    state.counters["file_MB"] = double(file->bytes) / 1e6;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file->bytes));
}
BENCHMARK(BM_ReadSphereHierarchy)
    ->ArgName("depth")
    ->Arg(7)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Quantization runs for every triangle and vertex normal of a read; random
// directions exercise every branch of the table descent.
void BM_QuantizeNormal(benchmark::State& state) {
    initTetrahederLookupTableRec();
    std::mt19937 rng(12345);
    std::normal_distribution<float> gauss;
    std::vector<Vec3f> normals(size_t(state.range(0)));
    for (Vec3f& n : normals) {
        do n = Vec3f(gauss(rng), gauss(rng), gauss(rng));
        while (length(n) < 1e-3f);
        n = normalizeOrZ(n);
    }

    for (auto _ : state) {
        uint32_t sum = 0;
        for (const Vec3f& n : normals) sum += quantizeNormal(n);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_QuantizeNormal)->Arg(1 << 16)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
