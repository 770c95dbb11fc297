// The command-line tool: inspects hierarchy files (and, as the pipeline
// grows, builds them). Exit status 0 on success, 1 on failure.

#include "QuantizedNormal.h"
#include "VLODObject3D.h"
#include "VObject3D.h"

#include <cstring>
#include <iostream>
#include <set>
#include <string>

namespace {
const char* kUsage = "usage: morva COMMAND [ARGUMENTS]\n"
                     "\n"
                     "commands:\n"
                     "  import FILE     import and repair a mesh (.ply, .3ds, .x3d) and print a summary\n"
                     "  info FILE.mvh   read a hierarchy file and print a summary of it\n"
                     "  help            show this text\n";

int usageError(const std::string& message) {
    std::cerr << "morva: " << message << "\n\n" << kUsage;
    return 1;
}

int runImport(int argc, char** argv) {
    if (argc != 1) return usageError("import takes exactly one file name");
    const std::string fileName = argv[0];
    VObject3D mesh;
    if (!mesh.importFile(fileName)) {
        std::cerr << "morva: cannot import " << fileName << ": " << mesh.lastError() << "\n";
        return 1;
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
        return 1;
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
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    if (command == "help" || command == "--help" || command == "-h") {
        std::cout << kUsage;
        return 0;
    }
    initTetrahederLookupTableRec();
    if (command == "info") return runInfo(argc - 2, argv + 2);
    if (command == "import") return runImport(argc - 2, argv + 2);
    return usageError("unknown command '" + command + "'");
}
