// The two channel callbacks per buffer size and sample width, beside a memcpy
// of the same bytes: the least any callback that moves a buffer can cost.
// Also the cost of writing fresh memory, which every recorded value needs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/mman.h>

#include "bench_support.h"

namespace {

const std::vector<int64_t> kBufferSamples{32, 64, 128, 256, 512, 1024, 2048};
const std::vector<int64_t> kWidths{2, 3, 4};

// The capture list grows without end in the program; past this many values
// the benchmark empties it (and rewinds the file), outside the timing.
constexpr uint64_t kRecycleValues = uint64_t{1} << 22;  // 8 MB of values

std::vector<uint8_t> noiseBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    uint64_t state = 7;
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(bench::nextRandom(state));
    return bytes;
}

void setSamples(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_memcpy(benchmark::State& state) {
    const auto length = static_cast<size_t>(state.range(0) * state.range(1));
    const std::vector<uint8_t> source = noiseBytes(length);
    std::vector<uint8_t> target(length);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), length);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    setSamples(state);
}

// Writing memory the process has not touched yet, as the capture list does
// with every new chunk: the page faults, not the copy, set its cost. Counted
// per 2-byte value.
void BM_newMemory(benchmark::State& state) {
    constexpr size_t kBytes = size_t{8} << 20;
    for (auto _ : state) {
        // Mapped and unmapped each time: malloc would hand back warm memory.
        void* memory = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            state.SkipWithError("out of memory");
            break;
        }
        std::memset(memory, 1, kBytes);
        benchmark::DoNotOptimize(memory);
        benchmark::ClobberMemory();
        munmap(memory, kBytes);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes / 2));
}

void BM_playbackProc(benchmark::State& state) {
    const auto width = static_cast<uint32_t>(state.range(1));
    const auto length = static_cast<uint32_t>(state.range(0)) * width;
    ChannelStream* stream = bench::quietRecord(0, false, width);
    std::vector<uint8_t> buffer(length);
    for (auto _ : state) {
        benchmark::DoNotOptimize(playbackProc(0, 0, buffer.data(), length, stream));
        benchmark::ClobberMemory();
    }
    setSamples(state);
    bench::releaseRecords({stream});
}

void BM_captureProc(benchmark::State& state) {
    const auto width = static_cast<uint32_t>(state.range(1));
    const auto length = static_cast<uint32_t>(state.range(0)) * width;
    ChannelStream* stream = bench::quietRecord(0, true, width);
    if (stream->captureFile == nullptr) {
        state.SkipWithError("capture file did not open");
        bench::releaseRecords({stream});
        return;
    }
    std::vector<uint8_t> buffer = noiseBytes(length);
    for (auto _ : state) {
        if (stream->samples.size() >= kRecycleValues) {
            state.PauseTiming();
            stream->samples.clear();
            std::rewind(stream->captureFile);
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(captureProc(1, 0, buffer.data(), length, stream));
    }
    setSamples(state);
    bench::releaseRecords({stream});
}

}  // namespace

// Rates from wall-clock time: the capture file's writes are part of the cost.
BENCHMARK(BM_playbackProc)->ArgsProduct({kBufferSamples, kWidths})->UseRealTime();
BENCHMARK(BM_captureProc)->ArgsProduct({kBufferSamples, kWidths})->UseRealTime();
BENCHMARK(BM_memcpy)->ArgsProduct({kBufferSamples, kWidths})->UseRealTime();
BENCHMARK(BM_newMemory)->MinTime(0.2)->UseRealTime();
