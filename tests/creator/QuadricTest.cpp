// Placing a collapsed pair by its quadric: singular systems fall back to the
// pair's segment, and an optimum far from the pair is not taken.

#include "Quadric.h"

#include <gtest/gtest.h>

namespace {
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
} // namespace
