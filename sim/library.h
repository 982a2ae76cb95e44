// The state behind the nine exported functions: which device is open (and
// its JACK client, for a JACK device), the enabled channels, the running
// stream, the configured failures and the call trace. The exported functions forward to one process-wide instance;
// tests make their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bassasio.h"
#include "config.h"
#include "engine.h"
#include "jack_backend.h"

namespace asiosim {

// One line per call, appended and flushed at once so a watcher can follow it.
class Trace {
public:
    explicit Trace(std::string path) : path_(std::move(path)) {}
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    void line(const char* format, ...);
    bool enabled() const { return !path_.empty(); }

private:
    std::string path_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool opened_ = false;
};

class Library {
public:
    Library(std::vector<DeviceConfig> devices, std::string tracePath);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    uint32_t getDeviceInfo(uint32_t device, BassAsioDeviceInfo* info);
    uint32_t init(uint32_t device, uint32_t flags);
    uint32_t controlPanel();
    uint32_t free();
    uint32_t channelGetInfo(uint32_t input, uint32_t channel, BassAsioChannelInfo* info);
    uint32_t channelGetFormat(uint32_t input, uint32_t channel);
    uint32_t channelEnable(uint32_t input, uint32_t channel, AsioChannelProc proc, void* user);
    uint32_t start(uint32_t bufferLength, uint32_t threads);
    uint32_t stop();

private:
    const DeviceConfig* openDevice() const;
    const ChannelConfig* channelOf(uint32_t input, uint32_t channel) const;
    // Stops and drops the running stream, if any; returns the timing lines
    // for the trace (none when tracing is off). `ok` turns false when the
    // device failed during the run.
    std::vector<std::string> endRun(bool& ok);

    const std::vector<DeviceConfig> devices_;
    Trace trace_;

    // Queries read open_ without the lock, so a callback may call them; the
    // calls that change state take the lock and are refused on a callback
    // thread, where waiting for the engine to stop would never end.
    std::mutex mutex_;
    std::atomic<int> open_{-1};
    std::vector<Binding> outputs_;
    std::vector<Binding> inputs_;
    std::unique_ptr<JackDevice> jack_;  // from init to free; outlives engine_
    std::unique_ptr<Stream> engine_;
    std::atomic<uint64_t> initCalls_{0};
    std::atomic<uint64_t> freeCalls_{0};
};

}  // namespace asiosim
