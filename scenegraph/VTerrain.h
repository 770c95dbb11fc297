#pragma once
// The slot a scene graph keeps for its terrain: a generator of patch nodes
// that draws them itself. Terrain kinds implement it and register a maker;
// without one, a scene file's "VTerrain" entry is refused.

#include "VSerializable.h"
#include "VTraversalContext.h"

#include <functional>
#include <memory>

class VSceneGraph;

class VTerrain : public VSerializable {
  public:
    void writeClassName(std::ostream& out) const override { out << "VTerrain\n"; }
    virtual void draw(const VTraversalContext& context, VDrawStatistics& statistics) = 0;
    virtual void initGeometries(const VTraversalContext& context) = 0;
};

// Makes an empty terrain of the graph for its entry to be read into.
using VTerrainMaker = std::function<std::unique_ptr<VTerrain>(VSceneGraph& graph)>;
