#pragma once
// One square piece of terrain: (N + 1) x (N + 1) grid points edge apart,
// centred on its node's origin, kept as N triangle strips (strip j runs
// along i through the points (i, j) and (i, j + 1)). Heights are set point
// by point; normals and texture coordinates follow when the geometry is
// built.

#include "VGeometry.h"

#include <GL/gl.h>

class VTerrainPatch : public VGeometry {
  public:
    VTerrainPatch(const std::string& name, float edge, uint32_t size, bool useVBO);
    ~VTerrainPatch() override;

    // Ignored outside the grid (i or j above N).
    void setHeight(uint32_t i, uint32_t j, float height);
    float height(uint32_t i, uint32_t j) const;
    uint32_t size() const { return mSize; }
    float edge() const { return mEdge; }
    uint32_t triangleCount() const { return 2 * mSize * mSize; }

    // Counts its triangles into the statistics and into its own counters.
    void draw(const VTraversalContext& context, VDrawStatistics& statistics) override;
    void computeBoundingSphere() override;
    void writeClassName(std::ostream& out) const override { out << "VTerrainPatch\n"; }
    // Drawn with the terrain's program, which the terrain enables.
    bool usesDefaultProgram() const override { return false; }

    // Per strip vertex: position (3 floats), normal (3), texture coordinates (2).
    static constexpr int kFloatsPerVertex = 8;
    const std::vector<float>& strip(uint32_t j) const { return mStrips[j]; }

  protected:
    void buildGeometry() override;
    void initVBO() override;
    void drawImmediate(const VTraversalContext& context, VDrawStatistics& statistics) override;
    void drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) override;

  private:
    Vec3f gridNormal(uint32_t i, uint32_t j) const;

    float mEdge;
    uint32_t mSize;
    std::vector<std::vector<float>> mStrips;
    GLuint mBuffer = 0;
};
