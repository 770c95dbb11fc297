#include "CutRefinement.h"
#include "MeshTestSupport.h"
#include "TestFiles.h"
#include "VLODObject3DCreator.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <random>
#include <set>

namespace {
using Tri = std::array<uint32_t, 3>;
using PositionTriangle = std::array<std::array<float, 3>, 3>;

// Triangles by corner positions, rotated so the smallest corner comes first
// (orientation kept), to compare meshes whose vertex indices differ.
template <typename Position> std::multiset<PositionTriangle> byPosition(const std::vector<Tri>& triangles, Position at) {
    std::multiset<PositionTriangle> out;
    for (const Tri& t : triangles) {
        PositionTriangle p;
        for (int k = 0; k < 3; ++k) {
            const Vec3f q = at(t[k]);
            p[k] = {q.x, q.y, q.z};
        }
        std::rotate(p.begin(), std::min_element(p.begin(), p.end()), p.end());
        out.insert(p);
    }
    return out;
}

// The triangles of the arcs that leave the nodes above the cut and enter the rest.
std::vector<Tri> objectCut(const VLODObject3D& h, const std::vector<bool>& above) {
    std::vector<Tri> cut;
    for (const MTArc& a : h.aarray)
        if (above[a.source] && !above[a.dest])
            for (uint32_t t = a.tstart; t < a.tstart + a.tnum; ++t)
                cut.push_back({h.tarray[t].v[0], h.tarray[t].v[1], h.tarray[t].v[2]});
    return cut;
}

// The cut into the drain (node 0): the finest mesh.
std::vector<Tri> finestCut(const VLODObject3D& h) {
    std::vector<bool> above(h.nnum(), true);
    above[0] = false;
    return objectCut(h, above);
}

// The nodes above a random cut: every source node, one in oneIn of the
// others but the drain at random (none for 0), and all their ancestors.
std::vector<bool> randomCut(const VLODObject3D& h, std::mt19937& rng, int oneIn) {
    std::vector<bool> above(h.nnum(), false);
    for (uint32_t n = 1; n < h.nnum(); ++n) above[n] = h.in_arcs[n].empty() || (oneIn && rng() % oneIn == 0);
    for (bool grown = true; grown;) {
        grown = false;
        for (const MTArc& a : h.aarray)
            if (above[a.dest] && !above[a.source]) grown = above[a.source] = true;
    }
    return above;
}

// What keeps a cut from being a mesh: a degenerate triangle or an edge on
// more than two triangles; for a closed, consistently oriented surface also
// an edge used twice in one direction or an open edge. "" when none.
enum Surface { kOpen, kClosed };
std::string meshViolation(const std::vector<Tri>& cut, Surface surface) {
    std::map<std::pair<uint32_t, uint32_t>, int> directed;
    for (const Tri& t : cut) {
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) return "degenerate triangle";
        for (int k = 0; k < 3; ++k) ++directed[{t[k], t[(k + 1) % 3]}];
    }
    for (const auto& [edge, count] : directed) {
        const auto back = directed.find({edge.second, edge.first});
        const int reverse = back == directed.end() ? 0 : back->second;
        if (count + reverse > 2) return "edge on three triangles";
        if (surface == kClosed && count > 1) return "edge used twice in one direction";
        if (surface == kClosed && reverse == 0) return "open edge";
    }
    return "";
}

// Triangles of a cut that face against `outward` (given a corner and the
// right-hand normal): turned over.
size_t turnedTriangles(const VLODObject3D& h, const std::vector<Tri>& cut,
                       bool (*outward)(const Vec3d& corner, const Vec3d& normal)) {
    size_t turned = 0;
    for (const Tri& t : cut) {
        const Vec3d a(h.varray[t[0]].path->evaluate(0)), b(h.varray[t[1]].path->evaluate(0)),
            d(h.varray[t[2]].path->evaluate(0));
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

// The builder's graph of a mesh; minimum error -FLT_MAX makes a node of
// every collapse.
void buildGraph(VLODObject3DCreator& c, const VObject3D& mesh, float minError = -FLT_MAX) {
    c.mMinError = minError;
    AnimationDomain domain;
    c.createMultiTriangulation(mesh, domain);
}

// Source nodes and the final object of a graph, written and read back
// through the file, whose reader checks every structural rule.
void finishAndReadBack(VLODObject3DCreator& c, VLODObject3D& back) {
    c.insertSourceNodes();
    VLODObject3D object;
    c.createFinalObject(object);
    const std::string path = tempPath("built.mvh");
    ASSERT_TRUE(object.write(path));
    ASSERT_TRUE(back.read(path)) << back.lastError();
}

// The whole graph of a sphere, merged, as a hierarchy read back from its file.
void buildSphereHierarchy(VLODObject3D& back, uint32_t minPatchSize, float maxError = FLT_MAX) {
    VObject3D mesh;
    makeSphereMesh(mesh, 3);
    VLODObject3DCreator c;
    c.mMaxError = maxError;
    buildGraph(c, mesh);
    c.mergeNodes(minPatchSize);
    finishAndReadBack(c, back);
}

// A view from `eye` with error bound e. The refinement measures only
// distances to the eye, so the view need not turn towards the object.
SelectionView viewFrom(const Vec3d& eye, double e) {
    SelectionView view;
    view.modelView[12] = float(-eye.x);
    view.modelView[13] = float(-eye.y);
    view.modelView[14] = float(-eye.z);
    view.e2 = e * e;
    view.Q = e;
    view.P = 300 * 300;
    return view;
}

// Hand-built graphs: vertices off any common plane, and arcs that carry one
// triangle each.
void addVertices(VLODObject3DCreator& c, int count) {
    for (int v = 0; v < count; ++v)
        c.vertices.push_back({Vec3f(float(v), float(v * v % 7), float(v % 3)), 0, nullptr});
}
void addArc(VLODObject3DCreator& c, uint32_t source, uint32_t dest, Tri corners) {
    const uint32_t arc = uint32_t(c.arcs.size());
    c.arcs.push_back({source, dest, {}, 0, 0});
    c.nodes[source].out.push_back(arc);
    c.nodes[dest].in.push_back(arc);
    c.triangles.push_back({{corners[0], corners[1], corners[2]}});
    c.appendToPatch(arc, uint32_t(c.triangles.size() - 1));
}

class MultiTriangulation : public ::testing::Test {
  protected:
    CapturedLog mLog;
};
} // namespace

// Jittered corners make stars that are not convex, where moving a corner
// onto a neighbour would turn triangles over.
TEST_F(MultiTriangulation, FlatRegionsSimplifyInBaseModeWithoutNodesOrFolds) {
    VObject3D mesh;
    makeFlatGrid(mesh, 12);
    std::mt19937 jitter(3);
    std::uniform_real_distribution<float> offset(-0.4f, 0.4f);
    for (uint32_t y = 1; y < 12; ++y)
        for (uint32_t x = 1; x < 12; ++x)
            mesh.vertices[y * 13 + x] = std::make_unique<VStaticVertex>(Vec3f(x + offset(jitter), y + offset(jitter), 0));
    VLODObject3DCreator c;
    buildGraph(c, mesh, 0); // minimum error 0: cost-0 collapses are base mode
    EXPECT_EQ(c.nodes.size(), 2u);
    VLODObject3D h;
    finishAndReadBack(c, h);
    // No nodes were made: every arc runs from a source node into the drain.
    const std::vector<Tri> patch = finestCut(h);
    EXPECT_LT(patch.size(), mesh.triangles.size());
    EXPECT_EQ(meshViolation(patch, kOpen), "");
    EXPECT_EQ(turnedTriangles(h, patch, up), 0u);
    // The border of the grid stays where it was.
    for (const MTVertex& v : h.varray) {
        const Vec3f p = v.path->evaluate(0);
        EXPECT_TRUE(p.x >= 0 && p.x <= 12 && p.y >= 0 && p.y <= 12 && p.z == 0);
    }
}

TEST_F(MultiTriangulation, AnimatedMeshesKeepAPathPerNewVertex) {
    VObject3D mesh;
    makeSphereMesh(mesh, 2, 3);
    VLODObject3DCreator c;
    buildGraph(c, mesh);
    ASSERT_GT(c.nodes.size(), 2u);
    ASSERT_EQ(c.nodeErrors.size(), c.nodes.size() * 3);
    for (const CreatorVertex& v : c.vertices) {
        ASSERT_EQ(v.path->type(), VVertex::KeyFrameType);
        EXPECT_EQ(static_cast<const VKeyFrameVertex&>(*v.path).keys().size(), 3u);
    }
}

TEST_F(MultiTriangulation, MergedSphereBecomesAReadableHierarchyWithSoundCuts) {
    VLODObject3D h;
    buildSphereHierarchy(h, 8);
    ASSERT_GT(h.m_source_nnum, 0u);
    EXPECT_EQ(h.mDrainNode, 0u);
    EXPECT_GE(double(h.tnum()) / h.anum(), 8.0);
    // Into the drain: the input sphere, 1280 triangles.
    const std::vector<Tri> finest = finestCut(h);
    EXPECT_EQ(finest.size(), 1280u);
    EXPECT_EQ(meshViolation(finest, kClosed), "");
    // Out of the source nodes (those nothing leads to), simplified without
    // limit, and random cuts: closed surfaces facing outwards.
    std::mt19937 rng(23);
    EXPECT_LT(objectCut(h, randomCut(h, rng, 0)).size() * 10, 1280u);
    for (int round = 0; round < 20; ++round) {
        const std::vector<Tri> cut = objectCut(h, randomCut(h, rng, round == 0 ? 0 : 3));
        EXPECT_EQ(meshViolation(cut, kClosed), "") << "round " << round;
        EXPECT_EQ(turnedTriangles(h, cut, awayFromOrigin), 0u) << "round " << round;
    }
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
    // The refined cut's triangles, its nodes sorted into `nodes`.
    auto refined = [&](const Vec3d& eye, double e, std::vector<uint32_t>& nodes) {
        ImpostorSelection cut = sources;
        refinement.refine(h, viewFrom(eye, e), cut);
        nodes = cut.validTriangles;
        std::sort(nodes.begin(), nodes.end());
        std::vector<Tri> mesh;
        for (uint32_t a : cut.validArcs)
            for (uint32_t t = h.aarray[a].tstart; t < h.aarray[a].tstart + h.aarray[a].tnum; ++t)
                mesh.push_back({h.tarray[t].v[0], h.tarray[t].v[1], h.tarray[t].v[2]});
        EXPECT_EQ(meshViolation(mesh, kClosed), "") << "eye at " << length(eye) << ", bound " << e;
        return mesh;
    };
    std::set<size_t> sizes;
    std::vector<uint32_t> nodes;
    for (const Vec3d& direction : {Vec3d(0, 0, 1), normalizeOrZ(Vec3d(1, 1, 1)), normalizeOrZ(Vec3d(-0.3, 0.9, -0.2))})
        for (double distance : {1.3, 3.0, 12.0}) {
            std::vector<uint32_t> coarser;
            for (double e : {8.0, 2.0, 0.5}) {
                sizes.insert(refined(direction * distance, e, nodes).size());
                EXPECT_TRUE(std::includes(nodes.begin(), nodes.end(), coarser.begin(), coarser.end())) << distance << " " << e;
                coarser = nodes;
            }
        }
    EXPECT_GT(sizes.size(), 5u) << "the views reach cuts of many sizes";
    // Close to one side, that side is finer than the far one.
    size_t front = 0, back = 0;
    for (const Tri& t : refined(Vec3d(0, 0, 1.5), 10, nodes)) {
        float z = 0;
        for (uint32_t v : t) z += h.varray[v].path->evaluate(0).z;
        (z > 0 ? front : back) += 1;
    }
    EXPECT_GT(front * 4, back * 5); // a refinement blind to the eye splits them evenly
    EXPECT_EQ(refined(Vec3d(0, 0, 3), 0, nodes).size(), 1280u) << "bound 0: the input sphere";
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
    for (uint32_t n = 0; n < 9; ++n) c.addNode(0, std::span(&errors[n], 1));
    addVertices(c, 40);
    addArc(c, 0, 2, {0, 1, 2});
    addArc(c, 2, 4, {3, 4, 5});
    addArc(c, 2, 3, {6, 7, 8});
    addArc(c, 3, 4, {9, 10, 11});
    for (uint32_t x = 5; x < 9; ++x) { // adjacent triangles: one strip of four
        const uint32_t v = 12 + 4 * (x - 5);
        addArc(c, 2, x, {v, v + 1, v + 2});
        addArc(c, 4, x, {v + 1, v + 3, v + 2});
        addArc(c, x, 1, {v, v + 3, v + 1});
    }
    c.mergeNodes(100);
    EXPECT_LT(c.nodes.size(), 9u); // other merges went ahead
    VLODObject3D h;
    finishAndReadBack(c, h); // the reader refuses a loop
}

// The whole construction on a scanned mesh (holes, parts, vertices split
// where the scan was not manifold), as the pipeline runs it, read back
// through the file reader's structural checks. Base mode is off, so that
// the finest cut is the input itself (flat spots of the scan would
// otherwise be simplified into the drain's patch).
TEST_F(MultiTriangulation, ScannedDragonBecomesAHierarchyWhoseCutsAreMeshes) {
    MORVA_SKIP_WITHOUT_DRAGON();
    VObject3D mesh;
    ASSERT_TRUE(mesh.readPly(dragonPath("dragon_vrip_res3.ply"))) << mesh.lastError();
    VLODObject3DCreator c;
    buildGraph(c, mesh);
    c.mergeNodes(64);
    size_t triangles = 0;
    for (const CreatorArc& a : c.arcs) triangles += a.patch.size();
    // Merges across far apart errors are refused: the walk ends short of 64.
    EXPECT_GE(double(triangles) / double(liveArcs(c)), 16.0);
    VLODObject3D h;
    finishAndReadBack(c, h);
    EXPECT_EQ(h.m_source_nnum, c.m_source_nnum);
    for (const MTArc& a : h.aarray) EXPECT_GT(a.tnum, 0u);
    // Into the drain: the repaired input, triangle for triangle.
    std::vector<Tri> input;
    for (const VTriangle& t : mesh.triangles) input.push_back({t.v[0], t.v[1], t.v[2]});
    EXPECT_TRUE(byPosition(finestCut(h), [&](uint32_t v) { return h.varray[v].path->evaluate(0); }) ==
                byPosition(input, [&](uint32_t v) { return mesh.vertices[v]->evaluate(0); }));
    // Out of the source nodes: the coarse mesh; and random cuts.
    std::mt19937 rng(29);
    const auto coarse = objectCut(h, randomCut(h, rng, 0));
    EXPECT_EQ(meshViolation(coarse, kOpen), "");
    EXPECT_LT(coarse.size() * 5, mesh.triangles.size());
    for (int round = 0; round < 12; ++round)
        EXPECT_EQ(meshViolation(objectCut(h, randomCut(h, rng, 2 + round % 4)), kOpen), "") << "round " << round;
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
    VLODObject3D h;
    finishAndReadBack(c, h);
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
// early; what they leave is still a sound graph the later steps accept. A
// merge to patch size 1, reached already, changes nothing either.
TEST_F(MultiTriangulation, CancelledStepsLeaveASoundGraph) {
    VObject3D mesh;
    makeSphereMesh(mesh, 4);
    VLODObject3DCreator c;
    c.mProgress = [&c](const char*, float fraction) {
        if (fraction >= 0.3f && fraction < 1) c.mCancel = true;
    };
    buildGraph(c, mesh);
    EXPECT_LT(c.edgeCollapses * 2, mesh.vertices.size()); // a whole build collapses nearly every vertex
    for (const auto& [patchSize, cancel] : {std::pair{1u, false}, std::pair{64u, true}}) {
        const size_t nodes = c.nodes.size(), arcs = liveArcs(c);
        c.mCancel = cancel;
        c.mergeNodes(patchSize);
        EXPECT_EQ(c.nodes.size(), nodes) << patchSize;
        EXPECT_EQ(liveArcs(c), arcs) << patchSize;
    }
    c.mCancel = false;
    VLODObject3D h;
    finishAndReadBack(c, h);
    EXPECT_EQ(meshViolation(finestCut(h), kClosed), "");
}
