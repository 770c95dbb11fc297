#include "VTerrainPatch.h"

#include "GLExtensions.h"

#include <algorithm>
#include <cmath>

VTerrainPatch::VTerrainPatch(const std::string& name, float edge, uint32_t size, bool useVBO)
    : VGeometry(name, useVBO), mEdge(edge), mSize(size), mStrips(size) {
    const float half = float(size) * edge / 2;
    for (uint32_t j = 0; j < size; ++j) {
        std::vector<float>& strip = mStrips[j];
        strip.assign(size_t(2) * (size + 1) * kFloatsPerVertex, 0.0f);
        for (uint32_t i = 0; i <= size; ++i)
            for (uint32_t k = 0; k < 2; ++k) {
                float* v = &strip[(2 * i + k) * kFloatsPerVertex];
                v[0] = -half + float(i) * edge;
                v[2] = -half + float(j + k) * edge;
                v[4] = 1; // up until built
                v[6] = float(i) / float(size);
                v[7] = float(j + k) / float(size);
            }
    }
}

VTerrainPatch::~VTerrainPatch() {
    if (mBuffer) ext::glDeleteBuffersARB(1, &mBuffer);
}

void VTerrainPatch::setHeight(uint32_t i, uint32_t j, float height) {
    if (i > mSize || j > mSize) return;
    if (j > 0) mStrips[j - 1][(2 * i + 1) * kFloatsPerVertex + 1] = height;
    if (j < mSize) mStrips[j][2 * i * kFloatsPerVertex + 1] = height;
}

float VTerrainPatch::height(uint32_t i, uint32_t j) const {
    if (i > mSize || j > mSize || mSize == 0) return 0;
    return j < mSize ? mStrips[j][2 * i * kFloatsPerVertex + 1] : mStrips[j - 1][(2 * i + 1) * kFloatsPerVertex + 1];
}

// Central differences, one-sided at the border.
Vec3f VTerrainPatch::gridNormal(uint32_t i, uint32_t j) const {
    const uint32_t i0 = i > 0 ? i - 1 : i, i1 = std::min(i + 1, mSize);
    const uint32_t j0 = j > 0 ? j - 1 : j, j1 = std::min(j + 1, mSize);
    const float dx = (height(i1, j) - height(i0, j)) / (float(i1 - i0) * mEdge);
    const float dz = (height(i, j1) - height(i, j0)) / (float(j1 - j0) * mEdge);
    return normalizeOrZ(Vec3f(-dx, 1, -dz));
}

void VTerrainPatch::buildGeometry() {
    for (uint32_t j = 0; j < mSize; ++j)
        for (uint32_t i = 0; i <= mSize; ++i)
            for (uint32_t k = 0; k < 2; ++k) {
                const Vec3f n = gridNormal(i, j + k);
                float* v = &mStrips[j][(2 * i + k) * kFloatsPerVertex];
                v[3] = n.x, v[4] = n.y, v[5] = n.z;
            }
    computeBoundingSphere();
}

void VTerrainPatch::computeBoundingSphere() {
    float low = 0, high = 0;
    for (uint32_t j = 0; j <= mSize; ++j)
        for (uint32_t i = 0; i <= mSize; ++i) {
            low = std::min(low, height(i, j));
            high = std::max(high, height(i, j));
        }
    const float half = float(mSize) * mEdge / 2, middle = (low + high) / 2, depth = (high - low) / 2;
    mSphere = BoundingSphere();
    mSphere.y = middle;
    mSphere.r = std::sqrt(2 * half * half + depth * depth);
}

void VTerrainPatch::initVBO() {
    if (mSize == 0) return;
    std::vector<float> all;
    for (const std::vector<float>& strip : mStrips) all.insert(all.end(), strip.begin(), strip.end());
    if (!mBuffer) ext::glGenBuffersARB(1, &mBuffer);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, mBuffer);
    ext::glBufferDataARB(GL_ARRAY_BUFFER_ARB, GLsizeiptrARB(all.size() * sizeof(float)), all.data(), GL_STATIC_DRAW_ARB);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void VTerrainPatch::draw(const VTraversalContext& context, VDrawStatistics& statistics) {
    resetCounters();
    VGeometry::draw(context, statistics);
    if (context.skipGeometry) return;
    statistics.triangles += triangleCount();
    setCounters(0, 0, triangleCount());
}

namespace {
constexpr GLenum kArrays[3] = {GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_TEXTURE_COORD_ARRAY};

// Interleaved position, normal, texture coordinates from base (a client
// pointer, or an offset into the bound buffer).
void pointArrays(const float* base) {
    constexpr GLsizei stride = VTerrainPatch::kFloatsPerVertex * sizeof(float);
    for (GLenum array : kArrays) glEnableClientState(array);
    glVertexPointer(3, GL_FLOAT, stride, base);
    glNormalPointer(GL_FLOAT, stride, base + 3);
    glTexCoordPointer(2, GL_FLOAT, stride, base + 6);
}

void releaseArrays() {
    for (GLenum array : kArrays) glDisableClientState(array);
}
} // namespace

void VTerrainPatch::drawImmediate(const VTraversalContext&, VDrawStatistics&) {
    for (const std::vector<float>& strip : mStrips) {
        pointArrays(strip.data());
        glDrawArrays(GL_TRIANGLE_STRIP, 0, GLsizei(2 * (mSize + 1)));
    }
    releaseArrays();
}

void VTerrainPatch::drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (!mBuffer) {
        drawImmediate(context, statistics);
        return;
    }
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, mBuffer);
    pointArrays(nullptr);
    const GLsizei count = GLsizei(2 * (mSize + 1));
    for (uint32_t j = 0; j < mSize; ++j) glDrawArrays(GL_TRIANGLE_STRIP, GLint(j) * count, count);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    releaseArrays();
}
