#pragma once
// A pyramid of lines over a square base in the xz-plane with its apex on
// the y axis: the compass and the camera predictor. A pyramid named
// "compass" paints one diagonal pair of base corners green and the other
// blue, so that its turn can be read off.

#include "VLineGeometry.h"

class VLinePyramid : public VLineGeometry {
  public:
    VLinePyramid(const std::string& name, float width, float height, const float baseColour[4],
                 const float topColour[4], bool useVBO);
    // The values a scene file's entry starts from before it is read.
    static VLinePyramid* makeForReading();

    void computeBoundingSphere() override;
    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VLinePyramid\n"; }
    void read(std::istream& in, bool& ok) override;

    float width() const { return mWidth; }
    float height() const { return mHeight; }

  protected:
    void buildGeometry() override;

  private:
    float mHeight, mWidth;
    float mBaseColour[4], mTopColour[4];
};
