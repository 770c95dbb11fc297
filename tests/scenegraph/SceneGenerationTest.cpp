// The generated scene: the same seed places every airplane node the same,
// another seed elsewhere; 78 named nodes besides the root; every airplane
// hovers 1.0 to 1.9 above the terrain. Without its content folder the scene
// is still built, its images and models unloaded.

#include "SceneGeneration.h"
#include "TestFiles.h"
#include "VTerrain.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {
// Translation and rotation of "Node 1" to "Node 75".
std::vector<std::array<double, 12>> airplanePlacements(uint32_t seed) {
    CapturedLog quiet;
    VSceneGraph graph(nullptr);
    generateScene(graph, seed, tempPath("no-scene-content"));
    EXPECT_EQ(graph.nodeCount(), 79u); // 75 airplanes, compass, predictor, background and the root
    std::vector<std::array<double, 12>> placements;
    for (int k = 1; k <= 75; ++k) {
        const VSceneNode* node = graph.getNode("Node " + std::to_string(k));
        if (!node) {
            ADD_FAILURE() << "no Node " << k;
            continue;
        }
        std::array<double, 12> p{};
        node->getTranslation(p.data());
        node->getRotation(p.data() + 3);
        const double above = p[1] - VTerrain::heightAt(p[0], p[2]);
        EXPECT_GE(above, 1.0 - 1e-9) << k;
        EXPECT_LE(above, 1.9 + 1e-9) << k;
        placements.push_back(p);
    }
    return placements;
}

TEST(SceneGeneration, TheSeedDecidesWhereEveryAirplaneHovers) {
    const auto first = airplanePlacements(7);
    EXPECT_EQ(airplanePlacements(7), first);
    EXPECT_NE(airplanePlacements(8), first);
}
} // namespace
