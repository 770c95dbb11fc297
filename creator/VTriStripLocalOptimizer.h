#pragma once
// Cuts a triangle list into few triangle strips by local search in the dual
// graph of the triangles (one node per triangle, one edge per shared side).
// A strip is a path in that graph; two strips are joined along a "tunnel", an
// alternating path of non-strip and strip edges between two strip ends whose
// edges all change state (after A. J. Stewart, "Tunneling for Triangle Strips
// in Continuous Level-of-Detail Meshes", Graphics Interface 2001).
//
// Input contract (the mesh importer's repair guarantees it):
//   - a flat list of triangles, three vertex indices each;
//   - manifold: no side is used by more than two triangles (asserted);
//   - no degenerate triangles (two equal corners) and no two triangles on
//     the same three vertices (asserted).
// Triangles on disconnected pieces of the input end up in separate strips.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class VTriStripLocalOptimizer {
  public:
    using Strip = std::vector<uint32_t>;

    VTriStripLocalOptimizer();
    ~VTriStripLocalOptimizer();
    VTriStripLocalOptimizer(VTriStripLocalOptimizer&&) noexcept;
    VTriStripLocalOptimizer& operator=(VTriStripLocalOptimizer&&) noexcept;

    // Longest tunnel (in dual-graph edges) the search follows.
    static constexpr uint32_t SEARCH_LIMIT = 20;

    // Returns strips in which every three consecutive indices form one input
    // triangle; every input triangle lies in exactly one strip. A strip of n
    // indices holds n - 2 triangles. Strips of one or two triangles keep the
    // input winding. In longer strips the path through the triangles fixes
    // the order of the first one, so with consistently oriented input either
    // all triangles of a strip keep their winding or all are turned over.
    //
    // flag 0 only joins strips whose ends are neighbours (fast, more strips);
    // any other value also re-routes strips along tunnels of up to
    // SEARCH_LIMIT edges. Results never depend on earlier calls.
    std::vector<Strip> optimizeStrips(std::span<const uint32_t> triangleIndices, int flag = 1) const;

    // countIndices(optimizeStrips(triangleIndices, flag)) without writing the
    // strips. For callers that count many small patches: the object keeps its
    // working memory from call to call, so this one is not const.
    size_t countStripIndices(std::span<const uint32_t> triangleIndices, int flag = 1);

    static size_t countStrips(const std::vector<Strip>& strips) { return strips.size(); }
    // Sum of the strip lengths.
    static size_t countIndices(const std::vector<Strip>& strips);
    // Sum of (length - 2) over the strips.
    static size_t countTriangles(const std::vector<Strip>& strips);

  private:
    struct Workspace;
    std::unique_ptr<Workspace> mWorkspace;
};
