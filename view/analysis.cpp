// The per-column analysis of a sample report, done in one pass over the
// rows. The header names each peak before the rows come, which is what lets
// the onset, the noise before it and the window around it be found without
// keeping the rows; the header is checked against the rows at the end.
#include "analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void startScan(ReportScan& scan, const std::vector<int32_t>& peaks, const std::vector<int64_t>& positions,
               int64_t window) {
    scan = ReportScan{};
    scan.window = window;
    scan.channels.resize(peaks.size());
    for (size_t k = 0; k < peaks.size(); ++k) {
        ChannelScan& channel = scan.channels[k];
        channel.headerPeak = peaks[k];
        channel.headerPosition = positions[k];
        channel.windowStart = positions[k] > window ? positions[k] - window : 0;
    }
}

namespace {

void closeBucket(ChannelScan& channel) {
    channel.overviewMin.push_back(channel.bucketMin);
    channel.overviewMax.push_back(channel.bucketMax);
}

// Halves the overview: each pair of neighbouring buckets becomes one.
void mergeBuckets(ChannelScan& channel) {
    const size_t half = channel.overviewMin.size() / 2;
    for (size_t k = 0; k < half; ++k) {
        channel.overviewMin[k] = std::min(channel.overviewMin[2 * k], channel.overviewMin[2 * k + 1]);
        channel.overviewMax[k] = std::max(channel.overviewMax[2 * k], channel.overviewMax[2 * k + 1]);
    }
    channel.overviewMin.resize(half);
    channel.overviewMax.resize(half);
}

void scanValue(ChannelScan& channel, int64_t row, int16_t value, int64_t window) {
    const int32_t magnitude = std::abs(static_cast<int32_t>(value));
    if (magnitude > channel.maxMagnitude) {
        channel.maxMagnitude = magnitude;
        channel.maxPosition = row;
    }

    // Runs are measured against the header's peak; if that peak is wrong the
    // report is refused at the end, so nothing measured here is used.
    const bool inRise = channel.headerPeak > 0 && 2 * magnitude >= channel.headerPeak;
    if (inRise) {
        if (!channel.inRun) {
            channel.inRun = true;
            channel.runStart = row;
            channel.squaresBeforeRun = channel.squares;
            channel.fullScaleStreak = 0;
            channel.runClipped = false;
        }
        channel.fullScaleStreak = magnitude >= kFullScale ? channel.fullScaleStreak + 1 : 0;
        if (channel.fullScaleStreak > 1) channel.runClipped = true;
    } else {
        channel.inRun = false;
        if (channel.peakReached) channel.peakRunOver = true;
    }
    channel.squares += static_cast<uint64_t>(magnitude) * static_cast<uint64_t>(magnitude);

    if (row == channel.headerPosition) {
        channel.peakReached = true;
        channel.peakValue = value;
        channel.onset = channel.runStart;
        channel.noiseSquares = channel.squaresBeforeRun;
        channel.magnitudeBefore = channel.previousMagnitude;
    } else if (row == channel.headerPosition + 1) {
        channel.magnitudeAfter = magnitude;
    }
    // Clipping after the peak still belongs to the peak's run until it ends.
    if (channel.peakReached && !channel.peakRunOver) channel.clipped = channel.runClipped;
    channel.previousMagnitude = magnitude;

    if (channel.headerPosition >= 0 && row >= channel.windowStart && row <= channel.headerPosition + window)
        channel.window.push_back(value);

    if (channel.bucketMin > value) channel.bucketMin = value;
    if (channel.bucketMax < value) channel.bucketMax = value;
}

}  // namespace

void scanRow(ReportScan& scan, const int16_t* values) {
    const bool bucketStarts = scan.inBucket == 0;
    for (size_t k = 0; k < scan.channels.size(); ++k) {
        ChannelScan& channel = scan.channels[k];
        if (bucketStarts) channel.bucketMin = channel.bucketMax = values[k];
        scanValue(channel, scan.rows, values[k], scan.window);
    }
    ++scan.rows;
    if (++scan.inBucket < scan.bucketSize) return;
    scan.inBucket = 0;
    for (ChannelScan& channel : scan.channels) closeBucket(channel);
    if (!scan.channels.empty() && scan.channels[0].overviewMin.size() >= kOverviewBuckets) {
        for (ChannelScan& channel : scan.channels) mergeBuckets(channel);
        scan.bucketSize *= 2;
    }
}

namespace {

// The peak's position refined by a parabola through the magnitudes of the
// peak and its two neighbours. The peak is the first largest magnitude, so
// the one before is strictly smaller and the parabola opens downwards.
double subsamplePeak(const ChannelScan& channel) {
    const double position = static_cast<double>(channel.headerPosition);
    if (channel.magnitudeBefore < 0 || channel.magnitudeAfter < 0) return position;
    const double before = channel.magnitudeBefore;
    const double peak = channel.headerPeak;
    const double after = channel.magnitudeAfter;
    return position + 0.5 * (before - after) / (before - 2 * peak + after);
}

const char* verdictOf(const ChannelSummary& summary, bool clipped) {
    if (summary.silent) return "silent";
    if (clipped) return "clipped";
    if (summary.hasRatio && summary.peakToNoiseDb < kWeakBelowDb) return "weak";
    if (summary.polarity < 0) return "inverted";
    return "ok";
}

}  // namespace

bool finishScan(ReportScan& scan, uint32_t rate, ReportSummary& summary, std::string& error) {
    if (scan.inBucket > 0)
        for (ChannelScan& channel : scan.channels) closeBucket(channel);
    scan.inBucket = 0;

    summary = ReportSummary{};
    summary.rows = scan.rows;
    summary.bucketSize = scan.bucketSize;
    for (size_t k = 0; k < scan.channels.size(); ++k) {
        ChannelScan& channel = scan.channels[k];
        if (channel.maxMagnitude != channel.headerPeak || channel.maxPosition != channel.headerPosition) {
            error = "input " + std::to_string(k) + ": the header gives peak " + std::to_string(channel.headerPeak) +
                    " at sample " + std::to_string(channel.headerPosition) + " but the rows hold " +
                    std::to_string(channel.maxMagnitude) + " at sample " + std::to_string(channel.maxPosition);
            return false;
        }

        ChannelSummary result;
        result.input = static_cast<int>(k);
        result.peak = channel.headerPeak;
        result.position = channel.headerPosition;
        result.silent = channel.headerPeak == 0;
        if (!result.silent) {
            result.polarity = channel.peakValue > 0 ? 1 : -1;
            result.latencyMs = static_cast<double>(result.position) * 1000.0 / rate;
            result.onset = channel.onset;
            result.subsample = subsamplePeak(channel);
            if (channel.onset > 0) {
                result.noiseRms = std::sqrt(static_cast<double>(channel.noiseSquares) / static_cast<double>(channel.onset));
                if (channel.noiseSquares > 0) {
                    result.hasRatio = true;
                    result.peakToNoiseDb = 20.0 * std::log10(result.peak / result.noiseRms);
                }
            }
        }
        result.verdict = verdictOf(result, channel.clipped);
        result.windowStart = channel.windowStart;
        result.window = std::move(channel.window);
        result.overviewMin = std::move(channel.overviewMin);
        result.overviewMax = std::move(channel.overviewMax);
        summary.channels.push_back(std::move(result));
    }
    return true;
}
