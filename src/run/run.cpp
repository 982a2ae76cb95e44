// The order of the program's phases, and the timed run.
#include "run.h"

#include <iostream>

#include "bassasio.h"
#include "channel_stream.h"
#include "device_context.h"
#include "platform.h"
#include "results.h"

uint32_t waitMilliseconds(uint32_t seconds) {
    constexpr uint64_t kLongestWait = 4294967294u;
    const uint64_t milliseconds = static_cast<uint64_t>(seconds) * 1000u;
    return static_cast<uint32_t>(milliseconds < kLongestWait ? milliseconds : kLongestWait);
}

void runForSeconds() {
    std::cout << "How many seconds to run for? (CTRL+C terminates early)";
    uint32_t seconds = 0;  // an answer that cannot be read runs for no time
    readAnswer(std::cin, seconds);
    if (BASS_ASIO_Start(0, 32) != 1) std::cout << "Could not start playback" << std::endl;
    waitForMilliseconds(waitMilliseconds(seconds));
    if (BASS_ASIO_Stop() != 1) std::cout << "Could not stop device" << std::endl;
}

int runProgram() {
    DeviceContext device;
    if (!device.selectDevice()) {
        std::cout << " Could not initialise audio" << std::endl;
        return 0;
    }
    std::cout << "Initialised" << std::endl;
    device.setUpOutputChannels();
    device.setUpInputChannels();

    runForSeconds();
    if (BASS_ASIO_Free() == 1) std::cout << "Deintialised ASIO subsystem" << std::endl;

    const PeakSummary summary = analysePeaks();
    writeSampleReport(summary.commonLength, summary.inputPresent);
    releaseChannelStreams();
    return 0;
}
