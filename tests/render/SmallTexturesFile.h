#pragma once
// A textures file of known atlas sizes for the texture store tests.

#include "SideFiles.h"
#include "TestFiles.h"
#include "VConfiguration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Six 8 x 8 atlases (2 KiB each without compression) and one of 64 x 64.
inline std::string smallTexturesFile(int32_t compression) {
    VConfiguration::mTextureCompression = compression;
    std::vector<RenderedAtlas> atlases;
    for (uint32_t side : {8u, 8u, 8u, 8u, 8u, 8u, 64u}) {
        RenderedAtlas atlas{side, side, std::vector<float>(4 * side * side, 0.0f), {}};
        for (size_t k = 0; k < atlas.front.size(); k += 4) {
            atlas.front[k + 2] = 1; // facing +z
            atlas.front[k + 3] = 0.5f;
        }
        atlas.back = atlas.front;
        atlases.push_back(std::move(atlas));
    }
    const std::string path = tempPath("cache-" + std::to_string(compression) + ".mv2");
    std::string error;
    EXPECT_TRUE(writeTexturesFile(path, VConfiguration::configurationStamp(), atlases, compression != 0, error)) << error;
    return path;
}

