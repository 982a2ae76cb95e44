// Fuzzes the two callbacks, the analysis and the report with arbitrary
// buffers, lengths and widths. Every buffer is allocated to its exact length,
// so a read or write past it is caught. Properties: the capture file gets
// every byte, one value per whole sample (the sample's top two bytes), the
// peak agrees with a plain scan, and playback fills exactly what it is asked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "channel_stream.h"
#include "results.h"

namespace {

std::string folder;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void check(bool condition) {
    if (!condition) std::abort();
}

// Reads the fuzzer's data a byte at a time; runs of bytes are taken as
// buffers, as many as are left.
struct Reader {
    const uint8_t* data;
    size_t size;
    uint32_t take(uint32_t n) { return static_cast<uint32_t>(std::min<size_t>(n, size)); }
    uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/asioloop-fuzz-XXXXXX";
    folder = mkdtemp(pattern);
    setenv("ASIOLOOP_TEMP_DIR", folder.c_str(), 1);
    std::cout.setstate(std::ios::badbit);  // the records' console lines
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader reader{data, size};
    const uint32_t width = 2 + reader.byte() % 3;
    const int inputs = 1 + reader.byte() % 3;

    auto* output = new ChannelStream(0, false, width);
    channelStreams.push_back(output);
    std::vector<std::string> delivered(static_cast<size_t>(inputs));
    std::vector<size_t> values(static_cast<size_t>(inputs));  // whole samples, call by call
    for (int k = 0; k < inputs; ++k) channelStreams.push_back(new ChannelStream(static_cast<uint32_t>(k), true, width));

    // Calls until the data runs out: which channel, how long, what bytes.
    while (reader.size > 0) {
        const uint8_t what = reader.byte();
        uint32_t length = reader.byte();
        length = length << 8 | reader.byte();
        if (what % 4 == 0) {
            // Playback of any length, up to past the pattern's end.
            length = length * 7 % (output->patternSize * 2 + 1);
            auto buffer = std::make_unique<uint8_t[]>(length + 1);
            check(playbackProc(0, 0, buffer.get(), length, output) == length);
            check(output->patternPos < output->patternSize);
            continue;
        }
        const int k = what % inputs;
        length = reader.take(length % 512);
        auto buffer = std::make_unique<uint8_t[]>(length);
        std::memcpy(buffer.get(), reader.data, length);
        reader.data += length;
        reader.size -= length;
        ChannelStream* input = channelStreams[static_cast<size_t>(1 + k)];
        const size_t before = input->samples.size();
        check(captureProc(1, 0, buffer.get(), length, input) == length);
        check(input->samples.size() - before == length / width);
        for (uint32_t s = 0; s < length / width; ++s) {
            const auto top = static_cast<uint16_t>(buffer[s * width + width - 2] | buffer[s * width + width - 1] << 8);
            check(input->samples.at(before + s) == static_cast<int16_t>(top));
        }
        delivered[static_cast<size_t>(k)].append(reinterpret_cast<const char*>(buffer.get()), length);
        values[static_cast<size_t>(k)] += length / width;
    }

    const PeakSummary summary = analysePeaks();
    size_t common = 4000000000u;
    for (size_t count : values) common = std::min(common, count);
    check(summary.inputPresent && summary.commonLength == common);
    for (int k = 0; k < inputs; ++k) {
        const ChannelStream* input = channelStreams[static_cast<size_t>(1 + k)];
        int32_t peak = 0;
        int32_t at = -1;
        for (size_t j = 0; j < common; ++j) {
            const int32_t magnitude = std::abs(static_cast<int32_t>(input->samples.at(j)));
            if (magnitude > peak) peak = magnitude, at = static_cast<int32_t>(j);
        }
        check(input->peakMagnitude == peak && input->peakPosition == at);
    }
    writeSampleReport(summary.commonLength, summary.inputPresent);
    const std::string report = readAll(folder + "/ASIO PCM.txt");
    size_t rows = 0;
    for (size_t i = 0; i + 1 < report.size(); ++i) rows += report[i] == '\r' && report[i + 1] == '\n';
    check(rows == common + 2);

    releaseChannelStreams();
    channelStreams.clear();
    for (int k = 0; k < inputs; ++k)
        check(readAll(folder + "/ASIO.Channel(Output)." + std::to_string(k) + ".pcm") ==
              delivered[static_cast<size_t>(k)]);
    return 0;
}
