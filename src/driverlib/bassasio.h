// The audio driver library's interface, as this program uses it: nine
// functions, two records the library fills, and the form of the channel
// callbacks it calls on its own threads.
//
// On 32-bit Windows the functions and callbacks use __stdcall and the DLL
// exports them under their plain names; everywhere else the platform's
// default convention applies. Words that hold addresses are pointer-sized;
// every other value is 32-bit.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define BASSASIO_CALL __stdcall
#else
#define BASSASIO_CALL
#endif

#if defined(_WIN32)
#if defined(BASSASIO_BUILDING_LIBRARY)
#define BASSASIO_API __declspec(dllexport)
#else
#define BASSASIO_API __declspec(dllimport)
#endif
#elif defined(BASSASIO_BUILDING_LIBRARY)
#define BASSASIO_API __attribute__((visibility("default")))
#else
#define BASSASIO_API
#endif

// Filled by BASS_ASIO_GetDeviceInfo. The name stays valid at least until the
// next library call; the second word is not read by the program.
struct BassAsioDeviceInfo {
    const char* name;
    const char* reserved;
};

// Filled by BASS_ASIO_ChannelGetInfo: two words the program does not use,
// then the channel's name, zero-terminated within its 32 bytes.
struct BassAsioChannelInfo {
    uint32_t reserved[2];
    char name[32];
};

// A channel callback: input flag (nonzero for input), channel, buffer,
// buffer length in bytes, and the user value given to
// BASS_ASIO_ChannelEnable. Returns a byte count; for an output, the bytes
// written into the buffer.
typedef uint32_t(BASSASIO_CALL* AsioChannelProc)(uint32_t input, uint32_t channel, void* buffer,
                                                 uint32_t length, void* user);

// Format codes reported by BASS_ASIO_ChannelGetFormat for signed integer
// samples, least significant byte first.
constexpr uint32_t kFormat16Bit = 16;  // 2 bytes
constexpr uint32_t kFormat24Bit = 17;  // 3 bytes
constexpr uint32_t kFormat32Bit = 18;  // 4 bytes
constexpr uint32_t kFormatFloat = 19;  // 32-bit float

extern "C" {
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_GetDeviceInfo(uint32_t device, BassAsioDeviceInfo* info);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Init(uint32_t device, uint32_t flags);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ControlPanel(void);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Free(void);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ChannelGetInfo(uint32_t input, uint32_t channel,
                                                             BassAsioChannelInfo* info);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ChannelGetFormat(uint32_t input, uint32_t channel);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_ChannelEnable(uint32_t input, uint32_t channel,
                                                            AsioChannelProc proc, void* user);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Start(uint32_t bufferLength, uint32_t threads);
BASSASIO_API uint32_t BASSASIO_CALL BASS_ASIO_Stop(void);
}

static_assert(sizeof(BassAsioChannelInfo) == 40, "the channel record is 40 bytes");
static_assert(sizeof(BassAsioDeviceInfo) == 2 * sizeof(void*), "the device record is two words");
