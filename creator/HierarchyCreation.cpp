#include "HierarchyCreation.h"

#include "CoverageMeasure.h"
#include "LogStream.h"
#include "SideFiles.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// An existing file marked read-only (no write permission for anyone, which
// even the superuser is taken to mean), or one we may not write; a missing
// one is not.
bool readOnly(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return false;
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0;
}

// A new, empty file of our own in the system's temporary folder.
bool makeTemporaryFile(std::string& path) {
    std::string pattern = (std::filesystem::temp_directory_path() / "morva-XXXXXX.mvh").string();
    const int fd = mkstemps(pattern.data(), 4);
    if (fd < 0) return false;
    close(fd);
    path = pattern;
    return true;
}

} // namespace

// The box and the offset are printed as they are applied: the mesh ends
// centred in the unit cube whatever its size.
void normalizeMesh(VObject3D& mesh) {
    Vec3f lo(3.4028235e38f, 3.4028235e38f, 3.4028235e38f), hi(-3.4028235e38f, -3.4028235e38f, -3.4028235e38f);
    for (const auto& v : mesh.vertices) {
        Vec3f vlo, vhi; // over the vertex's key frames
        v->boundingBox(vlo, vhi);
        lo = {std::min(lo.x, vlo.x), std::min(lo.y, vlo.y), std::min(lo.z, vlo.z)};
        hi = {std::max(hi.x, vhi.x), std::max(hi.y, vhi.y), std::max(hi.z, vhi.z)};
    }
    logOut() << "\nxmin: " << lo.x << " xmax: " << hi.x << "\nymin: " << lo.y << " ymax: " << hi.y << "\nzmin: " << lo.z
             << " zmax: " << hi.z << "\n";
    if (mesh.vertices.empty()) return;
    const Vec3f offset = -(lo + hi) * 0.5f;
    const float extent = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
    const float factor = extent > 0 ? 1.0f / extent : 1.0f;
    logOut() << "TRANSLATE: [" << offset.x << " " << offset.y << " " << offset.z << "]\n"
             << "SCALE: " << factor << "\n";
    for (auto& v : mesh.vertices) {
        v->translate(offset);
        v->scale(factor);
    }
}

void VLODObject3DCreator::releaseGraph() {
    decltype(vertices)().swap(vertices);
    decltype(quadrics)().swap(quadrics);
    decltype(quadricSlot)().swap(quadricSlot);
    decltype(triangles)().swap(triangles);
    decltype(arcs)().swap(arcs);
    decltype(nodes)().swap(nodes);
    decltype(nodeErrors)().swap(nodeErrors);
    decltype(plist)().swap(plist);
}

void VLODObject3DCreator::createHierarchy(VObject3D&& mesh, VLODObject3D& object, CoverageMeasure& measure) {
    mCancel = false;
    logOut() << "create multi triangulation hierarchy\n";
    AnimationDomain domain;
    createMultiTriangulation(std::move(mesh), domain);
    printGraphStatistics();
    mergeNodes(mMinPatchSize);
    printGraphStatistics();
    if (mCancel) return;
    insertSourceNodes();
    if (mCancel) return;
    size_t liveArcs = 0, liveTriangles = 0;
    for (const CreatorArc& a : arcs) {
        liveArcs += !a.patch.empty();
        liveTriangles += a.patch.size();
    }
    logOut() << "Result:\n\tVertices:  " << vertices.size() << "\n\tTriangles: " << liveTriangles
             << "\n\tNodes:     " << nodes.size() << "\n\tArcs:      " << liveArcs << "\n";
    createSurfelHierarchy(measure);
    if (mCancel) return;
    logOut() << "Translate object: \n";
    createFinalObject(object);
    object.mTimeBegin = domain.start;
    object.mTimeEnd = domain.end;
    object.mKeyFrames = domain.keyFrames;
}

bool createHierarchyFile(const std::string& input, const std::string& output, const CreationSettings& settings,
                         VLODObject3DCreator& creator, CoverageMeasure& measure, CreationSummary& summary,
                         std::string& error) {
    const auto start = std::chrono::steady_clock::now();
    summary = CreationSummary();
    logOut() << "Input file: " << input << "\nOutput file: " << output << "\n";
    if (!output.empty() && readOnly(output)) {
        error = output + " is read-only!";
        return false;
    }
    if (!output.empty() && std::filesystem::exists(output) && !settings.replaceExisting) {
        error = output + " already exists.";
        return false;
    }
    VObject3D mesh;
    if (!mesh.importFile(input)) {
        logOut() << "Error importing file\n";
        error = "Error importing file " + input + ": " + mesh.lastError();
        return false;
    }
    summary.inputTriangles = mesh.triangles.size();
    normalizeMesh(mesh);

    creator.mMinError = settings.useMinimum ? float(settings.minimum) : -3.4028235e38f;
    creator.mMaxError = settings.useMaximum ? float(settings.maximum) : 3.4028235e38f;
    creator.mMinPatchSize = settings.minPatchSize;
    VLODObject3D object;
    creator.createHierarchy(std::move(mesh), object, measure);
    if (creator.mCancel) {
        error = "cancelled";
        return false;
    }

    summary.outputFile = output;
    if (output.empty()) {
        if (!makeTemporaryFile(summary.outputFile)) {
            error = "cannot create a temporary file";
            return false;
        }
        summary.temporary = true;
        logOut() << "temporary filename: " << summary.outputFile << "\n";
    }
    logOut() << "Save hierarchy object ... ";
    if (!object.write(summary.outputFile)) {
        error = "cannot write " + summary.outputFile + ": " + object.lastError();
        return false;
    }
    logOut() << "done\n";
    removeSideFiles(summary.outputFile);
    summary.vertices = object.vnum();
    summary.triangles = object.tnum();
    summary.nodes = object.nnum();
    summary.arcs = object.anum();
    summary.sourceNodes = object.m_source_nnum;
    summary.surfels = object.pnum();
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return true;
}
