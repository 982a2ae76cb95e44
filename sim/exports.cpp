// The nine functions the library exports. The configuration and the trace
// path are read once, at the first call; no exception crosses into the
// caller.
#include <cstdlib>

#include "bassasio.h"
#include "config.h"
#include "library.h"

namespace {

asiosim::Library& library() {
    // Never destroyed: a program may exit while streaming, and tearing the
    // engine down during static destruction would race its threads.
    static asiosim::Library* instance = [] {
        const char* trace = std::getenv("ASIOSIM_TRACE");
        return new asiosim::Library(asiosim::loadDevices(std::getenv("ASIOSIM_CONFIG"), stderr),
                                    trace != nullptr ? trace : "");
    }();
    return *instance;
}

template <typename Call>
uint32_t guarded(Call call) noexcept {
    try {
        return call(library());
    } catch (...) {
        return 0;
    }
}

}  // namespace

extern "C" {

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_GetDeviceInfo(uint32_t device, BassAsioDeviceInfo* info) {
    return guarded([&](asiosim::Library& lib) { return lib.getDeviceInfo(device, info); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Init(uint32_t device, uint32_t flags) {
    return guarded([&](asiosim::Library& lib) { return lib.init(device, flags); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ControlPanel(void) {
    return guarded([&](asiosim::Library& lib) { return lib.controlPanel(); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Free(void) {
    return guarded([&](asiosim::Library& lib) { return lib.free(); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ChannelGetInfo(uint32_t input, uint32_t channel,
                                                             BassAsioChannelInfo* info) {
    return guarded([&](asiosim::Library& lib) { return lib.channelGetInfo(input, channel, info); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ChannelGetFormat(uint32_t input, uint32_t channel) {
    return guarded([&](asiosim::Library& lib) { return lib.channelGetFormat(input, channel); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ChannelEnable(uint32_t input, uint32_t channel,
                                                            AsioChannelProc proc, void* user) {
    return guarded([&](asiosim::Library& lib) { return lib.channelEnable(input, channel, proc, user); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Start(uint32_t bufferLength, uint32_t threads) {
    return guarded([&](asiosim::Library& lib) { return lib.start(bufferLength, threads); });
}

BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Stop(void) {
    return guarded([&](asiosim::Library& lib) { return lib.stop(); });
}

}  // extern "C"
