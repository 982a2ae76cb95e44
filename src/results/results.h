// After the run: each input channel's peak, and the sample report.
#pragma once

#include <cstdint>

// The start value of the common length, kept when there is no input record.
constexpr uint32_t kLengthSentinel = 4000000000u;

struct PeakSummary {
    uint32_t commonLength;  // the fewest values any input record holds
    bool inputPresent;      // at least one input record is registered
};

// Finds, for every input record, the largest magnitude among its first
// commonLength values and the first position where it occurs.
PeakSummary analysePeaks();

// Writes c:\temp\ASIO PCM.txt: the peaks, then one row per position with
// every input's value. Line ends are CR LF on every platform. Prints a line
// only when the file opened but did not take every byte.
void writeSampleReport(uint32_t commonLength, bool inputPresent);
