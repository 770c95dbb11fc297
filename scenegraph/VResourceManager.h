#pragma once
// Owner of a scene's textures, geometries and geometry instances, found by
// name or by ID. Every object goes into both maps of its kind unless the
// key is taken (a later object with the same name stays reachable by ID
// only); the manager owns it either way and writes all of them.
//
// The newest manager is the current one, which geometries consult for
// shared resources. The first manager also makes the process-wide line
// sphere "bs_wireframe" that nodes draw their bounding spheres with.
//
// Geometry kinds defined outside this library (hierarchy models) register a
// maker under their class-name line; the reader then accepts their entries.

#include "VSerializable.h"

#include <array>
#include <cstdint>
#include <functional>
#include <ios>
#include <map>
#include <memory>
#include <string>
#include <vector>

class VGeometry;
class VGeometryInstance;
class VLinePyramid;
class VLineSphere;
class VSceneTexture;
class VSkyBox;
class VSurfelModel;
class VSurfelModel2;

struct VSceneReadOptions {
    // Whether reading opens the image and hierarchy files an entry names;
    // off, such resources stay unloaded (for tools that only check a file).
    bool loadFiles = true;
};

// Makes an empty geometry of one kind for its entry to be read into.
using VGeometryMaker = std::function<std::unique_ptr<VGeometry>(const VSceneReadOptions&)>;

class VResourceManager : public VSerializable {
  public:
    VResourceManager();
    ~VResourceManager() override;
    VResourceManager(const VResourceManager&) = delete;
    VResourceManager& operator=(const VResourceManager&) = delete;

    // The newest manager still alive (null when the newest was deleted).
    static VResourceManager* current();
    static void setCurrent(VResourceManager* manager);
    static VLineSphere* boundingSphereWireframe();
    // Entries whose class-name line is className are read into what maker
    // returns. Replaces an earlier maker of the same name.
    static void registerGeometryKind(const std::string& className, VGeometryMaker maker);

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VResourceManager\n"; }
    void read(std::istream& in, bool& ok) override;
    void setReadOptions(const VSceneReadOptions& options) { mReadOptions = options; }
    // After a failed read: where the entry or count at fault begins (-1
    // when the stream cannot tell).
    std::streamoff failedAt() const { return mFailedAt; }

    // Reads the image at once; null (nothing entered) when it cannot.
    VSceneTexture* createTexture(const std::string& name, const std::string& imageFile);
    VSkyBox* createSkyBox(const std::string& name, const std::array<std::string, 6>& textureFiles,
                          float edgeLength, bool useVBO);
    VLinePyramid* createLinePyramid(const std::string& name, float width, float height, const float baseColour[4],
                                    const float topColour[4], bool useVBO);
    VLineSphere* createLineSphere(const std::string& name, float x, float y, float z, float radius,
                                  uint32_t verticalSlices, uint32_t horizontalSlices, const float southColour[4],
                                  const float northColour[4], bool useVBO);
    // A hierarchy read with its side files, and one drawn from its side
    // files alone (geometryFile: the ".mv3").
    VSurfelModel* createSurfelModel(const std::string& name, const std::string& fileName, bool useVBO);
    VSurfelModel2* createSurfelModel2(const std::string& name, const std::string& geometryFile, bool useVBO);
    VGeometryInstance* createInstance(const std::string& name, VGeometry* geometry);
    // Takes a geometry of any kind (the create operations of kinds defined
    // elsewhere go through here) and enters it.
    VGeometry* addGeometry(std::unique_ptr<VGeometry> geometry);

    VSceneTexture* getTexture(uint32_t id) const;
    VSceneTexture* getTexture(const std::string& name) const;
    VGeometry* getGeometry(uint32_t id) const;
    VGeometry* getGeometry(const std::string& name) const;
    VGeometryInstance* getInstance(uint32_t id) const;
    VGeometryInstance* getInstance(const std::string& name) const;
    size_t textureCount() const { return mTextures.size(); }
    size_t geometryCount() const { return mGeometries.size(); }
    size_t instanceCount() const { return mInstances.size(); }
    // The largest ID of any object held (0 when empty).
    uint32_t largestId() const;

    // Deletes every texture, geometry and instance.
    void clear();

  private:
    bool readTextures(std::istream& in, bool& ok);
    bool readGeometries(std::istream& in, bool& ok);
    bool readInstances(std::istream& in, bool& ok);
    std::unique_ptr<VGeometry> makeGeometry(const std::string& className) const;
    VSceneTexture* enter(std::unique_ptr<VSceneTexture> texture);
    VGeometryInstance* enter(std::unique_ptr<VGeometryInstance> instance);

    std::map<std::string, VSceneTexture*> mTexturesByName;
    std::map<std::string, VGeometry*> mGeometriesByName;
    std::map<std::string, VGeometryInstance*> mInstancesByName;
    std::map<uint32_t, VSceneTexture*> mTexturesById;
    std::map<uint32_t, VGeometry*> mGeometriesById;
    std::map<uint32_t, VGeometryInstance*> mInstancesById;
    std::vector<std::unique_ptr<VSceneTexture>> mTextures;
    std::vector<std::unique_ptr<VGeometry>> mGeometries;
    std::vector<std::unique_ptr<VGeometryInstance>> mInstances;
    VSceneReadOptions mReadOptions;
    std::streamoff mFailedAt = -1;
};
