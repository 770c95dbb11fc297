#pragma once
// The statistics of a measured replay: the frame rates of its frames, their
// sum, mean, sample standard deviation, minimum, median and maximum, and the
// report file "TestPathFPS.txt" that lists them and every value.

#include <cstddef>
#include <ostream>
#include <span>
#include <string>

struct FrameRateStatistics {
    size_t count = 0;
    double sum = 0, mean = 0;
    double deviation = 0;   // the sample form (divisor n - 1)
    bool hasMean = false;   // at least one value
    bool hasDeviation = false; // at least two values
    float minimum = 0, median = 0, maximum = 0;
};

// The median is the middle value of the sorted values for an odd count and
// the upper of the two middle ones for an even count (no averaging).
FrameRateStatistics frameRateStatistics(std::span<const float> values);

// The report: the labelled statistics, then "Values: " and one value per
// line in frame order. What a run too short to have it lacks reads "n/a".
void writeFrameRateReport(std::ostream& out, std::span<const float> values);
// The report as a file, written whole and renamed into place; false with the
// reason.
bool writeFrameRateReportFile(const std::string& path, std::span<const float> values, std::string& error);
