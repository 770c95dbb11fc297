#include "VVertex.h"

#include "ByteStream.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

// Coordinates beyond this would overflow the float32 spheres and cones
// computed from them; no real model comes near it.
constexpr float kCoordinateLimit = 1e18f;
const char* const kBadCoordinateMessage = "coordinate is not a finite number below 1e18";

bool isUsablePoint(const Vec3f& p) {
    return std::abs(p.x) < kCoordinateLimit && std::abs(p.y) < kCoordinateLimit &&
           std::abs(p.z) < kCoordinateLimit; // also false for NaN
}

namespace {
bool readPoint(ByteReader& in, Vec3f& p) { return in.f32(p.x) && in.f32(p.y) && in.f32(p.z); }

void widen(Vec3f& lo, Vec3f& hi, const Vec3f& p) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

void startBox(Vec3f& lo, Vec3f& hi) {
    const float big = std::numeric_limits<float>::max();
    lo = {big, big, big};
    hi = {-big, -big, -big};
}
} // namespace

std::unique_ptr<VVertex> VVertex::readPath(ByteReader& in, std::string& error) {
    uint8_t type = 0;
    if (!in.u8(type)) {
        error = "unexpected end of file";
        return nullptr;
    }
    std::unique_ptr<VVertex> path;
    if (type == StaticType)
        path = std::make_unique<VStaticVertex>();
    else if (type == KeyFrameType)
        path = std::make_unique<VKeyFrameVertex>();
    else {
        error = "unknown path type " + std::to_string(type);
        return nullptr;
    }
    if (!path->read(in, error)) return nullptr;
    return path;
}

void VStaticVertex::write(ByteWriter& out) const {
    out.u8(StaticType);
    out.f32(mPoint.x);
    out.f32(mPoint.y);
    out.f32(mPoint.z);
}

void VStaticVertex::boundingBox(Vec3f& lo, Vec3f& hi) const {
    startBox(lo, hi);
    widen(lo, hi, mPoint);
}

bool VStaticVertex::read(ByteReader& in, std::string& error) {
    if (!readPoint(in, mPoint)) {
        error = "unexpected end of file";
        return false;
    }
    if (!isUsablePoint(mPoint)) {
        error = kBadCoordinateMessage;
        return false;
    }
    return true;
}

Vec3f VKeyFrameVertex::evaluate(float time) const {
    if (mKeys.empty()) return {0, 0, 0};
    if (!(time > mKeys.front().t)) return mKeys.front().p; // also for a NaN time
    if (time >= mKeys.back().t) return mKeys.back().p;
    auto after = std::upper_bound(mKeys.begin(), mKeys.end(), time,
                                  [](float t, const Key& k) { return t < k.t; });
    const Key& k1 = *after;
    const Key& k0 = *(after - 1);
    float span = k1.t - k0.t;
    float w = span > 0 ? (time - k0.t) / span : 0.0f;
    return k0.p + (k1.p - k0.p) * w;
}

void VKeyFrameVertex::scale(float factor) {
    for (Key& k : mKeys) k.p = k.p * factor;
}

void VKeyFrameVertex::translate(const Vec3f& offset) {
    for (Key& k : mKeys) k.p += offset;
}

void VKeyFrameVertex::negate() {
    for (Key& k : mKeys) k.p = -k.p;
}

void VKeyFrameVertex::write(ByteWriter& out) const {
    assert(mKeys.size() < 65536 && "key count fits 16 bits");
    out.u8(KeyFrameType);
    out.u16(uint16_t(mKeys.size()));
    for (const Key& k : mKeys) {
        out.f32(k.p.x);
        out.f32(k.p.y);
        out.f32(k.p.z);
        out.f32(k.t);
    }
}

void VKeyFrameVertex::boundingBox(Vec3f& lo, Vec3f& hi) const {
    startBox(lo, hi);
    for (const Key& k : mKeys) widen(lo, hi, k.p);
}

bool VKeyFrameVertex::read(ByteReader& in, std::string& error) {
    uint16_t count = 0;
    if (!in.u16(count) || !in.canHold(count, 16)) {
        error = "unexpected end of file";
        return false;
    }
    mKeys.resize(count);
    for (Key& k : mKeys) {
        readPoint(in, k.p);
        in.f32(k.t);
        if (!isUsablePoint(k.p) || !std::isfinite(k.t)) {
            error = kBadCoordinateMessage;
            return false;
        }
    }
    return true;
}
