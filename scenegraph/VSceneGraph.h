#pragma once
// A scene: the tree of nodes under "Root Node", an optional background node
// (drawn first, centred on the camera: the sky box hangs there) and an
// optional terrain, drawing from one resource manager. The graph owns its
// nodes and terrain, and the resource manager it made while reading.
//
// Scene files: save writes the header line, the version and the contents;
// load and read accept a file only whole. A file that fails anywhere leaves
// the current scene as it was, with the reason and the line number on the
// error log. After a load, new objects get IDs above every ID read.

#include "VResourceManager.h"
#include "VSceneNode.h"
#include "VTerrain.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class VSceneGraph : public VSerializable {
  public:
    static constexpr const char* kFileHeader = "********* scene graph prototype file *********";

    // Without a manager the graph makes and owns one.
    explicit VSceneGraph(VResourceManager* manager);
    ~VSceneGraph() override;
    VSceneGraph(const VSceneGraph&) = delete;
    VSceneGraph& operator=(const VSceneGraph&) = delete;

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VSceneGraph\n"; }
    void read(std::istream& in, bool& ok) override;
    bool load(const std::string& fileName);
    // A whole scene file, header and version included, from a stream.
    bool load(std::istream& in);
    bool save(const std::string& fileName) const;
    void setReadOptions(const VSceneReadOptions& options) { mReadOptions = options; }

    void draw(const VTraversalContext& context, VDrawStatistics& statistics);
    void initGeometries(const VTraversalContext& context);
    // The start nodes of initGeometries: the background (when set) and the root.
    void resetTraversal();

    // A parentless node, entered by name and ID; hang it with addChild.
    VSceneNode* createNode(const double translation[3], const double rotation[9], const std::string& name);
    VSceneNode* createNode(const std::string& name);
    // Takes a node made elsewhere; null (the node is deleted) when its ID is taken.
    VSceneNode* addNode(std::unique_ptr<VSceneNode> node);
    // The root when the key is the root's, else the node of the maps, else null.
    VSceneNode* getNode(uint32_t id) const;
    VSceneNode* getNode(const std::string& name) const;
    VSceneNode* root() const { return mRoot.get(); }
    VSceneNode* background() const { return mBackground; }
    void setBackground(VSceneNode* node);
    VTerrain* getTerrain() const { return mTerrain.get(); }
    void setTerrain(std::unique_ptr<VTerrain> terrain);
    // Replaces the terrain with a new one of the kind ("Sinus", "Fractal",
    // anything else plain).
    VTerrain* createTerrain(const std::string& kindName, const std::string& name, uint32_t seed, float edge,
                            uint32_t patchSize, int32_t beginX, int32_t beginZ, uint32_t countX, uint32_t countZ,
                            bool useVBO);
    VResourceManager* resourceManager() const { return mManager; }
    // Named nodes plus the root.
    size_t nodeCount() const { return mNodesById.size() + 1; }

    void setVisible(bool visible) { mRoot->setVisible(visible); }
    bool isVisible() const { return mRoot->isVisible(); }

    // Links what the records list: geometries and instances first, then
    // children. False, with the message, at the first ID that names nothing.
    bool regenerateReferences(const std::vector<VSceneNodeRecord>& records);
    // Deletes every node and the terrain; the graph then holds a new empty root.
    void clear();
    // The root, the background and both node maps, to the error log.
    void print() const;

  private:
    struct Empty {};
    explicit VSceneGraph(Empty);
    void readContents(std::istream& in, bool& ok);
    bool readNodes(std::istream& in, std::vector<VSceneNodeRecord>& records);
    bool readRootAndBackground(std::istream& in, const std::vector<VSceneNodeRecord>& records);
    bool readTerrain(std::istream& in);
    bool linkRecord(const VSceneNodeRecord& record);
    bool linkChildren(const VSceneNodeRecord& record);
    VSceneNode* enterNode(std::unique_ptr<VSceneNode> node);
    void swapContents(VSceneGraph& other);
    uint32_t largestId() const;
    void failAt(std::streamoff offset);

    std::unique_ptr<VSceneNode> mRoot;
    VSceneNode* mBackground = nullptr;
    std::map<std::string, VSceneNode*> mNodesByName;
    std::map<uint32_t, VSceneNode*> mNodesById;
    std::vector<std::unique_ptr<VSceneNode>> mNodes;
    VResourceManager* mManager = nullptr;
    std::unique_ptr<VResourceManager> mOwnedManager;
    std::unique_ptr<VTerrain> mTerrain;
    std::vector<VSceneNode*> mStartNodes;
    VSceneReadOptions mReadOptions;
    std::streamoff mFailedAt = -1; // where a read gave up, when known better than the stream position
};
