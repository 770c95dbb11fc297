#pragma once
// A terrain: a generator of a rectangular grid of square patches, each
// under a node of its own that the terrain keeps and draws itself (the
// nodes are not entered in the scene graph's maps). Heights follow
// h(x, z) = 0.5 sin x sin z for every kind, so they are never stored: the
// scene file keeps the parameters and reading generates the patches again.

#include "VSerializable.h"
#include "VTraversalContext.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class VSceneGraph;
class VSceneNode;
class VTerrainPatch;

class VTerrain : public VSerializable {
  public:
    enum Kind : int32_t { kPlain = 0, kSinus = 1, kFractal = 2 };

    // An empty terrain, for a scene file's entry to be read into.
    explicit VTerrain(VSceneGraph& graph);
    // Valid when edge > 0 and patchSize >= 1; seeds the C library's
    // random generator with seed, then generates the patches.
    VTerrain(VSceneGraph& graph, const std::string& name, const std::string& kindName, uint32_t seed, float edge,
             uint32_t patchSize, int32_t beginX, int32_t beginZ, uint32_t countX, uint32_t countZ, bool useVBO);
    ~VTerrain() override;
    VTerrain(const VTerrain&) = delete;
    VTerrain& operator=(const VTerrain&) = delete;

    static float heightAt(double x, double z);
    static Kind kindOf(const std::string& kindName);

    // Replaces the patches; an invalid terrain or an empty count makes none.
    void generate(int32_t beginX, int32_t beginZ, uint32_t countX, uint32_t countZ);
    // With the "terrain" texture of the current resource manager and the
    // terrain program; without that texture the terrain turns invalid and
    // draws nothing.
    void draw(const VTraversalContext& context, VDrawStatistics& statistics);
    void initGeometries(const VTraversalContext& context);

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VTerrain\n"; }
    void read(std::istream& in, bool& ok) override;

    bool valid() const { return mValid; }
    Kind kind() const { return mKind; }
    const std::string& name() const { return mName; }
    uint32_t id() const { return mId; }
    const std::vector<std::unique_ptr<VSceneNode>>& patchNodes() const { return mNodes; }
    const std::vector<std::unique_ptr<VTerrainPatch>>& patches() const { return mPatches; }

    // Largest patch count per side a file may ask for: every patch is
    // generated at once.
    static constexpr uint32_t kMaxPatchesPerSide = 256;
    static constexpr uint32_t kMaxPatchSize = 1024;

  private:
    void applySettings(uint32_t seed, float edge, uint32_t patchSize);
    void makePatch(int32_t column, int32_t row);

    VSceneGraph* mGraph;
    std::string mName;
    uint32_t mId;
    uint32_t mSeed = 0;
    float mEdge = 0;
    uint32_t mPatchSize = 0;
    int32_t mBegin[2] = {0, 0};
    uint32_t mCount[2] = {0, 0};
    bool mUseVBO = false;
    bool mValid = false;
    Kind mKind = kPlain;
    std::vector<std::unique_ptr<VSceneNode>> mNodes;
    std::vector<std::unique_ptr<VTerrainPatch>> mPatches;
};
