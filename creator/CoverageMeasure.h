#pragma once
// How much of an orthographic view a set of triangles covers: the surfel
// merge error's measure. The construction code does not draw; whoever runs
// it with an OpenGL context (the command-line tool, the creation dialog)
// hands in an implementation that renders a depth image.

#include "RectangleFit.h"
#include "Vec3.h"

#include <span>

class CoverageMeasure {
  public:
    static constexpr int kImageSize = 128; // pixels along each side of the depth image

    virtual ~CoverageMeasure() = default;

    // Looks at the rectangle from its centre plus 100 times its normal,
    // towards the centre, with sideV() as the up direction; the orthographic
    // extents are half the side lengths each way, near 0.001, far 10000.
    // Returns the number of kImageSize x kImageSize pixels the triangles
    // (three corners each) cover, divided by kImageSize squared.
    virtual double coverage(const FittedRectangle& view, std::span<const Vec3f> triangleCorners) = 0;
};
