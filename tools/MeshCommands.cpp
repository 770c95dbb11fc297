// The commands that read meshes and hierarchies and build them: import,
// info, build, sidefiles.

#include "ToolCommon.h"

#include "GLCoverageMeasure.h"
#include "GLHeadlessContext.h"
#include "HierarchyCreation.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "SideFiles.h"
#include "VLODObject3D.h"
#include "VObject3D.h"

#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <unistd.h>

namespace {
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
} // namespace

int runImport(int argc, char** argv) {
    if (argc != 1) return usageError("import takes exactly one file name");
    const std::string fileName = argv[0];
    VObject3D mesh;
    if (!mesh.importFile(fileName)) {
        std::cerr << "morva: cannot import " << fileName << ": " << mesh.lastError() << "\n";
        return kExitFailure;
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
        return kExitFailure;
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
    if (!createDrawingContext(context)) return kExitFailure;
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
        return kExitFailure;
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
    if (!createDrawingContext(context)) return kExitFailure;
    useShadersBesideOr(MORVA_SHADER_ROOT);
    VLODObject3D object;
    if (!object.read(argv[0])) {
        std::cerr << "morva: cannot read " << argv[0] << ": " << object.lastError() << "\n";
        return kExitFailure;
    }
    SideFileReport report;
    std::string error;
    if (!setUpImpostorsAndSideFiles(object, report, error)) {
        std::cerr << "morva: " << error << "\n";
        return kExitFailure;
    }
    if (!report.written) {
        std::cerr << "morva: the side files could not be written beside " << argv[0] << "\n";
        return kExitFailure;
    }
    std::cout << "atlases: " << object.mImpostorTree.atlases.size() << "\n"
              << "impostors: " << object.mImpostorTree.inum() << "\n"
              << "textures bytes: " << object.mUncompressedTextureBytes << "\n"
              << "mv2 bytes: " << report.mv2Bytes << "\n"
              << "mv3 bytes: " << report.mv3Bytes << "\n"
              << "created: " << (report.created ? "yes" : "no") << "\n";
    if (!dumpFolder.empty() && !dumpAtlases(object.mTexturesFileName, dumpFolder)) return kExitFailure;
    return 0;
}
