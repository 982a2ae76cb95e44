// Test helpers for the simulated library: a temporary folder, small devices,
// and a recorder that plays a signal into the outputs and keeps every input
// buffer, so a test can compare what came back sample by sample.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bassasio.h"
#include "config.h"

namespace simtest {

class TempDir {
public:
    TempDir() {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() / ("asiosim-test-" + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return (path_ / name).string();
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A trace with the measured durations replaced by "#", so the rest of each
// timing line can be compared exactly.
inline std::string maskDurations(const std::string& trace) {
    static const std::regex duration("(max_us|p99_us|max_tick_us)=[0-9]+\\.[0-9]");
    return std::regex_replace(trace, duration, "$1=#");
}

// A freewheeling device with no noise that stops after `ticks` buffers.
inline asiosim::DeviceConfig testDevice(std::vector<uint32_t> outputFormats, std::vector<uint32_t> inputFormats,
                                      std::vector<asiosim::RouteConfig> routes, uint32_t bufferSamples = 64,
                                      uint64_t ticks = 6) {
    asiosim::DeviceConfig dev;
    dev.name = "Test";
    dev.clock = asiosim::Clock::Freewheel;
    dev.bufferSamples = bufferSamples;
    dev.noise = 0.0;
    dev.maxTicks = ticks;
    for (size_t i = 0; i < outputFormats.size(); ++i)
        dev.outputs.push_back({"Out " + std::to_string(i + 1), outputFormats[i]});
    for (size_t i = 0; i < inputFormats.size(); ++i)
        dev.inputs.push_back({"In " + std::to_string(i + 1), inputFormats[i]});
    dev.routes = std::move(routes);
    return dev;
}

inline uint32_t widthOf(uint32_t format) { return format == 16 ? 2 : format == 17 ? 3 : 4; }

inline uint32_t floatBits(float f) {
    uint32_t bits = 0;
    static_assert(sizeof bits == sizeof f);
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

inline float bitsFloat(uint32_t bits) {
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Raw sample bits of `width` bytes, sign-extended.
inline int64_t signExtend(uint64_t bits, uint32_t width) {
    const uint64_t sign = uint64_t{1} << (8 * width - 1);
    bits &= (sign << 1) - 1;
    return static_cast<int64_t>(bits ^ sign) - static_cast<int64_t>(sign);
}

// Plays `signal` (raw sample bits per output channel and absolute sample
// number) into every output it is enabled on, and records every input.
class Recorder {
public:
    using Signal = std::function<uint32_t(uint32_t channel, uint64_t sample)>;

    Recorder(const asiosim::DeviceConfig& device, Signal signal) : device_(device), signal_(std::move(signal)) {
        outCalls_ = std::vector<std::atomic<uint64_t>>(device.outputs.size());
        inCalls_ = std::vector<std::atomic<uint64_t>>(device.inputs.size());
        busy_ = std::vector<std::atomic<bool>>(device.outputs.size() + device.inputs.size());
        captured_.resize(device.inputs.size());
        lengths_.resize(device.inputs.size());
    }

    static uint32_t BASSASIO_CALL proc(uint32_t input, uint32_t channel, void* buffer, uint32_t length,
                                       void* user) {
        return static_cast<Recorder*>(user)->call(input, channel, static_cast<unsigned char*>(buffer), length);
    }

    // Blocks until every input channel in `channels` has had `calls` buffers.
    void waitForInputs(const std::vector<uint32_t>& channels, uint64_t calls) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] {
            for (uint32_t ch : channels)
                if (inCalls_[ch].load() < calls) return false;
            return true;
        });
    }

    void waitForAnyCalls(uint64_t calls) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return totalCalls_ >= calls; });
    }

    // Input sample n of a channel, sign-extended (or the float's bits).
    int64_t inputSample(uint32_t channel, size_t n) const {
        const uint32_t width = widthOf(device_.inputs[channel].format);
        const uint32_t stride = static_cast<uint32_t>(lengths_[channel].front());
        const size_t perBuffer = device_.bufferSamples;
        const unsigned char* p = &captured_[channel][n / perBuffer * stride + n % perBuffer * width];
        uint64_t bits = 0;
        for (uint32_t i = 0; i < width; ++i) bits |= uint64_t{p[i]} << (8 * i);
        return device_.inputs[channel].format == 19 ? static_cast<int64_t>(bits) : signExtend(bits, width);
    }

    size_t inputSamples(uint32_t channel) const {
        return lengths_[channel].size() * device_.bufferSamples;
    }

    uint64_t outputCalls(uint32_t channel) const { return outCalls_[channel].load(); }
    uint64_t inputCalls(uint32_t channel) const { return inCalls_[channel].load(); }
    uint64_t totalCalls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return totalCalls_;
    }
    const std::vector<uint32_t>& lengths(uint32_t channel) const { return lengths_[channel]; }
    const std::vector<unsigned char>& bytes(uint32_t channel) const { return captured_[channel]; }
    bool overlapped() const { return overlapped_.load(); }
    int inFlight() const { return inFlight_.load(); }
    size_t threadCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_.size();
    }

    // Written into the bytes past the samples of every input buffer, to show
    // the library clears them again.
    bool scribbleTrailing = false;
    // Output samples written into buffer k (counted from 0); the rest is left
    // as the library gave it. Unset: all.
    std::function<uint32_t(uint64_t buffer)> samplesWritten;
    // Called from inside each callback (e.g. to call back into the library).
    std::function<void()> onCall;

private:
    uint32_t call(uint32_t input, uint32_t channel, unsigned char* buffer, uint32_t length) {
        ++inFlight_;
        std::atomic<bool>& busy = busy_[input != 0 ? device_.outputs.size() + channel : channel];
        if (busy.exchange(true)) overlapped_ = true;

        if (input == 0) {
            const uint32_t format = device_.outputs[channel].format;
            const uint32_t width = widthOf(format);
            const uint64_t first = outCalls_[channel].load() * device_.bufferSamples;
            const uint32_t written = samplesWritten ? samplesWritten(outCalls_[channel].load()) : UINT32_MAX;
            for (uint32_t n = 0; n < length / width && n < written; ++n) {
                const uint32_t bits = signal_(channel, first + n);
                for (uint32_t i = 0; i < width; ++i) buffer[n * width + i] = static_cast<unsigned char>(bits >> (8 * i));
            }
        } else {
            captured_[channel].insert(captured_[channel].end(), buffer, buffer + length);
            lengths_[channel].push_back(length);
            if (scribbleTrailing) {
                const uint32_t samples = device_.bufferSamples * widthOf(device_.inputs[channel].format);
                for (uint32_t i = samples; i < length; ++i) buffer[i] = 0xFF;
            }
        }
        if (onCall) onCall();

        busy = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            threads_.insert(std::this_thread::get_id());
            ++(input != 0 ? inCalls_ : outCalls_)[channel];
            ++totalCalls_;
        }
        --inFlight_;
        done_.notify_all();
        return length;
    }

    asiosim::DeviceConfig device_;
    Signal signal_;
    std::vector<std::atomic<uint64_t>> outCalls_;
    std::vector<std::atomic<uint64_t>> inCalls_;
    std::vector<std::atomic<bool>> busy_;
    std::vector<std::vector<unsigned char>> captured_;  // each only touched by its channel's callback
    std::vector<std::vector<uint32_t>> lengths_;
    std::atomic<bool> overlapped_{false};
    std::atomic<int> inFlight_{0};
    std::mutex mutex_;
    std::condition_variable done_;
    std::set<std::thread::id> threads_;
    uint64_t totalCalls_ = 0;
};

}  // namespace simtest

namespace simtest {

// Enables every channel of the open device on the recorder.
template <typename Lib>
void enableAll(Lib& lib, const asiosim::DeviceConfig& device, Recorder& recorder) {
    for (uint32_t ch = 0; ch < device.outputs.size(); ++ch) lib.channelEnable(0, ch, &Recorder::proc, &recorder);
    for (uint32_t ch = 0; ch < device.inputs.size(); ++ch) lib.channelEnable(1, ch, &Recorder::proc, &recorder);
}

inline std::vector<uint32_t> allChannels(size_t count) {
    std::vector<uint32_t> channels;
    for (uint32_t ch = 0; ch < count; ++ch) channels.push_back(ch);
    return channels;
}

}  // namespace simtest
