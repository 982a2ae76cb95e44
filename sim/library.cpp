// The library's state machine: open / enabled / running, the configured
// failures, and the trace line written as each call returns, with the timing
// of a run after the call that ended it.
#include "library.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstring>

namespace asiosim {

namespace {

template <typename T>
bool listed(const std::vector<T>& list, T value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Microseconds with one decimal. Integer arithmetic, so "12.3" reads the
// same from every C library.
std::string microseconds(uint64_t tenths) {
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// Rounded to the nearest tenth.
std::string microsecondsOfNs(uint64_t ns) { return microseconds((ns + 50) / 100); }

}  // namespace

Trace::~Trace() {
    if (file_ != nullptr) std::fclose(file_);
}

void Trace::line(const char* format, ...) {
    if (path_.empty()) return;
    char text[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    if (length < 0) return;
    auto size = std::min(static_cast<size_t>(length), sizeof text - 2);
    text[size++] = '\n';

    std::lock_guard<std::mutex> lock(mutex_);
    if (!opened_) {
        opened_ = true;
        // Binary, so the line ends in "\n" alone on every platform.
        file_ = std::fopen(path_.c_str(), "ab");
        if (file_ == nullptr) std::fprintf(stderr, "asiosim: %s: cannot open the trace file\n", path_.c_str());
    }
    if (file_ == nullptr) return;
    std::fwrite(text, 1, size, file_);
    std::fflush(file_);
}

Library::Library(std::vector<DeviceConfig> devices, std::string tracePath)
    : devices_(std::move(devices)), trace_(std::move(tracePath)) {}

Library::~Library() {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.reset();
    jack_.reset();
}

const DeviceConfig* Library::openDevice() const {
    const int open = open_.load();
    return open < 0 ? nullptr : &devices_[static_cast<size_t>(open)];
}

const ChannelConfig* Library::channelOf(uint32_t input, uint32_t channel) const {
    const DeviceConfig* device = openDevice();
    if (device == nullptr) return nullptr;
    const std::vector<ChannelConfig>& list = input != 0 ? device->inputs : device->outputs;
    return channel < list.size() ? &list[channel] : nullptr;
}

std::vector<std::string> Library::endRun(bool& ok) {
    std::vector<std::string> lines;
    // Dropped on the way out, even if formatting throws.
    const std::unique_ptr<Stream> engine = std::move(engine_);
    if (engine == nullptr) return lines;
    ok = engine->stop();
    if (trace_.enabled()) {
        char text[256];
        for (const ChannelTiming& c : engine->channelTimings()) {
            std::snprintf(text, sizeof text, "callbacks %s %" PRIu32 ": calls=%" PRIu64 " bytes=%" PRIu64
                          " max_us=%s p99_us=%s", c.input ? "in" : "out", c.channel, c.calls, c.bytes,
                          microsecondsOfNs(c.maxNs).c_str(), microsecondsOfNs(c.p99Ns).c_str());
            lines.emplace_back(text);
            // A run past its first minute also shows the longest call of each.
            if (c.minuteMaxNs.size() > 1) {
                std::string byMinute = std::string("callbacks ") + (c.input ? "in " : "out ") +
                                       std::to_string(c.channel) + " by minute: max_us=";
                for (size_t m = 0; m < c.minuteMaxNs.size(); ++m)
                    byMinute += (m == 0 ? "" : ",") + microsecondsOfNs(c.minuteMaxNs[m]);
                lines.push_back(byMinute);
            }
        }
        const TickTiming ticks = engine->tickTiming();
        const uint64_t rate = std::max<uint64_t>(ticks.sampleRate, 1);
        const uint64_t periodTenths = (uint64_t{ticks.bufferSamples} * 10000000 + rate / 2) / rate;
        std::snprintf(text, sizeof text, "ticks: count=%" PRIu64 " late=%" PRIu64 " period_us=%s max_tick_us=%s",
                      ticks.count, ticks.late, microseconds(periodTenths).c_str(),
                      microsecondsOfNs(ticks.maxNs).c_str());
        lines.emplace_back(text);
    }
    return lines;
}

uint32_t Library::getDeviceInfo(uint32_t device, BassAsioDeviceInfo* info) {
    uint32_t result = 0;
    if (info != nullptr && device < devices_.size()) {
        info->name = devices_[device].name.c_str();
        info->reserved = nullptr;
        result = 1;
    }
    trace_.line("BASS_ASIO_GetDeviceInfo(%" PRIu32 ", *) = %" PRIu32, device, result);
    return result;
}

uint32_t Library::init(uint32_t device, uint32_t flags) {
    uint32_t result = 0;
    const uint64_t call = ++initCalls_;
    if (!onEngineThread()) {
        std::lock_guard<std::mutex> lock(mutex_);
        const DeviceConfig* config = device < devices_.size() ? &devices_[device] : nullptr;
        if (config != nullptr && open_.load() < 0 && !listed(config->fail.init, call)) {
            if (config->backend == Backend::Jack) jack_ = openJackDevice(*config);
            if (config->backend != Backend::Jack || jack_ != nullptr) {
                outputs_.assign(config->outputs.size(), Binding{});
                inputs_.assign(config->inputs.size(), Binding{});
                open_ = static_cast<int>(device);
                result = 1;
            }
        }
    }
    trace_.line("BASS_ASIO_Init(%" PRIu32 ", %" PRIu32 ") = %" PRIu32, device, flags, result);
    return result;
}

uint32_t Library::controlPanel() {
    const DeviceConfig* device = openDevice();
    const uint32_t result = device != nullptr && !device->fail.controlPanel ? 1 : 0;
    trace_.line("BASS_ASIO_ControlPanel() = %" PRIu32, result);
    return result;
}

uint32_t Library::free() {
    uint32_t result = 0;
    const uint64_t call = ++freeCalls_;
    std::vector<std::string> timing;
    if (!onEngineThread()) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const DeviceConfig* device = openDevice()) {
            bool ran = true;  // a failed run does not fail the call that closes the device
            timing = endRun(ran);
            jack_.reset();
            outputs_.clear();
            inputs_.clear();
            open_ = -1;
            result = listed(device->fail.free, call) ? 0 : 1;
        }
    }
    for (const std::string& line : timing) trace_.line("%s", line.c_str());
    trace_.line("BASS_ASIO_Free() = %" PRIu32, result);
    return result;
}

uint32_t Library::channelGetInfo(uint32_t input, uint32_t channel, BassAsioChannelInfo* info) {
    uint32_t result = 0;
    const ChannelConfig* config = channelOf(input, channel);
    if (config != nullptr && info != nullptr) {
        info->reserved[0] = 0;
        info->reserved[1] = config->format;
        std::memset(info->name, 0, sizeof info->name);
        std::memcpy(info->name, config->name.data(), std::min(config->name.size(), sizeof info->name - 1));
        result = 1;
    }
    trace_.line("BASS_ASIO_ChannelGetInfo(%" PRIu32 ", %" PRIu32 ", *) = %" PRIu32, input, channel, result);
    return result;
}

uint32_t Library::channelGetFormat(uint32_t input, uint32_t channel) {
    const ChannelConfig* config = channelOf(input, channel);
    const uint32_t result = config != nullptr ? config->format : 0;
    trace_.line("BASS_ASIO_ChannelGetFormat(%" PRIu32 ", %" PRIu32 ") = %" PRIu32, input, channel, result);
    return result;
}

uint32_t Library::channelEnable(uint32_t input, uint32_t channel, AsioChannelProc proc, void* user) {
    uint32_t result = 0;
    if (!onEngineThread()) {
        std::lock_guard<std::mutex> lock(mutex_);
        const DeviceConfig* device = openDevice();
        if (device != nullptr && engine_ == nullptr && proc != nullptr && channelOf(input, channel) != nullptr) {
            const std::vector<uint32_t>& failing = input != 0 ? device->fail.enableInput : device->fail.enableOutput;
            if (!listed(failing, channel)) {
                (input != 0 ? inputs_ : outputs_)[channel] = Binding{proc, user};
                result = 1;
            }
        }
    }
    trace_.line("BASS_ASIO_ChannelEnable(%" PRIu32 ", %" PRIu32 ", *, *) = %" PRIu32, input, channel, result);
    return result;
}

uint32_t Library::start(uint32_t bufferLength, uint32_t threads) {
    uint32_t result = 0;
    if (!onEngineThread()) {
        std::lock_guard<std::mutex> lock(mutex_);
        const DeviceConfig* device = openDevice();
        if (device != nullptr && engine_ == nullptr && !device->fail.start) {
            try {
                if (jack_ != nullptr) {
                    engine_ = jack_->start(outputs_, inputs_);
                } else {
                    auto engine = std::make_unique<Engine>(*device, outputs_, inputs_);
                    engine->start();
                    engine_ = std::move(engine);
                }
                result = engine_ != nullptr ? 1 : 0;
            } catch (const std::exception&) {
                // Out of memory or threads: the device stays stopped.
            }
        }
    }
    trace_.line("BASS_ASIO_Start(%" PRIu32 ", %" PRIu32 ") = %" PRIu32, bufferLength, threads, result);
    return result;
}

uint32_t Library::stop() {
    uint32_t result = 0;
    std::vector<std::string> timing;
    if (!onEngineThread()) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const DeviceConfig* device = openDevice()) {
            bool ran = true;
            timing = endRun(ran);
            result = device->fail.stop || !ran ? 0 : 1;
        }
    }
    // The run's timing follows the call that ended it.
    trace_.line("BASS_ASIO_Stop() = %" PRIu32, result);
    for (const std::string& line : timing) trace_.line("%s", line.c_str());
    return result;
}

}  // namespace asiosim
