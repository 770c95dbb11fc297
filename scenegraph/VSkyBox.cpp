#include "VSkyBox.h"

#include "LogStream.h"
#include "SceneFileText.h"
#include "ShaderSets.h"
#include "VTexture.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>

namespace {
// Per face, in the order the six images come (back, front, right, left,
// down, up; back lies along +z, behind a camera looking down -z): the
// outward normal, then the corners bottom-left, bottom-right, top-right,
// top-left as seen from the centre, on a cube of edge 2.
struct FaceLayout {
    float normal[3];
    float corners[4][3];
};
const FaceLayout kFaceLayouts[VSkyBox::kFaces] = {
    {{0, 0, 1}, {{1, -1, 1}, {-1, -1, 1}, {-1, 1, 1}, {1, 1, 1}}},
    {{0, 0, -1}, {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}}},
    {{1, 0, 0}, {{1, -1, -1}, {1, -1, 1}, {1, 1, 1}, {1, 1, -1}}},
    {{-1, 0, 0}, {{-1, -1, 1}, {-1, -1, -1}, {-1, 1, -1}, {-1, 1, 1}}},
    {{0, -1, 0}, {{-1, -1, 1}, {1, -1, 1}, {1, -1, -1}, {-1, -1, -1}}},
    {{0, 1, 0}, {{-1, 1, -1}, {1, 1, -1}, {1, 1, 1}, {-1, 1, 1}}},
};
// Texture corners for those: images load top row first, at t = 0.
const float kTexCorners[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
const float kUntexturedGrey[4] = {0.5f, 0.5f, 0.5f, 1.0f};

// The view's rotation: rows right, up and backwards of the camera, as a
// column-major matrix without translation.
void cameraRotationInverse(const VCameraPose& camera, double m[16]) {
    const Vec3d f = camera.direction, u = camera.up, s = cross(f, u);
    const double rows[3][3] = {{s.x, s.y, s.z}, {u.x, u.y, u.z}, {-f.x, -f.y, -f.z}};
    for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1 : 0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m[c * 4 + r] = rows[r][c];
}
} // namespace

VSkyBox::VSkyBox(const std::string& name, const std::array<std::string, kFaces>& textureFiles, float edgeLength,
                 bool useVBO)
    : VGeometry(name, useVBO), mTextureFiles(textureFiles), mEdgeLength(edgeLength) {
    computeBoundingSphere();
}

VSkyBox* VSkyBox::makeForReading() { return new VSkyBox("", {}, 10.0f, false); }

VSkyBox::~VSkyBox() = default;

int VSkyBox::texturedFaces() const {
    int count = 0;
    for (const auto& texture : mTextures) count += texture != nullptr;
    return count;
}

void VSkyBox::computeBoundingSphere() {
    mSphere = BoundingSphere();
    mSphere.r = float(std::sqrt(3.0) * mEdgeLength / 2);
}

void VSkyBox::freeArrays() {
    for (auto& texture : mTextures) texture.reset();
    mTexturesTried = false;
    VGeometry::freeArrays();
}

void VSkyBox::buildGeometry() {
    if (!mVertices.empty()) return;
    const float half = mEdgeLength / 2;
    for (const FaceLayout& face : kFaceLayouts)
        for (const auto& corner : face.corners) mVertices.insert(mVertices.end(), {corner[0] * half, corner[1] * half, corner[2] * half, 1.0f});
    mVertexCount = 4 * kFaces;
    loadTextures();
}

void VSkyBox::loadTextures() {
    if (mTexturesTried) return;
    mTexturesTried = true;
    for (int f = 0; f < kFaces; ++f) {
        auto texture = std::make_unique<VTextureRGBA>(mTextureFiles[f]);
        if (!texture->load()) {
            logErr() << "sky box \"" << mName << "\": cannot read the image \"" << mTextureFiles[f]
                     << "\"; that face stays untextured\n";
            continue;
        }
        mTextures[f] = std::move(texture);
    }
}

void VSkyBox::draw(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (context.skipGeometry) return;
    if (!mInitialised) init(context);
    double rotation[16];
    cameraRotationInverse(context.camera ? *context.camera : VCameraPose(), rotation);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glMultMatrixd(rotation);
    for (int f = 0; f < kFaces; ++f) drawFace(f);
    glPopMatrix();
    statistics.triangles += 2 * kFaces;
    setCounters(0, 0, 2 * kFaces);
}

void VSkyBox::drawFace(int face) {
    VTextureRGBA* texture = mTextures[face].get();
    if (texture && !texture->unitValid()) texture->setTextureUnit(0);
    const bool textured = texture && texture->unitValid();
    VShaderProgram* program = textured ? VViewShaders::background : VViewShaders::line;
    if (program) program->enable();
    if (textured) texture->bind();
    glBegin(GL_QUADS);
    glColor4fv(kUntexturedGrey);
    glNormal3fv(kFaceLayouts[face].normal);
    for (int c = 0; c < 4; ++c) {
        if (textured) glTexCoord2f(kTexCorners[c][0] * texture->width, kTexCorners[c][1] * texture->height);
        glVertex4fv(&mVertices[4 * (4 * face + c)]);
    }
    glEnd();
    if (textured) glDisable(GL_TEXTURE_RECTANGLE_ARB);
    if (program) program->disable();
}

void VSkyBox::write(std::ostream& out) const {
    VGeometry::write(out);
    out << "textures:\n";
    for (const std::string& file : mTextureFiles) out << file << "\n";
    out << "edge length:\n" << mEdgeLength << "\nuse VBO for rendering:\n";
    scenefile::writeFlag(out, mUseVBO);
}

void VSkyBox::read(std::istream& in, bool& ok) {
    freeArrays();
    VGeometry::read(in, ok);
    scenefile::skipLabel(in, ok);
    for (std::string& file : mTextureFiles) scenefile::readLine(in, file, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, mEdgeLength, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readFlag(in, mUseVBO, ok);
}
