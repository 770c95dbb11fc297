#pragma once
// A node of the scene tree: a local transformation relative to its parent,
// the global one it makes with its ancestors, and the geometries and
// geometry instances it shows (owned by the resource manager) and its
// children (owned by the scene graph), each kept by name. Its bounding
// spheres enclose everything below it, in world coordinates (global) and in
// its own (local); every change of matrix or content updates them up to the
// root.

#include "BoundingSphere.h"
#include "VSerializable.h"
#include "VTraversalContext.h"

#include <cstdint>
#include <ios>
#include <map>
#include <string>
#include <vector>

class VGeometry;
class VGeometryInstance;
class VSceneNode;

// What a node entry of a scene file refers to, kept until every object of
// the file exists; where the entry began, for messages.
struct VSceneNodeRecord {
    VSceneNode* node = nullptr;
    std::vector<uint32_t> childIds, geometryIds, instanceIds;
    std::streamoff entryOffset = -1;
};

class VSceneNode : public VSerializable {
  public:
    explicit VSceneNode(const std::string& name);
    // translation: 3 values; rotation: 3x3, column-major.
    VSceneNode(const double translation[3], const double rotation[9], const std::string& name);
    ~VSceneNode() override;
    VSceneNode(const VSceneNode&) = delete;
    VSceneNode& operator=(const VSceneNode&) = delete;

    const std::string& name() const { return mName; }
    uint32_t id() const { return mId; }
    void setVisible(bool visible) { mVisible = visible; }
    bool isVisible() const { return mVisible; }

    // False, changing nothing, when the child already has a parent, is this
    // node or one of its ancestors, or another child has its name.
    bool addChild(VSceneNode* child);
    void removeChild(const std::string& name);
    void removeChild(VSceneNode* child);
    void removeAllChildren();
    // False when another geometry (instance) of the node has the name.
    bool addGeometry(VGeometry* geometry);
    void removeGeometry(const std::string& name);
    void removeAllGeometries();
    bool addInstance(VGeometryInstance* instance);
    void removeInstance(const std::string& name);
    void removeAllInstances();

    void drawBoundingSphere(const VTraversalContext& context, VDrawStatistics& statistics);
    void draw(const VTraversalContext& context, VDrawStatistics& statistics);
    // Builds the arrays and buffers of every geometry and instance below.
    void initGeometries(const VTraversalContext& context);

    // Transformation: every setter updates the subtree's global matrices
    // and the spheres of the node and its ancestors.
    void setTranslation(const double translation[3]);
    void setRotation(const double rotation[9]);
    void setLocalMatrix(const double matrix[16]);
    void getTranslation(double translation[3]) const;
    void getRotation(double rotation[9]) const;
    const double* localMatrix() const { return mLocal; }
    const double* globalMatrix() const { return mGlobal; }

    // Matrix changed: the global sphere follows the local one. Content
    // changed (or force): both spheres are made again from what the node
    // holds.
    void update(bool matrixChanged, bool contentChanged, bool force);
    void updateMatrices();
    void updateBoundingSpheresUpward();

    VSceneNode* parent() const { return mParent; }
    void clearParent() { mParent = nullptr; }
    const std::map<std::string, VSceneNode*>& children() const { return mChildren; }
    const std::map<std::string, VGeometry*>& geometries() const { return mGeometries; }
    const std::map<std::string, VGeometryInstance*>& instances() const { return mInstances; }
    const BoundingSphere& globalSphere() const { return mGlobalSphere; }
    const BoundingSphere& localSphere() const { return mLocalSphere; }

    // Finite matrices, finite spheres with radii of at least 0: what a
    // scene file can hold and a bounding-sphere solver can take.
    bool hasUsablePlacement() const;

    // Empties the node: identity matrices, no parent, children, geometries
    // or instances, zero spheres, visible.
    void reset();

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VSceneNode\n"; }
    void read(std::istream& in, bool& ok) override;
    // The IDs the entry lists go to record, not into the node.
    void read(std::istream& in, bool& ok, VSceneNodeRecord& record);

  private:
    bool isSelfOrAncestor(const VSceneNode* node) const;
    void drawGeometryInWorldSpace(VGeometry& geometry, BoundingSphere* sphere, const VTraversalContext& context,
                                  VDrawStatistics& statistics);

    std::string mName;
    uint32_t mId;
    double mLocal[16], mGlobal[16];
    VSceneNode* mParent = nullptr;
    std::map<std::string, VSceneNode*> mChildren;
    std::map<std::string, VGeometry*> mGeometries;
    std::map<std::string, VGeometryInstance*> mInstances;
    BoundingSphere mLocalSphere, mGlobalSphere;
    bool mVisible = true;
};
