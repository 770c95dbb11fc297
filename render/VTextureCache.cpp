#include "VTextureCache.h"

#include "LogStream.h"

#include <atomic>
#include <cassert>

namespace {
constexpr uint64_t kMegabyte = 1 << 20;
}

VLRUCache::~VLRUCache() = default;

bool VLRUCache::lookup(uint32_t key) {
    auto it = mEntries.find(key);
    if (it == mEntries.end()) {
        ++missesThisFrame;
        ++missesOverall;
        return false;
    }
    it->second.texture->bind();
    mOrder.erase({it->second.frame, key});
    it->second.frame = frame;
    mOrder.insert({frame, key});
    return true;
}

bool VLRUCache::canEvict() const { return frame >= 3 && !mOrder.empty() && mOrder.begin()->first + 1 < frame; }

void VLRUCache::remove(uint32_t key) {
    auto it = mEntries.find(key);
    mOrder.erase({it->second.frame, key});
    assert(used >= it->second.bytes);
    used -= it->second.bytes;
    it->second.texture->deleteTextures();
    mEntries.erase(it);
}

void VLRUCache::evictBytes(uint64_t n) {
    if (n > used) {
        clear();
        return;
    }
    uint64_t freed = 0;
    while (freed < n && !mOrder.empty()) {
        const uint64_t before = used;
        remove(mOrder.begin()->second);
        freed += before - used;
    }
}

bool VLRUCache::evictOld(uint64_t n) {
    if (frame < 3) return false;
    uint64_t freed = 0;
    while (freed < n && !mOrder.empty() && mOrder.begin()->first + 1 < frame) {
        const uint64_t before = used;
        remove(mOrder.begin()->second);
        freed += before - used;
    }
    return freed >= n;
}

void VLRUCache::removeKeys(uint32_t first, uint32_t count) {
    for (auto it = mEntries.lower_bound(first); it != mEntries.end() && it->first - first < count;)
        remove((it++)->first);
}

void VLRUCache::store(uint32_t key, std::unique_ptr<VImposterTexture> texture) {
    const uint64_t bytes = texture->sizeInBytes();
    used += bytes;
    mEntries[key] = {std::move(texture), frame, bytes};
    mOrder.insert({frame, key});
}

bool VLRUCache::insert(uint32_t key, int32_t index, std::FILE* file) {
    if (contains(key)) return true;
    auto texture = std::make_unique<VImposterTexture>(index);
    if (!texture->load(file)) return false;
    const uint64_t size = texture->sizeInBytes();
    if (size > capacity) return false; // never fits: drawn without it
    if (size > capacity - used) evictBytes(size - (capacity - used));
    store(key, std::move(texture));
    return true;
}

bool VLRUCache::tryInsert(uint32_t key, int32_t index, std::FILE* file) {
    if (contains(key)) return true;
    auto texture = std::make_unique<VImposterTexture>(index);
    if (!texture->loadInfo(file)) return false;
    const uint64_t size = texture->sizeInBytes();
    const uint64_t free = capacity - used;
    if (size > capacity || (free < size && !canEvict())) return false;
    if (size > free && !evictOld(size - free)) return false;
    if (!texture->load(file)) return false;
    store(key, std::move(texture));
    return true;
}

void VLRUCache::setCapacity(uint64_t bytes) {
    if (used > bytes) evictBytes(used - bytes);
    capacity = bytes;
}

void VLRUCache::clear() {
    for (auto& [key, entry] : mEntries) entry.texture->deleteTextures();
    mEntries.clear();
    mOrder.clear();
    used = 0;
    missesOverall = 0;
}

void VLRUCache::nextFrame() {
    ++frame;
    missesThisFrame = 0;
}

void VLRUCache::printStatistics() const {
    logErr() << "CACHE: " << double(used) / kMegabyte << " of " << double(capacity) / kMegabyte << " MB filled ("
             << (capacity ? double(used) / double(capacity) * 100 : 0.0) << "%)\n"
             << "CACHE: misses scince last frame: " << missesThisFrame << ", overall misses: " << missesOverall
             << "\n";
}

VTextureFileRegistry::~VTextureFileRegistry() {
    for (auto& [object, registered] : mObjects)
        if (registered.file) std::fclose(registered.file);
}

bool VTextureFileRegistry::registerObject(const void* object, uint32_t textureCount, const std::string& texturesFile) {
    assert(!knows(object) && "an object is unregistered before it registers again");
    std::FILE* file = std::fopen(texturesFile.c_str(), "rb");
    if (!file) return false;
    mObjects[object] = {mNextKey, textureCount, file, texturesFile};
    mNextKey += textureCount;
    return true;
}

bool VTextureFileRegistry::unregisterObject(const void* object, uint32_t& first, uint32_t& count) {
    auto it = mObjects.find(object);
    if (it == mObjects.end()) return false;
    if (it->second.file) std::fclose(it->second.file);
    first = it->second.base;
    count = it->second.count;
    mObjects.erase(it);
    return true;
}

size_t VTextureFileRegistry::openFiles() const {
    size_t open = 0;
    for (const auto& [object, registered] : mObjects) open += registered.file != nullptr;
    return open;
}

VTextureCache* VTextureCache::instance = nullptr;

VTextureCache::VTextureCache(uint64_t capacityBytes) {
    static std::atomic<uint64_t> made{0};
    mSerial = ++made;
    mEngine.setCapacity(500 * kMegabyte);
    mEngine.clear();
    mEngine.setCapacity(capacityBytes);
    instance = this;
}

VTextureCache::~VTextureCache() {
    if (instance == this) instance = nullptr;
}

bool VTextureCache::registerObject(const void* object, uint32_t textureCount, const std::string& texturesFile) {
    unregisterObject(object);
    return mRegistry.registerObject(object, textureCount, texturesFile);
}

void VTextureCache::unregisterObject(const void* object) {
    uint32_t first = 0, count = 0;
    if (mRegistry.unregisterObject(object, first, count)) mEngine.removeKeys(first, count);
}

bool VTextureCache::useTexture(const void* object, int32_t index) {
    if (!mRegistry.knows(object)) return false;
    const uint32_t key = mRegistry.baseKey(object) + uint32_t(index);
    if (mEngine.lookup(key)) return true;
    std::FILE* file = mRegistry.file(object);
    if (!file || !mEngine.insert(key, index, file)) return false;
    return mEngine.lookup(key);
}

bool VTextureCache::prefetchTexture(const void* object, int32_t index) {
    if (!mRegistry.knows(object) || !mRegistry.file(object)) return false;
    return mEngine.tryInsert(mRegistry.baseKey(object) + uint32_t(index), index, mRegistry.file(object));
}

void VTextureCache::prefetchTextures(const void* object, const std::set<uint32_t>& indices) {
    if (!mEngine.canEvict() && mEngine.capacity - mEngine.used < kMegabyte) return;
    for (uint32_t index : indices) prefetchTexture(object, int32_t(index));
}

void VTextureCache::endFrame() {
    mEngine.printStatistics();
    logErr() << "TLB: " << mRegistry.objects() << " known objects, " << mRegistry.openFiles() << " files open.\n";
}
