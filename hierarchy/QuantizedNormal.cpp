#include "QuantizedNormal.h"

#include "LogStream.h"

#include <array>
#include <cassert>
#include <mutex>

namespace {
constexpr uint32_t kOctantSize = 4096;
constexpr int kSubdivisionDepth = 6;

std::array<Vec3f, kNormalTableSize> gNormals;
std::array<SphericalAngles, kNormalTableSize> gAngles;
std::array<uint16_t, kNormalTableSize> gOpposite;
std::once_flag gBuilt;

// The table's own normalization works in float32, so that indices stay the
// same as those of every hierarchy quantized before.
Vec3f normalizeFloat(const Vec3f& v) { return normalizeOrZ(v); }

void storeLeaf(const Vec3f& a, const Vec3f& b, const Vec3f& c, uint32_t index) {
    Vec3f n = normalizeFloat(cross(a - b, c - b));
    if (dot(n, a) < 0 || dot(n, b) < 0 || dot(n, c) < 0)
        logOut() << "error in initTetrahederLookupTableRec()\n";
    gNormals[index] = n;
    gAngles[index] = {std::atan2(n.y, n.x), float(angleOfCosine(n.z))};
}

// Splits (a, b, c) into four; the middle triangle takes the lowest indices so
// that the entry at a subtree's first index lies near the subtree's centre.
void subdivide(Vec3f a, Vec3f b, Vec3f c, int depth, uint32_t index) {
    while (depth > 0) {
        uint32_t s = 1u << (2 * (depth - 1));
        Vec3f mac = normalizeFloat((a + c) * 0.5f);
        Vec3f mbc = normalizeFloat((b + c) * 0.5f);
        Vec3f mab = normalizeFloat((a + b) * 0.5f);
        --depth;
        subdivide(mac, mab, mbc, depth, index);
        subdivide(a, mab, mac, depth, index + s);
        subdivide(mab, b, mbc, depth, index + 2 * s);
        a = mac;
        b = mbc;
        index += 3 * s;
    }
    storeLeaf(a, b, c, index);
}

void buildTables() {
    const Vec3f px(1, 0, 0), nx(-1, 0, 0), py(0, 1, 0), ny(0, -1, 0), pz(0, 0, 1), nz(0, 0, -1);
    const Vec3f octants[8][3] = {{nx, pz, ny}, {ny, pz, px}, {px, pz, py}, {py, pz, nx},
                                 {ny, nz, nx}, {nx, nz, py}, {py, nz, px}, {px, nz, ny}};
    for (uint32_t k = 0; k < 8; ++k)
        subdivide(octants[k][0], octants[k][1], octants[k][2], kSubdivisionDepth, k * kOctantSize);
    for (uint32_t i = 0; i < kNormalTableSize; ++i) gOpposite[i] = quantizeNormal(-gNormals[i]);
}
} // namespace

void initTetrahederLookupTableRec() { std::call_once(gBuilt, buildTables); }

uint16_t quantizeNormal(const Vec3f& n) {
    const Vec3d v(n);
    uint32_t idx = 0;
    double best = dot(v, Vec3d(gNormals[0]));
    for (uint32_t k = 1; k < 8; ++k) {
        double d = dot(v, Vec3d(gNormals[k * kOctantSize]));
        if (d > best) {
            best = d;
            idx = k * kOctantSize;
        }
    }
    for (uint32_t s = kOctantSize / 4; s >= 1; s /= 4) {
        uint32_t child = 0;
        double bestChild = dot(v, Vec3d(gNormals[idx]));
        for (uint32_t c = 1; c < 4; ++c) {
            double d = dot(v, Vec3d(gNormals[idx + c * s]));
            if (d >= bestChild) {
                bestChild = d;
                child = c;
            }
        }
        idx += s * child;
    }
    assert(idx < kNormalTableSize);
    return uint16_t(idx);
}

const Vec3f& dequantizeNormal(uint16_t i) {
    assert(i < kNormalTableSize);
    return gNormals[i];
}

uint16_t oppositeNormal(uint16_t i) {
    assert(i < kNormalTableSize);
    return gOpposite[i];
}

const SphericalAngles& normalSphericalAngles(uint16_t i) {
    assert(i < kNormalTableSize);
    return gAngles[i];
}
