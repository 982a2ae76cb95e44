// The sample report: tab-separated text with CR LF line ends, formatted into
// a block buffer and written in large pieces. A report that did not reach the
// disk whole says so.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "channel_stream.h"
#include "platform.h"
#include "results.h"

namespace {

// Collects text and hands it to the file in large blocks.
struct ReportWriter {
    static constexpr size_t kBlockSize = 1 << 16;
    std::FILE* file;
    std::vector<char> storage = std::vector<char>(kBlockSize);
    char* block = storage.data();
    size_t used = 0;
    bool complete = true;  // every byte so far was accepted

    void flushIfFull(size_t room) {
        if (kBlockSize - used < room) flush();
    }
    void flush() {
        complete &= std::fwrite(block, 1, used, file) == used;
        used = 0;
    }
    void text(const char* s) {
        const size_t length = std::strlen(s);
        flushIfFull(length);
        std::memcpy(block + used, s, length);
        used += length;
    }
    // Numbers go into room the caller has made sure of.
    void number(int64_t n) { used = static_cast<size_t>(std::to_chars(block + used, block + kBlockSize, n).ptr - block); }
    void numberAndTab(int64_t n) {
        number(n);
        block[used++] = '\t';
    }
};

// One input's values, read in runs as the rows go down.
struct Column {
    SampleList::Cursor cursor;
    const int16_t* values = nullptr;
    size_t left = 0;
};

}  // namespace

void writeSampleReport(uint32_t commonLength, bool inputPresent) {
    std::FILE* file = openFileForWriting("c:\\temp\\ASIO PCM.txt");
    if (file == nullptr) return;
    if (!inputPresent) {
        std::fclose(file);
        return;
    }

    std::vector<Column> columns;
    ReportWriter report{file};
    for (const ChannelStream* stream : channelStreams) {
        if (!stream->isInput) continue;
        columns.push_back(Column{SampleList::Cursor(stream->samples)});
        report.flushIfFull(48);  // the longest entry has 39 characters
        report.text("Max Abs ");
        report.number(stream->peakMagnitude);
        report.text("(sample ");
        report.number(stream->peakPosition);
        report.text(")\t");
    }
    report.text("\r\n");
    report.text("Position\tvalues\r\n");

    for (uint32_t j = 0; j < commonLength; ++j) {
        // A row is at most 11 characters per column and for the position.
        report.flushIfFull(12 * (columns.size() + 1) + 2);
        report.numberAndTab(j);
        for (Column& column : columns) {
            if (column.left == 0) column.values = column.cursor.run(commonLength - j, column.left);
            --column.left;
            report.numberAndTab(*column.values++);
        }
        report.block[report.used++] = '\r';
        report.block[report.used++] = '\n';
    }
    report.flush();
    const bool closed = std::fclose(file) == 0;
    if (!closed || !report.complete) std::cout << "Sample report is incomplete" << std::endl;
}
