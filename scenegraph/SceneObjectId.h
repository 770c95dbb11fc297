#pragma once
// Identity of scene objects (nodes, geometries, textures, instances): every
// new one takes the next value of one process-wide counter, which starts at
// 2^30 so that IDs never collide with the small numbers of other files.

#include <cstdint>

constexpr uint32_t kFirstSceneObjectId = 1u << 30;

uint32_t nextSceneObjectId();
// After a scene was read with its stored IDs: objects made later get IDs
// above id, so that they never collide with a loaded one.
void advanceSceneObjectIdsPast(uint32_t id);
