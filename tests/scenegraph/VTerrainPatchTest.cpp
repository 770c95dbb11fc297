// A terrain patch's grid: every point sits in the strips that share it,
// normals follow the slope, and the sphere holds the whole patch.

#include "VTerrainPatch.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
TEST(TerrainPatch, HeightsLandInBothStripsAndShapeNormalsAndSphere) {
    const uint32_t N = 4;
    const float edge = 0.5f;
    VTerrainPatch patch("p", edge, N, false);
    // A plane rising along x with slope 1/2.
    for (uint32_t j = 0; j <= N; ++j)
        for (uint32_t i = 0; i <= N; ++i) patch.setHeight(i, j, 0.5f * (float(i) * edge));
    patch.setHeight(N + 1, 0, 7); // outside: ignored
    patch.init(VTraversalContext());
    for (uint32_t j = 0; j < N; ++j) {
        const std::vector<float>& strip = patch.strip(j);
        ASSERT_EQ(strip.size(), size_t(2 * (N + 1) * VTerrainPatch::kFloatsPerVertex));
        for (uint32_t i = 0; i <= N; ++i)
            for (uint32_t k = 0; k < 2; ++k) {
                const float* v = &strip[(2 * i + k) * VTerrainPatch::kFloatsPerVertex];
                // Centred on the node: x and z run from -1 to 1.
                EXPECT_FLOAT_EQ(v[0], -1 + float(i) * edge);
                EXPECT_FLOAT_EQ(v[2], -1 + float(j + k) * edge);
                EXPECT_FLOAT_EQ(v[1], 0.5f * float(i) * edge) << i << " " << j + k;
                const float n = 1 / std::sqrt(1.25f);
                EXPECT_NEAR(v[3], -0.5f * n, 1e-6);
                EXPECT_NEAR(v[4], n, 1e-6);
                EXPECT_NEAR(v[5], 0, 1e-6);
            }
    }
    EXPECT_EQ(patch.triangleCount(), 2 * N * N);
    BoundingSphere* s = patch.boundingSphere();
    for (float x : {-1.0f, 1.0f})
        for (float z : {-1.0f, 1.0f}) {
            const float y = 0.5f * (x + 1);
            EXPECT_LE(std::hypot(x - s->x, y - s->y, z - s->z), s->r * 1.0001f) << x << " " << z;
        }
}
} // namespace
