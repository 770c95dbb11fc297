#pragma once
// Checks and small builders shared by the mesh import tests.

#include "SphereHierarchy.h"
#include "VObject3D.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

inline std::string dragonPath(const std::string& name) { return std::string(MORVA_DRAGON_DIR) + "/" + name; }
inline std::string assimpModel(const std::string& name) { return std::string(MORVA_ASSIMP_MODELS_DIR) + "/" + name; }

inline void addVertex(VObject3D& mesh, float x, float y, float z) {
    mesh.vertices.push_back(std::make_unique<VStaticVertex>(Vec3f(x, y, z)));
}
inline void addTriangle(VObject3D& mesh, uint32_t a, uint32_t b, uint32_t c) { mesh.triangles.push_back({{a, b, c}}); }

// An n x n grid of quads in the plane z = 0, two triangles each, wound to
// face +z.
inline void makeFlatGrid(VObject3D& mesh, uint32_t n) {
    for (uint32_t y = 0; y <= n; ++y)
        for (uint32_t x = 0; x <= n; ++x) addVertex(mesh, float(x), float(y), 0);
    for (uint32_t y = 0; y < n; ++y)
        for (uint32_t x = 0; x < n; ++x) {
            uint32_t v = y * (n + 1) + x;
            addTriangle(mesh, v, v + 1, v + n + 2);
            addTriangle(mesh, v, v + n + 2, v + n + 1);
        }
}

// Corner sets of the triangles, orientation and rotation ignored.
inline std::multiset<std::array<uint32_t, 3>> cornerSets(const VObject3D& mesh) {
    std::multiset<std::array<uint32_t, 3>> sets;
    for (const VTriangle& t : mesh.triangles) {
        std::array<uint32_t, 3> k = {t.v[0], t.v[1], t.v[2]};
        std::sort(k.begin(), k.end());
        sets.insert(k);
    }
    return sets;
}

// Directed edge -> how many triangles run along it that way. More than one:
// neighbours that disagree in orientation.
inline std::map<std::pair<uint32_t, uint32_t>, int> directedEdges(const VObject3D& mesh) {
    std::map<std::pair<uint32_t, uint32_t>, int> edges;
    for (const VTriangle& t : mesh.triangles)
        for (int k = 0; k < 3; ++k) ++edges[{t.v[k], t.v[(k + 1) % 3]}];
    return edges;
}

// What repair promises: indices in range, no degenerate or doubled triangle,
// at most two triangles per edge, and, for an orientable surface, neighbours
// that agree in orientation (no directed edge used twice).
inline std::string repairViolation(const VObject3D& mesh, bool orientable = true) {
    for (const VTriangle& t : mesh.triangles) {
        for (uint32_t c : t.v)
            if (c >= mesh.vertices.size()) return "index out of range";
        if (t.v[0] == t.v[1] || t.v[1] == t.v[2] || t.v[0] == t.v[2]) return "degenerate triangle";
    }
    const std::multiset<std::array<uint32_t, 3>> corners = cornerSets(mesh);
    if (corners.size() != std::set<std::array<uint32_t, 3>>(corners.begin(), corners.end()).size())
        return "doubled triangle";
    std::map<std::pair<uint32_t, uint32_t>, int> undirected;
    for (const auto& [edge, count] : directedEdges(mesh)) {
        if (count > 1 && orientable) return "two neighbours run along an edge the same way";
        undirected[std::minmax(edge.first, edge.second)] += count;
    }
    for (const auto& [edge, count] : undirected)
        if (count > 2) return "edge with more than two triangles";
    return "";
}

// The full-resolution sphere of a generated hierarchy as a mesh to build from.
inline void makeSphereMesh(VObject3D& mesh, uint32_t depth, uint32_t keyFrames = 1) {
    VLODObject3D sphere;
    makeSphereHierarchy(sphere, {depth, keyFrames, false});
    for (const MTVertex& v : sphere.varray) mesh.vertices.push_back(v.path->clone());
    for (const MTArc& arc : sphere.aarray)
        if (arc.dest == 0)
            for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t)
                addTriangle(mesh, sphere.tarray[t].v[0], sphere.tarray[t].v[1], sphere.tarray[t].v[2]);
}
