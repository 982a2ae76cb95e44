// The device object that main owns for the whole run: which device was
// chosen, how its driver is started, and how its channels are set up.
#pragma once

#include <cstdint>
#include <istream>

constexpr uint32_t kNoDevice = 0xFFFFFFFF;

struct DeviceContext {
    uint32_t deviceIndex = kNoDevice;

    // Lists the devices, takes the operator's choice (or the only device)
    // and starts its driver. True when the device is open and ready.
    bool selectDevice();
    // Opens the chosen device, shows its settings panel, closes it and
    // opens it again.
    bool startDriver();

    // Output channels 0 and 1 play the test pattern; every input channel is
    // recorded. Both only report problems on the console and go on.
    void setUpOutputChannels();
    void setUpInputChannels();
};

// Reads one answer of the operator: white space (blank lines included) is
// skipped, an optional sign and decimal digits are taken, and reading stops
// at the first other character, which stays unread for the next answer. "-"
// negates in 32 bits. Fails, leaving value as it was, when there is no digit,
// input has ended or the number is above 4294967295.
bool readAnswer(std::istream& in, uint32_t& value);
