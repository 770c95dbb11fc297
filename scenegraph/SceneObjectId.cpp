#include "SceneObjectId.h"

#include <atomic>

namespace {
std::atomic<uint32_t> gNextId{kFirstSceneObjectId};
}

uint32_t nextSceneObjectId() { return gNextId++; }

void advanceSceneObjectIdsPast(uint32_t id) {
    uint32_t current = gNextId.load();
    while (current <= id && !gNextId.compare_exchange_weak(current, id + 1)) {
    }
}
