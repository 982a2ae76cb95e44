// The signal path of the simulated device: sample conversions, the loopback
// with latency, gain and summing, buffer shapes, noise, and the clock and
// callback threads that drive it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "engine.h"
#include "harness.h"
#include "library.h"

using asiosim::DeviceConfig;
using asiosim::Library;
using asiosim::RouteConfig;
using simtest::Recorder;

namespace {

struct Conversion {
    uint32_t from;
    uint32_t fromBits;
    uint32_t to;
    int64_t expected;  // sign-extended integer, or the float's bits
};

void PrintTo(const Conversion& c, std::ostream* os) {
    *os << c.from << ":" << c.fromBits << " -> " << c.to;
}

class SampleConversion : public testing::TestWithParam<Conversion> {};

TEST_P(SampleConversion, ScalesByFullScaleRoundsAndClips) {
    const Conversion c = GetParam();
    unsigned char in[4] = {};
    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    for (int i = 0; i < 4; ++i) in[i] = static_cast<unsigned char>(c.fromBits >> (8 * i));
    asiosim::writeSample(c.to, out, asiosim::readSample(c.from, in));

    const uint32_t width = asiosim::sampleWidth(c.to);
    uint64_t bits = 0;
    for (uint32_t i = 0; i < width; ++i) bits |= uint64_t{out[i]} << (8 * i);
    const int64_t got = c.to == 19 ? static_cast<int64_t>(bits) : simtest::signExtend(bits, width);
    EXPECT_EQ(got, c.expected);
    for (uint32_t i = width; i < 4; ++i) EXPECT_EQ(out[i], 0xAA) << "wrote past the sample";
}

INSTANTIATE_TEST_SUITE_P(
    Table, SampleConversion,
    testing::Values(
        // 16 -> 24 bit: exact, by 256
        Conversion{16, 0x7FFF, 17, 8388352}, Conversion{16, 0x8000, 17, -8388608}, Conversion{16, 0xFFFF, 17, -256},
        // 24 -> 16 bit: half away from zero, clipped after rounding
        Conversion{17, 127, 16, 0}, Conversion{17, 128, 16, 1}, Conversion{17, 0xFFFF80, 16, -1},
        Conversion{17, 0xFFFE80, 16, -2}, Conversion{17, 0x7FFFFF, 16, 32767}, Conversion{17, 0x800000, 16, -32768},
        // equal formats pass unchanged, whatever the bits
        Conversion{18, 0x80000000, 18, INT32_MIN}, Conversion{18, 0x12345679, 18, 0x12345679},
        Conversion{17, 0xFFFFFF, 17, -1},
        Conversion{18, 0x7FFFFFFF, 16, 32767},
        // float: full scale 1.0, clipped only when the target is an integer
        Conversion{19, simtest::floatBits(0.5f), 16, 16384}, Conversion{19, simtest::floatBits(1.5f), 16, 32767},
        Conversion{19, simtest::floatBits(-2.0f), 17, -8388608},
        Conversion{16, 0x8000, 19, simtest::floatBits(-1.0f)},
        Conversion{19, simtest::floatBits(1.75f), 19, simtest::floatBits(1.75f)},
        // unknown codes: silence both ways
        Conversion{7, 0x12345678, 18, 0}, Conversion{18, 0x12345678, 99, 0}));

// Pseudo-random full-range bits, different on every channel and sample.
uint32_t noiseBits(uint32_t channel, uint64_t n) {
    uint64_t z = n * 0x9E3779B97F4A7C15ull + channel * 0xBF58476D1CE4E5B9ull + 1;
    z = (z ^ (z >> 31)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>(z >> 29);
}

void runToEnd(Library& lib, const DeviceConfig& dev, Recorder& rec) {
    ASSERT_EQ(lib.init(0, 0), 1u);
    simtest::enableAll(lib, dev, rec);
    ASSERT_EQ(lib.start(0, 32), 1u);
    rec.waitForInputs(simtest::allChannels(dev.inputs.size()), dev.maxTicks);
    ASSERT_EQ(lib.stop(), 1u);
    ASSERT_EQ(lib.free(), 1u);
}

TEST(Loopback, PassesSamplesBitForBitAfterTheRouteLatency) {
    // Latencies that are not whole buffers, one longer than a buffer.
    DeviceConfig dev = simtest::testDevice({18, 18}, {18, 18}, {{0, 0, 100, 1.0}, {1, 1, 3, 1.0}});
    Library lib({dev}, "");
    Recorder rec(dev, noiseBits);
    runToEnd(lib, dev, rec);

    const uint32_t latency[] = {100, 3};
    for (uint32_t ch = 0; ch < 2; ++ch) {
        ASSERT_EQ(rec.inputSamples(ch), 6u * 64u);
        for (size_t n = 0; n < rec.inputSamples(ch); ++n) {
            const int64_t expected = n < latency[ch] ? 0 : static_cast<int32_t>(noiseBits(ch, n - latency[ch]));
            ASSERT_EQ(rec.inputSample(ch, n), expected) << "channel " << ch << " sample " << n;
        }
    }
}

TEST(Loopback, ConvertsBetweenWidths) {
    // 16 -> 24 bit and 24 -> 16 bit, with rounding and clipping.
    const std::vector<int32_t> out16 = {0, 1, -1, 32767, -32768};
    const std::vector<int64_t> in24 = {0, 256, -256, 8388352, -8388608};
    const std::vector<int32_t> out24 = {127, 128, -128, -384, 8388607, -8388608};
    const std::vector<int64_t> in16 = {0, 1, -1, -2, 32767, -32768};

    DeviceConfig dev = simtest::testDevice({16, 17}, {17, 16}, {{0, 0, 0, 1.0}, {1, 1, 0, 1.0}}, 30, 2);
    Library lib({dev}, "");
    Recorder rec(dev, [&](uint32_t ch, uint64_t n) {
        return static_cast<uint32_t>(ch == 0 ? out16[n % out16.size()] : out24[n % out24.size()]);
    });
    runToEnd(lib, dev, rec);

    for (size_t n = 0; n < rec.inputSamples(0); ++n) {
        ASSERT_EQ(rec.inputSample(0, n), in24[n % in24.size()]) << n;
        ASSERT_EQ(rec.inputSample(1, n), in16[n % in16.size()]) << n;
    }
}

TEST(Loopback, AppliesGainAndSumsRoutes) {
    // Input 0 hears output 0 at half gain plus output 1 unchanged; output 2
    // is routed in too but never enabled, so it adds silence.
    const std::vector<int32_t> a = {3, -3, INT32_MAX, INT32_MIN, 1000};
    const std::vector<int32_t> b = {0, 0, INT32_MAX, INT32_MIN, -500};
    const std::vector<int64_t> sum = {2, -2, INT32_MAX, INT32_MIN, 0};

    DeviceConfig dev = simtest::testDevice({18, 18, 18}, {18}, {{0, 0, 0, 0.5}, {1, 0, 0, 1.0}, {2, 0, 0, 1.0}}, 5, 3);
    Library lib({dev}, "");
    Recorder rec(dev, [&](uint32_t ch, uint64_t n) {
        return static_cast<uint32_t>(ch == 0 ? a[n % 5] : b[n % 5]);
    });
    ASSERT_EQ(lib.init(0, 0), 1u);
    lib.channelEnable(0, 0, &Recorder::proc, &rec);
    lib.channelEnable(0, 1, &Recorder::proc, &rec);
    lib.channelEnable(1, 0, &Recorder::proc, &rec);
    ASSERT_EQ(lib.start(0, 32), 1u);
    rec.waitForInputs({0}, 3);
    lib.stop();

    ASSERT_EQ(rec.inputSamples(0), 15u);
    for (size_t n = 0; n < 15; ++n) ASSERT_EQ(rec.inputSample(0, n), sum[n % 5]) << n;
}

TEST(Loopback, FloatIsNotClipped) {
    // int16 at gain 2 into a float input, and float to float unchanged.
    DeviceConfig dev = simtest::testDevice({16, 19}, {19, 19}, {{0, 0, 0, 2.0}, {1, 1, 0, 1.0}}, 4, 2);
    Library lib({dev}, "");
    const float floats[] = {1.75f, -3.0f, 0.1f, -0.0f};
    Recorder rec(dev, [&](uint32_t ch, uint64_t n) { return ch == 0 ? 32767u : simtest::floatBits(floats[n % 4]); });
    runToEnd(lib, dev, rec);

    for (size_t n = 0; n < rec.inputSamples(0); ++n) {
        EXPECT_EQ(simtest::bitsFloat(static_cast<uint32_t>(rec.inputSample(0, n))), 32767.0f / 16384.0f);
        EXPECT_EQ(rec.inputSample(1, n), simtest::floatBits(floats[n % 4]));
    }
}

TEST(Loopback, UnknownFormatsCarrySilence) {
    DeviceConfig dev = simtest::testDevice({42, 18}, {18, 42}, {{0, 0, 0, 1.0}, {1, 1, 0, 1.0}}, 16, 2);
    dev.noise = 0.5;  // not even noise reaches an unknown format
    Library lib({dev}, "");
    Recorder rec(dev, [](uint32_t, uint64_t) { return 0x7FFFFFFFu; });
    runToEnd(lib, dev, rec);

    EXPECT_EQ(rec.lengths(0).front(), 64u);
    EXPECT_EQ(rec.lengths(1).front(), 64u);
    for (size_t n = 0; n < rec.inputSamples(0); ++n)
        EXPECT_LE(std::llabs(rec.inputSample(0, n)), static_cast<int64_t>(0.5 * 2147483648.0));
    EXPECT_EQ(rec.bytes(1), std::vector<unsigned char>(2 * 64, 0));
}

TEST(Loopback, TrailingBytesFollowEveryInputBufferAndStayZero) {
    DeviceConfig dev = simtest::testDevice({17}, {17}, {{0, 0, 0, 1.0}}, 10, 4);
    dev.trailingBytes = 5;
    Library lib({dev}, "");
    Recorder rec(dev, [](uint32_t, uint64_t n) { return static_cast<uint32_t>(n + 1); });
    rec.scribbleTrailing = true;
    runToEnd(lib, dev, rec);

    ASSERT_EQ(rec.lengths(0), std::vector<uint32_t>(4, 10 * 3 + 5));
    for (size_t buffer = 0; buffer < 4; ++buffer)
        for (size_t i = 30; i < 35; ++i) EXPECT_EQ(rec.bytes(0)[buffer * 35 + i], 0) << buffer;
    for (size_t n = 0; n < 40; ++n) ASSERT_EQ(rec.inputSample(0, n), static_cast<int64_t>(n + 1));
}

TEST(Loopback, WhatAnOutputCallbackLeavesUnwrittenIsSilence) {
    DeviceConfig dev = simtest::testDevice({18}, {18}, {{0, 0, 0, 1.0}}, 8, 4);
    Library lib({dev}, "");
    Recorder rec(dev, noiseBits);
    // Whole buffers and partial ones in turn, so leftovers would show.
    rec.samplesWritten = [](uint64_t buffer) { return buffer % 2 == 0 ? 8u : 3u; };
    runToEnd(lib, dev, rec);
    for (size_t n = 0; n < rec.inputSamples(0); ++n) {
        const bool written = n / 8 % 2 == 0 || n % 8 < 3;
        ASSERT_EQ(rec.inputSample(0, n), written ? static_cast<int32_t>(noiseBits(0, n)) : 0) << n;
    }
}

TEST(Loopback, MaxTicksGivesExactlyThatManyBuffersPerChannel) {
    DeviceConfig dev = simtest::testDevice({18, 18}, {18, 18}, {}, 8, 7);
    Library lib({dev}, "");
    Recorder rec(dev, noiseBits);
    runToEnd(lib, dev, rec);
    for (uint32_t ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(rec.outputCalls(ch), 7u);
        EXPECT_EQ(rec.inputCalls(ch), 7u);
    }
}

TEST(Noise, IsBoundedSeededPerChannelAndRestartsWithEachRun) {
    // Two runs on one open device: each starts from silence and sample 0, so
    // the captures match; the channels' noise differs.
    DeviceConfig dev = simtest::testDevice({18}, {18, 18}, {{0, 0, 10, 1.0}}, 32, 4);
    dev.noise = 0.001;
    dev.seed = 7;
    Library lib({dev}, "");
    ASSERT_EQ(lib.init(0, 0), 1u);
    std::vector<std::vector<unsigned char>> runs[2];
    for (auto& run : runs) {
        Recorder rec(dev, [](uint32_t, uint64_t n) { return static_cast<uint32_t>(n * 1000000); });
        simtest::enableAll(lib, dev, rec);
        ASSERT_EQ(lib.start(0, 32), 1u);
        rec.waitForInputs({0, 1}, 4);
        ASSERT_EQ(lib.stop(), 1u);

        const double bound = 0.001 * 2147483648.0 + 0.5;  // after rounding
        std::vector<int64_t> noise[2];
        for (size_t n = 0; n < rec.inputSamples(0); ++n) {
            const int64_t signal = n < 10 ? 0 : static_cast<int32_t>((n - 10) * 1000000);
            noise[0].push_back(rec.inputSample(0, n) - signal);
            noise[1].push_back(rec.inputSample(1, n));  // input 1 has no route: noise alone
            ASSERT_LE(static_cast<double>(std::llabs(noise[0].back())), bound) << n;
            ASSERT_LE(static_cast<double>(std::llabs(noise[1].back())), bound) << n;
        }
        EXPECT_NE(noise[0], std::vector<int64_t>(noise[0].size(), 0));
        EXPECT_NE(noise[0], noise[1]);
        run = {rec.bytes(0), rec.bytes(1)};
    }
    EXPECT_EQ(runs[0], runs[1]);
}

TEST(Threads, SpreadChannelsWithoutOverlapAndKeepTheTickInStep) {
    // Latency 0: each input must see its output's current buffer, which holds
    // only if every output callback finished before the mix.
    std::vector<RouteConfig> routes;
    for (uint32_t ch = 0; ch < 6; ++ch) routes.push_back({ch, 5 - ch, 0, 1.0});
    DeviceConfig dev = simtest::testDevice(std::vector<uint32_t>(6, 18), std::vector<uint32_t>(6, 18), routes, 16, 40);
    dev.callbackThreads = 4;
    Library lib({dev}, "");
    Recorder rec(dev, noiseBits);
    runToEnd(lib, dev, rec);

    EXPECT_FALSE(rec.overlapped());
    EXPECT_EQ(rec.threadCount(), 4u);
    for (uint32_t in = 0; in < 6; ++in) {
        ASSERT_EQ(rec.inputCalls(in), 40u);
        for (size_t n = 0; n < rec.inputSamples(in); ++n)
            ASSERT_EQ(rec.inputSample(in, n), static_cast<int32_t>(noiseBits(5 - in, n))) << in << " " << n;
    }
}

TEST(Threads, RealtimeClockTicks) {
    DeviceConfig dev = simtest::testDevice({18}, {18}, {{0, 0, 0, 1.0}}, 48, 5);
    dev.clock = asiosim::Clock::Realtime;  // 1 ms buffers
    Library lib({dev}, "");
    Recorder rec(dev, noiseBits);
    runToEnd(lib, dev, rec);
    EXPECT_EQ(rec.inputCalls(0), 5u);
}

// How a run ends; a configured failure changes only the result.
struct Ending {
    const char* name;
    bool failStop;
    bool failFree;
    bool useFree;
};

void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

class RunEnding : public testing::TestWithParam<Ending> {};

TEST_P(RunEnding, NoCallbackRunsOnceTheCallReturns) {
    const Ending e = GetParam();
    DeviceConfig dev = simtest::testDevice({18, 18, 18}, {18, 18, 18}, {{0, 0, 0, 1.0}}, 16, 0);
    dev.callbackThreads = 2;
    dev.fail.stop = e.failStop;
    if (e.failFree) dev.fail.free = {1};
    Library lib({dev}, "");
    Recorder rec(dev, noiseBits);
    // Slow callbacks, so the call almost surely lands in the middle of a tick.
    rec.onCall = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    ASSERT_EQ(lib.init(0, 0), 1u);
    simtest::enableAll(lib, dev, rec);
    ASSERT_EQ(lib.start(0, 32), 1u);
    rec.waitForAnyCalls(20);

    const uint32_t result = e.useFree ? lib.free() : lib.stop();
    EXPECT_EQ(rec.inFlight(), 0);
    const uint64_t calls = rec.totalCalls();
    EXPECT_EQ(result, (e.useFree ? e.failFree : e.failStop) ? 0u : 1u);
    // Freewheeling threads left behind would add calls within this pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(rec.totalCalls(), calls);
    EXPECT_FALSE(rec.overlapped());
}

INSTANTIATE_TEST_SUITE_P(Calls, RunEnding,
                         testing::Values(Ending{"Stop", false, false, false}, Ending{"FailingStop", true, false, false},
                                         Ending{"Free", false, false, true}, Ending{"FailingFree", false, true, true}),
                         [](const testing::TestParamInfo<Ending>& param) { return std::string(param.param.name); });

}  // namespace
