// Importing and repairing a scanned mesh: the Stanford dragon at its four
// resolutions, as shipped (ASCII) and as a binary little-endian copy made once
// per run. Each iteration is a whole readPly: parse, merge, clean, split,
// orient.

#include "SilencedLog.h"
#include "VObject3D.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {
namespace fs = std::filesystem;

const char* kResolutions[] = {"dragon_vrip_res4.ply", "dragon_vrip_res3.ply", "dragon_vrip_res2.ply", "dragon_vrip.ply"};

std::string dragonPath(int resolution) { return std::string(MORVA_DRAGON_DIR) + "/" + kResolutions[resolution]; }

// The dragon files hold x y z per vertex and "3 a b c" per face, nothing else.
bool writeBinaryCopy(const std::string& asciiPath, const std::string& binaryPath) {
    std::ifstream in(asciiPath);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t vertexAt = text.find("element vertex "), faceAt = text.find("element face "), end = text.find("end_header\n");
    if (vertexAt == std::string::npos || faceAt == std::string::npos || end == std::string::npos) return false;
    const long vertices = std::stol(text.substr(vertexAt + 15)), faces = std::stol(text.substr(faceAt + 13));
    const char* p = text.data() + end + 11;
    const char* last = text.data() + text.size();
    auto skip = [&] { while (p < last && std::isspace((unsigned char)*p)) ++p; };

    std::ostringstream header;
    header << "ply\nformat binary_little_endian 1.0\nelement vertex " << vertices
           << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << faces
           << "\nproperty list uchar int vertex_indices\nend_header\n";
    std::string out = header.str();
    for (long i = 0; i < vertices * 3; ++i) {
        float v = 0;
        skip();
        p = std::from_chars(p, last, v).ptr;
        out.append(reinterpret_cast<const char*>(&v), 4);
    }
    for (long i = 0; i < faces; ++i) {
        int32_t n = 0, index = 0;
        skip();
        p = std::from_chars(p, last, n).ptr;
        out.push_back(char(n));
        for (int32_t k = 0; k < n; ++k) {
            skip();
            p = std::from_chars(p, last, index).ptr;
            out.append(reinterpret_cast<const char*>(&index), 4);
        }
    }
    std::ofstream(binaryPath, std::ios::binary) << out;
    return true;
}

std::string binaryCopy(int resolution) {
    static const fs::path dir = fs::temp_directory_path() / ("morva-import-bench-" + std::to_string(getpid()));
    const fs::path path = dir / kResolutions[resolution];
    if (!fs::exists(path)) {
        fs::create_directories(dir);
        if (!writeBinaryCopy(dragonPath(resolution), path.string())) return "";
    }
    return path.string();
}

void importMesh(benchmark::State& state, const std::string& path) {
    SilencedLog silenced;
    size_t triangles = 0;
    for (auto _ : state) {
        VObject3D mesh;
        if (!mesh.readPly(path)) {
            state.SkipWithError(("cannot read " + path + ": " + mesh.lastError()).c_str());
            break;
        }
        triangles = mesh.triangles.size();
        state.PauseTiming(); // freeing the mesh is not part of the import
        mesh.clear();
        state.ResumeTiming();
    }
    state.counters["triangles"] = double(triangles);
}

void BM_ImportDragonAscii(benchmark::State& state) { importMesh(state, dragonPath(int(state.range(0)))); }
void BM_ImportDragonBinary(benchmark::State& state) {
    const std::string path = binaryCopy(int(state.range(0)));
    if (path.empty()) {
        state.SkipWithError("cannot make the binary copy");
        return;
    }
    importMesh(state, path);
}

// 0 is the coarsest dragon (11K triangles), 3 the full one (871K).
BENCHMARK(BM_ImportDragonAscii)->ArgName("resolution")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ImportDragonBinary)->ArgName("resolution")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)
    ->Repetitions(5)->ReportAggregatesOnly(true);
} // namespace

BENCHMARK_MAIN();
