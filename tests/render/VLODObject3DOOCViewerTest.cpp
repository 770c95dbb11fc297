// A sphere hierarchy prepared for buffer drawing: what lands on the card is
// the object's geometry, corner by corner; the billboards are sorted so that
// the root comes last and every child points at its parent's data; the copy
// of the graph selects the same cut as the object.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "QuantizedNormal.h"
#include "TestFiles.h"
#include "VLODObject3DOOCViewer.h"

#include <gtest/gtest.h>

#include <cfloat>

namespace {
std::vector<float> bufferContents(const VLODObject3DOOCViewer& viewer, VLODObject3DOOCViewer::Buffer b, size_t floats) {
    std::vector<float> data(floats);
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, viewer.buffer(b));
    ext::glGetBufferSubDataARB(GL_ARRAY_BUFFER_ARB, 0, GLsizeiptrARB(floats * sizeof(float)), data.data());
    ext::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    return data;
}

class PreparedSphere : public ::testing::Test {
  protected:
    void SetUp() override {
        loaderOutput();
        ASSERT_TRUE(readSphereWithImpostors(mObject, "prepared.mvh"));
        ASSERT_GT(mObject.mImpostorTree.inum(), 1u);
    }
    CapturedLog mLog;
    VLODObject3D mObject;
};

TEST_F(PreparedSphere, TheBuffersHoldEveryCornerOfTheObject) {
    VLODObject3DOOCViewer viewer;
    std::string error;
    ASSERT_TRUE(viewer.setUp(mObject, mObject.mImpostorTree, error)) << error;
    ASSERT_TRUE(viewer.hasBuffers());
    ASSERT_EQ(viewer.vertexCount(), 3 * uint64_t(mObject.tnum()));
    EXPECT_TRUE(viewer.vertices().empty()) << "the client copy goes once the card has it";
    const size_t floats = 4 * viewer.vertexCount();
    const std::vector<float> positions = bufferContents(viewer, VLODObject3DOOCViewer::kPositions, floats);
    const std::vector<float> normals = bufferContents(viewer, VLODObject3DOOCViewer::kNormals, floats);
    const std::vector<float> colours = bufferContents(viewer, VLODObject3DOOCViewer::kColours, floats);
    for (uint32_t t = 0; t < mObject.tnum(); ++t)
        for (int c = 0; c < 3; ++c) {
            const size_t at = 4 * (3 * size_t(t) + size_t(c));
            const uint32_t v = mObject.tarray[t].v[c];
            const Vec3f p = mObject.varray[v].path->evaluate(0);
            const Vec3f& n = dequantizeNormal(mObject.varray[v].normal);
            ASSERT_EQ(std::vector<float>(positions.begin() + long(at), positions.begin() + long(at) + 4),
                      (std::vector<float>{p.x, p.y, p.z, 1}))
                << "triangle " << t << " corner " << c;
            ASSERT_EQ(std::vector<float>(normals.begin() + long(at), normals.begin() + long(at) + 3),
                      (std::vector<float>{n.x, n.y, n.z}));
            ASSERT_EQ(colours[at + 1], VLODObject3DOOCViewer::kPatchColour[1]);
        }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(PreparedSphere, BillboardsAreSortedByTheirParentsDepthWithTheirParentsData) {
    VLODObject3DOOCViewer viewer;
    std::string error;
    ASSERT_TRUE(viewer.setUp(mObject, mObject.mImpostorTree, error)) << error;
    const std::vector<Billboard>& billboards = viewer.billboards();
    const ImpostorTree& tree = mObject.mImpostorTree;
    ASSERT_EQ(billboards.size(), tree.inum());
    EXPECT_EQ(billboards.back().original, tree.root) << "the root has no parent: it comes last";
    EXPECT_EQ(billboards.back().parentDepth, FLT_MAX);
    const uint32_t B = viewer.billboardCount();
    const std::vector<float> lod2 = bufferContents(viewer, VLODObject3DOOCViewer::kLodInfo2, 16 * size_t(B));
    for (uint32_t k = 0; k < B; ++k) {
        const Billboard& b = billboards[k];
        if (k > 0) {
            EXPECT_LE(billboards[k - 1].parentDepth, b.parentDepth) << k;
        }
        EXPECT_EQ(viewer.sortedPosition()[b.original], k);
        // Children renumbered into the sorted order point back at this billboard.
        for (uint32_t child : b.impostor.children) {
            if (child < B) {
                EXPECT_EQ(billboards[child].impostor.parent, k);
            }
        }
        const float expectedParentDepth = b.impostor.parent < B ? billboards[b.impostor.parent].impostor.depth : FLT_MAX;
        EXPECT_EQ(b.parentDepth, expectedParentDepth);
        for (int corner = 0; corner < 4; ++corner) EXPECT_EQ(lod2[16 * k + 4 * size_t(corner) + 3], expectedParentDepth);
    }
}

// The copy the prepared representation keeps selects what the object does.
TEST_F(PreparedSphere, TheTraversalCopySelectsTheObjectsCut) {
    VLODObject3DOOCViewer viewer;
    std::string error;
    ASSERT_TRUE(viewer.setUp(mObject, mObject.mImpostorTree, error)) << error;
    CutRefinement refinement;
    for (float distance : {2.5f, 6.0f, 40.0f}) {
        SelectionView view;
        view.modelView[14] = -distance;
        view.P = 400 * 400;
        ImpostorSelection expected, actual;
        selectCut(mObject.mImpostorTree, view, false, 0, expected);
        refinement.refine(mObject, view, expected);
        viewer.selectCut(view, actual);
        EXPECT_EQ(actual.validImposters, expected.validImposters) << distance;
        EXPECT_EQ(actual.validArcs, expected.validArcs) << distance;
    }
}

// Without impostors the billboard buffers are empty; without buffer
// support the arrays stay in memory and are drawn from there.
TEST_F(PreparedSphere, NoImpostorsAndNoBufferSupport) {
    VLODObject3DOOCViewer viewer;
    std::string error;
    ASSERT_TRUE(viewer.setUp(mObject, ImpostorTree(), error)) << error;
    EXPECT_EQ(viewer.billboardCount(), 0u);
    EXPECT_TRUE(viewer.billboardArray(VLODObject3DOOCViewer::kLodInfo1).empty());

    const bool supported = vboSupported;
    vboSupported = false;
    VLODObject3DOOCViewer inMemory;
    EXPECT_FALSE(inMemory.setUp(mObject, mObject.mImpostorTree, error));
    vboSupported = supported;
    EXPECT_FALSE(inMemory.hasBuffers());
    EXPECT_EQ(inMemory.vertices().size(), 12 * inMemory.vertexCount());
    EXPECT_FALSE(error.empty());
}
} // namespace
