#pragma once
// A sphere of lines: V meridians of H segments each from the top (theta 0)
// down, and the H - 1 parallels between them, V (2H - 1) segments in all.
// Colours run from the north colour at the top to the south colour at the
// bottom. Shows node bounding spheres ("bs_wireframe").

#include "VLineGeometry.h"

class VLineSphere : public VLineGeometry {
  public:
    // Slice counts a scene file may give; more would only spend memory.
    static constexpr uint32_t kMaxSlices = 4096;

    VLineSphere(const std::string& name, float x, float y, float z, float radius, uint32_t verticalSlices,
                uint32_t horizontalSlices, const float southColour[4], const float northColour[4], bool useVBO);
    static VLineSphere* makeForReading();

    void computeBoundingSphere() override;
    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VLineSphere\n"; }
    // Refuses slice counts of 0 or above kMaxSlices.
    void read(std::istream& in, bool& ok) override;

  protected:
    void buildGeometry() override;

  private:
    void appendPoint(uint32_t k, uint32_t j);

    float mCentre[3];
    float mRadius;
    float mSouthColour[4], mNorthColour[4];
    uint32_t mVerticalSlices, mHorizontalSlices;
};

// V (2H - 1), and 0 when either count is 0.
uint64_t lineSphereSegmentCount(uint32_t verticalSlices, uint32_t horizontalSlices);
