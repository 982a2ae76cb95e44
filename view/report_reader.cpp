// The reader of the sample report. It insists on the exact layout the
// program writes, so a truncated or edited report is refused with the line
// where it goes wrong instead of being plotted as something it is not.
#include "report_reader.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// No line the program writes comes near this; a longer one is not a report.
constexpr size_t kLongestLine = 1 << 20;

// Hands out the file's lines without their CR LF, reading in large blocks.
struct LineReader {
    std::FILE* file = nullptr;
    std::vector<char> block = std::vector<char>(1 << 20);
    size_t begin = 0;
    size_t end = 0;
    bool failed = false;     // a read error, as opposed to the end
    std::string line;
    int64_t number = 0;      // of the line last read, from 1

    enum Result { gotLine, atEnd, unterminated, tooLong };

    Result next() {
        line.clear();
        for (;;) {
            if (begin == end) {
                end = std::fread(block.data(), 1, block.size(), file);
                begin = 0;
                if (end == 0) {
                    failed = std::ferror(file) != 0;
                    if (line.empty()) return atEnd;
                    ++number;
                    return unterminated;
                }
            }
            const char* start = block.data() + begin;
            const void* newline = std::memchr(start, '\n', end - begin);
            const size_t count = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - start)
                                                    : end - begin;
            if (line.size() + count > kLongestLine) {
                ++number;
                return tooLong;
            }
            line.append(start, count);
            if (newline == nullptr) {
                begin = end;
                continue;
            }
            begin += count + 1;
            ++number;
            if (line.empty() || line.back() != '\r') return unterminated;
            line.pop_back();
            return gotLine;
        }
    }
};

// Reads a decimal integer at the cursor; false if there is none.
template <typename Number>
bool readNumber(const char*& cursor, const char* end, Number& value) {
    const std::from_chars_result result = std::from_chars(cursor, end, value);
    if (result.ec != std::errc()) return false;
    cursor = result.ptr;
    return true;
}

bool readText(const char*& cursor, const char* end, const char* text) {
    const size_t length = std::strlen(text);
    if (static_cast<size_t>(end - cursor) < length || std::memcmp(cursor, text, length) != 0) return false;
    cursor += length;
    return true;
}

// The header: "Max Abs M(sample P)" and a tab for each input column.
bool readHeader(const std::string& line, std::vector<int32_t>& peaks, std::vector<int64_t>& positions) {
    const char* cursor = line.data();
    const char* end = cursor + line.size();
    while (cursor != end) {
        int32_t peak = 0;
        int64_t position = 0;
        if (!readText(cursor, end, "Max Abs ") || !readNumber(cursor, end, peak) || !readText(cursor, end, "(sample ") ||
            !readNumber(cursor, end, position) || !readText(cursor, end, ")\t"))
            return false;
        // A silent column names no position; any other names a real one.
        if (peak < 0 || peak > 32768 || position < -1 || (peak == 0) != (position == -1)) return false;
        peaks.push_back(peak);
        positions.push_back(position);
    }
    return true;
}

// A row: its position, then each column's value, each followed by a tab.
bool readRow(const std::string& line, int64_t expectedPosition, std::vector<int16_t>& values, std::string& why) {
    const char* cursor = line.data();
    const char* end = cursor + line.size();
    int64_t position = 0;
    if (!readNumber(cursor, end, position) || !readText(cursor, end, "\t")) {
        why = "the row does not start with its position";
        return false;
    }
    if (position != expectedPosition) {
        why = "the row is numbered " + std::to_string(position) + " where " + std::to_string(expectedPosition) +
              " belongs";
        return false;
    }
    for (size_t k = 0; k < values.size(); ++k) {
        if (cursor == end) {
            why = "the row has " + std::to_string(k) + " values for " + std::to_string(values.size()) + " columns";
            return false;
        }
        if (!readNumber(cursor, end, values[k]) || !readText(cursor, end, "\t")) {
            why = "value " + std::to_string(k) + " is not a 16-bit integer followed by a tab";
            return false;
        }
    }
    if (cursor != end) {
        why = "the row has more values than the " + std::to_string(values.size()) + " columns";
        return false;
    }
    return true;
}

struct OpenFile {
    std::FILE* file;
    ~OpenFile() {
        if (file != nullptr) std::fclose(file);
    }
};

}  // namespace

ReportStatus readReport(const std::string& path, int64_t window, uint32_t rate, ReportSummary& summary,
                        std::string& error) {
    OpenFile open{std::fopen(path.c_str(), "rb")};
    if (open.file == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return ReportStatus::unusable;
    }
    LineReader reader;
    reader.file = open.file;
    auto damaged = [&](const std::string& why) {
        if (reader.failed)
            error = "cannot read " + path;
        else
            error = path + " is damaged: line " + std::to_string(reader.number) + ": " + why;
        return ReportStatus::unusable;
    };
    auto brokenLine = [&](LineReader::Result result) {
        return damaged(result == LineReader::tooLong ? "the line is too long" : "the line does not end in CR LF");
    };

    // A device without inputs leaves the report empty.
    LineReader::Result result = reader.next();
    if (result == LineReader::atEnd && !reader.failed) {
        error = path + " has no input columns: the device had no inputs, so there is nothing to show";
        return ReportStatus::noInputs;
    }
    if (result != LineReader::gotLine) return brokenLine(result);
    std::vector<int32_t> peaks;
    std::vector<int64_t> positions;
    if (!readHeader(reader.line, peaks, positions))
        return damaged("the header is not a list of \"Max Abs M(sample P)\" and a tab per input");

    result = reader.next();
    if (result == LineReader::atEnd) return damaged("the report ends after its header");
    if (result != LineReader::gotLine) return brokenLine(result);
    if (reader.line != "Position\tvalues") return damaged("expected \"Position\tvalues\"");
    if (peaks.empty()) {
        error = path + " has no input columns: the device had no inputs, so there is nothing to show";
        return ReportStatus::noInputs;
    }

    ReportScan scan;
    startScan(scan, peaks, positions, window);
    std::vector<int16_t> values(peaks.size());
    std::string why;
    while ((result = reader.next()) == LineReader::gotLine) {
        if (!readRow(reader.line, scan.rows, values, why)) return damaged(why);
        scanRow(scan, values.data());
    }
    if (result != LineReader::atEnd || reader.failed) return brokenLine(result);

    if (!finishScan(scan, rate, summary, error)) {
        error = path + " is damaged: " + error;
        return ReportStatus::unusable;
    }
    return ReportStatus::read;
}
