#pragma once
// The headless replay of a camera path: one frame per recorded entry, so a
// run shows the same views on every machine. Writes the frame rates with
// their statistics to "TestPathFPS.txt" in the working directory, prints a
// summary, and can draw the run as a picture: frame time and triangles
// drawn along the path.

#include "VWalkPath.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

struct PathFrame {
    double milliseconds = 0; // selection and drawing, until the driver finished
    uint64_t triangles = 0, impostors = 0;
    double walkMilliseconds = -1; // a scene's walk through its tree with culling; -1: none
};

// Draws the entry's view and says what it took.
using PathFrameDrawer = std::function<PathFrame(const VWalkPathEntry& entry)>;

// The run; 0, or 1 after printing why (a report or plot that cannot be written).
int replayPath(const VWalkPath& path, const PathFrameDrawer& draw, const std::string& plotFile);

// Frame time (left axis) and triangles (right axis) over the frames.
QImage plotPathRun(std::span<const PathFrame> frames, int width = 900, int height = 420);
