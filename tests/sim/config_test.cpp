// Loading the device configuration: the built-in device, defaults for keys
// left out, and the configurations that must be refused with a message
// naming the offending value.
#include <gtest/gtest.h>

#include <cstdio>

#include "config.h"
#include "harness.h"

using asiosim::DeviceConfig;

namespace {

std::string device(const std::string& body) { return R"({"devices": [{"name": "D")" + body + "}]}"; }

struct BadConfig {
    std::string text;
    std::string error;  // the JSON parser's own messages are matched on their start only
};

void PrintTo(const BadConfig& c, std::ostream* os) { *os << c.text; }

class BadConfigs : public testing::TestWithParam<BadConfig> {};

TEST_P(BadConfigs, AreRefusedNamingTheValue) {
    asiosim::ConfigResult result = asiosim::parseConfig(GetParam().text);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.devices.empty());
    const std::string& expected = GetParam().error;
    if (expected.rfind("not valid JSON", 0) == 0)
        EXPECT_EQ(result.error.substr(0, expected.size()), expected);
    else
        EXPECT_EQ(result.error, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadConfigs,
    testing::Values(
        BadConfig{"[]", "the top level must be an object"},
        BadConfig{R"({"device": []})", "device: unknown key"},
        BadConfig{R"({"devices": {}})", "devices: must be a list"},
        BadConfig{R"({"devices": [3]})", "devices[0]: must be an object"},
        BadConfig{R"({"devices": [{}]})", "devices[0].name: missing"},
        BadConfig{R"({"devices": [{"name": 5}]})", "devices[0].name: must be a string"},
        BadConfig{device(R"(, "sampleRate": 0)"), "devices[0].sampleRate: must be an integer from 1 to 1000000"},
        BadConfig{device(R"(, "sampleRate": 48000.0)"), "devices[0].sampleRate: must be an integer from 1 to 1000000"},
        BadConfig{device(R"(, "sampleRate": "48000")"), "devices[0].sampleRate: must be an integer from 1 to 1000000"},
        BadConfig{device(R"(, "bufferSamples": 0)"), "devices[0].bufferSamples: must be an integer from 1 to 65536"},
        BadConfig{device(R"(, "bufferSamples": 1000000)"), "devices[0].bufferSamples: must be an integer from 1 to 65536"},
        BadConfig{device(R"(, "callbackThreads": 0)"), "devices[0].callbackThreads: must be an integer from 1 to 64"},
        BadConfig{device(R"(, "callbackThreads": 65)"), "devices[0].callbackThreads: must be an integer from 1 to 64"},
        BadConfig{device(R"(, "clock": "fast")"), "devices[0].clock: unknown clock \"fast\" (realtime or freewheel)"},
        BadConfig{device(R"(, "noise": 1.5)"), "devices[0].noise: must be a number from 0 to 1"},
        BadConfig{device(R"(, "noise": -0.1)"), "devices[0].noise: must be a number from 0 to 1"},
        BadConfig{device(R"(, "seed": -1)"), "devices[0].seed: must be a non-negative integer"},
        BadConfig{device(R"(, "maxTicks": true)"), "devices[0].maxTicks: must be a non-negative integer"},
        BadConfig{device(R"(, "trailingBytes": -2)"), "devices[0].trailingBytes: must be an integer from 0 to 65536"},
        BadConfig{device(R"(, "colour": 1)"), "devices[0].colour: unknown key"},
        BadConfig{device(R"(, "outputs": [{"nme": "A"}])"), "devices[0].outputs[0].nme: unknown key"},
        BadConfig{device(R"(, "inputs": [{}, {"name": "0123456789012345678901234567890123"}])"),
                  "devices[0].inputs[1].name: longer than 31 bytes"},
        BadConfig{device(R"(, "inputs": [{"format": -16}])"), "devices[0].inputs[0].format: must be an integer from 0 to 4294967295"},
        BadConfig{device(R"(, "outputs": [{}], "inputs": [{}], "routes": [{"from": 0, "to": 0}, {"from": 0, "to": 5}])"),
                  "devices[0].routes[1].to: no input channel 5"},
        BadConfig{device(R"(, "outputs": [{}], "inputs": [{}], "routes": [{"from": 1, "to": 0}])"),
                  "devices[0].routes[0].from: no output channel 1"},
        BadConfig{device(R"(, "outputs": [{}], "inputs": [{}], "routes": [{"to": 0}])"), "devices[0].routes[0].from: missing"},
        BadConfig{device(R"(, "outputs": [{}], "inputs": [{}], "routes": [{"from": 0, "to": 0, "latency": -1}])"),
                  "devices[0].routes[0].latency: must be an integer from 0 to 4194304"},
        BadConfig{device(R"(, "outputs": [{}], "inputs": [{}], "routes": [{"from": 0, "to": 0, "gain": 1e999}])"),
                  "not valid JSON: number overflow"},
        BadConfig{device(R"(, "outputs": [{}], "inputs": [{}], "routes": [{"from": 0, "to": 0, "delay": 3}])"),
                  "devices[0].routes[0].delay: unknown key"},
        BadConfig{device(R"(, "fail": {"init": [0]})"), "devices[0].fail.init[0]: must be a positive integer"},
        BadConfig{device(R"(, "fail": {"free": [1, 2.5]})"), "devices[0].fail.free[1]: must be a positive integer"},
        BadConfig{device(R"(, "fail": {"start": 1})"), "devices[0].fail.start: must be true or false"},
        BadConfig{device(R"(, "fail": {"enableInput": [0]})"), "devices[0].fail.enableInput[0]: no input channel 0"},
        BadConfig{device(R"(, "fail": {"initt": [1]})"), "devices[0].fail.initt: unknown key"},
        BadConfig{R"({"devices": [{"name": "A"}, {"name": "B", "inputs": 2}]})", "devices[1].inputs: must be a list"},
        BadConfig{"", "not valid JSON: parse error at line 1, column 1"},
        BadConfig{R"({"devices": [})", "not valid JSON: parse error at line 1, column 14"}));

TEST(Config, KeysLeftOutTakeTheBuiltInValues) {
    asiosim::ConfigResult result = asiosim::parseConfig(
        R"({"devices": [{"name": "Bare"},
                        {"name": "Some", "outputs": [{}, {"format": 16}], "inputs": [{"name": "Mic"}, {}],
                         "routes": [{"from": 1, "to": 1}], "fail": {"stop": true}}]})");
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.devices.size(), 2u);

    const DeviceConfig& bare = result.devices[0];
    const DeviceConfig builtin = asiosim::builtinDevice();
    EXPECT_EQ(bare.name, "Bare");
    EXPECT_EQ(bare.sampleRate, builtin.sampleRate);
    EXPECT_EQ(bare.bufferSamples, builtin.bufferSamples);
    EXPECT_EQ(bare.clock, builtin.clock);
    EXPECT_EQ(bare.callbackThreads, builtin.callbackThreads);
    EXPECT_EQ(bare.noise, builtin.noise);
    EXPECT_EQ(bare.seed, builtin.seed);
    EXPECT_EQ(bare.trailingBytes, 0u);
    EXPECT_EQ(bare.maxTicks, 0u);
    EXPECT_TRUE(bare.outputs.empty() && bare.inputs.empty() && bare.routes.empty());
    EXPECT_TRUE(bare.fail.init.empty() && bare.fail.free.empty());
    EXPECT_FALSE(bare.fail.controlPanel || bare.fail.start || bare.fail.stop);

    const DeviceConfig& some = result.devices[1];
    ASSERT_EQ(some.outputs.size(), 2u);
    EXPECT_EQ(some.outputs[0].name, "Out 1");
    EXPECT_EQ(some.outputs[0].format, 18u);
    EXPECT_EQ(some.outputs[1].name, "Out 2");
    EXPECT_EQ(some.outputs[1].format, 16u);
    EXPECT_EQ(some.inputs[0].name, "Mic");
    EXPECT_EQ(some.inputs[1].name, "In 2");
    ASSERT_EQ(some.routes.size(), 1u);
    EXPECT_EQ(some.routes[0].latency, 0u);
    EXPECT_EQ(some.routes[0].gain, 1.0);
    EXPECT_TRUE(some.fail.stop);
    EXPECT_FALSE(some.fail.start);
}

TEST(Config, ReadsEveryKey) {
    asiosim::ConfigResult result = asiosim::parseConfig(R"({"devices": [{
        "name": "Full", "sampleRate": 44100, "bufferSamples": 128, "clock": "freewheel", "callbackThreads": 3,
        "outputs": [{"name": "L", "format": 17}], "inputs": [{"name": "R", "format": 19}, {"format": 4242}],
        "routes": [{"from": 0, "to": 1, "latency": 549, "gain": -0.5}], "noise": 0, "seed": 18446744073709551615,
        "trailingBytes": 3, "maxTicks": 10,
        "fail": {"init": [2], "controlPanel": true, "free": [1, 3], "start": true, "stop": false,
                 "enableOutput": [0], "enableInput": [1, 0]}}]})");
    ASSERT_TRUE(result.ok) << result.error;
    const DeviceConfig& d = result.devices.at(0);
    EXPECT_EQ(d.sampleRate, 44100u);
    EXPECT_EQ(d.bufferSamples, 128u);
    EXPECT_EQ(d.clock, asiosim::Clock::Freewheel);
    EXPECT_EQ(d.callbackThreads, 3u);
    EXPECT_EQ(d.outputs[0].name, "L");
    EXPECT_EQ(d.outputs[0].format, 17u);
    EXPECT_EQ(d.inputs[1].format, 4242u);
    EXPECT_EQ(d.routes[0].to, 1u);
    EXPECT_EQ(d.routes[0].latency, 549u);
    EXPECT_EQ(d.routes[0].gain, -0.5);
    EXPECT_EQ(d.noise, 0.0);
    EXPECT_EQ(d.seed, UINT64_MAX);
    EXPECT_EQ(d.trailingBytes, 3u);
    EXPECT_EQ(d.maxTicks, 10u);
    EXPECT_EQ(d.fail.init, std::vector<uint64_t>{2});
    EXPECT_EQ(d.fail.free, (std::vector<uint64_t>{1, 3}));
    EXPECT_TRUE(d.fail.controlPanel);
    EXPECT_TRUE(d.fail.start);
    EXPECT_FALSE(d.fail.stop);
    EXPECT_EQ(d.fail.enableOutput, std::vector<uint32_t>{0});
    EXPECT_EQ(d.fail.enableInput, (std::vector<uint32_t>{1, 0}));
}

TEST(Config, NoDevicesListMeansNoDevice) {
    for (const char* text : {"{}", R"({"devices": []})"}) {
        asiosim::ConfigResult result = asiosim::parseConfig(text);
        EXPECT_TRUE(result.ok) << text;
        EXPECT_TRUE(result.devices.empty()) << text;
    }
}

TEST(Config, BuiltInDeviceIsAStereoLoopback) {
    const DeviceConfig d = asiosim::builtinDevice();
    EXPECT_EQ(d.name, "Loopback Simulator");
    EXPECT_EQ(d.sampleRate, 48000u);
    EXPECT_EQ(d.bufferSamples, 256u);
    EXPECT_EQ(d.clock, asiosim::Clock::Realtime);
    EXPECT_EQ(d.callbackThreads, 1u);
    ASSERT_EQ(d.outputs.size(), 2u);
    ASSERT_EQ(d.inputs.size(), 2u);
    EXPECT_EQ(d.outputs[1].name, "Out 2");
    EXPECT_EQ(d.inputs[0].name, "In 1");
    for (const auto& ch : d.outputs) EXPECT_EQ(ch.format, 18u);
    for (const auto& ch : d.inputs) EXPECT_EQ(ch.format, 18u);
    ASSERT_EQ(d.routes.size(), 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(d.routes[i].from, i);
        EXPECT_EQ(d.routes[i].to, i);
        EXPECT_EQ(d.routes[i].latency, 549u);
        EXPECT_EQ(d.routes[i].gain, 1.0);
    }
    EXPECT_EQ(d.noise, 0.0001);
    EXPECT_EQ(d.seed, 1u);
    EXPECT_EQ(d.trailingBytes, 0u);
    EXPECT_EQ(d.maxTicks, 0u);
}

// What loadDevices wrote on its error stream.
std::string errorsOf(const char* path, std::vector<DeviceConfig>& devices) {
    std::FILE* err = std::tmpfile();
    devices = asiosim::loadDevices(path, err);
    std::string text(256, '\0');
    std::rewind(err);
    text.resize(std::fread(text.data(), 1, text.size(), err));
    std::fclose(err);
    return text;
}

TEST(LoadDevices, ServesTheBuiltInDeviceWithoutAFile) {
    for (const char* path : {static_cast<const char*>(nullptr), ""}) {
        std::vector<DeviceConfig> devices;
        EXPECT_EQ(errorsOf(path, devices), "");
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0].name, "Loopback Simulator");
    }
}

TEST(LoadDevices, ReportsAnUnusableFileOnOneLineAndServesNoDevice) {
    simtest::TempDir dir;
    const std::string good = dir.write("good.json", device(R"(, "outputs": [{}])"));
    const std::string bad = dir.write("bad.json", device(R"(, "sampleRate": 0)"));
    const std::string missing = dir.file("missing.json");

    std::vector<DeviceConfig> devices;
    EXPECT_EQ(errorsOf(good.c_str(), devices), "");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].outputs.size(), 1u);

    EXPECT_EQ(errorsOf(bad.c_str(), devices),
              "asiosim: " + bad + ": devices[0].sampleRate: must be an integer from 1 to 1000000\n");
    EXPECT_TRUE(devices.empty());
    EXPECT_EQ(errorsOf(missing.c_str(), devices), "asiosim: " + missing + ": cannot open the file\n");
    EXPECT_TRUE(devices.empty());
}

}  // namespace
