#pragma once
// A camera that flies freely: a position, a heading and a pitch (degrees),
// and a velocity with an acceleration integrated over each frame's time.
// Heading 0 and pitch 0 look down −z; a growing heading turns right, a
// growing pitch looks down (mouse moves down the screen).

#include "VTraversalContext.h"
#include "Vec3.h"

class VFreeCamera {
  public:
    // Units per second a standing camera starts with when a key moves it.
    static constexpr double kDefaultSpeed = 2.0;

    void place(const Vec3d& position, double headingDegrees = 0, double pitchDegrees = 0);
    // Turns the camera to look along the direction (up stays +y).
    void lookAlong(const Vec3d& direction);
    // Standing still, movement forgotten.
    void stop();

    // The input step: mouse difference (pixels, turns only while a button
    // is held), the movement flags (1 forward, 2 left, 4 backward, 8 right)
    // and the Shift state (accelerates).
    void applyInput(double mouseDx, double mouseDy, bool buttonHeld, int movementFlags, bool shift);
    // Moves the camera over the given seconds.
    void advance(double seconds);
    // Where the camera would be after the seconds, itself unchanged.
    VFreeCamera extrapolated(double seconds) const;

    const Vec3d& position() const { return mPosition; }
    double heading() const { return mHeading; }
    double pitch() const { return mPitch; }
    double speed() const { return mSpeed; }
    const Vec3d& velocity() const { return mVelocity; }
    Vec3d direction() const;
    Vec3d right() const;
    Vec3d up() const;
    VCameraPose pose() const;

  private:
    Vec3d mPosition{0, 0, 10};
    double mHeading = 0, mPitch = 0;
    Vec3d mVelocity{0, 0, 0}, mAcceleration{0, 0, 0};
    double mSpeed = 0;
    Vec3d mPreviousDirection{0, 0, 0};
};
