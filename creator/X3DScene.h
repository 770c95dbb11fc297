#pragma once
// A small X3D scene layer for the mesh importer: loads the XML encoding of
// X3D (.x3d) into a tree of nodes, walks it, and collects the triangles of its
// indexed face and triangle sets with the enclosing transforms applied.
//
// Only what the importer needs is parsed: the fields of Transform, Coordinate
// and CoordinateDouble, IndexedFaceSet and IndexedTriangleSet, and the
// selection fields of LOD and Switch. Every other element becomes a node with
// just its type. Not handled: the classic VRML encoding (.wrl), Inline,
// prototypes (ProtoDeclare bodies are kept in the tree but contribute no
// geometry; ProtoInstance is not expanded), field values given as child
// <fieldValue> elements, and the scoping of DEF names inside prototypes.

#include "Vec3.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// An axis-angle rotation (radians). The X3D default is no rotation about z.
struct X3DRotation {
    Vec3d axis{0, 0, 1};
    double angle = 0;
};

// One element of the scene. A node written with USE has no fields or children
// of its own: `use` points at the node that carried the DEF, which lives
// earlier in the same tree and outlives this one.
struct X3DNode {
    std::string type; // element name, e.g. "Transform"
    std::string def;  // DEF name, empty when the node has none
    const X3DNode* use = nullptr;
    std::vector<std::unique_ptr<X3DNode>> children;

    // Transform
    Vec3d translation{0, 0, 0};
    Vec3d center{0, 0, 0};
    Vec3d scale{1, 1, 1};
    X3DRotation rotation;
    X3DRotation scaleOrientation;

    // Coordinate and CoordinateDouble: `point`
    std::vector<Vec3d> points;

    // IndexedFaceSet `coordIndex` (polygons ended by -1) or IndexedTriangleSet
    // `index` (groups of three); `ccw` false means the faces wind clockwise.
    std::vector<int32_t> indices;
    bool ccw = true;

    // Switch `whichChoice`: the one child shown, -1 for none.
    int32_t whichChoice = -1;
};

// Deepest element nesting, and deepest nesting with USE references followed,
// that a scene may have; deeper files are refused rather than risking the
// stack of the recursive walks.
inline constexpr int kX3DMaxDepth = 1000;

struct X3DScene {
    std::unique_ptr<X3DNode> root; // the Scene element; never null in a loaded scene
};

// Reads an .x3d file. Returns null and a message naming the file when it
// cannot be opened, is not well-formed XML (with the parser's description and
// byte offset), has no X3D root or no Scene element, or holds something the
// scene cannot be built from: a field this layer parses that is not a list of
// finite numbers of the right count (malformed numbers are refused, not
// skipped), a USE that names no earlier finished DEF or a node of another
// type, an element with both DEF and USE, or nesting beyond kX3DMaxDepth.
// Numbers may be separated by any mix of whitespace and commas. A DEF name
// given twice refers to the later node from then on.
std::unique_ptr<X3DScene> loadX3DScene(const std::string& fileName, std::string& error);
// The same over the bytes of a document already in memory; the messages are
// those above without the file name.
std::unique_ptr<X3DScene> loadX3DSceneData(const std::vector<uint8_t>& bytes, std::string& error);

// Visits every node below the scene root depth first, children before their
// parent, in document order; the root itself is not visited. A USE node is
// visited as itself (its type is its element name) and the node it refers to
// is not visited again through it.
void forEachX3DNode(const X3DScene& scene, const std::function<void(const X3DNode&)>& visit);

struct X3DMesh {
    std::vector<Vec3f> points;
    std::vector<std::array<uint32_t, 3>> triangles; // indices into points, counter-clockwise
};

// What collecting the mesh had to leave out. A shape reached several times
// through USE counts once per time it is reached.
struct X3DMeshReport {
    // Polygons with one or two corners, or with a corner out of range of
    // their Coordinate; triangle groups of an IndexedTriangleSet with a corner
    // out of range, or left incomplete at the end of its index.
    uint64_t skippedFaces = 0;
    // Face and triangle sets without a Coordinate child.
    uint64_t setsWithoutCoordinates = 0;
    // Other geometry found in shapes (e.g. Sphere, Extrusion), by type.
    std::map<std::string, uint64_t> unsupportedGeometry;
};

// Most points, and most triangles, that one collection may produce: USE lets a
// small file instance geometry far beyond what memory holds.
inline constexpr uint64_t kX3DMaxMeshElements = 100'000'000;

// What one collection may produce and walk. Besides the elements, the steps:
// every node reached (once per time USE reaches it) with the children it looks
// at, and every index a reached face set reads. USE lets a small file walk
// empty groups or unusable indices for longer than anyone waits, while
// producing nothing. A face set reads about four indices a triangle, so the
// default leaves room for the largest mesh the element limit allows.
struct X3DLimits {
    uint64_t elements = kX3DMaxMeshElements;
    uint64_t steps = 1'000'000'000;
};

// Collects the triangles of every IndexedFaceSet (polygons fan-triangulated
// from their first corner; the last polygon needs no closing -1) and
// IndexedTriangleSet in the scene, from the point field of the set's first
// Coordinate or CoordinateDouble child, transformed by the enclosing
// Transforms. Each set appends all of its points after those of earlier sets,
// in document order, once per time it is reached through USE. Only the first
// child of an LOD (its finest level) and the chosen child of a Switch
// contribute. Triangles of clockwise sets, and of sets under a mirroring
// transform, are turned so that every triangle's right-hand normal points out
// of its set's front side. mesh and report are replaced.
// Returns false with a message, and leaves the mesh empty, when the scene
// would produce more than limits.elements points or triangles or take more
// than limits.steps (checked before any geometry is built; the element limit
// is capped so that indices fit 32 bits), or when a transformed point lies
// outside float range.
bool collectX3DMesh(const X3DScene& scene, X3DMesh& mesh, X3DMeshReport& report, std::string& error,
                    const X3DLimits& limits = {});
