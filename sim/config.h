// The devices the library serves, simulated or JACK clients: what each one
// offers, the built-in device that serves when no configuration is given,
// and loading a set of devices from a JSON file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace asiosim {

enum class Clock { Realtime, Freewheel };

// A simulated device, or a client of a running JACK server.
enum class Backend { Sim, Jack };

// Whether this build can open JACK clients; without it a JACK device is a
// configuration error.
bool jackAvailable();

struct ChannelConfig {
    std::string name;
    uint32_t format = 18;
};

// A wire from an output channel to an input channel.
struct RouteConfig {
    uint32_t from = 0;
    uint32_t to = 0;
    uint32_t latency = 0;  // samples
    double gain = 1.0;
};

// Calls that are made to fail. Init and Free failures are 1-based call
// numbers counted over the whole process; the channel lists hold indexes.
struct FaultConfig {
    std::vector<uint64_t> init;
    std::vector<uint64_t> free;
    bool controlPanel = false;
    bool start = false;
    bool stop = false;
    std::vector<uint32_t> enableOutput;
    std::vector<uint32_t> enableInput;
};

// A JACK connection, by full port names ("client:port").
struct ConnectionConfig {
    std::string source;
    std::string destination;
};

// The scalar defaults are the built-in device's, so a configured device that
// leaves a key out gets the built-in value. A JACK device uses the name, the
// channels (as its ports), the JACK keys and the failures; the server sets
// its rate and buffer size.
struct DeviceConfig {
    std::string name;
    Backend backend = Backend::Sim;
    std::string server;  // JACK: empty for the default server
    std::string clientName = "asioloop";
    std::vector<ConnectionConfig> connections;
    uint32_t sampleRate = 48000;
    uint32_t bufferSamples = 256;
    Clock clock = Clock::Realtime;
    uint32_t callbackThreads = 1;
    std::vector<ChannelConfig> outputs;
    std::vector<ChannelConfig> inputs;
    std::vector<RouteConfig> routes;
    double noise = 0.0001;  // peak, as a fraction of full scale
    uint64_t seed = 1;
    uint32_t trailingBytes = 0;
    uint64_t maxTicks = 0;  // 0: no limit
    FaultConfig fail;
};

// Limits beyond which a configuration is refused.
constexpr uint32_t kMaxSampleRate = 1000000;
constexpr uint32_t kMaxBufferSamples = 65536;
constexpr uint32_t kMaxCallbackThreads = 64;
constexpr uint32_t kMaxLatency = 1u << 22;
constexpr uint32_t kMaxTrailingBytes = 65536;
constexpr size_t kMaxChannelName = 31;
constexpr size_t kMaxJackClientName = 63;  // jack_client_name_size() less the terminator

DeviceConfig builtinDevice();

struct ConfigResult {
    bool ok = false;
    std::vector<DeviceConfig> devices;
    std::string error;  // "where: what", or just "what" for the file as a whole
};

ConfigResult parseConfig(const std::string& text);
ConfigResult loadConfigFile(const std::string& path);

// The devices the library serves: the built-in one without a path (null or
// empty), else those of the file. A file that cannot be used gives no device
// and one line on `err`.
std::vector<DeviceConfig> loadDevices(const char* configPath, std::FILE* err);

}  // namespace asiosim
