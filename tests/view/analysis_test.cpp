// The viewer's analysis on small synthetic reports: where it puts the peak,
// the onset and the sub-sample estimate, how it measures the noise before
// the onset, which verdict it gives, and what it keeps for the plots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "report_reader.h"
#include "report_text.h"
#include "test_support.h"

namespace {

// Writes the report and reads it back through the real reader.
ReportSummary analyse(const std::string& text, int64_t window = 16, uint32_t rate = 48000) {
    TempFolder folder;
    const std::string path = folder.file("report.txt").string();
    std::ofstream(path, std::ios::binary) << text;
    ReportSummary summary;
    std::string error;
    EXPECT_EQ(readReport(path, window, rate, summary, error), ReportStatus::read) << error;
    return summary;
}

ChannelSummary analyseOne(const Column& column) {
    const ReportSummary summary = analyse(reportText({column}));
    return summary.channels.empty() ? ChannelSummary{} : summary.channels[0];
}

struct VerdictCase {
    const char* name;
    Column values;
    const char* verdict;
    int64_t position;
    int polarity;
    int64_t onset;
    bool hasRatio;
};

void PrintTo(const VerdictCase& c, std::ostream* out) {
    *out << c.name;
}

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Verdicts, FollowFromThePeakAndTheNoise) {
    const VerdictCase& c = GetParam();
    const ChannelSummary channel = analyseOne(c.values);
    EXPECT_EQ(channel.verdict, c.verdict);
    EXPECT_EQ(channel.position, c.position);
    EXPECT_EQ(channel.polarity, c.polarity);
    EXPECT_EQ(channel.onset, c.onset);
    EXPECT_EQ(channel.hasRatio, c.hasRatio);
}

INSTANTIATE_TEST_SUITE_P(
    View, Verdicts,
    ::testing::Values(
        VerdictCase{"cleanImpulse", with(noise(200, 30), 120, {30000}), "ok", 120, 1, 120, true},
        VerdictCase{"invertedImpulse", with(noise(200, 30), 120, {-30000}), "inverted", 120, -1, 120, true},
        // One full-scale sample is what a clean loopback of the test pattern gives.
        VerdictCase{"singleFullScaleIsClean", with(noise(200, 30), 120, {32767}), "ok", 120, 1, 120, true},
        VerdictCase{"clippedRun", with(noise(200, 30), 120, {20000, 32767, 32767, 20000}), "clipped", 121, 1, 120,
                    true},
        // The first peak is clipped-negative; the run that holds it clips.
        VerdictCase{"clippedAcrossSigns", with(noise(200, 30), 120, {32767, -32768}), "clipped", 121, -1, 120, true},
        // Full-scale samples in a later run do not make this one clip.
        VerdictCase{"clipElsewhereIsNotThisRun", with(with(noise(200, 30), 150, {32767, 0, 32767}), 120, {-32768}),
                    "inverted", 120, -1, 120, true},
        // Clipping outranks polarity and noise.
        VerdictCase{"clippedAndInverted", with(noise(200, 30), 120, {-32768, -32768}), "clipped", 120, -1, 120, true},
        VerdictCase{"buriedInNoise", with(noise(200, 3000), 120, {15000}), "weak", 120, 1, 120, true},
        VerdictCase{"weakOutranksInverted", with(noise(200, 3000), 120, {-15000}), "weak", 120, -1, 120, true},
        VerdictCase{"silence", Column(50, 0), "silent", -1, 0, -1, false},
        // The first of equal magnitudes is the peak, whatever its sign.
        VerdictCase{"equalMagnitudesOppositeSigns", with(noise(200, 30), 50, {-9000, 0, 0, 9000}), "inverted", 50, -1,
                    50, true},
        // No sample before the onset: no ratio, so not weak.
        VerdictCase{"peakInFirstSample", with(noise(40, 3000), 0, {9000}), "ok", 0, 1, 0, false},
        VerdictCase{"peakInLastSample", with(noise(40, 30), 39, {9000}), "ok", 39, 1, 39, true},
        // A floor of exactly zero gives no ratio either.
        VerdictCase{"silentBeforeTheOnset", with(Column(40, 0), 10, {100, 5}), "ok", 10, 1, 10, false}),
    [](const ::testing::TestParamInfo<VerdictCase>& test) { return std::string(test.param.name); });

TEST(ViewAnalysis, OnsetIsTheStartOfTheRunAboveHalfThePeak) {
    // 9000 is under half of 20000, so the rise starts at 16000; 10000 is
    // exactly half and does not break it.
    Column values = with(Column(100, 0), 60, {4000, 9000, 16000, 10000, 20000, 3000});
    values = with(values, 10, {-6, 8});
    const ChannelSummary channel = analyseOne(values);
    EXPECT_EQ(channel.position, 64);
    EXPECT_EQ(channel.onset, 62);
    // The noise floor is the RMS of samples 0 to 61 only.
    const double rms = std::sqrt((36.0 + 64.0 + 4000.0 * 4000.0 + 9000.0 * 9000.0) / 62.0);
    EXPECT_DOUBLE_EQ(channel.noiseRms, rms);
    EXPECT_DOUBLE_EQ(channel.peakToNoiseDb, 20 * std::log10(20000 / rms));
}

TEST(ViewAnalysis, SubsampleFollowsTheHeavierNeighbour) {
    // A parabola through 10000, 20000, 15000 peaks one sixth of a sample late.
    EXPECT_NEAR(analyseOne(with(Column(30, 0), 10, {10000, 20000, 15000})).subsample, 11 + 1.0 / 6, 1e-12);
    EXPECT_NEAR(analyseOne(with(Column(30, 0), 10, {15000, 20000, -10000})).subsample, 11 - 1.0 / 6, 1e-12);
    EXPECT_DOUBLE_EQ(analyseOne(with(Column(30, 0), 10, {0, 20000, 0})).subsample, 11.0);
    // With a neighbour missing there is nothing to fit.
    EXPECT_DOUBLE_EQ(analyseOne(with(Column(30, 0), 0, {20000, 15000})).subsample, 0.0);
    EXPECT_DOUBLE_EQ(analyseOne(with(Column(30, 0), 28, {15000, 20000})).subsample, 29.0);
}

TEST(ViewAnalysis, LatencyInMillisecondsFollowsTheRate) {
    const std::string text = reportText({with(Column(600, 0), 441, {100})});
    EXPECT_DOUBLE_EQ(analyse(text, 16, 44100).channels[0].latencyMs, 10.0);
    EXPECT_DOUBLE_EQ(analyse(text, 16, 48000).channels[0].latencyMs, 9.1875);
}

TEST(ViewAnalysis, ColumnsAreAnalysedEachOnItsOwn) {
    const ReportSummary summary =
        analyse(reportText({with(noise(300, 30), 120, {30000}), Column(300, 0), with(noise(300, 30), 250, {-26000})}));
    ASSERT_EQ(summary.channels.size(), 3u);
    EXPECT_EQ(summary.rows, 300);
    EXPECT_EQ(summary.channels[0].position, 120);
    EXPECT_EQ(summary.channels[1].verdict, "silent");
    EXPECT_EQ(summary.channels[2].position, 250);
    EXPECT_EQ(summary.channels[2].verdict, "inverted");
    for (int k = 0; k < 3; ++k) EXPECT_EQ(summary.channels[static_cast<size_t>(k)].input, k);
}

TEST(ViewAnalysis, WindowIsCutAtTheEdgesOfTheRun) {
    const Column values = with(noise(100, 30), 5, {9000});
    const ChannelSummary early = analyse(reportText({values}), 10).channels[0];
    EXPECT_EQ(early.windowStart, 0);
    EXPECT_EQ(early.window, std::vector<int16_t>(values.begin(), values.begin() + 16));

    const ChannelSummary late = analyse(reportText({with(noise(100, 30), 95, {9000})}), 10).channels[0];
    EXPECT_EQ(late.windowStart, 85);
    EXPECT_EQ(late.window.size(), 15u);
    EXPECT_EQ(late.window[10], 9000);
}

TEST(ViewAnalysis, OverviewStaysSmallAndKeepsEveryExtreme) {
    // Long enough to be halved more than once, and not a multiple of a bucket.
    const size_t rows = 3 * kOverviewBuckets + 5;
    Column values = with(noise(rows, 30), 7000, {31000});
    values = with(values, rows - 1, {-29000});
    const ReportSummary summary = analyse(reportText({values}));
    const ChannelSummary& channel = summary.channels[0];
    ASSERT_EQ(summary.bucketSize, 4);
    ASSERT_EQ(channel.overviewMin.size(), (rows + 3) / 4);
    ASSERT_EQ(channel.overviewMax.size(), channel.overviewMin.size());
    // Each pair is the true extreme of its stretch of samples.
    for (size_t b = 0; b < channel.overviewMin.size(); ++b) {
        const auto first = values.begin() + static_cast<std::ptrdiff_t>(4 * b);
        const auto last = values.begin() + static_cast<std::ptrdiff_t>(std::min(rows, 4 * b + 4));
        ASSERT_EQ(channel.overviewMin[b], *std::min_element(first, last)) << b;
        ASSERT_EQ(channel.overviewMax[b], *std::max_element(first, last)) << b;
    }
}

}  // namespace
