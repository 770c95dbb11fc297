#include "SceneHierarchyCheck.h"

#include "LogStream.h"

#include <unordered_map>

namespace {
// Follows parents up from start; false when the walk comes back onto
// itself. state: 0 not seen, 1 on the walk under way, 2 known to end.
bool endsWithoutCycle(size_t start, const std::vector<size_t>& parentOf, std::vector<uint8_t>& state,
                      size_t& inCycle) {
    constexpr size_t kNone = size_t(-1);
    std::vector<size_t> walk;
    size_t at = start;
    while (at != kNone && state[at] == 0) {
        state[at] = 1;
        walk.push_back(at);
        at = parentOf[at];
    }
    const bool cycle = at != kNone && state[at] == 1;
    if (cycle) inCycle = at;
    for (size_t k : walk) state[k] = 2;
    return !cycle;
}
} // namespace

bool checkNodeHierarchy(uint32_t rootId, const std::vector<VSceneNodeRecord>& records, size_t& faultyRecord) {
    constexpr size_t kNone = size_t(-1);
    std::unordered_map<uint32_t, size_t> recordOf;
    for (size_t r = 0; r < records.size(); ++r)
        if (records[r].node) recordOf.emplace(records[r].node->id(), r);
    std::vector<size_t> parentOf(records.size(), kNone);
    for (size_t r = 0; r < records.size(); ++r) {
        if (!records[r].node) continue;
        for (uint32_t child : records[r].childIds) {
            faultyRecord = r;
            if (child == rootId) {
                logErr() << "ERROR - the root node is listed as a child of node " << records[r].node->id() << "!\n";
                return false;
            }
            if (child == records[r].node->id()) {
                logErr() << "ERROR - node " << child << " is its own ancestor!\n";
                return false;
            }
            auto found = recordOf.find(child);
            if (found == recordOf.end()) continue;
            if (parentOf[found->second] != kNone) {
                logErr() << "ERROR - node " << child << " is listed as a child of node "
                         << records[parentOf[found->second]].node->id() << " and of node " << records[r].node->id()
                         << "!\n";
                return false;
            }
            parentOf[found->second] = r;
        }
    }
    std::vector<uint8_t> state(records.size(), 0);
    for (size_t r = 0; r < records.size(); ++r) {
        size_t inCycle = 0;
        if (!endsWithoutCycle(r, parentOf, state, inCycle)) {
            faultyRecord = inCycle;
            logErr() << "ERROR - node " << records[inCycle].node->id() << " is its own ancestor!\n";
            return false;
        }
    }
    return true;
}
