#include "VResourceManager.h"

#include "LogStream.h"
#include "SceneFileText.h"
#include "SceneMatrix.h"
#include "SceneReadLimits.h"
#include "VGeometryInstance.h"
#include "VLinePyramid.h"
#include "VLineSphere.h"
#include "VSceneTexture.h"
#include "VSkyBox.h"
#include "VSurfelModel.h"
#include "VSurfelModel2.h"

#include <algorithm>

namespace {
VResourceManager* gCurrent = nullptr;
std::unique_ptr<VLineSphere> gBoundingSphereWireframe;

std::map<std::string, VGeometryMaker>& geometryKinds() {
    static std::map<std::string, VGeometryMaker> kinds;
    return kinds;
}

// Objects in name order, equal names by ID: the order the file lists them.
template <typename T> std::vector<const T*> inFileOrder(const std::vector<std::unique_ptr<T>>& objects) {
    std::vector<const T*> ordered;
    for (const auto& object : objects) ordered.push_back(object.get());
    std::sort(ordered.begin(), ordered.end(), [](const T* a, const T* b) {
        return a->name() != b->name() ? a->name() < b->name() : a->id() < b->id();
    });
    return ordered;
}

template <typename T> void writeList(std::ostream& out, const char* label, const std::vector<std::unique_ptr<T>>& objects) {
    out << label << "\n" << objects.size() << "\n";
    for (const T* object : inFileOrder(objects)) {
        object->writeClassName(out);
        object->write(out);
    }
}

std::streamoff positionOf(std::istream& in) { return in ? std::streamoff(in.tellg()) : -1; }

// The count line of a list, bounded by what the stream still holds.
uint32_t readCount(std::istream& in, const char* what, bool& ok, std::streamoff& failedAt) {
    uint32_t count = 0;
    failedAt = positionOf(in);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, count, ok);
    if (!ok) return 0;
    logErr() << "(" << count << " " << what << " found!)\n";
    if (!scenefile::countFits(in, count, what)) ok = false;
    if (ok) failedAt = -1;
    return count;
}

template <typename T> bool idTaken(const std::map<uint32_t, T*>& byId, uint32_t id, const char* what) {
    if (!byId.count(id)) return false;
    logErr() << "ERROR - " << what << " ID " << id << " is used twice!\n";
    return true;
}
} // namespace

VResourceManager::VResourceManager() {
    gCurrent = this;
    if (!gBoundingSphereWireframe) {
        const float south[4] = {1.0f, 0.0f, 0.0f, 1.0f}, north[4] = {1.0f, 0.6f, 0.0f, 1.0f};
        gBoundingSphereWireframe = std::make_unique<VLineSphere>("bs_wireframe", 0, 0, 0, 1, 8, 4, south, north, false);
    }
}

VResourceManager::~VResourceManager() {
    clear();
    if (gCurrent == this) gCurrent = nullptr;
}

VResourceManager* VResourceManager::current() { return gCurrent; }
void VResourceManager::setCurrent(VResourceManager* manager) { gCurrent = manager; }
VLineSphere* VResourceManager::boundingSphereWireframe() { return gBoundingSphereWireframe.get(); }

void VResourceManager::registerGeometryKind(const std::string& className, VGeometryMaker maker) {
    geometryKinds()[className] = std::move(maker);
}

VSceneTexture* VResourceManager::enter(std::unique_ptr<VSceneTexture> texture) {
    mTexturesByName.emplace(texture->name(), texture.get());
    mTexturesById.emplace(texture->id(), texture.get());
    mTextures.push_back(std::move(texture));
    return mTextures.back().get();
}

VSurfelModel* VResourceManager::createSurfelModel(const std::string& name, const std::string& fileName, bool useVBO) {
    return static_cast<VSurfelModel*>(addGeometry(std::make_unique<VSurfelModel>(name, fileName, useVBO)));
}

VSurfelModel2* VResourceManager::createSurfelModel2(const std::string& name, const std::string& geometryFile,
                                                    bool useVBO) {
    return static_cast<VSurfelModel2*>(addGeometry(std::make_unique<VSurfelModel2>(name, geometryFile, useVBO)));
}

VGeometry* VResourceManager::addGeometry(std::unique_ptr<VGeometry> geometry) {
    if (!geometry) return nullptr;
    mGeometriesByName.emplace(geometry->name(), geometry.get());
    mGeometriesById.emplace(geometry->id(), geometry.get());
    mGeometries.push_back(std::move(geometry));
    return mGeometries.back().get();
}

VGeometryInstance* VResourceManager::enter(std::unique_ptr<VGeometryInstance> instance) {
    mInstancesByName.emplace(instance->name(), instance.get());
    mInstancesById.emplace(instance->id(), instance.get());
    mInstances.push_back(std::move(instance));
    return mInstances.back().get();
}

VSceneTexture* VResourceManager::createTexture(const std::string& name, const std::string& imageFile) {
    auto texture = std::make_unique<VSceneTexture>(name, imageFile);
    if (!texture->load()) {
        logErr() << "texture \"" << name << "\": cannot read the image \"" << imageFile << "\"\n";
        return nullptr;
    }
    return enter(std::move(texture));
}

VSkyBox* VResourceManager::createSkyBox(const std::string& name, const std::array<std::string, 6>& textureFiles,
                                        float edgeLength, bool useVBO) {
    return static_cast<VSkyBox*>(addGeometry(std::make_unique<VSkyBox>(name, textureFiles, edgeLength, useVBO)));
}

VLinePyramid* VResourceManager::createLinePyramid(const std::string& name, float width, float height,
                                                  const float baseColour[4], const float topColour[4],
                                                  bool useVBO) {
    return static_cast<VLinePyramid*>(
        addGeometry(std::make_unique<VLinePyramid>(name, width, height, baseColour, topColour, useVBO)));
}

VLineSphere* VResourceManager::createLineSphere(const std::string& name, float x, float y, float z, float radius,
                                                uint32_t verticalSlices, uint32_t horizontalSlices,
                                                const float southColour[4], const float northColour[4],
                                                bool useVBO) {
    return static_cast<VLineSphere*>(addGeometry(std::make_unique<VLineSphere>(
        name, x, y, z, radius, verticalSlices, horizontalSlices, southColour, northColour, useVBO)));
}

VGeometryInstance* VResourceManager::createInstance(const std::string& name, VGeometry* geometry) {
    return enter(std::make_unique<VGeometryInstance>(name, geometry));
}

namespace {
template <typename K, typename T> T* findIn(const std::map<K, T*>& map, const K& key) {
    auto found = map.find(key);
    return found == map.end() ? nullptr : found->second;
}
} // namespace

VSceneTexture* VResourceManager::getTexture(uint32_t id) const { return findIn(mTexturesById, id); }
VSceneTexture* VResourceManager::getTexture(const std::string& name) const { return findIn(mTexturesByName, name); }
VGeometry* VResourceManager::getGeometry(uint32_t id) const { return findIn(mGeometriesById, id); }
VGeometry* VResourceManager::getGeometry(const std::string& name) const { return findIn(mGeometriesByName, name); }
VGeometryInstance* VResourceManager::getInstance(uint32_t id) const { return findIn(mInstancesById, id); }
VGeometryInstance* VResourceManager::getInstance(const std::string& name) const {
    return findIn(mInstancesByName, name);
}

uint32_t VResourceManager::largestId() const {
    uint32_t largest = 0;
    if (!mTexturesById.empty()) largest = std::max(largest, mTexturesById.rbegin()->first);
    if (!mGeometriesById.empty()) largest = std::max(largest, mGeometriesById.rbegin()->first);
    if (!mInstancesById.empty()) largest = std::max(largest, mInstancesById.rbegin()->first);
    return largest;
}

void VResourceManager::clear() {
    mTexturesByName.clear();
    mGeometriesByName.clear();
    mInstancesByName.clear();
    mTexturesById.clear();
    mGeometriesById.clear();
    mInstancesById.clear();
    // Instances refer to geometries: they go first.
    mInstances.clear();
    mGeometries.clear();
    mTextures.clear();
}

void VResourceManager::write(std::ostream& out) const {
    scenefile::usePrecision(out);
    writeList(out, "textures:", mTextures);
    writeList(out, "geometries:", mGeometries);
    writeList(out, "instances:", mInstances);
}

void VResourceManager::read(std::istream& in, bool& ok) {
    if (!ok) return;
    clear();
    mFailedAt = -1;
    logErr() << "Reading in VResourceManager ...\n";
    if (!readTextures(in, ok) || !readGeometries(in, ok) || !readInstances(in, ok)) return;
    logErr() << "... done!\n";
}

bool VResourceManager::readTextures(std::istream& in, bool& ok) {
    logErr() << " -> reading in textures \n";
    const uint32_t count = readCount(in, "textures", ok, mFailedAt);
    for (uint32_t t = 1; ok && t <= count; ++t) {
        std::string className;
        const std::streamoff entry = positionOf(in);
        scenefile::readLine(in, className, ok);
        auto texture = std::make_unique<VSceneTexture>("", "");
        if (ok && className == "VTextureRGBA") texture->read(in, ok);
        if (!ok || className != "VTextureRGBA" || idTaken(mTexturesById, texture->id(), "texture")) {
            logErr() << "ERROR - reading texture nr. " << t << "!\n";
            mFailedAt = entry;
            ok = false;
            break;
        }
        if (mReadOptions.loadFiles && !texture->load())
            logErr() << "texture \"" << texture->name() << "\": cannot read the image \"" << texture->imageFile()
                     << "\"; it stays unloaded\n";
        enter(std::move(texture));
    }
    return ok;
}

namespace {
template <typename Model> std::unique_ptr<VGeometry> modelForReading(bool loadFiles) {
    auto model = std::make_unique<Model>("", "", false);
    if (!loadFiles) model->skipLoadingOnRead();
    return model;
}
} // namespace

std::unique_ptr<VGeometry> VResourceManager::makeGeometry(const std::string& className) const {
    if (className == "VSkyBox") return std::unique_ptr<VGeometry>(VSkyBox::makeForReading());
    if (className == "VLinePyramid") return std::unique_ptr<VGeometry>(VLinePyramid::makeForReading());
    if (className == "VLineSphere") return std::unique_ptr<VGeometry>(VLineSphere::makeForReading());
    // Both hierarchy kinds: a scene that holds either must load again.
    if (className == "VSurfelModel") return modelForReading<VSurfelModel>(mReadOptions.loadFiles);
    if (className == "VSurfelModel2") return modelForReading<VSurfelModel2>(mReadOptions.loadFiles);
    auto kind = geometryKinds().find(className);
    if (kind != geometryKinds().end()) return kind->second(mReadOptions);
    return nullptr;
}

bool VResourceManager::readGeometries(std::istream& in, bool& ok) {
    logErr() << " -> reading in geometries \n";
    const uint32_t count = readCount(in, "geometries", ok, mFailedAt);
    for (uint32_t g = 1; ok && g <= count; ++g) {
        std::string className;
        const std::streamoff entry = positionOf(in);
        scenefile::readLine(in, className, ok);
        std::unique_ptr<VGeometry> geometry = ok ? makeGeometry(className) : nullptr;
        if (geometry) geometry->read(in, ok);
        const BoundingSphere* sphere = geometry ? geometry->boundingSphere() : nullptr;
        if (ok && sphere && !scenematrix::isUsable(*sphere)) {
            logErr() << "geometry \"" << geometry->name() << "\": its sphere must be finite, its radius at least 0\n";
            ok = false;
        }
        if (!ok || !geometry || idTaken(mGeometriesById, geometry->id(), "geometry")) {
            logErr() << "ERROR - reading geometry nr. " << g << "!\n";
            mFailedAt = entry;
            ok = false;
            break;
        }
        addGeometry(std::move(geometry));
    }
    return ok;
}

bool VResourceManager::readInstances(std::istream& in, bool& ok) {
    logErr() << " -> reading in geometry instances \n";
    const uint32_t count = readCount(in, "geometry instances", ok, mFailedAt);
    for (uint32_t i = 1; ok && i <= count; ++i) {
        std::string className;
        const std::streamoff entry = positionOf(in);
        scenefile::readLine(in, className, ok);
        auto instance = std::make_unique<VGeometryInstance>("", nullptr);
        if (ok && className == "VGeometryInstance") instance->read(in, ok);
        const uint32_t geometryId = instance->storedGeometryId();
        VGeometry* geometry = geometryId ? getGeometry(geometryId) : nullptr;
        if (ok && geometryId && !geometry)
            logErr() << "geometry instance \"" << instance->name() << "\" names the missing geometry ID "
                     << geometryId << "\n";
        if (!ok || className != "VGeometryInstance" || (geometryId && !geometry) ||
            idTaken(mInstancesById, instance->id(), "geometry instance")) {
            logErr() << "ERROR - reading geometry instance nr. " << i << "!\n";
            mFailedAt = entry;
            ok = false;
            break;
        }
        instance->setGeometry(geometry);
        enter(std::move(instance));
    }
    return ok;
}
