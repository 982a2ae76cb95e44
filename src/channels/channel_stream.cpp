// Building and releasing the channel records.
#include "channel_stream.h"

#include <cinttypes>
#include <cstring>
#include <iostream>

#include "platform.h"

std::vector<ChannelStream*> channelStreams;

ChannelStream::ChannelStream(uint32_t channelIndex, bool input, uint32_t width)
    : channel(channelIndex),
      played(false),
      isInput(input),
      peakMagnitude(0),
      peakPosition(-1),
      pattern(new uint8_t[static_cast<size_t>(width) * kSampleLength]),
      patternPos(0),
      patternSize(width * kSampleLength),
      bytesPerSample(width),
      captureFile(nullptr),
      bytesDelivered(0),
      bytesAccepted(0) {
    std::cout << "Sample length " << kSampleLength << ", bytes per sample " << bytesPerSample << std::endl;

    if (isInput) {
        char name[256];
        std::snprintf(name, sizeof name, "c:\\temp\\ASIO.Channel(Output).%" PRIu32 ".pcm", channel);
        captureFile = openFileForWriting(name);
        if (captureFile != nullptr) {
            // Fewer, larger writes from inside the capture callback.
            std::setvbuf(captureFile, nullptr, _IOFBF, size_t{1} << 16);
            std::cout << "Opened output file for output channel " << channel << std::endl;
        } else {
            std::cout << "Could  not open output file for output channel " << channel << std::endl;
        }
        return;
    }

    std::cout << "Bytes per sample" << bytesPerSample << std::endl;
    // The largest positive sample of this width, least significant byte
    // first, then silence.
    std::memset(pattern, 0xFF, bytesPerSample - 1);
    pattern[bytesPerSample - 1] = 0x7F;
    std::memset(pattern + bytesPerSample, 0x00, patternSize - bytesPerSample);
}

void releaseChannelStreams() {
    for (ChannelStream* stream : channelStreams) {
        delete[] stream->pattern;
        if (stream->isInput && stream->captureFile != nullptr) {
            // The buffered tail reaches the disk only now.
            const bool closed = std::fclose(stream->captureFile) == 0;
            if (!closed || stream->bytesAccepted != stream->bytesDelivered)
                std::cout << "Capture file for input channel " << stream->channel << " is incomplete" << std::endl;
        }
        delete stream;  // with it the storage of its samples
    }
}
