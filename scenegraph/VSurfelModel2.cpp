#include "VSurfelModel2.h"

#include "GLExtensions.h"
#include "HierarchyDrawing.h"
#include "LogStream.h"
#include "ShaderSets.h"
#include "TexturesFile.h"
#include "VConfiguration.h"
#include "VSurfelModel.h"
#include "VTextureCache.h"

#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
void reportLoadFailure(const std::string& file, const std::string& reason) {
    logErr() << "ERROR - loading file: " << file << " !!!\n" << reason << "\n";
}

bool fileOpens(const std::string& name) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
    return file != nullptr;
}

bool readAtlasCount(const std::string& texturesFile, uint32_t& atlases, std::string& error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(texturesFile.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        error = "cannot open the textures file";
        return false;
    }
    TexturesFileHeader header;
    if (!readTexturesHeader(file.get(), header, error)) return false;
    atlases = header.atlasCount;
    return true;
}

} // namespace

VSurfelModel2::VSurfelModel2(const std::string& name, const std::string& geometryFile, bool useVBO)
    : VGeometry(name, useVBO), mGeometryFile(geometryFile) {
    if (!mGeometryFile.empty()) load();
}

VSurfelModel2::~VSurfelModel2() {
    release();
}

void VSurfelModel2::release() {
    releasePatchBuffer();
    if (mRegistered && VTextureCache::instance) VTextureCache::instance->unregisterObject(this);
    mRegistered = false;
    mLoaded = false;
    mContents = GeometryFileContents();
    mAtlasCount = 0;
    mSelection = ImpostorSelection();
}

void VSurfelModel2::load() {
    release();
    VGeometry::freeArrays(); // the patch buffer is made again on the next draw
    mTexturesFile = texturesFileForGeometry(mGeometryFile);
    if (mTexturesFile.empty()) {
        reportLoadFailure(mGeometryFile, "the geometry file name does not end in .mv3");
        mTexturesFile = mGeometryFile; // nothing better to name it by
        computeBoundingSphere();
        return;
    }
    const bool geometryOpens = fileOpens(mGeometryFile);
    if (!geometryOpens) reportLoadFailure(mGeometryFile, "cannot open the geometry file");
    std::string error;
    const bool texturesRead = readAtlasCount(mTexturesFile, mAtlasCount, error);
    if (!texturesRead) reportLoadFailure(mTexturesFile, error);
    if (geometryOpens && texturesRead) {
        mLoaded = readGeometryFile(mGeometryFile, mAtlasCount, mContents, error);
        if (!mLoaded) reportLoadFailure(mGeometryFile, error);
    }
    if (mLoaded) registerWithCache();
    computeBoundingSphere();
}

void VSurfelModel2::registerWithCache() {
    if (!mLoaded || mRegistered || !VTextureCache::instance || mAtlasCount == 0) return;
    mRegistered = VTextureCache::instance->registerObject(this, mAtlasCount, mTexturesFile);
}

void VSurfelModel2::computeBoundingSphere() {
    mSphere = mLoaded ? mContents.sphere : BoundingSphere();
}

void VSurfelModel2::writeClassName(std::ostream& out) const {
    out << "VSurfelModel2\n";
}

void VSurfelModel2::write(std::ostream& out) const {
    VGeometry::write(out);
    writeSurfelModelEntry(out, mGeometryFile, mUseVBO);
}

void VSurfelModel2::read(std::istream& in, bool& ok) {
    VGeometry::read(in, ok);
    readSurfelModelEntry(in, mGeometryFile, mUseVBO, ok);
    if (ok && mLoadOnRead) load();
}

void VSurfelModel2::init(const VTraversalContext& context) {
    registerWithCache();
    VGeometry::init(context);
}

void VSurfelModel2::select(const VTraversalContext& context) {
    SelectionView view;
    view.e2 = double(context.simplificationError) * context.simplificationError;
    view.Q = context.silhouetteError;
    view.P = context.projectionConstant * context.projectionConstant;
    glGetFloatv(GL_MODELVIEW_MATRIX, view.modelView);
    selectCut(mContents.tree, view, true, VConfiguration::mPrefetchStrategy, mSelection);
    if (mRegistered && VTextureCache::instance && !mSelection.prefetch.empty())
        VTextureCache::instance->prefetchTextures(this, mSelection.prefetch);
}

void VSurfelModel2::initVBO() {
    if (!mLoaded || !mUseVBO || mPatchBuffer || !vboSupported) return;
    const GeometryFileContents& c = mContents;
    if (uint64_t(c.tnum()) * 3 > uint64_t(INT_MAX)) return; // more corners than one draw call can name
    // Each corner as its file record: normal, then position.
    constexpr size_t kFloats = GeometryFileContents::kFloatsPerVertex;
    std::vector<float> corners(size_t(c.tnum()) * 3 * kFloats);
    for (size_t k = 0; k < c.triangles.size(); ++k)
        std::copy_n(&c.vertices[c.triangles[k] * kFloats], kFloats, &corners[k * kFloats]);
    while (glGetError() != GL_NO_ERROR) {
    }
    GLuint buffer = 0;
    ext::glGenBuffersARB(1, &buffer);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, buffer);
    ext::glBufferDataARB(GL_ARRAY_BUFFER_ARB, GLsizeiptrARB(corners.size() * sizeof(float)), corners.data(),
                         GL_STATIC_DRAW_ARB);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    if (glGetError() == GL_NO_ERROR) {
        mPatchBuffer = buffer;
        return;
    }
    ext::glDeleteBuffersARB(1, &buffer); // out of memory on the card, most likely
    logErr() << mName << " draws its patches in immediate mode: the driver refused "
             << corners.size() * sizeof(float) << " bytes\n";
}

void VSurfelModel2::releasePatchBuffer() {
    if (mPatchBuffer) ext::glDeleteBuffersARB(1, &mPatchBuffer);
    mPatchBuffer = 0;
}

void VSurfelModel2::drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) {
    drawFrame(context, statistics, mPatchBuffer != 0);
}

void VSurfelModel2::drawImmediate(const VTraversalContext& context, VDrawStatistics& statistics) {
    drawFrame(context, statistics, false);
}

void VSurfelModel2::drawFrame(const VTraversalContext& context, VDrawStatistics& statistics,
                              bool fromBuffer) {
    resetCounters();
    mDrawnTriangles = mDrawnBillboards = 0;
    if (!mLoaded) return;
    select(context);
    if (!context.wireframeOnly) drawFilledPass(fromBuffer);
    if (context.wireframe || context.wireframeOnly) drawWireframePass(context, fromBuffer);
    glFlush();
    // A billboard counts as the two triangles of its quad.
    setCounters(0, 0, uint32_t(mDrawnTriangles + 2 * mDrawnBillboards));
    statistics.triangles += mDrawnTriangles;
    statistics.billboards += mDrawnBillboards;
}

void VSurfelModel2::drawFilledPass(bool fromBuffer) {
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const bool quantised = VConfiguration::mTextureCompression == 2;
    VShaderProgram* billboard = quantised ? VViewShaders::billboardQuant : VViewShaders::billboard;
    if (quantised && VConfiguration::mNormalTexture) VConfiguration::mNormalTexture->bind();
    if (billboard) {
        billboard->enable();
        ext::glUniform1i(ext::glGetUniformLocation(billboard->id, "front_tex"), 0);
        ext::glUniform1i(ext::glGetUniformLocation(billboard->id, "back_tex"), 1);
        if (quantised) ext::glUniform1i(ext::glGetUniformLocation(billboard->id, "quant_tex"), 2);
    }
    glColor4f(0.9f, 0.9f, 0.2f, 1.0f);
    mDrawnBillboards = drawImpostors();
    if (billboard) billboard->disable();

    if (VViewShaders::gouraud) VViewShaders::gouraud->enable();
    glColor4f(0.2f, 0.9f, 0.9f, 1.0f);
    glDisable(GL_BLEND);
    mDrawnTriangles = drawPatches(fromBuffer);
    if (VViewShaders::gouraud) VViewShaders::gouraud->disable();
}

void VSurfelModel2::drawWireframePass(const VTraversalContext& context, bool fromBuffer) {
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDisable(GL_BLEND);
    // The wireframe program has no fragment stage: the fixed one would
    // modulate the line colour with the billboards' atlases.
    for (GLenum unit : {GL_TEXTURE1_ARB, GL_TEXTURE0_ARB}) {
        ext::glActiveTextureARB(unit);
        glDisable(GL_TEXTURE_RECTANGLE_ARB);
    }
    if (VViewShaders::wireframe) VViewShaders::wireframe->enable();
    glColor4fv(context.wireframeColor);
    // Outlines of the accepted quads, without their textures.
    for (uint32_t i : mSelection.validImposters)
        drawImpostorQuad(mContents.tree.impostors[i]);
    const uint64_t triangles = drawPatches(fromBuffer);
    if (VViewShaders::wireframe) VViewShaders::wireframe->disable();
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (context.wireframeOnly) {
        mDrawnBillboards = mSelection.validImposters.size();
        mDrawnTriangles = triangles;
    }
}

uint64_t VSurfelModel2::drawImpostors() const {
    VTextureCache* cache = mRegistered ? VTextureCache::instance : nullptr;
    uint64_t drawn = 0;
    for (uint32_t i : mSelection.validImposters) {
        const MTImpostor& q = mContents.tree.impostors[i];
        if (!cache || !cache->useTexture(this, int32_t(q.atlas))) continue; // nothing to show without it
        drawImpostorQuad(q);
        ++drawn;
    }
    return drawn;
}

uint64_t VSurfelModel2::drawPatchesFromBuffer() const {
    const GeometryFileContents& c = mContents;
    constexpr GLsizei kStride = GeometryFileContents::kFloatsPerVertex * sizeof(float);
    std::vector<GLint> firsts;
    std::vector<GLsizei> counts;
    uint64_t drawn = 0;
    for (uint32_t n : mSelection.validTriangles)
        for (uint32_t a = c.nodes[n].out; a < c.nodes[n].out + c.nodes[n].onum; ++a) {
            if (c.arcs[a].tnum == 0) continue;
            firsts.push_back(GLint(3 * c.arcs[a].tstart));
            counts.push_back(GLsizei(3 * c.arcs[a].tnum));
            drawn += c.arcs[a].tnum;
        }
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, mPatchBuffer);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, kStride, nullptr);
    glVertexPointer(3, GL_FLOAT, kStride, reinterpret_cast<const void*>(3 * sizeof(float)));
    if (ext::glMultiDrawArrays && !firsts.empty())
        ext::glMultiDrawArrays(GL_TRIANGLES, firsts.data(), counts.data(), GLsizei(firsts.size()));
    else
        for (size_t k = 0; k < firsts.size(); ++k)
            glDrawArrays(GL_TRIANGLES, firsts[k], counts[k]);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    return drawn;
}

uint64_t VSurfelModel2::drawPatches(bool fromBuffer) const {
    if (fromBuffer) return drawPatchesFromBuffer();
    const GeometryFileContents& c = mContents;
    uint64_t drawn = 0;
    glBegin(GL_TRIANGLES);
    for (uint32_t n : mSelection.validTriangles)
        for (uint32_t a = c.nodes[n].out; a < c.nodes[n].out + c.nodes[n].onum; ++a) {
            const GeometryFileContents::Arc& arc = c.arcs[a];
            for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t)
                for (int k = 0; k < 3; ++k) {
                    const float* v =
                        &c.vertices[c.triangles[3 * t + k] * GeometryFileContents::kFloatsPerVertex];
                    glNormal3fv(v);
                    glVertex3fv(v + 3);
                }
            drawn += arc.tnum;
        }
    glEnd();
    return drawn;
}
