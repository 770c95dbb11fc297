// The viewer's own window on a built hierarchy (side files beside it), 800x800
// under a real or virtual X server: how long opening takes until the first
// frame is on screen, the frame time of the paint loop at 1 pixel with the
// eye at distance 5 on +z (a view `morva bench` sweeps through), and the
// paint loop's frame time with nothing to draw.
//
//   morva_viewer_bench FILE.mvh [benchmark options]

#include "SilencedLog.h"
#include "VGLWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <string>

namespace {
constexpr int kSize = 800;
std::string gHierarchy;
std::unique_ptr<VGLWidget> gView;

VGLWidget& view() {
    if (!gView) {
        gView = std::make_unique<VGLWidget>();
        gView->resize(kSize, kSize);
        gView->show();
        if (!QTest::qWaitForWindowExposed(gView.get())) std::cerr << "the window was never shown\n";
    }
    return *gView;
}

void BM_OpenUntilFirstFrame(benchmark::State& state) {
    VGLWidget& v = view();
    for (auto _ : state) {
        SilencedLog silenced;
        std::string error;
        if (!v.openHierarchy(gHierarchy, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        v.repaint();
    }
}
BENCHMARK(BM_OpenUntilFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

// Runs the paint loop as fast as it goes and times frames as the window
// receives them, so composition and the buffer swap are included.
void timePaintLoop(benchmark::State& state, VGLWidget& v) {
    int frames = 0;
    double drawnMs = 0;
    const auto connection = QObject::connect(&v, &QOpenGLWidget::frameSwapped, [&] {
        ++frames;
        drawnMs += v.lastFrame().selectMs + v.lastFrame().drawMs;
    });
    SilencedLog silenced;
    v.setPaintLoop(true);
    QTest::qWait(1000); // the texture cache fills and the cut settles
    double drawnTotal = 0;
    int framesTotal = 0;
    for (auto _ : state) {
        frames = 0;
        drawnMs = 0;
        QElapsedTimer clock;
        clock.start();
        while (frames < 20) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        state.SetIterationTime(double(clock.nsecsElapsed()) * 1e-9 / frames);
        drawnTotal += drawnMs;
        framesTotal += frames;
    }
    v.setPaintLoop(false);
    QObject::disconnect(connection);
    // The object's selection and the submission of its drawing, on the CPU.
    state.counters["object_cpu_ms"] = drawnTotal / std::max(framesTotal, 1);
    state.counters["triangles"] = double(v.lastFrame().triangles);
    state.counters["impostors"] = double(v.lastFrame().impostors);
}

void BM_PaintLoopFrame(benchmark::State& state) {
    VGLWidget& v = view();
    std::string error;
    if (!v.hasObject() && !v.openHierarchy(gHierarchy, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    v.setCamera({0, 0, 5}, {0, 0, 0}, {0, 1, 0});
    v.setErrorPixels(1);
    timePaintLoop(state, v);
}
BENCHMARK(BM_PaintLoopFrame)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseManualTime();

// The floor: a window of the same size with nothing to draw (clear, the
// frame-rate text, composition and swap).
void BM_EmptyPaintLoopFrame(benchmark::State& state) {
    VGLWidget empty;
    empty.resize(kSize, kSize);
    empty.show();
    if (!QTest::qWaitForWindowExposed(&empty)) {
        state.SkipWithError("the window was never shown");
        return;
    }
    timePaintLoop(state, empty);
}
BENCHMARK(BM_EmptyPaintLoopFrame)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseManualTime();
} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        std::cerr << "usage: morva_viewer_bench FILE.mvh [benchmark options]\n";
        return 2;
    }
    gHierarchy = argv[1];
    argv[1] = argv[0];
    --argc;
    ++argv;
    VGLWidget::prepareApplication();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    gView.reset();
    benchmark::Shutdown();
    return 0;
}
