// The nine functions as a program sees them: through the shared library,
// configured by ASIOSIM_CONFIG and traced to ASIOSIM_TRACE, which the library
// reads at its first call; main() sets both before any test runs.
#include <gtest/gtest.h>

#include <cstdlib>

#include "bassasio.h"
#include "harness.h"

namespace {

simtest::TempDir* folder = nullptr;

const char* const kConfig = R"({"devices": [
  {"name": "Loop A", "clock": "freewheel", "bufferSamples": 32, "maxTicks": 5, "noise": 0,
   "outputs": [{}, {"name": "Side", "format": 16}], "inputs": [{}, {"format": 17}],
   "routes": [{"from": 0, "to": 0, "latency": 40}, {"from": 1, "to": 1, "latency": 1}]},
  {"name": "Second"}
]})";

void setVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string tracePath() { return folder->file("trace.txt"); }

TEST(SharedLibrary, ListsTheConfiguredDevices) {
    BassAsioDeviceInfo info{};
    ASSERT_EQ(BASS_ASIO_GetDeviceInfo(0, &info), 1u);
    EXPECT_STREQ(info.name, "Loop A");
    ASSERT_EQ(BASS_ASIO_GetDeviceInfo(1, &info), 1u);
    EXPECT_STREQ(info.name, "Second");
    EXPECT_EQ(BASS_ASIO_GetDeviceInfo(2, &info), 0u);
}

TEST(SharedLibrary, ControlPanelPrintsNothing) {
    ASSERT_EQ(BASS_ASIO_Init(1, 0), 1u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(BASS_ASIO_ControlPanel(), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(BASS_ASIO_Free(), 1u);
}

TEST(SharedLibrary, RunsTheLoopbackAndTracesEachCall) {
    const size_t traceBefore = simtest::readFile(tracePath()).size();
    asiosim::DeviceConfig dev = simtest::testDevice({18, 16}, {18, 17}, {}, 32, 5);
    simtest::Recorder rec(dev, [](uint32_t ch, uint64_t n) {
        return ch == 0 ? static_cast<uint32_t>(n * 0x01010101u) : static_cast<uint32_t>(n * 7 - 100);
    });

    ASSERT_EQ(BASS_ASIO_Init(0, 1), 1u);
    BassAsioChannelInfo info{};
    ASSERT_EQ(BASS_ASIO_ChannelGetInfo(0, 1, &info), 1u);
    EXPECT_STREQ(info.name, "Side");
    EXPECT_EQ(BASS_ASIO_ChannelGetFormat(1, 1), 17u);
    for (uint32_t input = 0; input < 2; ++input)
        for (uint32_t ch = 0; ch < 2; ++ch)
            ASSERT_EQ(BASS_ASIO_ChannelEnable(input, ch, &simtest::Recorder::proc, &rec), 1u);
    ASSERT_EQ(BASS_ASIO_Start(0, 32), 1u);
    rec.waitForInputs({0, 1}, 5);
    ASSERT_EQ(BASS_ASIO_Stop(), 1u);
    ASSERT_EQ(BASS_ASIO_Free(), 1u);

    ASSERT_EQ(rec.inputSamples(0), 160u);
    for (size_t n = 0; n < 160; ++n) {
        const int64_t same = n < 40 ? 0 : static_cast<int32_t>((n - 40) * 0x01010101u);
        ASSERT_EQ(rec.inputSample(0, n), same) << n;
        const int64_t widened = n < 1 ? 0 : static_cast<int16_t>((n - 1) * 7 - 100) * 256;
        ASSERT_EQ(rec.inputSample(1, n), widened) << n;
    }

    EXPECT_EQ(simtest::maskDurations(simtest::readFile(tracePath()).substr(traceBefore)),
              "BASS_ASIO_Init(0, 1) = 1\n"
              "BASS_ASIO_ChannelGetInfo(0, 1, *) = 1\n"
              "BASS_ASIO_ChannelGetFormat(1, 1) = 17\n"
              "BASS_ASIO_ChannelEnable(0, 0, *, *) = 1\n"
              "BASS_ASIO_ChannelEnable(0, 1, *, *) = 1\n"
              "BASS_ASIO_ChannelEnable(1, 0, *, *) = 1\n"
              "BASS_ASIO_ChannelEnable(1, 1, *, *) = 1\n"
              "BASS_ASIO_Start(0, 32) = 1\n"
              "BASS_ASIO_Stop() = 1\n"
              "callbacks out 0: calls=5 bytes=640 max_us=# p99_us=#\n"
              "callbacks out 1: calls=5 bytes=320 max_us=# p99_us=#\n"
              "callbacks in 0: calls=5 bytes=640 max_us=# p99_us=#\n"
              "callbacks in 1: calls=5 bytes=480 max_us=# p99_us=#\n"
              "ticks: count=5 late=0 period_us=666.7 max_tick_us=#\n"
              "BASS_ASIO_Free() = 1\n");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    simtest::TempDir dir;
    folder = &dir;
    setVariable("ASIOSIM_CONFIG", dir.write("config.json", kConfig));
    setVariable("ASIOSIM_TRACE", dir.file("trace.txt"));
    return RUN_ALL_TESTS();
}
