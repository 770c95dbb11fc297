#include "ByteStream.h"
#include "VVertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

std::vector<uint8_t> bytesOf(const VVertex& v) {
    ByteWriter out;
    v.write(out);
    return out.data();
}

VKeyFrameVertex threeKeys() { return VKeyFrameVertex({{{0, 0, 0}, 1}, {{2, 4, 6}, 2}, {{2, 0, 6}, 4}}); }
} // namespace

// Key frames interpolate between keys and hold the end keys outside them;
// fewer than two keys make a static path.
TEST(VVertexPath, EvaluatesAtEveryTime) {
    struct Case {
        const char* what;
        std::shared_ptr<const VVertex> path;
        bool isStatic;
        std::vector<std::pair<float, Vec3f>> values; // time, point
    };
    const Case cases[] = {
        {"three keys", std::make_shared<VKeyFrameVertex>(threeKeys()), false,
         {{0, {0, 0, 0}}, {1, {0, 0, 0}}, {1.5f, {1, 2, 3}}, {2, {2, 4, 6}}, {3, {2, 2, 6}}, {9, {2, 0, 6}},
          {kNaN, {0, 0, 0}}}}, // NaN: the first key
        {"no keys", std::make_shared<VKeyFrameVertex>(), true, {{3, {0, 0, 0}}}},
        {"one key", std::make_shared<VKeyFrameVertex>(std::vector<VKeyFrameVertex::Key>{{{1, 2, 3}, 5}}), true,
         {{0, {1, 2, 3}}, {10, {1, 2, 3}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.path->isStatic(), c.isStatic);
        for (const auto& [t, p] : c.values) EXPECT_EQ(c.path->evaluate(t), p) << "t = " << t;
    }
    // Many keys: each midpoint falls in its own interval.
    std::vector<VKeyFrameVertex::Key> keys;
    for (int i = 0; i < 1000; ++i) keys.push_back({{float(i * i), 0, 0}, float(i)});
    VKeyFrameVertex v(keys);
    for (int i = 0; i < 999; ++i) EXPECT_FLOAT_EQ(v.evaluate(i + 0.5f).x, (i * i + (i + 1) * (i + 1)) * 0.5f) << i;
}

TEST(VVertexPath, TransformsApplyToEveryKeyAndCloneIsDeep) {
    VStaticVertex s({1, 2, 3});
    VKeyFrameVertex k = threeKeys();
    auto copy = k.clone();
    for (VVertex* v : {static_cast<VVertex*>(&s), static_cast<VVertex*>(&k)}) {
        v->scale(2);
        v->translate({1, 1, 1});
        v->negate();
    }
    EXPECT_EQ(s.evaluate(0), Vec3f(-3, -5, -7));
    EXPECT_EQ((std::vector{k.evaluate(1), k.evaluate(2), k.evaluate(4)}),
              (std::vector<Vec3f>{{-1, -1, -1}, {-5, -9, -13}, {-5, -1, -13}}));
    EXPECT_EQ(copy->evaluate(2), Vec3f(2, 4, 6));
}

// Both kinds, and a key-frame path without keys, read back to what writes
// the same bytes.
TEST(VVertexFile, RoundTripsAndGoldenBytes) {
    const VStaticVertex point({1.5f, -2, 3});
    const VKeyFrameVertex keys = threeKeys(), noKeys;
    for (const VVertex* original : std::initializer_list<const VVertex*>{&point, &keys, &noKeys}) {
        const std::vector<uint8_t> bytes = bytesOf(*original);
        ByteReader in(bytes.data(), bytes.size());
        std::string error;
        const std::unique_ptr<VVertex> back = VVertex::readPath(in, error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(in.remaining(), 0u);
        EXPECT_EQ(bytesOf(*back), bytes);
    }
    // Little-endian without gaps: type, key count, x = 1.0f, y, z, t = 2.0f.
    const std::vector<uint8_t> expected = {2, 1, 0, 0, 0, 0x80, 0x3f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40};
    EXPECT_EQ(bytesOf(VKeyFrameVertex({{{1, 0, 0}, 2}})), expected);
}

TEST(VVertexFile, BadInputIsRefusedWithAReason) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string error; // a part of the message
    };
    std::vector<Case> cases = {
        {"unknown type", {3, 0, 0, 0, 0}, "unknown path type 3"},
        // Infinity fails the same comparison as a finite value beyond the limit.
        {"NaN", bytesOf(VStaticVertex({0, kNaN, 0})), "finite"},
        {"too large", bytesOf(VStaticVertex({0, 1e19f, 0})), "finite"},
        {"key-frame point", bytesOf(VKeyFrameVertex({{{0, 0, 0}, 0}, {{0, 0, kNaN}, 1}})), "finite"},
        {"key-frame time", bytesOf(VKeyFrameVertex({{{0, 0, 0}, 0}, {{0, 0, 0}, kInf}})), "finite"},
    };
    const std::vector<uint8_t> whole = bytesOf(threeKeys());
    for (size_t size = 0; size < whole.size(); ++size)
        cases.push_back({"truncated", std::vector<uint8_t>(whole.begin(), whole.begin() + long(size)), "unexpected end of file"});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(c.bytes.size()) + " bytes");
        ByteReader in(c.bytes.data(), c.bytes.size());
        std::string error;
        EXPECT_FALSE(VVertex::readPath(in, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}
