#include "VPathTracer.h"

#include <algorithm>
#include <cmath>

void VPathRecorder::start(VWalkPath& path, double clockSeconds) {
    path.entries.clear();
    mPath = &path;
    mStart = clockSeconds;
}

void VPathRecorder::record(double clockSeconds, double speed, const VCameraPose& camera) {
    if (!mPath) return;
    mPath->entries.push_back({clockSeconds - mStart, speed, camera.position, camera.direction, camera.up});
}

double VPathTracer::duration() const {
    const auto& e = mPath.entries;
    return e.size() < 2 ? 0.0 : e.back().time - e.front().time;
}

bool VPathTracer::finished(double seconds) const {
    return !mPath.repeat && seconds > duration();
}

VCameraPose VPathTracer::pose(double seconds) const {
    const auto& e = mPath.entries;
    if (e.empty()) return VCameraPose{};
    const double length = duration();
    if (mPath.repeat && length > 0) seconds = std::fmod(std::max(seconds, 0.0), length);
    const double t = e.front().time + seconds;
    // The first entry later than t; the camera lies between it and the one before.
    const auto later = std::upper_bound(e.begin(), e.end(), t, [](double time, const VWalkPathEntry& entry) {
        return time < entry.time;
    });
    if (later == e.begin()) return {e.front().position, e.front().direction, e.front().up};
    if (later == e.end()) return {e.back().position, e.back().direction, e.back().up};
    const VWalkPathEntry& a = *(later - 1);
    const VWalkPathEntry& b = *later;
    const double span = b.time - a.time;
    const double w = span > 0 ? (t - a.time) / span : 0.0;
    VCameraPose camera;
    camera.position = a.position * (1 - w) + b.position * w;
    camera.direction = normalizeOrZ(a.direction * (1 - w) + b.direction * w);
    // Up made perpendicular to the direction again after blending.
    const Vec3d up = a.up * (1 - w) + b.up * w;
    camera.up = normalizeOrZ(up - camera.direction * dot(up, camera.direction));
    return camera;
}
