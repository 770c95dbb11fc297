#pragma once
// Quantized normals: a 16-bit index into a fixed table of 32768 unit vectors
// made by subdividing the octahedron's 8 spherical triangles six times. The
// table is built once at program start and only read afterwards.

#include "Vec3.h"

#include <cstdint>

constexpr uint32_t kNormalTableSize = 32768;

// Builds the tables (entries, spherical angles, opposite indices). Safe to call
// more than once and from several threads: the work is done by the first call.
void initTetrahederLookupTableRec();

// Index of the table entry that a greedy descent through the subdivision finds
// closest to (x, y, z). Needs the table. Not always the nearest entry.
uint16_t quantizeNormal(const Vec3f& n);

// The unit vector of index i.
const Vec3f& dequantizeNormal(uint16_t i);

// Index of the entry for the negated normal of entry i.
uint16_t oppositeNormal(uint16_t i);

// Spherical angles of entry i: atan2(y, x) and the polar angle acos(z).
struct SphericalAngles {
    float azimuth;
    float polar;
};
const SphericalAngles& normalSphericalAngles(uint16_t i);
