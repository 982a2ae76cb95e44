// The peak analysis over every input record.
#include <cstdlib>

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
        SampleList::Cursor cursor(stream->samples);
        uint32_t position = 0;
        size_t count = 0;
        while (const int16_t* values = cursor.run(summary.commonLength - position, count)) {
            if (count == 0) break;
            for (size_t k = 0; k < count; ++k) {
                const int32_t magnitude = std::abs(static_cast<int32_t>(values[k]));
                if (magnitude > stream->peakMagnitude) {
                    stream->peakMagnitude = magnitude;
                    stream->peakPosition = static_cast<int32_t>(position + k);
                }
            }
            position += static_cast<uint32_t>(count);
        }
    }
    return summary;
}
