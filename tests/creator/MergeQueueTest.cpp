// The merge step's queue: key order, first-queued-first among equal keys,
// and replacement of an arc's entry, checked against a plainly sorted list
// under random pushes and pops.

#include "MergeQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {
MergeEntry entry(uint32_t arc, float weight, float ratio = 1.0f) { return {weight, ratio, arc, 0, false}; }

// Pushes, then pops until empty. A re-queued entry counts as queued last
// among equal keys, as a new entry would; when the sequence numbers run out
// they are given afresh in queue order, keeping first-queued-first.
TEST(MergeQueueTest, PopsByWeightThenRatioAndEqualKeysInQueueingOrder) {
    struct Case {
        const char* what;
        size_t arcs;
        uint32_t firstSequence;
        std::vector<MergeEntry> pushes;
        std::vector<uint32_t> order;
    };
    const Case cases[] = {
        {"weight, then ratio, then queueing order", 8, 0,
         {entry(0, 5.0f), entry(1, 2.0f, 3.0f), entry(2, 2.0f, 0.5f), entry(3, 5.0f), entry(4, 0.0f),
          entry(5, 3.4028235e38f) /* no united pair */, entry(6, 5.0f)},
         {4, 2, 1, 0, 3, 6, 5}},
        {"sequence numbers running out", 6, UINT32_MAX - 3,
         {entry(3, 1.0f), entry(1, 1.0f), entry(4, 2.0f), entry(0, 2.0f), entry(5, 1.0f), entry(2, 2.0f)},
         {3, 1, 5, 4, 0, 2}},
    };
    for (const Case& c : cases) {
        MergeQueue queue(c.arcs, c.firstSequence);
        for (const MergeEntry& e : c.pushes) queue.push(e);
        std::vector<uint32_t> order;
        while (!queue.empty()) order.push_back(queue.pop().arc);
        EXPECT_EQ(order, c.order) << c.what;
    }
}

// Random pushes (re-queueing an arc replaces its entry) and pops against a
// plainly kept list, with many equal weights.
TEST(MergeQueueTest, AgreesWithASortedListUnderRandomUse) {
    constexpr uint32_t kArcs = 300;
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> arcOf(0, kArcs - 1), weightOf(0, 40), action(0, 3);
    MergeQueue queue(kArcs);
    struct Live {
        float weight;
        uint64_t sequence;
        uint32_t arc;
    };
    std::vector<Live> model; // at most one per arc
    uint64_t sequence = 0;
    for (int step = 0; step < 20000; ++step) {
        if (action(random) != 0 || model.empty()) {
            const uint32_t arc = arcOf(random);
            const float weight = float(weightOf(random)) / 4; // many ties
            queue.push(entry(arc, weight));
            std::erase_if(model, [arc](const Live& l) { return l.arc == arc; });
            model.push_back({weight, sequence++, arc});
        } else {
            auto first = std::min_element(model.begin(), model.end(), [](const Live& a, const Live& b) {
                return a.weight != b.weight ? a.weight < b.weight : a.sequence < b.sequence;
            });
            const MergeEntry popped = queue.pop();
            ASSERT_EQ(popped.arc, first->arc) << "step " << step;
            ASSERT_EQ(popped.weight, first->weight);
            model.erase(first);
        }
        ASSERT_EQ(queue.size(), model.size());
    }
}
} // namespace
