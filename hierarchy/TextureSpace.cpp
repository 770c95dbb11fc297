#include "TextureSpace.h"

#include <algorithm>

void TextureSpace::reset(uint32_t width, uint32_t height) {
    mWidth = width;
    mHeight = height;
    mTaken.assign(size_t(width) * height, false);
    mRowFree.assign(height, width);
    mRowFirstFree.assign(height, 0);
    mFree = uint64_t(width) * height;
    mUsedWidth = mUsedHeight = 0;
}

// The rightmost taken column in the block, or UINT32_MAX when it is free: no
// block starting at or left of that column can be free.
uint32_t TextureSpace::blockObstacle(uint32_t x, uint32_t y, uint32_t width, uint32_t height) const {
    uint32_t obstacle = UINT32_MAX;
    for (uint32_t row = y; row < y + height; ++row)
        for (uint32_t column = x + width; column-- > x;)
            if (mTaken[size_t(row) * mWidth + column]) {
                if (obstacle == UINT32_MAX || column > obstacle) obstacle = column;
                break;
            }
    return obstacle;
}

bool TextureSpace::allocate(uint32_t width, uint32_t height, uint32_t& x, uint32_t& y) {
    if (width == 0 || height == 0 || width > mWidth || height > mHeight) return false;
    for (uint32_t row = 0; row + height <= mHeight; ++row) {
        if (mRowFree[row] < width) continue;
        for (uint32_t column = mRowFirstFree[row]; column + width <= mWidth;) {
            const uint32_t obstacle = blockObstacle(column, row, width, height);
            if (obstacle != UINT32_MAX) {
                column = obstacle + 1;
                continue;
            }
            for (uint32_t r = row; r < row + height; ++r) {
                for (uint32_t c = column; c < column + width; ++c) mTaken[size_t(r) * mWidth + c] = true;
                mRowFree[r] -= width;
                uint32_t& first = mRowFirstFree[r];
                while (first < mWidth && mTaken[size_t(r) * mWidth + first]) ++first;
            }
            mFree -= uint64_t(width) * height;
            mUsedWidth = std::max(mUsedWidth, column + width);
            mUsedHeight = std::max(mUsedHeight, row + height);
            x = column;
            y = row;
            return true;
        }
    }
    return false;
}
