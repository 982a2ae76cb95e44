// Callback timing: the duration histogram and its percentile, and the lines
// the trace gets when a run ends.
#include <gtest/gtest.h>

#include <sstream>

#include <chrono>
#include <regex>
#include <thread>

#include "harness.h"
#include "library.h"
#include "timing.h"

using asiosim::DeviceConfig;
using asiosim::DurationHistogram;
using asiosim::Library;
using simtest::Recorder;

namespace {

using std::chrono::microseconds;
using std::chrono::nanoseconds;

struct Durations {
    const char* name;
    std::vector<std::pair<nanoseconds, uint32_t>> recorded;  // duration, times
    uint64_t p99Ns;
    uint64_t maxNs;
};

void PrintTo(const Durations& d, std::ostream* os) { *os << d.name; }

std::vector<std::pair<nanoseconds, uint32_t>> oneToHundred(nanoseconds unit) {
    std::vector<std::pair<nanoseconds, uint32_t>> values;
    for (int i = 100; i >= 1; --i) values.push_back({i * unit, 1});  // order does not matter
    return values;
}

class Percentile : public testing::TestWithParam<Durations> {};

TEST_P(Percentile, IsTheLowerBoundOfTheNearestRanksBucket) {
    const Durations d = GetParam();
    DurationHistogram histogram;
    uint64_t total = 0;
    for (const auto& [duration, times] : d.recorded) {
        for (uint32_t i = 0; i < times; ++i) histogram.record(duration);
        total += times;
    }
    EXPECT_EQ(histogram.count(), total);
    EXPECT_EQ(histogram.percentileNs(99), d.p99Ns);
    EXPECT_EQ(histogram.maxNs(), d.maxNs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Percentile,
    testing::Values(
        Durations{"Nothing", {}, 0, 0},
        Durations{"OneToHundredMicroseconds", oneToHundred(microseconds(1)), 99000, 100000},
        Durations{"OneValueIsItsOwnPercentile", {{nanoseconds(12345), 1}}, 12300, 12345},
        Durations{"OnePercentSlowIsNotThePercentile", {{microseconds(5), 990}, {microseconds(500), 10}}, 5000, 500000},
        Durations{"MoreThanOnePercentSlowIs", {{microseconds(5), 989}, {microseconds(500), 11}}, 500000, 500000},
        Durations{"BucketsAreTenthsOfAMicrosecond", {{nanoseconds(199), 98}, {nanoseconds(200), 2}}, 200, 200},
        // 1..100 ms: 99 ms lies in a bucket 409.6 µs wide starting at 98713.6 µs.
        Durations{"LongerOnesShareWiderBuckets", oneToHundred(std::chrono::milliseconds(1)), 98713600, 100000000},
        Durations{"BeyondTheLastBucket", {{std::chrono::seconds(20), 1}}, 13421772800, 20000000000}),
    [](const testing::TestParamInfo<Durations>& param) { return std::string(param.param.name); });

TEST(Percentile, BucketsTileTheRangeAndStayNarrow) {
    // From 1 ns to past the top, about 0.1% apart: each duration falls in the
    // bucket whose bounds hold it, and that bucket is no wider than 0.1 µs
    // or 1% of its start.
    size_t previous = 0;
    for (double ns = 1; ns < 2e10; ns = ns * 1.001 + 1) {
        const auto value = static_cast<uint64_t>(ns);
        const size_t bucket = DurationHistogram::bucketOf(value);
        ASSERT_GE(bucket, previous) << value;
        previous = bucket;
        const uint64_t low = DurationHistogram::lowerBoundNs(bucket);
        ASSERT_LE(low, value);
        if (bucket + 1 == DurationHistogram::kBuckets) {
            ASSERT_EQ(low, uint64_t{100} << 27);
            continue;
        }
        const uint64_t high = DurationHistogram::lowerBoundNs(bucket + 1);
        ASSERT_LT(value, high);
        ASSERT_LE(high - low, std::max<uint64_t>(100, low / 100)) << value;
    }
    EXPECT_EQ(previous, DurationHistogram::kBuckets - 1);
}

// Two outputs and three inputs, the middle input refusing to be enabled, on a
// freewheeling clock that stops after 4 ticks, so counts are exact.
DeviceConfig fiveChannels(uint32_t threads, bool failStop) {
    DeviceConfig dev = simtest::testDevice({18, 16}, {17, 18, 19}, {{0, 0, 0, 1.0}, {1, 2, 5, 0.5}}, 16, 4);
    dev.trailingBytes = 3;
    dev.callbackThreads = threads;
    dev.fail.enableInput = {1};
    dev.fail.stop = failStop;
    return dev;
}

// How the run ends, and on how many callback threads it ran.
struct RunEnd {
    const char* name;
    uint32_t threads;
    bool failStop;
    bool useFree;
};

void PrintTo(const RunEnd& e, std::ostream* os) { *os << e.name; }

class TimingTrace : public testing::TestWithParam<RunEnd> {};

TEST_P(TimingTrace, FollowsTheCallThatEndedTheRun) {
    const RunEnd e = GetParam();
    simtest::TempDir dir;
    const std::string path = dir.file("trace.txt");
    const DeviceConfig dev = fiveChannels(e.threads, e.failStop);
    {
        Library lib({dev}, path);
        Recorder rec(dev, [](uint32_t, uint64_t n) { return static_cast<uint32_t>(n); });
        ASSERT_EQ(lib.init(0, 0), 1u);
        simtest::enableAll(lib, dev, rec);
        ASSERT_EQ(lib.start(0, 32), 1u);
        rec.waitForInputs({0, 2}, 4);
        if (e.useFree) {
            lib.free();
        } else {
            lib.stop();
            lib.stop();  // nothing was running: no timing
            lib.free();
        }
    }
    const std::string timing =
        "callbacks out 0: calls=4 bytes=256 max_us=# p99_us=#\n"  // 16 samples of 4 bytes
        "callbacks out 1: calls=4 bytes=128 max_us=# p99_us=#\n"
        "callbacks in 0: calls=4 bytes=204 max_us=# p99_us=#\n"  // 16 of 3 bytes, and 3 trailing
        "callbacks in 2: calls=4 bytes=268 max_us=# p99_us=#\n"
        "ticks: count=4 late=0 period_us=333.3 max_tick_us=#\n";
    const std::string stopped = e.failStop ? "BASS_ASIO_Stop() = 0\n" : "BASS_ASIO_Stop() = 1\n";
    const std::string ending =
        e.useFree ? timing + "BASS_ASIO_Free() = 1\n" : stopped + timing + stopped + "BASS_ASIO_Free() = 1\n";
    EXPECT_EQ(simtest::maskDurations(simtest::readFile(path)),
              "BASS_ASIO_Init(0, 0) = 1\n"
              "BASS_ASIO_ChannelEnable(0, 0, *, *) = 1\n"
              "BASS_ASIO_ChannelEnable(0, 1, *, *) = 1\n"
              "BASS_ASIO_ChannelEnable(1, 0, *, *) = 1\n"
              "BASS_ASIO_ChannelEnable(1, 1, *, *) = 0\n"
              "BASS_ASIO_ChannelEnable(1, 2, *, *) = 1\n"
              "BASS_ASIO_Start(0, 32) = 1\n" +
                  ending);
}

INSTANTIATE_TEST_SUITE_P(Calls, TimingTrace,
                         testing::Values(RunEnd{"Stop", 1, false, false}, RunEnd{"FailingStop", 2, true, false},
                                         RunEnd{"Free", 3, false, true}),
                         [](const testing::TestParamInfo<RunEnd>& param) { return std::string(param.param.name); });

// Microseconds of `key` on the first trace line that starts with `prefix`.
double valueOf(const std::string& trace, const std::string& prefix, const std::string& key) {
    const std::regex pattern("(^|\n)" + prefix + "[^\n]* " + key + "=([0-9]+\\.[0-9])");
    std::smatch match;
    if (!std::regex_search(trace, match, pattern)) {
        ADD_FAILURE() << "no " << key << " on " << prefix << " in\n" << trace;
        return 0;
    }
    return std::stod(match[2].str());
}

constexpr std::chrono::milliseconds slept(20);

// Runs the device with output 1's callback taking `slept` on its call number
// `slowCall`, until input 0 has had `buffers` buffers; returns the trace.
std::string runWithOneSlowCall(const DeviceConfig& dev, int slowCall, uint64_t buffers,
                               std::vector<uint32_t> waitFor = {0}) {
    simtest::TempDir dir;
    const std::string path = dir.file("trace.txt");
    Library lib({dev}, path);
    Recorder rec(dev, [](uint32_t, uint64_t) { return 0u; });
    struct Slow {
        Recorder* rec;
        int slowCall;
        std::atomic<int> calls{0};
    } slow{&rec, slowCall};
    const AsioChannelProc slowProc = [](uint32_t input, uint32_t channel, void* buffer, uint32_t length,
                                        void* user) -> uint32_t {
        auto* s = static_cast<Slow*>(user);
        if (++s->calls == s->slowCall) std::this_thread::sleep_for(slept);
        return Recorder::proc(input, channel, buffer, length, s->rec);
    };
    EXPECT_EQ(lib.init(0, 0), 1u);
    simtest::enableAll(lib, dev, rec);
    lib.channelEnable(0, 1, slowProc, &slow);
    EXPECT_EQ(lib.start(0, 32), 1u);
    rec.waitForInputs(waitFor, buffers);
    EXPECT_EQ(lib.stop(), 1u);
    return simtest::readFile(path);
}

TEST(TimingTrace, ASlowCallbackShowsInItsChannelAndItsTick) {
    DeviceConfig dev = fiveChannels(2, false);
    dev.clock = asiosim::Clock::Realtime;  // lateness is counted on this clock
    // Output 1's second buffer takes 20 ms.
    const std::string trace = runWithOneSlowCall(dev, 2, 4, {0, 2});
    const double sleptUs = std::chrono::duration<double, std::micro>(slept).count();
    EXPECT_GE(valueOf(trace, "callbacks out 1:", "max_us"), sleptUs);
    // With 4 calls the 99th percentile is the slowest; its bucket starts
    // less than 1% below it.
    EXPECT_GE(valueOf(trace, "callbacks out 1:", "p99_us"), sleptUs * 0.99);
    EXPECT_LE(valueOf(trace, "callbacks out 1:", "p99_us"), valueOf(trace, "callbacks out 1:", "max_us"));
    EXPECT_GE(valueOf(trace, "ticks:", "max_tick_us"), sleptUs);
    EXPECT_NE(trace.find("ticks: count=4 "), std::string::npos) << trace;
}


TEST(TimingTrace, ALongRunShowsItsLongestCallMinuteByMinute) {
    // 100 samples a second in buffers of 100: 150 buffers are two and a half
    // minutes of the run's own time, run as fast as they go.
    DeviceConfig dev = simtest::testDevice({16, 16}, {16}, {}, 100, 150);
    dev.sampleRate = 100;
    // Output 1's 91st buffer (the second minute) takes 20 ms.
    const std::string trace = runWithOneSlowCall(dev, 91, 150);
    const std::string label = "callbacks out 1 by minute: max_us=";
    const size_t at = trace.find(label);
    ASSERT_NE(at, std::string::npos) << trace;
    std::istringstream minutes(trace.substr(at + label.size(), trace.find('\n', at) - at - label.size()));
    std::vector<double> maxima;
    for (std::string value; std::getline(minutes, value, ',');) maxima.push_back(std::stod(value));
    ASSERT_EQ(maxima.size(), 3u);
    const double sleptUs = std::chrono::duration<double, std::micro>(slept).count();
    EXPECT_GE(maxima[1], sleptUs);
    EXPECT_NE(trace.find("callbacks in 0 by minute: max_us="), std::string::npos);
}

}  // namespace
