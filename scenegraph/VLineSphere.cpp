#include "VLineSphere.h"

#include "LogStream.h"
#include "SceneFileText.h"

#include <algorithm>
#include <cmath>
#include <numbers>

uint64_t lineSphereSegmentCount(uint32_t verticalSlices, uint32_t horizontalSlices) {
    if (verticalSlices == 0 || horizontalSlices == 0) return 0;
    return uint64_t(verticalSlices) * (2 * uint64_t(horizontalSlices) - 1);
}

VLineSphere::VLineSphere(const std::string& name, float x, float y, float z, float radius, uint32_t verticalSlices,
                         uint32_t horizontalSlices, const float southColour[4], const float northColour[4],
                         bool useVBO)
    : VLineGeometry(name, useVBO), mCentre{x, y, z}, mRadius(radius), mVerticalSlices(verticalSlices),
      mHorizontalSlices(horizontalSlices) {
    std::copy(southColour, southColour + 4, mSouthColour);
    std::copy(northColour, northColour + 4, mNorthColour);
    computeBoundingSphere();
}

VLineSphere* VLineSphere::makeForReading() {
    const float black[4] = {0, 0, 0, 1}, white[4] = {1, 1, 1, 1};
    return new VLineSphere("", 0, 0, 0, 1, 16, 8, black, white, false);
}

// Point k (longitude k 2pi/V) of ring j (polar angle j pi/H).
void VLineSphere::appendPoint(uint32_t k, uint32_t j) {
    const double phi = 2 * std::numbers::pi * k / mVerticalSlices, theta = std::numbers::pi * j / mHorizontalSlices;
    const float t = float(j) / float(mHorizontalSlices);
    float colour[4];
    for (int c = 0; c < 4; ++c) colour[c] = (1 - t) * mNorthColour[c] + t * mSouthColour[c];
    appendVertex(float(mCentre[0] + mRadius * std::sin(phi) * std::sin(theta)),
                 float(mCentre[1] + mRadius * std::cos(theta)),
                 float(mCentre[2] + mRadius * std::cos(phi) * std::sin(theta)), colour);
}

void VLineSphere::buildGeometry() {
    if (!mVertices.empty()) return;
    const uint64_t segments = lineSphereSegmentCount(mVerticalSlices, mHorizontalSlices);
    if (segments == 0) return;
    mVertices.reserve(segments * 8);
    mColours.reserve(segments * 8);
    for (uint32_t k = 0; k < mVerticalSlices; ++k) // meridians
        for (uint32_t j = 0; j < mHorizontalSlices; ++j) {
            appendPoint(k, j);
            appendPoint(k, j + 1);
        }
    for (uint32_t j = 1; j < mHorizontalSlices; ++j) // parallels
        for (uint32_t k = 0; k < mVerticalSlices; ++k) {
            appendPoint(k, j);
            appendPoint((k + 1) % mVerticalSlices, j);
        }
}

void VLineSphere::computeBoundingSphere() {
    mSphere.x = mCentre[0];
    mSphere.y = mCentre[1];
    mSphere.z = mCentre[2];
    mSphere.r = std::fabs(mRadius);
}

void VLineSphere::write(std::ostream& out) const {
    VGeometry::write(out);
    out << "center:\n";
    scenefile::writeNumbers(out, mCentre, 3);
    out << "radius:\n" << mRadius << "\nvertical slices:\n" << mVerticalSlices << "\nhorizontal slices:\n"
        << mHorizontalSlices << "\nsouth color:\n";
    writeColour(out, mSouthColour);
    out << "north color:\n";
    writeColour(out, mNorthColour);
    out << "use VBO for rendering:\n";
    scenefile::writeFlag(out, mUseVBO);
}

void VLineSphere::read(std::istream& in, bool& ok) {
    freeArrays();
    VGeometry::read(in, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readNumbers(in, mCentre, 3, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, mRadius, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, mVerticalSlices, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, mHorizontalSlices, ok);
    if (ok && (mVerticalSlices == 0 || mHorizontalSlices == 0 || mVerticalSlices > kMaxSlices ||
               mHorizontalSlices > kMaxSlices)) {
        logErr() << "line sphere slice counts " << mVerticalSlices << " and " << mHorizontalSlices
                 << " must lie in 1.." << kMaxSlices << "\n";
        ok = false;
    }
    scenefile::skipLabel(in, ok);
    readColour(in, mSouthColour, ok);
    scenefile::skipLabel(in, ok);
    readColour(in, mNorthColour, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readFlag(in, mUseVBO, ok);
}
