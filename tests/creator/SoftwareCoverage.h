#pragma once
// The coverage measure done on the CPU, for tests that build without
// OpenGL: the triangles projected orthographically onto the view rectangle
// and the pixel centres inside any of them counted.

#include "CoverageMeasure.h"

#include <algorithm>
#include <vector>

struct SoftwareCoverage : CoverageMeasure {
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
            // Twice the signed area of corners k, k + 1 and (x, y); inside, the sign of the triangle.
            auto side = [&](int k, double x, double y) {
                return (px[(k + 1) % 3] - px[k]) * (y - py[k]) - (x - px[k]) * (py[(k + 1) % 3] - py[k]);
            };
            const double area = side(0, px[2], py[2]);
            if (area == 0) continue;
            for (int y = 0; y < kImageSize; ++y)
                for (int x = 0; x < kImageSize; ++x) {
                    bool inside = true;
                    for (int k = 0; k < 3; ++k) inside = inside && side(k, x + 0.5, y + 0.5) * area >= 0;
                    if (inside) covered[size_t(y) * kImageSize + x] = true;
                }
        }
        return double(std::count(covered.begin(), covered.end(), true)) / (kImageSize * kImageSize);
    }
};
