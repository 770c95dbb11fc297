#pragma once
// Arrays of hundreds of megabytes that are read in random order (the
// builder's triangles, arcs and queues, the viewer's hierarchy) spend much
// of their time on address translation: with 4 KB pages the page tables of
// a few gigabytes no longer fit in the caches, and every access that misses
// the TLB also misses memory. Such arrays ask the kernel for 2 MB pages.
// Smaller ones, and systems without transparent huge pages, get ordinary
// memory.

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

// Allocations of at least this many bytes are mapped on their own, aligned
// to 2 MB and marked for huge pages.
inline constexpr size_t kHugePageArrayBytes = size_t(4) << 20;

// Maps at least bytes, aligned to 2 MB, and asks for huge pages; nullptr
// when the mapping fails. unmapHugePages takes the same byte count.
void* mapHugePages(size_t bytes) noexcept;
void unmapHugePages(void* p, size_t bytes) noexcept;

template <class T> struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() noexcept = default;
    template <class U> HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > std::allocator_traits<std::allocator<T>>::max_size(std::allocator<T>()))
            throw std::bad_array_new_length();
        if (n * sizeof(T) < kHugePageArrayBytes) return std::allocator<T>().allocate(n);
        void* p = mapHugePages(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n * sizeof(T) < kHugePageArrayBytes)
            std::allocator<T>().deallocate(p, n);
        else
            unmapHugePages(p, n * sizeof(T));
    }
    template <class U> bool operator==(const HugePageAllocator<U>&) const noexcept { return true; }
};

template <class T> using HugePageVector = std::vector<T, HugePageAllocator<T>>;
