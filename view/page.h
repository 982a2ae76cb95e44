// The two outputs of an analysis: the JSON summary and the self-contained
// HTML page with its plots.
#pragma once

#include <cstdint>
#include <string>

#include "analysis.h"

// The version of the JSON summary's layout.
constexpr int kSummaryVersion = 1;

std::string summaryJson(const std::string& reportPath, uint32_t rate, const ReportSummary& summary);

std::string pageHtml(const std::string& reportPath, uint32_t rate, const ReportSummary& summary);
