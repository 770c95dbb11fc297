#include "VFreeCamera.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kRadians = M_PI / 180;
// Braking decays the speed exponentially; below this it counts as standing.
constexpr double kStandingSpeed = 1e-3;
} // namespace

void VFreeCamera::place(const Vec3d& position, double headingDegrees, double pitchDegrees) {
    mPosition = position;
    mHeading = headingDegrees;
    mPitch = std::clamp(pitchDegrees, -90.0, 90.0);
}

void VFreeCamera::lookAlong(const Vec3d& direction) {
    const Vec3d d = normalizeOrZ(direction);
    mHeading = std::atan2(d.x, -d.z) / kRadians;
    mPitch = std::asin(std::clamp(-d.y, -1.0, 1.0)) / kRadians;
}

void VFreeCamera::stop() {
    mVelocity = mAcceleration = mPreviousDirection = Vec3d(0, 0, 0);
    mSpeed = 0;
}

Vec3d VFreeCamera::direction() const {
    const double h = mHeading * kRadians, p = mPitch * kRadians;
    return {std::sin(h) * std::cos(p), -std::sin(p), -std::cos(h) * std::cos(p)};
}

Vec3d VFreeCamera::right() const {
    const double h = mHeading * kRadians;
    return {std::cos(h), 0, std::sin(h)};
}

// Perpendicular to direction and right for every pitch, ±90 included.
Vec3d VFreeCamera::up() const {
    const double h = mHeading * kRadians, p = mPitch * kRadians;
    return {std::sin(h) * std::sin(p), std::cos(p), -std::cos(h) * std::sin(p)};
}

VCameraPose VFreeCamera::pose() const {
    VCameraPose pose;
    pose.position = mPosition;
    pose.direction = direction();
    pose.up = up();
    return pose;
}

void VFreeCamera::applyInput(double mouseDx, double mouseDy, bool buttonHeld, int movementFlags, bool shift) {
    if (buttonHeld) {
        mHeading += 0.5 * mouseDx;
        mPitch = std::clamp(mPitch + 0.25 * mouseDy, -90.0, 90.0);
    }
    Vec3d d(0, 0, 0);
    if (movementFlags & 1) d += direction();
    if (movementFlags & 4) d += -direction();
    if (movementFlags & 8) d += right();
    if (movementFlags & 2) d += -right();
    const double accelerationFactor = shift ? 2.0 : 0.0;
    if (dot(d, d) == 0) {
        mAcceleration = mVelocity * -10.0;
    } else if (dot(d, mPreviousDirection) >= 0) {
        if (mSpeed == 0) mSpeed = kDefaultSpeed;
        const Vec3d unit = normalizeOrZ(d);
        mVelocity = unit * mSpeed;
        mAcceleration = unit * accelerationFactor;
    } else {
        stop();
    }
    mPreviousDirection = d;
}

void VFreeCamera::advance(double seconds) {
    if (seconds <= 0) return;
    const Vec3d before = mVelocity;
    mPosition += mVelocity * seconds + mAcceleration * (0.5 * seconds * seconds);
    mVelocity += mAcceleration * seconds;
    // Braking must end standing, not swing the camera back.
    const bool braking = dot(mAcceleration, before) < 0;
    if (braking && (dot(mVelocity, before) <= 0 || length(mVelocity) < kStandingSpeed)) {
        mVelocity = mAcceleration = Vec3d(0, 0, 0);
        mSpeed = 0;
    } else if (!braking) {
        mSpeed = length(mVelocity); // a key pressed while braking resumes the cruising speed
    }
}

VFreeCamera VFreeCamera::extrapolated(double seconds) const {
    VFreeCamera next = *this;
    next.advance(seconds);
    return next;
}
