// The streaming run of a simulated device. Samples travel as doubles scaled
// to full scale = 1.0: scaling by a power of two is exact in double, so equal
// formats pass bit for bit and widths convert by full scale.
#include "engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace asiosim {

namespace {

thread_local bool tlsEngineThread = false;

bool isInteger(uint32_t format) { return format >= 16 && format <= 18; }

// SplitMix64: small, and the same on every platform and standard library,
// unlike the std distributions.
uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [-1, 1).
double nextUniform(uint64_t& state) {
    return std::ldexp(static_cast<double>(nextRandom(state) >> 11), -52) - 1.0;
}

}  // namespace

uint32_t sampleWidth(uint32_t format) {
    switch (format) {
        case 16: return 2;
        case 17: return 3;
        default: return 4;
    }
}

double readSample(uint32_t format, const unsigned char* p) {
    if (format == 19) {
        uint32_t bits = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    if (!isInteger(format)) return 0.0;
    const uint32_t width = sampleWidth(format);
    uint32_t bits = 0;
    for (uint32_t i = 0; i < width; ++i) bits |= uint32_t{p[i]} << (8 * i);
    const uint32_t shift = 32 - 8 * width;  // sign-extend through the top of the word
    const auto value = static_cast<int32_t>(bits << shift) >> shift;
    return std::ldexp(static_cast<double>(value), -static_cast<int>(8 * width - 1));
}

void writeSample(uint32_t format, unsigned char* p, double value) {
    if (format == 19) {
        const auto f = static_cast<float>(value);
        uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(bits >> (8 * i));
        return;
    }
    const uint32_t width = sampleWidth(format);
    if (!isInteger(format)) {
        std::memset(p, 0, width);
        return;
    }
    const double full = width == 2 ? 32768.0 : width == 3 ? 8388608.0 : 2147483648.0;
    double x = std::round(value * full);
    if (std::isnan(x)) x = 0.0;
    x = std::min(std::max(x, -full), full - 1.0);
    const auto bits = static_cast<uint32_t>(static_cast<int64_t>(x));
    for (uint32_t i = 0; i < width; ++i) p[i] = static_cast<unsigned char>(bits >> (8 * i));
}

bool onEngineThread() { return tlsEngineThread; }

void markEngineThread() { tlsEngineThread = true; }

void Barrier::arriveAndWait() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t generation = generation_;
    if (++waiting_ == count_) {
        waiting_ = 0;
        ++generation_;
        cv_.notify_all();
        return;
    }
    cv_.wait(lock, [&] { return generation_ != generation; });
}

namespace {

size_t threadsFor(const DeviceConfig& device, size_t outputs, size_t inputs) {
    const size_t busiest = std::max<size_t>(std::max(outputs, inputs), 1);
    return std::min<size_t>(device.callbackThreads, busiest);
}

size_t enabledCount(const std::vector<Binding>& bindings) {
    return static_cast<size_t>(
        std::count_if(bindings.begin(), bindings.end(), [](const Binding& b) { return b.proc != nullptr; }));
}

}  // namespace

Engine::Engine(const DeviceConfig& device, const std::vector<Binding>& outputs, const std::vector<Binding>& inputs)
    : device_(device),
      threadCount_(threadsFor(device, enabledCount(outputs), enabledCount(inputs))),
      tickStart_(threadCount_),
      outputsDone_(threadCount_),
      tickEnds_(threadCount_) {
    const size_t samples = device.bufferSamples;

    // Index of each channel's slot, so routes can point at their source.
    std::vector<size_t> outputSlot(outputs.size(), SIZE_MAX);
    outputs_.reserve(outputs.size());
    for (size_t ch = 0; ch < outputs.size() && ch < device.outputs.size(); ++ch) {
        if (outputs[ch].proc == nullptr) continue;
        OutputSlot slot;
        slot.channel = static_cast<uint32_t>(ch);
        slot.format = device.outputs[ch].format;
        slot.binding = outputs[ch];
        slot.buffer.assign(samples * sampleWidth(slot.format), 0);
        outputSlot[ch] = outputs_.size();
        outputs_.push_back(std::move(slot));
    }

    inputs_.reserve(inputs.size());
    for (size_t ch = 0; ch < inputs.size() && ch < device.inputs.size(); ++ch) {
        if (inputs[ch].proc == nullptr) continue;
        InputSlot slot;
        slot.channel = static_cast<uint32_t>(ch);
        slot.format = device.inputs[ch].format;
        slot.binding = inputs[ch];
        slot.buffer.assign(samples * sampleWidth(slot.format) + device.trailingBytes, 0);
        slot.mix.assign(samples, 0.0);
        slot.noiseState = device.seed ^ (0xD1B54A32D192ED03ull * (ch + 1));
        for (const RouteConfig& route : device.routes) {
            if (route.to != ch || route.from >= outputSlot.size() || outputSlot[route.from] == SIZE_MAX) continue;
            OutputSlot& source = outputs_[outputSlot[route.from]];
            // The ring must hold the current buffer and everything `latency` behind it.
            source.history.resize(std::max(source.history.size(), samples + route.latency), 0.0);
            slot.routes.push_back({&source, route.latency, route.gain});
        }
        inputs_.push_back(std::move(slot));
    }
}

Engine::~Engine() { stop(); }

void Engine::start() {
    stopRequested_ = false;
    quit_ = false;
    try {
        threads_.emplace_back([this] { clockLoop(); });
        for (size_t w = 1; w < threadCount_; ++w) threads_.emplace_back([this, w] { workerLoop(w); });
    } catch (...) {
        stop();
        throw;
    }
}

bool Engine::stop() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
    return true;
}

std::chrono::steady_clock::time_point Engine::deadline(uint64_t tick) const {
    using namespace std::chrono;
    // Offset of tick k: k * bufferSamples / sampleRate seconds, split so the
    // product cannot overflow.
    const uint64_t samples = tick * device_.bufferSamples;
    const uint64_t rate = device_.sampleRate;
    const uint64_t ns = samples / rate * 1000000000ull + samples % rate * 1000000000ull / rate;
    return runStart_ + duration_cast<steady_clock::duration>(nanoseconds(ns));
}

bool Engine::waitUntilDeadline(uint64_t tick) {
    const auto due = deadline(tick);
    std::unique_lock<std::mutex> lock(wakeMutex_);
    return !wake_.wait_until(lock, due, [&] { return stopRequested_.load(); });
}

// A tick ends when the last thread finishes its share of it.
void Engine::closeTick(uint64_t tick, std::chrono::steady_clock::time_point began) {
    auto end = tickEnds_[0].at;
    for (const TickEnd& e : tickEnds_) end = std::max(end, e.at);
    ticks_.maxNs = std::max(
        ticks_.maxNs,
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - began).count()));
    if (device_.clock == Clock::Realtime && end > deadline(tick + 1)) ++ticks_.late;
}

void Engine::clockLoop() {
    using std::chrono::steady_clock;
    tlsEngineThread = true;
    runStart_ = steady_clock::now();
    steady_clock::time_point began;  // of the latest tick
    uint64_t tick = 0;
    for (;; ++tick) {
        if (device_.maxTicks != 0 && tick >= device_.maxTicks) {
            std::unique_lock<std::mutex> lock(wakeMutex_);
            wake_.wait(lock, [&] { return stopRequested_.load(); });
            break;
        }
        if (device_.clock == Clock::Realtime) {
            if (!waitUntilDeadline(tick)) break;
        } else if (stopRequested_.load()) {
            break;
        }
        if (threadCount_ > 1) {
            currentTick_ = tick;
            tickStart_.arriveAndWait();
            // Past this barrier every worker has finished the previous tick.
            // None writes its end of this one before the outputsDone_
            // barrier, which this thread reaches only after reading.
            if (tick > 0) closeTick(tick - 1, began);
        }
        // Taken after the barrier: until then the workers may still be busy
        // with the previous tick.
        began = steady_clock::now();
        runTick(0, tick);
        if (threadCount_ == 1) closeTick(tick, began);
    }
    ticks_.count = tick;
    if (threadCount_ > 1) {
        quit_ = true;
        tickStart_.arriveAndWait();
        if (tick > 0) closeTick(tick - 1, began);
    }
}

void Engine::workerLoop(size_t worker) {
    tlsEngineThread = true;
    for (;;) {
        tickStart_.arriveAndWait();
        if (quit_.load()) return;
        runTick(worker, currentTick_);
    }
}

// Worker w serves every threadCount_-th enabled channel. The next tick's
// tickStart_ is the barrier that closes this one.
void Engine::runTick(size_t worker, uint64_t tick) {
    const uint64_t position = tick * device_.bufferSamples;
    for (size_t i = worker; i < outputs_.size(); i += threadCount_) processOutput(outputs_[i], position);
    if (threadCount_ > 1) outputsDone_.arriveAndWait();
    for (size_t i = worker; i < inputs_.size(); i += threadCount_) processInput(inputs_[i], position);
    tickEnds_[worker].at = std::chrono::steady_clock::now();
}

void Engine::processOutput(OutputSlot& out, uint64_t position) {
    std::fill(out.buffer.begin(), out.buffer.end(), static_cast<unsigned char>(0));
    ++out.calls;
    const auto began = std::chrono::steady_clock::now();
    out.binding.proc(0, out.channel, out.buffer.data(), static_cast<uint32_t>(out.buffer.size()), out.binding.user);
    const auto took = std::chrono::steady_clock::now() - began;
    out.durations.record(took);
    noteMinute(out.minuteMaxNs, position, took);
    if (out.history.empty()) return;
    const size_t size = out.history.size();
    const uint32_t width = sampleWidth(out.format);
    size_t h = static_cast<size_t>(position % size);
    for (uint32_t n = 0; n < device_.bufferSamples; ++n) {
        out.history[h] = readSample(out.format, &out.buffer[n * width]);
        if (++h == size) h = 0;
    }
}

void Engine::processInput(InputSlot& in, uint64_t position) {
    const uint32_t width = sampleWidth(in.format);
    const size_t sampleBytes = size_t{device_.bufferSamples} * width;
    if (in.format == 19 || isInteger(in.format)) {
        if (in.routes.empty()) std::fill(in.mix.begin(), in.mix.end(), 0.0);
        for (size_t r = 0; r < in.routes.size(); ++r) {
            // Slots behind the start of the run are still zero: silence.
            const InputRoute& route = in.routes[r];
            const std::vector<double>& ring = route.source->history;
            const size_t size = ring.size();
            size_t h = static_cast<size_t>((position % size + size - route.latency) % size);
            // The first route sets rather than adds, so a float -0.0 keeps its sign.
            for (double& sample : in.mix) {
                const double value = route.gain * ring[h];
                sample = r == 0 ? value : sample + value;
                if (++h == size) h = 0;
            }
        }
        if (device_.noise > 0.0)
            for (double& sample : in.mix) sample += device_.noise * nextUniform(in.noiseState);
        if (in.routes.empty() && device_.noise <= 0.0 && in.format != 19)
            std::memset(in.buffer.data(), 0, sampleBytes);  // silence, whatever the width
        else
            for (uint32_t n = 0; n < device_.bufferSamples; ++n) writeSample(in.format, &in.buffer[n * width], in.mix[n]);
    } else {
        std::memset(in.buffer.data(), 0, sampleBytes);
    }
    std::memset(in.buffer.data() + sampleBytes, 0, in.buffer.size() - sampleBytes);
    ++in.calls;
    const auto began = std::chrono::steady_clock::now();
    in.binding.proc(1, in.channel, in.buffer.data(), static_cast<uint32_t>(in.buffer.size()), in.binding.user);
    const auto took = std::chrono::steady_clock::now() - began;
    in.durations.record(took);
    noteMinute(in.minuteMaxNs, position, took);
}

void Engine::noteMinute(std::vector<uint64_t>& maxima, uint64_t position, std::chrono::steady_clock::duration took) const {
    const uint64_t minute = std::min<uint64_t>(position / (uint64_t{device_.sampleRate} * 60), kTimedMinutes - 1);
    const auto ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
    if (ns > maxima[minute]) maxima[minute] = ns;
}

std::vector<ChannelTiming> Engine::channelTimings() const {
    std::vector<ChannelTiming> timings;
    const uint64_t samplesPerMinute = uint64_t{device_.sampleRate} * 60;
    const auto add = [&](bool input, uint32_t channel, uint64_t calls, size_t length, const DurationHistogram& d,
                         const std::vector<uint64_t>& minutes) {
        ChannelTiming timing{input, channel, calls, calls * length, d.maxNs(), d.percentileNs(99), {}};
        if (calls > 0) {
            const uint64_t last = (calls - 1) * device_.bufferSamples / samplesPerMinute;
            const auto reached = static_cast<std::ptrdiff_t>(std::min<uint64_t>(last + 1, kTimedMinutes));
            timing.minuteMaxNs.assign(minutes.begin(), minutes.begin() + reached);
        }
        timings.push_back(std::move(timing));
    };
    for (const OutputSlot& out : outputs_)
        add(false, out.channel, out.calls, out.buffer.size(), out.durations, out.minuteMaxNs);
    for (const InputSlot& in : inputs_) add(true, in.channel, in.calls, in.buffer.size(), in.durations, in.minuteMaxNs);
    return timings;
}

TickTiming Engine::tickTiming() const {
    TickTiming ticks = ticks_;
    ticks.sampleRate = device_.sampleRate;
    ticks.bufferSamples = device_.bufferSamples;
    return ticks;
}

}  // namespace asiosim
