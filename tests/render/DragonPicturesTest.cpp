// Pictures of a scanned dragon's hierarchy as the view draws them. At one
// pixel of error the cut must look like the full mesh; at a large error it
// draws impostors and fewer triangles.
//
// Compared are the pixels the dragon covers in either picture: one differs
// when no pixel within one pixel in the other has a green within a sixth of
// the range. That forgives the pixel an outline may move at one pixel of
// error and the shading of slightly different normals, nothing more. Green,
// because impostors (yellow) and triangles (cyan) share it.

#include "GLTestContext.h"
#include "OffscreenView.h"
#include "ShaderSets.h"
#include "TestFiles.h"
#include "VConfiguration.h"

#include <gtest/gtest.h>

namespace {
constexpr int kSize = 256;
const QRgb kBackground = qRgb(170, 170, 255);

// Whether pixel (x, y) of a has no match within one pixel in b.
bool unmatched(const QImage& a, const QImage& b, int x, int y) {
    const int green = qGreen(a.pixel(x, y));
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int u = x + dx, v = y + dy;
            if (u >= 0 && v >= 0 && u < b.width() && v < b.height() && std::abs(qGreen(b.pixel(u, v)) - green) <= 42)
                return false;
        }
    return true;
}

double differingShare(const QImage& a, const QImage& b) {
    size_t object = 0, differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != kBackground || b.pixel(x, y) != kBackground) {
                ++object;
                differing += unmatched(a, b, x, y) || unmatched(b, a, x, y);
            }
    return object ? double(differing) / double(object) : 1.0;
}

size_t objectPixels(const QImage& image) {
    size_t n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) != kBackground;
    return n;
}

class DragonPictures : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string path, error;
        ASSERT_TRUE(buildDragonHierarchy("dragon_vrip_res3.ply", "dragon-pictures.mvh", 1, path));
        mOutOfCore = VConfiguration::mUseOutOfCore;
        VConfiguration::mUseOutOfCore = false; // textures read on first use: every frame complete
        VViewShaders::setupShaders();
        ASSERT_TRUE(mView.open(path, kSize, kSize, error)) << error;
    }
    void TearDown() override { VConfiguration::mUseOutOfCore = mOutOfCore; }
    // The dragon from the front at `radii` times its bounding radius.
    QImage picture(double radii, float errorPixels, bool full, FrameCounts& counts) {
        FrameSettings settings;
        settings.errorPixels = errorPixels;
        settings.full = full;
        const BoundingSphere& s = mView.object().mBoundingSphere;
        counts = mView.draw(Vec3f(s.x, s.y, s.z + float(radii * s.r)), s.centre(), Vec3f(0, 1, 0), settings);
        return mView.picture();
    }
    OffscreenView mView;
    bool mOutOfCore = true;
};

TEST_F(DragonPictures, OnePixelOfErrorLooksLikeTheFullMeshLargeErrorsDrawImpostors) {
    MORVA_SKIP_WITHOUT_DRAGON();
    FrameCounts full, cut, coarse, far;
    const QImage fullPicture = picture(4.5, 1, true, full);
    const QImage cutPicture = picture(4.5, 1, false, cut);
    const QImage coarsePicture = picture(4.5, 16, false, coarse);
    fullPicture.save(QString::fromStdString(tempPath("dragon-full.png")));
    cutPicture.save(QString::fromStdString(tempPath("dragon-cut-1px.png")));
    ASSERT_GT(objectPixels(fullPicture), size_t(kSize * kSize / 10)) << "the dragon fills the view";
    EXPECT_LT(cut.triangles, full.triangles / 2) << "the cut leaves out what the view cannot show";
    const double share = differingShare(fullPicture, cutPicture), coarseShare = differingShare(fullPicture, coarsePicture);
    // What remains are the scan's holes, which a cut closes differently, and
    // the impostors' shading per texel: about 5 % here, 2 % at a quarter
    // pixel, 12 % at four pixels.
    EXPECT_LT(share, 0.08) << "at one pixel of error the cut looks like the full mesh";
    // The measure sees a coarser cut: it is not blind.
    EXPECT_GT(coarseShare, 2 * share);
    EXPECT_LT(coarse.triangles, cut.triangles);

    const QImage farPicture = picture(40, 20, false, far);
    EXPECT_GT(far.impostors, 0u);
    EXPECT_LT(far.triangles, cut.triangles);
    EXPECT_GT(objectPixels(farPicture), 0u) << "something stands where the dragon is";
}

// The buffers and the out-of-core file draw what immediate mode draws: the
// same cut, the same pixels (up to the rasteriser's rounding on a few edges).
TEST_F(DragonPictures, BuffersAndTheOutOfCoreFileDrawThePicturesOfImmediateMode) {
    MORVA_SKIP_WITHOUT_DRAGON();
    ASSERT_NE(mView.drawing().buffers(), nullptr) << mView.bufferProblem();
    OffscreenView outOfCore;
    std::string error;
    ASSERT_TRUE(outOfCore.open(mView.object().fileName(), kSize, kSize, error, GeometrySource::OutOfCore)) << error;
    ASSERT_NE(outOfCore.drawing().fileManager(), nullptr) << outOfCore.bufferProblem();
    struct View {
        double radii;
        float error;
        bool full;
    };
    for (const View& v : {View{4.5, 1, false}, View{4.5, 16, false}, View{40, 20, false}, View{3, 1, true}}) {
        FrameSettings settings;
        settings.errorPixels = v.error;
        settings.full = v.full;
        const BoundingSphere& s = mView.object().mBoundingSphere;
        const Vec3f eye(s.x, s.y, s.z + float(v.radii * s.r));
        std::vector<QImage> pictures;
        std::vector<FrameCounts> counts;
        for (GeometrySource source : {GeometrySource::Immediate, GeometrySource::Buffers, GeometrySource::OutOfCore}) {
            settings.geometry = source;
            OffscreenView& view = source == GeometrySource::OutOfCore ? outOfCore : mView;
            counts.push_back(view.draw(eye, s.centre(), Vec3f(0, 1, 0), settings));
            pictures.push_back(view.picture());
        }
        for (size_t k = 1; k < pictures.size(); ++k) {
            EXPECT_EQ(counts[k].triangles, counts[0].triangles) << v.radii << " " << v.error << " source " << k;
            EXPECT_EQ(counts[k].impostors, counts[0].impostors) << v.radii << " " << v.error << " source " << k;
            size_t differing = 0;
            for (int y = 0; y < kSize; ++y)
                for (int x = 0; x < kSize; ++x) differing += pictures[k].pixel(x, y) != pictures[0].pixel(x, y);
            EXPECT_LE(differing, objectPixels(pictures[0]) / 1000) << v.radii << " " << v.error << " source " << k;
        }
    }
}
} // namespace
