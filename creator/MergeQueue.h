#pragma once
// The merge step's arc queue: entries ordered by weight, then error ratio,
// equal keys in the order they were queued. One entry per arc at most:
// queueing an arc again replaces its entry, so the heap stays as small as
// the graph however often weights change. An entry costs 24 bytes an arc
// (the heap's slot, where it sits, its version): millions of arcs are queued.

#include "HugePages.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <vector>

struct MergeEntry {
    float weight; // never negative
    float ratio;  // never negative
    uint32_t arc;
    uint32_t version; // the arc's version when the entry was made
    bool exact;       // false: weight is a lower bound, strip counts not yet run
};

inline bool sortsBefore(const MergeEntry& a, const MergeEntry& b) {
    return a.weight != b.weight ? a.weight < b.weight : a.ratio < b.ratio;
}

class MergeQueue {
  public:
    // Tests start the sequence numbers near their end to see them renumbered.
    explicit MergeQueue(size_t arcs, uint32_t firstSequence = 0)
        : mPlace(arcs, kNowhere), mVersion(arcs), mNext(firstSequence) {
        assert(arcs <= kArcMask);
        mHeap.reserve(arcs); // one slot an arc at most: it never grows past that
    }

    void push(const MergeEntry& entry) {
        assert(entry.arc < mPlace.size());
        if (mNext == UINT32_MAX) renumber();
        mVersion[entry.arc] = entry.version;
        const Slot slot{keyOf(entry), mNext++, entry.arc | (entry.exact ? kExactBit : 0)};
        uint32_t at = mPlace[entry.arc];
        if (at == kNowhere) {
            at = uint32_t(mHeap.size());
            mHeap.push_back(slot);
        } else {
            mHeap[at] = slot;
        }
        siftDown(siftUp(at));
    }
    bool empty() const { return mHeap.empty(); }
    size_t size() const { return mHeap.size(); }
    MergeEntry pop() {
        assert(!mHeap.empty());
        const Slot first = mHeap.front();
        const uint32_t arc = first.arc & kArcMask;
        mPlace[arc] = kNowhere;
        const Slot last = mHeap.back();
        mHeap.pop_back();
        if (!mHeap.empty()) {
            mHeap[0] = last;
            siftDown(0);
        }
        return {std::bit_cast<float>(uint32_t(first.key >> 32)), std::bit_cast<float>(uint32_t(first.key)), arc,
                mVersion[arc], (first.arc & kExactBit) != 0};
    }

  private:
    static constexpr uint32_t kNowhere = UINT32_MAX;
    // A slot's arc field carries the entry's exact flag in its top bit.
    static constexpr uint32_t kExactBit = 0x80000000u;
    static constexpr uint32_t kArcMask = 0x7fffffffu;
    static constexpr size_t kArity = 4; // four 16-byte children fill a cache line
    struct Slot {
        uint64_t key;
        uint32_t sequence;
        uint32_t arc; // and the exact flag
    };
    // The bits of non-negative floats sort as the floats do: one integer
    // holds the whole key.
    static uint64_t keyOf(const MergeEntry& e) {
        assert(e.weight >= 0 && e.ratio >= 0);
        return uint64_t(std::bit_cast<uint32_t>(e.weight)) << 32 | std::bit_cast<uint32_t>(e.ratio);
    }
    static bool before(const Slot& a, const Slot& b) {
        return a.key != b.key ? a.key < b.key : a.sequence < b.sequence;
    }
    uint32_t siftUp(uint32_t at) {
        const Slot moving = mHeap[at];
        while (at > 0) {
            const uint32_t parent = uint32_t((at - 1) / kArity);
            if (!before(moving, mHeap[parent])) break;
            place(at, mHeap[parent]);
            at = parent;
        }
        place(at, moving);
        return at;
    }
    void siftDown(uint32_t at) {
        const Slot moving = mHeap[at];
        const size_t size = mHeap.size();
        for (;;) {
            const size_t first = kArity * size_t(at) + 1;
            if (first >= size) break;
            size_t child = first;
            for (size_t k = first + 1; k < std::min(first + kArity, size); ++k)
                if (before(mHeap[k], mHeap[child])) child = k;
            if (!before(mHeap[child], moving)) break;
            place(at, mHeap[child]);
            at = uint32_t(child);
        }
        place(at, moving);
    }
    void place(uint32_t at, const Slot& slot) {
        mHeap[at] = slot;
        mPlace[slot.arc & kArcMask] = at;
    }
    // Sequence numbers ran out: number the queued entries afresh in their
    // order, which keeps it. A sorted array is a heap.
    void renumber() {
        std::sort(mHeap.begin(), mHeap.end(), before);
        for (uint32_t i = 0; i < mHeap.size(); ++i) {
            mHeap[i].sequence = i;
            mPlace[mHeap[i].arc & kArcMask] = i;
        }
        mNext = uint32_t(mHeap.size());
    }

    HugePageVector<Slot> mHeap;
    HugePageVector<uint32_t> mPlace;   // per arc: its slot in mHeap, or kNowhere
    HugePageVector<uint32_t> mVersion; // per arc: the version of its queued entry
    uint32_t mNext = 0;
};
