// The peak analysis over every input record.
#include <algorithm>

#include "channel_stream.h"
#include "results.h"

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
        const int16_t* values = stream->samples.data();
        for (uint32_t j = 0; j < summary.commonLength; ++j) {
            const int32_t magnitude = std::abs(static_cast<int32_t>(values[j]));
            if (magnitude > stream->peakMagnitude) {
                stream->peakMagnitude = magnitude;
                stream->peakPosition = static_cast<int32_t>(j);
            }
        }
    }
    return summary;
}
