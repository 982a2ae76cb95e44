// A device on a JACK server. The client opens at Init and registers one port
// per channel; Start activates it, makes the connections and arms the
// callbacks; Stop deactivates it; Free closes it. In each JACK cycle the
// input callbacks see the cycle's input first, then the output callbacks
// fill the outputs, so a direct loop from our output to our input shows one
// period, as a real device's hardware path shows at least one.
#include "jack_backend.h"

#include <cstring>

#if defined(ASIOSIM_HAVE_JACK)
#include <jack/jack.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "timing.h"
#endif

namespace asiosim {

void samplesToFloat(uint32_t format, const unsigned char* in, float* out, size_t frames) {
    const uint32_t width = sampleWidth(format);
    for (size_t n = 0; n < frames; ++n) out[n] = static_cast<float>(readSample(format, in + n * width));
}

void floatToSamples(uint32_t format, const float* in, unsigned char* out, size_t frames) {
    const uint32_t width = sampleWidth(format);
    for (size_t n = 0; n < frames; ++n) writeSample(format, out + n * width, static_cast<double>(in[n]));
}

#if !defined(ASIOSIM_HAVE_JACK)

std::unique_ptr<JackDevice> openJackDevice(const DeviceConfig&) { return nullptr; }

#else

namespace {

// libjack's own messages are kept, not printed: a failure then gives one
// line of ours, which quotes the latest of them where it helps.
std::mutex messageMutex;
char latestMessage[512];

void keepMessage(const char* text) {
    std::lock_guard<std::mutex> lock(messageMutex);
    std::snprintf(latestMessage, sizeof latestMessage, "%s", text != nullptr ? text : "");
    for (char* p = latestMessage; *p != '\0'; ++p)
        if (*p == '\n' || *p == '\r') *p = ' ';
}

void dropMessage(const char*) {}

std::string takeMessage() {
    std::lock_guard<std::mutex> lock(messageMutex);
    std::string text = latestMessage;
    latestMessage[0] = '\0';
    return text;
}

void routeMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(keepMessage);
        jack_set_info_function(dropMessage);
    });
}

void report(const std::string& what, bool quoteJack) {
    const std::string detail = takeMessage();
    if (quoteJack && !detail.empty())
        std::fprintf(stderr, "asiosim: JACK: %s (%s)\n", what.c_str(), detail.c_str());
    else
        std::fprintf(stderr, "asiosim: JACK: %s\n", what.c_str());
    std::fflush(stderr);
}

// JACK's threads inherit the mask of the thread that creates them, and must
// never take the program's CTRL+C. jackd2 also restores, when it closes, the
// mask from the time of opening, so the mask before is given back after.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

std::string statusText(jack_status_t status) {
    // With an exact name, jackd2 refuses a taken one as a server error.
    if ((status & (JackNameNotUnique | JackServerError)) != 0) return "the server refused it (is the name taken?)";
    if ((status & JackServerFailed) != 0) return "no server is running";
    if ((status & JackVersionError) != 0) return "the server speaks another protocol version";
    if ((status & JackShmFailure) != 0) return "no access to the server's shared memory";
    if ((status & JackInvalidOption) != 0) return "an option was refused";
    char text[64];
    std::snprintf(text, sizeof text, "status 0x%x", static_cast<unsigned>(status));
    return text;
}

class JackClient;

// One run: the bindings and conversion buffers, made before activation so
// the process callback allocates nothing, takes no lock and does no I/O.
class JackRun final : public Stream {
public:
    JackRun(JackClient& client, const std::vector<Binding>& outputs, const std::vector<Binding>& inputs);
    ~JackRun() override { stop(); }
    JackRun(const JackRun&) = delete;
    JackRun& operator=(const JackRun&) = delete;

    bool begin();
    bool stop() override;
    std::vector<ChannelTiming> channelTimings() const override;
    TickTiming tickTiming() const override;

private:
    struct Slot {
        uint32_t channel = 0;
        uint32_t format = 0;
        Binding binding;
        jack_port_t* port = nullptr;
        std::vector<unsigned char> buffer;
        uint64_t calls = 0;
        DurationHistogram durations;
    };

    static int process(jack_nframes_t frames, void* arg);
    void cycle(jack_nframes_t frames);
    void silenceOutputs(jack_nframes_t frames);
    static void call(Slot& slot, uint32_t input);

    JackClient& client_;
    jack_nframes_t frames_ = 0;
    uint32_t rate_ = 0;
    std::vector<Slot> outputs_;  // enabled channels only
    std::vector<Slot> inputs_;
    std::vector<jack_port_t*> allOutputs_;  // every output port, silenced outside the run
    bool active_ = false;
    bool stopped_ = false;
    bool stopResult_ = true;

    // Shared with the process thread. `busy_` and `running_` pair up so that
    // once stop() has seen the callback idle, it never runs the program's
    // callbacks again.
    std::atomic<bool> running_{true};
    std::atomic<bool> busy_{false};
    std::atomic<uint64_t> cyclesBegun_{0};
    std::atomic<uint64_t> firstLive_{std::numeric_limits<uint64_t>::max()};
    std::atomic<uint64_t> skipped_{0};
    std::atomic<uint32_t> otherFrames_{0};
    // The process thread's own, read after stop().
    uint64_t delivered_ = 0;
    uint64_t maxTickNs_ = 0;
};

class JackClient final : public JackDevice {
public:
    explicit JackClient(const DeviceConfig& device) : device_(device) {}
    ~JackClient() override;
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    bool open();
    std::unique_ptr<Stream> start(const std::vector<Binding>& outputs, const std::vector<Binding>& inputs) override;

    const DeviceConfig& device_;
    jack_client_t* client_ = nullptr;
    std::vector<jack_port_t*> outputPorts_;
    std::vector<jack_port_t*> inputPorts_;
    std::atomic<bool> shutdown_{false};
    std::atomic<uint64_t> xruns_{0};
    char shutdownReason_[256] = {};  // written before shutdown_ is set

private:
    static void onShutdown(jack_status_t, const char* reason, void* arg);
    static int onXrun(void* arg);
    static void onThreadInit(void*) { markEngineThread(); }
};

JackClient::~JackClient() {
    if (client_ == nullptr) return;
    SignalsBlocked blocked;
    jack_client_close(client_);
    takeMessage();  // whatever a dead server made libjack say
}

void JackClient::onShutdown(jack_status_t, const char* reason, void* arg) {
    auto* self = static_cast<JackClient*>(arg);
    std::snprintf(self->shutdownReason_, sizeof self->shutdownReason_, "%s", reason != nullptr ? reason : "");
    self->shutdown_.store(true);
}

int JackClient::onXrun(void* arg) {
    static_cast<JackClient*>(arg)->xruns_.fetch_add(1);
    return 0;
}

bool JackClient::open() {
    routeMessages();
    takeMessage();
    const std::string where = device_.server.empty() ? "the default server" : "server \"" + device_.server + "\"";
    jack_status_t status{};
    {
        SignalsBlocked blocked;
        const auto options = static_cast<jack_options_t>(JackNoStartServer | JackUseExactName |
                                                         (device_.server.empty() ? 0 : JackServerName));
        client_ = device_.server.empty() ? jack_client_open(device_.clientName.c_str(), options, &status)
                                         : jack_client_open(device_.clientName.c_str(), options, &status,
                                                            device_.server.c_str());
    }
    if (client_ == nullptr) {
        report("cannot open client \"" + device_.clientName + "\" on " + where + ": " + statusText(status), false);
        return false;
    }
    jack_on_info_shutdown(client_, onShutdown, this);
    if (jack_set_thread_init_callback(client_, onThreadInit, this) != 0 ||
        jack_set_xrun_callback(client_, onXrun, this) != 0) {
        report("cannot set the client's callbacks", true);
        return false;
    }
    const auto add = [&](const ChannelConfig& channel, unsigned long flags, std::vector<jack_port_t*>& ports) {
        jack_port_t* port = jack_port_register(client_, channel.name.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
        if (port == nullptr) {
            report("cannot register port \"" + channel.name + "\"", true);
            return false;
        }
        ports.push_back(port);
        return true;
    };
    for (const ChannelConfig& channel : device_.outputs)
        if (!add(channel, JackPortIsOutput, outputPorts_)) return false;
    for (const ChannelConfig& channel : device_.inputs)
        if (!add(channel, JackPortIsInput, inputPorts_)) return false;
    return true;
}

std::unique_ptr<Stream> JackClient::start(const std::vector<Binding>& outputs, const std::vector<Binding>& inputs) {
    if (shutdown_.load()) {
        report("the server has shut down", false);
        return nullptr;
    }
    auto run = std::make_unique<JackRun>(*this, outputs, inputs);
    if (!run->begin()) return nullptr;
    return run;
}

JackRun::JackRun(JackClient& client, const std::vector<Binding>& outputs, const std::vector<Binding>& inputs)
    : client_(client),
      frames_(jack_get_buffer_size(client.client_)),
      rate_(jack_get_sample_rate(client.client_)),
      allOutputs_(client.outputPorts_) {
    const auto make = [&](const std::vector<Binding>& bindings, const std::vector<ChannelConfig>& channels,
                          const std::vector<jack_port_t*>& ports, std::vector<Slot>& slots) {
        size_t enabled = 0;
        for (size_t ch = 0; ch < bindings.size() && ch < ports.size(); ++ch) enabled += bindings[ch].proc != nullptr;
        slots.reserve(enabled);
        for (size_t ch = 0; ch < bindings.size() && ch < ports.size(); ++ch) {
            if (bindings[ch].proc == nullptr) continue;
            slots.emplace_back();
            Slot& slot = slots.back();
            slot.channel = static_cast<uint32_t>(ch);
            slot.format = channels[ch].format;
            slot.binding = bindings[ch];
            slot.port = ports[ch];
            slot.buffer.assign(size_t{frames_} * sampleWidth(slot.format), 0);
        }
    };
    make(outputs, client.device_.outputs, client.outputPorts_, outputs_);
    make(inputs, client.device_.inputs, client.inputPorts_, inputs_);
}

int JackRun::process(jack_nframes_t frames, void* arg) {
    static_cast<JackRun*>(arg)->cycle(frames);
    return 0;
}

void JackRun::silenceOutputs(jack_nframes_t frames) {
    for (jack_port_t* port : allOutputs_)
        std::memset(jack_port_get_buffer(port, frames), 0, sizeof(float) * frames);
}

void JackRun::call(Slot& slot, uint32_t input) {
    ++slot.calls;
    const auto began = std::chrono::steady_clock::now();
    slot.binding.proc(input, slot.channel, slot.buffer.data(), static_cast<uint32_t>(slot.buffer.size()),
                      slot.binding.user);
    slot.durations.record(std::chrono::steady_clock::now() - began);
}

void JackRun::cycle(jack_nframes_t frames) {
    busy_.store(true);
    const uint64_t index = cyclesBegun_.fetch_add(1);
    const bool live = running_.load() && index >= firstLive_.load();
    if (!live || frames != frames_) {
        if (live) {
            // The buffers were made for the size at Start.
            skipped_.fetch_add(1);
            otherFrames_.store(frames);
        }
        silenceOutputs(frames);
        busy_.store(false);
        return;
    }
    const auto began = std::chrono::steady_clock::now();
    // An input fed by our own output shares that output's port buffer, so
    // every input is read before any output is written.
    for (Slot& in : inputs_)
        floatToSamples(in.format, static_cast<const float*>(jack_port_get_buffer(in.port, frames)),
                       in.buffer.data(), frames);
    for (Slot& in : inputs_) call(in, 1);
    silenceOutputs(frames);
    for (Slot& out : outputs_) {
        std::fill(out.buffer.begin(), out.buffer.end(), static_cast<unsigned char>(0));
        call(out, 0);
        samplesToFloat(out.format, out.buffer.data(), static_cast<float*>(jack_port_get_buffer(out.port, frames)),
                       frames);
    }
    ++delivered_;
    const auto ns = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began).count());
    maxTickNs_ = std::max(maxTickNs_, ns);
    busy_.store(false);
}

bool JackRun::begin() {
    jack_client_t* handle = client_.client_;
    client_.xruns_.store(0);
    if (jack_set_process_callback(handle, process, this) != 0) {
        report("cannot set the process callback", true);
        return false;
    }
    {
        SignalsBlocked blocked;
        if (jack_activate(handle) != 0) {
            report("cannot activate client \"" + client_.device_.clientName + "\"", true);
            return false;
        }
    }
    active_ = true;
    for (const ConnectionConfig& c : client_.device_.connections) {
        const int error = jack_connect(handle, c.source.c_str(), c.destination.c_str());
        if (error != 0 && error != EEXIST) {
            report("cannot connect " + c.source + " to " + c.destination, true);
            stop();
            return false;
        }
    }
    // A connection takes effect at a cycle boundary, and the cycle under way
    // when it was made may have begun before it. So the outputs stay silent
    // through one whole cycle begun after the last connection, and the
    // callbacks start with the next.
    firstLive_.store(cyclesBegun_.load() + 1);
    return true;
}

bool JackRun::stop() {
    if (stopped_) return stopResult_;
    stopped_ = true;
    running_.store(false);
    while (busy_.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    bool ok = true;
    const bool shutdown = client_.shutdown_.load();
    if (active_ && !shutdown) {
        SignalsBlocked blocked;
        if (jack_deactivate(client_.client_) != 0) {
            report("cannot deactivate client \"" + client_.device_.clientName + "\"", true);
            ok = false;
        }
    }
    active_ = false;
    if (shutdown) {
        const std::string reason = client_.shutdownReason_;
        report("the server shut down during the run" + (reason.empty() ? std::string() : ": " + reason), false);
        ok = false;
    }
    if (const uint64_t skipped = skipped_.load()) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the server's buffer size changed from %" PRIu32 " to %" PRIu32
                      " frames during the run; %" PRIu64 " cycles delivered nothing",
                      static_cast<uint32_t>(frames_), otherFrames_.load(), skipped);
        report(text, false);
    }
    stopResult_ = ok;
    return ok;
}

std::vector<ChannelTiming> JackRun::channelTimings() const {
    std::vector<ChannelTiming> timings;
    const auto add = [&](bool input, const Slot& s) {
        timings.push_back({input, s.channel, s.calls, s.calls * s.buffer.size(), s.durations.maxNs(),
                           s.durations.percentileNs(99), {}});
    };
    for (const Slot& out : outputs_) add(false, out);
    for (const Slot& in : inputs_) add(true, in);
    return timings;
}

TickTiming JackRun::tickTiming() const {
    TickTiming ticks;
    ticks.count = delivered_;
    ticks.late = client_.xruns_.load();
    ticks.maxNs = maxTickNs_;
    ticks.sampleRate = rate_;
    ticks.bufferSamples = static_cast<uint32_t>(frames_);
    return ticks;
}

}  // namespace

std::unique_ptr<JackDevice> openJackDevice(const DeviceConfig& device) {
    auto client = std::make_unique<JackClient>(device);
    if (!client->open()) return nullptr;
    return client;
}

#endif

}  // namespace asiosim
