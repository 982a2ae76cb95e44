// The library's state machine, its configured failures and its call trace.
#include <gtest/gtest.h>

#include "harness.h"
#include "library.h"

using asiosim::DeviceConfig;
using asiosim::Library;
using simtest::Recorder;

namespace {

uint32_t BASSASIO_CALL silentProc(uint32_t, uint32_t, void*, uint32_t length, void*) { return length; }

DeviceConfig twoByTwo() { return simtest::testDevice({18, 17}, {16, 19}, {{0, 0, 0, 1.0}}, 16, 3); }

TEST(Library, CallsFollowTheOpenEnabledRunningStates) {
    DeviceConfig other = twoByTwo();
    other.name = "Other";
    Library lib({twoByTwo(), other}, "");

    // Closed: nothing but the device list answers.
    EXPECT_EQ(lib.controlPanel(), 0u);
    EXPECT_EQ(lib.channelGetFormat(0, 0), 0u);
    EXPECT_EQ(lib.channelEnable(0, 0, silentProc, nullptr), 0u);
    EXPECT_EQ(lib.start(0, 32), 0u);
    EXPECT_EQ(lib.stop(), 0u);
    EXPECT_EQ(lib.free(), 0u);
    EXPECT_EQ(lib.init(2, 0), 0u);

    ASSERT_EQ(lib.init(0, 0), 1u);
    EXPECT_EQ(lib.init(0, 0), 0u);
    EXPECT_EQ(lib.init(1, 0), 0u);
    EXPECT_EQ(lib.controlPanel(), 1u);
    EXPECT_EQ(lib.stop(), 1u) << "stopping an open device that is not running";

    EXPECT_EQ(lib.channelEnable(0, 2, silentProc, nullptr), 0u);
    EXPECT_EQ(lib.channelEnable(1, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(lib.channelEnable(0, 0, silentProc, nullptr), 1u);
    EXPECT_EQ(lib.channelEnable(1, 1, silentProc, nullptr), 1u);

    ASSERT_EQ(lib.start(0, 32), 1u);
    EXPECT_EQ(lib.start(0, 32), 0u);
    EXPECT_EQ(lib.channelEnable(0, 1, silentProc, nullptr), 0u);
    EXPECT_EQ(lib.channelGetFormat(1, 1), 19u) << "queries still answer while running";
    EXPECT_EQ(lib.stop(), 1u);
    EXPECT_EQ(lib.stop(), 1u);
    EXPECT_EQ(lib.start(0, 32), 1u) << "a stopped device starts again";
    EXPECT_EQ(lib.free(), 1u) << "Free stops a running device";
    EXPECT_EQ(lib.free(), 0u);

    ASSERT_EQ(lib.init(1, 0), 1u);
    EXPECT_EQ(lib.free(), 1u);
}

TEST(Library, DescribesDevicesAndChannels) {
    DeviceConfig dev = twoByTwo();
    dev.inputs[0].name = std::string(31, 'x');
    dev.outputs[1].format = 1234;
    Library lib({dev}, "");

    BassAsioDeviceInfo device{};
    EXPECT_EQ(lib.getDeviceInfo(0, &device), 1u);
    EXPECT_STREQ(device.name, "Test");
    EXPECT_EQ(lib.getDeviceInfo(1, &device), 0u);
    EXPECT_EQ(lib.getDeviceInfo(0, nullptr), 0u);

    BassAsioChannelInfo info{};
    EXPECT_EQ(lib.channelGetInfo(0, 0, &info), 0u) << "closed";
    ASSERT_EQ(lib.init(0, 0), 1u);
    ASSERT_EQ(lib.channelGetInfo(0, 1, &info), 1u);
    EXPECT_STREQ(info.name, "Out 2");
    EXPECT_EQ(info.reserved[0], 0u);
    EXPECT_EQ(info.reserved[1], 1234u);
    std::memset(info.name, 'z', sizeof info.name);
    ASSERT_EQ(lib.channelGetInfo(1, 0, &info), 1u);
    EXPECT_EQ(std::string(info.name), std::string(31, 'x'));
    EXPECT_EQ(lib.channelGetInfo(1, 2, &info), 0u);
    EXPECT_EQ(lib.channelGetInfo(1, 0, nullptr), 0u);

    EXPECT_EQ(lib.channelGetFormat(0, 0), 18u);
    EXPECT_EQ(lib.channelGetFormat(0, 1), 1234u);
    EXPECT_EQ(lib.channelGetFormat(1, 0), 16u);
    EXPECT_EQ(lib.channelGetFormat(1, 2), 0u);
}

TEST(Faults, InitAndFreeFailOnTheListedCallsCountedOverTheProcess) {
    DeviceConfig dev = twoByTwo();
    dev.fail.init = {2, 4};
    dev.fail.free = {2};
    Library lib({dev}, "");

    EXPECT_EQ(lib.init(5, 0), 0u);  // call 1: no such device, still counted
    EXPECT_EQ(lib.init(0, 0), 0u);  // call 2: listed
    EXPECT_EQ(lib.free(), 0u);      // free call 1: nothing open
    EXPECT_EQ(lib.init(0, 0), 1u);  // call 3
    EXPECT_EQ(lib.free(), 0u) << "free call 2 is listed";
    EXPECT_EQ(lib.init(0, 0), 0u);  // call 4: listed
    EXPECT_EQ(lib.init(0, 0), 1u) << "the failed Free closed the device all the same";
    EXPECT_EQ(lib.free(), 1u);
}

TEST(Faults, ControlPanelStartStopAndChannelsFailAsConfigured) {
    DeviceConfig dev = twoByTwo();
    dev.fail.controlPanel = true;
    dev.fail.start = true;
    dev.fail.stop = true;
    dev.fail.enableOutput = {1};
    dev.fail.enableInput = {0};
    Library lib({dev}, "");
    ASSERT_EQ(lib.init(0, 0), 1u);

    EXPECT_EQ(lib.controlPanel(), 0u);
    EXPECT_EQ(lib.channelEnable(0, 0, silentProc, nullptr), 1u);
    EXPECT_EQ(lib.channelEnable(0, 1, silentProc, nullptr), 0u);
    EXPECT_EQ(lib.channelEnable(1, 0, silentProc, nullptr), 0u);
    EXPECT_EQ(lib.channelEnable(1, 1, silentProc, nullptr), 1u);
    EXPECT_EQ(lib.start(0, 32), 0u);
    EXPECT_EQ(lib.stop(), 0u);
    EXPECT_EQ(lib.free(), 1u);
}

TEST(Library, RefusesStateChangesFromACallback) {
    // Stopping from a callback would wait for that very callback.
    DeviceConfig dev = simtest::testDevice({18}, {}, {}, 16, 1);
    Library lib({dev}, "");
    Recorder rec(dev, [](uint32_t, uint64_t) { return 0u; });
    std::vector<uint32_t> results;
    rec.onCall = [&] {
        results = {lib.stop(), lib.free(), lib.start(0, 0), lib.init(0, 0),
                   lib.channelEnable(0, 0, silentProc, nullptr), lib.channelGetFormat(0, 0)};
    };
    ASSERT_EQ(lib.init(0, 0), 1u);
    lib.channelEnable(0, 0, &Recorder::proc, &rec);
    ASSERT_EQ(lib.start(0, 0), 1u);
    rec.waitForAnyCalls(1);
    EXPECT_EQ(lib.free(), 1u);
    EXPECT_EQ(results, (std::vector<uint32_t>{0, 0, 0, 0, 0, 18}));
}

TEST(Trace, WritesOneLinePerCallAsItReturns) {
    simtest::TempDir dir;
    const std::string path = dir.write("trace.txt", "earlier line\n");
    {
        DeviceConfig dev = twoByTwo();
        dev.fail.enableInput = {1};
        Library lib({dev}, path);
        Recorder rec(dev, [](uint32_t, uint64_t) { return 0u; });
        BassAsioDeviceInfo device{};
        BassAsioChannelInfo info{};
        lib.getDeviceInfo(0, &device);
        lib.getDeviceInfo(3, nullptr);
        lib.init(0, 1);
        lib.controlPanel();
        lib.channelGetInfo(1, 0, &info);
        lib.channelGetFormat(0, 1);
        lib.channelEnable(1, 0, &Recorder::proc, &rec);
        lib.channelEnable(1, 1, silentProc, nullptr);
        lib.start(0, 32);
        rec.waitForInputs({0}, 3);
        lib.stop();
        lib.free();
        EXPECT_NE(simtest::readFile(path).find("BASS_ASIO_Free() = 1\n"), std::string::npos)
            << "each line is flushed as the call returns";
    }
    EXPECT_EQ(simtest::maskDurations(simtest::readFile(path)),
              "earlier line\n"
              "BASS_ASIO_GetDeviceInfo(0, *) = 1\n"
              "BASS_ASIO_GetDeviceInfo(3, *) = 0\n"
              "BASS_ASIO_Init(0, 1) = 1\n"
              "BASS_ASIO_ControlPanel() = 1\n"
              "BASS_ASIO_ChannelGetInfo(1, 0, *) = 1\n"
              "BASS_ASIO_ChannelGetFormat(0, 1) = 17\n"
              "BASS_ASIO_ChannelEnable(1, 0, *, *) = 1\n"
              "BASS_ASIO_ChannelEnable(1, 1, *, *) = 0\n"
              "BASS_ASIO_Start(0, 32) = 1\n"
              "BASS_ASIO_Stop() = 1\n"
              "callbacks in 0: calls=3 bytes=96 max_us=# p99_us=#\n"
              "ticks: count=3 late=0 period_us=333.3 max_tick_us=#\n"
              "BASS_ASIO_Free() = 1\n");
}

}  // namespace
