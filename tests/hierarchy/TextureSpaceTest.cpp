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

TEST(TextureSpace, FillsRowsFromTheTopLeftToRightAndRefusesWhatCannotFit) {
    TextureSpace space(8, 4);
    struct Request {
        uint32_t w, h;
        bool fits;
        uint32_t x = 0, y = 0;
    };
    const Request requests[] = {
        {3, 2, true, 0, 0}, {3, 2, true, 3, 0},
        {3, 1, true, 0, 2}, // too wide for what is left of rows 0 and 1: the next rows
        {2, 2, true, 6, 0}, // a narrow one fits beside the first two
        {9, 1, false}, {1, 5, false}, {0, 2, false}, {8, 2, false},
    };
    for (const Request& r : requests) {
        uint32_t x = 99, y = 99;
        ASSERT_EQ(space.allocate(r.w, r.h, x, y), r.fits) << r.w << " x " << r.h;
        if (r.fits) {
            EXPECT_EQ(std::make_pair(x, y), std::make_pair(r.x, r.y)) << r.w << " x " << r.h;
        }
    }
    // A refusal takes nothing.
    EXPECT_EQ(space.freeTexels(), 32u - 6 - 6 - 3 - 4);
    EXPECT_EQ(space.usedWidth(), 8u);
    EXPECT_EQ(space.usedHeight(), 3u);
    space.reset(2, 3);
    EXPECT_EQ(space.freeTexels(), 6u);
    uint32_t x = 7, y = 7;
    EXPECT_TRUE(space.allocate(2, 3, x, y));
    EXPECT_FALSE(space.allocate(1, 1, x, y));
    EXPECT_EQ(space.freeTexels(), 0u);
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
