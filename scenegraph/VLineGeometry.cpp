#include "VLineGeometry.h"

#include "GLExtensions.h"
#include "SceneFileText.h"

#include <cstddef>

VLineGeometry::~VLineGeometry() { deleteBuffer(); }

void VLineGeometry::freeArrays() {
    deleteBuffer();
    VGeometry::freeArrays();
}

void VLineGeometry::appendVertex(float x, float y, float z, const float colour[4]) {
    mVertices.insert(mVertices.end(), {x, y, z, 1.0f});
    mColours.insert(mColours.end(), colour, colour + 4);
    ++mVertexCount;
}

void VLineGeometry::initVBO() {
    deleteBuffer();
    if (!mUseVBO || mVertexCount == 0) return;
    std::vector<float> both(mVertices);
    both.insert(both.end(), mColours.begin(), mColours.end());
    ext::glGenBuffersARB(1, &mBuffer);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, mBuffer);
    ext::glBufferDataARB(GL_ARRAY_BUFFER_ARB, GLsizeiptrARB(both.size() * sizeof(float)), both.data(),
                         GL_STATIC_DRAW_ARB);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void VLineGeometry::deleteBuffer() {
    if (mBuffer) ext::glDeleteBuffersARB(1, &mBuffer);
    mBuffer = 0;
}

void VLineGeometry::drawImmediate(const VTraversalContext&, VDrawStatistics& statistics) {
    glBegin(GL_LINES);
    for (uint32_t v = 0; v < mVertexCount; ++v) {
        glColor4fv(&mColours[4 * v]);
        glVertex4fv(&mVertices[4 * v]);
    }
    glEnd();
    countDrawn(statistics);
}

void VLineGeometry::drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (!mBuffer) {
        drawImmediate(context, statistics);
        return;
    }
    const size_t colourOffset = mVertices.size() * sizeof(float);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, mBuffer);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(4, GL_FLOAT, 0, nullptr);
    glColorPointer(4, GL_FLOAT, 0, reinterpret_cast<const void*>(colourOffset));
    glDrawArrays(GL_LINES, 0, GLsizei(mVertexCount));
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    countDrawn(statistics);
}

void VLineGeometry::countDrawn(VDrawStatistics& statistics) {
    statistics.lines += segmentCount();
    setCounters(0, segmentCount(), 0);
}

void writeColour(std::ostream& out, const float colour[4]) { scenefile::writeNumbers(out, colour, 4); }

void readColour(std::istream& in, float colour[4], bool& ok) { scenefile::readNumbers(in, colour, 4, ok); }
