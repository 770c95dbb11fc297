#include "GLTestContext.h"

#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "GLCoverageMeasure.h"
#include "HierarchyCreation.h"
#include "LogStream.h"
#include "SideFileStep.h"
#include "SphereHierarchy.h"
#include "TestFiles.h"
#include "VShader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {
std::string gLoaderOutput;

class GLEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        // A forked child would share the driver's threads' state: death tests
        // run the program again instead, which sets up its own context.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        ASSERT_TRUE(mContext.create()) << mContext.lastError();
        std::ostringstream out;
        setLogOut(&out);
        setLogErr(&out);
        initExtensions();
        initExtensions(); // a second call must be harmless
        setLogOut(nullptr);
        setLogErr(nullptr);
        gLoaderOutput = out.str();
        setShaderRoot(MORVA_SHADER_ROOT);
    }
    void TearDown() override { mContext.destroy(); }

  private:
    GLHeadlessContext mContext;
};

const bool gRegistered = [] {
    ::testing::AddGlobalTestEnvironment(new GLEnvironment);
    return true;
}();
} // namespace

const std::string& loaderOutput() { return gLoaderOutput; }

::testing::AssertionResult readSphereWithImpostors(VLODObject3D& object, const std::string& name) {
    const std::string path = tempPath(name);
    VLODObject3D sphere;
    makeSphereHierarchy(sphere, {2, 1, true});
    if (!sphere.write(path)) return ::testing::AssertionFailure() << "cannot write " << path;
    if (!object.read(path)) return ::testing::AssertionFailure() << object.lastError();
    SideFileReport report;
    std::string error;
    if (!setUpImpostorsAndSideFiles(object, report, error)) return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult buildDragonHierarchy(const std::string& mesh, const std::string& name,
                                                uint32_t minPatchSize, std::string& path) {
    CapturedLog quiet;
    GLCoverageMeasure measure;
    VLODObject3DCreator creator;
    CreationSettings settings;
    settings.replaceExisting = true;
    settings.minPatchSize = minPatchSize;
    CreationSummary summary;
    std::string error;
    path = tempPath(name);
    const bool built = createHierarchyFile(std::string(MORVA_DRAGON_DIR) + "/" + mesh, path, settings, creator,
                                           measure, summary, error);
    measure.release();
    if (built) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error;
}
