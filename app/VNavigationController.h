#pragma once
// Turns the view's keyboard and mouse input into movement of the free
// camera: keys set movement flags, a held button turns the camera by the
// mouse's movement since the last event.

#include "VFreeCamera.h"

#include <Qt>

class VNavigationController {
  public:
    enum Movement { Forward = 1, Left = 2, Backward = 4, Right = 8, Up = 16, Down = 32, Record = 64 };

    // The camera the input moves (not owned; null: input is only recorded).
    void setCamera(VFreeCamera* camera) { mCamera = camera; }
    VFreeCamera* camera() const { return mCamera; }

    // The movement flag of a key, 0 for keys that do not navigate.
    static int movementOfKey(int key);
    // False for keys that do not navigate (the caller passes them on).
    bool keyPress(int key, bool shift);
    bool keyRelease(int key, bool shift);
    void mousePress(Qt::MouseButton button, int x, int y);
    void mouseMove(int x, int y);
    void mouseRelease(Qt::MouseButton button);

    // The two camera update operations after an event: the camera's input
    // step, then the recording toggle; the mouse difference is used up.
    void updateCamera();
    // Toggled by key R; the path recorder reads it.
    bool recordingRequested() const { return mRecording; }
    int movementFlags() const { return mFlags; }

  private:
    VFreeCamera* mCamera = nullptr;
    int mFlags = 0;
    bool mShift = false, mRecording = false;
    Qt::MouseButtons mButtons = Qt::NoButton;
    int mLastX = 0, mLastY = 0, mDx = 0, mDy = 0;
};
