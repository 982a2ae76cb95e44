// Setting up the channels before the run: output channels 0 and 1 play the
// test pattern, every input channel is recorded.
#include <cstring>
#include <iostream>

#include "channel_stream.h"
#include "device_context.h"

namespace {

constexpr int32_t kMaxOutputChannels = 2;
constexpr uint32_t kOutput = 0;
constexpr uint32_t kInput = 1;

// Sample width in bytes of the library's format code, 0 for a format the
// program cannot record or play.
uint32_t sampleWidth(uint32_t formatCode) {
    switch (formatCode) {
        case kFormat16Bit: return 2;
        case kFormat24Bit: return 3;
        case kFormat32Bit: return 4;
        default:
            std::cout << "This app does not support floating point formats" << std::endl;
            return 0;
    }
}

}  // namespace

// A channel of unsupported format gets no record: it is neither enabled nor
// registered, so the run goes on without it.

void DeviceContext::setUpOutputChannels() {
    for (int32_t i = 0; i < kMaxOutputChannels; ++i) {
        const auto index = static_cast<uint32_t>(i);
        BassAsioChannelInfo info{};
        if (BASS_ASIO_ChannelGetInfo(kOutput, index, &info) != 1) return;
        const uint32_t width = sampleWidth(BASS_ASIO_ChannelGetFormat(kOutput, index));
        if (width == 0) continue;
        auto* stream = new ChannelStream(index, false, width);
        if (BASS_ASIO_ChannelEnable(kOutput, index, playbackProc, stream) == 1)
            std::cout << "Output Channel " << i << " initialised" << std::endl;
        channelStreams.push_back(stream);
    }
}

void DeviceContext::setUpInputChannels() {
    for (int32_t i = 0;; ++i) {
        const auto index = static_cast<uint32_t>(i);
        BassAsioChannelInfo info{};
        if (BASS_ASIO_ChannelGetInfo(kInput, index, &info) != 1) return;
        std::cout << i << " ";
        std::cout.write(info.name, static_cast<std::streamsize>(strnlen(info.name, sizeof info.name)));
        std::cout << ": Enabled";
        const uint32_t width = sampleWidth(BASS_ASIO_ChannelGetFormat(kInput, index));
        if (width == 0) continue;
        auto* stream = new ChannelStream(index, true, width);
        if (BASS_ASIO_ChannelEnable(kInput, index, captureProc, stream) == 1)
            std::cout << "Input Channel " << i << " initialised" << std::endl;
        channelStreams.push_back(stream);
    }
}
