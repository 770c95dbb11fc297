#include "StripCountWorker.h"

#include <cassert>

namespace {
constexpr uint32_t kStop = UINT32_MAX; // the batch number that ends the helper
// Up to about a millisecond of polling: while the merge step runs, batches
// come far more often than that, and a sleeping helper costs a wake-up each.
constexpr int kPollsBeforeSleep = 20000;

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// mNext packs the batch number, the batch's list count and the next list.
uint64_t pack(uint32_t batch, uint32_t lists) { return uint64_t(batch) << 32 | uint64_t(lists) << 16; }
uint32_t batchOf(uint64_t next) { return uint32_t(next >> 32); }
uint32_t countOf(uint64_t next) { return uint32_t(next >> 16) & 0xFFFF; }
uint32_t listOf(uint64_t next) { return uint32_t(next) & 0xFFFF; }
} // namespace

StripCountWorker::StripCountWorker() {
    if (std::thread::hardware_concurrency() >= 2) mHelper = std::thread([this] { helperLoop(); });
}

StripCountWorker::~StripCountWorker() {
    if (!mHelper.joinable()) return;
    mNext.store(pack(kStop, 0), std::memory_order_release);
    mNext.notify_one();
    mHelper.join();
}

// Takes lists of the batch until none is left or the batch is over.
void StripCountWorker::takeLists(uint32_t batch, VTriStripLocalOptimizer& optimizer) {
    uint64_t next = mNext.load(std::memory_order_acquire);
    for (;;) {
        if (batchOf(next) != batch || listOf(next) >= countOf(next)) return;
        if (!mNext.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel, std::memory_order_acquire))
            continue;
        const uint32_t k = listOf(next);
        mCounts[k] = optimizer.countStripIndices(mLists[k]);
        mDoneLists.fetch_add(1, std::memory_order_release);
        next = mNext.load(std::memory_order_acquire);
    }
}

void StripCountWorker::countAll(std::span<const std::span<const uint32_t>> lists, std::span<size_t> counts) {
    assert(lists.size() == counts.size());
    if (lists.size() < 2 || !mHelper.joinable()) {
        for (size_t k = 0; k < lists.size(); ++k) counts[k] = mOwnOptimizer.countStripIndices(lists[k]);
        return;
    }
    // Larger batches go in parts.
    constexpr size_t kMostLists = 0xFFFF;
    if (lists.size() > kMostLists) {
        countAll(lists.first(kMostLists), counts.first(kMostLists));
        countAll(lists.subspan(kMostLists), counts.subspan(kMostLists));
        return;
    }
    if (++mBatch == kStop) mBatch = 1; // the helper only compares for change
    mLists = lists;
    mCounts = counts;
    mDoneLists.store(0, std::memory_order_relaxed);
    mNext.store(pack(mBatch, uint32_t(lists.size())), std::memory_order_release);
    mNext.notify_one();
    takeLists(mBatch, mOwnOptimizer);
    while (mDoneLists.load(std::memory_order_acquire) < lists.size()) cpuRelax();
}

void StripCountWorker::helperLoop() {
    VTriStripLocalOptimizer optimizer;
    uint32_t seen = 0;
    for (;;) {
        uint64_t next = mNext.load(std::memory_order_acquire);
        for (int poll = 0; batchOf(next) == seen && poll < kPollsBeforeSleep; ++poll) {
            cpuRelax();
            next = mNext.load(std::memory_order_acquire);
        }
        if (batchOf(next) == seen) {
            mNext.wait(next, std::memory_order_acquire);
            continue;
        }
        seen = batchOf(next);
        if (seen == kStop) return;
        takeLists(seen, optimizer);
    }
}
