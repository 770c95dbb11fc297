#pragma once
// Counts the strip indices of several triangle lists at once: the calling
// thread and one helper thread take lists in turn. The merge step weighs a
// node merge by a few such counts of small patches, thousands of times a
// second; a helper that slept between batches would wake too late, so it
// polls for a while after each batch before it sleeps.
//
// Not for concurrent use: one thread hands out batches.

#include "VTriStripLocalOptimizer.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

class StripCountWorker {
  public:
    // Without a second hardware thread every count runs on the caller.
    StripCountWorker();
    ~StripCountWorker();
    StripCountWorker(const StripCountWorker&) = delete;
    StripCountWorker& operator=(const StripCountWorker&) = delete;

    // counts[k] = VTriStripLocalOptimizer::countStripIndices(lists[k]).
    // The lists must stay unchanged until the call returns.
    void countAll(std::span<const std::span<const uint32_t>> lists, std::span<size_t> counts);

  private:
    void helperLoop();
    void takeLists(uint32_t batch, VTriStripLocalOptimizer& optimizer);

    VTriStripLocalOptimizer mOwnOptimizer;
    // The batch being counted, written before mNext announces it.
    std::span<const std::span<const uint32_t>> mLists;
    std::span<size_t> mCounts;
    // The batch number, its list count and the next list to take, in one
    // word: a list is taken by advancing it, which fails once the batch is
    // over, so a late helper never touches the next batch's lists.
    std::atomic<uint64_t> mNext{0};
    std::atomic<uint32_t> mDoneLists{0};
    uint32_t mBatch = 0;
    std::thread mHelper;
};
