#pragma once
// Geometries made of coloured line segments (pyramids, spheres): the kinds
// fill two arrays, four floats per vertex each (x y z 1 and r g b a), two
// vertices a segment; drawing is shared. Buffer objects hold the positions
// followed by the colours.

#include "VGeometry.h"

class VLineGeometry : public VGeometry {
  public:
    VLineGeometry(const std::string& name, bool useVBO) : VGeometry(name, useVBO) {}
    ~VLineGeometry() override;

    void freeArrays() override;
    // Segments the arrays hold (0 before they are built).
    uint32_t segmentCount() const { return mVertexCount / 2; }
    const std::vector<float>& vertices() const { return mVertices; }
    const std::vector<float>& colours() const { return mColours; }

  protected:
    void appendVertex(float x, float y, float z, const float colour[4]);
    void initVBO() override;
    void drawImmediate(const VTraversalContext& context, VDrawStatistics& statistics) override;
    void drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) override;

  private:
    void countDrawn(VDrawStatistics& statistics);
    void deleteBuffer();

    unsigned mBuffer = 0;
};

// The scene file's colour line: "r g b a".
void writeColour(std::ostream& out, const float colour[4]);
void readColour(std::istream& in, float colour[4], bool& ok);
