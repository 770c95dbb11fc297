#include "InstanceTestScene.h"

#include "LogStream.h"
#include "VLODObject3D.h"

#include <iostream>
#include <random>

namespace {
// The branches' scale and their offset from the ground point: the content
// script's tree stands taller than wide, so after building its base lies at
// y = -0.5, which the offset lifts onto the ground.
constexpr float kTreeScale = 0.6661099f;
constexpr float kTreeOffset[3] = {0, 0.5f * kTreeScale, 0};
// Building a hierarchy fits each mesh into the unit cube on its own, so the
// two halves of the content script's tree lie in different frames: a point
// at b in the branches' frame lies at kLeafScale * b + kLeafShift in the
// leaves'. The leaves' instance undoes that.
constexpr float kLeafScale = 1.0755f;
constexpr float kLeafShift[3] = {0.014f, -0.353f, -0.0125f};
constexpr float kBranchColour[3] = {0.3921569f, 0, 0}, kLeafColour[3] = {0.2f, 0.55f, 0.15f};

void place(VLODObject3DInstance& instance, float scale, const float at[3], const float colour[3]) {
    instance.scale = scale;
    std::copy(at, at + 3, instance.matrix + 12);
    std::copy(colour, colour + 3, instance.color);
}
} // namespace

std::string instanceSceneTerrainFile(const std::string& contentFolder) {
    return contentFolder + "/test/plane1_ih_c2.mvh";
}

bool buildInstanceTestScene(VLODObject3DInstanceManager& manager, const VLODObject3D& terrain,
                            const std::string& contentFolder, Vec3f& groundPoint) {
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
    const float branchesAt[3] = {x + kTreeOffset[0], height + kTreeOffset[1], z + kTreeOffset[2]};
    const float leafScale = kTreeScale / kLeafScale;
    const float leavesAt[3] = {branchesAt[0] - leafScale * kLeafShift[0], branchesAt[1] - leafScale * kLeafShift[1],
                               branchesAt[2] - leafScale * kLeafShift[2]};
    if (branches) place(*branches, kTreeScale, branchesAt, kBranchColour);
    if (leaves) place(*leaves, leafScale, leavesAt, kLeafColour);
    std::cout << " ok" << std::endl;
    groundPoint = Vec3f(x, height, z);
    return branches && leaves;
}
