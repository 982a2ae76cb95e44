// The analysis of one sample report: each input's peak as the report states
// it, checked against the rows, and what follows from it (latency, onset,
// sub-sample position, noise floor, verdict), plus what the page plots. The
// rows are taken one at a time, so a report of any length needs memory only
// for the plotted window and the overview.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Magnitudes at or above this are full scale.
constexpr int32_t kFullScale = 32767;
// Peak-to-noise ratios under this many dB make a channel weak.
constexpr double kWeakBelowDb = 20.0;
// The overview keeps between half this many and this many min/max pairs.
constexpr size_t kOverviewBuckets = 4096;

// What one input column turned out to hold.
struct ChannelSummary {
    int input = 0;
    int32_t peak = 0;        // the largest magnitude
    int64_t position = -1;   // where it first occurs; -1 when silent
    int polarity = 0;        // sign of the value there: 1, -1, or 0 when silent
    bool silent = true;
    double latencyMs = 0;    // position in milliseconds
    int64_t onset = -1;      // start of the peak's rise
    double subsample = 0;    // parabolic estimate of the peak's position
    double noiseRms = 0;     // RMS of the samples before the onset
    bool hasRatio = false;   // whether peakToNoiseDb means anything
    double peakToNoiseDb = 0;
    std::string verdict;     // silent, clipped, weak, inverted or ok

    // For the page: the values around the peak, and the overview envelope.
    int64_t windowStart = 0;
    std::vector<int16_t> window;
    std::vector<int16_t> overviewMin;
    std::vector<int16_t> overviewMax;
};

// The running state of one column while the rows go by.
struct ChannelScan {
    int32_t headerPeak = 0;
    int64_t headerPosition = -1;

    int32_t maxMagnitude = 0;  // what the rows really hold, to check the header
    int64_t maxPosition = -1;
    int16_t peakValue = 0;

    // The current run of samples at or above half the header's peak.
    bool inRun = false;
    int64_t runStart = 0;
    uint64_t squaresBeforeRun = 0;
    int fullScaleStreak = 0;
    bool runClipped = false;

    uint64_t squares = 0;      // sum of squared values so far
    bool peakReached = false;
    bool peakRunOver = false;  // the run that holds the peak has ended
    bool clipped = false;
    int64_t onset = -1;
    uint64_t noiseSquares = 0;
    int32_t magnitudeBefore = -1;  // neighbours of the peak; -1 where there is none
    int32_t magnitudeAfter = -1;
    int32_t previousMagnitude = -1;

    int64_t windowStart = 0;
    std::vector<int16_t> window;

    std::vector<int16_t> overviewMin;
    std::vector<int16_t> overviewMax;
    int16_t bucketMin = 0;
    int16_t bucketMax = 0;
};

struct ReportScan {
    int64_t window = 0;  // samples plotted each side of a peak
    int64_t rows = 0;
    int64_t bucketSize = 1;  // samples per overview pair
    int64_t inBucket = 0;
    std::vector<ChannelScan> channels;
};

struct ReportSummary {
    int64_t rows = 0;
    int64_t bucketSize = 1;
    std::vector<ChannelSummary> channels;
};

// Starts a scan of columns whose header states these peaks.
void startScan(ReportScan& scan, const std::vector<int32_t>& peaks, const std::vector<int64_t>& positions,
               int64_t window);

// Takes the next row: one value per column.
void scanRow(ReportScan& scan, const int16_t* values);

// Completes the analysis. Fails, with the reason, when a column's peak in
// the header is not what its rows hold.
bool finishScan(ReportScan& scan, uint32_t rate, ReportSummary& summary, std::string& error);
