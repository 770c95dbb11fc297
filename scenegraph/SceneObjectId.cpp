#include "SceneObjectId.h"

#include <atomic>

namespace {
std::atomic<uint32_t> gNextId{kFirstSceneObjectId};
}

// 0 stands for "none" in scene files; a counter that wrapped (after a file
// with IDs near the top was read) skips it.
uint32_t nextSceneObjectId() {
    uint32_t id = gNextId++;
    return id != 0 ? id : gNextId++;
}

void advanceSceneObjectIdsPast(uint32_t id) {
    uint32_t current = gNextId.load();
    while (current <= id && !gNextId.compare_exchange_weak(current, id + 1)) {
    }
}
