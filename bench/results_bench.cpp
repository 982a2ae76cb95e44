// The peak analysis and the sample report over 8 inputs of a million values,
// each beside the simplest code that does the same work on contiguous data:
// a plain scan (and one the compiler vectorises), and rows formatted with
// to_chars and written in big blocks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "platform.h"
#include "results.h"

namespace {

constexpr uint32_t kInputs = 8;
constexpr uint32_t kValues = 1000000;

// The same values twice: in the program's input records and as vectors.
struct Capture {
    std::vector<ChannelStream*> records;
    std::vector<std::vector<int16_t>> columns;

    Capture() {
        for (uint32_t i = 0; i < kInputs; ++i) {
            columns.push_back(bench::captureValues(kValues, i));
            ChannelStream* stream = bench::quietRecord(i, true, 2);
            for (int16_t v : columns.back()) stream->samples.push_back(v);
            records.push_back(stream);
        }
    }
    ~Capture() { bench::releaseRecords(records); }

    void resetPeaks() {
        for (ChannelStream* stream : records) {
            stream->peakMagnitude = 0;
            stream->peakPosition = -1;
        }
    }
};

Capture& capture() {
    static Capture data;
    return data;
}

struct Peak {
    int32_t magnitude = 0;
    int32_t position = -1;
};

void BM_analysePeaks(benchmark::State& state) {
    Capture& data = capture();
    channelStreams = data.records;
    for (auto _ : state) {
        data.resetPeaks();
        benchmark::DoNotOptimize(analysePeaks());
        benchmark::ClobberMemory();
    }
    channelStreams.clear();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kInputs * kValues);
}

void BM_plainScan(benchmark::State& state) {
    Capture& data = capture();
    for (auto _ : state) {
        for (const std::vector<int16_t>& column : data.columns) {
            Peak peak;
            for (size_t k = 0; k < column.size(); ++k) {
                const int32_t magnitude = std::abs(static_cast<int32_t>(column[k]));
                if (magnitude > peak.magnitude) {
                    peak.magnitude = magnitude;
                    peak.position = static_cast<int32_t>(k);
                }
            }
            benchmark::DoNotOptimize(peak);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kInputs * kValues);
}

// The same result with the scan for the largest magnitude in blocks of a
// fixed size, which the compiler vectorises; only a block that beats the peak
// so far is walked again for its first position. What the hardware allows.
void BM_blockScan(benchmark::State& state) {
    constexpr size_t kBlock = 64;
    Capture& data = capture();
    for (auto _ : state) {
        for (const std::vector<int16_t>& column : data.columns) {
            Peak peak;
            const int16_t* v = column.data();
            for (size_t at = 0; at < column.size(); at += kBlock) {
                const size_t n = std::min(kBlock, column.size() - at);
                int32_t most = 0;
                if (n == kBlock) {
                    for (size_t k = 0; k < kBlock; ++k) most = std::max(most, std::abs(static_cast<int32_t>(v[at + k])));
                } else {
                    for (size_t k = 0; k < n; ++k) most = std::max(most, std::abs(static_cast<int32_t>(v[at + k])));
                }
                if (most <= peak.magnitude) continue;
                size_t k = 0;
                while (std::abs(static_cast<int32_t>(v[at + k])) != most) ++k;
                peak.magnitude = most;
                peak.position = static_cast<int32_t>(at + k);
            }
            benchmark::DoNotOptimize(peak);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kInputs * kValues);
}

// Rows formatted straight into a large buffer, written a few MB at a time.
// The header comes from the records, so the file matches the program's.
bool writeReportLimit(const Capture& data, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    static std::vector<char> storage(size_t{4} << 20);
    char* const begin = storage.data();
    char* const end = begin + storage.size();
    char* p = begin;
    bool complete = true;
    for (const ChannelStream* stream : data.records) {
        p += std::snprintf(p, 64, "Max Abs %d(sample %d)\t", stream->peakMagnitude, stream->peakPosition);
    }
    p += std::snprintf(p, 64, "\r\nPosition\tvalues\r\n");
    const size_t rowMost = 12 * (kInputs + 1) + 2;
    for (uint32_t j = 0; j < kValues; ++j) {
        if (static_cast<size_t>(end - p) < rowMost) {
            complete &= std::fwrite(begin, 1, static_cast<size_t>(p - begin), file) == static_cast<size_t>(p - begin);
            p = begin;
        }
        p = std::to_chars(p, end, j).ptr;
        *p++ = '\t';
        for (const std::vector<int16_t>& column : data.columns) {
            p = std::to_chars(p, end, static_cast<int>(column[j])).ptr;
            *p++ = '\t';
        }
        *p++ = '\r';
        *p++ = '\n';
    }
    complete &= std::fwrite(begin, 1, static_cast<size_t>(p - begin), file) == static_cast<size_t>(p - begin);
    return std::fclose(file) == 0 && complete;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The report's peaks line needs the peaks found.
void findPeaks(Capture& data) {
    channelStreams = data.records;
    data.resetPeaks();
    analysePeaks();
    channelStreams.clear();
}

void BM_writeSampleReport(benchmark::State& state) {
    Capture& data = capture();
    findPeaks(data);
    channelStreams = data.records;
    for (auto _ : state) writeSampleReport(kValues, true);
    channelStreams.clear();
    const std::string path = platformPath("c:\\temp\\ASIO PCM.txt");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
    std::filesystem::remove(path);
}

void BM_reportLimit(benchmark::State& state) {
    Capture& data = capture();
    findPeaks(data);
    const std::string path = platformPath("c:\\temp\\limit report.txt");

    // Both sides must write the same bytes, or the comparison means nothing.
    channelStreams = data.records;
    writeSampleReport(kValues, true);
    channelStreams.clear();
    const std::string program = platformPath("c:\\temp\\ASIO PCM.txt");
    if (!writeReportLimit(data, path) || fileBytes(path) != fileBytes(program)) {
        state.SkipWithError("the limit's report differs from the program's");
        return;
    }
    std::filesystem::remove(program);

    for (auto _ : state) {
        if (!writeReportLimit(data, path)) {
            state.SkipWithError("writing the limit's report failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
    std::filesystem::remove(path);
}

}  // namespace

// Rates from wall-clock time: the report's writes are part of its cost.
BENCHMARK(BM_analysePeaks)->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
BENCHMARK(BM_plainScan)->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
BENCHMARK(BM_blockScan)->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
BENCHMARK(BM_writeSampleReport)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_reportLimit)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
