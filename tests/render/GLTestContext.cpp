#include "GLTestContext.h"

#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "LogStream.h"
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
