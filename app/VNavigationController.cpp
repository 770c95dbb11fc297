#include "VNavigationController.h"

int VNavigationController::movementOfKey(int key) {
    switch (key) {
    case Qt::Key_W: case Qt::Key_Up: return Forward;
    case Qt::Key_A: case Qt::Key_Left: return Left;
    case Qt::Key_S: case Qt::Key_Down: return Backward;
    case Qt::Key_D: case Qt::Key_Right: return Right;
    case Qt::Key_Q: case Qt::Key_PageUp: return Up;
    case Qt::Key_E: case Qt::Key_PageDown: return Down;
    case Qt::Key_R: return Record;
    default: return 0;
    }
}

bool VNavigationController::keyPress(int key, bool shift) {
    mShift = shift;
    const int flag = movementOfKey(key);
    mFlags |= flag;
    return flag != 0;
}

bool VNavigationController::keyRelease(int key, bool shift) {
    mShift = shift;
    const int flag = movementOfKey(key);
    mFlags &= ~flag;
    return flag != 0;
}

void VNavigationController::mousePress(Qt::MouseButton button, int x, int y) {
    if (button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton) mButtons |= button;
    mLastX = x;
    mLastY = y;
}

void VNavigationController::mouseMove(int x, int y) {
    mDx += x - mLastX;
    mDy += y - mLastY;
    mLastX = x;
    mLastY = y;
}

void VNavigationController::mouseRelease(Qt::MouseButton button) { mButtons &= ~Qt::MouseButtons(button); }

void VNavigationController::updateCamera() {
    if (mCamera) mCamera->applyInput(mDx, mDy, mButtons != Qt::NoButton, mFlags, mShift);
    mDx = mDy = 0;
    // Recording toggles once per press of R, not per event while it is held.
    if (mFlags & Record) {
        mRecording = !mRecording;
        mFlags &= ~Record;
    }
}
