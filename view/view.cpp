// The viewer's command line and the order of its work: read and analyse the
// report, then write the page and its summary, or nothing.
#include "view.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <iostream>

#include "files.h"
#include "output.h"
#include "page.h"
#include "report_reader.h"

namespace {

constexpr uint32_t kDefaultRate = 48000;
constexpr int64_t kDefaultWindow = 1024;
constexpr uint32_t kLargestRate = 10000000;
constexpr int64_t kLargestWindow = 1000000;

struct Options {
    uint32_t rate = kDefaultRate;
    int64_t window = kDefaultWindow;
    std::string page;    // empty: beside the report
    std::string report;  // empty: where the program writes it
    bool help = false;
};

void printHelp() {
    std::cout << "Usage: asioloop-view [--rate HZ] [--window N] [--out PAGE] [REPORT]\n"
                 "\n"
                 "Reads asioloop's sample report and writes an HTML page that plots each input\n"
                 "around its peak and over the whole run, with its latency, onset, noise floor\n"
                 "and a verdict, and beside the page a JSON summary of the same figures (the\n"
                 "page's name with .json). The page needs nothing but a browser.\n"
                 "\n"
                 "  REPORT       the sample report ["
              << defaultReportPath()
              << "]\n"
                 "  --rate HZ    the sample rate, for milliseconds [48000]\n"
                 "  --window N   samples shown on each side of a peak [1024]\n"
                 "  --out PAGE   the page to write [the report's name with .html]\n"
                 "  --help       this text\n"
                 "\n"
                 "Exit status: 0 written, 1 missing or damaged report, 2 wrong command line,\n"
                 "3 a report without input columns, 4 the outputs could not be written.\n"
                 "Nothing is written unless the status is 0.\n";
}

template <typename Number>
bool readWhole(const std::string& text, Number smallest, Number largest, Number& value) {
    const char* end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && value >= smallest && value <= largest;
}

bool parseCommandLine(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    bool optionsOver = false;
    for (size_t k = 0; k < arguments.size(); ++k) {
        std::string argument = arguments[k];
        if (optionsOver || argument.size() < 2 || argument[0] != '-') {
            if (!options.report.empty()) {
                error = "more than one report named: " + options.report + " and " + argument;
                return false;
            }
            if (argument.empty()) {
                error = "an empty report name";
                return false;
            }
            options.report = argument;
            continue;
        }
        if (argument == "--") {
            optionsOver = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        // Both "--rate 44100" and "--rate=44100".
        std::string value;
        bool hasValue = false;
        const size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
            hasValue = true;
        }
        if (argument != "--rate" && argument != "--window" && argument != "--out") {
            error = "unknown option " + argument;
            return false;
        }
        if (!hasValue) {
            if (k + 1 == arguments.size()) {
                error = argument + " needs a value";
                return false;
            }
            value = arguments[++k];
        }
        if (argument == "--rate" && !readWhole<uint32_t>(value, 1, kLargestRate, options.rate)) {
            error = "--rate takes a whole number of Hz from 1 to " + std::to_string(kLargestRate) + ", not '" + value + "'";
            return false;
        }
        if (argument == "--window" && !readWhole<int64_t>(value, 1, kLargestWindow, options.window)) {
            error = "--window takes a whole number of samples from 1 to " + std::to_string(kLargestWindow) + ", not '" +
                    value + "'";
            return false;
        }
        if (argument == "--out") {
            if (value.empty()) {
                error = "--out needs a file name";
                return false;
            }
            options.page = value;
        }
    }
    return true;
}

}  // namespace

int runView(const std::vector<std::string>& arguments) {
    Options options;
    std::string error;
    if (!parseCommandLine(arguments, options, error)) {
        std::cerr << "asioloop-view: " << error << " (see asioloop-view --help)" << std::endl;
        return kExitBadCommand;
    }
    if (options.help) {
        printHelp();
        return kExitWritten;
    }
    if (options.report.empty()) options.report = defaultReportPath();
    if (options.page.empty()) options.page = std::filesystem::path(options.report).replace_extension(".html").string();
    const std::string jsonPath = std::filesystem::path(options.page).replace_extension(".json").string();
    if (jsonPath == options.page) {
        std::cerr << "asioloop-view: the page " << options.page << " would be overwritten by its own summary"
                  << std::endl;
        return kExitBadCommand;
    }

    ReportSummary summary;
    switch (readReport(options.report, options.window, options.rate, summary, error)) {
        case ReportStatus::read:
            break;
        case ReportStatus::unusable:
            std::cerr << "asioloop-view: " << error << std::endl;
            return kExitBadReport;
        case ReportStatus::noInputs:
            std::cerr << "asioloop-view: " << error << std::endl;
            return kExitNoInputs;
    }

    const std::string page = pageHtml(options.report, options.rate, summary);
    const std::string json = summaryJson(options.report, options.rate, summary);
    if (!writeOutputs(options.page, page, jsonPath, json, error)) {
        std::cerr << "asioloop-view: " << error << std::endl;
        return kExitNotWritten;
    }
    std::cout << "Wrote " << options.page << " and " << jsonPath << std::endl;
    return kExitWritten;
}
