// The peak analysis over every input record.
#include <cstdlib>

#include "channel_stream.h"
#include "results.h"

namespace {

// Inlined with a constant count, this is a loop the compiler vectorises.
inline int32_t largestMagnitude(const int16_t* values, size_t count) {
    int32_t most = 0;
    for (size_t k = 0; k < count; ++k) {
        const int32_t magnitude = std::abs(static_cast<int32_t>(values[k]));
        most = magnitude > most ? magnitude : most;
    }
    return most;
}

}  // namespace

PeakSummary analysePeaks() {
    PeakSummary summary{kLengthSentinel, false};
    for (const ChannelStream* stream : channelStreams) {
        if (!stream->isInput) continue;
        summary.inputPresent = true;
        if (stream->samples.size() < summary.commonLength)
            summary.commonLength = static_cast<uint32_t>(stream->samples.size());
    }
    if (!summary.inputPresent || summary.commonLength == 0) return summary;

    // Channels do not affect each other, so each is scanned on its own; the
    // strict comparison keeps the first position of the largest magnitude.
    for (ChannelStream* stream : channelStreams) {
        if (!stream->isInput) continue;
        SampleList::Cursor cursor(stream->samples);
        uint32_t position = 0;
        size_t count = 0;
        while (const int16_t* values = cursor.run(summary.commonLength - position, count)) {
            if (count == 0) break;
            // The largest magnitude of each block of fixed size first (a
            // loop the compiler vectorises); only a block that beats the
            // peak is walked again for its first position.
            constexpr size_t kBlock = 64;
            for (size_t at = 0; at < count; at += kBlock) {
                const int16_t* block = values + at;
                const int32_t most = count - at >= kBlock ? largestMagnitude(block, kBlock)
                                                          : largestMagnitude(block, count - at);
                if (most <= stream->peakMagnitude) continue;
                size_t k = 0;
                while (std::abs(static_cast<int32_t>(block[k])) != most) ++k;
                stream->peakMagnitude = most;
                stream->peakPosition = static_cast<int32_t>(position + at + k);
            }
            position += static_cast<uint32_t>(count);
        }
    }
    return summary;
}
