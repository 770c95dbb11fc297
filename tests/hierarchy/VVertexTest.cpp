#include "ByteStream.h"
#include "VVertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
std::unique_ptr<VVertex> roundTrip(const VVertex& v, std::string& error) {
    ByteWriter out;
    v.write(out);
    ByteReader in(out.data().data(), out.data().size());
    auto back = VVertex::readPath(in, error);
    EXPECT_EQ(in.remaining(), 0u);
    return back;
}

VKeyFrameVertex threeKeys() { return VKeyFrameVertex({{{0, 0, 0}, 1}, {{2, 4, 6}, 2}, {{2, 0, 6}, 4}}); }
} // namespace

TEST(VStaticVertex, IsAPointAtEveryTime) {
    VStaticVertex v({1, 2, 3});
    EXPECT_EQ(v.evaluate(-5), Vec3f(1, 2, 3));
    EXPECT_EQ(v.evaluate(100), Vec3f(1, 2, 3));
    EXPECT_TRUE(v.isStatic());
    EXPECT_EQ(v.type(), VVertex::StaticType);
    v.scale(2);
    v.translate({1, 1, 1});
    v.negate();
    EXPECT_EQ(v.evaluate(0), Vec3f(-3, -5, -7));
    Vec3f lo, hi;
    v.boundingBox(lo, hi);
    EXPECT_EQ(lo, Vec3f(-3, -5, -7));
    EXPECT_EQ(hi, Vec3f(-3, -5, -7));
}

TEST(VKeyFrameVertex, InterpolatesBetweenKeysAndClampsOutside) {
    VKeyFrameVertex v = threeKeys();
    EXPECT_FALSE(v.isStatic());
    EXPECT_EQ(v.type(), VVertex::KeyFrameType);
    EXPECT_EQ(v.evaluate(0), Vec3f(0, 0, 0));
    EXPECT_EQ(v.evaluate(1), Vec3f(0, 0, 0));
    EXPECT_EQ(v.evaluate(1.5f), Vec3f(1, 2, 3));
    EXPECT_EQ(v.evaluate(2), Vec3f(2, 4, 6));
    EXPECT_EQ(v.evaluate(3), Vec3f(2, 2, 6));
    EXPECT_EQ(v.evaluate(9), Vec3f(2, 0, 6));
    EXPECT_EQ(v.evaluate(std::numeric_limits<float>::quiet_NaN()), Vec3f(0, 0, 0)); // the first key
}

TEST(VKeyFrameVertex, ManyKeysFindTheRightInterval) {
    std::vector<VKeyFrameVertex::Key> keys;
    for (int i = 0; i < 1000; ++i) keys.push_back({{float(i * i), 0, 0}, float(i)});
    VKeyFrameVertex v(keys);
    for (int i = 0; i < 999; ++i) EXPECT_FLOAT_EQ(v.evaluate(i + 0.5f).x, (i * i + (i + 1) * (i + 1)) * 0.5f) << i;
}

TEST(VKeyFrameVertex, EmptyAndSingleKeyPathsAreStatic) {
    VKeyFrameVertex empty;
    EXPECT_TRUE(empty.isStatic());
    EXPECT_EQ(empty.evaluate(3), Vec3f(0, 0, 0));
    VKeyFrameVertex one({{{1, 2, 3}, 5}});
    EXPECT_TRUE(one.isStatic());
    EXPECT_EQ(one.evaluate(0), Vec3f(1, 2, 3));
    EXPECT_EQ(one.evaluate(10), Vec3f(1, 2, 3));
}

TEST(VKeyFrameVertex, TransformsApplyToEveryKeyAndCloneIsDeep) {
    VKeyFrameVertex v = threeKeys();
    auto copy = v.clone();
    v.scale(0.5f);
    v.translate({0, 1, 0});
    v.negate();
    EXPECT_EQ(v.evaluate(2), Vec3f(-1, -3, -3));
    EXPECT_EQ(copy->evaluate(2), Vec3f(2, 4, 6));
    Vec3f lo, hi;
    v.boundingBox(lo, hi);
    EXPECT_EQ(lo, Vec3f(-1, -3, -3));
    EXPECT_EQ(hi, Vec3f(0, -1, 0));
}

TEST(VVertexFile, BothKindsRoundTrip) {
    std::string error;
    auto s = roundTrip(VStaticVertex({1.5f, -2, 3}), error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->type(), VVertex::StaticType);
    EXPECT_EQ(s->evaluate(0), Vec3f(1.5f, -2, 3));

    VKeyFrameVertex original = threeKeys();
    auto k = roundTrip(original, error);
    ASSERT_TRUE(k) << error;
    ASSERT_EQ(k->type(), VVertex::KeyFrameType);
    const auto& keys = static_cast<VKeyFrameVertex&>(*k).keys();
    ASSERT_EQ(keys.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(keys[i].p, original.keys()[i].p);
        EXPECT_EQ(keys[i].t, original.keys()[i].t);
    }

    auto empty = roundTrip(VKeyFrameVertex(), error);
    ASSERT_TRUE(empty) << error;
    EXPECT_EQ(empty->type(), VVertex::KeyFrameType);
    EXPECT_TRUE(empty->isStatic());
}

TEST(VVertexFile, EncodedBytesAreLittleEndianWithoutGaps) {
    ByteWriter out;
    VKeyFrameVertex({{{1, 0, 0}, 2}}).write(out);
    const std::vector<uint8_t> expected = {2,    1,    0,                   // type, key count
                                           0,    0,    0x80, 0x3f,          // x = 1.0f
                                           0,    0,    0,    0,    0, 0, 0, 0, // y, z
                                           0,    0,    0,    0x40};          // t = 2.0f
    EXPECT_EQ(out.data(), expected);
}

TEST(VVertexFile, BadInputIsRefusedWithAReason) {
    std::string error;
    const uint8_t badType[] = {3, 0, 0, 0, 0};
    ByteReader typeReader(badType, sizeof badType);
    EXPECT_FALSE(VVertex::readPath(typeReader, error));
    EXPECT_EQ(error, "unknown path type 3");

    ByteWriter out;
    threeKeys().write(out);
    for (size_t cut = 0; cut < out.data().size(); ++cut) {
        ByteReader in(out.data().data(), cut);
        EXPECT_FALSE(VVertex::readPath(in, error)) << cut;
        EXPECT_EQ(error, "unexpected end of file");
    }

    // A count claiming more keys than the data holds fails before allocating.
    const uint8_t hugeCount[] = {2, 0xff, 0xff, 0, 0};
    ByteReader countReader(hugeCount, sizeof hugeCount);
    EXPECT_FALSE(VVertex::readPath(countReader, error));

    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e19f}) {
        ByteWriter w;
        VStaticVertex({0, bad, 0}).write(w);
        ByteReader in(w.data().data(), w.data().size());
        EXPECT_FALSE(VVertex::readPath(in, error)) << bad;
        EXPECT_NE(error.find("finite"), std::string::npos);
    }
}
