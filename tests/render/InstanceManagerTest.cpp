// The instance manager in a headless context: hierarchies sharing texture
// atlases, refusals that leave nothing behind, instances of one prepared
// representation, and the billboard cut its vertex program chooses against
// the CPU's acceptance test on the dragon.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "OffscreenFramebuffer.h"
#include "OffscreenView.h"
#include "ShaderSets.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VLODObject3D.h"
#include "VLODObject3DInstanceManager.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {
std::string sphereFile(uint32_t depth) {
    const std::string path = tempPath("sphere" + std::to_string(depth) + ".mvh");
    VLODObject3D sphere;
    makeSphereHierarchy(sphere, {depth, 1, true});
    EXPECT_TRUE(sphere.write(path));
    return path;
}

// Every texel of one side of an atlas (four floats each).
std::vector<float> atlasTexels(GLuint texture, uint32_t width, uint32_t height) {
    std::vector<float> texels(size_t(width) * height * 4);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, GL_FLOAT, texels.data());
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
    return texels;
}

// The texels of a representation's impostors, rectangle by rectangle.
std::vector<float> impostorTexels(const VLODObject3DOOCViewer& representation, const std::vector<float>& atlas,
                                  uint32_t atlasWidth) {
    std::vector<float> texels;
    for (const MTImpostor& q : representation.traversal().mImpostorTree.impostors)
        for (uint32_t y = uint32_t(q.corners[0].t); y < uint32_t(q.corners[2].t); ++y)
            for (uint32_t x = uint32_t(q.corners[0].s); x < uint32_t(q.corners[2].s); ++x)
                texels.insert(texels.end(), &atlas[4 * (size_t(y) * atlasWidth + x)],
                              &atlas[4 * (size_t(y) * atlasWidth + x) + 4]);
    return texels;
}

size_t coveredTexels(const std::vector<float>& texels) {
    size_t covered = 0;
    for (size_t k = 3; k < texels.size(); k += 4) covered += texels[k] > 0;
    return covered;
}

// The dragon with small patches, for many impostors; built once (the
// caller captures the log).
const std::string& dragonFile() {
    static const std::string path = [] {
        std::string built;
        EXPECT_TRUE(buildDragonHierarchy("dragon_vrip_res4.ply", "dragon4.mvh", 4, built));
        return built;
    }();
    return path;
}

class InstanceManagerTest : public ::testing::Test {
  protected:
    void SetUp() override { loaderOutput(); }
    void TearDown() override { vboSupported = mVbo; }
    CapturedLog mLog;
    bool mVbo = vboSupported;
};

// Atlases of 350 x 350 texels: two depth-1 spheres (about 9900 texels each)
// share one, a depth-2 sphere (about 101000) no longer fits beside them and
// opens a second, and one more depth-2 sphere fits neither.
TEST_F(InstanceManagerTest, ObjectsShareAtlasesUntilFullAndRefusalsLeaveNothingBehind) {
    const std::string small = sphereFile(1), large = sphereFile(2);
    VLODObject3DInstanceManager manager;
    manager.setAtlasSize(350, 350);
    ASSERT_TRUE(manager.loadObject(small, "a"));
    GLint format = 0;
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, manager.atlases[0]->back);
    glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE_ARB, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
    EXPECT_EQ(format, GL_RGBA_FLOAT16_ATI) << "half floats on the ATI path";
    const std::vector<float> before = atlasTexels(manager.atlases[0]->front, 350, 350);
    const std::vector<float> aTexels = impostorTexels(*manager.repository["a"], before, 350);
    EXPECT_GT(coveredTexels(aTexels), aTexels.size() / 16) << "the impostors were drawn into the atlas";
    ASSERT_TRUE(manager.loadObject(small, "b"));
    ASSERT_EQ(manager.atlases.size(), 1u);
    EXPECT_EQ(manager.repository["b"]->atlas, manager.atlases[0].get());
    const std::vector<float> after = atlasTexels(manager.atlases[0]->front, 350, 350);
    EXPECT_EQ(impostorTexels(*manager.repository["a"], after, 350), aTexels) << "b drew over a";

    const uint64_t freeBesideSmalls = manager.atlases[0]->freeTexels;
    ASSERT_TRUE(manager.loadObject(large, "c"));
    ASSERT_EQ(manager.atlases.size(), 2u);
    EXPECT_EQ(manager.repository["c"]->atlas, manager.atlases[1].get());
    EXPECT_EQ(manager.atlases[0]->freeTexels, freeBesideSmalls) << "the refused try took texels";

    // Fits no atlas, and a new one is too small or more than the driver
    // takes: nothing stays.
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE_ARB, &largest);
    for (uint32_t side : {64u, uint32_t(largest) + 1}) {
        manager.setAtlasSize(side, side);
        EXPECT_FALSE(manager.loadObject(large, "d"));
        EXPECT_NE(mLog.err().find("object with id \"d\" not added"), std::string::npos) << mLog.err();
        EXPECT_EQ(manager.repository.count("d"), 0u);
        EXPECT_EQ(manager.atlases.size(), 2u);
        EXPECT_EQ(manager.atlases[0]->freeTexels, freeBesideSmalls);
    }

    // Buffers that cannot be made: texels given back, a new atlas dropped.
    vboSupported = false;
    EXPECT_FALSE(manager.loadObject(small, "e"));
    EXPECT_EQ(manager.atlases[0]->freeTexels, freeBesideSmalls);
    manager.setAtlasSize(350, 350);
    EXPECT_FALSE(manager.loadObject(large, "f"));
    EXPECT_EQ(manager.atlases.size(), 2u);
    EXPECT_EQ(manager.repository.count("e") + manager.repository.count("f"), 0u);
    vboSupported = mVbo;
    EXPECT_FALSE(manager.loadObject(small, "a")) << "an id is taken once";
    EXPECT_FALSE(manager.loadObject(tempPath("missing.mvh"), "g"));
    EXPECT_EQ(manager.repository.size(), 3u);

    const GLuint textures[2] = {manager.atlases[1]->front, manager.atlases[1]->back};
    manager.clear();
    EXPECT_TRUE(manager.repository.empty() && manager.atlases.empty() && manager.instances.empty());
    EXPECT_FALSE(glIsTexture(textures[0]) || glIsTexture(textures[1]));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(InstanceManagerTest, InstancesShareTheirRepresentation) {
    VLODObject3DInstanceManager manager;
    manager.setAtlasSize(512, 512);
    ASSERT_TRUE(manager.loadObject(sphereFile(1), "sphere"));
    VLODObject3DInstance* first = manager.createInstance("sphere");
    VLODObject3DInstance* second = manager.createInstance("sphere");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->object, manager.repository["sphere"].get());
    EXPECT_EQ(second->object, first->object);
    EXPECT_EQ(manager.instances[first->object].size(), 2u);

    EXPECT_EQ(manager.createInstance("cube"), nullptr);
    EXPECT_EQ(mLog.err(), "object with id \"cube\" not found in repository!\n");
}

// --- The GPU cut --------------------------------------------------------------

// The billboard program's corner positions captured by transform feedback:
// a culled billboard's corners all lie at the program's point beyond the
// far plane.
class BillboardCapture {
  public:
    bool open(std::string& error) {
        loadGLFunction(reinterpret_cast<void**>(&mVaryings), "glTransformFeedbackVaryings");
        loadGLFunction(reinterpret_cast<void**>(&mBegin), "glBeginTransformFeedback");
        loadGLFunction(reinterpret_cast<void**>(&mEnd), "glEndTransformFeedback");
        loadGLFunction(reinterpret_cast<void**>(&mBindBase), "glBindBufferBase");
        if (!mVaryings || !mBegin || !mEnd || !mBindBase) {
            error = "no transform feedback";
            return false;
        }
        VShader* select = VInstanceShaders::shaders[0];
        if (!shaderCompiled(*select, &error)) return false;
        mProgram = ext::glCreateProgram();
        ext::glAttachShader(mProgram, select->id);
        const char* position = "gl_Position";
        mVaryings(mProgram, 1, &position, GL_INTERLEAVED_ATTRIBS);
        ext::glLinkProgram(mProgram);
        GLint linked = GL_FALSE;
        ext::glGetProgramiv(mProgram, GL_LINK_STATUS, &linked);
        if (!linked) error = "the select program with feedback does not link";
        ext::glGenBuffersARB(1, &mBuffer);
        // The surfaceless context has no framebuffer to draw into, even
        // with rasterising switched off.
        if (!mTarget.create(1, 1, error)) return false;
        return linked;
    }
    ~BillboardCapture() {
        if (mProgram) ext::glDeleteProgram(mProgram);
        if (mBuffer) ext::glDeleteBuffersARB(1, &mBuffer);
    }

    // Per sorted billboard whether the program kept it (-1: its corners disagree).
    std::vector<int> kept(const VLODObject3DOOCViewer& representation, const float modelView[16], double P, double e) {
        const size_t corners = 6 * size_t(representation.billboardCount()); // a quad is captured as two triangles
        ext::glBindBufferARB(GL_TRANSFORM_FEEDBACK_BUFFER, mBuffer);
        ext::glBufferDataARB(GL_TRANSFORM_FEEDBACK_BUFFER, GLsizeiptr(corners * 16), nullptr, GL_STREAM_READ);
        mBindBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, mBuffer);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(modelView);
        ext::glUseProgram(mProgram);
        ext::glUniform1f(ext::glGetUniformLocation(mProgram, "sq_proj_const"), float(P));
        ext::glUniform1f(ext::glGetUniformLocation(mProgram, "sq_image_error"), float(e * e));
        ext::glUniform1f(ext::glGetUniformLocation(mProgram, "sq_texture_scale_error"), float(e));
        glEnable(GL_RASTERIZER_DISCARD);
        representation.bindBillboardBuffers(true);
        mBegin(GL_TRIANGLES);
        representation.drawAllBillboards();
        mEnd();
        representation.unbindBillboardBuffers(true);
        glDisable(GL_RASTERIZER_DISCARD);
        ext::glUseProgram(0);
        std::vector<float> positions(corners * 4);
        ext::glGetBufferSubDataARB(GL_TRANSFORM_FEEDBACK_BUFFER, 0, GLsizeiptr(corners * 16), positions.data());
        ext::glBindBufferARB(GL_TRANSFORM_FEEDBACK_BUFFER, 0);
        std::vector<int> result(representation.billboardCount());
        for (size_t b = 0; b < result.size(); ++b) {
            int culled = 0;
            for (size_t c = 6 * b; c < 6 * b + 6; ++c) {
                const float* p = &positions[4 * c];
                culled += p[0] == 0 && p[1] == 0 && p[2] == 2 && p[3] == 1;
            }
            result[b] = culled == 0 ? 1 : culled == 6 ? 0 : -1;
        }
        return result;
    }

  private:
    PFNGLTRANSFORMFEEDBACKVARYINGSPROC mVaryings = nullptr;
    PFNGLBEGINTRANSFORMFEEDBACKPROC mBegin = nullptr;
    PFNGLENDTRANSFORMFEEDBACKPROC mEnd = nullptr;
    PFNGLBINDBUFFERBASEPROC mBindBase = nullptr;
    GLuint mProgram = 0, mBuffer = 0;
    OffscreenFramebuffer mTarget;
};

// The quad as an instance of that scale shows it in its own frame.
MTImpostor scaled(MTImpostor q, float scale) {
    for (MTImpostor::Corner& c : q.corners) c.x *= scale, c.y *= scale, c.z *= scale;
    q.depth *= scale;
    return q;
}

// Whether the billboard belongs to the cut, in double on the CPU; -1 when
// its decision changes within a relative 1e-4 of the projection constant
// (a tie the GPU's float arithmetic may break either way).
int cpuInCut(const ImpostorTree& tree, uint32_t i, const SelectionView& view, float scale) {
    int decision[2];
    for (int side = 0; side < 2; ++side) {
        SelectionView v = view;
        v.P *= side ? 1 + 1e-4 : 1 - 1e-4;
        const MTImpostor& q = tree.impostors[i];
        const bool own = acceptImpostor(scaled(q, scale), v);
        decision[side] = own && (q.parent == MTImpostor::kNoParent ||
                                 !acceptImpostor(scaled(tree.impostors[q.parent], scale), v));
    }
    return decision[0] == decision[1] ? decision[0] : -1;
}

TEST_F(InstanceManagerTest, TheGpuBillboardCutIsTheCpuCut) {
    MORVA_SKIP_WITHOUT_DRAGON();
    const std::string path = dragonFile();
    std::string error;
    VLODObject3DInstanceManager manager;
    ASSERT_TRUE(manager.loadObject(path, "dragon")) << mLog.err();
    const VLODObject3DOOCViewer& dragon = *manager.repository["dragon"];
    const ImpostorTree& tree = dragon.traversal().mImpostorTree;
    ASSERT_GT(dragon.billboardCount(), 50u);
    BillboardCapture capture;
    ASSERT_TRUE(capture.open(error)) << error;

    const BoundingSphere& s = dragon.traversal().mBoundingSphere;
    const double p = 600 / (2 * std::tan(M_PI / 18));
    const float directions[][3] = {{0, 0, 1}, {1, 0.3f, 0.2f}, {-0.4f, 1, -0.7f}, {0.2f, -0.5f, -1}};
    size_t compared = 0, inCut = 0, mismatches = 0;
    for (const float* d : directions)
        for (double distance : {1.5, 4.0, 10.0, 25.0, 60.0, 150.0})
            for (double e : {0.7, 3.0})
                for (float scale : {1.0f, 2.5f}) {
                    // The camera, and under it the instance's rotation and scale.
                    float camera[16], instance[16], modelView[16];
                    const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                    glMatrixMode(GL_MODELVIEW);
                    glLoadIdentity();
                    gluLookAt(s.x + distance * d[0] / n, s.y + distance * d[1] / n, s.z + distance * d[2] / n, s.x,
                              s.y, s.z, 0, 1, 0);
                    glGetFloatv(GL_MODELVIEW_MATRIX, camera);
                    glRotatef(scale == 1 ? 0 : 30, 0.3f, 1, 0.1f);
                    glGetFloatv(GL_MODELVIEW_MATRIX, instance);
                    glScalef(scale, scale, scale);
                    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
                    const std::vector<int> gpu = capture.kept(dragon, modelView, p * p, e);
                    SelectionView view;
                    std::copy(instance, instance + 16, view.modelView);
                    view.e2 = e * e;
                    view.Q = e;
                    view.P = p * p;
                    for (uint32_t b = 0; b < dragon.billboardCount(); ++b) {
                        const int cpu = cpuInCut(tree, dragon.billboards()[b].original, view, scale);
                        if (cpu < 0) continue;
                        ++compared;
                        inCut += cpu;
                        if (gpu[b] != cpu && ++mismatches <= 10)
                            ADD_FAILURE() << "billboard " << b << " at distance " << distance << ", error " << e
                                          << ", scale " << scale << ": GPU " << gpu[b] << ", CPU " << cpu;
                    }
                }
    EXPECT_EQ(mismatches, 0u) << "of " << compared;
    // The views cover both answers, not just one.
    EXPECT_GT(inCut, compared / 50);
    EXPECT_LT(inCut, compared - compared / 50);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
// Pixels that are not the background, and how many of them either picture has.
double silhouetteOverlap(const QImage& a, const QImage& b, size_t& covered) {
    const QRgb background = qRgba(170, 170, 255, 255);
    size_t both = 0, either = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const bool inA = a.pixel(x, y) != background, inB = b.pixel(x, y) != background;
            both += inA && inB;
            either += inA || inB;
        }
    covered = either;
    return either ? double(both) / double(either) : 1.0;
}

// An instance covers the pixels the object itself covers when drawn from its
// buffers, near and farther (where a few percent of the picture are
// billboards: without their texels in the shared atlas, or with
// them elsewhere, those pixels would be missing).
TEST_F(InstanceManagerTest, AnInstanceCoversWhatItsObjectCovers) {
    MORVA_SKIP_WITHOUT_DRAGON();
    VViewShaders::setupShaders();
    OffscreenView view;
    std::string error;
    ASSERT_TRUE(view.open(dragonFile(), 256, 256, error)) << error;
    VLODObject3DInstanceManager manager;
    ASSERT_TRUE(manager.loadObject(dragonFile(), "dragon"));
    VLODObject3DInstance* instance = manager.createInstance("dragon");
    const BoundingSphere& s = view.object().mBoundingSphere;
    const Vec3f centre(s.x, s.y, s.z), up(0, 1, 0);
    for (const auto& [distance, errorPixels] : {std::pair{2.0f, 1.0f}, std::pair{10.0f, 4.0f}, std::pair{10.0f, 8.0f}}) {
        const Vec3f eye = centre + Vec3f(0.3f, 0.4f, 1.0f) * (distance / length(Vec3f(0.3f, 0.4f, 1.0f)));
        FrameSettings settings;
        settings.errorPixels = errorPixels;
        const FrameCounts object = view.draw(eye, centre, up, settings);
        const QImage expected = view.picture();
        // The same camera and projection, the light where the view put it.
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        InstanceView camera;
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, up.x, up.y, up.z);
        glGetFloatv(GL_MODELVIEW_MATRIX, camera.viewMatrix);
        camera.projectionConstant = 256 / (2 * std::tan(M_PI / 18));
        instance->error = errorPixels;
        const InstanceDrawCounts drawn = manager.drawInstances(camera);
        size_t covered = 0;
        const double overlap = silhouetteOverlap(expected, view.picture(), covered);
        EXPECT_GT(covered, 1000u) << distance;
        EXPECT_GT(drawn.billboards, 0u) << distance;
        EXPECT_GT(overlap, 0.99) << "distance " << distance << ": " << object.impostors << " impostors, "
                                << object.triangles << " triangles drawn by the object; " << drawn.billboards
                                << " and " << drawn.triangles << " by the instance";
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
} // namespace
