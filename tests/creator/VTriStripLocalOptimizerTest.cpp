#include "VTriStripLocalOptimizer.h"

#include "SphereHierarchy.h"
#include "VLODObject3D.h"
#include "VObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <span>
#include <vector>

namespace {
using Strips = std::vector<VTriStripLocalOptimizer::Strip>;
using Key = std::array<uint32_t, 3>;

Key sortedKey(uint32_t a, uint32_t b, uint32_t c) {
    Key k = {a, b, c};
    std::sort(k.begin(), k.end());
    return k;
}

// True when (a, b, c) is a rotation of (x, y, z), i.e. the same winding.
bool sameWinding(const Key& abc, const Key& xyz) {
    for (int r = 0; r < 3; ++r)
        if (abc[0] == xyz[r] && abc[1] == xyz[(r + 1) % 3] && abc[2] == xyz[(r + 2) % 3]) return true;
    return false;
}

// Every three consecutive indices of every strip must be an input triangle,
// and every input triangle must come out exactly once.
void expectExactCover(const std::vector<uint32_t>& input, const Strips& strips) {
    std::map<Key, int> left;
    for (size_t i = 0; i < input.size(); i += 3)
        ++left[sortedKey(input[i], input[i + 1], input[i + 2])];
    size_t decoded = 0;
    for (size_t s = 0; s < strips.size(); ++s) {
        const auto& strip = strips[s];
        ASSERT_GE(strip.size(), 3u) << "strip " << s;
        for (size_t i = 0; i + 2 < strip.size(); ++i) {
            auto it = left.find(sortedKey(strip[i], strip[i + 1], strip[i + 2]));
            ASSERT_TRUE(it != left.end()) << "strip " << s << " position " << i << " is no input triangle";
            ASSERT_GT(it->second, 0) << "strip " << s << " position " << i << " repeats a triangle";
            --it->second;
            ++decoded;
        }
    }
    EXPECT_EQ(decoded, input.size() / 3);
    EXPECT_EQ(VTriStripLocalOptimizer::countTriangles(strips), input.size() / 3);
}

// For consistently oriented input, the triangles of one strip either all keep
// their winding or are all turned over (strip triangle i is drawn as
// (i, i+1, i+2) for even i and (i+1, i, i+2) for odd i).
void expectStripWindingConsistent(const std::vector<uint32_t>& input, const Strips& strips) {
    std::map<Key, Key> ordered;
    for (size_t i = 0; i < input.size(); i += 3)
        ordered[sortedKey(input[i], input[i + 1], input[i + 2])] = {input[i], input[i + 1], input[i + 2]};
    for (size_t s = 0; s < strips.size(); ++s) {
        const auto& strip = strips[s];
        const Key first = ordered[sortedKey(strip[0], strip[1], strip[2])];
        const bool kept = sameWinding({strip[0], strip[1], strip[2]}, first);
        for (size_t i = 1; i + 2 < strip.size(); ++i) {
            const Key drawn = i % 2 == 0 ? Key{strip[i], strip[i + 1], strip[i + 2]}
                                         : Key{strip[i + 1], strip[i], strip[i + 2]};
            const Key original = ordered[sortedKey(strip[i], strip[i + 1], strip[i + 2])];
            ASSERT_EQ(sameWinding(drawn, original), kept) << "strip " << s << " triangle " << i;
        }
    }
}

// A w x h grid of quads, each cut into two counter-clockwise triangles. The
// diagonal alternates like a checkerboard when 'alternate' is set, so that
// both valence 4 and valence 8 vertices occur.
std::vector<uint32_t> makeGrid(uint32_t w, uint32_t h, bool alternate) {
    std::vector<uint32_t> tris;
    auto at = [w](uint32_t i, uint32_t j) { return j * (w + 1) + i; };
    for (uint32_t j = 0; j < h; ++j) {
        for (uint32_t i = 0; i < w; ++i) {
            const uint32_t a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            if (alternate && (i + j) % 2 == 1)
                tris.insert(tris.end(), {a, b, d, b, c, d});
            else
                tris.insert(tris.end(), {a, b, c, a, c, d});
        }
    }
    return tris;
}

// The closed subdivided icosahedron: the triangles the generated hierarchy
// carries into the drain (node 0).
std::vector<uint32_t> makeSphere(uint32_t depth) {
    VLODObject3D object;
    makeSphereHierarchy(object, {depth, 1, false});
    std::vector<uint32_t> tris;
    for (const MTArc& arc : object.aarray) {
        if (arc.dest != 0) continue;
        for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t)
            tris.insert(tris.end(), object.tarray[t].v, object.tarray[t].v + 3);
    }
    return tris;
}

Strips optimize(const std::vector<uint32_t>& tris, int flag = 1) {
    return VTriStripLocalOptimizer().optimizeStrips(tris, flag);
}

// A closed band of 2k triangles between two rings of k vertices, the ring
// vertices numbered from 'first'. A strip along it could close into a ring.
std::vector<uint32_t> makeBand(uint32_t k, uint32_t first) {
    std::vector<uint32_t> tris;
    for (uint32_t i = 0; i < k; ++i) {
        const uint32_t t0 = first + i, t1 = first + (i + 1) % k, b0 = first + k + i,
                       b1 = first + k + (i + 1) % k;
        tris.insert(tris.end(), {b0, b1, t0, t0, b1, t1});
    }
    return tris;
}

std::vector<uint32_t> concat(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

//  2---3      two triangles sharing a side
//  | \ |
//  0---1
//
//     3---2
//    / \ / \     closed fan: six triangles around vertex 0
//   4---0---1
//    \ / \ /
//     5---6
//
// Tunnel: four triangles x, a, b, m around vertex 0 and s beyond side 2-3:
//
//          6
//         / \     s
//        3---2
//       / \ / \   a, x
//      4---0---1
//       \ /       b (above 0-4), m (below)
//        5
//
// In index order x joins a, and a joins b. Neither m nor s can join an end
// directly: b-m would be the third turn about vertex 0 in a row, and a is
// inside the strip. The tunnel s-a-b-m hands a over to s and lets b join m;
// joining neighbouring ends alone (flag 0) leaves three strips.
TEST(VTriStripLocalOptimizerTest, SmallMeshesGiveTheirStrips) {
    std::vector<uint32_t> fan;
    for (uint32_t i = 1; i <= 6; ++i) fan.insert(fan.end(), {0, i, i % 6 + 1});
    // x, a (its side to b comes before its side to s), b, s, m
    const std::vector<uint32_t> tunnel = {0, 1, 2, 3, 0, 2, 0, 3, 4, 3, 2, 6, 0, 4, 5};
    struct Case {
        const char* what;
        std::vector<uint32_t> tris;
        int flag;
        std::vector<size_t> stripSizes;
        Strips exact; // when only one answer is right
    };
    const Case cases[] = {
        {"empty", {}, 1, {}, {}},
        {"one triangle", {7, 3, 5}, 1, {3}, {{7, 3, 5}}},
        {"two sharing a side", {0, 1, 2, 1, 3, 2}, 1, {4}, {}},
        // The second shares only vertex 2 with the first.
        {"no shared sides", {0, 1, 2, 2, 3, 4, 10, 11, 12}, 1, {3, 3, 3}, {}},
        // A sequential strip holds at most three triangles of a fan in a row,
        // and the six cannot close into a ring.
        {"closed fan", fan, 1, {5, 5}, {}},
        // Each band becomes one open strip of all its triangles, even though
        // the search goes on while two strips are left and the two ends of
        // each strip are neighbours.
        {"two closed bands", concat(makeBand(12, 0), makeBand(5, 100)), 1, {2 * 12 + 2, 2 * 5 + 2}, {}},
        // x-a-s starts at x, which turns about 2 for a; b-m starts at b.
        {"tunnel", tunnel, 1, {5, 4}, {{1, 0, 2, 3, 6}, {3, 4, 0, 5}}},
        {"tunnel, neighbour joins only", tunnel, 0, {5, 3, 3}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Strips strips = optimize(c.tris, c.flag);
        expectExactCover(c.tris, strips);
        expectStripWindingConsistent(c.tris, strips);
        std::vector<size_t> sizes;
        for (const auto& strip : strips) sizes.push_back(strip.size());
        EXPECT_EQ(sizes, c.stripSizes);
        if (!c.exact.empty()) {
            EXPECT_EQ(strips, c.exact);
        }
    }
    // A strip of two keeps the input winding.
    const Strips two = optimize({0, 1, 2, 1, 3, 2});
    EXPECT_TRUE(sameWinding({two[0][0], two[0][1], two[0][2]}, {0, 1, 2}));
}

TEST(VTriStripLocalOptimizerTest, GridsAreCoveredExactlyByFewStrips) {
    struct Size {
        uint32_t w, h;
    };
    for (const Size size :
         {Size{1, 1}, Size{1, 9}, Size{9, 1}, Size{2, 3}, Size{5, 7}, Size{16, 16}, Size{40, 25}}) {
        for (bool checkered : {false, true}) {
            SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) +
                         (checkered ? " checkered" : ""));
            const std::vector<uint32_t> tris = makeGrid(size.w, size.h, checkered);
            const Strips strips = optimize(tris);
            expectExactCover(tris, strips);
            expectStripWindingConsistent(tris, strips);
            const size_t triangles = tris.size() / 3;
            if (!checkered) {
                // Every row of quads is a zigzag strip of its own; a row
                // cannot turn into the next without a fan turn at the border.
                EXPECT_LE(strips.size(), size.w == 1 ? 1 : size.h);
            } else if (triangles >= 100) {
                // Four triangles around a vertex in a row break any strip
                // along a checkered row; strips still hold several triangles.
                EXPECT_LE(strips.size() * 3, triangles);
            }
        }
    }
}

// Odd depths with tunnels, even ones with neighbour joins alone.
TEST(VTriStripLocalOptimizerTest, SphereIsCoveredExactlyByFewStrips) {
    for (uint32_t depth = 1; depth <= 5; ++depth) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        const std::vector<uint32_t> tris = makeSphere(depth);
        ASSERT_EQ(tris.size() / 3, 20u << (2 * depth));
        const int flag = int(depth % 2);
        const Strips strips = optimize(tris, flag);
        expectExactCover(tris, strips);
        expectStripWindingConsistent(tris, strips);
        if (depth >= 3 && flag) {
            EXPECT_LE(strips.size() * 6, tris.size() / 3);
        }
    }
}

// A scanned mesh: irregular valences, holes and parts the grids and spheres
// lack. Its orientation is not consistent everywhere, so winding is not checked.
TEST(VTriStripLocalOptimizerTest, ScannedDragonIsCoveredExactly) {
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res3.ply")) << mesh.lastError();
    std::vector<uint32_t> tris;
    for (const VTriangle& t : mesh.triangles)
        tris.insert(tris.end(), t.v, t.v + 3);
    const Strips strips = optimize(tris);
    expectExactCover(tris, strips);
    EXPECT_LE(strips.size() * 4, tris.size() / 3);
    // Tunnels find joins that neighbouring ends alone do not.
    const Strips neighbourJoins = optimize(tris, 0);
    expectExactCover(tris, neighbourJoins);
    EXPECT_LT(strips.size(), neighbourJoins.size());
}

// The strips depend only on the triangles, not on the vertex numbers'
// magnitude or on earlier calls.
TEST(VTriStripLocalOptimizerTest, CallsAreIndependentAndIndicesMayBeSparse) {
    const std::vector<uint32_t> grid = makeGrid(12, 9, true);
    std::vector<uint32_t> sparse = grid;
    for (uint32_t& v : sparse)
        v = 4000000000u - 7 * v;
    const VTriStripLocalOptimizer optimizer;
    const Strips first = optimizer.optimizeStrips(grid);
    expectExactCover(makeSphere(2), optimizer.optimizeStrips(makeSphere(2)));
    const Strips again = optimizer.optimizeStrips(grid);
    EXPECT_EQ(first, again);
    const Strips sparseStrips = optimizer.optimizeStrips(sparse);
    expectExactCover(sparse, sparseStrips);
    ASSERT_EQ(sparseStrips.size(), first.size());
    for (size_t s = 0; s < first.size(); ++s)
        for (size_t i = 0; i < first[s].size(); ++i)
            EXPECT_EQ(sparseStrips[s][i], 4000000000u - 7 * first[s][i]);
}

// The counting entry point reuses its working memory from call to call: a
// large input after small ones and a small one after a large one must count
// what the strips themselves hold. Patches of the dragon of many sizes, in
// an order that grows and shrinks.
TEST(VTriStripLocalOptimizerTest, CountingMatchesTheStripsAcrossReusedCalls) {
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res4.ply")) << mesh.lastError();
    std::vector<uint32_t> tris;
    for (const VTriangle& t : mesh.triangles)
        tris.insert(tris.end(), t.v, t.v + 3);
    VTriStripLocalOptimizer counter;
    const VTriStripLocalOptimizer optimizer;
    for (size_t size : {1u, 2u, 37u, 4000u, 3u, 900u, 17u, 8000u, 64u}) {
        for (size_t start : {size_t(0), tris.size() / 3 - size}) {
            const std::span<const uint32_t> patch(tris.data() + 3 * start, 3 * size);
            for (int flag : {1, 0})
                EXPECT_EQ(counter.countStripIndices(patch, flag),
                          VTriStripLocalOptimizer::countIndices(optimizer.optimizeStrips(patch, flag)))
                    << size << " triangles from " << start << ", flag " << flag;
        }
    }
    EXPECT_EQ(counter.countStripIndices({}), 0u);
}

TEST(VTriStripLocalOptimizerDeathTest, SideOfThreeTrianglesIsRefused) {
    // Three triangles on side 0-1.
    const std::vector<uint32_t> tris = {0, 1, 2, 1, 0, 3, 0, 1, 4};
    EXPECT_DEATH(optimize(tris), "n2 == NO_NODE");
}
} // namespace
