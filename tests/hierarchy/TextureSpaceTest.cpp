// First-fit packing of impostor texels: the order the atlas placement relies
// on (it re-runs the same allocations to find texel positions again), checked
// against a plain search over every position.

#include "TextureSpace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {
// The first (row, column) whose block is free, by looking at every texel.
bool firstFitByHand(const std::vector<std::vector<bool>>& taken, uint32_t w, uint32_t h, uint32_t& x, uint32_t& y) {
    auto isFree = [&] {
        for (uint32_t r = y; r < y + h; ++r)
            for (uint32_t c = x; c < x + w; ++c)
                if (taken[r][c]) return false;
        return true;
    };
    for (y = 0; y + h <= taken.size(); ++y)
        for (x = 0; x + w <= taken[0].size(); ++x)
            if (isFree()) return true;
    return false;
}

// Random requests, many too large, into one space reset for each round:
// positions, refusals (which take nothing), the used box and the free count
// as a search of every position finds them.
TEST(TextureSpace, AgreesWithASearchOfEveryPositionUnderRandomRequests) {
    std::mt19937 random(5);
    std::uniform_int_distribution<uint32_t> side(1, 70);
    TextureSpace space(8, 4);
    for (int round = 0; round < 20; ++round) {
        const uint32_t width = 16 + 7 * round, height = 24 - round / 2; // rows of one to three words
        space.reset(width, height);
        std::vector<std::vector<bool>> taken(height, std::vector<bool>(width, false));
        uint32_t usedWidth = 0, usedHeight = 0, x = 0, y = 0;
        EXPECT_FALSE(space.allocate(0, 2, x, y)); // nothing to place
        for (int request = 0; request < 60; ++request) {
            const uint32_t w = side(random), h = side(random);
            uint32_t ex = 0, ey = 0;
            const bool expected = firstFitByHand(taken, w, h, ex, ey);
            ASSERT_EQ(space.allocate(w, h, x, y), expected) << round << "/" << request;
            if (!expected) continue;
            ASSERT_EQ(std::pair(x, y), std::pair(ex, ey)) << round << "/" << request;
            for (uint32_t r = y; r < y + h; ++r)
                for (uint32_t c = x; c < x + w; ++c) taken[r][c] = true;
            usedWidth = std::max(usedWidth, x + w);
            usedHeight = std::max(usedHeight, y + h);
        }
        uint64_t free = 0;
        for (uint32_t r = 0; r < height; ++r)
            for (uint32_t c = 0; c < width; ++c) {
                EXPECT_EQ(space.taken(c, r), bool(taken[r][c]));
                free += !taken[r][c];
            }
        EXPECT_EQ(space.freeTexels(), free);
        EXPECT_EQ(std::pair(space.usedWidth(), space.usedHeight()), std::pair(usedWidth, usedHeight));
    }
}
} // namespace
