// First-fit packing of impostor texels: the order the atlas placement relies
// on (it re-runs the same allocations to find texel positions again), checked
// against a plain search over every position.

#include "TextureSpace.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {
// The first (row, column) whose block is free, by looking at every texel.
bool firstFitByHand(const std::vector<std::vector<bool>>& taken, uint32_t w, uint32_t h, uint32_t& x, uint32_t& y) {
    const uint32_t height = uint32_t(taken.size()), width = height ? uint32_t(taken[0].size()) : 0;
    for (uint32_t row = 0; row + h <= height; ++row)
        for (uint32_t column = 0; column + w <= width; ++column) {
            bool free = true;
            for (uint32_t r = row; r < row + h && free; ++r)
                for (uint32_t c = column; c < column + w && free; ++c) free = !taken[r][c];
            if (free) {
                x = column;
                y = row;
                return true;
            }
        }
    return false;
}

TEST(TextureSpace, FillsRowsFromTheTopLeftToRight) {
    TextureSpace space(8, 4);
    uint32_t x = 99, y = 99;
    ASSERT_TRUE(space.allocate(3, 2, x, y));
    EXPECT_EQ(x, 0u);
    EXPECT_EQ(y, 0u);
    ASSERT_TRUE(space.allocate(3, 2, x, y));
    EXPECT_EQ(x, 3u);
    EXPECT_EQ(y, 0u);
    // Too wide for what is left of rows 0 and 1: the next rows.
    ASSERT_TRUE(space.allocate(3, 1, x, y));
    EXPECT_EQ(x, 0u);
    EXPECT_EQ(y, 2u);
    // A narrow one fits beside the first two.
    ASSERT_TRUE(space.allocate(2, 2, x, y));
    EXPECT_EQ(x, 6u);
    EXPECT_EQ(y, 0u);
    EXPECT_EQ(space.freeTexels(), 32u - 6 - 6 - 3 - 4);
    EXPECT_EQ(space.usedWidth(), 8u);
    EXPECT_EQ(space.usedHeight(), 3u);
}

TEST(TextureSpace, RefusesWhatCannotFitAndTakesNothing) {
    TextureSpace space(4, 4);
    uint32_t x = 7, y = 7;
    EXPECT_FALSE(space.allocate(5, 1, x, y));
    EXPECT_FALSE(space.allocate(1, 5, x, y));
    EXPECT_FALSE(space.allocate(0, 2, x, y));
    ASSERT_TRUE(space.allocate(4, 4, x, y));
    EXPECT_FALSE(space.allocate(1, 1, x, y));
    EXPECT_EQ(space.freeTexels(), 0u);
    space.reset(2, 3);
    EXPECT_EQ(space.freeTexels(), 6u);
    EXPECT_TRUE(space.allocate(2, 3, x, y));
    EXPECT_EQ(x, 0u);
}

TEST(TextureSpace, AgreesWithASearchOfEveryPositionUnderRandomRequests) {
    std::mt19937 random(5);
    std::uniform_int_distribution<uint32_t> side(1, 70);
    for (int round = 0; round < 20; ++round) {
        const uint32_t width = 16 + 7 * round, height = 24 - round / 2; // rows of one to three words
        TextureSpace space(width, height);
        std::vector<std::vector<bool>> taken(height, std::vector<bool>(width, false));
        for (int request = 0; request < 60; ++request) {
            const uint32_t w = side(random), h = side(random);
            uint32_t x = 0, y = 0, ex = 0, ey = 0;
            const bool expected = firstFitByHand(taken, w, h, ex, ey);
            ASSERT_EQ(space.allocate(w, h, x, y), expected) << round << "/" << request;
            if (!expected) continue;
            ASSERT_EQ(x, ex) << round << "/" << request;
            ASSERT_EQ(y, ey) << round << "/" << request;
            for (uint32_t r = y; r < y + h; ++r)
                for (uint32_t c = x; c < x + w; ++c) taken[r][c] = true;
        }
        uint64_t free = 0;
        for (uint32_t r = 0; r < height; ++r)
            for (uint32_t c = 0; c < width; ++c) {
                EXPECT_EQ(space.taken(c, r), bool(taken[r][c]));
                free += !taken[r][c];
            }
        EXPECT_EQ(space.freeTexels(), free);
    }
}
} // namespace
