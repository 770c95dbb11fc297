#pragma once
// Recording and replaying a camera path. The recorder appends the camera of
// every frame drawn while it records; the tracer places a camera at any time
// of the path, between two entries by linear interpolation of the position
// and normalised interpolation of the two directions, so that a replay moves
// as smoothly as its frame rate allows whatever the recording's was.

#include "VTraversalContext.h"
#include "VWalkPath.h"

class VPathRecorder {
  public:
    // Starts a new path (the old entries go) at the given clock time.
    void start(VWalkPath& path, double clockSeconds);
    void stop() { mPath = nullptr; }
    bool recording() const { return mPath != nullptr; }
    // Appends the camera of the frame drawn at the clock time.
    void record(double clockSeconds, double speed, const VCameraPose& camera);

  private:
    VWalkPath* mPath = nullptr;
    double mStart = 0;
};

class VPathTracer {
  public:
    explicit VPathTracer(const VWalkPath& path) : mPath(path) {}
    // From the first entry's time to the last's; 0 for fewer than two entries.
    double duration() const;
    // After the path's end: with repeat it starts over, else never.
    bool finished(double seconds) const;
    // The camera at the seconds since the replay began: before the first
    // entry and after the last (without repeat) the camera of that entry.
    // A path without entries gives the default camera.
    VCameraPose pose(double seconds) const;

  private:
    const VWalkPath& mPath;
};
