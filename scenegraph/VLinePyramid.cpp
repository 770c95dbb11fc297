#include "VLinePyramid.h"

#include "SceneFileText.h"

#include <algorithm>

namespace {
const float kGreen[4] = {0, 1, 0, 1};
const float kBlue[4] = {0, 0, 1, 1};

// The base corners in order around the square: consecutive ones share an
// edge, and corners 0 and 2 (1 and 3) are opposite.
void baseCorners(float width, float corners[4][3]) {
    const float h = width / 2;
    const float xz[4][2] = {{h, h}, {-h, h}, {-h, -h}, {h, -h}};
    for (int c = 0; c < 4; ++c) {
        corners[c][0] = xz[c][0];
        corners[c][1] = 0;
        corners[c][2] = xz[c][1];
    }
}
} // namespace

VLinePyramid::VLinePyramid(const std::string& name, float width, float height, const float baseColour[4],
                           const float topColour[4], bool useVBO)
    : VLineGeometry(name, useVBO), mHeight(height), mWidth(width) {
    std::copy(baseColour, baseColour + 4, mBaseColour);
    std::copy(topColour, topColour + 4, mTopColour);
    computeBoundingSphere();
}

VLinePyramid* VLinePyramid::makeForReading() {
    const float white[4] = {1, 1, 1, 1}, red[4] = {1, 0, 0, 1};
    return new VLinePyramid("", 1, 1, white, red, false);
}

void VLinePyramid::buildGeometry() {
    if (!mVertices.empty()) return;
    float corners[4][3];
    baseCorners(mWidth, corners);
    const bool compass = mName == "compass";
    auto cornerColour = [&](int c) { return compass ? (c % 2 == 0 ? kGreen : kBlue) : mBaseColour; };
    for (int c = 0; c < 4; ++c) {
        appendVertex(0, mHeight, 0, mTopColour);
        appendVertex(corners[c][0], corners[c][1], corners[c][2], cornerColour(c));
    }
    for (int c = 0; c < 4; ++c) {
        const int next = (c + 1) % 4;
        appendVertex(corners[c][0], corners[c][1], corners[c][2], cornerColour(c));
        appendVertex(corners[next][0], corners[next][1], corners[next][2], cornerColour(next));
    }
}

void VLinePyramid::computeBoundingSphere() {
    float corners[4][3];
    baseCorners(mWidth, corners);
    BoundingSphere points[5];
    for (int c = 0; c < 4; ++c) points[c].setCentre(Vec3d(corners[c][0], corners[c][1], corners[c][2]));
    points[4].setCentre(Vec3d(0, mHeight, 0));
    mSphere.setToSmallestEnclosing(points);
}

void VLinePyramid::write(std::ostream& out) const {
    VGeometry::write(out);
    out << "height:\n" << mHeight << "\nwidth:\n" << mWidth << "\nbase color:\n";
    writeColour(out, mBaseColour);
    out << "top color:\n";
    writeColour(out, mTopColour);
    out << "use VBO for rendering:\n";
    scenefile::writeFlag(out, mUseVBO);
}

void VLinePyramid::read(std::istream& in, bool& ok) {
    freeArrays();
    VGeometry::read(in, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, mHeight, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, mWidth, ok);
    scenefile::skipLabel(in, ok);
    readColour(in, mBaseColour, ok);
    scenefile::skipLabel(in, ok);
    readColour(in, mTopColour, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readFlag(in, mUseVBO, ok);
}
