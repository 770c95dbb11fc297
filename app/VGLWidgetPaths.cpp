// The view's camera-path slots: saving and loading the path, the measured
// replay with its statistics file, and the frame-by-frame test replay.

#include "FrameRateReport.h"
#include "FailureMessage.h"
#include "LogStream.h"
#include "VGLWidget.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <iostream>

void VGLWidget::savePath() {
    if (!mPath.save(VWalkPath::kFileName))
        showFailure(this, tr("Cannot write the camera path to %1 in %2.").arg(VWalkPath::kFileName, QDir::currentPath()));
}

void VGLWidget::loadPath() {
    std::string error;
    const bool loaded = mPath.load(VWalkPath::kFileName, error);
    std::cerr << "Loaded Path: " << (loaded ? "succesful" : "unsuccesful") << std::endl;
    if (!loaded) showFailure(this, tr("Cannot load the camera path: %1").arg(QString::fromStdString(error)));
}

bool VGLWidget::canReplay() {
    if (mPath.entries.size() >= 2) return true;
    showFailure(this, tr("There is no camera path to replay: record one (key R in the view) or press \"Load Path\"."));
    return false;
}

double VGLWidget::replayFrame(const VCameraPose& camera) {
    mReplayCamera = camera;
    const double before = secondsSinceStart();
    repaint();
    // The window keeps up with the system meanwhile; the user's input waits.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return secondsSinceStart() - before;
}

void VGLWidget::traceRecordedPath() {
    if (!canReplay()) return;
    const bool looping = paintLoop;
    paintLoop = false; // the replay draws its own frames
    VWalkPath once = mPath;
    once.repeat = false; // a measured replay covers the path once
    const VPathTracer tracer(once);
    mReplayRates.clear();
    const double start = secondsSinceStart();
    for (double t = 0; !tracer.finished(t); t = secondsSinceStart() - start) {
        const double seconds = replayFrame(tracer.pose(t));
        if (seconds <= 0) continue; // a clock too coarse to time it has no rate
        mReplayRates.push_back(float(1 / seconds));
        fpsText = QString::number(mReplayRates.back(), 'g', 6) + " fps";
        emit fpsCalculated(fpsText);
    }
    mReplayCamera.reset();
    std::string error;
    if (!writeFrameRateReportFile("TestPathFPS.txt", mReplayRates, error))
        showFailure(this, tr("Cannot write the frame rates: %1").arg(QString::fromStdString(error)));
    setPaintLoop(looping);
    repaintUnlessLooping();
}

void VGLWidget::createTestOutput() {
    if (!canReplay()) return;
    const bool looping = paintLoop;
    paintLoop = false;
    std::vector<double> frameMs;
    for (size_t k = 0; k < mPath.entries.size(); ++k) {
        const VWalkPathEntry& e = mPath.entries[k];
        frameMs.push_back(replayFrame({e.position, e.direction, e.up}) * 1000);
        logOut() << "frame " << k << ": " << frameMs.back() << " ms, " << mStatistics.triangles << " triangles, "
                 << mStatistics.billboards << " impostors\n";
    }
    mReplayCamera.reset();
    std::nth_element(frameMs.begin(), frameMs.begin() + frameMs.size() / 2, frameMs.end());
    logOut() << "test replay: " << mPath.entries.size() << " frames, median " << frameMs[frameMs.size() / 2]
             << " ms\n";
    testQuant(&logOut());
    setPaintLoop(looping);
    repaintUnlessLooping();
}

void VGLWidget::testQuant(std::ostream* out) {
    auto truncated = [](float v) { return uint16_t(uint32_t(v)); };
    auto mapped = [](uint32_t i) { return float(i) * 1.5259021893143654e-05f; }; // i / 65535
    uint32_t sameMapped = 0, sameDirect = 0, changed = 0;
    for (uint32_t i = 0; i < 32768; ++i) {
        sameMapped += truncated(mapped(i) * 65536) == truncated(mapped(i + 1) * 65536);
        sameDirect += truncated(float(i)) == truncated(float(i + 1));
    }
    for (uint32_t i = 0; i <= 32768; ++i) changed += truncated(mapped(i) * 65536) != i;
    *out << "Test 1 (als Int gespeichert, zu [0,1] gemappt): " << sameMapped << "\n"
         << "Test 2 (als Float gespeichert, direkt geladen): " << sameDirect << "\n"
         << "Abweichende Cluster-Werte: " << changed << "\n";
}
