// What the benchmarks share: channel records built without their console
// lines, released again, and recorded values that look like a real capture.
#pragma once

#include <cstdint>
#include <iostream>
#include <vector>

#include "channel_stream.h"

namespace bench {

// A record as set-up makes it, with its console lines swallowed. Its capture
// file, for an input, lands in ASIOLOOP_TEMP_DIR.
inline ChannelStream* quietRecord(uint32_t channel, bool isInput, uint32_t width) {
    std::streambuf* console = std::cout.rdbuf(nullptr);
    auto* stream = new ChannelStream(channel, isInput, width);
    std::cout.rdbuf(console);
    std::cout.clear();
    return stream;
}

// Releases records through the program's own release, which also closes the
// capture files, and empties the registry it walks.
inline void releaseRecords(const std::vector<ChannelStream*>& records) {
    channelStreams = records;
    std::streambuf* console = std::cout.rdbuf(nullptr);
    releaseChannelStreams();
    std::cout.rdbuf(console);
    std::cout.clear();
    channelStreams.clear();
}

// A small fast generator, so the data is the same on every run.
inline uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// One input's values as a loopback capture gives them: noise of a few LSB and
// one near-full-scale impulse, placed differently on each input.
inline std::vector<int16_t> captureValues(size_t count, uint32_t input) {
    std::vector<int16_t> values(count);
    uint64_t state = 12345 + input;
    for (int16_t& v : values) v = static_cast<int16_t>(static_cast<int>(nextRandom(state) % 9) - 4);
    if (count > 0) values[(549 + 97 * size_t{input}) % count] = static_cast<int16_t>(input % 2 ? -32766 : 32766);
    return values;
}

}  // namespace bench
