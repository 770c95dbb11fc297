// Camera paths: the file keeps every digit and refuses what is not a whole
// path without touching the one in memory; the tracer interpolates between
// entries and wraps with repeat; the replay's report has the right
// statistics, and says "n/a" where a short run has none.

#include "FrameRateReport.h"
#include "TestFiles.h"
#include "VPathTracer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

namespace {
VWalkPath twoEntryPath() {
    VWalkPath path;
    path.entries.push_back({0.0, 2.0, {0, 0, 10}, {0, 0, -1}, {0, 1, 0}});
    path.entries.push_back({0.1 + 1e-13, 2.0, {1.0 / 3, 0, 8}, {1, 0, 0}, {0, 1, 0}});
    return path;
}

std::string reportOf(std::vector<float> values) {
    std::ostringstream out;
    writeFrameRateReport(out, values);
    return out.str();
}

TEST(FrameRateReport, StatisticsOfTheReplaysFrames) {
    const FrameRateStatistics four = frameRateStatistics(std::vector<float>{10, 20, 40, 30});
    EXPECT_EQ(four.sum, 100);
    EXPECT_EQ(four.mean, 25);
    EXPECT_DOUBLE_EQ(four.deviation, std::sqrt(500.0 / 3));
    EXPECT_EQ(four.minimum, 10);
    EXPECT_EQ(four.median, 30); // the upper middle value, not an average
    EXPECT_EQ(four.maximum, 40);
    const FrameRateStatistics three = frameRateStatistics(std::vector<float>{5, 1, 3});
    EXPECT_EQ(three.median, 3);
    EXPECT_DOUBLE_EQ(three.deviation, 2);

    EXPECT_NE(reportOf({10, 20, 40, 30}).find("Standardabweichung: 12.9099\n"), std::string::npos);
    struct Short {
        std::vector<float> values;
        const char* expected;
    };
    const Short runs[] = {
        {{}, "Anzahl(n): 0\nSumme: 0\nDurchschnitt: n/a\nStandardabweichung: n/a\nMinimum: n/a\nMedian: n/a\nMaximum: n/a\nValues: \n"},
        {{7}, "Anzahl(n): 1\nSumme: 7\nDurchschnitt: 7\nStandardabweichung: n/a\nMinimum: 7\nMedian: 7\nMaximum: 7\nValues: \n7\n"},
    };
    for (const Short& run : runs) EXPECT_EQ(reportOf(run.values), run.expected);
}

TEST(CameraPath, TheFileKeepsEveryDigitAndRefusalsKeepThePathInMemory) {
    VWalkPath saved = twoEntryPath();
    saved.repeat = true;
    saved.referenceOrientation[3] = 0.5; // row 0, column 1
    const std::string file = tempPath("path.txt");
    ASSERT_TRUE(saved.save(file));
    VWalkPath loaded;
    std::string error;
    ASSERT_TRUE(loaded.load(file, error)) << error;
    EXPECT_TRUE(loaded.repeat);
    EXPECT_EQ(loaded.referenceOrientation[3], 0.5);
    ASSERT_EQ(loaded.entries.size(), 2u);
    EXPECT_EQ(loaded.entries[1].time, saved.entries[1].time);
    EXPECT_EQ(loaded.entries[1].position, saved.entries[1].position);

    // A six-digit file reads; cut short, with a count it does not hold, or
    // with another first line, it is refused and the path stays.
    const std::vector<uint8_t> bytes = readBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    const std::string sixDigits = "VWalkPath\nRepeat?:\nfalse\nreference orientation:\n1 0 0\n0 1 0\n0 0 1\n"
                                  "number of entries:\n1\nentries:\n---------------\n0\n2\n0.333333 0 8\n0 0 -1\n0 1 0\n";
    const std::string refused[] = {text.substr(0, text.size() - 10),
                                   sixDigits.substr(0, sixDigits.find("1\nentries")) + "4000000000\nentries:\n",
                                   "VSceneGraph\n" + sixDigits.substr(10)};
    for (const std::string& bad : refused) {
        writeBytes(file, std::vector<uint8_t>(bad.begin(), bad.end()));
        EXPECT_FALSE(loaded.load(file, error));
        EXPECT_EQ(loaded.entries.size(), 2u) << error;
    }
    writeBytes(file, std::vector<uint8_t>(sixDigits.begin(), sixDigits.end()));
    ASSERT_TRUE(loaded.load(file, error)) << error;
    EXPECT_FALSE(loaded.repeat);
    EXPECT_FLOAT_EQ(float(loaded.entries[0].position.x), 0.333333f);
}

TEST(CameraPath, TheTracerInterpolatesAndWrapsWithRepeat) {
    VWalkPath path = twoEntryPath();
    VPathTracer tracer(path);
    const VCameraPose half = tracer.pose(0.05);
    EXPECT_NEAR(half.position.x, 1.0 / 6, 1e-9);
    EXPECT_NEAR(half.position.z, 9, 1e-9);
    EXPECT_NEAR(length(half.direction), 1, 1e-12);
    EXPECT_NEAR(half.direction.x, std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(dot(half.direction, half.up), 0, 1e-12);
    EXPECT_EQ(tracer.pose(5).position, path.entries[1].position);
    EXPECT_TRUE(tracer.finished(0.2));
    path.repeat = true;
    EXPECT_FALSE(tracer.finished(0.2));
    EXPECT_NEAR(tracer.pose(0.15).position.z, 9, 1e-6); // 0.05 into the second pass
}
} // namespace
