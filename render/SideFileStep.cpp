#include "SideFileStep.h"

#include "ImpostorAtlasRenderer.h"
#include "LogStream.h"
#include "SideFiles.h"
#include "VConfiguration.h"
#include "VLODObject3D.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {
// Renders every atlas and writes both side files. False, with the messages
// printed, when either cannot be written.
bool createSideFiles(VLODObject3D& object, const std::string& mv2, const std::string& mv3, std::string& error) {
    logOut() << "Creating textures file (.mv2) for the .mvh file... ";
    ImpostorTree& tree = object.mImpostorTree;
    if (!tree.place(VConfiguration::mTextureResolution, error)) return false;
    std::vector<RenderedAtlas> atlases(tree.atlases.size());
    ImpostorAtlasRenderer renderer;
    for (uint32_t a = 0; a < atlases.size(); ++a)
        if (!renderer.render(object, tree, a, VConfiguration::mUseATI, atlases[a], error)) {
            renderer.release();
            return false;
        }
    renderer.release();
    if (!writeTexturesFile(mv2, VConfiguration::configurationStamp(), atlases, VConfiguration::mTextureCompression != 0,
                           error)) {
        logOut() << "\nCould not open file " << mv2 << " for write access!\n"
                 << "Check if your .mvh file is stored on a CD and get a .mv2 file for it!\n";
        return false;
    }
    logOut() << "done\nWriting geometry file (.mv3) for the .mv2 file... ";
    if (!writeGeometryFile(mv3, object, tree, uint32_t(VConfiguration::mTextureCompression), error)) {
        logOut() << "\nCould not open file " << mv3 << " for write access!\n"
                 << "Check if your .mv2 file is stored on a CD and get a .mv3 file for it!\n";
        return false;
    }
    logOut() << "done\n";
    return true;
}
} // namespace

ImpostorSettings currentImpostorSettings() {
    ImpostorSettings settings;
    settings.sizeType = VConfiguration::mImpostorSizeType;
    settings.width = VConfiguration::mImpostorWidth;
    settings.height = VConfiguration::mImpostorHeight;
    settings.count = VConfiguration::mNumImpostors;
    settings.clusterAlgorithm = VConfiguration::mClusterAlgorithm;
    settings.textureResolution = VConfiguration::mTextureResolution;
    return settings;
}

bool setUpImpostorsAndSideFiles(VLODObject3D& object, SideFileReport& report, std::string& error) {
    report = SideFileReport();
    ImpostorTree& tree = object.mImpostorTree;
    logOut() << "Init impostor tree ...\n";
    if (!tree.init(object, error)) return false;
    logOut() << "done\nClustering the impostor tree ...\n";
    if (!tree.cluster(currentImpostorSettings(), error)) return false;
    logOut() << "done\n";

    const std::string mv2 = texturesFileName(object.fileName()), mv3 = geometryFileName(object.fileName());
    bool fits = false;
    if (std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(mv2.c_str(), "rb"), &std::fclose); !file) {
        logOut() << mv2 << " does not exist!\n";
    } else if (!(fits = VConfiguration::compareConfiguration(file.get()))) {
        logOut() << "The textures file (.mv2) needs to be updated. It was built for a different configuration...\n";
    }
    if (fits) {
        if (!tree.place(VConfiguration::mTextureResolution, error)) return false;
    } else {
        std::string writeError;
        report.created = true;
        if (!createSideFiles(object, mv2, mv3, writeError)) {
            // Viewing goes on with triangles only; the reason is kept in the log.
            logErr() << "side files not written: " << writeError << "\n";
            object.mTexturesFileName.clear();
            return true;
        }
    }
    report.written = true;
    std::error_code ignored;
    report.mv2Bytes = std::filesystem::file_size(mv2, ignored);
    report.mv3Bytes = std::filesystem::file_size(mv3, ignored);

    object.mTexturesFileName = mv2;
    if (std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(mv2.c_str(), "rb"), &std::fclose); file) {
        uint8_t bytes[4] = {0, 0, 0, 0};
        if (std::fseek(file.get(), VConfiguration::configurationSize(), SEEK_SET) == 0 &&
            std::fread(bytes, 1, 4, file.get()) == 4)
            object.mUncompressedTextureBytes = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                                               uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    }
    // The atlases are loaded by the texture classes (the texture depot and
    // cache), which start from mTexturesFileName.
    return true;
}

void installViewerSetup() {
    VLODObject3D::setViewerSetup([](VLODObject3D& object, std::string& error) {
        if (!glGetString(GL_VERSION)) {
            logOut() << "no OpenGL context: impostor tree and side files skipped\n";
            return true;
        }
        SideFileReport report;
        return setUpImpostorsAndSideFiles(object, report, error);
    });
}
