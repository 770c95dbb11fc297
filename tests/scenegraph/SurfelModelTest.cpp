// Hierarchies in the scene: the whole-object model draws what the headless
// view draws; the side-file model descends to every leaf node when every
// impostor is refused and asks the texture cache for nothing then, and for
// no parent when it accepts the root; both store themselves in the scene
// file, and a file that cannot be read gives the loader's message and an
// empty picture.

#include "GLCoverageMeasure.h"
#include "GLTestContext.h"
#include "HierarchyCreation.h"
#include "OffscreenFramebuffer.h"
#include "OffscreenView.h"
#include "ShaderSets.h"
#include "SideFiles.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VSurfelModel.h"
#include "VSurfelModel2.h"
#include "VTextureCache.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

namespace {
constexpr int kSize = 128;
constexpr float kFovDegrees = 20; // the view's default opening
const QRgb kBackground = qRgb(170, 170, 255);

// The camera as the headless view places it: near and far planes around the
// sphere, the head light in eye space, the view's background.
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

// Pixels where either picture shows the object and the colours differ by
// more than a few steps in some channel, as a share of those pixels.
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

// Counts what the models ask of the cache, and does it.
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

// The whole-object model under a camera placed by hand draws the headless
// view's picture of the same view, from buffers and in immediate mode; the
// side-file model accepts the same impostors, and draws the same patches
// from its buffer as in immediate mode. At this distance and error
// the cut mixes impostors and triangles, and three times the error would
// draw impostors only.
TEST_F(SurfelModel, DrawsThePictureOfTheView) {
    CapturedLog quiet;
    OffscreenView view;
    std::string error;
    ASSERT_TRUE(view.open(mSphereFile, kSize, kSize, error)) << error;
    const BoundingSphere sphere = view.object().mBoundingSphere;
    const Vec3f eye(sphere.x + 1.5f * sphere.r, sphere.y + 0.5f * sphere.r, sphere.z + 4 * sphere.r);
    FrameSettings settings;
    settings.errorPixels = 1;
    const FrameCounts viewCounts = view.draw(eye, sphere.centre(), Vec3f(0, 1, 0), settings);
    const QImage expected = view.picture();
    ASSERT_GT(objectPixels(expected), size_t(kSize * kSize / 20));
    ASSERT_GT(viewCounts.impostors, 0u);
    ASSERT_GT(viewCounts.triangles, 0u);

    for (bool useVBO : {true, false}) {
        SCOPED_TRACE(useVBO);
        VSurfelModel model("sphere", mSphereFile, useVBO);
        ASSERT_TRUE(model.loaded());
        EXPECT_EQ(model.boundingSphere()->r, sphere.r);
        OffscreenFramebuffer framebuffer;
        ASSERT_TRUE(framebuffer.create(kSize, kSize, error)) << error;
        placeCamera(sphere, eye);
        VDrawStatistics statistics;
        model.draw(contextWithError(1), statistics);
        EXPECT_EQ(model.bufferProblem(), "");
        EXPECT_LT(differingShare(expected, framebuffer.picture()), 0.01);
        EXPECT_EQ(model.lastFrame().triangles, viewCounts.triangles);
        EXPECT_EQ(model.lastFrame().impostors, viewCounts.impostors);
        uint32_t points = 0, lines = 0, triangles = 0;
        model.counters(points, lines, triangles);
        EXPECT_EQ(triangles, viewCounts.triangles + 2 * viewCounts.impostors);
        EXPECT_EQ(statistics.triangles, viewCounts.triangles);
        EXPECT_EQ(statistics.billboards, viewCounts.impostors);
    }

    // Patches from the buffer and in immediate mode.
    std::vector<QImage> pictures;
    std::vector<uint64_t> triangles;
    for (bool useVBO : {false, true}) {
        SCOPED_TRACE(useVBO);
        VSurfelModel2 sides("sphere", geometryFileName(mSphereFile), useVBO);
        OffscreenFramebuffer framebuffer;
        ASSERT_TRUE(framebuffer.create(kSize, kSize, error)) << error;
        placeCamera(sphere, eye);
        VDrawStatistics statistics;
        sides.draw(contextWithError(1), statistics);
        EXPECT_EQ(sides.hasPatchBuffer(), useVBO);
        EXPECT_EQ(sides.selection().validImposters.size(), viewCounts.impostors);
        pictures.push_back(framebuffer.picture());
        triangles.push_back(sides.drawnTriangles());
    }
    EXPECT_GT(triangles[0], 0u);
    EXPECT_EQ(triangles[1], triangles[0]);
    EXPECT_GT(objectPixels(pictures[0]), 0u);
    EXPECT_LT(differingShare(pictures[0], pictures[1]), 0.001);
}

// Both errors at zero refuse every impostor: the cut is every node below
// the impostor tree's leaves, the whole sphere in triangles (20 faces, each
// split twice into four), and no texture is used or fetched.
TEST_F(SurfelModel, SideFilesModelRefusingEveryImpostorDrawsEveryLeafNodeAndNoTexture) {
    CapturedLog quiet;
    RecordingCache cache;
    const int32_t strategy = VConfiguration::mPrefetchStrategy;
    VConfiguration::mPrefetchStrategy = 1;
    VSurfelModel2 model("sphere", geometryFileName(mSphereFile), false);
    ASSERT_TRUE(model.loaded());
    OffscreenFramebuffer framebuffer;
    std::string error;
    ASSERT_TRUE(framebuffer.create(kSize, kSize, error)) << error;
    const BoundingSphere sphere = *model.boundingSphere();
    placeCamera(sphere, Vec3f(sphere.x, sphere.y, sphere.z + 4 * sphere.r));
    VDrawStatistics statistics;
    model.draw(contextWithError(0), statistics);

    std::vector<uint32_t> leafNodes;
    const ImpostorTree& tree = model.contents().tree;
    for (const MTImpostor& q : tree.impostors)
        for (uint32_t child : q.children)
            if (child >= tree.inum()) leafNodes.push_back(child - tree.inum());
    std::vector<uint32_t> drawnNodes = model.selection().validTriangles;
    std::sort(leafNodes.begin(), leafNodes.end());
    std::sort(drawnNodes.begin(), drawnNodes.end());
    EXPECT_EQ(drawnNodes, leafNodes);
    EXPECT_TRUE(model.selection().validImposters.empty());
    EXPECT_EQ(model.drawnTriangles(), 20u * 16u);
    EXPECT_EQ(statistics.triangles, 20u * 16u);
    EXPECT_TRUE(cache.used.empty());
    EXPECT_TRUE(cache.prefetched.empty());
    EXPECT_GT(objectPixels(framebuffer.picture()), size_t(kSize * kSize / 20));

    // From far away at a large error the root stands for everything: its
    // texture is used, its children's are fetched ahead, and it has no parent to fetch.
    placeCamera(sphere, Vec3f(sphere.x, sphere.y, sphere.z + 100 * sphere.r));
    model.draw(contextWithError(50), statistics);
    ASSERT_EQ(model.selection().validImposters, std::vector<uint32_t>{tree.root});
    std::set<uint32_t> childAtlases;
    for (uint32_t child : tree.impostors[tree.root].children)
        if (child < tree.inum()) childAtlases.insert(tree.impostors[child].atlas);
    EXPECT_EQ(cache.prefetched, childAtlases);
    EXPECT_EQ(cache.used, std::set<int32_t>{int32_t(tree.impostors[tree.root].atlas)});
    EXPECT_EQ(model.drawnBillboards(), 1u);
    VConfiguration::mPrefetchStrategy = strategy;
}

// A small scanned dragon: the side-file model reads back the geometry file
// that the whole-object model's side-file step wrote, and draws the same
// picture from its patch buffer as in immediate mode.
TEST_F(SurfelModel, SideFilesModelReadsWhatTheViewerWroteForADragon) {
    CapturedLog quiet;
    GLCoverageMeasure measure;
    VLODObject3DCreator creator;
    CreationSettings settings;
    settings.replaceExisting = true;
    CreationSummary summary;
    std::string error;
    const std::string path = tempPath("surfel-dragon.mvh");
    const bool built = createHierarchyFile(std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res4.ply", path,
                                           settings, creator, measure, summary, error);
    measure.release();
    ASSERT_TRUE(built) << error;
    VSurfelModel whole("dragon", path, false);
    ASSERT_TRUE(whole.loaded());
    VSurfelModel2 sides("dragon", geometryFileName(path), false);
    ASSERT_TRUE(sides.loaded());
    const VLODObject3D& o = whole.object();
    const GeometryFileContents& c = sides.contents();
    ASSERT_TRUE(c.vnum() == o.vnum() && c.tnum() == o.tnum() && c.nnum() == o.nnum() && c.anum() == o.anum());
    for (uint32_t t = 0; t < o.tnum(); ++t)
        ASSERT_TRUE(std::equal(o.tarray[t].v, o.tarray[t].v + 3, &c.triangles[3 * t])) << t;
    for (uint32_t a = 0; a < o.anum(); ++a)
        ASSERT_TRUE(c.arcs[a].tstart == o.aarray[a].tstart && c.arcs[a].tnum == o.aarray[a].tnum) << a;
    const ImpostorTree& tree = o.mImpostorTree;
    ASSERT_EQ(c.tree.inum(), tree.inum());
    EXPECT_EQ(c.tree.root, tree.root);
    for (uint32_t i = 0; i < tree.inum(); ++i) {
        const MTImpostor &x = c.tree.impostors[i], &y = tree.impostors[i];
        ASSERT_TRUE(x.children == y.children && x.parent == y.parent && x.atlas == y.atlas &&
                    x.depth == y.depth)
            << i;
        ASSERT_TRUE(x.corners[2].x == y.corners[2].x && x.corners[2].s == y.corners[2].s) << i;
    }

    // Its patches from the buffer look as they do in immediate mode (the
    // sphere could not tell normals from positions).
    VSurfelModel2 buffered("dragon", geometryFileName(path), true);
    std::vector<QImage> pictures;
    for (VSurfelModel2* model : {&sides, &buffered}) {
        OffscreenFramebuffer framebuffer;
        ASSERT_TRUE(framebuffer.create(kSize, kSize, error)) << error;
        const BoundingSphere& s = c.sphere;
        placeCamera(s, Vec3f(s.x + s.r, s.y, s.z + 3 * s.r));
        VDrawStatistics statistics;
        model->draw(contextWithError(0), statistics);
        pictures.push_back(framebuffer.picture());
    }
    EXPECT_TRUE(buffered.hasPatchBuffer());
    EXPECT_EQ(buffered.drawnTriangles(), sides.drawnTriangles());
    EXPECT_GT(objectPixels(pictures[0]), size_t(kSize * kSize / 50));
    EXPECT_LT(differingShare(pictures[0], pictures[1]), 0.001);
}

// Each kind's entry: the class-name line, the common part, the file name and
// the flag; read back into a model made without a file, it loads the file.
TEST_F(SurfelModel, SceneFileEntriesRoundTrip) {
    CapturedLog quiet;
    struct Kind {
        std::string className, file;
        std::function<std::unique_ptr<VGeometry>(const std::string&)> make;
        std::function<bool(const VGeometry&)> loaded;
    };
    const std::vector<Kind> kinds = {
        {"VSurfelModel", mSphereFile,
         [](const std::string& file) { return std::make_unique<VSurfelModel>("whole", file, true); },
         [](const VGeometry& g) { return dynamic_cast<const VSurfelModel&>(g).loaded(); }},
        {"VSurfelModel2", geometryFileName(mSphereFile),
         [](const std::string& file) { return std::make_unique<VSurfelModel2>("sides", file, true); },
         [](const VGeometry& g) { return dynamic_cast<const VSurfelModel2&>(g).loaded(); }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.className);
        const std::unique_ptr<VGeometry> original = kind.make(kind.file);
        ASSERT_TRUE(kind.loaded(*original));
        std::ostringstream out;
        original->writeClassName(out);
        original->write(out);
        const std::string text = out.str();
        const std::string entry = "filename of mvh-file:\n" + kind.file + "\nuse VBO:\ntrue\n";
        EXPECT_EQ(text.rfind(kind.className + "\n", 0), 0u) << text;
        ASSERT_GE(text.size(), entry.size());
        EXPECT_EQ(text.substr(text.size() - entry.size()), entry) << text;

        const std::unique_ptr<VGeometry> read = kind.make("");
        EXPECT_FALSE(kind.loaded(*read));
        std::istringstream in(text.substr(text.find('\n') + 1));
        bool ok = true;
        read->read(in, ok);
        ASSERT_TRUE(ok);
        EXPECT_TRUE(kind.loaded(*read));
        EXPECT_TRUE(read->usesVBO());
        std::ostringstream again;
        read->writeClassName(again);
        read->write(again);
        EXPECT_EQ(again.str(), text);
    }
}

// A missing file: the loader's message naming it, nothing drawn, nothing counted.
TEST_F(SurfelModel, MissingFilesGiveTheMessageAndDrawNothing) {
    const std::string mvh = tempPath("missing.mvh"), mv3 = tempPath("missing.mv3");
    struct Kind {
        const char* name;
        std::function<std::unique_ptr<VGeometry>()> make;
        std::string file;
    };
    const std::vector<Kind> kinds = {
        {"VSurfelModel", [&] { return std::make_unique<VSurfelModel>("a", mvh, false); }, mvh},
        {"VSurfelModel2", [&] { return std::make_unique<VSurfelModel2>("b", mv3, false); }, mv3},
        {"VSurfelModel2 without .mv3",
         [&] { return std::make_unique<VSurfelModel2>("c", mSphereFile, false); }, mSphereFile},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        CapturedLog log;
        const std::unique_ptr<VGeometry> model = kind.make();
        EXPECT_NE(log.err().find("ERROR - loading file: " + kind.file + " !!!\n"), std::string::npos)
            << log.err();
        OffscreenFramebuffer framebuffer;
        std::string error;
        ASSERT_TRUE(framebuffer.create(kSize, kSize, error)) << error;
        BoundingSphere unit;
        unit.r = 1;
        placeCamera(unit, Vec3f(0, 0, 4));
        VDrawStatistics statistics;
        model->draw(contextWithError(1), statistics);
        uint32_t points = 0, lines = 0, triangles = 0;
        model->counters(points, lines, triangles);
        EXPECT_EQ(points + lines + triangles, 0u);
        EXPECT_EQ(statistics.triangles + statistics.billboards, 0u);
        EXPECT_EQ(objectPixels(framebuffer.picture()), 0u);
        EXPECT_EQ(model->boundingSphere()->r, 0.0f);
    }
}
} // namespace
