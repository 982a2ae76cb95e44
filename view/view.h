// The viewer as a whole: its command line, the report, and the two outputs.
#pragma once

#include <string>
#include <vector>

// Exit statuses.
constexpr int kExitWritten = 0;
constexpr int kExitBadReport = 1;    // missing, unreadable or damaged report
constexpr int kExitBadCommand = 2;   // wrong command line
constexpr int kExitNoInputs = 3;     // the report has no input columns
constexpr int kExitNotWritten = 4;   // the outputs could not be written

// Runs the viewer with the arguments that follow the program's name. Help
// and progress go to standard output, a failure to one line on standard
// error.
int runView(const std::vector<std::string>& arguments);
