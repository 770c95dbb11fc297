#include "HugePages.h"

#include <cstdint>
#include <sys/mman.h>

namespace {
constexpr size_t kHugePage = size_t(2) << 20;

size_t roundUp(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
} // namespace

void* mapHugePages(size_t bytes) noexcept {
    // Map a huge page more than asked and cut off the ends, so that the
    // kernel can back the whole range with huge pages whatever address it
    // chose.
    const size_t size = roundUp(bytes);
    if (size < bytes || size + kHugePage < size) return nullptr;
    void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t begin = uintptr_t(mapped);
    const uintptr_t aligned = (begin + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > begin) munmap(mapped, aligned - begin);
    const uintptr_t end = begin + size + kHugePage;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    // Only advice: where the kernel has no huge pages the memory is ordinary.
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void unmapHugePages(void* p, size_t bytes) noexcept {
    if (p) munmap(p, roundUp(bytes));
}
