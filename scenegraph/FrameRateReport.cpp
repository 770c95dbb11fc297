#include "FrameRateReport.h"

#include "FileBytes.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

FrameRateStatistics frameRateStatistics(std::span<const float> values) {
    FrameRateStatistics s;
    s.count = values.size();
    for (float x : values) s.sum += x;
    if (s.count == 0) return s;
    s.hasMean = true;
    s.mean = s.sum / double(s.count);
    if (s.count > 1) {
        double squares = 0;
        for (float x : values) squares += (x - s.mean) * (x - s.mean);
        s.deviation = std::sqrt(squares / double(s.count - 1));
        s.hasDeviation = true;
    }
    std::vector<float> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    const size_t odd = s.count % 2;
    s.minimum = sorted.front();
    s.maximum = sorted.back();
    s.median = sorted[(s.count + odd) / 2 - odd];
    return s;
}

void writeFrameRateReport(std::ostream& out, std::span<const float> values) {
    const FrameRateStatistics s = frameRateStatistics(values);
    auto either = [&out](bool known, auto value) -> std::ostream& {
        if (known) out << value;
        else out << "n/a";
        return out;
    };
    out << "Anzahl(n): " << s.count << "\n" << "Summe: " << s.sum << "\n";
    out << "Durchschnitt: ";
    either(s.hasMean, float(s.mean)) << "\n";
    out << "Standardabweichung: ";
    either(s.hasDeviation, float(s.deviation)) << "\n";
    out << "Minimum: ";
    either(s.hasMean, s.minimum) << "\n";
    out << "Median: ";
    either(s.hasMean, s.median) << "\n";
    out << "Maximum: ";
    either(s.hasMean, s.maximum) << "\n";
    out << "Values: \n";
    for (float x : values) out << x << "\n";
}

bool writeFrameRateReportFile(const std::string& path, std::span<const float> values, std::string& error) {
    std::ostringstream out;
    writeFrameRateReport(out, values);
    return writeFileAtomically(path, out.str(), error);
}
