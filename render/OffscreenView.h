#pragma once
// A hierarchy drawn as the view draws it, into a framebuffer of its own:
// the headless renderer of the command-line tool and the picture tests.
// Needs a current context with the view's shaders set up.

#include "HierarchyDrawing.h"
#include "OffscreenFramebuffer.h"
#include "VLODObject3D.h"
#include "Vec3.h"

#include <QImage>
#include <string>

class OffscreenView {
  public:
    OffscreenView() = default;
    OffscreenView(const OffscreenView&) = delete;
    OffscreenView& operator=(const OffscreenView&) = delete;
    ~OffscreenView();

    // Reads the hierarchy with its impostors and side files (making them
    // when missing), prepares what the geometry source needs, and a width x
    // height framebuffer; false with the reason. A source that cannot be
    // prepared is no failure: frames are drawn in immediate mode and
    // bufferProblem() says why.
    bool open(const std::string& path, int width, int height, std::string& error,
              GeometrySource geometry = GeometrySource::Buffers);
    const std::string& bufferProblem() const { return mBufferProblem; }
    double bufferSetUpMs() const { return mBufferSetUpMs; }
    const HierarchyDrawing& drawing() const { return mDrawing; }

    // One frame from eye towards centre on the view's background; the
    // near and far planes hug the object's bounding sphere.
    FrameCounts draw(const Vec3f& eye, const Vec3f& centre, const Vec3f& up, FrameSettings settings);

    // The framebuffer as an image, top row first.
    QImage picture() const;

    const VLODObject3D& object() const { return mObject; }

  private:
    void release();

    VLODObject3D mObject;
    HierarchyDrawing mDrawing;
    OffscreenFramebuffer mFramebuffer;
    std::string mBufferProblem;
    double mBufferSetUpMs = 0;
};
