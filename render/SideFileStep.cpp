#include "SideFileStep.h"

#include "ImpostorAtlasRenderer.h"
#include "LogStream.h"
#include "SideFiles.h"
#include "VTexture.h"
#include "VTextureCache.h"
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

namespace {
// Why a textures file cannot be reused for the object's clustered tree, or
// empty when it can: the settings it was built under, then its directory,
// which must hold the tree's atlases at their sizes, all inside the file (a
// file built for an earlier hierarchy under the same name may match the
// settings and still hold other atlases).
std::string reasonToRemake(const std::string& mv2, const ImpostorTree& tree) {
    const std::string update = "The textures file (.mv2) needs to be updated. ";
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(mv2.c_str(), "rb"), &std::fclose);
    if (!file) return mv2 + " does not exist!";
    if (!VConfiguration::compareConfiguration(file.get()))
        return update + "It was built for a different configuration...";
    TexturesFileDirectory directory;
    std::string error;
    if (!readTexturesDirectory(file.get(), directory, error))
        return update + "It is damaged: " + error;
    bool same = directory.atlases.size() == tree.atlases.size();
    for (size_t a = 0; same && a < tree.atlases.size(); ++a)
        same = directory.atlases[a].width == tree.atlases[a].width &&
               directory.atlases[a].height == tree.atlases[a].height;
    if (!same) return update + "Its atlases belong to another hierarchy...";
    return "";
}

// What the textures file of the tree records: four floats a texel on both
// sides, summed over the atlases (its directory matched the tree, or was
// just written from it).
uint32_t uncompressedTextureBytes(const ImpostorTree& tree) {
    uint64_t bytes = 0;
    for (const ImpostorAtlas& atlas : tree.atlases) bytes += impostorAtlasBytes(atlas.width, atlas.height, false);
    return uint32_t(bytes);
}
} // namespace

bool setUpImpostorsAndSideFiles(VLODObject3D& object, SideFileReport& report, std::string& error) {
    report = SideFileReport();
    // The object may be read anew under the same address: the cache must not
    // keep serving the textures of what it held before.
    if (VTextureCache::instance) VTextureCache::instance->unregisterObject(&object);
    object.mTexturesFileName.clear();
    ImpostorTree& tree = object.mImpostorTree;
    logOut() << "Init impostor tree ...\n";
    if (!tree.init(object, error)) return false;
    logOut() << "done\nClustering the impostor tree ...\n";
    if (!tree.cluster(currentImpostorSettings(), error)) return false;
    logOut() << "done\n";

    const std::string mv2 = texturesFileName(object.fileName()), mv3 = geometryFileName(object.fileName());
    const std::string remake = reasonToRemake(mv2, tree);
    if (remake.empty()) {
        if (!tree.place(VConfiguration::mTextureResolution, error)) return false;
        std::string writeError;
        if (!std::filesystem::exists(mv3) &&
            !writeGeometryFile(mv3, object, tree, uint32_t(VConfiguration::mTextureCompression), writeError))
            logErr() << "geometry file not written: " << writeError << "\n";
    } else {
        logOut() << remake << "\n";
        std::string writeError;
        report.created = true;
        if (!createSideFiles(object, mv2, mv3, writeError)) {
            // Viewing goes on with triangles only; the reason is kept in the log.
            logErr() << "side files not written: " << writeError << "\n";
            return true;
        }
    }
    report.written = true;
    std::error_code ignored;
    report.mv2Bytes = std::filesystem::file_size(mv2, ignored);
    report.mv3Bytes = std::filesystem::file_size(mv3, ignored);
    object.mTexturesFileName = mv2;
    // The atlases are loaded by the texture classes (the texture depot and
    // cache), which start from mTexturesFileName.
    object.mUncompressedTextureBytes = uncompressedTextureBytes(tree);
    return true;
}

bool ensureImpostorsAndSideFiles(VLODObject3D& object, std::string& error) {
    if (object.pnum() > 0 && object.mImpostorTree.inum() == object.pnum()) return true;
    SideFileReport report;
    return setUpImpostorsAndSideFiles(object, report, error);
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
