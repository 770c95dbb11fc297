#pragma once
// The whole construction of a hierarchy file from a mesh file, as the
// creation dialog's "Create Hierarchy" runs it and as `morva build` does:
// import, normalisation into the unit cube, the creator's pipeline and the
// writing of the file. Questions the dialog asks (replace an existing file?)
// are answered by the caller in advance.

#include "VLODObject3DCreator.h"

#include <string>

class CoverageMeasure;

struct CreationSettings {
    bool useMinimum = true; // off: no base mode
    double minimum = 0.0;
    bool useMaximum = false; // off: no collapse is too expensive
    double maximum = 1000.0;
    uint32_t minPatchSize = 1;
    bool replaceExisting = false; // an existing output file is kept unless set
};

struct CreationSummary {
    size_t inputTriangles = 0, vertices = 0, triangles = 0, nodes = 0, arcs = 0, sourceNodes = 0, surfels = 0;
    double seconds = 0;
    std::string outputFile; // where the hierarchy went (a temporary file when none was named)
    bool temporary = false;
};

// Builds input into output (an empty name makes a temporary file). creator
// is reused across runs as the dialog reuses it; its mProgress and mCancel
// reach the caller. False, with the reason in error, when the output is
// read-only or exists and may not be replaced (before the mesh is read),
// when the import fails ("Error importing file"), when the run was
// cancelled, or when the file cannot be written.
bool createHierarchyFile(const std::string& input, const std::string& output, const CreationSettings& settings,
                         VLODObject3DCreator& creator, CoverageMeasure& measure, CreationSummary& summary,
                         std::string& error);

// Moves and scales every vertex so that the mesh's bounding box is centred
// at the origin with its largest extent 1, and prints the box, the offset
// and the factor.
void normalizeMesh(VObject3D& mesh);
