// The JACK device's configuration (its keys, the keys it refuses, its port
// names and connections) and the conversions between channel samples and
// JACK's floats. The JACK runs themselves are tested against a server in
// tests/jack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "config.h"
#include "jack_backend.h"

using asiosim::DeviceConfig;

namespace {

std::string jackDevice(const std::string& body) {
    return R"({"devices": [{"name": "J", "backend": "jack")" + body + "}]}";
}

struct JackConfigCase {
    std::string text;
    std::string error;
};

void PrintTo(const JackConfigCase& c, std::ostream* os) { *os << c.text; }

class JackConfigErrors : public testing::TestWithParam<JackConfigCase> {};

// Without libjack every JACK device is refused, before anything else about it.
TEST_P(JackConfigErrors, AreRefusedNamingTheValue) {
    const asiosim::ConfigResult result = asiosim::parseConfig(GetParam().text);
    EXPECT_FALSE(result.ok);
    const bool jack = GetParam().text.find(R"("backend": "jack")") != std::string::npos;
    if (jack && !asiosim::jackAvailable())
        EXPECT_EQ(result.error, "devices[0].backend: JACK is not available in this build");
    else
        EXPECT_EQ(result.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JackConfigErrors,
    testing::Values(
        JackConfigCase{R"({"devices": [{"name": "D", "backend": "alsa"}]})",
                       "devices[0].backend: unknown backend \"alsa\" (sim or jack)"},
        JackConfigCase{R"({"devices": [{"name": "D", "backend": 1}]})", "devices[0].backend: must be a string"},
        JackConfigCase{R"({"devices": [{"name": "D", "server": "s"}]})", "devices[0].server: only for a JACK device"},
        JackConfigCase{R"({"devices": [{"name": "D", "backend": "sim", "clientName": "c"}]})",
                       "devices[0].clientName: only for a JACK device"},
        JackConfigCase{R"({"devices": [{"name": "D", "connections": []}]})",
                       "devices[0].connections: only for a JACK device"},
        JackConfigCase{jackDevice(R"(, "colour": 1)"), "devices[0].colour: unknown key"},
        JackConfigCase{jackDevice(R"(, "server": "")"),
                       "devices[0].server: must not be empty (leave it out for the default server)"},
        JackConfigCase{jackDevice(R"(, "clientName": "")"), "devices[0].clientName: must be 1 to 63 bytes long"},
        JackConfigCase{jackDevice(R"(, "clientName": ")" + std::string(64, 'c') + "\""),
                       "devices[0].clientName: must be 1 to 63 bytes long"},
        JackConfigCase{jackDevice(R"(, "clientName": "a:b")"), "devices[0].clientName: must not contain ':'"},
        // One name space for the client's ports, inputs and outputs alike.
        JackConfigCase{jackDevice(R"(, "outputs": [{"name": "x"}], "inputs": [{"name": "x"}])"),
                       "devices[0].inputs[0].name: \"x\" names another port of the device"},
        JackConfigCase{jackDevice(R"(, "outputs": [{}, {"name": "Out 1"}])"),
                       "devices[0].outputs[1].name: \"Out 1\" names another port of the device"},
        JackConfigCase{jackDevice(R"(, "inputs": [{"name": ""}])"),
                       "devices[0].inputs[0].name: must not be empty for a JACK port"},
        JackConfigCase{jackDevice(R"(, "connections": {})"), "devices[0].connections: must be a list"},
        JackConfigCase{jackDevice(R"(, "connections": [["a:b"]])"),
                       "devices[0].connections[0]: must be a list of two port names, source then destination"},
        JackConfigCase{jackDevice(R"(, "connections": [["a:b", "c:d", "e:f"]])"),
                       "devices[0].connections[0]: must be a list of two port names, source then destination"},
        JackConfigCase{jackDevice(R"(, "connections": [{"from": "a:b", "to": "c:d"}])"),
                       "devices[0].connections[0]: must be a list of two port names, source then destination"},
        JackConfigCase{jackDevice(R"(, "connections": [["a:b", "c:d"], ["a:b", 3]])"),
                       "devices[0].connections[1][1]: must be a string"},
        JackConfigCase{jackDevice(R"(, "connections": [["ab", "c:d"]])"),
                       "devices[0].connections[0][0]: must be a full port name (client:port)"},
        JackConfigCase{jackDevice(R"(, "connections": [["a:b", ":d"]])"),
                       "devices[0].connections[0][1]: must be a full port name (client:port)"},
        JackConfigCase{jackDevice(R"(, "connections": [["a:", "c:d"]])"),
                       "devices[0].connections[0][0]: must be a full port name (client:port)"}));

TEST(JackConfig, RefusesEveryKeyOnlyTheSimulationKnows) {
    // Valid values for the simulation, so only the backend can object.
    const char* const keys[][2] = {{"sampleRate", "48000"}, {"bufferSamples", "64"},   {"clock", "\"realtime\""},
                                   {"callbackThreads", "1"}, {"routes", "[]"},         {"noise", "0"},
                                   {"seed", "1"},            {"trailingBytes", "0"},   {"maxTicks", "0"}};
    for (const auto& key : keys) {
        const std::string body = std::string(", \"") + key[0] + "\": " + key[1];
        const asiosim::ConfigResult sim = asiosim::parseConfig(R"({"devices": [{"name": "S")" + body + "}]}");
        EXPECT_TRUE(sim.ok) << key[0] << ": " << sim.error;
        const asiosim::ConfigResult jack = asiosim::parseConfig(jackDevice(body));
        EXPECT_FALSE(jack.ok) << key[0];
        if (asiosim::jackAvailable()) {
            EXPECT_EQ(jack.error, std::string("devices[0].") + key[0] +
                                      ": only for a simulated device (the JACK server sets the timing)");
        }
    }
}

TEST(JackConfig, ReadsItsKeysAndDefaults) {
    if (!asiosim::jackAvailable()) GTEST_SKIP() << "JACK is not available in this build";
    const asiosim::ConfigResult result = asiosim::parseConfig(R"({"devices": [
        {"name": "Bare", "backend": "jack"},
        {"name": "Full", "backend": "jack", "server": "test", "clientName": "probe",
         "outputs": [{"name": "out_1", "format": 16}], "inputs": [{"name": "in_1", "format": 19}],
         "connections": [["probe:out_1", "probe:in_1"], ["system:capture_1", "probe:in_1"]],
         "fail": {"init": [2], "stop": true, "enableInput": [0]}},
        {"name": "Simulated", "backend": "sim", "sampleRate": 44100}]})");
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.devices.size(), 3u);

    const DeviceConfig& bare = result.devices[0];
    EXPECT_EQ(bare.backend, asiosim::Backend::Jack);
    EXPECT_EQ(bare.server, "");
    EXPECT_EQ(bare.clientName, "asioloop");
    EXPECT_TRUE(bare.connections.empty() && bare.outputs.empty() && bare.inputs.empty());

    const DeviceConfig& full = result.devices[1];
    EXPECT_EQ(full.server, "test");
    EXPECT_EQ(full.clientName, "probe");
    EXPECT_EQ(full.outputs.at(0).format, 16u);
    EXPECT_EQ(full.inputs.at(0).name, "in_1");
    ASSERT_EQ(full.connections.size(), 2u);
    EXPECT_EQ(full.connections[0].source, "probe:out_1");
    EXPECT_EQ(full.connections[0].destination, "probe:in_1");
    EXPECT_EQ(full.connections[1].source, "system:capture_1");
    EXPECT_EQ(full.fail.init, std::vector<uint64_t>{2});
    EXPECT_TRUE(full.fail.stop);
    EXPECT_EQ(full.fail.enableInput, std::vector<uint32_t>{0});

    EXPECT_EQ(result.devices[2].backend, asiosim::Backend::Sim);
    EXPECT_EQ(result.devices[2].sampleRate, 44100u);
}

// Little-endian bytes of the low `width` bytes of a value.
std::vector<unsigned char> bytesOf(int64_t value, uint32_t width) {
    std::vector<unsigned char> bytes(width);
    for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
    return bytes;
}

std::vector<unsigned char> bytesOfFloat(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return bytesOf(bits, 4);
}

struct ToFloatCase {
    uint32_t format;
    int64_t sample;  // the integer; for format 19 the float's bits
    float expected;
};

TEST(JackConversion, SamplesToFloatScaleByFullScale) {
    const float f19 = -0.75f;
    uint32_t f19Bits = 0;
    std::memcpy(&f19Bits, &f19, sizeof f19Bits);
    const ToFloatCase cases[] = {
        {16, 0x7FFF, 32767.0f / 32768.0f}, {16, -32768, -1.0f}, {16, 1, 1.0f / 32768.0f}, {16, -1, -1.0f / 32768.0f},
        {17, 0x7FFFFF, 8388607.0f / 8388608.0f}, {17, -8388608, -1.0f}, {17, 1, std::ldexp(1.0f, -23)},
        // 32-bit full scale has more bits than a float: it rounds to nearest, to 1.0.
        {18, 0x7FFFFFFF, 1.0f}, {18, INT32_MIN, -1.0f}, {18, 1, std::ldexp(1.0f, -31)},
        {18, 0x40000000, 0.5f}, {19, f19Bits, -0.75f}, {7, 0x12345678, 0.0f},
    };
    for (const ToFloatCase& c : cases) {
        const std::vector<unsigned char> in = bytesOf(c.sample, asiosim::sampleWidth(c.format));
        float out = 1234.0f;
        asiosim::samplesToFloat(c.format, in.data(), &out, 1);
        EXPECT_EQ(out, c.expected) << "format " << c.format << " sample " << c.sample;
    }
}

struct FromFloatCase {
    uint32_t format;
    float value;
    std::vector<unsigned char> expected;
};

TEST(JackConversion, FloatToSamplesRoundToNearestAndClip) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const FromFloatCase cases[] = {
        {16, 0.5f, bytesOf(16384, 2)},
        {16, 1.0f, bytesOf(32767, 2)},  // full scale itself is one step out of range
        {16, 2.0f, bytesOf(32767, 2)},
        {16, -1.0f, bytesOf(-32768, 2)},
        {16, -1.5f, bytesOf(-32768, 2)},
        {16, inf, bytesOf(32767, 2)},
        {16, -inf, bytesOf(-32768, 2)},
        {16, nan, bytesOf(0, 2)},
        {16, 0.5f / 32768.0f, bytesOf(1, 2)},  // half a step rounds away from zero
        {16, -0.5f / 32768.0f, bytesOf(-1, 2)},
        {16, 0.49f / 32768.0f, bytesOf(0, 2)},
        {16, 1.51f / 32768.0f, bytesOf(2, 2)},
        {17, 1.0f, bytesOf(0x7FFFFF, 3)},
        {17, -1.0f, bytesOf(-8388608, 3)},
        {17, std::ldexp(2.5f, -23), bytesOf(3, 3)},
        {18, 1.0f, bytesOf(0x7FFFFFFF, 4)},
        {18, -1.0f, bytesOf(INT32_MIN, 4)},
        {18, 0.25f, bytesOf(0x20000000, 4)},
        {18, std::ldexp(1.0f, -32), bytesOf(1, 4)},
        {19, 1.5f, bytesOfFloat(1.5f)},  // floats are not clipped
        {19, -0.0f, bytesOfFloat(-0.0f)},
        {7, 0.5f, bytesOf(0, 4)},
    };
    for (const FromFloatCase& c : cases) {
        std::vector<unsigned char> out(c.expected.size(), 0xAA);
        asiosim::floatToSamples(c.format, &c.value, out.data(), 1);
        EXPECT_EQ(out, c.expected) << "format " << c.format << " value " << c.value;
    }
}

// What goes out through a JACK port comes back unchanged: every 16-bit value
// and 24-bit values across the range (both ends included) survive the float.
TEST(JackConversion, IntegersSurviveTheRoundTripThroughFloat) {
    for (uint32_t format : {16u, 17u}) {
        const uint32_t width = asiosim::sampleWidth(format);
        const int64_t full = int64_t{1} << (8 * width - 1);
        const int64_t step = format == 16 ? 1 : 251;
        std::vector<unsigned char> in;
        for (int64_t v = -full;; v = std::min(v + step, full - 1)) {
            for (uint32_t b = 0; b < width; ++b)
                in.push_back(static_cast<unsigned char>(static_cast<uint64_t>(v) >> (8 * b)));
            if (v == full - 1) break;
        }
        const size_t count = in.size() / width;
        std::vector<float> floats(count);
        std::vector<unsigned char> out(in.size());
        asiosim::samplesToFloat(format, in.data(), floats.data(), count);
        asiosim::floatToSamples(format, floats.data(), out.data(), count);
        EXPECT_EQ(out, in) << "format " << format;
    }
}

}  // namespace
