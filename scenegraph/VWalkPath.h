#pragma once
// A recorded camera flight: one entry per frame drawn while recording, with
// the frame's time since the recording began, the camera's speed, and its
// position, viewing direction and up direction. Replaying shows the entries
// one per frame, so a replay draws the same views in the same number of
// frames on every machine, whatever the frame rate was when recording.
//
// The path file is text: the class-name line "VWalkPath", the repeat flag,
// a reference orientation (3x3, column-major, written row by row), the
// entry count and the entries. Doubles are written with every digit they
// need; files with fewer digits still read.

#include "VSerializable.h"
#include "Vec3.h"

#include <string>
#include <vector>

struct VWalkPathEntry {
    double time = 0;  // seconds since the recording began
    double speed = 0; // the camera's speed, units per second
    Vec3d position, direction, up;
};

class VWalkPath : public VSerializable {
  public:
    static constexpr const char* kClassName = "VWalkPath";
    static constexpr const char* kFileName = "Test_camera_path.txt";

    bool repeat = false; // a replay starts over at the end
    double referenceOrientation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::vector<VWalkPathEntry> entries;

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << kClassName << "\n"; }
    // The contents after the class-name line. Reads into this path: callers
    // that must keep a path on failure read into a fresh one.
    void read(std::istream& in, bool& ok) override;

    // The whole file. save: false when it cannot be written. load: false,
    // with the reason, when the file cannot be opened, does not start with
    // the class-name line or is not whole; this path is then unchanged.
    bool save(const std::string& fileName) const;
    bool load(const std::string& fileName, std::string& error);
    // The same from a stream holding a whole file.
    bool load(std::istream& in, std::string& error);
};
