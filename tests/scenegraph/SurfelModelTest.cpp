// Hierarchies in the scene: the whole-object model draws what the headless
// view draws; the side-file model descends to every leaf node when every
// impostor is refused and asks the texture cache for nothing then, and for
// no parent when it accepts the root; both store themselves in the scene
// file, and a file that cannot be read gives the loader's message and an
// empty picture.

#include "GLTestContext.h"
#include "OffscreenFramebuffer.h"
#include "OffscreenView.h"
#include "ShaderSets.h"
#include "SideFiles.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VSurfelModel.h"
#include "VSurfelModel2.h"
#include "VTextureCache.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <sstream>

namespace {
constexpr int kSize = 128;
constexpr float kFovDegrees = 20; // the view's default opening
const QRgb kBackground = qRgb(170, 170, 255);

// The camera as the headless view places it, on its background.
void placeCamera(const BoundingSphere& s, const Vec3f& eye) {
    const double distance = length(Vec3d(eye) - Vec3d(s.x, s.y, s.z));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFovDegrees, 1.0, std::max(1e-3, distance - 2.0 * s.r), distance + 2.0 * s.r + 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat headlight[4] = {0, 0, 1, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, headlight);
    gluLookAt(eye.x, eye.y, eye.z, s.x, s.y, s.z, 0, 1, 0);
    glClearColor(170 / 255.0f, 170 / 255.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

VTraversalContext contextWithError(float pixels) {
    VTraversalContext context;
    context.projectionConstant = kSize / (2 * std::tan(kFovDegrees * M_PI / 360));
    context.simplificationError = context.silhouetteError = pixels;
    return context;
}

size_t objectPixels(const QImage& image) {
    size_t n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) != kBackground;
    return n;
}

// Of the pixels either picture covers, the share whose colours differ by
// more than a few steps.
double differingShare(const QImage& a, const QImage& b) {
    size_t object = 0, differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (p == kBackground && q == kBackground) continue;
            ++object;
            differing += std::abs(qRed(p) - qRed(q)) > 8 || std::abs(qGreen(p) - qGreen(q)) > 8 ||
                         std::abs(qBlue(p) - qBlue(q)) > 8;
        }
    return object ? double(differing) / double(object) : 1.0;
}

// Draws model into a fresh framebuffer from eye and returns the picture.
QImage pictureOf(VGeometry& model, const BoundingSphere& sphere, const Vec3f& eye, float error,
                 VDrawStatistics& statistics) {
    OffscreenFramebuffer framebuffer;
    std::string problem;
    EXPECT_TRUE(framebuffer.create(kSize, kSize, problem)) << problem;
    placeCamera(sphere, eye);
    model.draw(contextWithError(error), statistics);
    return framebuffer.picture();
}

// Notes what the models ask of the cache, and does it.
class RecordingCache : public VTextureCache {
  public:
    RecordingCache() : VTextureCache(64u << 20) {}
    bool useTexture(const void* object, int32_t index) override {
        used.insert(index);
        return VTextureCache::useTexture(object, index);
    }
    void prefetchTextures(const void* object, const std::set<uint32_t>& indices) override {
        prefetched.insert(indices.begin(), indices.end());
        VTextureCache::prefetchTextures(object, indices);
    }
    std::set<int32_t> used;
    std::set<uint32_t> prefetched;
};

class SurfelModel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        CapturedLog quiet;
        VConfiguration::mUseOutOfCore = false;
        VViewShaders::setupShaders();
        VLODObject3D object;
        ASSERT_TRUE(readSphereWithImpostors(object, "surfel-sphere.mvh")); // makes the side files
        mSphereFile = object.fileName();
    }
    static inline std::string mSphereFile;
};

// From buffers and in immediate mode, the whole-object model draws the
// view's picture and cut; the side-file model accepts the same impostors.
// Here the cut mixes impostors and triangles; three times the error would
// show impostors only.
TEST_F(SurfelModel, DrawsThePictureOfTheView) {
    CapturedLog quiet;
    OffscreenView view;
    std::string error;
    ASSERT_TRUE(view.open(mSphereFile, kSize, kSize, error)) << error;
    const BoundingSphere sphere = view.object().mBoundingSphere;
    const Vec3f eye(sphere.x + 1.5f * sphere.r, sphere.y + 0.5f * sphere.r, sphere.z + 4 * sphere.r);
    const FrameCounts expected = view.draw(eye, sphere.centre(), Vec3f(0, 1, 0), FrameSettings());
    const QImage expectedPicture = view.picture();
    ASSERT_TRUE(expected.impostors > 0 && expected.triangles > 0);

    for (bool useVBO : {true, false}) {
        SCOPED_TRACE(useVBO);
        VSurfelModel model("sphere", mSphereFile, useVBO);
        ASSERT_TRUE(model.loaded());
        EXPECT_EQ(model.boundingSphere()->r, sphere.r);
        VDrawStatistics statistics;
        EXPECT_LT(differingShare(expectedPicture, pictureOf(model, sphere, eye, 1, statistics)), 0.01);
        EXPECT_EQ(model.bufferProblem(), "");
        uint32_t points = 0, lines = 0, triangles = 0;
        model.counters(points, lines, triangles);
        EXPECT_EQ(triangles, expected.triangles + 2 * expected.impostors);
        EXPECT_TRUE(statistics.triangles == expected.triangles &&
                    statistics.billboards == expected.impostors);
    }
    VSurfelModel2 sides("sphere", geometryFileName(mSphereFile), false);
    VDrawStatistics statistics;
    pictureOf(sides, sphere, eye, 1, statistics);
    EXPECT_EQ(sides.selection().validImposters.size(), expected.impostors);
}

// Both errors at zero refuse every impostor: the cut is every node below the
// tree's leaves, the whole sphere (20 faces split twice into four), and no
// texture is used or fetched. From far away at a large error the root is
// accepted: its texture is used, its children's fetched, and no parent's.
TEST_F(SurfelModel, SideFilesModelRefusingEveryImpostorDrawsEveryLeafNodeAndNoTexture) {
    CapturedLog quiet;
    RecordingCache cache;
    const int32_t strategy = VConfiguration::mPrefetchStrategy;
    VConfiguration::mPrefetchStrategy = 1;
    VSurfelModel2 model("sphere", geometryFileName(mSphereFile), false);
    ASSERT_TRUE(model.loaded());
    const BoundingSphere sphere = *model.boundingSphere();
    VDrawStatistics statistics;
    const QImage picture =
        pictureOf(model, sphere, Vec3f(sphere.x, sphere.y, sphere.z + 4 * sphere.r), 0, statistics);
    const ImpostorTree& tree = model.contents().tree;
    std::multiset<uint32_t> leafNodes;
    for (const MTImpostor& q : tree.impostors)
        for (uint32_t child : q.children)
            if (child >= tree.inum()) leafNodes.insert(child - tree.inum());
    const std::vector<uint32_t>& drawn = model.selection().validTriangles;
    EXPECT_EQ(std::multiset<uint32_t>(drawn.begin(), drawn.end()), leafNodes);
    EXPECT_TRUE(model.selection().validImposters.empty());
    EXPECT_TRUE(model.drawnTriangles() == 20 * 16 && statistics.triangles == 20 * 16);
    EXPECT_TRUE(cache.used.empty() && cache.prefetched.empty());
    EXPECT_GT(objectPixels(picture), size_t(kSize * kSize / 20));

    pictureOf(model, sphere, Vec3f(sphere.x, sphere.y, sphere.z + 100 * sphere.r), 50, statistics);
    ASSERT_EQ(model.selection().validImposters, std::vector<uint32_t>{tree.root});
    std::set<uint32_t> childAtlases;
    for (uint32_t child : tree.impostors[tree.root].children)
        if (child < tree.inum()) childAtlases.insert(tree.impostors[child].atlas);
    EXPECT_EQ(cache.prefetched, childAtlases);
    EXPECT_EQ(cache.used, std::set<int32_t>{int32_t(tree.impostors[tree.root].atlas)});
    EXPECT_EQ(model.drawnBillboards(), 1u);
    VConfiguration::mPrefetchStrategy = strategy;
}

// A small scanned dragon: the side-file model reads the geometry file the
// viewer wrote, and draws the same patches from its buffer as in immediate
// mode (the sphere could not tell normals from positions).
TEST_F(SurfelModel, SideFilesModelDrawsADragonFromItsBuffer) {
    MORVA_SKIP_WITHOUT_DRAGON();
    CapturedLog quiet;
    std::string path;
    ASSERT_TRUE(buildDragonHierarchy("dragon_vrip_res4.ply", "surfel-dragon.mvh", 1, path));
    const VSurfelModel whole("dragon", path, false);
    VSurfelModel2 immediate("dragon", geometryFileName(path), false),
        buffered("dragon", geometryFileName(path), true);
    const VLODObject3D& o = whole.object();
    const GeometryFileContents& c = immediate.contents();
    ASSERT_TRUE(c.tnum() == o.tnum() && c.anum() == o.anum() && c.tree.inum() == o.mImpostorTree.inum());
    const Vec3f eye(c.sphere.x + c.sphere.r, c.sphere.y, c.sphere.z + 3 * c.sphere.r);
    VDrawStatistics statistics;
    const QImage picture = pictureOf(immediate, c.sphere, eye, 0, statistics);
    EXPECT_LT(differingShare(picture, pictureOf(buffered, c.sphere, eye, 0, statistics)), 0.001);
    EXPECT_TRUE(buffered.hasPatchBuffer());
    EXPECT_EQ(buffered.drawnTriangles(), immediate.drawnTriangles());
    EXPECT_GT(objectPixels(picture), size_t(kSize * kSize / 50));
}

// Each kind's entry: class-name line, common part, file name and flag; read
// into a model made without a file, it loads the file and writes the same.
TEST_F(SurfelModel, SceneFileEntriesRoundTrip) {
    CapturedLog quiet;
    const std::string mv3 = geometryFileName(mSphereFile);
    const std::pair<std::unique_ptr<VGeometry>, std::unique_ptr<VGeometry>> kinds[] = {
        {std::make_unique<VSurfelModel>("whole", mSphereFile, true),
         std::make_unique<VSurfelModel>("", "", false)},
        {std::make_unique<VSurfelModel2>("sides", mv3, true), std::make_unique<VSurfelModel2>("", "", false)},
    };
    for (const auto& [original, read] : kinds) {
        std::ostringstream out;
        original->writeClassName(out);
        original->write(out);
        const std::string text = out.str(), file = text.starts_with("VSurfelModel2") ? mv3 : mSphereFile;
        EXPECT_TRUE(text.ends_with("\nfilename of mvh-file:\n" + file + "\nuse VBO:\ntrue\n")) << text;
        std::istringstream in(text.substr(text.find('\n') + 1));
        bool ok = true;
        read->read(in, ok);
        ASSERT_TRUE(ok);
        EXPECT_TRUE(read->usesVBO());
        EXPECT_GT(read->boundingSphere()->r, 0.0f) << "the file is loaded";
        std::ostringstream again;
        read->writeClassName(again);
        read->write(again);
        EXPECT_EQ(again.str(), text);
    }
}

// The loader's message naming the file; nothing drawn, nothing counted.
TEST_F(SurfelModel, MissingFilesGiveTheMessageAndDrawNothing) {
    const std::string mvh = tempPath("missing.mvh"), mv3 = tempPath("missing.mv3");
    for (const std::string& file : {mvh, mv3, mSphereFile}) { // the last: no ".mv3" for the side-file model
        SCOPED_TRACE(file);
        CapturedLog log;
        const std::unique_ptr<VGeometry> model =
            file == mvh ? std::unique_ptr<VGeometry>(new VSurfelModel("a", file, false))
                        : std::make_unique<VSurfelModel2>("b", file, false);
        EXPECT_NE(log.err().find("ERROR - loading file: " + file + " !!!\n"), std::string::npos) << log.err();
        BoundingSphere unit;
        unit.r = 1;
        VDrawStatistics statistics;
        EXPECT_EQ(objectPixels(pictureOf(*model, unit, Vec3f(0, 0, 4), 1, statistics)), 0u);
        uint32_t points = 0, lines = 0, triangles = 0;
        model->counters(points, lines, triangles);
        EXPECT_EQ(points + lines + triangles + statistics.triangles + statistics.billboards, 0u);
        EXPECT_EQ(model->boundingSphere()->r, 0.0f);
    }
}
} // namespace
