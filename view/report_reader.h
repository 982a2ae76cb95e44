// Reading the sample report that asioloop writes: the header of peaks, the
// column line, then one row per sample, every line ending in CR LF.
#pragma once

#include <cstdint>
#include <string>

#include "analysis.h"

enum class ReportStatus {
    read,       // the summary is filled in
    unusable,   // missing, unreadable or damaged; the error says which
    noInputs,   // well formed, but the device had no input to report
};

// Reads the report at path and analyses it with the given window and rate.
ReportStatus readReport(const std::string& path, int64_t window, uint32_t rate, ReportSummary& summary,
                        std::string& error);
