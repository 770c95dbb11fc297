#pragma once
// The process-wide cache of impostor textures for the out-of-core path:
// textures keyed by (hierarchy, texture index), bounded in bytes, evicted
// least recently used by frame. Drawing forces a missing texture in (and may
// evict anything); prefetching only takes room from textures not used in
// this frame or the last, and asks the file's directory for the size before
// it reads any texels. Used from the drawing thread only.

#include "VTexture.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

class VLRUCache {
  public:
    uint64_t capacity = 0, used = 0;
    uint64_t frame = 0;
    uint32_t missesThisFrame = 0, missesOverall = 0;

    ~VLRUCache();
    // A hit binds the texture and marks it used in this frame.
    bool lookup(uint32_t key);
    // Only from frame 3 on, and only while the least recently used entry
    // was last used before the previous frame.
    bool canEvict() const;
    // Frees at least n bytes from the least recently used end, whatever
    // their age (everything when n is more than is used).
    void evictBytes(uint64_t n);
    // Frees up to n bytes of entries older than the previous frame; false
    // when that was not enough.
    bool evictOld(uint64_t n);
    // Forced: loads texture index of file under key, evicting what it must.
    // False when it cannot be read or is larger than the whole cache.
    bool insert(uint32_t key, int32_t index, std::FILE* file);
    // Prefetch: the size from the directory first; gives up rather than
    // evict anything recent.
    bool tryInsert(uint32_t key, int32_t index, std::FILE* file);
    void setCapacity(uint64_t bytes);
    void clear();
    void nextFrame();
    void printStatistics() const;
    bool contains(uint32_t key) const { return mEntries.count(key) != 0; }
    // Evicts the held keys among first .. first + count - 1.
    void removeKeys(uint32_t first, uint32_t count);
    size_t size() const { return mEntries.size(); }

  private:
    struct Entry {
        std::unique_ptr<VImposterTexture> texture;
        uint64_t frame = 0;
        uint64_t bytes = 0; // as counted into used when inserted
    };
    void remove(uint32_t key);
    void store(uint32_t key, std::unique_ptr<VImposterTexture> texture);

    std::map<uint32_t, Entry> mEntries;
    std::set<std::pair<uint64_t, uint32_t>> mOrder; // (frame of last use, key): least recent first
};

// Which hierarchy owns which keys, and its open textures file.
class VTextureFileRegistry {
  public:
    ~VTextureFileRegistry();
    // Hands out the next free run of keys. False when the file cannot be
    // opened. An object registered again (read anew, or another file in the
    // same object) is unregistered first: the cache does that.
    bool registerObject(const void* object, uint32_t textureCount, const std::string& texturesFile);
    // Closes the object's file and forgets it; its key run is returned
    // through first and count so that the cache can evict it.
    bool unregisterObject(const void* object, uint32_t& first, uint32_t& count);
    bool knows(const void* object) const { return mObjects.count(object) != 0; }
    uint32_t baseKey(const void* object) const { return mObjects.at(object).base; }
    std::FILE* file(const void* object) const { return mObjects.at(object).file; }
    size_t objects() const { return mObjects.size(); }
    size_t openFiles() const;

  private:
    struct Registered {
        uint32_t base = 0, count = 0;
        std::FILE* file = nullptr;
        std::string name;
    };
    std::map<const void*, Registered> mObjects;
    uint32_t mNextKey = 0;
};

class VTextureCache {
  public:
    static VTextureCache* instance; // the one cache, while it exists

    explicit VTextureCache(uint64_t capacityBytes);
    virtual ~VTextureCache();
    // Different for every cache made in this run, so that a registration
    // with an earlier cache is not mistaken for one with a later cache at
    // the same address.
    uint64_t serial() const { return mSerial; }

    virtual void setCapacity(uint64_t bytes) { mEngine.setCapacity(bytes); }
    virtual void clear() { mEngine.clear(); }
    // Replaces an earlier registration of the same object.
    virtual bool registerObject(const void* object, uint32_t textureCount, const std::string& texturesFile);
    // Evicts the object's textures and closes its file: called when its
    // drawing is released or it is read anew, since the address may next
    // belong to another hierarchy.
    virtual void unregisterObject(const void* object);
    virtual void nextFrame() { mEngine.nextFrame(); }
    // Binds the texture, loading it first when it is missing. False when
    // the object is unknown or the texture cannot be had: draw without it.
    virtual bool useTexture(const void* object, int32_t index);
    // Ascending; dropped when nothing can be evicted and under 1 MB is free.
    virtual void prefetchTextures(const void* object, const std::set<uint32_t>& indices);
    // Statistics of the frame and of the registry, on standard error.
    virtual void endFrame();
    virtual bool prefetchTexture(const void* object, int32_t index);

    const VLRUCache& engine() const { return mEngine; }

  private:
    VLRUCache mEngine;
    VTextureFileRegistry mRegistry;
    uint64_t mSerial;
};
