#include "VLODObject3DOOCFileManager.h"

#include "CutRefinement.h"
#include "LogStream.h"
#include "QuantizedNormal.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <unistd.h>

namespace {
constexpr uint32_t kNever = 0xFFFFFFFF; // frame stamp of what was never used
constexpr uint64_t kCornerBytes = VLODObject3DOOCFileManager::kFloatsPerCorner * sizeof(float);
constexpr size_t kWriteBufferFloats = size_t(1) << 18; // 1 MiB: few writes for many small nodes
const float kNoCorners[VLODObject3DOOCFileManager::kFloatsPerCorner] = {};

bool writeAll(int file, const void* data, uint64_t bytes) {
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t written = ::write(file, p, bytes);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        p += written;
        bytes -= uint64_t(written);
    }
    return true;
}

bool readAll(int file, void* data, uint64_t bytes, uint64_t offset) {
    char* p = static_cast<char*>(data);
    while (bytes > 0) {
        const ssize_t got = ::pread(file, p, bytes, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false; // 0: the file ends early
        p += got;
        bytes -= uint64_t(got);
        offset += uint64_t(got);
    }
    return true;
}

// Sources of the arcs into each node, packed: node n's run starts at start[n].
void buildParents(const VLODObject3D& object, std::vector<uint32_t>& start, std::vector<uint32_t>& sources) {
    start.assign(object.nnum() + 1, 0);
    for (const MTArc& arc : object.aarray)
        ++start[arc.dest + 1];
    for (uint32_t n = 0; n < object.nnum(); ++n)
        start[n + 1] += start[n];
    sources.resize(object.anum());
    std::vector<uint32_t> next(start.begin(), start.end() - 1);
    for (const MTArc& arc : object.aarray)
        sources[next[arc.dest]++] = arc.source;
}

bool refuse(std::string& error, const std::string& message) {
    error = message;
    return false;
}

// What the blocks are written from must be in range, and every arc must
// lie in its source's block: an object made in memory has not passed the
// reader's checks.
bool checkObject(const VLODObject3D& object, std::string& error) {
    for (uint32_t n = 0; n < object.nnum(); ++n) {
        const MTNode& node = object.narray[n];
        if (uint64_t(node.out) + node.onum > object.anum())
            return refuse(error, "node " + std::to_string(n) + ": outgoing arcs beyond anum");
    }
    for (uint32_t a = 0; a < object.anum(); ++a) {
        const MTArc& arc = object.aarray[a];
        if (arc.source >= object.nnum() || arc.dest >= object.nnum() ||
            uint64_t(arc.tstart) + arc.tnum > object.tnum())
            return refuse(error, "arc " + std::to_string(a) + ": node or triangle index out of range");
        const MTNode& source = object.narray[arc.source];
        if (a < source.out || a - source.out >= source.onum)
            return refuse(error,
                          "arc " + std::to_string(a) + " is not among the outgoing arcs of its source node");
    }
    for (uint32_t t = 0; t < object.tnum(); ++t)
        for (uint32_t v : object.tarray[t].v)
            if (v >= object.vnum() || !object.varray[v].path)
                return refuse(error, "triangle " + std::to_string(t) + ": vertex " + std::to_string(v) +
                                         " out of range or without a position");
    return true;
}

void appendCorner(const MTVertex& vertex, std::vector<float>& out) {
    const Vec3f p = vertex.path->evaluate(0);
    const Vec3f& n = dequantizeNormal(vertex.normal);
    out.insert(out.end(), {p.x, p.y, p.z, n.x, n.y, n.z});
}
} // namespace

bool VLODObject3DOOCFileManager::start(const VLODObject3D& object, std::string& error) {
    release();
    if (!checkObject(object, error)) return false;
    initTetrahederLookupTableRec(); // the normals are written decoded
    mObject = &object;
    bool ok = false;
    try {
        ok = createFile(error);
        if (ok) {
            logOut() << "Write out-of-core file " << mFileName << " ... ";
            ok = writeBlocks(error);
            logOut() << (ok ? "done\n" : "failed\n");
        }
        if (ok) {
            buildParents(object, mInStart, mInSource);
            mNodeData.assign(object.nnum(), {});
            mLoaded.assign(object.nnum(), 0);
            mNodeFrame.assign(object.nnum(), kNever);
            mArcFrame.assign(object.anum(), kNever);
        }
    } catch (const std::bad_alloc&) {
        error = "out of memory while writing the temporary file";
        ok = false;
    }
    if (!ok) release();
    return ok;
}

bool VLODObject3DOOCFileManager::createFile(std::string& error) {
    std::error_code code;
    const std::filesystem::path directory = std::filesystem::temp_directory_path(code);
    if (code) return refuse(error, "no temporary directory: " + code.message());
    std::string name = (directory / "morva-ooc-XXXXXX").string();
    mFile = mkstemp(name.data());
    if (mFile < 0)
        return refuse(error, "could not create a temporary file in " + directory.string() + ": " +
                                 std::strerror(errno));
    mFileName = name;
    return true;
}

bool VLODObject3DOOCFileManager::writeBlocks(std::string& error) {
    const VLODObject3D& object = *mObject;
    mNodeCorner.assign(object.nnum() + 1, 0);
    mArcCorner.assign(object.anum(), 0);
    std::vector<float> buffer;
    buffer.reserve(kWriteBufferFloats + 3 * kFloatsPerCorner);
    auto flush = [&] {
        const bool written = writeAll(mFile, buffer.data(), buffer.size() * sizeof(float));
        buffer.clear();
        return written;
    };
    uint64_t corner = 0;
    for (uint32_t n = 0; n < object.nnum(); ++n) {
        mNodeCorner[n] = corner;
        const MTNode& node = object.narray[n];
        for (uint32_t a = node.out; a < node.out + node.onum; ++a) {
            const MTArc& arc = object.aarray[a];
            mArcCorner[a] = corner - mNodeCorner[n];
            for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t) {
                for (uint32_t v : object.tarray[t].v)
                    appendCorner(object.varray[v], buffer);
                if (buffer.size() >= kWriteBufferFloats && !flush())
                    return refuse(error, "could not write the temporary file " + mFileName + ": " +
                                             std::strerror(errno));
            }
            corner += 3 * uint64_t(arc.tnum);
        }
    }
    mNodeCorner[object.nnum()] = corner;
    if (!flush())
        return refuse(error, "could not write the temporary file " + mFileName + ": " + std::strerror(errno));
    return true;
}

bool VLODObject3DOOCFileManager::loadNode(uint32_t node) {
    const uint64_t corners = mNodeCorner[node + 1] - mNodeCorner[node];
    const char* failure = nullptr;
    try {
        std::vector<float>& data = mNodeData[node];
        data.resize(corners * kFloatsPerCorner);
        errno = 0;
        if (!readAll(mFile, data.data(), corners * kCornerBytes, mNodeCorner[node] * kCornerBytes)) {
            failure = errno ? std::strerror(errno) : "the file ends early";
            std::vector<float>().swap(data);
        }
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    }
    if (failure) {
        // Once: a broken file fails every frame.
        if (mStatistics.readFailures++ == 0)
            logErr() << "Could not read node " << node << " from the temporary file: " << failure << "\n";
        return false;
    }
    mLoaded[node] = 1;
    ++mStatistics.loadedNodes;
    ++mStatistics.loads;
    mStatistics.residentBytes += corners * kCornerBytes;
    return true;
}

void VLODObject3DOOCFileManager::unloadNode(uint32_t node) {
    std::vector<float>().swap(mNodeData[node]);
    mLoaded[node] = 0;
    mNodeFrame[node] = kNever; // a later use, even in this frame, records a new pair
    --mStatistics.loadedNodes;
    ++mStatistics.deletions;
    mStatistics.residentBytes -= (mNodeCorner[node + 1] - mNodeCorner[node]) * kCornerBytes;
}

void VLODObject3DOOCFileManager::touchNode(uint32_t node) {
    if (mNodeFrame[node] == mFrame) return;
    mNodeFrame[node] = mFrame;
    mUses.push_back({mFrame, node});
}

const float* VLODObject3DOOCFileManager::arcCorners(uint32_t arc, uint32_t& cornerCount) {
    cornerCount = 0;
    if (!started() || arc >= mArcCorner.size()) return nullptr;
    const uint32_t node = mObject->aarray[arc].source;
    if (!mLoaded[node] && !loadNode(node)) return nullptr;
    mArcFrame[arc] = mFrame;
    touchNode(node);
    cornerCount = 3 * mObject->aarray[arc].tnum;
    if (cornerCount == 0) return kNoCorners;
    return mNodeData[node].data() + mArcCorner[arc] * kFloatsPerCorner;
}

bool VLODObject3DOOCFileManager::arcUsedThisFrame(uint32_t node) const {
    const MTNode& n = mObject->narray[node];
    for (uint32_t a = n.out; a < n.out + n.onum; ++a)
        if (mArcFrame[a] == mFrame) return true;
    return false;
}

void VLODObject3DOOCFileManager::deleteNodesOlderThan(uint32_t frame) {
    for (auto it = mUses.begin(); it != mUses.end() && it->frame < frame;) {
        const uint32_t node = it->node;
        // A pair older than the node's last use, or of a node already
        // deleted, only goes; the node's latest pair decides.
        if (it->frame != mNodeFrame[node] || !mLoaded[node]) {
            it = mUses.erase(it);
            continue;
        }
        if (arcUsedThisFrame(node)) {
            ++it;
            continue;
        }
        logOut() << "try to delete node: " << node << " (frame: " << it->frame
                 << ", loaded: " << mStatistics.loadedNodes << ", deleted: " << mStatistics.deletions
                 << ")\n";
        unloadNode(node);
        it = mUses.erase(it);
    }
}

std::vector<uint32_t> VLODObject3DOOCFileManager::prefetchNodes(int32_t strategy,
                                                                const std::vector<uint32_t>& cutNodes,
                                                                const SelectionView* predicted) const {
    std::vector<uint32_t> nodes;
    if (!started() || !(strategy == 1 || (strategy == 2 && predicted))) return nodes;
    const VLODObject3D& object = *mObject;
    const double scale2 = predicted ? modelViewScale2(*predicted) : 0;
    for (uint32_t c : cutNodes) {
        if (c >= object.nnum()) continue;
        const MTNode& node = object.narray[c];
        for (uint32_t a = node.out; a < node.out + node.onum; ++a) {
            const uint32_t child = object.aarray[a].dest;
            if (strategy == 1 || nodeNeedsRefinement(nodeBounds(object, child), *predicted, scale2))
                nodes.push_back(child);
        }
        if (strategy == 1)
            nodes.insert(nodes.end(), mInSource.begin() + mInStart[c], mInSource.begin() + mInStart[c + 1]);
    }
    std::vector<uint32_t> cut(cutNodes);
    std::sort(cut.begin(), cut.end());
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    std::erase_if(nodes, [&](uint32_t n) {
        return n == object.mDrainNode || std::binary_search(cut.begin(), cut.end(), n);
    });
    return nodes;
}

void VLODObject3DOOCFileManager::prefetch(const std::vector<uint32_t>& nodes) {
    if (!started()) return;
    for (uint32_t node : nodes) {
        if (node >= mLoaded.size()) continue;
        if (mLoaded[node] || loadNode(node)) touchNode(node);
    }
}

void VLODObject3DOOCFileManager::reset() {
    for (std::vector<float>& data : mNodeData)
        std::vector<float>().swap(data);
    std::fill(mLoaded.begin(), mLoaded.end(), 0);
    std::fill(mNodeFrame.begin(), mNodeFrame.end(), kNever);
    std::fill(mArcFrame.begin(), mArcFrame.end(), kNever);
    mUses.clear();
    mStatistics = Statistics();
    mFrame = 0;
}

void VLODObject3DOOCFileManager::release() {
    if (mFile >= 0) {
        if (::close(mFile) != 0) logErr() << "Could not close temporary file!\n";
        mFile = -1;
    }
    if (!mFileName.empty()) {
        if (std::remove(mFileName.c_str()) != 0) logErr() << "Could not remove temporary file!\n";
        mFileName.clear();
    }
    reset();
    mNodeData.clear();
    mLoaded.clear();
    mNodeFrame.clear();
    mArcFrame.clear();
    mNodeCorner.clear();
    mArcCorner.clear();
    mInStart.clear();
    mInSource.clear();
    mObject = nullptr;
}
