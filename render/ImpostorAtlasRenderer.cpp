#include "ImpostorAtlasRenderer.h"

#include "GLExtensions.h"
#include "QuantizedNormal.h"
#include "VLODObject3D.h"

#include <GL/glu.h>

#include <cmath>

namespace {
Vec3d cornerOf(const MTImpostor& impostor, int k) {
    return {impostor.corners[k].x, impostor.corners[k].y, impostor.corners[k].z};
}
double diagonalOf(const MTImpostor& impostor) {
    const double w = length(cornerOf(impostor, 1) - cornerOf(impostor, 0));
    const double h = length(cornerOf(impostor, 3) - cornerOf(impostor, 0));
    return std::sqrt(w * w + h * h + double(impostor.depth) * impostor.depth);
}
Vec3d centreOf(const MTImpostor& impostor) { return (cornerOf(impostor, 0) + cornerOf(impostor, 2)) * 0.5; }
} // namespace

ImpostorAtlasRenderer::ImpostorAtlasRenderer() = default;
ImpostorAtlasRenderer::~ImpostorAtlasRenderer() = default;

bool ImpostorAtlasRenderer::prepare(std::string& error) {
    if (mProgram) return true;
    mVertex = std::make_unique<VVertexShaderFile>(false, "shader/ImpostorVert.txt");
    mFragment = std::make_unique<VFragmentShaderFile>(false, "shader/ImpostorFrag.txt");
    mVertex->compile();
    mFragment->compile();
    if (mVertex->id == kNoGLName || mFragment->id == kNoGLName) {
        error = "the impostor creation programs shader/ImpostorVert.txt and shader/ImpostorFrag.txt are missing";
        mVertex.reset();
        mFragment.reset();
        return false;
    }
    mProgram = std::make_unique<VShaderProgram>(false, mVertex.get(), mFragment.get());
    ext::glGenFramebuffersEXT(1, &mFramebuffer);
    ext::glGenRenderbuffersEXT(1, &mDepth);
    return true;
}

void ImpostorAtlasRenderer::release() {
    if (mProgram) mProgram->release();
    if (mVertex) mVertex->release();
    if (mFragment) mFragment->release();
    mProgram.reset();
    mVertex.reset();
    mFragment.reset();
    if (mFramebuffer) ext::glDeleteFramebuffersEXT(1, &mFramebuffer);
    if (mDepth) ext::glDeleteRenderbuffersEXT(1, &mDepth);
    mFramebuffer = mDepth = 0;
}

// One side of impostor i into its rectangle of the bound atlas: an
// orthographic slab around the quad, seen along its normal.
void ImpostorAtlasRenderer::drawSide(const VLODObject3D& object, const ImpostorTree& tree, uint32_t i, bool front) {
    const MTImpostor& q = tree.impostors[i];
    const uint32_t x = uint32_t(q.corners[0].s), y = uint32_t(q.corners[0].t);
    const uint32_t w = uint32_t(q.corners[2].s) - x, h = uint32_t(q.corners[2].t) - y;
    glViewport(GLint(x), GLint(y), GLsizei(w), GLsizei(h));
    glScissor(GLint(x), GLint(y), GLsizei(w), GLsizei(h));
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    const double width = length(cornerOf(q, 1) - cornerOf(q, 0)), height = length(cornerOf(q, 3) - cornerOf(q, 0));
    const double zf = 1.5 * (q.depth + 0.001);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // The back side swaps near and far: the same view, depths reversed.
    glOrtho(-width / 2, width / 2, -height / 2, height / 2, front ? 1 - zf : 1 + zf, front ? 1 + zf : 1 - zf);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const Vec3d centre = centreOf(q), eye = centre + Vec3d(q.normal);
    Vec3d up = cornerOf(q, 3) - cornerOf(q, 0);
    up = length(up) > 0 ? up / length(up) : Vec3d(0, 1, 0);
    gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, up.x, up.y, up.z);

    // Its own triangles and those of every part of the tree its volume meets.
    const uint32_t inum = tree.inum();
    const double reach = diagonalOf(q) / 2;
    glBegin(GL_TRIANGLES);
    std::vector<std::pair<uint32_t, bool>> stack{{tree.root, tree.root == i}};
    while (!stack.empty()) {
        const auto [k, below] = stack.back();
        stack.pop_back();
        for (uint32_t child : tree.impostors[k].children) {
            if (child < inum) {
                const MTImpostor& other = tree.impostors[child];
                const bool mine = below || child == i;
                if (mine || length(centreOf(other) - centre) < reach + diagonalOf(other) / 2)
                    stack.push_back({child, mine});
                continue;
            }
            const MTNode& node = object.narray[child - inum];
            for (uint32_t a = node.out; a < node.out + node.onum; ++a)
                for (uint32_t t = object.aarray[a].tstart; t < object.aarray[a].tstart + object.aarray[a].tnum; ++t)
                    for (uint32_t v : object.tarray[t].v) {
                        const Vec3f& n = dequantizeNormal(object.varray[v].normal);
                        const Vec3f p = object.varray[v].path->evaluate(0);
                        ext::glVertexAttrib4fARB(2, n.x, n.y, n.z, 0);
                        ext::glVertexAttrib4fARB(3, 1.0f, 0.2f, 0.2f, 0);
                        ext::glVertexAttrib4fARB(0, p.x, p.y, p.z, 1);
                    }
        }
    }
    glEnd();
}

bool ImpostorAtlasRenderer::render(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlasIndex,
                                   bool useATI, RenderedAtlas& result, std::string& error) {
    const ImpostorAtlas& atlas = tree.atlases[atlasIndex];
    result.width = atlas.width;
    result.height = atlas.height;
    result.front.clear();
    result.back.clear();
    GLuint textures[2] = {0, 0};
    return renderSides(object, tree, atlasIndex, useATI, textures, &result, error);
}

bool ImpostorAtlasRenderer::createTextures(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlasIndex,
                                           bool useATI, GLuint& front, GLuint& back, std::string& error) {
    GLuint textures[2] = {0, 0};
    if (!renderSides(object, tree, atlasIndex, useATI, textures, nullptr, error)) return false;
    front = textures[0];
    back = textures[1];
    return true;
}

bool ImpostorAtlasRenderer::renderInto(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlasIndex,
                                       GLuint front, GLuint back, std::string& error) {
    GLuint textures[2] = {front, back};
    return renderSides(object, tree, atlasIndex, false, textures, nullptr, error);
}

namespace {
GLuint makeSideTexture(const ImpostorAtlas& atlas, bool useATI) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Mesa has only the ARB float formats; other drivers take NVIDIA's
    // when not on the ATI path.
    const GLint format = useATI ? GL_RGBA_FLOAT32_ATI : GL_FLOAT_RGBA32_NV;
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, format, GLsizei(atlas.width), GLsizei(atlas.height), 0, GL_RGBA,
                 GL_FLOAT, nullptr);
    return texture;
}
} // namespace

// One side of every impostor of the atlas into texture, attached to the
// framebuffer; a new texture is cleared first, a shared one only inside the
// impostors' rectangles (drawSide's scissored clear).
bool ImpostorAtlasRenderer::renderSide(const VLODObject3D& object, const ImpostorAtlas& atlas,
                                       const ImpostorTree& tree, bool front, bool clearFirst, GLuint texture,
                                       RenderedAtlas* readBack, std::string& error) {
    ext::glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_RECTANGLE_ARB, texture, 0);
    const bool complete = ext::glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
    if (!complete) {
        error = "the impostor framebuffer is incomplete";
    } else {
        if (clearFirst) {
            glDisable(GL_SCISSOR_TEST);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glEnable(GL_SCISSOR_TEST);
        }
        mProgram->enable();
        for (uint32_t i : atlas.impostors) drawSide(object, tree, i, front);
        mProgram->disable();
        if (readBack) {
            std::vector<float>& texels = front ? readBack->front : readBack->back;
            texels.assign(size_t(atlas.width) * atlas.height * 4, 0.0f);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, GLsizei(atlas.width), GLsizei(atlas.height), GL_RGBA, GL_FLOAT, texels.data());
        }
    }
    ext::glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_RECTANGLE_ARB, 0, 0);
    return complete;
}

// Both sides of an atlas into two rectangle textures: the given ones, or
// new ones that are read back into readBack and deleted when it is given,
// kept in textures otherwise.
bool ImpostorAtlasRenderer::renderSides(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlasIndex,
                                        bool useATI, GLuint textures[2], RenderedAtlas* readBack,
                                        std::string& error) {
    if (!prepare(error)) return false;
    const ImpostorAtlas& atlas = tree.atlases[atlasIndex];
    if (atlas.width == 0 || atlas.height == 0) return true;
    GLint previousFramebuffer = 0, viewport[4];
    GLfloat clearColour[4];
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    glPushAttrib(GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT | GL_SCISSOR_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();

    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, mFramebuffer);
    ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, mDepth);
    ext::glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, GLsizei(atlas.width),
                                  GLsizei(atlas.height));
    ext::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, mDepth);
    glClearColor(0, 0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_SCISSOR_TEST);
    // Alpha holds depth: blending would scale the normals by it.
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);

    const bool given = textures[0] != 0;
    bool complete = true;
    for (int side = 0; side < 2 && complete; ++side) {
        const bool front = side == 0;
        if (!given) textures[side] = makeSideTexture(atlas, useATI);
        complete = renderSide(object, atlas, tree, front, !given, textures[side], readBack, error);
        if (!given && (readBack || !complete)) {
            glDeleteTextures(1, &textures[side]);
            textures[side] = 0;
        }
    }
    if (!complete && !given && textures[0]) {
        glDeleteTextures(1, &textures[0]);
        textures[0] = 0;
    }

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
    glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GLuint(previousFramebuffer));
    return complete;
}
