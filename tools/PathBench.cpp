#include "PathBench.h"

#include "FrameRateReport.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

namespace {
template <typename T> T medianOf(std::vector<T> values) {
    if (values.empty()) return T{};
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// A polyline of one series over the plot area, scaled to its own maximum.
QPainterPath seriesPath(std::span<const PathFrame> frames, const QRectF& area, double top,
                        double (*value)(const PathFrame&)) {
    QPainterPath path;
    for (size_t k = 0; k < frames.size(); ++k) {
        const double x = area.left() + area.width() * double(k) / double(std::max<size_t>(frames.size() - 1, 1));
        const double y = area.bottom() - area.height() * value(frames[k]) / top;
        if (k == 0) path.moveTo(x, y);
        else path.lineTo(x, y);
    }
    return path;
}
} // namespace

int replayPath(const VWalkPath& path, const PathFrameDrawer& draw, const std::string& plotFile) {
    std::vector<PathFrame> frames;
    std::vector<float> rates;
    frames.reserve(path.entries.size());
    for (const VWalkPathEntry& entry : path.entries) {
        frames.push_back(draw(entry));
        if (frames.back().milliseconds > 0) rates.push_back(float(1000 / frames.back().milliseconds));
    }
    std::string error;
    if (!writeFrameRateReportFile("TestPathFPS.txt", rates, error)) {
        std::cerr << "morva: " << error << "\n";
        return 1;
    }
    std::vector<double> ms, walkMs;
    std::vector<uint64_t> triangles, impostors;
    for (const PathFrame& f : frames) {
        ms.push_back(f.milliseconds);
        triangles.push_back(f.triangles);
        impostors.push_back(f.impostors);
        if (f.walkMilliseconds >= 0) walkMs.push_back(f.walkMilliseconds);
    }
    std::cout << "frames: " << frames.size() << "\n"
              << "median frame ms: " << medianOf(ms) << "\n"
              << "median triangles: " << medianOf(triangles) << "\n"
              << "median impostors: " << medianOf(impostors) << "\n";
    if (!walkMs.empty()) std::cout << "median walk ms: " << medianOf(walkMs) << "\n";
    std::cout << "report: TestPathFPS.txt\n";
    if (plotFile.empty()) return 0;
    // Text needs Qt's font database, which needs an application object;
    // the tool has a screen of its own only in the viewer.
    std::unique_ptr<QGuiApplication> application;
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "morva";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    if (!plotPathRun(frames).save(QString::fromStdString(plotFile))) {
        std::cerr << "morva: cannot write " << plotFile << "\n";
        return 1;
    }
    std::cout << "plot: " << plotFile << "\n";
    return 0;
}

QImage plotPathRun(std::span<const PathFrame> frames, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(70, 30, width - 140, height - 80);
    double topMs = 1, topTriangles = 1;
    for (const PathFrame& f : frames) {
        topMs = std::max(topMs, f.milliseconds);
        topTriangles = std::max(topTriangles, double(f.triangles));
    }
    topMs *= 1.1;
    topTriangles *= 1.1;
    painter.setPen(QColor(200, 200, 200));
    for (int k = 0; k <= 4; ++k) painter.drawLine(area.left(), area.top() + area.height() * k / 4, area.right(), area.top() + area.height() * k / 4);
    painter.setPen(Qt::black);
    painter.drawRect(area);
    const QColor msColour(200, 40, 40), triangleColour(40, 90, 200);
    painter.setPen(QPen(triangleColour, 1.5));
    painter.drawPath(seriesPath(frames, area, topTriangles, [](const PathFrame& f) { return double(f.triangles); }));
    painter.setPen(QPen(msColour, 1.5));
    painter.drawPath(seriesPath(frames, area, topMs, [](const PathFrame& f) { return f.milliseconds; }));
    // Axis labels: frame time on the left, triangles on the right.
    for (int k = 0; k <= 4; ++k) {
        const double y = area.bottom() - area.height() * k / 4;
        painter.setPen(msColour);
        painter.drawText(QRectF(0, y - 8, area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(topMs * k / 4, 'f', 1));
        painter.setPen(triangleColour);
        painter.drawText(QRectF(area.right() + 6, y - 8, 70, 16), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::number(qint64(topTriangles * k / 4)));
    }
    painter.setPen(Qt::black);
    painter.drawText(QRectF(area.left(), area.bottom() + 6, area.width(), 20), Qt::AlignCenter,
                     QString("frame (%1 in all)").arg(frames.size()));
    painter.setPen(msColour);
    painter.drawText(QRectF(area.left(), 6, area.width() / 2, 20), Qt::AlignLeft, "frame time (ms)");
    painter.setPen(triangleColour);
    painter.drawText(QRectF(area.center().x(), 6, area.width() / 2, 20), Qt::AlignRight, "triangles drawn");
    return image;
}
