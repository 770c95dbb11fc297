#pragma once
// The test scene of the instance manager: a tree (its branches and its
// leaves, two hierarchies) placed through the instance manager at a point of
// a terrain model drawn beside it, chosen from a fixed seed.

#include "VLODObject3DInstanceManager.h"
#include "Vec3.h"

#include <string>

class VLODObject3D;

// Empties the manager, registers "tree1_b" and "tree1_l" from the content
// folder's "test/M_TREE4_branches.mvh" and "test/M_TREE4_leafs.mvh" and
// places one instance of each on the terrain, at groundPoint. False when a
// tree cannot be read (the manager says why); the manager is then empty.
// Needs a current context.
bool buildInstanceTestScene(VLODObject3DInstanceManager& manager, const VLODObject3D& terrain,
                            const std::string& contentFolder, Vec3f& groundPoint);

// Where the terrain model of the scene lies in the content folder.
std::string instanceSceneTerrainFile(const std::string& contentFolder);
