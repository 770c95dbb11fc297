#pragma once
// The coverage measure done on the CPU, for tests that build without
// OpenGL: the triangles projected orthographically onto the view rectangle
// and the pixel centres inside any of them counted.

#include "CoverageMeasure.h"

#include <algorithm>
#include <vector>

class SoftwareCoverage : public CoverageMeasure {
  public:
    int calls = 0;

    double coverage(const FittedRectangle& view, std::span<const Vec3f> corners) override {
        ++calls;
        const Vec3d centre = view.centre(), u = view.sideU(), v = view.sideV();
        const double lu = length(u), lv = length(v);
        if (lu <= 0 || lv <= 0) return 0;
        std::vector<bool> covered(kImageSize * kImageSize, false);
        for (size_t t = 0; t + 2 < corners.size(); t += 3) {
            double px[3], py[3]; // pixel coordinates of the corners
            for (int k = 0; k < 3; ++k) {
                const Vec3d d = Vec3d(corners[t + k]) - centre;
                px[k] = (dot(d, u) / lu / lu + 0.5) * kImageSize;
                py[k] = (dot(d, v) / lv / lv + 0.5) * kImageSize;
            }
            const double area = (px[1] - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (py[1] - py[0]);
            if (area == 0) continue;
            for (int y = 0; y < kImageSize; ++y)
                for (int x = 0; x < kImageSize; ++x) {
                    const double cx = x + 0.5, cy = y + 0.5;
                    bool inside = true;
                    for (int k = 0; k < 3 && inside; ++k) {
                        const int l = (k + 1) % 3;
                        const double e = (px[l] - px[k]) * (cy - py[k]) - (cx - px[k]) * (py[l] - py[k]);
                        inside = area > 0 ? e >= 0 : e <= 0;
                    }
                    if (inside) covered[size_t(y) * kImageSize + x] = true;
                }
        }
        return double(std::count(covered.begin(), covered.end(), true)) / (kImageSize * kImageSize);
    }
};
