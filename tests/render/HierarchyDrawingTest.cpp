// Frames of a sphere hierarchy as the view draws them: impostor textures are
// all loaded up front in core, and out of core the depot keeps exactly what
// the latest cut asked for.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "HierarchyDrawing.h"
#include "OffscreenFramebuffer.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VTextureCache.h"
#include "VLODObject3D.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

namespace {
class DrawingFrames : public ::testing::Test {
  protected:
    void SetUp() override {
        loaderOutput();
        mOutOfCore = VConfiguration::mUseOutOfCore;
        mPrefetch = VConfiguration::mPrefetchStrategy;
        VViewShaders::setupShaders();
        ASSERT_TRUE(readSphereWithImpostors(mObject, "frames.mvh"));
        std::string error;
        ASSERT_TRUE(mDrawing.loadTextures(mObject, error)) << error;
        // A small framebuffer of our own: the surfaceless context has none.
        ASSERT_TRUE(mTarget.create(64, 64, error)) << error;
    }
    void TearDown() override {
        mDrawing.release();
        mTarget.release();
        VConfiguration::mUseOutOfCore = mOutOfCore;
        VConfiguration::mPrefetchStrategy = mPrefetch;
    }
    FrameCounts frameAt(double distance, float errorPixels) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(20, 1, 0.01, distance + 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(0, 0.3, distance, 0, 0, 0, 0, 1, 0);
        FrameSettings settings;
        settings.errorPixels = errorPixels;
        settings.viewportHeight = 64;
        return drawHierarchyFrame(mObject, mDrawing, settings);
    }
    CapturedLog mLog;
    VLODObject3D mObject;
    HierarchyDrawing mDrawing;
    OffscreenFramebuffer mTarget;
    bool mOutOfCore = true;
    int32_t mPrefetch = 1;
};

// In core every atlas is read and uploaded when the textures are loaded, so
// frames never read the file.
TEST_F(DrawingFrames, InCoreTexturesAreLoadedUpFront) {
    VConfiguration::mUseOutOfCore = false;
    std::string error;
    ASSERT_TRUE(mDrawing.loadTextures(mObject, error)) << error;
    for (uint32_t a = 0; a < mObject.mImpostorTree.atlases.size(); ++a) EXPECT_TRUE(mDrawing.depot().delivered(a)) << a;
    EXPECT_NE(mLog.out().find("Time needed to load all textures: "), std::string::npos);
    EXPECT_NE(mLog.out().find("Time needed to use all textures: "), std::string::npos);
    const uint64_t held = mDrawing.depot().totalSize();
    ASSERT_GT(frameAt(40, 4).impostors, 0u) << "far away the sphere is drawn with impostors";
    frameAt(3, 0.5f);
    EXPECT_EQ(mDrawing.depot().loadedSize(), 0u) << "no frame read anything";
    EXPECT_EQ(mDrawing.depot().totalSize(), held);
    EXPECT_NE(mLog.out().find(", in memory: 100\n"), std::string::npos);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(DrawingFrames, OutOfCoreTheDepotFollowsTheCut) {
    VConfiguration::mUseOutOfCore = true;
    VConfiguration::mPrefetchStrategy = 0;
    const FrameCounts far = frameAt(40, 4);
    ASSERT_GT(far.impostors, 0u);
    EXPECT_NE(mLog.out().find("AN_List.size: "), std::string::npos);
    // Error 0 refuses every impostor: the cut needs no texture, and the
    // depot lets go of what the far cut had.
    const FrameCounts near = frameAt(3, 0);
    EXPECT_EQ(near.impostors, 0u);
    EXPECT_GT(near.triangles, 0u);
    EXPECT_EQ(mDrawing.depot().totalSize(), 0u);
    for (uint32_t a = 0; a < mObject.mImpostorTree.atlases.size(); ++a) EXPECT_FALSE(mDrawing.depot().delivered(a)) << a;
}

// With the object's request flag a frame only selects: the cache is handed
// the textures the cut needs, and the frame draws nothing of its own.
TEST_F(DrawingFrames, TheRequestFlagHandsTheCutToTheCacheAndDrawsNothing) {
    VConfiguration::mUseOutOfCore = true;
    VConfiguration::mPrefetchStrategy = 0;
    VTextureCache cache(64u << 20);
    std::string error;
    ASSERT_TRUE(mDrawing.loadTextures(mObject, error)) << error; // registers the object with the cache
    mDrawing.setRequestFlag(true);
    const FrameCounts requested = frameAt(40, 4);
    EXPECT_EQ(requested.impostors, 0u);
    EXPECT_EQ(requested.triangles, 0u);
    const size_t held = cache.engine().size();
    EXPECT_GT(held, 0u) << "the cut's textures were requested";
    // Drawn by the object itself again: what it needs is in the cache already.
    mDrawing.setRequestFlag(false);
    EXPECT_GT(frameAt(40, 4).impostors, 0u);
    EXPECT_EQ(cache.engine().size(), held);
    // Released, the object's textures leave the cache with it.
    mDrawing.release();
    EXPECT_EQ(cache.engine().size(), 0u);
    EXPECT_EQ(cache.engine().used, 0u);
}
} // namespace
