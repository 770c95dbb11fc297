#pragma once
// Many placed copies (instances) of a few hierarchies. A hierarchy is read
// once, prepared for drawing from buffer objects and its impostors are
// rendered into shared texture atlases; then the hierarchy object itself is
// dropped. The prepared representation is kept under an id the caller
// chooses, and instances refer to it with their own placement, error bound
// and colour. Drawing chooses each instance's billboards on the GPU and its
// triangle patches on the CPU.
//
// Needs a current context with the extension entry points loaded; every
// operation that touches OpenGL objects must run in that context.

#include "TextureSpace.h"
#include "VLODObject3DOOCViewer.h"

#include <GL/gl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class VLODObject3D;

// One placed copy of a prepared hierarchy.
struct VLODObject3DInstance {
    VLODObject3DOOCViewer* object = nullptr; // not owned
    float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; // model matrix, column-major
    float scale = 1.0f; // uniform, applied before matrix
    int32_t id = -1;
    bool visible = true;
    float error = 1.0f; // allowed screen-space error in pixels
    float color[3] = {0.7f, 0.7f, 0.7f};
};

// Impostor textures shared by several hierarchies: a front and a back
// rectangle texture of half floats and the free texels of each (the two
// spaces stay identical).
struct VTextureAtlas {
    static constexpr uint32_t kWidth = 3096, kHeight = 3048;

    GLuint front = 0, back = 0;
    TextureSpace frontSpace, backSpace;
    uint64_t freeTexels = 0;
};

// What a frame of instances needs besides the projection matrix, which is
// the caller's.
struct InstanceView {
    float viewMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; // camera, column-major
    double projectionConstant = 1; // viewport height / (2 tan(opening / 2)): pixels per unit at distance 1
    bool wireframe = false;        // outlines over the filled pass
};

struct InstanceDrawCounts {
    uint64_t instances = 0;
    uint64_t billboards = 0; // the impostors of the instances' cuts, as the CPU selects them
    uint64_t triangles = 0;
};

class VLODObject3DInstanceManager {
  public:
    // Impostor texels in a shared atlas: as a 600-pixel view with a 20 degree
    // opening needs them.
    static const TexelScale kAtlasScale;

    // Sets up the manager's shader set.
    VLODObject3DInstanceManager();
    ~VLODObject3DInstanceManager();
    VLODObject3DInstanceManager(const VLODObject3DInstanceManager&) = delete;
    VLODObject3DInstanceManager& operator=(const VLODObject3DInstanceManager&) = delete;

    // Reads a hierarchy file (with its impostor tree) and adds it under id.
    bool loadObject(const std::string& fileName, const std::string& id);
    // Prepares object under id: its impostors into the first atlas with
    // room (a new one when none has), then the buffers. False, with the
    // reason printed, when the id is taken, the impostors fit no atlas or
    // the buffers cannot be made; nothing of the object stays behind then.
    bool addObject(const VLODObject3D& object, const std::string& id);
    // A new instance of the object kept under id; null with a message when
    // there is none. Owned by the manager.
    VLODObject3DInstance* createInstance(const std::string& id);
    void setError(float error);
    // Deletes every instance, representation and atlas.
    void clear();
    void reloadShaders();

    // Every visible instance under the current projection: per
    // representation its atlas and billboard buffers are bound once, and
    // each instance draws all billboards with the GPU choosing its cut,
    // then the triangle patches of its CPU cut.
    InstanceDrawCounts drawInstances(const InstanceView& view);

    // The size of atlases opened from now on (smaller drivers, tests).
    void setAtlasSize(uint32_t width, uint32_t height);

    std::map<std::string, std::unique_ptr<VLODObject3DOOCViewer>> repository;
    std::vector<std::unique_ptr<VTextureAtlas>> atlases;
    // The instances of every representation ("m_ir").
    std::map<VLODObject3DOOCViewer*, std::vector<std::unique_ptr<VLODObject3DInstance>>> instances;

  private:
    struct Placement;
    bool placeImpostors(const ImpostorTree& tree, Placement& placement);
    bool openAtlas(Placement& placement);
    void undoPlacement(const Placement& placement);
    void deleteAtlas(VTextureAtlas& atlas);

    uint32_t mAtlasWidth = VTextureAtlas::kWidth, mAtlasHeight = VTextureAtlas::kHeight;
};
