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
        const Vec3d x = u * (width / 2), y = v * (height / 2);
        return {{origin - x - y, origin + x - y, origin + x + y, origin - x + y}, u, v, n};
    }
    // Two triangles over [x0, x1] x [y0, y1] at height z.
    std::vector<Vec3f> quad(double x0, double y0, double x1, double y1, double z) const {
        return {at(x0, y0, z), at(x1, y0, z), at(x1, y1, z), at(x0, y0, z), at(x1, y1, z), at(x0, y1, z)};
    }
};

Frame rotatedFrame(const Vec3d& origin, const Vec3d& axis, double angle) {
    const Vec3d a = axis / length(axis);
    const double c = std::cos(angle), s = std::sin(angle);
    auto rotate = [&](const Vec3d& p) { return p * c + cross(a, p) * s + a * (dot(a, p) * (1 - c)); };
    return {origin, rotate({1, 0, 0}), rotate({0, 1, 0}), rotate({0, 0, 1})};
}

class GLCoverageMeasureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    void TearDown() override {
        measure.release();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    GLCoverageMeasure measure;
};

// Quads against a view 2 wide and 1 high (a swapped extent would halve or
// double the areas), one after the other so that depth left from a case
// would show in the next. The eye stands 100 along the normal; near 0.001
// and far 10000 from it.
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
        {"left half", -1, -0.5, 0, 0.5, 0.2, 0.5, kRow},
        {"bottom half", -1, -0.5, 1, 0, -0.3, 0.5, kRow},
        {"behind the eye", -1, -0.5, 1, 0.5, 150, 0, 0},
        {"just before the eye", -1, -0.5, 1, 0.5, 99, 1, 0},
        {"beyond the far plane", -1, -0.5, 1, 0.5, -10500, 0, 0},
        {"just before the far plane", -1, -0.5, 1, 0.5, -9800, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(measure.coverage(view, f.quad(c.x0, c.y0, c.x1, c.y1, c.z)), c.expected, c.tolerance);
    }
    // Views without area or direction cover nothing, and make no glOrtho with an empty extent.
    const std::vector<Vec3f> whole = f.quad(-1, -0.5, 1, 0.5, 0);
    FittedRectangle noNormal = view, normalAlongV = view, notFinite = view;
    noNormal.normal = {0, 0, 0};
    normalAlongV.normal = f.v;
    notFinite.corners[2].x = std::numeric_limits<double>::quiet_NaN();
    for (const FittedRectangle& empty : {f.view(0, 1), f.view(2, 0), noNormal, normalAlongV, notFinite}) {
        EXPECT_EQ(measure.coverage(empty, whole), 0.0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    // Released (twice: the second has nothing left to delete), it measures anew.
    measure.release();
    measure.release();
    EXPECT_NEAR(measure.coverage(view, f.quad(-1, -0.5, 0, 0.5, 0.2)), 0.5, kRow);
}

// Left half at one depth, the lower-left triangle at another: 0.625 from
// every frame; triangles seen edge-on cover at most a line.
TEST_F(GLCoverageMeasureTest, TiltedViewsSeeWhatTheAxisAlignedOneSees) {
    const Vec3d origin{5, -3, 2};
    for (const Frame& f : {Frame{origin}, rotatedFrame(origin, {1, 2, 3}, 0.7), rotatedFrame(origin, {0.3, -1, 0.2}, 2.4),
                           rotatedFrame(origin, {1, 0, 0}, std::numbers::pi)}) {
        const FittedRectangle view = f.view(2, 1);
        std::vector<Vec3f> scene = f.quad(-1, -0.5, 0, 0.5, -0.2);
        for (Vec3f p : {f.at(-1, -0.5, 0.3), f.at(1, -0.5, 0.3), f.at(-1, 0.5, 0.3)}) scene.push_back(p);
        EXPECT_NEAR(measure.coverage(view, scene), 0.625, kRow);
        const std::vector<Vec3f> inThePlaneOfUAndN = {f.at(-1, 0.3, -0.5), f.at(1, 0.3, -0.5), f.at(0, 0.3, 0.5)};
        EXPECT_LE(measure.coverage(view, inThePlaneOfUAndN), kRow);
    }
}

// The caller's state: values that the measurement changes, most of which
// would spoil it if they stayed in force. The result is that of the default
// state, and the state is left as found, when the framebuffer is made and
// again when it exists.
TEST_F(GLCoverageMeasureTest, CallerStateNeitherChangesTheResultNorIsChanged) {
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    // Bound names only: the measurement must put back which objects were bound.
    GLuint renderbuffer = 0, framebuffers[2] = {};
    ext::glGenRenderbuffersEXT(1, &renderbuffer);
    ext::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, renderbuffer);
    ext::glGenFramebuffersEXT(2, framebuffers);
    // Puts every vertex on one point: nothing would be covered.
    const char* source = "void main() { gl_Position = vec4(0.0, 0.0, 0.5, 1.0); }";
    const GLuint shader = ext::glCreateShader(GL_VERTEX_SHADER), program = ext::glCreateProgram();
    ext::glShaderSource(shader, 1, &source, nullptr);
    ext::glCompileShader(shader);
    ext::glAttachShader(program, shader);
    ext::glLinkProgram(program);

    ext::glBindFramebufferEXT(GL_DRAW_FRAMEBUFFER_EXT, framebuffers[0]);
    ext::glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, framebuffers[1]);
    ext::glUseProgram(program);
    glViewport(3, 5, 40, 50);
    glDepthRange(1, 1);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
    glDepthFunc(GL_NEVER);
    glDepthMask(GL_FALSE);
    glClearDepth(0.25);
    glCullFace(GL_FRONT_AND_BACK);
    glPolygonMode(GL_FRONT_AND_BACK, GL_POINT);
    glScissor(0, 0, 1, 1);
    glAlphaFunc(GL_NEVER, 0);
    const GLdouble clipEverything[4] = {0, 0, 0, -1};
    glClipPlane(GL_CLIP_PLANE0, clipEverything);
    for (GLenum cap : {GL_CULL_FACE, GL_SCISSOR_TEST, GL_ALPHA_TEST, GL_CLIP_PLANE0}) glEnable(cap);
    glDisable(GL_DEPTH_TEST);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_TRUE);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    glPixelTransferf(GL_DEPTH_SCALE, 0);
    glPixelTransferf(GL_DEPTH_BIAS, 0.5f);
    const GLdouble projection[16] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, -1, 0, 0.5, 0.25, 0, 1};
    const GLdouble modelview[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 7, 8, 9, 1};
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(modelview);
    glMatrixMode(GL_TEXTURE);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    const std::pair<GLenum, std::vector<double>> expectedState[] = {
        {GL_DRAW_FRAMEBUFFER_BINDING_EXT, {double(framebuffers[0])}},
        {GL_READ_FRAMEBUFFER_BINDING_EXT, {double(framebuffers[1])}},
        {GL_RENDERBUFFER_BINDING_EXT, {double(renderbuffer)}}, {GL_CURRENT_PROGRAM, {double(program)}},
        {GL_VIEWPORT, {3, 5, 40, 50}}, {GL_DEPTH_RANGE, {1, 1}}, {GL_COLOR_WRITEMASK, {1, 0, 1, 0}},
        {GL_DEPTH_FUNC, {GL_NEVER}}, {GL_DEPTH_WRITEMASK, {0}}, {GL_DEPTH_CLEAR_VALUE, {0.25}},
        {GL_POLYGON_MODE, {GL_POINT, GL_POINT}},
        {GL_CULL_FACE, {1}}, {GL_SCISSOR_TEST, {1}}, {GL_ALPHA_TEST, {1}}, {GL_CLIP_PLANE0, {1}}, {GL_DEPTH_TEST, {0}},
        {GL_PACK_SWAP_BYTES, {1}}, {GL_PACK_ALIGNMENT, {8}}, {GL_DEPTH_SCALE, {0}}, {GL_DEPTH_BIAS, {0.5}},
        {GL_MATRIX_MODE, {GL_TEXTURE}},
        {GL_PROJECTION_MATRIX, {projection, projection + 16}},
        {GL_MODELVIEW_MATRIX, {modelview, modelview + 16}},
    };
    const Frame f{{5, -3, 2}};
    glEnable(0xFFFFu); // an error of the caller's, which must still be pending afterwards
    for (GLenum pending : {GL_INVALID_ENUM, GL_NO_ERROR}) {
        EXPECT_NEAR(measure.coverage(f.view(2, 1), f.quad(-1, -0.5, 0, 0.5, 0.2)), 0.5, kRow);
        EXPECT_EQ(glGetError(), pending);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        for (const auto& [name, expected] : expectedState) {
            std::vector<double> value(16, -1);
            glGetDoublev(name, value.data());
            value.resize(expected.size());
            EXPECT_EQ(value, expected) << "state 0x" << std::hex << name;
        }
    }

    ext::glUseProgram(0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glPopClientAttrib();
    glPopAttrib();
    ext::glDeleteFramebuffersEXT(2, framebuffers); // binding 0 again, as the surfaceless context has it
    ext::glDeleteRenderbuffersEXT(1, &renderbuffer); // which also unbinds it
    ext::glDeleteProgram(program);
    ext::glDeleteShader(shader);
}
} // namespace
