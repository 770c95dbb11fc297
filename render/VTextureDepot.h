#pragma once
// The in-core store of one hierarchy's impostor textures, fed by a loader
// thread: the drawing thread says which textures the cut needs (update), the
// thread reads them from the textures file in ascending order, and the
// drawing thread binds them (use), reading one at once itself when it is not
// there yet. The depot's mutex guards the queue and the delivered textures
// for the whole of every operation; only the drawing thread calls OpenGL.
//
// The thread reads the texels too, not only the size: then nothing is read
// on the drawing thread for a texture the thread delivered, and a texture is
// read once however many frames use it.

#include "VTexture.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class VTextureDepot {
  public:
    ~VTextureDepot();

    // Opens the textures file once to test it, then starts the loader.
    // False, with the messages, when it cannot be opened.
    bool start(const std::string& texturesFile);
    // Stops the loader, waits for it and empties the depot.
    void stop();
    bool restart(const std::string& texturesFile);

    // The textures needed now: delivered ones outside the set are deleted,
    // missing ones are queued.
    void update(const std::set<uint32_t>& needed);
    // Binds texture index, reading it at once when it was not delivered yet
    // ("*" on standard error). False when it cannot be read.
    bool use(uint32_t index);
    // In core: reads textures 0 .. count - 1 at once on the calling thread;
    // returns how many could be read.
    uint32_t loadAll(uint32_t count);
    // Uploads every delivered texture (needs the drawing context).
    void uploadAll();
    void clear();
    uint64_t totalSize() const;
    uint64_t loadedSize() const;
    bool delivered(uint32_t index) const;
    size_t queued() const;

  private:
    void loaderLoop(std::string texturesFile);

    mutable std::mutex mMutex;
    std::condition_variable mWake; // the queue grew, or the loader must stop
    std::map<uint32_t, std::unique_ptr<VImposterTexture>> mDelivered;
    std::set<uint32_t> mQueue;
    std::set<uint32_t> mNeeded; // the last update's set: loads finishing outside it are dropped
    std::thread mThread;
    bool mRunning = false;
    std::string mFile;
    uint64_t mLoadedSize = 0; // bytes read on the drawing thread by use()
};
