#include "VSurfelModel.h"

#include "LogStream.h"
#include "SceneFileText.h"

#include <algorithm>

namespace {
FrameSettings frameSettingsFor(const VTraversalContext& context, GeometrySource source) {
    FrameSettings settings;
    settings.errorPixels = context.simplificationError;
    settings.texelWeight = context.silhouetteError;
    settings.projectionConstant = context.projectionConstant;
    settings.wireframe = context.wireframe;
    settings.wireframeOnly = context.wireframeOnly;
    std::copy(context.wireframeColor, context.wireframeColor + 4, settings.wireframeColour);
    settings.geometry = source;
    return settings;
}
} // namespace

void writeSurfelModelEntry(std::ostream& out, const std::string& fileName, bool useVBO) {
    out << "filename of mvh-file:\n" << fileName << "\nuse VBO:\n";
    scenefile::writeFlag(out, useVBO);
}

void readSurfelModelEntry(std::istream& in, std::string& fileName, bool& useVBO, bool& ok) {
    std::string name;
    bool flag = false;
    scenefile::skipLabel(in, ok);
    scenefile::readLine(in, name, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readFlag(in, flag, ok);
    if (!ok) return;
    fileName = name;
    useVBO = flag;
}

VSurfelModel::VSurfelModel(const std::string& name, const std::string& fileName, bool useVBO)
    : VGeometry(name, useVBO), mFileName(fileName) {
    if (!mFileName.empty()) load();
}

VSurfelModel::~VSurfelModel() = default;

void VSurfelModel::load() {
    mDrawing.release();
    VGeometry::freeArrays(); // buffers are made again on the next draw
    mBuffersReady = false;
    std::string error;
    mLoaded = readHierarchyForDrawing(mFileName, mObject, mDrawing, error);
    if (!mLoaded) {
        logErr() << "ERROR - loading file: " << mFileName << " !!!\n";
        if (!error.empty()) logErr() << error << "\n";
        mDrawing.release();
        mObject.clear();
    }
    computeBoundingSphere();
}

void VSurfelModel::computeBoundingSphere() {
    mSphere = mLoaded ? mObject.mBoundingSphere : BoundingSphere();
}

void VSurfelModel::writeClassName(std::ostream& out) const {
    out << "VSurfelModel\n";
}

void VSurfelModel::write(std::ostream& out) const {
    VGeometry::write(out);
    writeSurfelModelEntry(out, mFileName, mUseVBO);
}

void VSurfelModel::read(std::istream& in, bool& ok) {
    VGeometry::read(in, ok);
    readSurfelModelEntry(in, mFileName, mUseVBO, ok);
    if (ok && mLoadOnRead) load();
}

void VSurfelModel::initVBO() {
    mBuffersReady = false;
    if (!mLoaded || !mUseVBO) return;
    mBuffersReady = mDrawing.prepareGeometry(mObject, GeometrySource::Buffers, mBufferProblem);
    if (!mBuffersReady) logErr() << mName << " is drawn in immediate mode: " << mBufferProblem << "\n";
}

void VSurfelModel::drawImmediate(const VTraversalContext& context, VDrawStatistics& statistics) {
    drawFrame(context, statistics, GeometrySource::Immediate);
}

void VSurfelModel::drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) {
    drawFrame(context, statistics, mBuffersReady ? GeometrySource::Buffers : GeometrySource::Immediate);
}

void VSurfelModel::drawFrame(const VTraversalContext& context, VDrawStatistics& statistics,
                             GeometrySource source) {
    resetCounters();
    mLastFrame = FrameCounts();
    if (!mLoaded) return;
    mLastFrame = drawHierarchyFrame(mObject, mDrawing, frameSettingsFor(context, source));
    // A billboard counts as the two triangles of its quad.
    setCounters(0, 0, uint32_t(mLastFrame.triangles + 2 * mLastFrame.impostors));
    statistics.triangles += mLastFrame.triangles;
    statistics.billboards += mLastFrame.impostors;
}
