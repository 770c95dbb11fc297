#pragma once
// The merge step's arc queue: entries ordered by weight, then error ratio,
// equal keys in the order they were queued. One entry per arc at most:
// queueing an arc again replaces its entry, so the heap stays as small as
// the graph however often weights change.

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
    explicit MergeQueue(size_t arcs) : mPlace(arcs, kNowhere) {}

    void push(const MergeEntry& entry) {
        assert(entry.arc < mPlace.size());
        const Slot slot{keyOf(entry), mNext++, entry};
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
        const MergeEntry top = mHeap.front().entry;
        mPlace[top.arc] = kNowhere;
        const Slot last = mHeap.back();
        mHeap.pop_back();
        if (!mHeap.empty()) {
            mHeap[0] = last;
            siftDown(0);
        }
        return top;
    }

  private:
    static constexpr uint32_t kNowhere = UINT32_MAX;
    struct Slot {
        uint64_t key;
        uint64_t sequence;
        MergeEntry entry;
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
            const uint32_t parent = (at - 1) / 2;
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
            size_t child = 2 * size_t(at) + 1;
            if (child >= size) break;
            if (child + 1 < size && before(mHeap[child + 1], mHeap[child])) ++child;
            if (!before(mHeap[child], moving)) break;
            place(at, mHeap[child]);
            at = uint32_t(child);
        }
        place(at, moving);
    }
    void place(uint32_t at, const Slot& slot) {
        mHeap[at] = slot;
        mPlace[slot.entry.arc] = at;
    }

    std::vector<Slot> mHeap;
    std::vector<uint32_t> mPlace; // per arc: its slot in mHeap, or kNowhere
    uint64_t mNext = 0;
};
