#include "HugePages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>

// Large arrays are mapped on their own: they must be aligned for huge
// pages, keep their contents as they grow, and small ones must still work.
TEST(HugePageVector, GrowsAcrossTheThresholdKeepingItsContents) {
    HugePageVector<uint32_t> values;
    const size_t large = 3 * kHugePageArrayBytes / sizeof(uint32_t) + 7; // not a multiple of a page
    for (size_t size : {size_t(10), kHugePageArrayBytes / sizeof(uint32_t) - 1, large}) {
        const size_t before = values.size();
        values.resize(size);
        std::iota(values.begin() + before, values.end(), uint32_t(before));
        for (size_t i = 0; i < size; i += 4093) ASSERT_EQ(values[i], i);
        ASSERT_EQ(values.back(), size - 1);
    }
    EXPECT_EQ(uintptr_t(values.data()) % (size_t(2) << 20), 0u);
    // Released by unmapping, not by free(): the sanitizer builds report a mix-up.
    values.clear();
    values.shrink_to_fit();
}

TEST(HugePageVector, RefusesWhatCannotBeMapped) {
    HugePageAllocator<uint64_t> allocator;
    EXPECT_THROW((void)allocator.allocate(SIZE_MAX / 4), std::bad_array_new_length);
    // More address space than a 47-bit process has.
    EXPECT_THROW((void)allocator.allocate(size_t(1) << 50), std::bad_alloc);
}
