#include "InstanceTestScene.h"

#include "LogStream.h"
#include "VLODObject3D.h"

#include <iostream>
#include <random>

namespace {
// The branches' own placement within the tree's frame; the leaves share it.
constexpr float kTreeScale = 0.6661099f;
constexpr float kTreeOffset[3] = {0.0040277f, 0.0166733f, -0.2002064f};
constexpr float kBranchColour[3] = {0.3921569f, 0, 0}, kLeafColour[3] = {0.2f, 0.55f, 0.15f};

void place(VLODObject3DInstance& instance, float x, float y, float z, const float colour[3]) {
    instance.scale = kTreeScale;
    instance.matrix[12] = x + kTreeOffset[0];
    instance.matrix[13] = y + kTreeOffset[1];
    instance.matrix[14] = z + kTreeOffset[2];
    std::copy(colour, colour + 3, instance.color);
}
} // namespace

std::string instanceSceneTerrainFile(const std::string& contentFolder) {
    return contentFolder + "/test/plane1_ih_c2.mvh";
}

bool buildInstanceTestScene(VLODObject3DInstanceManager& manager, const VLODObject3D& terrain,
                            const std::string& contentFolder) {
    manager.clear();
    std::mt19937 random(100);
    std::cout << "ADD OBJECT: TREE" << std::endl;
    const std::string folder = contentFolder + "/test/";
    if (!manager.loadObject(folder + "M_TREE4_branches.mvh", "tree1_b") ||
        !manager.loadObject(folder + "M_TREE4_leafs.mvh", "tree1_l")) {
        manager.clear();
        return false;
    }
    std::cout << "OK" << std::endl << "ADD OBJECT: TERRAIN" << std::endl << "OK" << std::endl;
    std::cout << "create instances ";
    VLODObject3DInstance* branches = manager.createInstance("tree1_b");
    VLODObject3DInstance* leaves = manager.createInstance("tree1_l");
    // Uniform in [-0.45, 0.45], whatever the C library's RAND_MAX.
    auto coordinate = [&random] { return float(double(random()) / double(std::mt19937::max()) * 0.9 - 0.45); };
    const float x = coordinate(), z = coordinate();
    const float height = terrain.heightAbove(1, x, z); // the scene's content stands with y up
    if (branches) place(*branches, x, height, z, kBranchColour);
    if (leaves) place(*leaves, x, height, z, kLeafColour);
    std::cout << " ok" << std::endl;
    return branches && leaves;
}
