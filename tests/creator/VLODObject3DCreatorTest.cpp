#include "CutRefinement.h"
#include "MeshTestSupport.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3DCreator.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <random>
#include <set>

namespace {
using Tri = std::array<uint32_t, 3>;
using PositionTriangle = std::array<std::array<float, 3>, 3>;

const VVertex& pathOf(const std::unique_ptr<VVertex>& v) { return *v; }
const VVertex& pathOf(const CreatorVertex& v) { return *v.path; }
const VVertex& pathOf(const MTVertex& v) { return *v.path; }

// Triangles by corner positions, rotated so the smallest corner comes first
// (orientation kept), to compare meshes whose vertex indices differ.
template <typename Vertices, typename Triangles>
std::multiset<PositionTriangle> byPosition(const Vertices& vertices, const Triangles& triangles) {
    std::multiset<PositionTriangle> out;
    for (const auto& t : triangles) {
        PositionTriangle p;
        for (int k = 0; k < 3; ++k) {
            Vec3f q = pathOf(vertices[t[k]]).evaluate(0);
            p[k] = {q.x, q.y, q.z};
        }
        std::rotate(p.begin(), std::min_element(p.begin(), p.end()), p.end());
        out.insert(p);
    }
    return out;
}

std::vector<Tri> trianglesOf(const VObject3D& mesh) {
    std::vector<Tri> out;
    for (const VTriangle& t : mesh.triangles) out.push_back({t.v[0], t.v[1], t.v[2]});
    return out;
}

// "" when the cut holds the input's triangles, by position, one for one.
template <typename Vertices>
std::string differenceFromInput(const Vertices& vertices, const std::vector<Tri>& cut, const VObject3D& mesh) {
    const std::multiset<PositionTriangle> got = byPosition(vertices, cut), input = byPosition(mesh.vertices, trianglesOf(mesh));
    std::vector<PositionTriangle> missing, extra;
    std::set_difference(input.begin(), input.end(), got.begin(), got.end(), std::back_inserter(missing));
    std::set_difference(got.begin(), got.end(), input.begin(), input.end(), std::back_inserter(extra));
    if (missing.empty() && extra.empty()) return "";
    return std::to_string(missing.size()) + " input triangles are not in the cut, " + std::to_string(extra.size()) +
           " of its triangles are not in the input";
}

// The triangles of the working graph's arcs that leave the node set and enter the rest.
std::vector<Tri> cutTriangles(const VLODObject3DCreator& c, const std::vector<bool>& above) {
    std::vector<Tri> cut;
    for (const CreatorNode& node : c.nodes)
        for (uint32_t a : node.out)
            if (above[c.arcs[a].source] && !above[c.arcs[a].dest])
                for (uint32_t t : c.arcs[a].patch) cut.push_back({c.triangles[t].v[0], c.triangles[t].v[1], c.triangles[t].v[2]});
    return cut;
}

// The same for the final object's arcs.
std::vector<Tri> objectCut(const VLODObject3D& h, const std::vector<bool>& above) {
    std::vector<Tri> cut;
    for (const MTArc& a : h.aarray)
        if (above[a.source] && !above[a.dest])
            for (uint32_t t = a.tstart; t < a.tstart + a.tnum; ++t)
                cut.push_back({h.tarray[t].v[0], h.tarray[t].v[1], h.tarray[t].v[2]});
    return cut;
}

std::vector<bool> onlyNode(size_t nodes, uint32_t n) {
    std::vector<bool> above(nodes, false);
    above[n] = true;
    return above;
}

std::vector<bool> allButNode(size_t nodes, uint32_t n) {
    std::vector<bool> above(nodes, true);
    above[n] = false;
    return above;
}

// Adds every ancestor of the marked nodes.
template <typename Arcs> void closeUnderAncestors(std::vector<bool>& above, const Arcs& arcs) {
    for (bool grown = true; grown;) {
        grown = false;
        for (const auto& a : arcs)
            if (above[a.dest] && !above[a.source]) grown = above[a.source] = true;
    }
}

// The nodes above a random cut of the working graph: the source, one in
// oneIn of the others but the drain, and all their ancestors.
std::vector<bool> randomCut(const VLODObject3DCreator& c, std::mt19937& rng, int oneIn) {
    std::vector<bool> above(c.nodes.size(), false);
    for (uint32_t k = 0; k < c.nodes.size(); ++k) above[k] = k == 0 || (k != 1 && rng() % oneIn == 0);
    closeUnderAncestors(above, c.arcs);
    return above;
}

// The same for a hierarchy object: every source node, one in oneIn of the
// others at random (none for 0), and all ancestors.
std::vector<bool> randomCut(const VLODObject3D& h, std::mt19937& rng, int oneIn) {
    std::vector<bool> above(h.nnum(), false);
    for (uint32_t n = 1; n < h.nnum(); ++n) above[n] = h.in_arcs[n].empty() || (oneIn && rng() % oneIn == 0);
    closeUnderAncestors(above, h.aarray);
    return above;
}

// A closed, consistently oriented surface: every edge on exactly two
// triangles, running opposite ways, and no degenerate triangle.
std::string closedSurfaceViolation(const std::vector<Tri>& cut) {
    std::map<std::pair<uint32_t, uint32_t>, int> directed;
    for (const Tri& t : cut) {
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) return "degenerate triangle";
        for (int k = 0; k < 3; ++k)
            if (++directed[{t[k], t[(k + 1) % 3]}] > 1) return "edge used twice in one direction";
    }
    for (const auto& [edge, count] : directed)
        if (!directed.count({edge.second, edge.first})) return "open edge";
    return "";
}

// Every undirected edge on at most two triangles and no triangle degenerate:
// what a cut of a scanned mesh with holes must be. Returns what is wrong.
std::string conformingViolation(const std::vector<Tri>& cut) {
    std::map<std::pair<uint32_t, uint32_t>, int> edges;
    for (const Tri& t : cut) {
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) return "degenerate triangle";
        for (int k = 0; k < 3; ++k)
            if (++edges[std::minmax(t[k], t[(k + 1) % 3])] > 2) return "edge on three triangles";
    }
    return "";
}

// Triangles of a cut that face against `outward` (given a corner and the
// right-hand normal): turned over.
size_t turnedTriangles(const VLODObject3DCreator& c, const std::vector<Tri>& cut,
                       bool (*outward)(const Vec3d& corner, const Vec3d& normal)) {
    size_t turned = 0;
    for (const Tri& t : cut) {
        const Vec3d a(c.vertices[t[0]].path->evaluate(0)), b(c.vertices[t[1]].path->evaluate(0)),
            d(c.vertices[t[2]].path->evaluate(0));
        turned += !outward(a + b + d, cross(b - a, d - a));
    }
    return turned;
}
bool awayFromOrigin(const Vec3d& corners, const Vec3d& normal) { return dot(normal, corners) > 0; }
bool up(const Vec3d&, const Vec3d& normal) { return normal.z > 0; }

size_t liveArcs(const VLODObject3DCreator& c) {
    size_t arcs = 0;
    for (const CreatorArc& a : c.arcs) arcs += !a.patch.empty();
    return arcs;
}

void expectGraphInvariants(const VLODObject3DCreator& c) {
    ASSERT_GE(c.nodes.size(), 2u);
    EXPECT_EQ(c.nodes[1].layer, 0u);
    EXPECT_TRUE(c.nodes[1].out.empty());
    std::vector<int> onArcs(c.triangles.size(), 0);
    for (uint32_t k = 0; k < c.nodes.size(); ++k) {
        uint32_t highest = 0;
        for (uint32_t a : c.nodes[k].out) {
            const CreatorArc& arc = c.arcs[a];
            EXPECT_EQ(arc.source, k);
            EXPECT_FALSE(arc.patch.empty());
            EXPECT_GT(c.nodes[arc.source].layer, c.nodes[arc.dest].layer);
            highest = std::max(highest, c.nodes[arc.dest].layer);
            for (uint32_t t : arc.patch) {
                ++onArcs[t];
                EXPECT_EQ(c.triangles[t].arc, a);
                for (uint32_t v : c.triangles[t].v) EXPECT_LT(v, c.vertices.size());
            }
        }
        if (k != 0 && !c.nodes[k].out.empty()) {
            EXPECT_EQ(c.nodes[k].layer, highest + 1) << k;
        }
        if (k > 1) {
            EXPECT_FALSE(c.nodes[k].in.empty()) << "node " << k << " cannot be reached";
        }
    }
    for (int count : onArcs) EXPECT_LE(count, 1);
}

// The builder's graph of a mesh; minimum error -FLT_MAX makes a node of
// every collapse.
AnimationDomain buildGraph(VLODObject3DCreator& c, const VObject3D& mesh, float minError = -FLT_MAX) {
    c.mMinError = minError;
    AnimationDomain domain;
    c.createMultiTriangulation(mesh, domain);
    return domain;
}

// Builds the whole graph of a sphere into a hierarchy object and reads it
// back through the file, whose reader checks every structural rule.
void buildSphereHierarchy(VLODObject3D& back, uint32_t minPatchSize, float maxError = 3.4028235e38f) {
    VObject3D mesh;
    makeSphereMesh(mesh, 3);
    VLODObject3DCreator c;
    c.mMaxError = maxError;
    buildGraph(c, mesh);
    c.mergeNodes(minPatchSize);
    c.insertSourceNodes();
    VLODObject3D object;
    c.createFinalObject(object);
    const std::string path = tempPath("built.mvh");
    ASSERT_TRUE(object.write(path));
    ASSERT_TRUE(back.read(path)) << back.lastError();
}

// The view of an eye at `eye` looking at the origin, as the selection reads it.
SelectionView lookingAtOrigin(const Vec3d& eye, double e, double p) {
    const Vec3d f = normalizeOrZ(-eye);
    const Vec3d up = std::abs(f.y) > 0.9 ? Vec3d(1, 0, 0) : Vec3d(0, 1, 0);
    const Vec3d side = normalizeOrZ(cross(f, up)), u = cross(side, f);
    const Vec3d rows[3] = {side, u, -f};
    SelectionView view;
    for (int r = 0; r < 3; ++r) {
        view.modelView[r] = float(rows[r].x);
        view.modelView[4 + r] = float(rows[r].y);
        view.modelView[8 + r] = float(rows[r].z);
        view.modelView[12 + r] = float(-dot(rows[r], eye));
    }
    view.e2 = e * e;
    view.Q = e;
    view.P = p * p;
    return view;
}

class MultiTriangulation : public ::testing::Test {
  protected:
    CapturedLog mLog;
};
} // namespace

TEST(Quadric, MeasuresSquaredDistanceToItsPlanes) {
    Quadric q = Quadric::fromPlane(0, 0, 1, -2); // z = 2
    EXPECT_DOUBLE_EQ(q.evaluate({5, -3, 2}), 0);
    EXPECT_DOUBLE_EQ(q.evaluate({0, 0, 5}), 9);
    q.add(Quadric::fromPlane(1, 0, 0, 0)); // x = 0
    EXPECT_DOUBLE_EQ(q.evaluate({2, 7, 5}), 9 + 4);
}

TEST(Quadric, SingularSystemsFallBackToTheSegmentOrTheFirstPoint) {
    // Coplanar: no direction along the segment changes the error.
    Quadric flat = Quadric::fromPlane(0, 0, 1, 0);
    QuadricPlacement p = placeByQuadric(flat, {1, 0, 0}, {0, 1, 0});
    EXPECT_EQ(p.point, Vec3d(1, 0, 0));
    EXPECT_EQ(p.cost, 0);
    // Two planes meeting in a line: the segment crosses it halfway.
    Quadric crease = Quadric::fromPlane(0, 0, 1, 0);
    crease.add(Quadric::fromPlane(0, 0, 1, 0));
    p = placeByQuadric(crease, {0, 0, 1}, {0, 0, -1});
    EXPECT_NEAR(p.point.z, 0, 1e-12);
    EXPECT_NEAR(p.cost, 0, 1e-12);
    // Beyond the segment's end the point is clamped to it.
    p = placeByQuadric(crease, {0, 0, 3}, {0, 0, 1});
    EXPECT_NEAR(p.point.z, 1, 1e-12);
    EXPECT_NEAR(p.cost, 2, 1e-12);
}

// Three nearly parallel planes meet far from the pair: the system is
// regular, its optimum has no error, and taking it would throw the new
// vertex fifty pair lengths away. The point stays on the pair's segment.
TEST(Quadric, FarOptimumOfANearlyFlatNeighbourhoodIsNotTaken) {
    const Vec3d meet(50, 50, 0);
    Quadric q;
    for (Vec3d n : {Vec3d(0, 0, 1), Vec3d(0.01, 0, 1), Vec3d(0, 0.01, 1)}) {
        n = n / length(n);
        q.add(Quadric::fromPlane(n.x, n.y, n.z, -dot(n, meet)));
    }
    ASSERT_NEAR(q.evaluate(meet), 0, 1e-9); // a regular system with that optimum
    QuadricPlacement p = placeByQuadric(q, {0, 0, 0}, {1, 0, 0});
    EXPECT_GE(p.point.x, 0);
    EXPECT_LE(p.point.x, 1);
    EXPECT_EQ(p.point.y, 0);
    EXPECT_EQ(p.point.z, 0);
    // Near the pair the optimum (the corner of three planes) is taken as it is.
    const Vec3d close(0.7, 0.4, 0);
    Quadric corner = Quadric::fromPlane(1, 0, 0, -close.x);
    corner.add(Quadric::fromPlane(0, 1, 0, -close.y));
    corner.add(Quadric::fromPlane(0, 0, 1, -close.z));
    p = placeByQuadric(corner, {0, 0, 0}, {1, 0, 0});
    EXPECT_NEAR(p.point.x, 0.7, 1e-12);
    EXPECT_NEAR(p.point.y, 0.4, 1e-12);
    EXPECT_NEAR(p.cost, 0, 1e-12);
}

TEST_F(MultiTriangulation, EveryCutOfASphereIsAClosedSurface) {
    VObject3D mesh;
    makeSphereMesh(mesh, 3);
    VLODObject3DCreator c;
    buildGraph(c, mesh);
    expectGraphInvariants(c);
    ASSERT_GT(c.nodes.size(), 100u);
    EXPECT_GT(c.nodes[0].layer, 3u);
    // Into the drain: exactly the input mesh.
    EXPECT_EQ(differenceFromInput(c.vertices, cutTriangles(c, allButNode(c.nodes.size(), 1)), mesh), "");

    // Out of the source: the coarse mesh, much smaller.
    const std::vector<Tri> coarse = cutTriangles(c, onlyNode(c.nodes.size(), 0));
    EXPECT_EQ(closedSurfaceViolation(coarse), "");
    // Simplified without limit, yet still a solid facing outwards.
    double volume = 0;
    for (const Tri& t : coarse)
        volume += dot(Vec3d(c.vertices[t[0]].path->evaluate(0)),
                      cross(Vec3d(c.vertices[t[1]].path->evaluate(0)), Vec3d(c.vertices[t[2]].path->evaluate(0)))) / 6;
    EXPECT_GT(volume, 0.1);
    EXPECT_LT(volume, 4.18879); // the unit ball's
    EXPECT_LT(coarse.size() * 10, mesh.triangles.size());

    // Random cuts: closed surfaces, none folded inwards.
    std::mt19937 rng(17);
    for (int round = 0; round < 20; ++round) {
        const std::vector<Tri> cut = cutTriangles(c, randomCut(c, rng, 4));
        EXPECT_EQ(closedSurfaceViolation(cut), "") << "round " << round;
        EXPECT_EQ(turnedTriangles(c, cut, awayFromOrigin), 0u) << "round " << round;
    }
}

TEST_F(MultiTriangulation, NoCandidateBelowTheMaximumErrorLeavesOneArc) {
    VObject3D mesh;
    makeSphereMesh(mesh, 2);
    VLODObject3DCreator c;
    c.mMaxError = 1e-12f;
    buildGraph(c, mesh, 0);
    ASSERT_EQ(c.nodes.size(), 2u);
    ASSERT_EQ(c.nodes[0].out.size(), 1u);
    EXPECT_EQ(c.arcs[c.nodes[0].out[0]].dest, 1u);
    EXPECT_EQ(c.arcs[c.nodes[0].out[0]].patch.size(), mesh.triangles.size());
    EXPECT_EQ(c.edgeCollapses, 0u);
}

TEST_F(MultiTriangulation, NoCollapseFoldsAFlatMeshOver) {
    // Jittered corners make stars that are not convex, where moving a corner
    // onto a neighbour would turn triangles over.
    VObject3D mesh;
    makeFlatGrid(mesh, 12);
    std::mt19937 jitter(3);
    std::uniform_real_distribution<float> offset(-0.4f, 0.4f);
    for (uint32_t y = 1; y < 12; ++y)
        for (uint32_t x = 1; x < 12; ++x)
            mesh.vertices[y * 13 + x] = std::make_unique<VStaticVertex>(Vec3f(x + offset(jitter), y + offset(jitter), 0));
    VLODObject3DCreator c;
    buildGraph(c, mesh);
    expectGraphInvariants(c);
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round)
        EXPECT_EQ(turnedTriangles(c, cutTriangles(c, randomCut(c, rng, 3)), up), 0u) << "round " << round;
}

TEST_F(MultiTriangulation, FlatRegionsSimplifyInBaseModeWithoutNodes) {
    VObject3D mesh;
    makeFlatGrid(mesh, 8);
    VLODObject3DCreator c;
    buildGraph(c, mesh, 0); // minimum error 0: cost-0 collapses are base mode
    EXPECT_EQ(c.nodes.size(), 2u);
    EXPECT_GT(c.edgeCollapses, 0u);
    ASSERT_EQ(c.nodes[0].out.size(), 1u);
    const std::vector<Tri> patch = cutTriangles(c, onlyNode(c.nodes.size(), 0));
    EXPECT_LT(patch.size(), mesh.triangles.size());
    EXPECT_EQ(conformingViolation(patch), "");
    EXPECT_EQ(turnedTriangles(c, patch, up), 0u);
    // The border of the grid stays where it was.
    for (const CreatorVertex& v : c.vertices) {
        Vec3f p = v.path->evaluate(0);
        EXPECT_TRUE(p.x >= 0 && p.x <= 8 && p.y >= 0 && p.y <= 8 && p.z == 0);
    }
}

TEST_F(MultiTriangulation, AnimatedMeshesKeepAPathPerNewVertex) {
    VObject3D mesh;
    makeSphereMesh(mesh, 2, 3);
    VLODObject3DCreator c;
    EXPECT_EQ(buildGraph(c, mesh).keyFrames, 3);
    EXPECT_EQ(c.samples, 3u);
    expectGraphInvariants(c);
    ASSERT_GT(c.nodes.size(), 2u);
    for (uint32_t k = 2; k < c.nodes.size(); ++k) EXPECT_EQ(c.nodes[k].error.size(), 3u);
    for (const CreatorVertex& v : c.vertices) {
        ASSERT_EQ(v.path->type(), VVertex::KeyFrameType);
        EXPECT_EQ(static_cast<const VKeyFrameVertex&>(*v.path).keys().size(), 3u);
    }
}

// Base mode (minimum error 0) takes the scan's flat spots out of the finest
// cut; the coarsest and the finest cut are still meshes.
TEST_F(MultiTriangulation, ScannedDragonBuildsWithSoundCuts) {
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(dragonPath("dragon_vrip_res4.ply"))) << mesh.lastError();
    VLODObject3DCreator c;
    buildGraph(c, mesh, 0);
    expectGraphInvariants(c);
    const std::vector<Tri> coarse = cutTriangles(c, onlyNode(c.nodes.size(), 0));
    EXPECT_LT(coarse.size() * 5, mesh.triangles.size());
    EXPECT_EQ(conformingViolation(coarse), "");
    const std::vector<Tri> finest = cutTriangles(c, allButNode(c.nodes.size(), 1));
    EXPECT_LT(finest.size(), mesh.triangles.size());
    EXPECT_GT(finest.size() * 10, mesh.triangles.size() * 9);
    EXPECT_EQ(conformingViolation(finest), "");
    // More than two triangles on a collapsing edge: the repaired scan has none.
    EXPECT_EQ(mLog.out().find("WARNING"), std::string::npos);
}

TEST_F(MultiTriangulation, MergedSphereBecomesAReadableHierarchyWithSoundCuts) {
    VLODObject3D h;
    buildSphereHierarchy(h, 8);
    ASSERT_GT(h.m_source_nnum, 0u);
    EXPECT_EQ(h.mDrainNode, 0u);
    EXPECT_GE(double(h.tnum()) / h.anum(), 8.0);
    // Into the drain: the input sphere, 1280 triangles.
    const std::vector<Tri> finest = objectCut(h, allButNode(h.nnum(), 0));
    EXPECT_EQ(finest.size(), 1280u);
    EXPECT_EQ(closedSurfaceViolation(finest), "");
    // Out of the source nodes (those nothing leads to), and random cuts.
    std::mt19937 rng(23);
    for (int round = 0; round < 20; ++round)
        EXPECT_EQ(closedSurfaceViolation(objectCut(h, randomCut(h, rng, round == 0 ? 0 : 3))), "") << "round " << round;
    // Coarser nodes never carry a smaller error than what they refine into.
    for (const MTArc& a : h.aarray)
        for (size_t k = 0; k < std::min(h.narray[a.source].error.size(), h.narray[a.dest].error.size()); ++k)
            EXPECT_GE(h.narray[a.source].error[k], h.narray[a.dest].error[k]);
}

// The cuts the viewer refines below the source nodes, from eyes around and
// near a built sphere: each is a closed surface, a smaller bound refines a
// superset, the side facing the eye is finer, and bound 0 is the input.
TEST_F(MultiTriangulation, ViewDependentCutsOfABuiltSphereAreClosedSurfaces) {
    VLODObject3D h;
    buildSphereHierarchy(h, 1);
    for (uint32_t n = 1; n < h.nnum(); ++n) ASSERT_GT(h.narray[n].error[0], 0.0f) << "a curved surface: every step has an error";
    ImpostorSelection sources;
    for (uint32_t n = 1; n < h.nnum(); ++n)
        if (h.in_arcs[n].empty()) sources.validTriangles.push_back(n);
    CutRefinement refinement;
    auto refined = [&](const SelectionView& view) {
        ImpostorSelection cut = sources;
        refinement.refine(h, view, cut);
        return cut;
    };
    auto triangles = [&](const ImpostorSelection& cut) {
        std::vector<Tri> mesh;
        for (uint32_t a : cut.validArcs)
            for (uint32_t t = h.aarray[a].tstart; t < h.aarray[a].tstart + h.aarray[a].tnum; ++t)
                mesh.push_back({h.tarray[t].v[0], h.tarray[t].v[1], h.tarray[t].v[2]});
        return mesh;
    };
    size_t distinctSizes = 0, lastSize = 0;
    for (const Vec3d& direction : {Vec3d(0, 0, 1), normalizeOrZ(Vec3d(1, 1, 1)), normalizeOrZ(Vec3d(-0.3, 0.9, -0.2))})
        for (double distance : {1.3, 3.0, 12.0}) {
            std::vector<uint32_t> coarser;
            for (double e : {8.0, 2.0, 0.5}) {
                const ImpostorSelection cut = refined(lookingAtOrigin(direction * distance, e, 300));
                const auto mesh = triangles(cut);
                EXPECT_EQ(closedSurfaceViolation(mesh), "") << distance << " " << e;
                std::vector<uint32_t> nodes = cut.validTriangles;
                std::sort(nodes.begin(), nodes.end());
                EXPECT_TRUE(std::includes(nodes.begin(), nodes.end(), coarser.begin(), coarser.end())) << distance << " " << e;
                coarser = nodes;
                distinctSizes += mesh.size() != lastSize;
                lastSize = mesh.size();
            }
        }
    EXPECT_GT(distinctSizes, 5u) << "the views reach cuts of many sizes";
    // Close to one side, that side is finer than the far one.
    const ImpostorSelection near = refined(lookingAtOrigin(Vec3d(0, 0, 1.5), 10, 300));
    EXPECT_EQ(closedSurfaceViolation(triangles(near)), "");
    size_t front = 0, back = 0;
    for (const auto& t : triangles(near)) {
        float z = 0;
        for (uint32_t v : t) z += h.varray[v].path->evaluate(0).z;
        (z > 0 ? front : back) += 1;
    }
    EXPECT_GT(front * 4, back * 5); // a refinement blind to the eye splits them evenly
    // Bound 0: the input sphere.
    EXPECT_EQ(triangles(refined(lookingAtOrigin(Vec3d(0, 0, 3), 0, 300))).size(), 1280u);
}

TEST_F(MultiTriangulation, PatchSizeOneMergesNothing) {
    VObject3D mesh;
    makeSphereMesh(mesh, 2);
    VLODObject3DCreator c;
    buildGraph(c, mesh);
    const size_t nodes = c.nodes.size(), arcs = liveArcs(c);
    c.mergeNodes(1);
    EXPECT_EQ(c.nodes.size(), nodes);
    EXPECT_EQ(liveArcs(c), arcs);
}

TEST_F(MultiTriangulation, UnsimplifiedMeshGetsASourceNodePerStrip) {
    VLODObject3D h;
    buildSphereHierarchy(h, 64, 1e-12f);
    // Every node but the drain is a source with one arc into the drain.
    ASSERT_EQ(h.m_source_nnum, h.nnum() - 1);
    uint32_t triangles = 0;
    for (uint32_t n = 1; n < h.nnum(); ++n) {
        ASSERT_EQ(h.narray[n].onum, 1u);
        EXPECT_EQ(h.aarray[h.narray[n].out].dest, 0u);
        triangles += h.aarray[h.narray[n].out].tnum;
    }
    EXPECT_EQ(triangles, 1280u);
    EXPECT_GT(h.m_source_nnum, 1u);
    EXPECT_LT(h.m_source_nnum * 4, 1280u); // strips, not single triangles
}

TEST_F(MultiTriangulation, MergesNeverCloseACycle) {
    // Node 2 reaches 4 directly and through 3. Merging 2 and 4 ranks first:
    // the two share four dests whose patches join into single strips, and
    // its error ratio is the best. But it would leave 2 -> 3 -> 2.
    VLODObject3DCreator c;
    const double errors[9] = {9, 0, 1, 5, 0.5, 0, 0, 0, 0};
    c.nodes.resize(9);
    for (uint32_t n = 0; n < 9; ++n) c.nodes[n].error = {errors[n]};
    for (int v = 0; v < 40; ++v) {
        CreatorVertex vertex;
        vertex.path = std::make_unique<VStaticVertex>(Vec3f(float(v), float(v * v % 7), float(v % 3)));
        c.vertices.push_back(std::move(vertex));
    }
    auto link = [&c](uint32_t source, uint32_t dest, std::array<uint32_t, 3> corners) {
        const uint32_t arc = uint32_t(c.arcs.size());
        c.arcs.push_back({source, dest, {}, 0, 0});
        c.nodes[source].out.push_back(arc);
        c.nodes[dest].in.push_back(arc);
        CreatorTriangle t;
        std::copy(corners.begin(), corners.end(), t.v);
        t.arc = arc;
        c.triangles.push_back(t);
        c.arcs[arc].patch.push_back(uint32_t(c.triangles.size() - 1));
    };
    link(0, 2, {0, 1, 2});
    link(2, 4, {3, 4, 5});
    link(2, 3, {6, 7, 8});
    link(3, 4, {9, 10, 11});
    for (uint32_t x = 5; x < 9; ++x) { // adjacent triangles: one strip of four
        const uint32_t v = 12 + 4 * (x - 5);
        link(2, x, {v, v + 1, v + 2});
        link(4, x, {v + 1, v + 3, v + 2});
        link(x, 1, {v, v + 3, v + 1});
    }
    c.mergeNodes(100);
    c.insertSourceNodes();
    VLODObject3D object;
    c.createFinalObject(object);
    std::vector<uint32_t> layers;
    EXPECT_TRUE(object.computeLayers(layers)); // no loop
    EXPECT_LT(c.nodes.size(), 9u); // other merges went ahead
}

// The whole construction on a scanned mesh (holes, parts, vertices split
// where the scan was not manifold), as the pipeline runs it, read back
// through the file reader's structural checks. Base mode is off, so that
// the finest cut is the input itself (flat spots of the scan would
// otherwise be simplified into the drain's patch).
TEST_F(MultiTriangulation, ScannedDragonBecomesAHierarchyWhoseCutsAreMeshes) {
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(dragonPath("dragon_vrip_res3.ply"))) << mesh.lastError();
    VLODObject3DCreator c;
    buildGraph(c, mesh);
    c.mergeNodes(64);
    size_t triangles = 0;
    for (const CreatorArc& a : c.arcs) triangles += a.patch.size();
    // Merges across far apart errors are refused: the walk ends short of 64.
    EXPECT_GE(double(triangles) / double(liveArcs(c)), 16.0);
    c.insertSourceNodes();
    EXPECT_TRUE(c.nodes[0].out.empty());
    VLODObject3D object;
    c.createFinalObject(object);
    const std::string path = tempPath("dragon.mvh");
    ASSERT_TRUE(object.write(path));
    VLODObject3D h;
    ASSERT_TRUE(h.read(path)) << h.lastError();
    EXPECT_EQ(h.mDrainNode, 0u);
    EXPECT_EQ(h.m_source_nnum, c.m_source_nnum);
    // Layers count down from the sources: every arc runs to a later one.
    std::vector<uint32_t> layers;
    ASSERT_TRUE(h.computeLayers(layers));
    for (const MTArc& a : h.aarray) {
        EXPECT_GT(a.tnum, 0u);
        EXPECT_LT(layers[a.source], layers[a.dest]);
    }

    // Into the drain: the repaired input, triangle for triangle.
    EXPECT_EQ(differenceFromInput(h.varray, objectCut(h, allButNode(h.nnum(), 0)), mesh), "");
    // Out of the source nodes: the coarse mesh; and random cuts.
    std::mt19937 rng(29);
    const auto coarse = objectCut(h, randomCut(h, rng, 0));
    EXPECT_EQ(conformingViolation(coarse), "");
    EXPECT_LT(coarse.size() * 5, mesh.triangles.size());
    for (int round = 0; round < 12; ++round)
        EXPECT_EQ(conformingViolation(objectCut(h, randomCut(h, rng, 2 + round % 4))), "") << "round " << round;
}

TEST_F(MultiTriangulation, EveryStepReportsItsProgressFromZeroToOne) {
    VObject3D mesh;
    makeSphereMesh(mesh, 4);
    VLODObject3DCreator c;
    std::vector<std::string> steps; // in the order they started
    std::map<std::string, std::vector<float>> fractions;
    c.mProgress = [&](const char* step, float fraction) {
        if (steps.empty() || steps.back() != step) steps.push_back(step);
        fractions[step].push_back(fraction);
    };
    buildGraph(c, mesh);
    c.mergeNodes(32);
    c.insertSourceNodes();
    VLODObject3D object;
    c.createFinalObject(object);
    EXPECT_EQ(steps, (std::vector<std::string>{"Create multi triangulation hierarchy", "Increase Patch Size by Merging Nodes",
                                               "Insert source nodes", "Create final object"}));
    for (const auto& [step, reported] : fractions) {
        EXPECT_EQ(reported.front(), 0.0f) << step;
        EXPECT_EQ(reported.back(), 1.0f) << step;
        EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end())) << step;
    }
    // The long steps report along the way, not only at their ends.
    EXPECT_GT(fractions["Create multi triangulation hierarchy"].size(), 50u);
    EXPECT_GT(fractions["Increase Patch Size by Merging Nodes"].size(), 10u);
}

// Cancelling from the progress report stops the builder and the merge step
// early; what they leave is still a sound graph the later steps accept.
TEST_F(MultiTriangulation, CancelledStepsLeaveASoundGraph) {
    VObject3D mesh;
    makeSphereMesh(mesh, 4);
    VLODObject3DCreator full;
    buildGraph(full, mesh);

    VLODObject3DCreator c;
    c.mProgress = [&c](const char*, float fraction) {
        if (fraction >= 0.3f && fraction < 1) c.mCancel = true;
    };
    buildGraph(c, mesh);
    EXPECT_LT(c.edgeCollapses * 2, full.edgeCollapses);
    expectGraphInvariants(c);

    const size_t arcs = liveArcs(c);
    c.mCancel = true; // still set: the merge step stops at once
    c.mergeNodes(64);
    EXPECT_EQ(liveArcs(c), arcs);
    c.mCancel = false;
    c.insertSourceNodes();
    VLODObject3D object;
    c.createFinalObject(object);
    EXPECT_EQ(closedSurfaceViolation(objectCut(object, allButNode(object.nnum(), 0))), "");
}

// Arcs that touch the source or the drain never merge: with no other arc
// the step ends without a merge, the graph as it was.
TEST_F(MultiTriangulation, ArcsAtTheSourceOrDrainAloneMergeNothing) {
    VLODObject3DCreator c;
    c.nodes.resize(4);
    for (CreatorNode& n : c.nodes) n.error = {1};
    for (int v = 0; v < 6; ++v) {
        CreatorVertex vertex;
        vertex.path = std::make_unique<VStaticVertex>(Vec3f(float(v), float(v % 2), 0));
        c.vertices.push_back(std::move(vertex));
    }
    const std::pair<uint32_t, uint32_t> links[] = {{0, 2}, {0, 3}, {2, 1}, {3, 1}, {0, 1}};
    for (auto [source, dest] : links) {
        const uint32_t arc = uint32_t(c.arcs.size());
        c.arcs.push_back({source, dest, {uint32_t(c.triangles.size())}, 0, 0});
        c.nodes[source].out.push_back(arc);
        c.nodes[dest].in.push_back(arc);
        CreatorTriangle t;
        t.v[0] = arc % 6;
        t.v[1] = (arc + 1) % 6;
        t.v[2] = (arc + 2) % 6;
        t.arc = arc;
        c.triangles.push_back(t);
    }
    c.mergeNodes(100);
    EXPECT_EQ(c.nodes.size(), 4u);
    EXPECT_EQ(c.arcs.size(), 5u);
    EXPECT_NE(mLog.out().find("total # of merges: 0\n"), std::string::npos);
    EXPECT_EQ(mLog.out().find("SUCCESS"), std::string::npos);
}
