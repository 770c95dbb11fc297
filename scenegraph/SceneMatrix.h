#pragma once
// 4x4 double matrices in OpenGL's column-major layout (element 4c + r is
// row r of column c), as scene nodes keep them, and the sphere moves they
// need. Matrices are affine: the last row is 0 0 0 1.

#include "BoundingSphere.h"

#include <istream>
#include <ostream>

namespace scenematrix {

void setIdentity(double m[16]);
// out = a * b; out may alias neither.
void multiply(const double a[16], const double b[16], double out[16]);
Vec3d transformPoint(const double m[16], const Vec3d& p);
// The inverse of an affine matrix; false (out untouched) when singular.
bool invertAffine(const double m[16], double out[16]);
// The longest of the images of the three unit axes: how much the matrix can
// stretch a radius.
double largestAxisScale(const double m[16]);
// The sphere moved by m, its radius grown by m's largest axis scale.
BoundingSphere transformSphere(const double m[16], const BoundingSphere& sphere);

bool isFinite(const double m[16]);
// Finite centre and a finite radius of at least 0.
bool isUsable(const BoundingSphere& sphere);

// Four lines, one matrix row each, elements separated by single spaces.
void writeRows(std::ostream& out, const double m[16]);
void readRows(std::istream& in, double m[16], bool& ok);

} // namespace scenematrix
