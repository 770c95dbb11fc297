#include "VSceneGraph.h"

#include "FileBytes.h"
#include "LogStream.h"
#include "SceneFileText.h"
#include "SceneHierarchyCheck.h"
#include "SceneObjectId.h"
#include "SceneReadLimits.h"
#include "VGeometry.h"
#include "VGeometryInstance.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

// 1 + the newlines before offset, counted from the stream's start.
uint64_t lineAt(std::istream& in, std::streamoff offset) {
    in.clear();
    in.seekg(0);
    uint64_t line = 1;
    char buffer[4096];
    while (offset > 0 && in) {
        in.read(buffer, std::min<std::streamoff>(offset, sizeof buffer));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        line += std::count(buffer, buffer + got, '\n');
        offset -= got;
    }
    return line;
}

std::streamoff positionOf(std::istream& in) {
    in.clear();
    return std::streamoff(in.tellg());
}
} // namespace

VSceneGraph::VSceneGraph(Empty) {}

VSceneGraph::VSceneGraph(VResourceManager* manager) : mRoot(std::make_unique<VSceneNode>("Root Node")) {
    if (!manager) {
        failAt(-1);
    mOwnedManager = std::make_unique<VResourceManager>();
        manager = mOwnedManager.get();
    }
    mManager = manager;
    resetTraversal();
}

VSceneGraph::~VSceneGraph() {
    // Nodes refer to the manager's objects and the terrain to nodes.
    mTerrain.reset();
    mNodes.clear();
    mRoot.reset();
    mOwnedManager.reset();
}

VTerrain* VSceneGraph::createTerrain(const std::string& kindName, const std::string& name, uint32_t seed,
                                     float edge, uint32_t patchSize, int32_t beginX, int32_t beginZ,
                                     uint32_t countX, uint32_t countZ, bool useVBO) {
    mTerrain = std::make_unique<VTerrain>(*this, name, kindName, seed, edge, patchSize, beginX, beginZ, countX,
                                          countZ, useVBO);
    return mTerrain.get();
}

void VSceneGraph::resetTraversal() {
    mStartNodes.clear();
    if (mBackground) mStartNodes.push_back(mBackground);
    if (mRoot) mStartNodes.push_back(mRoot.get());
}

void VSceneGraph::setBackground(VSceneNode* node) {
    mBackground = node;
    resetTraversal();
}

void VSceneGraph::setTerrain(std::unique_ptr<VTerrain> terrain) { mTerrain = std::move(terrain); }

VSceneNode* VSceneGraph::createNode(const double translation[3], const double rotation[9],
                                    const std::string& name) {
    return addNode(std::make_unique<VSceneNode>(translation, rotation, name));
}

VSceneNode* VSceneGraph::createNode(const std::string& name) { return addNode(std::make_unique<VSceneNode>(name)); }

VSceneNode* VSceneGraph::addNode(std::unique_ptr<VSceneNode> node) {
    if (!node || getNode(node->id())) return nullptr;
    logErr() << "Created new node! Number of nodes: " << mNodesByName.size() << "\n";
    return enterNode(std::move(node));
}

VSceneNode* VSceneGraph::enterNode(std::unique_ptr<VSceneNode> node) {
    mNodesByName.emplace(node->name(), node.get());
    mNodesById.emplace(node->id(), node.get());
    mNodes.push_back(std::move(node));
    return mNodes.back().get();
}

VSceneNode* VSceneGraph::getNode(uint32_t id) const {
    if (mRoot && mRoot->id() == id) return mRoot.get();
    auto found = mNodesById.find(id);
    return found == mNodesById.end() ? nullptr : found->second;
}

VSceneNode* VSceneGraph::getNode(const std::string& name) const {
    if (mRoot && mRoot->name() == name) return mRoot.get();
    auto found = mNodesByName.find(name);
    return found == mNodesByName.end() ? nullptr : found->second;
}

void VSceneGraph::clear() {
    mTerrain.reset();
    mBackground = nullptr;
    mNodesByName.clear();
    mNodesById.clear();
    mNodes.clear();
    mRoot = std::make_unique<VSceneNode>("Root Node");
    resetTraversal();
}

void VSceneGraph::draw(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (mBackground && mBackground->isVisible()) {
        VTraversalContext around = context;
        around.cullFrustum = false;
        around.worldSpaceSpheres = false;
        if (context.camera) {
            const Vec3d& eye = context.camera->position;
            const double translation[3] = {eye.x, eye.y, eye.z};
            mBackground->setTranslation(translation);
        }
        mBackground->draw(around, statistics);
    }
    if (mRoot && mRoot->isVisible()) mRoot->draw(context, statistics);
    if (mTerrain) {
        VTraversalContext copy = context;
        mTerrain->draw(copy, statistics);
    }
}

void VSceneGraph::initGeometries(const VTraversalContext& context) {
    for (VSceneNode* node : mStartNodes) node->initGeometries(context);
    if (mTerrain) mTerrain->initGeometries(context);
}

void VSceneGraph::print() const {
    auto& err = logErr();
    err << "Root Node ID: " << mRoot->id() << " | pointer: " << static_cast<const void*>(mRoot.get()) << "\n";
    if (mBackground)
        err << "Background Node ID: " << mBackground->id() << " | pointer: " << static_cast<const void*>(mBackground)
            << "\n";
    err << "map< ID, Node > contains:\n";
    for (const auto& [id, node] : mNodesById)
        err << "Key: " << id << " | Entry: " << static_cast<const void*>(node) << "\n";
    err << "map< Name, Node > contains:\n";
    for (const auto& [name, node] : mNodesByName)
        err << "Key: " << name << " | Entry: " << static_cast<const void*>(node) << "\n";
}

bool VSceneGraph::save(const std::string& fileName) const {
    std::ostringstream out;
    out << kFileHeader << "\n1\n";
    write(out);
    std::string error; // written whole and renamed into place, or not at all
    if (writeFileAtomically(fileName, out.str(), error)) return true;
    logErr() << "ERROR - cannot write the scene file \"" << fileName << "\"! " << error << "\n";
    return false;
}

void VSceneGraph::write(std::ostream& out) const {
    scenefile::usePrecision(out);
    mManager->writeClassName(out);
    mManager->write(out);
    out << "number of nodes:\n" << nodeCount() << "\nnodes:\n";
    mRoot->writeClassName(out);
    mRoot->write(out);
    for (const auto& [id, node] : mNodesById) {
        node->writeClassName(out);
        node->write(out);
    }
    out << "ID of root node:\n" << mRoot->id() << "\nID of background node:\n"
        << (mBackground ? mBackground->id() : 0u) << "\nterrain:\n";
    if (!mTerrain) {
        out << "NULL\n";
        return;
    }
    mTerrain->writeClassName(out);
    mTerrain->write(out);
}

bool VSceneGraph::load(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        logErr() << "ERROR - cannot open the scene file \"" << fileName << "\"!\n";
        return false;
    }
    if (load(in)) return true;
    logErr() << "ERROR - could not load the scene file \"" << fileName << "\"!\n";
    return false;
}

bool VSceneGraph::load(std::istream& in) {
    bool ok = true;
    float version = 0;
    scenefile::expectLine(in, kFileHeader, ok);
    scenefile::readValue(in, version, ok);
    if (!ok || version != 1) {
        logErr() << "ERROR - this is no scene file of version 1!\n";
        return false;
    }
    read(in, ok);
    return ok;
}

void VSceneGraph::read(std::istream& in, bool& ok) {
    if (!ok) return;
    VResourceManager* previousCurrent = VResourceManager::current();
    auto fresh = std::unique_ptr<VSceneGraph>(new VSceneGraph(Empty{}));
    fresh->mReadOptions = mReadOptions;
    fresh->readContents(in, ok);
    if (!ok) {
        std::streamoff at = fresh->mFailedAt;
        if (at < 0 && fresh->mManager) at = fresh->mManager->failedAt();
        if (at < 0) at = positionOf(in);
        fresh.reset();
        VResourceManager::setCurrent(previousCurrent);
        logErr() << "ERROR - scene file refused at line " << lineAt(in, at) << "; the scene stays as it was\n";
        return;
    }
    swapContents(*fresh);
    advanceSceneObjectIdsPast(largestId());
    VResourceManager::setCurrent(mManager);
}

void VSceneGraph::swapContents(VSceneGraph& other) {
    std::swap(mRoot, other.mRoot);
    std::swap(mBackground, other.mBackground);
    std::swap(mNodesByName, other.mNodesByName);
    std::swap(mNodesById, other.mNodesById);
    std::swap(mNodes, other.mNodes);
    std::swap(mManager, other.mManager);
    std::swap(mOwnedManager, other.mOwnedManager);
    std::swap(mTerrain, other.mTerrain);
    resetTraversal();
    other.resetTraversal();
}

uint32_t VSceneGraph::largestId() const {
    uint32_t largest = std::max(mManager->largestId(), mRoot->id());
    if (!mNodesById.empty()) largest = std::max(largest, mNodesById.rbegin()->first);
    return largest;
}

void VSceneGraph::failAt(std::streamoff offset) { mFailedAt = offset; }

void VSceneGraph::readContents(std::istream& in, bool& ok) {
    std::string className;
    failAt(positionOf(in));
    scenefile::readLine(in, className, ok);
    if (!ok || className != "VResourceManager") {
        logErr() << "ERROR - the scene file holds no resource manager!\n";
        ok = false;
        return;
    }
    failAt(-1);
    mOwnedManager = std::make_unique<VResourceManager>();
    mManager = mOwnedManager.get();
    mManager->setReadOptions(mReadOptions);
    mManager->read(in, ok);
    if (!ok) return;
    std::vector<VSceneNodeRecord> records;
    ok = readNodes(in, records) && readRootAndBackground(in, records) && readTerrain(in);
    if (ok) logErr() << "... done!\n";
}

bool VSceneGraph::readNodes(std::istream& in, std::vector<VSceneNodeRecord>& records) {
    logErr() << "Reading in VSceneGraph ...\n -> reading in scene nodes \n";
    bool ok = true;
    uint32_t count = 0;
    failAt(positionOf(in));
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, count, ok);
    if (!ok) return false;
    logErr() << "(" << count << " scene nodes found!)\n";
    if (count == 0) {
        logErr() << "ERROR - a scene needs its root node!\n";
        return false;
    }
    if (!scenefile::countFits(in, count, "scene nodes")) return false;
    failAt(-1);
    scenefile::skipLabel(in, ok);
    for (uint32_t n = 0; ok && n < count; ++n) {
        VSceneNodeRecord record;
        const std::streamoff entry = positionOf(in);
        std::string className;
        scenefile::readLine(in, className, ok);
        auto node = std::make_unique<VSceneNode>("");
        if (ok && className == "VSceneNode") node->read(in, ok, record);
        record.entryOffset = entry;
        const bool taken = ok && className == "VSceneNode" && getNode(node->id());
        if (taken) logErr() << "ERROR - scene node ID " << node->id() << " is used twice!\n";
        if (!ok || className != "VSceneNode" || taken) {
            if (n == 0)
                logErr() << "ERROR - reading the root node!\n";
            else
                logErr() << "ERROR - reading scene node nr. " << n << "!\n";
            failAt(entry);
            return false;
        }
        records.push_back(record);
        if (n == 0)
            mRoot = std::move(node);
        else
            enterNode(std::move(node));
    }
    return ok;
}

bool VSceneGraph::readRootAndBackground(std::istream& in, const std::vector<VSceneNodeRecord>& records) {
    logErr() << " -> reading ID of Root Node and Background Node\n";
    bool ok = true;
    uint32_t rootId = 0, backgroundId = 0;
    failAt(positionOf(in));
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, rootId, ok);
    const std::streamoff backgroundAt = ok ? positionOf(in) : -1;
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, backgroundId, ok);
    if (!ok) {
        logErr() << "ERROR - reading ID numbers!\n";
        return false;
    }
    // The written root ID is the root's own; a file that disagrees with
    // itself would not read back.
    if (rootId == 0 || !mRoot || rootId != mRoot->id()) {
        logErr() << "ERROR - invalid root ID!\n";
        return false;
    }
    failAt(-1);
    logErr() << " -> regenerate pointer references to parent+child nodes\n";
    size_t faulty = 0;
    if (!checkNodeHierarchy(mRoot->id(), records, faulty)) {
        failAt(records[faulty].entryOffset);
        logErr() << "ERROR - could not get correct references!\n";
        return false;
    }
    if (!regenerateReferences(records)) {
        logErr() << "ERROR - could not get correct references!\n";
        return false;
    }
    // An overflow spreads up to the root: name the lowest node it reaches.
    auto childrenUsable = [](const VSceneNode& node) {
        return std::all_of(node.children().begin(), node.children().end(),
                           [](const auto& child) { return child.second->hasUsablePlacement(); });
    };
    for (const VSceneNodeRecord& record : records)
        if (!record.node->hasUsablePlacement() && childrenUsable(*record.node)) {
            logErr() << "ERROR - node " << record.node->id() << " is placed beyond the number range!\n";
            failAt(record.entryOffset);
            return false;
        }
    logErr() << " -> setting background node\n";
    if (backgroundId != 0) {
        VSceneNode* background = getNode(backgroundId);
        if (!background) {
            failAt(backgroundAt);
            logErr() << "ERROR - ID of background node is faulty!\n";
            return false;
        }
        setBackground(background);
    }
    return true;
}

bool VSceneGraph::readTerrain(std::istream& in) {
    bool ok = true;
    std::string className;
    failAt(positionOf(in));
    scenefile::skipLabel(in, ok);
    scenefile::readLine(in, className, ok);
    if (!ok) {
        logErr() << "ERROR - could not read in terrain!\n";
        return false;
    }
    if (className != "VTerrain") {
        failAt(-1);
        return true;
    }
    mTerrain = std::make_unique<VTerrain>(*this);
    mTerrain->read(in, ok);
    if (!ok) {
        logErr() << "ERROR - could not read in terrain!\n";
        return false;
    }
    return true;
}

bool VSceneGraph::regenerateReferences(const std::vector<VSceneNodeRecord>& records) {
    for (const VSceneNodeRecord& record : records)
        if (!linkRecord(record)) return false;
    for (const VSceneNodeRecord& record : records) {
        if (!record.node) {
            logErr() << "node in temporary list is NULL!!!\n";
            return false;
        }
        if (!linkChildren(record)) return false;
    }
    return true;
}

bool VSceneGraph::linkRecord(const VSceneNodeRecord& record) {
    if (!record.node) {
        logErr() << "list of temporary nodes contains NULL node!!!\n";
        return false;
    }
    for (uint32_t id : record.geometryIds) {
        VGeometry* geometry = mManager->getGeometry(id);
        if (!geometry) {
            logErr() << "could not get geometry from resource manager!!!\n";
            failAt(record.entryOffset);
            return false;
        }
        if (!record.node->addGeometry(geometry)) {
            logErr() << "ERROR - node " << record.node->id() << " holds two geometries named \"" << geometry->name()
                     << "\"!\n";
            failAt(record.entryOffset);
            return false;
        }
    }
    for (uint32_t id : record.instanceIds) {
        VGeometryInstance* instance = mManager->getInstance(id);
        if (!instance) {
            logErr() << "could not get instance from resource manager!!!\n";
            failAt(record.entryOffset);
            return false;
        }
        if (!record.node->addInstance(instance)) {
            logErr() << "ERROR - node " << record.node->id() << " holds two instances named \"" << instance->name()
                     << "\"!\n";
            failAt(record.entryOffset);
            return false;
        }
    }
    return true;
}

bool VSceneGraph::linkChildren(const VSceneNodeRecord& record) {
    for (uint32_t id : record.childIds) {
        VSceneNode* child = getNode(id);
        if (!child) {
            logErr() << "could not get node!!!\n";
            failAt(record.entryOffset);
            return false;
        }
        if (!record.node->addChild(child)) {
            logErr() << "ERROR - node " << record.node->id() << " has two children named \"" << child->name()
                     << "\"!\n";
            failAt(record.entryOffset);
            return false;
        }
    }
    return true;
}
