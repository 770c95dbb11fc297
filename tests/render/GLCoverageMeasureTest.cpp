// The coverage measure drawn into a depth image: known fractions of the
// view, what lies outside it, tilted views, and the caller's OpenGL state,
// which must neither change the result nor be changed by the call.

#include "GLCoverageMeasure.h"
#include "GLExtensions.h"
#include "GLTestContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {
constexpr double kPixel = 1.0 / (CoverageMeasure::kImageSize * CoverageMeasure::kImageSize);
constexpr double kRow = CoverageMeasure::kImageSize * kPixel; // one line of pixels

// A right-handed frame: geometry and views are written in its coordinates
// (x along u, y along v, z along the normal) and placed in space by it.
struct Frame {
    Vec3d origin, u{1, 0, 0}, v{0, 1, 0}, n{0, 0, 1};

    Vec3f at(double x, double y, double z) const { return Vec3f(origin + u * x + v * y + n * z); }
    // A width x height rectangle centred on the origin, facing along n.
    FittedRectangle view(double width, double height) const {
        FittedRectangle r;
        const double w = width / 2, h = height / 2;
        r.corners[0] = origin - u * w - v * h;
        r.corners[1] = origin + u * w - v * h;
        r.corners[2] = origin + u * w + v * h;
        r.corners[3] = origin - u * w + v * h;
        r.u = u;
        r.v = v;
        r.normal = n;
        return r;
    }
    // Two triangles over [x0, x1] x [y0, y1] at height z.
    void addQuad(std::vector<Vec3f>& out, double x0, double y0, double x1, double y1, double z) const {
        for (Vec3f p :
             {at(x0, y0, z), at(x1, y0, z), at(x1, y1, z), at(x0, y0, z), at(x1, y1, z), at(x0, y1, z)})
            out.push_back(p);
    }
};

Vec3d rotate(const Vec3d& p, const Vec3d& unitAxis, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return p * c + cross(unitAxis, p) * s + unitAxis * (dot(unitAxis, p) * (1 - c));
}

Frame rotatedFrame(const Vec3d& origin, const Vec3d& axis, double angle) {
    const Vec3d a = axis / length(axis);
    return {origin, rotate({1, 0, 0}, a, angle), rotate({0, 1, 0}, a, angle), rotate({0, 0, 1}, a, angle)};
}

// The axis-aligned frame and tilted ones, one of them looking down -z.
std::vector<Frame> someFrames() {
    const Vec3d origin{5, -3, 2};
    return {Frame{origin}, rotatedFrame(origin, {1, 2, 3}, 0.7), rotatedFrame(origin, {0.3, -1, 0.2}, 2.4),
            rotatedFrame(origin, {1, 0, 0}, std::numbers::pi)};
}

void clearGLErrors() {
    while (glGetError() != GL_NO_ERROR) {
    }
}

class GLCoverageMeasureTest : public ::testing::Test {
  protected:
    void SetUp() override { clearGLErrors(); }
    void TearDown() override {
        measure.release();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    GLCoverageMeasure measure;
};

// Quads over [x0, x1] x [y0, y1] at height z against a view 2 wide and 1
// high (a swapped extent would halve or double the areas). The eye stands
// 100 along the normal; near 0.001 and far 10000 from it.
TEST_F(GLCoverageMeasureTest, KnownFractionsOfTheViewAndOnlyInsideItsVolume) {
    const Frame f{{5, -3, 2}};
    const FittedRectangle view = f.view(2, 1);
    struct Case {
        const char* what;
        double x0, y0, x1, y1, z;
        double expected, tolerance;
    };
    const Case cases[] = {
        {"exactly the view", -1, -0.5, 1, 0.5, 0, 1 - kRow / 2, kRow / 2},
        {"overhanging it", -3, -2, 3, 2, 0.4, 1, 0},
        {"left half", -1, -0.5, 0, 0.5, 0.2, 0.5, kRow},
        {"bottom half", -1, -0.5, 1, 0, -0.3, 0.5, kRow},
        {"beside", 1.5, -0.5, 3, 0.5, 0, 0, 0},
        {"above", -1, 0.8, 1, 2, 0, 0, 0},
        {"behind the eye", -1, -0.5, 1, 0.5, 150, 0, 0},
        {"beyond the far plane", -1, -0.5, 1, 0.5, -10500, 0, 0},
        {"just before the eye", -1, -0.5, 1, 0.5, 99, 1, 0},
        {"just before the far plane", -1, -0.5, 1, 0.5, -9800, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Vec3f> quad;
        f.addQuad(quad, c.x0, c.y0, c.x1, c.y1, c.z);
        EXPECT_NEAR(measure.coverage(view, quad), c.expected, c.tolerance);
    }
    EXPECT_EQ(measure.coverage(view, {}), 0.0);
    // Corners that do not complete a triangle are not drawn.
    EXPECT_EQ(measure.coverage(view, std::vector<Vec3f>{f.at(-1, -0.5, 0), f.at(1, -0.5, 0)}), 0.0);
    // Half a square view, cut along its diagonal.
    const std::vector<Vec3f> diagonalHalf = {f.at(-1.5, -1.5, 0), f.at(1.5, -1.5, 0), f.at(-1.5, 1.5, 0)};
    EXPECT_NEAR(measure.coverage(f.view(3, 3), diagonalHalf), 0.5, kRow);
}

TEST_F(GLCoverageMeasureTest, TrianglesSeenEdgeOnCoverAtMostALine) {
    for (const Frame& f : someFrames()) {
        const FittedRectangle view = f.view(2, 1);
        // One in the plane of u and the normal, one in that of v and the normal.
        const std::vector<Vec3f> alongU = {f.at(-1, 0.3, -0.5), f.at(1, 0.3, -0.5), f.at(0, 0.3, 0.5)};
        const std::vector<Vec3f> alongV = {f.at(0.2, -0.5, -0.5), f.at(0.2, 0.5, -0.5), f.at(0.2, 0, 0.5)};
        EXPECT_LE(measure.coverage(view, alongU), kRow);
        EXPECT_LE(measure.coverage(view, alongV), kRow);
    }
}

TEST_F(GLCoverageMeasureTest, TiltedViewsSeeWhatTheAxisAlignedOneSees) {
    // Left half at one depth, the lower-left triangle at another: 0.625.
    auto scene = [](const Frame& f) {
        std::vector<Vec3f> corners;
        f.addQuad(corners, -1, -0.5, 0, 0.5, -0.2);
        for (Vec3f p : {f.at(-1, -0.5, 0.3), f.at(1, -0.5, 0.3), f.at(-1, 0.5, 0.3)})
            corners.push_back(p);
        return corners;
    };
    const std::vector<Frame> frames = someFrames();
    const double axisAligned = measure.coverage(frames[0].view(2, 1), scene(frames[0]));
    ASSERT_NEAR(axisAligned, 0.625, kRow);
    for (size_t k = 1; k < frames.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(measure.coverage(frames[k].view(2, 1), scene(frames[k])), axisAligned, kRow);
    }
}

TEST_F(GLCoverageMeasureTest, ViewsWithoutAreaOrDirectionCoverNothing) {
    const Frame f{{5, -3, 2}};
    std::vector<Vec3f> quad;
    f.addQuad(quad, -3, -3, 3, 3, 0);
    ASSERT_EQ(measure.coverage(f.view(2, 1), quad), 1.0);

    FittedRectangle noWidth = f.view(0, 1), noHeight = f.view(2, 0), noNormal = f.view(2, 1),
                    normalAlongV = f.view(2, 1), notFinite = f.view(2, 1);
    noNormal.normal = {0, 0, 0};
    normalAlongV.normal = f.v;
    notFinite.corners[2].x = std::numeric_limits<double>::quiet_NaN();
    for (const FittedRectangle* view : {&noWidth, &noHeight, &noNormal, &normalAlongV, &notFinite}) {
        EXPECT_EQ(measure.coverage(*view, quad), 0.0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)); // no glOrtho with an empty extent
    }
}

TEST_F(GLCoverageMeasureTest, RepeatedAndReleasedMeasurementsAgree) {
    const Frame f = rotatedFrame({1, 2, 3}, {1, 1, 0}, 0.4);
    std::vector<Vec3f> corners = {f.at(-0.9, -0.4, 0), f.at(0.7, -0.1, 0.1), f.at(-0.2, 0.45, -0.1)};
    f.addQuad(corners, 0.3, 0.1, 0.9, 0.4, 0.2);
    const FittedRectangle view = f.view(2, 1);
    const double first = measure.coverage(view, corners);
    EXPECT_GT(first, 0.0);
    EXPECT_EQ(measure.coverage(view, corners), first);
    measure.release();
    measure.release(); // a second release has nothing left to delete
    EXPECT_EQ(measure.coverage(view, corners), first);
    EXPECT_TRUE(measure.prepare());
    EXPECT_TRUE(measure.lastError().empty());
}

// The caller's state: values that differ from the defaults and from what
// the measurement sets, most of which would spoil the measurement if they
// stayed in force while it draws and reads.
class GLCoverageCallerState : public GLCoverageMeasureTest {
  protected:
    static constexpr GLdouble kProjection[16] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, -1, 0, 0.5, 0.25, 0, 1};
    static constexpr GLdouble kModelview[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 7, 8, 9, 1};

    void SetUp() override {
        GLCoverageMeasureTest::SetUp();
        glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &mOuterFramebuffer);
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        makeCallerObjects();
        setCallerState();
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    void TearDown() override {
        ext::glUseProgram(0);
        ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GLuint(mOuterFramebuffer));
        ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, 0);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glPopClientAttrib();
        glPopAttrib();
        ext::glDeleteFramebuffersEXT(2, mFramebuffers);
        ext::glDeleteRenderbuffersEXT(1, &mRenderbuffer);
        ext::glDeleteProgram(mProgram);
        ext::glDeleteShader(mShader);
        GLCoverageMeasureTest::TearDown();
    }

    void makeCallerObjects() {
        ext::glGenRenderbuffersEXT(1, &mRenderbuffer);
        ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, mRenderbuffer);
        ext::glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_RGBA8, 16, 16);
        ext::glGenFramebuffersEXT(2, mFramebuffers);
        for (GLuint fb : mFramebuffers) {
            ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, fb);
            ext::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT,
                                              GL_RENDERBUFFER_EXT, mRenderbuffer);
        }
        // Puts every vertex on one point: nothing would be covered.
        const char* source = "void main() { gl_Position = vec4(0.0, 0.0, 0.5, 1.0); }";
        mShader = ext::glCreateShader(GL_VERTEX_SHADER);
        ext::glShaderSource(mShader, 1, &source, nullptr);
        ext::glCompileShader(mShader);
        mProgram = ext::glCreateProgram();
        ext::glAttachShader(mProgram, mShader);
        ext::glLinkProgram(mProgram);
        GLint linked = 0;
        ext::glGetProgramiv(mProgram, GL_LINK_STATUS, &linked);
        ASSERT_TRUE(linked);
    }

    void setCallerState() {
        ext::glBindFramebufferEXT(GL_DRAW_FRAMEBUFFER_EXT, mFramebuffers[0]);
        ext::glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, mFramebuffers[1]);
        ext::glUseProgram(mProgram);
        glViewport(3, 5, 40, 50);
        glDepthRange(1, 1);
        glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
        glDisable(GL_DEPTH_TEST);
        glDepthFunc(GL_NEVER);
        glDepthMask(GL_FALSE);
        glClearDepth(0.25);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT_AND_BACK);
        glPolygonMode(GL_FRONT_AND_BACK, GL_POINT);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 1, 1);
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_NEVER, 0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        const GLdouble clipEverything[4] = {0, 0, 0, -1};
        glClipPlane(GL_CLIP_PLANE0, clipEverything);
        glEnable(GL_CLIP_PLANE0);
        glPixelStorei(GL_PACK_SWAP_BYTES, GL_TRUE);
        glPixelStorei(GL_PACK_ALIGNMENT, 8);
        glPixelTransferf(GL_DEPTH_SCALE, 0);
        glPixelTransferf(GL_DEPTH_BIAS, 0.5f);
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixd(kProjection);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixd(kModelview);
        glMatrixMode(GL_TEXTURE);
    }

    void expectCallerState() {
        struct State {
            GLenum name;
            std::vector<double> expected;
        };
        const State states[] = {
            {GL_DRAW_FRAMEBUFFER_BINDING_EXT, {double(mFramebuffers[0])}},
            {GL_READ_FRAMEBUFFER_BINDING_EXT, {double(mFramebuffers[1])}},
            {GL_RENDERBUFFER_BINDING_EXT, {double(mRenderbuffer)}},
            {GL_CURRENT_PROGRAM, {double(mProgram)}},
            {GL_VIEWPORT, {3, 5, 40, 50}},
            {GL_DEPTH_RANGE, {1, 1}},
            {GL_COLOR_WRITEMASK, {1, 0, 1, 0}},
            {GL_DEPTH_FUNC, {GL_NEVER}},
            {GL_DEPTH_WRITEMASK, {0}},
            {GL_DEPTH_CLEAR_VALUE, {0.25}},
            {GL_CULL_FACE_MODE, {GL_FRONT_AND_BACK}},
            {GL_POLYGON_MODE, {GL_POINT, GL_POINT}},
            {GL_PACK_SWAP_BYTES, {1}},
            {GL_PACK_ALIGNMENT, {8}},
            {GL_DEPTH_SCALE, {0}},
            {GL_DEPTH_BIAS, {0.5}},
            {GL_MATRIX_MODE, {GL_TEXTURE}},
            {GL_PROJECTION_MATRIX, {kProjection, kProjection + 16}},
            {GL_MODELVIEW_MATRIX, {kModelview, kModelview + 16}},
        };
        for (const State& state : states) {
            std::vector<double> value(16, -1);
            glGetDoublev(state.name, value.data());
            value.resize(state.expected.size());
            EXPECT_EQ(value, state.expected) << "state 0x" << std::hex << state.name;
        }
        for (GLenum cap : {GL_CULL_FACE, GL_SCISSOR_TEST, GL_ALPHA_TEST, GL_CLIP_PLANE0})
            EXPECT_TRUE(glIsEnabled(cap)) << "0x" << std::hex << cap;
        EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    }

    GLint mOuterFramebuffer = 0;
    GLuint mFramebuffers[2] = {};
    GLuint mRenderbuffer = 0, mShader = 0, mProgram = 0;
};

// The result is that of the default state, and the state is left as found,
// when the framebuffer is made and again when it exists.
TEST_F(GLCoverageCallerState, NeitherChangesTheResultNorIsChanged) {
    const Frame f{{5, -3, 2}};
    std::vector<Vec3f> leftHalf;
    f.addQuad(leftHalf, -1, -0.5, 0, 0.5, 0.2);
    glEnable(0xFFFFu); // an error of the caller's, which must still be pending afterwards
    EXPECT_NEAR(measure.coverage(f.view(2, 1), leftHalf), 0.5, kRow);
    EXPECT_EQ(glGetError(), GLenum(GL_INVALID_ENUM));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    expectCallerState();
    EXPECT_NEAR(measure.coverage(f.view(2, 1), leftHalf), 0.5, kRow);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    expectCallerState();
}
} // namespace
