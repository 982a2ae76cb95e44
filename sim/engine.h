// Streaming for one run of a simulated device (and what every backend's run
// shares: the sample conversions and the Stream interface): the clock, the callback
// threads, and the signal path from the output buffers through the routes to
// the input buffers, with the sample format conversions that takes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "bassasio.h"
#include "config.h"
#include "timing.h"

namespace asiosim {

// Bytes per sample of a format code; unknown codes carry 4-byte samples.
uint32_t sampleWidth(uint32_t format);

// One sample as a fraction of full scale (a float as it is). Unknown formats
// read as silence.
double readSample(uint32_t format, const unsigned char* p);

// Writes a fraction of full scale: integers are rounded half away from zero
// and clipped, floats are stored as computed. Unknown formats get silence.
void writeSample(uint32_t format, unsigned char* p, double value);

// True on the threads that call the channel callbacks.
bool onEngineThread();
// Marks the calling thread as one that calls the channel callbacks.
void markEngineThread();

struct Binding {
    AsioChannelProc proc = nullptr;
    void* user = nullptr;
};

// A small reusable barrier (std::barrier is C++20).
class Barrier {
public:
    explicit Barrier(size_t count) : count_(count) {}
    void arriveAndWait();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t count_;
    size_t waiting_ = 0;
    uint64_t generation_ = 0;
};

// What one run measured, read once its threads have ended.
struct ChannelTiming {
    bool input = false;
    uint32_t channel = 0;
    uint64_t calls = 0;
    uint64_t bytes = 0;  // the buffer lengths the callback was given
    uint64_t maxNs = 0;
    uint64_t p99Ns = 0;  // lower bound of its histogram bucket
    // The longest call in each minute of the run (in sample time), so that
    // a long run shows whether its callbacks slow down as it goes on.
    std::vector<uint64_t> minuteMaxNs;
};

struct TickTiming {
    uint64_t count = 0;
    uint64_t late = 0;  // ended after the next tick was due; never on a freewheeling clock
    uint64_t maxNs = 0;
    uint32_t sampleRate = 0;  // the run's, for its period
    uint32_t bufferSamples = 0;
};

// A running device, simulated or not: what the library needs to end a run
// and report on it.
class Stream {
public:
    virtual ~Stream() = default;
    // Returns once no callback is running and none will be called again;
    // false when the device failed during the run.
    virtual bool stop() = 0;
    // Outputs then inputs, each in channel order. Only after stop().
    virtual std::vector<ChannelTiming> channelTimings() const = 0;
    virtual TickTiming tickTiming() const = 0;
};

// Everything a run needs is allocated on construction, so ticks allocate
// nothing. A channel with a null proc in `outputs` / `inputs` is not enabled.
class Engine final : public Stream {
public:
    // Minutes of a run whose longest callback is kept; later calls count
    // in the last one.
    static constexpr size_t kTimedMinutes = 240;

    Engine(const DeviceConfig& device, const std::vector<Binding>& outputs, const std::vector<Binding>& inputs);
    ~Engine() override;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void start();
    bool stop() override;

    std::vector<ChannelTiming> channelTimings() const override;
    TickTiming tickTiming() const override;

private:
    // One per enabled channel; it belongs to one thread for the whole run,
    // which is what keeps a channel's callback from running twice at once.
    // Cache-line aligned, so threads counting calls in neighbouring slots do
    // not contend for a line.
    struct alignas(64) OutputSlot {
        uint32_t channel = 0;
        uint32_t format = 0;
        Binding binding;
        std::vector<unsigned char> buffer;
        std::vector<double> history;  // ring of past samples; empty when no route reads it
        uint64_t calls = 0;
        DurationHistogram durations;
        std::vector<uint64_t> minuteMaxNs = std::vector<uint64_t>(kTimedMinutes);
    };
    struct InputRoute {
        const OutputSlot* source = nullptr;
        uint32_t latency = 0;
        double gain = 1.0;
    };
    struct alignas(64) InputSlot {
        uint32_t channel = 0;
        uint32_t format = 0;
        Binding binding;
        std::vector<unsigned char> buffer;
        std::vector<InputRoute> routes;
        std::vector<double> mix;
        uint64_t noiseState = 0;
        uint64_t calls = 0;
        DurationHistogram durations;
        std::vector<uint64_t> minuteMaxNs = std::vector<uint64_t>(kTimedMinutes);
    };
    // When each thread finished its share of the latest tick.
    struct alignas(64) TickEnd {
        std::chrono::steady_clock::time_point at;
    };

    void clockLoop();
    void workerLoop(size_t worker);
    void runTick(size_t worker, uint64_t tick);
    void noteMinute(std::vector<uint64_t>& maxima, uint64_t position, std::chrono::steady_clock::duration took) const;
    void processOutput(OutputSlot& out, uint64_t position);
    void processInput(InputSlot& in, uint64_t position);
    std::chrono::steady_clock::time_point deadline(uint64_t tick) const;
    bool waitUntilDeadline(uint64_t tick);  // false when asked to stop
    void closeTick(uint64_t tick, std::chrono::steady_clock::time_point began);

    const DeviceConfig& device_;
    size_t threadCount_ = 1;
    std::vector<OutputSlot> outputs_;
    std::vector<InputSlot> inputs_;

    std::vector<std::thread> threads_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> quit_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    Barrier tickStart_;
    Barrier outputsDone_;
    uint64_t currentTick_ = 0;  // written by the clock thread before tickStart_
    std::chrono::steady_clock::time_point runStart_;  // the clock thread's own
    std::vector<TickEnd> tickEnds_;                    // one per thread
    TickTiming ticks_;                                 // the clock thread's own
};

}  // namespace asiosim
