// Loads and checks the device configuration. Every problem is reported with
// the path of the offending value (e.g. devices[0].routes[1].to), and any
// key that is not known, or not known to the device's backend, is refused so
// that a typo cannot pass unnoticed.
#include "config.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

namespace asiosim {

namespace {

using nlohmann::json;

struct ConfigError {
    std::string where;
    std::string what;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw ConfigError{where, what};
}

std::string member(const std::string& where, const char* key) {
    return where.empty() ? std::string(key) : where + "." + key;
}

std::string element(const std::string& where, size_t i) {
    return where + "[" + std::to_string(i) + "]";
}

bool among(const std::string& key, std::initializer_list<const char*> keys) {
    return std::any_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; });
}

void checkObject(const json& v, const std::string& where, std::initializer_list<const char*> keys) {
    if (!v.is_object()) fail(where, "must be an object");
    for (auto it = v.begin(); it != v.end(); ++it)
        if (!among(it.key(), keys)) fail(member(where, it.key().c_str()), "unknown key");
}

const json* find(const json& obj, const char* key) {
    auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}

uint64_t readInteger(const json& v, const std::string& where, uint64_t lo, uint64_t hi) {
    bool ok = false;
    uint64_t n = 0;
    if (v.is_number_unsigned()) {
        n = v.get<uint64_t>();
        ok = n >= lo && n <= hi;
    }
    if (!ok) {
        constexpr uint64_t kAny = std::numeric_limits<uint64_t>::max();
        if (hi == kAny) fail(where, lo == 0 ? "must be a non-negative integer" : "must be a positive integer");
        fail(where, "must be an integer from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return n;
}

uint32_t readU32(const json& v, const std::string& where, uint32_t lo, uint32_t hi) {
    return static_cast<uint32_t>(readInteger(v, where, lo, hi));
}

std::string readString(const json& v, const std::string& where) {
    if (!v.is_string()) fail(where, "must be a string");
    std::string s = v.get<std::string>();
    if (s.find('\0') != std::string::npos) fail(where, "must not contain a zero character");
    return s;
}

bool readBool(const json& v, const std::string& where) {
    if (!v.is_boolean()) fail(where, "must be true or false");
    return v.get<bool>();
}

double readNumber(const json& v, const std::string& where) {
    if (!v.is_number()) fail(where, "must be a number");
    double d = v.get<double>();
    if (!std::isfinite(d)) fail(where, "must be a finite number");
    return d;
}

const json& readList(const json& v, const std::string& where) {
    if (!v.is_array()) fail(where, "must be a list");
    return v;
}

std::vector<ChannelConfig> readChannels(const json& list, const std::string& where, const char* prefix) {
    std::vector<ChannelConfig> channels;
    readList(list, where);
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string at = element(where, i);
        const json& c = list[i];
        checkObject(c, at, {"name", "format"});
        ChannelConfig ch;
        ch.name = prefix + std::to_string(i + 1);
        if (const json* v = find(c, "name")) {
            ch.name = readString(*v, member(at, "name"));
            if (ch.name.size() > kMaxChannelName)
                fail(member(at, "name"), "longer than " + std::to_string(kMaxChannelName) + " bytes");
        }
        if (const json* v = find(c, "format"))
            ch.format = readU32(*v, member(at, "format"), 0, std::numeric_limits<uint32_t>::max());
        channels.push_back(std::move(ch));
    }
    return channels;
}

uint32_t readChannelIndex(const json& v, const std::string& where, size_t count, bool input) {
    uint32_t i = readU32(v, where, 0, std::numeric_limits<uint32_t>::max());
    if (i >= count)
        fail(where, std::string(input ? "no input channel " : "no output channel ") + std::to_string(i));
    return i;
}

std::vector<RouteConfig> readRoutes(const json& list, const std::string& where, const DeviceConfig& dev) {
    std::vector<RouteConfig> routes;
    readList(list, where);
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string at = element(where, i);
        const json& r = list[i];
        checkObject(r, at, {"from", "to", "latency", "gain"});
        RouteConfig route;
        const json* from = find(r, "from");
        const json* to = find(r, "to");
        if (!from) fail(member(at, "from"), "missing");
        if (!to) fail(member(at, "to"), "missing");
        route.from = readChannelIndex(*from, member(at, "from"), dev.outputs.size(), false);
        route.to = readChannelIndex(*to, member(at, "to"), dev.inputs.size(), true);
        if (const json* v = find(r, "latency")) route.latency = readU32(*v, member(at, "latency"), 0, kMaxLatency);
        if (const json* v = find(r, "gain")) route.gain = readNumber(*v, member(at, "gain"));
        routes.push_back(route);
    }
    return routes;
}

std::vector<uint64_t> readCallNumbers(const json& list, const std::string& where) {
    std::vector<uint64_t> calls;
    readList(list, where);
    for (size_t i = 0; i < list.size(); ++i)
        calls.push_back(readInteger(list[i], element(where, i), 1, std::numeric_limits<uint64_t>::max()));
    return calls;
}

std::vector<uint32_t> readChannelList(const json& list, const std::string& where, size_t count, bool input) {
    std::vector<uint32_t> channels;
    readList(list, where);
    for (size_t i = 0; i < list.size(); ++i)
        channels.push_back(readChannelIndex(list[i], element(where, i), count, input));
    return channels;
}

FaultConfig readFaults(const json& f, const std::string& where, const DeviceConfig& dev) {
    checkObject(f, where,
                {"init", "controlPanel", "free", "start", "stop", "enableOutput", "enableInput"});
    FaultConfig faults;
    if (const json* v = find(f, "init")) faults.init = readCallNumbers(*v, member(where, "init"));
    if (const json* v = find(f, "free")) faults.free = readCallNumbers(*v, member(where, "free"));
    if (const json* v = find(f, "controlPanel")) faults.controlPanel = readBool(*v, member(where, "controlPanel"));
    if (const json* v = find(f, "start")) faults.start = readBool(*v, member(where, "start"));
    if (const json* v = find(f, "stop")) faults.stop = readBool(*v, member(where, "stop"));
    if (const json* v = find(f, "enableOutput"))
        faults.enableOutput = readChannelList(*v, member(where, "enableOutput"), dev.outputs.size(), false);
    if (const json* v = find(f, "enableInput"))
        faults.enableInput = readChannelList(*v, member(where, "enableInput"), dev.inputs.size(), true);
    return faults;
}

std::vector<ConnectionConfig> readConnections(const json& list, const std::string& where) {
    std::vector<ConnectionConfig> connections;
    readList(list, where);
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string at = element(where, i);
        const json& pair = list[i];
        if (!pair.is_array() || pair.size() != 2) fail(at, "must be a list of two port names, source then destination");
        std::string ports[2];
        for (size_t k = 0; k < 2; ++k) {
            ports[k] = readString(pair[k], element(at, k));
            const size_t colon = ports[k].find(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == ports[k].size())
                fail(element(at, k), "must be a full port name (client:port)");
        }
        connections.push_back({ports[0], ports[1]});
    }
    return connections;
}

// JACK ports of one client share a name space, inputs and outputs alike.
void checkPortNames(const DeviceConfig& dev, const std::string& at) {
    std::vector<std::string> seen;
    const auto check = [&](const std::vector<ChannelConfig>& list, const char* kind) {
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string where = member(element(member(at, kind), i), "name");
            if (list[i].name.empty()) fail(where, "must not be empty for a JACK port");
            if (std::find(seen.begin(), seen.end(), list[i].name) != seen.end())
                fail(where, "\"" + list[i].name + "\" names another port of the device");
            seen.push_back(list[i].name);
        }
    };
    check(dev.outputs, "outputs");
    check(dev.inputs, "inputs");
}

// Keys that only one kind of device understands.
constexpr const char* kSimOnlyKeys[] = {"sampleRate", "bufferSamples", "clock", "callbackThreads", "routes",
                                        "noise", "seed", "trailingBytes", "maxTicks"};
constexpr const char* kJackOnlyKeys[] = {"server", "clientName", "connections"};

template <size_t N>
bool among(const std::string& key, const char* const (&keys)[N]) {
    return std::any_of(std::begin(keys), std::end(keys), [&](const char* k) { return key == k; });
}

DeviceConfig readJackKeys(const json& d, const std::string& at, DeviceConfig dev) {
    if (const json* v = find(d, "server")) {
        dev.server = readString(*v, member(at, "server"));
        if (dev.server.empty()) fail(member(at, "server"), "must not be empty (leave it out for the default server)");
    }
    if (const json* v = find(d, "clientName")) {
        dev.clientName = readString(*v, member(at, "clientName"));
        if (dev.clientName.empty() || dev.clientName.size() > kMaxJackClientName)
            fail(member(at, "clientName"), "must be 1 to " + std::to_string(kMaxJackClientName) + " bytes long");
        if (dev.clientName.find(':') != std::string::npos) fail(member(at, "clientName"), "must not contain ':'");
    }
    if (const json* v = find(d, "connections")) dev.connections = readConnections(*v, member(at, "connections"));
    checkPortNames(dev, at);
    return dev;
}

DeviceConfig readDevice(const json& d, const std::string& at) {
    checkObject(d, at,
                {"name", "backend", "sampleRate", "bufferSamples", "clock", "callbackThreads", "outputs", "inputs",
                 "routes", "noise", "seed", "trailingBytes", "maxTicks", "fail", "server", "clientName",
                 "connections"});
    DeviceConfig dev;
    if (const json* v = find(d, "backend")) {
        const std::string backend = readString(*v, member(at, "backend"));
        if (backend == "jack") {
            dev.backend = Backend::Jack;
        } else if (backend != "sim") {
            fail(member(at, "backend"), "unknown backend \"" + backend + "\" (sim or jack)");
        }
    }
    const bool jack = dev.backend == Backend::Jack;
    if (jack && !jackAvailable()) fail(member(at, "backend"), "JACK is not available in this build");
    for (auto it = d.begin(); it != d.end(); ++it) {
        if (jack && among(it.key(), kSimOnlyKeys))
            fail(member(at, it.key().c_str()), "only for a simulated device (the JACK server sets the timing)");
        if (!jack && among(it.key(), kJackOnlyKeys)) fail(member(at, it.key().c_str()), "only for a JACK device");
    }
    const json* name = find(d, "name");
    if (!name) fail(member(at, "name"), "missing");
    dev.name = readString(*name, member(at, "name"));
    if (const json* v = find(d, "sampleRate")) dev.sampleRate = readU32(*v, member(at, "sampleRate"), 1, kMaxSampleRate);
    if (const json* v = find(d, "bufferSamples"))
        dev.bufferSamples = readU32(*v, member(at, "bufferSamples"), 1, kMaxBufferSamples);
    if (const json* v = find(d, "clock")) {
        std::string clock = readString(*v, member(at, "clock"));
        if (clock == "realtime") {
            dev.clock = Clock::Realtime;
        } else if (clock == "freewheel") {
            dev.clock = Clock::Freewheel;
        } else {
            fail(member(at, "clock"), "unknown clock \"" + clock + "\" (realtime or freewheel)");
        }
    }
    if (const json* v = find(d, "callbackThreads"))
        dev.callbackThreads = readU32(*v, member(at, "callbackThreads"), 1, kMaxCallbackThreads);
    if (const json* v = find(d, "outputs")) dev.outputs = readChannels(*v, member(at, "outputs"), "Out ");
    if (const json* v = find(d, "inputs")) dev.inputs = readChannels(*v, member(at, "inputs"), "In ");
    if (const json* v = find(d, "routes")) dev.routes = readRoutes(*v, member(at, "routes"), dev);
    if (const json* v = find(d, "noise")) {
        dev.noise = readNumber(*v, member(at, "noise"));
        if (dev.noise < 0.0 || dev.noise > 1.0) fail(member(at, "noise"), "must be a number from 0 to 1");
    }
    if (const json* v = find(d, "seed"))
        dev.seed = readInteger(*v, member(at, "seed"), 0, std::numeric_limits<uint64_t>::max());
    if (const json* v = find(d, "trailingBytes"))
        dev.trailingBytes = readU32(*v, member(at, "trailingBytes"), 0, kMaxTrailingBytes);
    if (const json* v = find(d, "maxTicks"))
        dev.maxTicks = readInteger(*v, member(at, "maxTicks"), 0, std::numeric_limits<uint64_t>::max());
    if (const json* v = find(d, "fail")) dev.fail = readFaults(*v, member(at, "fail"), dev);
    if (jack) dev = readJackKeys(d, at, std::move(dev));
    return dev;
}

// nlohmann's messages start with "[json.exception.parse_error.101] ".
std::string withoutExceptionTag(const std::string& message) {
    if (!message.empty() && message[0] == '[') {
        size_t end = message.find("] ");
        if (end != std::string::npos) return message.substr(end + 2);
    }
    return message;
}

}  // namespace

bool jackAvailable() {
#if defined(ASIOSIM_HAVE_JACK)
    return true;
#else
    return false;
#endif
}

DeviceConfig builtinDevice() {
    DeviceConfig dev;
    dev.name = "Loopback Simulator";
    dev.outputs = {{"Out 1", 18}, {"Out 2", 18}};
    dev.inputs = {{"In 1", 18}, {"In 2", 18}};
    dev.routes = {{0, 0, 549, 1.0}, {1, 1, 549, 1.0}};
    return dev;
}

ConfigResult parseConfig(const std::string& text) {
    ConfigResult result;
    try {
        json root = json::parse(text);
        checkObject(root, "", {"devices"});
        if (const json* list = find(root, "devices")) {
            readList(*list, "devices");
            for (size_t i = 0; i < list->size(); ++i)
                result.devices.push_back(readDevice((*list)[i], element("devices", i)));
        }
        result.ok = true;
    } catch (const ConfigError& e) {
        result.devices.clear();
        result.error = e.where.empty() ? "the top level " + e.what : e.where + ": " + e.what;
    } catch (const json::exception& e) {
        // Syntax errors, and numbers too large for a double.
        result.devices.clear();
        result.error = "not valid JSON: " + withoutExceptionTag(e.what());
    } catch (const std::exception& e) {
        result.devices.clear();
        result.error = withoutExceptionTag(e.what());
    }
    return result;
}

ConfigResult loadConfigFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ConfigResult result;
        result.error = "cannot open the file";
        return result;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        ConfigResult result;
        result.error = "cannot read the file";
        return result;
    }
    return parseConfig(text.str());
}

std::vector<DeviceConfig> loadDevices(const char* configPath, std::FILE* err) {
    if (configPath == nullptr || *configPath == '\0') return {builtinDevice()};
    ConfigResult result = loadConfigFile(configPath);
    if (!result.ok) {
        std::fprintf(err, "asiosim: %s: %s\n", configPath, result.error.c_str());
        std::fflush(err);
        return {};
    }
    return std::move(result.devices);
}

}  // namespace asiosim
