#include "TextureSpace.h"

#include <algorithm>
#include <bit>

namespace {
// Bits [from, to) of a word set.
uint64_t maskOf(uint32_t from, uint32_t to) {
    const uint64_t upTo = to >= 64 ? ~uint64_t(0) : (uint64_t(1) << to) - 1;
    return upTo & ~((uint64_t(1) << from) - 1);
}
} // namespace

void TextureSpace::reset(uint32_t width, uint32_t height) {
    mWidth = width;
    mHeight = height;
    mWordsPerRow = (width + 63) / 64;
    mBits.assign(size_t(mWordsPerRow) * height, 0);
    mRowFree.assign(height, width);
    mRowFirstFree.assign(height, 0);
    mFree = uint64_t(width) * height;
    mUsedWidth = mUsedHeight = 0;
}

// The first column in [from, to) of the row whose bit equals value; to when none.
uint32_t TextureSpace::nextWithBit(uint32_t row, uint32_t from, uint32_t to, bool value) const {
    const uint64_t* words = &mBits[size_t(row) * mWordsPerRow];
    for (uint32_t column = from; column < to;) {
        const uint32_t word = column / 64, bit = column % 64;
        uint64_t bits = value ? words[word] : ~words[word];
        bits &= ~((uint64_t(1) << bit) - 1);
        if (bits) return std::min(to, word * 64 + uint32_t(std::countr_zero(bits)));
        column = (word + 1) * 64;
    }
    return to;
}

// Where the next block that can be free starts, or UINT32_MAX when the block
// at x is free: in each of the block's rows, a block starting anywhere up to
// the end of the first taken run inside it covers a taken texel, so the
// furthest such run end over the rows is the next candidate.
uint32_t TextureSpace::nextCandidate(uint32_t x, uint32_t y, uint32_t width, uint32_t height) const {
    uint32_t next = UINT32_MAX;
    for (uint32_t row = y; row < y + height; ++row) {
        const uint32_t taken = nextWithBit(row, x, x + width, true);
        if (taken == x + width) continue;
        const uint32_t runEnd = nextWithBit(row, taken, mWidth, false);
        if (next == UINT32_MAX || runEnd > next) next = runEnd;
    }
    return next;
}

bool TextureSpace::allocate(uint32_t width, uint32_t height, uint32_t& x, uint32_t& y) {
    if (width == 0 || height == 0 || width > mWidth || height > mHeight) return false;
    for (uint32_t row = 0; row + height <= mHeight; ++row) {
        if (mRowFree[row] < width) continue;
        for (uint32_t column = mRowFirstFree[row]; column + width <= mWidth;) {
            const uint32_t next = nextCandidate(column, row, width, height);
            if (next != UINT32_MAX) {
                column = next;
                continue;
            }
            take(column, row, width, height);
            x = column;
            y = row;
            return true;
        }
    }
    return false;
}

void TextureSpace::take(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    for (uint32_t row = y; row < y + height; ++row) {
        uint64_t* words = &mBits[size_t(row) * mWordsPerRow];
        for (uint32_t column = x; column < x + width;) {
            const uint32_t word = column / 64, bit = column % 64;
            const uint32_t end = std::min(64u, bit + (x + width - column));
            words[word] |= maskOf(bit, end);
            column += end - bit;
        }
        mRowFree[row] -= width;
        if (mRowFirstFree[row] >= x) mRowFirstFree[row] = nextWithBit(row, mRowFirstFree[row], mWidth, false);
    }
    mFree -= uint64_t(width) * height;
    mUsedWidth = std::max(mUsedWidth, x + width);
    mUsedHeight = std::max(mUsedHeight, y + height);
}

bool TextureSpace::taken(uint32_t x, uint32_t y) const {
    return (mBits[size_t(y) * mWordsPerRow + x / 64] >> (x % 64)) & 1;
}
