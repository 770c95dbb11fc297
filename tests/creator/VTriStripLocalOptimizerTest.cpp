#include "VTriStripLocalOptimizer.h"

#include "MeshTestSupport.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <map>

namespace {
using Strips = std::vector<VTriStripLocalOptimizer::Strip>;
using Key = std::array<uint32_t, 3>;

Key sorted(Key k) {
    std::sort(k.begin(), k.end());
    return k;
}

// True when (a, b, c) is a rotation of (x, y, z), i.e. the same winding.
bool sameWinding(const Key& abc, const Key& xyz) {
    for (int r = 0; r < 3; ++r)
        if (abc[0] == xyz[r] && abc[1] == xyz[(r + 1) % 3] && abc[2] == xyz[(r + 2) % 3]) return true;
    return false;
}

// Every input triangle must be drawn exactly once and nothing else, strip
// triangle i drawn as (i, i+1, i+2) for even i and (i+1, i, i+2) for odd i.
// For consistently oriented input (checkWinding), the triangles of one strip
// must also all keep their winding or all be turned over.
void expectExactCover(const std::vector<uint32_t>& input, const Strips& strips, bool checkWinding = true) {
    std::map<Key, Key> left; // triangles not drawn yet: sorted corners -> the input's
    for (size_t i = 0; i < input.size(); i += 3)
        left[sorted({input[i], input[i + 1], input[i + 2]})] = {input[i], input[i + 1], input[i + 2]};
    for (size_t s = 0; s < strips.size(); ++s) {
        const auto& strip = strips[s];
        ASSERT_GE(strip.size(), 3u) << "strip " << s;
        bool kept = true;
        for (size_t i = 0; i + 2 < strip.size(); ++i) {
            const Key drawn = i % 2 ? Key{strip[i + 1], strip[i], strip[i + 2]} : Key{strip[i], strip[i + 1], strip[i + 2]};
            const auto it = left.find(sorted(drawn));
            ASSERT_TRUE(it != left.end()) << "strip " << s << " position " << i << " is no input triangle or repeats one";
            if (i == 0) kept = sameWinding(drawn, it->second);
            ASSERT_TRUE(!checkWinding || sameWinding(drawn, it->second) == kept) << "strip " << s << " triangle " << i;
            left.erase(it);
        }
    }
    EXPECT_TRUE(left.empty()) << left.size() << " input triangles not drawn";
    EXPECT_EQ(VTriStripLocalOptimizer::countTriangles(strips), input.size() / 3);
}

// A w x h grid of quads, each cut into two counter-clockwise triangles. The
// diagonal alternates like a checkerboard when 'alternate' is set, so that
// both valence 4 and valence 8 vertices occur.
std::vector<uint32_t> makeGrid(uint32_t w, uint32_t h, bool alternate) {
    std::vector<uint32_t> tris;
    auto at = [w](uint32_t i, uint32_t j) { return j * (w + 1) + i; };
    for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i) {
            const uint32_t a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            if (alternate && (i + j) % 2 == 1)
                tris.insert(tris.end(), {a, b, d, b, c, d});
            else
                tris.insert(tris.end(), {a, b, c, a, c, d});
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
        const uint32_t t0 = first + i, t1 = first + (i + 1) % k, b0 = first + k + i, b1 = first + k + (i + 1) % k;
        tris.insert(tris.end(), {b0, b1, t0, t0, b1, t1});
    }
    return tris;
}

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
    std::vector<uint32_t> bands = makeBand(12, 0), small = makeBand(5, 100);
    bands.insert(bands.end(), small.begin(), small.end());
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
        // Six triangles around vertex 0: a sequential strip holds at most
        // three triangles of a fan in a row, and the six cannot close into a ring.
        {"closed fan", fan, 1, {5, 5}, {}},
        // Each band becomes one open strip of all its triangles, even though
        // the search goes on while two strips are left and the two ends of
        // each strip are neighbours.
        {"two closed bands", bands, 1, {2 * 12 + 2, 2 * 5 + 2}, {}},
        // x-a-s starts at x, which turns about 2 for a; b-m starts at b.
        {"tunnel", tunnel, 1, {5, 4}, {{1, 0, 2, 3, 6}, {3, 4, 0, 5}}},
        {"tunnel, neighbour joins only", tunnel, 0, {5, 3, 3}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Strips strips = optimize(c.tris, c.flag);
        expectExactCover(c.tris, strips);
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
    const uint32_t sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {16, 16}, {40, 25}};
    for (const auto& [w, h] : sizes) {
        for (bool checkered : {false, true}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (checkered ? " checkered" : ""));
            const std::vector<uint32_t> tris = makeGrid(w, h, checkered);
            const Strips strips = optimize(tris);
            expectExactCover(tris, strips);
            // Huge, sparse vertex numbers give the same strips, renumbered.
            std::vector<uint32_t> sparse = tris;
            Strips renumbered = strips;
            for (uint32_t& v : sparse) v = 4000000000u - 7 * v;
            for (auto& strip : renumbered)
                for (uint32_t& v : strip) v = 4000000000u - 7 * v;
            EXPECT_EQ(optimize(sparse), renumbered);
            const size_t triangles = tris.size() / 3;
            if (!checkered) {
                // Every row of quads is a zigzag strip of its own; a row
                // cannot turn into the next without a fan turn at the border.
                EXPECT_LE(strips.size(), w == 1 ? 1 : h);
            } else if (triangles >= 100) {
                // Four triangles around a vertex in a row break any strip
                // along a checkered row; strips still hold several triangles.
                EXPECT_LE(strips.size() * 3, triangles);
            }
        }
    }
}

// A scanned mesh: irregular valences, holes and parts the grids lack. Its
// orientation is not consistent everywhere, so winding is not checked.
// Tunnels find joins that neighbouring ends alone do not. The counting entry
// point reuses its working memory from call to call: patches of many sizes,
// in an order that grows and shrinks, must count what their strips hold.
TEST(VTriStripLocalOptimizerTest, ScannedDragonIsCoveredExactlyAndCountedAlike) {
    MORVA_SKIP_WITHOUT_DRAGON();
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(dragonPath("dragon_vrip_res3.ply"))) << mesh.lastError();
    std::vector<uint32_t> tris;
    for (const VTriangle& t : mesh.triangles) tris.insert(tris.end(), t.v, t.v + 3);
    const Strips strips = optimize(tris), neighbourJoins = optimize(tris, 0);
    expectExactCover(tris, strips, false);
    expectExactCover(tris, neighbourJoins, false);
    EXPECT_LE(strips.size() * 4, tris.size() / 3);
    EXPECT_LT(strips.size(), neighbourJoins.size());

    VTriStripLocalOptimizer counter;
    for (size_t size : {1u, 2u, 37u, 4000u, 3u, 900u, 17u, 8000u, 64u})
        for (size_t start : {size_t(0), tris.size() / 3 - size}) {
            const std::vector<uint32_t> patch(tris.begin() + 3 * start, tris.begin() + 3 * (start + size));
            for (int flag : {1, 0})
                EXPECT_EQ(counter.countStripIndices(patch, flag),
                          VTriStripLocalOptimizer::countIndices(optimize(patch, flag)))
                    << size << " triangles from " << start << ", flag " << flag;
        }
    EXPECT_EQ(counter.countStripIndices({}), 0u);
}

TEST(VTriStripLocalOptimizerDeathTest, SideOfThreeTrianglesIsRefused) {
    // Three triangles on side 0-1.
    const std::vector<uint32_t> tris = {0, 1, 2, 1, 0, 3, 0, 1, 4};
    EXPECT_DEATH(optimize(tris), "n2 == NO_NODE");
}
} // namespace
