#pragma once
// One headless OpenGL context for a whole test program, with the extension
// entry points loaded and shaders read from the source tree.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

class VLODObject3D;

// What the loader printed while the context was set up.
const std::string& loaderOutput();

// A sphere hierarchy (depth 2, surfels) written under name in the temporary
// folder and read back with its impostors and side files, as the view reads.
::testing::AssertionResult readSphereWithImpostors(VLODObject3D& object, const std::string& name);

// A hierarchy of the dragon mesh (data/dragon/<mesh>) built as `morva build`
// builds it, written under name in the temporary folder; minPatchSize as
// `--patch-size`.
::testing::AssertionResult buildDragonHierarchy(const std::string& mesh, const std::string& name,
                                                uint32_t minPatchSize, std::string& path);
