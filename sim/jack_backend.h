// The JACK backend: a device that is a client of a running JACK server, with
// its channels registered as the client's ports, so that a run measures a
// real round trip. Also the conversions between the channels' sample
// formats and JACK's floats, which build everywhere so they can be tested
// everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "config.h"
#include "engine.h"

namespace asiosim {

// Channel samples to floats with full scale at 1.0. Floats pass as they are;
// formats other than 16 to 19 read as silence.
void samplesToFloat(uint32_t format, const unsigned char* in, float* out, size_t frames);

// Floats to channel samples: integers are rounded to nearest (half away from
// zero) and clipped to their range, NaN gives 0. Other formats get silence.
void floatToSamples(uint32_t format, const float* in, unsigned char* out, size_t frames);

// An open client, from BASS_ASIO_Init to BASS_ASIO_Free. Its runs must end
// before it is destroyed.
class JackDevice {
public:
    virtual ~JackDevice() = default;
    // Activates the client, makes the configured connections, and calls the
    // channels' callbacks from the first cycle that surely has them all.
    // Null when that fails, with one line on standard error.
    virtual std::unique_ptr<Stream> start(const std::vector<Binding>& outputs, const std::vector<Binding>& inputs) = 0;
};

// Opens the client (never starting a server) and registers its ports. Null,
// with one line on standard error, when that fails.
std::unique_ptr<JackDevice> openJackDevice(const DeviceConfig& device);

}  // namespace asiosim
