#include "QuantizedNormal.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

namespace {
MTArc arc(uint32_t source, uint32_t dest) {
    MTArc a;
    a.source = source;
    a.dest = dest;
    return a;
}

// A random DAG: arcs only run from lower to higher rank, ranks shuffled over
// the node indices so that index order says nothing.
void makeRandomDag(VLODObject3D& object, uint32_t nodes, uint32_t arcs, std::mt19937& rng) {
    object.clear();
    object.narray.resize(nodes);
    std::vector<uint32_t> rank(nodes);
    for (uint32_t i = 0; i < nodes; ++i) rank[i] = i;
    std::shuffle(rank.begin(), rank.end(), rng);
    std::uniform_int_distribution<uint32_t> pick(0, nodes - 1);
    while (object.anum() < arcs) {
        uint32_t a = pick(rng), b = pick(rng);
        if (a == b) continue;
        if (a > b) std::swap(a, b);
        object.aarray.push_back(arc(rank[a], rank[b]));
    }
    std::uniform_real_distribution<float> err(0, 1);
    for (MTNode& n : object.narray) n.error = {err(rng), err(rng)};
}

class VLODObject3DModel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initTetrahederLookupTableRec(); }
    CapturedLog mLog; // keeps progress lines out of the test output
};
} // namespace

TEST_F(VLODObject3DModel, IncomingArcsAreListedAscendingPerDest) {
    VLODObject3D object;
    object.narray.resize(4);
    object.aarray = {arc(3, 1), arc(2, 0), arc(3, 0), arc(1, 0), arc(2, 1)};
    object.buildInArcs();
    EXPECT_EQ(object.in_arcs, (std::vector<std::vector<uint32_t>>{{1, 2, 3}, {0, 4}, {}, {}}));
}

// On random DAGs the layering and the error propagation, each against a
// plain fixpoint iteration over the arcs: every node one layer below its
// deepest source, every node's errors raised to the largest it reaches.
TEST_F(VLODObject3DModel, LayersAndErrorsMatchTheFixpointOnRandomDags) {
    std::mt19937 rng(42);
    for (int round = 0; round < 30; ++round) {
        VLODObject3D object;
        makeRandomDag(object, 5 + round * 7, 10 + round * 20, rng);
        std::vector<uint32_t> layers, layer(object.nnum(), 0);
        std::vector<std::vector<float>> errors;
        for (const MTNode& n : object.narray) errors.push_back(n.error);
        for (bool changed = true; changed;) {
            changed = false;
            for (const MTArc& a : object.aarray) {
                if (layer[a.dest] <= layer[a.source]) {
                    layer[a.dest] = layer[a.source] + 1;
                    changed = true;
                }
                for (size_t k = 0; k < 2; ++k)
                    if (errors[a.dest][k] > errors[a.source][k]) {
                        errors[a.source][k] = errors[a.dest][k];
                        changed = true;
                    }
            }
        }
        ASSERT_TRUE(object.computeLayers(layers));
        EXPECT_EQ(layers, layer) << round;
        object.propagateNodeErrors();
        for (uint32_t n = 0; n < object.nnum(); ++n) EXPECT_EQ(object.narray[n].error, errors[n]) << round << " " << n;
    }
}

TEST_F(VLODObject3DModel, ErrorPropagationCopesWithCyclesAndShortLists) {
    VLODObject3D object;
    object.narray.resize(3);
    object.narray[0].error = {5, 1};
    object.narray[1].error = {1};
    object.narray[2].error = {0, 0, 9};
    object.aarray = {arc(1, 0), arc(2, 1), arc(1, 2)};
    object.propagateNodeErrors();
    // Only the key frames both lists have are compared.
    EXPECT_EQ(object.narray[1].error, (std::vector<float>{5}));
    EXPECT_EQ(object.narray[2].error, (std::vector<float>{5, 0, 9}));
}

TEST_F(VLODObject3DModel, TimeDomainOfStaticAndAnimatedObjects) {
    VLODObject3D object;
    makeSphereHierarchy(object, {1, 1, false});
    object.updateTimeDomain();
    EXPECT_EQ(std::tuple(object.mTimeBegin, object.mTimeEnd, object.mKeyFrames), std::tuple(0.0f, 0.0f, 1));
    EXPECT_EQ(object.keyFrameTime(0), 0);

    makeSphereHierarchy(object, {1, 4, false});
    // One vertex with a longer, later path widens the domain.
    object.varray[5].path = std::make_unique<VKeyFrameVertex>(
        std::vector<VKeyFrameVertex::Key>{{{0, 0, 1}, 1}, {{0, 0, 1}, 2}, {{0, 0, 1}, 3}, {{0, 0, 1}, 5}, {{0, 0, 1}, 9}});
    object.updateTimeDomain();
    EXPECT_EQ(std::tuple(object.mTimeBegin, object.mTimeEnd, object.mKeyFrames), std::tuple(0.0f, 9.0f, 5));
    EXPECT_FLOAT_EQ(object.keyFrameTime(2), 4.5f);
    EXPECT_FLOAT_EQ(object.keyFrameTime(4), 9);

    // The times of an extreme domain stay finite.
    object.mTimeBegin = -3e38f;
    object.mTimeEnd = 3e38f;
    object.mKeyFrames = 3;
    for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(object.keyFrameTime(k), (k - 1) * 3e38f) << k;
}

// The triangles' orientation is checked on the one-triangle file.
TEST_F(VLODObject3DModel, VertexNormalsOfTheSpherePointOutward) {
    VLODObject3D object;
    makeSphereHierarchy(object, {2, 1, false});
    object.assignPolygonNormals();
    object.assignVertexNormals();
    for (const MTVertex& v : object.varray) {
        Vec3d p(v.path->evaluate(0));
        ASSERT_TRUE(v.npath);
        EXPECT_EQ(v.npath->type(), VVertex::StaticType);
        EXPECT_GT(dot(p, Vec3d(v.npath->evaluate(0))), 0.97);
        EXPECT_GT(dot(p, Vec3d(dequantizeNormal(v.normal))), 0.97);
    }
}

TEST_F(VLODObject3DModel, AnimatedVertexNormalsFollowTheKeyFrames) {
    VLODObject3D object;
    makeSphereHierarchy(object, {1, 3, false});
    // A vertex moves far out at the last key frame, tilting its neighbours' normals.
    const uint32_t moved = object.tarray[0].v[0], neighbour = object.tarray[0].v[1];
    auto& keys = static_cast<VKeyFrameVertex&>(*object.varray[moved].path).keys();
    keys.back().p = keys.back().p * 10.0f;
    object.varray[moved].normal = 1234;
    object.assignVertexNormals();
    EXPECT_EQ(object.varray[moved].normal, 1234); // the 16-bit normal is left alone with key frames
    for (const MTVertex& v : object.varray) {
        ASSERT_EQ(v.npath->type(), VVertex::KeyFrameType);
        EXPECT_EQ(static_cast<const VKeyFrameVertex&>(*v.npath).keys().size(), 3u);
    }
    // Its neighbour's normal at the last frame differs from the first.
    const VVertex& n = *object.varray[neighbour].npath;
    EXPECT_LT(dot(n.evaluate(object.keyFrameTime(0)), n.evaluate(object.keyFrameTime(2))), 0.99f);
    EXPECT_NEAR(length(Vec3d(n.evaluate(object.keyFrameTime(2)))), 1.0, 1e-6);
}

TEST_F(VLODObject3DModel, GroundHeightIsTheNearestFullResolutionVertex) {
    // A square z = x + y of two triangles, one patch from the source into the
    // drain, and a strip vertex, which counts too.
    //   2-3
    //   |/|
    //   0-1     4 at (10, 10, -3), in a strip
    VLODObject3D object;
    for (const Vec3f& p : {Vec3f(0, 0, 0), Vec3f(1, 0, 1), Vec3f(0, 1, 1), Vec3f(1, 1, 2), Vec3f(10, 10, -3)})
        object.varray.emplace_back().path = std::make_unique<VStaticVertex>(p);
    object.tarray = {{{0, 1, 3}, 0, 0}, {{0, 3, 2}, 0, 0}};
    object.narray.resize(2);
    object.narray[1].onum = 1;
    object.aarray = {arc(1, 0)};
    object.aarray[0].tnum = 2;
    object.aarray[0].strips = {{4}};
    object.buildInArcs();
    const float queries[][3] = {{0.9f, 1.2f, 2}, {-5, -5, 0}, {0.2f, 0.7f, 1}, {9, 9, -3}}; // x, y, height
    for (const auto& q : queries) EXPECT_FLOAT_EQ(object.groundHeight(q[0], q[1]), q[2]) << q[0] << ", " << q[1];
}
