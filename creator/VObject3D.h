#pragma once
// The triangle mesh a hierarchy is built from. Filled by one of the file
// readers (chosen by extension: PLY, 3DS, X3D); every reader ends with the
// same repair sequence, so the builder always gets merged vertices, no
// degenerate or doubled triangles, at most two triangles per edge and
// consistently oriented faces. Progress goes to the log's output stream,
// reader errors to its error stream.

#include "VVertex.h"
#include "X3DScene.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct VTriangle {
    uint32_t v[3] = {0, 0, 0};
    uint32_t material = 0; // import leaves it 0
};

struct AnimationDomain {
    float start = 0;
    float end = 0;
    uint16_t keyFrames = 1;
};

// What the orientation pass found out about the mesh.
struct MeshEdgeStatistics {
    uint32_t borderEdges = 0;       // edges with fewer than two triangles
    uint32_t overfullEdges = 0;     // edges with more than two triangles
    uint32_t parts = 0;             // independent connected mesh parts
    uint32_t swappedTriangles = 0;  // triangles turned to agree with their neighbours
};

class VObject3D {
  public:
    // An empty mesh; with a file name, imports it at once (the result is
    // then only visible through the arrays).
    explicit VObject3D(const std::string& fileName = "");
    virtual ~VObject3D();
    VObject3D(const VObject3D&) = delete;
    VObject3D& operator=(const VObject3D&) = delete;

    // Deletes every vertex and empties the arrays.
    virtual void clear();

    // Reads a .ply, .3ds or .x3d file (extension compared case-insensitively)
    // and repairs it. False for other names, or when the reader fails; the
    // mesh is then empty.
    bool importFile(const std::string& fileName);
    // Whether importFile takes the name's ending.
    static bool isImportable(const std::string& fileName);
    bool readPly(const std::string& fileName);
    bool read3ds(const std::string& fileName);
    bool readX3D(const std::string& fileName);
    // The same readers over bytes already in memory.
    bool readPlyData(std::vector<uint8_t> bytes);
    bool read3dsData(const std::vector<uint8_t>& bytes);
    // A scene beyond the limits (see collectX3DMesh) is refused.
    bool readX3DData(const std::vector<uint8_t>& bytes, const X3DLimits& limits = {});

    // --- Repair (each prints its statistics) ---------------------------------

    // The full sequence every reader ends with.
    void repair();
    // Merges vertices at equal positions (at time 0; gridSpacing > 0 snaps
    // coordinates towards zero onto a grid first). The lowest index at a
    // position represents it; the others are deleted and indices renumbered.
    void mergeVertices(float gridSpacing);
    // Removes triangles with two equal corners; returns how many.
    uint32_t removeDegenerateTriangles();
    // Removes triangles whose corner set repeats an earlier one, and every
    // triangle of a corner set that comes in both orientations; returns how many.
    uint32_t removeDoubledTriangles();
    // Splits vertices so that no edge has more than two triangles.
    void makeManifold();
    // Turns triangles so that neighbours agree in orientation.
    MeshEdgeStatistics orientFaces();

    // Unit normal (P0 - P1) x (P2 - P1) of triangle t at the given time.
    Vec3f triangleNormal(uint32_t t, float time) const;
    AnimationDomain animationDomain() const;

    std::vector<std::unique_ptr<VVertex>> vertices;
    std::vector<VTriangle> triangles;
    std::vector<uint32_t> extra; // kept for the builder; import only clears it

    // Why the last read failed; empty after a successful one.
    const std::string& lastError() const { return mLastError; }
    // What the orientation step of the last repair found.
    const MeshEdgeStatistics& edgeStatistics() const { return mEdgeStatistics; }

  private:
    bool failRead(const std::string& message);
    // The end of both X3D reads: refuses a scene that did not load (error
    // says why), else collects its mesh and repairs it.
    bool takeX3DScene(const X3DScene* scene, std::string error, const X3DLimits& limits);
    // Refuses a mesh with a vertex the hierarchy could not bound.
    bool checkVertexPositions();
    std::string mLastError;
    MeshEdgeStatistics mEdgeStatistics;
};
