#include "VGeometry.h"

#include "GLExtensions.h"
#include "SceneFileText.h"
#include "SceneObjectId.h"
#include "ShaderSets.h"

VGeometry::VGeometry(const std::string& name, bool useVBO) : mName(name), mId(nextSceneObjectId()), mUseVBO(useVBO) {}

void VGeometry::draw(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (context.skipGeometry) return;
    if (!mInitialised) init(context);
    if (usesDefaultProgram() && VViewShaders::line) VViewShaders::line->enable();
    if (mUseVBO && vboSupported) {
        updateVBO();
        drawVBO(context, statistics);
    } else {
        drawImmediate(context, statistics);
    }
}

void VGeometry::init(const VTraversalContext&) {
    buildGeometry();
    if (vboSupported) initVBO();
    mInitialised = true;
}

void VGeometry::counters(uint32_t& points, uint32_t& lines, uint32_t& triangles) const {
    points = mPoints;
    lines = mLines;
    triangles = mTriangles;
}

void VGeometry::setCounters(uint32_t points, uint32_t lines, uint32_t triangles) {
    mPoints = points;
    mLines = lines;
    mTriangles = triangles;
}

void VGeometry::freeArrays() {
    std::vector<float>().swap(mVertices);
    std::vector<float>().swap(mColours);
    mVertexCount = 0;
    mInitialised = false;
}

void VGeometry::write(std::ostream& out) const {
    scenefile::usePrecision(out);
    out << mName << "\n" << mId << "\nbounding sphere:\n";
    const float centre[3] = {mSphere.x, mSphere.y, mSphere.z};
    scenefile::writeNumbers(out, centre, 3);
    out << mSphere.r << "\n";
}

void VGeometry::read(std::istream& in, bool& ok) {
    resetCounters();
    scenefile::readLine(in, mName, ok);
    scenefile::readValue(in, mId, ok);
    scenefile::skipLabel(in, ok);
    float centre[3] = {0, 0, 0};
    scenefile::readNumbers(in, centre, 3, ok);
    scenefile::readValue(in, mSphere.r, ok);
    if (ok) {
        mSphere.x = centre[0];
        mSphere.y = centre[1];
        mSphere.z = centre[2];
    }
}
