// Choosing the device and starting its driver: list what the library
// reports, take the operator's number, then open, show the settings panel,
// close and open again.
#include "device_context.h"

#include <iostream>
#include <string>
#include <vector>

#include "bassasio.h"

bool DeviceContext::selectDevice() {
    deviceIndex = kNoDevice;
    std::cout << "ID\tDevice Name" << std::endl;

    std::vector<std::string> names;
    BassAsioDeviceInfo info{};
    for (uint32_t i = 0; BASS_ASIO_GetDeviceInfo(i, &info) != 0; ++i) {
        names.emplace_back(info.name != nullptr ? info.name : "");
        std::cout << static_cast<int32_t>(i) << '\t' << names.back() << std::endl;
    }
    if (names.empty()) return false;

    if (names.size() == 1) {
        std::cout << "Selecting only installed device" << std::endl;
        deviceIndex = 0;
        return startDriver();
    }

    std::cout << "Select device to use: ";
    readAnswer(std::cin, deviceIndex);
    if (deviceIndex < names.size()) {
        std::cout << std::endl;
        std::cout << "You've selected " << names[deviceIndex] << std::endl;
        return startDriver();
    }
    std::cout << "Invalid device selected. Available choices are " << 0 << " to "
              << static_cast<int64_t>(names.size()) - 1 << std::endl;
    std::cout << "Aborting" << std::endl;
    return false;
}

bool DeviceContext::startDriver() {
    if (BASS_ASIO_Init(deviceIndex, 1) != 1) return false;
    if (BASS_ASIO_ControlPanel() == 0) return false;
    if (BASS_ASIO_Free() != 1) {
        std::cout << "Could not deinitialise ASIO subsystem" << std::endl;
        return false;
    }
    std::cout << "Deintialised ASIO subsystem" << std::endl;
    if (BASS_ASIO_Init(deviceIndex, 1) == 1) {
        std::cout << "Successfully re-initialised ASIO" << std::endl;
        return true;
    }
    std::cout << "Could not reintiialise ASIO subsystem" << std::endl;
    return false;
}
