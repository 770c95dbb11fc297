#pragma once
// The generated scene: a sky box, a sine terrain of 6 x 6 patches and 75
// placements of an airplane hierarchy (15 models, five nodes each, turned
// and placed from the seed, hovering 1.0 to 1.9 above the ground), plus the
// compass and the motion predictor's marker that the view moves each frame.
// The same seed gives the same scene on every platform: the placements come
// from a generator of the project's own, not the C library's.
//
// The images and the airplane are content beside the program (see
// sceneContentFolder): a missing file leaves its texture or model unloaded,
// and the scene is drawn without it.

#include "VSceneGraph.h"

#include <cstdint>
#include <string>

// The folder holding "textures/", "meshes/" and "test/": MORVA_SCENE_CONTENT
// when set, else "data/scene" beside the program or above it (the build
// tree), else "data/scene" in the working directory, else the working
// directory itself.
std::string sceneContentFolder();

// Builds the scene into graph, which should be empty and draw from a
// resource manager of its own. Needs a current context: images are uploaded
// and hierarchies read with their side files as they are created.
void generateScene(VSceneGraph& graph, uint32_t seed, const std::string& contentFolder);
