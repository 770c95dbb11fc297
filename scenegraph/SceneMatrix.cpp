#include "SceneMatrix.h"

#include "SceneFileText.h"

#include <algorithm>
#include <cmath>

namespace scenematrix {

void setIdentity(double m[16]) {
    for (int i = 0; i < 16; ++i) m[i] = i % 5 == 0 ? 1 : 0;
}

void multiply(const double a[16], const double b[16], double out[16]) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) sum += a[4 * k + r] * b[4 * c + k];
            out[4 * c + r] = sum;
        }
}

Vec3d transformPoint(const double m[16], const Vec3d& p) {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

bool invertAffine(const double m[16], double out[16]) {
    // The 3x3 part's inverse by cofactors; a[r][c] = m[4c + r].
    auto a = [&](int r, int c) { return m[4 * c + r]; };
    const double c00 = a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1), c01 = a(1, 2) * a(2, 0) - a(1, 0) * a(2, 2),
                 c02 = a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0);
    const double det = a(0, 0) * c00 + a(0, 1) * c01 + a(0, 2) * c02;
    if (!std::isfinite(det) || det == 0) return false;
    double inv[3][3] = {
        {c00, a(0, 2) * a(2, 1) - a(0, 1) * a(2, 2), a(0, 1) * a(1, 2) - a(0, 2) * a(1, 1)},
        {c01, a(0, 0) * a(2, 2) - a(0, 2) * a(2, 0), a(0, 2) * a(1, 0) - a(0, 0) * a(1, 2)},
        {c02, a(0, 1) * a(2, 0) - a(0, 0) * a(2, 1), a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0)}};
    setIdentity(out);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out[4 * c + r] = inv[r][c] / det;
    for (int r = 0; r < 3; ++r)
        out[12 + r] = -(out[r] * m[12] + out[4 + r] * m[13] + out[8 + r] * m[14]);
    return true;
}

double largestAxisScale(const double m[16]) {
    double largest = 0;
    for (int c = 0; c < 3; ++c)
        largest = std::max(largest, std::sqrt(m[4 * c] * m[4 * c] + m[4 * c + 1] * m[4 * c + 1] +
                                              m[4 * c + 2] * m[4 * c + 2]));
    return largest;
}

BoundingSphere transformSphere(const double m[16], const BoundingSphere& sphere) {
    BoundingSphere moved;
    moved.setCentre(transformPoint(m, Vec3d(sphere.centre())));
    moved.r = float(sphere.r * largestAxisScale(m));
    return moved;
}

bool isFinite(const double m[16]) {
    return std::all_of(m, m + 16, [](double v) { return std::isfinite(v); });
}

bool isUsable(const BoundingSphere& sphere) {
    return std::isfinite(sphere.x) && std::isfinite(sphere.y) && std::isfinite(sphere.z) && std::isfinite(sphere.r) &&
           sphere.r >= 0;
}

void writeRows(std::ostream& out, const double m[16]) {
    for (int r = 0; r < 4; ++r) {
        const double row[4] = {m[r], m[r + 4], m[r + 8], m[r + 12]};
        scenefile::writeNumbers(out, row, 4);
    }
}

void readRows(std::istream& in, double m[16], bool& ok) {
    for (int r = 0; r < 4; ++r) {
        double row[4] = {0, 0, 0, 0};
        scenefile::readNumbers(in, row, 4, ok);
        for (int c = 0; c < 4; ++c) m[r + 4 * c] = row[c];
    }
}

} // namespace scenematrix
