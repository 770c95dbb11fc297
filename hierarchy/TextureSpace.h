#pragma once
// The free texels of one texture atlas being filled: first-fit allocation of
// rectangles, rows from the top, in each row from its first free texel
// rightwards. A per-row count of free texels skips rows that cannot hold a
// request; taken texels are bits, searched a word at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

class TextureSpace {
  public:
    TextureSpace() = default;
    TextureSpace(uint32_t width, uint32_t height) { reset(width, height); }

    // Everything free again, at this size.
    void reset(uint32_t width, uint32_t height);
    // Finds and takes the first free width x height block; false (nothing
    // taken) when there is none.
    bool allocate(uint32_t width, uint32_t height, uint32_t& x, uint32_t& y);

    uint32_t width() const { return mWidth; }
    uint32_t height() const { return mHeight; }
    uint64_t freeTexels() const { return mFree; }
    // The smallest box from the origin holding every taken texel.
    uint32_t usedWidth() const { return mUsedWidth; }
    uint32_t usedHeight() const { return mUsedHeight; }
    bool taken(uint32_t x, uint32_t y) const;

  private:
    uint32_t nextWithBit(uint32_t row, uint32_t from, uint32_t to, bool value) const;
    uint32_t nextCandidate(uint32_t x, uint32_t y, uint32_t width, uint32_t height) const;
    void take(uint32_t x, uint32_t y, uint32_t width, uint32_t height);

    uint32_t mWidth = 0, mHeight = 0;
    uint32_t mWordsPerRow = 0;
    std::vector<uint64_t> mBits;         // taken texels, 64 per word, row by row
    std::vector<uint32_t> mRowFree;      // free texels per row
    std::vector<uint32_t> mRowFirstFree; // first free texel of each row (mWidth when full)
    uint64_t mFree = 0;
    uint32_t mUsedWidth = 0, mUsedHeight = 0;
};
