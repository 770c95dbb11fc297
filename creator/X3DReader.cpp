// X3D import: the scene's node types are listed, and the triangles of its
// indexed face and triangle sets become the mesh.

#include "LogStream.h"
#include "VObject3D.h"
#include "X3DScene.h"

bool VObject3D::readX3D(const std::string& fileName) {
    mLastError.clear();
    logOut() << "loading scene ... ";
    std::string error;
    std::unique_ptr<X3DScene> scene = loadX3DScene(fileName, error);
    return takeX3DScene(scene.get(), error, X3DLimits());
}

bool VObject3D::readX3DData(const std::vector<uint8_t>& bytes, const X3DLimits& limits) {
    mLastError.clear();
    logOut() << "loading scene ... ";
    std::string error;
    std::unique_ptr<X3DScene> scene = loadX3DSceneData(bytes, error);
    return takeX3DScene(scene.get(), error, limits);
}

bool VObject3D::takeX3DScene(const X3DScene* scene, std::string error, const X3DLimits& limits) {
    if (!scene) {
        logOut() << "failed\n";
        logErr() << error << "\n";
        return failRead(error);
    }
    logOut() << "done\n";
    clear();
    forEachX3DNode(*scene, [](const X3DNode& node) { logOut() << "node type: " << node.type << "\n"; });

    X3DMesh mesh;
    X3DMeshReport report;
    if (!collectX3DMesh(*scene, mesh, report, error, limits)) {
        logErr() << error << "\n";
        return failRead(error);
    }
    if (report.skippedFaces > 0) logOut() << report.skippedFaces << " faces with too few or invalid corners skipped\n";
    if (report.setsWithoutCoordinates > 0)
        logOut() << report.setsWithoutCoordinates << " face sets without coordinates skipped\n";
    for (const auto& [type, count] : report.unsupportedGeometry)
        logOut() << "geometry not imported: " << type << " (" << count << ")\n";

    vertices.reserve(mesh.points.size());
    for (const Vec3f& p : mesh.points) vertices.push_back(std::make_unique<VStaticVertex>(p));
    triangles.reserve(mesh.triangles.size());
    for (const auto& t : mesh.triangles) {
        VTriangle triangle;
        for (int k = 0; k < 3; ++k) triangle.v[k] = t[size_t(k)];
        triangles.push_back(triangle);
    }
    if (!checkVertexPositions()) return false;
    repair();
    return true;
}
