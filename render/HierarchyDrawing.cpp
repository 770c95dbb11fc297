#include "HierarchyDrawing.h"

#include "GLExtensions.h"
#include "LogStream.h"
#include "QuantizedNormal.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "VConfiguration.h"
#include "VTextureCache.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>

namespace {
void drawTriangle(const VLODObject3D& object, const MTTriangle& t) {
    for (uint32_t v : t.v) {
        const Vec3f& n = dequantizeNormal(object.varray[v].normal);
        const Vec3f p = object.varray[v].path->evaluate(0);
        glNormal3f(n.x, n.y, n.z);
        glVertex3f(p.x, p.y, p.z);
    }
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

bool HierarchyDrawing::loadTextures(const VLODObject3D& object, std::string& error) {
    release();
    if (object.mTexturesFileName.empty()) return true; // drawn with triangles only
    if (!mDepot.start(object.mTexturesFileName)) {
        error = "the textures file " + object.mTexturesFileName + " could not be opened";
        return false;
    }
    mAtlasCount = uint32_t(object.mImpostorTree.atlases.size());
    registeredWithCache(object);
    if (!VConfiguration::mUseOutOfCore) loadAllTextures();
    return true;
}

void HierarchyDrawing::loadAllTextures() {
    const auto start = std::chrono::steady_clock::now();
    const uint32_t loaded = mDepot.loadAll(mAtlasCount);
    logOut() << "Time needed to load all textures: " << millisecondsSince(start) / 1000 << " Seconds\n";
    if (loaded < mAtlasCount) logErr() << mAtlasCount - loaded << " of " << mAtlasCount << " textures could not be read\n";
    const auto used = std::chrono::steady_clock::now();
    mDepot.uploadAll();
    logOut() << "Time needed to use all textures: " << millisecondsSince(used) / 1000 << " Seconds\n";
}

bool HierarchyDrawing::prepareGeometry(const VLODObject3D& object, GeometrySource source, std::string& error) {
    mBuffers.reset();
    mFileManager.reset();
    if (source == GeometrySource::Buffers) {
        mBuffers = std::make_unique<VLODObject3DOOCViewer>();
        if (mBuffers->setUp(object, object.mImpostorTree, error)) return true;
        mBuffers.reset();
        return false;
    }
    if (source == GeometrySource::OutOfCore) {
        mFileManager = std::make_unique<VLODObject3DOOCFileManager>();
        if (mFileManager->start(object, error)) return true;
        mFileManager.reset();
        return false;
    }
    return true;
}

void HierarchyDrawing::advanceOutOfCoreFrame(const std::vector<uint32_t>& cutNodes, const SelectionView* predicted) {
    if (!mFileManager) return;
    // Nodes nobody drew for about a second at the frame rates the view aims at.
    constexpr uint32_t kUnusedFrames = 30;
    mFileManager->prefetch(mFileManager->prefetchNodes(VConfiguration::mPrefetchStrategy, cutNodes, predicted));
    const uint32_t frame = mFileManager->currentFrame();
    if (frame > kUnusedFrames) mFileManager->deleteNodesOlderThan(frame - kUnusedFrames);
    mFileManager->nextFrame();
}

uint64_t HierarchyDrawing::drawLoadedPatches(const std::vector<uint32_t>& arcs) {
    constexpr GLsizei kStride = VLODObject3DOOCFileManager::kFloatsPerCorner * sizeof(float);
    uint64_t drawn = 0;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    for (uint32_t a : arcs) {
        uint32_t corners = 0;
        const float* data = mFileManager->arcCorners(a, corners);
        if (!data || corners == 0) continue;
        glVertexPointer(3, GL_FLOAT, kStride, data);
        glNormalPointer(GL_FLOAT, kStride, data + 3);
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(corners));
        drawn += corners / 3;
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    return drawn;
}

void HierarchyDrawing::release() {
    mBuffers.reset();
    VTextureCache* cache = VTextureCache::instance;
    if (mRegistered && cache && cache->serial() == mRegisteredSerial) cache->unregisterObject(mRegistered);
    mRegistered = nullptr;
    mDepot.stop();
    mAtlasCount = 0;
    mRefinement = CutRefinement(); // an object read anew may keep its address
}

void HierarchyDrawing::requestTextures(const VLODObject3D& object, const ImpostorSelection& cut) {
    if (mAtlasCount == 0) return;
    if (registeredWithCache(object)) {
        if (VConfiguration::mPrefetchStrategy == 1) VTextureCache::instance->prefetchTextures(&object, cut.prefetch);
        if (mRequestFlag) VTextureCache::instance->prefetchTextures(&object, cut.needed);
        return;
    }
    std::set<uint32_t> wanted = cut.prefetch;
    wanted.insert(cut.needed.begin(), cut.needed.end());
    mDepot.update(wanted);
}

void HierarchyDrawing::logTextureStatus(const VLODObject3D& object) const {
    uint64_t bytes = 0; // as the depot counts them once loaded
    for (const ImpostorAtlas& atlas : object.mImpostorTree.atlases)
        bytes += impostorAtlasBytes(atlas.width, atlas.height, VConfiguration::mTextureCompression == 2);
    const double resident = bytes ? 100.0 * double(mDepot.totalSize()) / double(bytes) : 0.0;
    logOut() << "mNumTextures: " << object.mImpostorTree.atlases.size() << ", inum:" << object.mImpostorTree.inum()
             << ", Size: " << double(bytes) * 9.536743e-7 << ", in memory: " << resident << "\n";
}

bool HierarchyDrawing::registeredWithCache(const VLODObject3D& object) {
    VTextureCache* cache = VTextureCache::instance;
    if (!cache || mAtlasCount == 0) return false;
    if (mRegistered != &object || mRegisteredSerial != cache->serial()) {
        const bool registered = cache->registerObject(&object, mAtlasCount, object.mTexturesFileName);
        mRegistered = registered ? &object : nullptr;
        mRegisteredSerial = cache->serial();
    }
    return mRegistered == &object;
}

bool HierarchyDrawing::bindTexture(const VLODObject3D& object, uint32_t atlas) {
    if (VConfiguration::mUseOutOfCore && registeredWithCache(object))
        return VTextureCache::instance->useTexture(&object, int32_t(atlas));
    return mDepot.use(atlas);
}

uint64_t HierarchyDrawing::drawImpostors(const VLODObject3D& object, const std::vector<uint32_t>& impostors,
                                         GeometrySource source) {
    if (source == GeometrySource::Buffers && mBuffers) {
        mBuffers->bindBillboardBuffers(false);
        const uint64_t drawn = mBuffers->drawBillboards(
            impostors, [&](uint32_t atlas) { return atlas < mAtlasCount && bindTexture(object, atlas); });
        mBuffers->unbindBillboardBuffers(false);
        return drawn;
    }
    uint64_t drawn = 0;
    for (uint32_t i : impostors) {
        const MTImpostor& q = object.mImpostorTree.impostors[i];
        if (q.atlas >= mAtlasCount) continue; // no textures: nothing to show
        if (!bindTexture(object, q.atlas)) continue;
        drawImpostorQuad(q);
        ++drawn;
    }
    return drawn;
}

uint64_t HierarchyDrawing::drawPatches(const VLODObject3D& object, const std::vector<uint32_t>& arcs,
                                       GeometrySource source, bool patchColours) {
    if (source == GeometrySource::OutOfCore && mFileManager) return drawLoadedPatches(arcs);
    if (source == GeometrySource::Buffers && mBuffers) {
        mBuffers->bindTriangleBuffers(patchColours);
        const uint64_t drawn = mBuffers->drawArcs(arcs);
        mBuffers->unbindTriangleBuffers();
        return drawn;
    }
    uint64_t drawn = 0;
    glBegin(GL_TRIANGLES);
    for (uint32_t a : arcs) {
        const MTArc& arc = object.aarray[a];
        for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t) drawTriangle(object, object.tarray[t]);
        drawn += arc.tnum;
    }
    glEnd();
    return drawn;
}

bool readHierarchyForDrawing(const std::string& path, VLODObject3D& object, HierarchyDrawing& drawing,
                             std::string& error) {
    if (object.read(path) && ensureImpostorsAndSideFiles(object, error) && drawing.loadTextures(object, error))
        return true;
    if (error.empty()) error = object.lastError();
    return false;
}

void drawImpostorQuad(const MTImpostor& q) {
    glBegin(GL_QUADS);
    for (const MTImpostor::Corner& c : q.corners) {
        glNormal3f(q.normal.x, q.normal.y, q.normal.z);
        glTexCoord2f(c.s, c.t);
        glVertex4f(c.x, c.y, c.z, 1);
    }
    glEnd();
}

std::vector<uint32_t> finestArcs(const VLODObject3D& object) {
    std::vector<uint32_t> arcs;
    for (uint32_t a = 0; a < object.anum(); ++a)
        if (object.aarray[a].dest == object.mDrainNode) arcs.push_back(a);
    return arcs;
}

namespace {
// Billboards blended over what is behind them, then the patches Gouraud-lit.
void drawFilledPass(const VLODObject3D& object, HierarchyDrawing& drawing, const ImpostorSelection& cut,
                    const FrameSettings& settings, FrameCounts& counts) {
    const GeometrySource source = settings.geometry;
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const bool quantised = VConfiguration::mTextureCompression == 2;
    VShaderProgram* billboard = quantised ? VViewShaders::billboardQuant : VViewShaders::billboard;
    if (quantised && VConfiguration::mNormalTexture) VConfiguration::mNormalTexture->bind();
    billboard->enable();
    ext::glUniform1i(ext::glGetUniformLocation(billboard->id, "front_tex"), 0);
    ext::glUniform1i(ext::glGetUniformLocation(billboard->id, "back_tex"), 1);
    if (quantised) ext::glUniform1i(ext::glGetUniformLocation(billboard->id, "quant_tex"), 2);
    glColor4f(0.9f, 0.9f, 0.2f, 1.0f);
    counts.impostors = drawing.drawImpostors(object, cut.validImposters, source);
    billboard->disable();
    glDisable(GL_BLEND);
    VViewShaders::gouraud->enable();
    const float* patchColour = VLODObject3DOOCViewer::kPatchColour;
    glColor4f(patchColour[0], patchColour[1], patchColour[2], patchColour[3]);
    if (settings.backfaceCulling) glEnable(GL_CULL_FACE);
    counts.triangles = drawing.drawPatches(object, cut.validArcs, source, settings.colorMode == 0);
    glDisable(GL_CULL_FACE);
    VViewShaders::gouraud->disable();
}

void drawWireframePass(const VLODObject3D& object, HierarchyDrawing& drawing, const ImpostorSelection& cut,
                       const FrameSettings& settings) {
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDisable(GL_BLEND);
    // The wireframe program has no fragment stage: the fixed one would
    // modulate the line colour with the billboards' atlases.
    for (GLenum unit : {GL_TEXTURE1_ARB, GL_TEXTURE0_ARB}) {
        ext::glActiveTextureARB(unit);
        glDisable(GL_TEXTURE_RECTANGLE_ARB);
    }
    VViewShaders::wireframe->enable();
    glColor4fv(settings.wireframeColour);
    drawing.drawPatches(object, cut.validArcs, settings.geometry, false);
    VViewShaders::wireframe->disable();
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}
} // namespace

FrameCounts drawHierarchyFrame(const VLODObject3D& object, HierarchyDrawing& drawing, const FrameSettings& settings) {
    FrameCounts counts;
    // Pixels per unit at distance 1: the projection constant.
    const double p = settings.projectionConstant > 0
                         ? settings.projectionConstant
                         : settings.viewportHeight / (2 * std::tan(settings.fovDegrees * M_PI / 180 / 2));
    ImpostorSelection& cut = drawing.lastCut();
    const bool select = !settings.full && !settings.keepSelection;
    if (settings.full || select) cut = ImpostorSelection{};
    if (settings.full) cut.validArcs = finestArcs(object);
    auto start = std::chrono::steady_clock::now();
    SelectionView view;
    view.e2 = double(settings.errorPixels) * settings.errorPixels;
    view.Q = settings.texelWeight >= 0 ? settings.texelWeight : settings.errorPixels;
    view.P = p * p;
    if (select) {
        glGetFloatv(GL_MODELVIEW_MATRIX, view.modelView);
        const bool outOfCore = VConfiguration::mUseOutOfCore;
        selectCut(object.mImpostorTree, view, outOfCore, VConfiguration::mPrefetchStrategy, cut);
        drawing.refinement().refine(object, view, cut);
        logSelectionSizes(cut, outOfCore);
        if (outOfCore) drawing.requestTextures(object, cut);
        if (!VTextureCache::instance) drawing.logTextureStatus(object);
    }
    counts.selectMs = millisecondsSince(start);
    if (drawing.requestFlag()) return counts;

    start = std::chrono::steady_clock::now();
    const GeometrySource source = settings.geometry;
    if (!settings.wireframeOnly) drawFilledPass(object, drawing, cut, settings, counts);
    if (settings.wireframe || settings.wireframeOnly) drawWireframePass(object, drawing, cut, settings);
    if (settings.waitForDrawing) glFinish(); // the frame's time includes the drawing itself
    counts.drawMs = millisecondsSince(start);
    if (source == GeometrySource::OutOfCore) {
        SelectionView predicted = view;
        if (settings.predictedModelView) std::copy_n(settings.predictedModelView, 16, predicted.modelView);
        drawing.advanceOutOfCoreFrame(cut.validTriangles, settings.predictedModelView ? &predicted : nullptr);
    }
    return counts;
}
