#include "VTextureDepot.h"

#include "LogStream.h"

#include <cstdio>
#include <iostream>

VTextureDepot::~VTextureDepot() { stop(); }

bool VTextureDepot::start(const std::string& texturesFile) {
    std::FILE* test = std::fopen(texturesFile.c_str(), "rb");
    if (!test) {
        logErr() << "Error using VTextureDepot!\nThe file \"" << texturesFile << "\" could not be opened!\n";
        return false;
    }
    std::fclose(test);
    stop();
    std::lock_guard lock(mMutex);
    mFile = texturesFile;
    mRunning = true;
    mThread = std::thread([this, texturesFile] { loaderLoop(texturesFile); });
    return true;
}

void VTextureDepot::stop() {
    {
        std::lock_guard lock(mMutex);
        mRunning = false;
    }
    mWake.notify_all();
    if (mThread.joinable()) mThread.join();
    clear();
}

bool VTextureDepot::restart(const std::string& texturesFile) { return start(texturesFile); }

// Waits for requests instead of polling: on a two-core machine a polling
// thread takes a core from the frame loop.
void VTextureDepot::loaderLoop(std::string texturesFile) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(texturesFile.c_str(), "rb"), &std::fclose);
    if (!file) {
        std::cerr << "Error using VTextureLoaderThread !\nCould not open file " << texturesFile << " !\n";
        return;
    }
    std::unique_lock lock(mMutex);
    for (;;) {
        mWake.wait(lock, [this] { return !mRunning || !mQueue.empty(); });
        if (!mRunning) return;
        const uint32_t index = *mQueue.begin(); // the smallest first
        mQueue.erase(mQueue.begin());
        lock.unlock();
        auto texture = std::make_unique<VImposterTexture>(int32_t(index));
        const bool loaded = texture->load(file.get());
        lock.lock();
        if (!loaded) continue; // use() will report it when the texture is drawn
        // An update while the texels were read may have dropped the index;
        // delivering it anyway would keep it until some later update.
        if (!mNeeded.count(index) || mDelivered.count(index)) continue;
        mDelivered[index] = std::move(texture);
        std::cerr << '.'; // standard streams are safe to share between threads
    }
}

void VTextureDepot::update(const std::set<uint32_t>& needed) {
    std::lock_guard lock(mMutex);
    for (auto it = mDelivered.begin(); it != mDelivered.end();) {
        if (needed.count(it->first)) {
            ++it;
            continue;
        }
        it->second->deleteTextures();
        it = mDelivered.erase(it);
    }
    for (auto it = mQueue.begin(); it != mQueue.end();) it = needed.count(*it) ? std::next(it) : mQueue.erase(it);
    for (uint32_t index : needed)
        if (!mDelivered.count(index)) mQueue.insert(index);
    mNeeded = needed;
    mWake.notify_one();
}

bool VTextureDepot::use(uint32_t index) {
    std::lock_guard lock(mMutex);
    auto it = mDelivered.find(index);
    if (it == mDelivered.end()) {
        auto texture = std::make_unique<VImposterTexture>(int32_t(index));
        if (mFile.empty() || !texture->load(mFile)) return false;
        std::cerr << '*';
        mLoadedSize += texture->sizeInBytes();
        mQueue.erase(index);
        it = mDelivered.emplace(index, std::move(texture)).first;
    }
    it->second->bind();
    return it->second->uploaded;
}

uint32_t VTextureDepot::loadAll(uint32_t count) {
    std::lock_guard lock(mMutex);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(mFile.c_str(), "rb"), &std::fclose);
    if (!file) return 0;
    uint32_t loaded = 0;
    for (uint32_t index = 0; index < count; ++index) {
        if (mDelivered.count(index)) {
            ++loaded;
            continue;
        }
        auto texture = std::make_unique<VImposterTexture>(int32_t(index));
        if (!texture->load(file.get())) {
            logErr() << "ERROR loading file from " << mFile << "!!!\n";
            continue;
        }
        mQueue.erase(index);
        mDelivered.emplace(index, std::move(texture));
        ++loaded;
    }
    return loaded;
}

void VTextureDepot::uploadAll() {
    std::lock_guard lock(mMutex);
    for (auto& [index, texture] : mDelivered)
        if (!texture->uploaded) texture->upload();
}

void VTextureDepot::clear() {
    std::lock_guard lock(mMutex);
    for (auto& [index, texture] : mDelivered) texture->deleteTextures();
    mDelivered.clear();
    mQueue.clear();
    mNeeded.clear();
}

uint64_t VTextureDepot::totalSize() const {
    std::lock_guard lock(mMutex);
    uint64_t total = 0;
    for (const auto& [index, texture] : mDelivered) total += texture->sizeInBytes();
    return total;
}

uint64_t VTextureDepot::loadedSize() const {
    std::lock_guard lock(mMutex);
    return mLoadedSize;
}

bool VTextureDepot::delivered(uint32_t index) const {
    std::lock_guard lock(mMutex);
    return mDelivered.count(index) != 0;
}

size_t VTextureDepot::queued() const {
    std::lock_guard lock(mMutex);
    return mQueue.size();
}
