// End-to-end runs of the real program against the stand-in library: each
// scenario describes a device, the operator's answers, and what must come of
// them on the console, in the library's call trace, and in the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <filesystem>
#include <map>
#include <optional>

#include <sys/mount.h>

#include "process.h"
#include "test_support.h"

namespace fs = std::filesystem;

// What runs the program: the native build, or a Windows build under Wine
// (set by the command line, see main below).
struct Target {
    std::string exe = ASIOLOOP_EXE;
    std::string wine;         // the Wine launcher; empty for the native build
    int timeoutSeconds = 60;  // for one run of the program
    std::string unavailable;  // why this target cannot run here, if it cannot
} target;

namespace {

bool underWine() {
    return !target.wine.empty();
}

// A path as the program sees it: under Wine, Unix paths are on drive Z:.
std::string programPath(const fs::path& path) {
    if (!underWine()) return path.string();
    std::string windows = "Z:" + path.string();
    for (char& c : windows)
        if (c == '/') c = '\\';
    return windows;
}

// The folder the program writes to. Natively a fresh folder named by
// ASIOLOOP_TEMP_DIR; under Wine the prefix's c:\temp, emptied, since the
// Windows build takes its paths as they stand.
class ProgramFolder {
public:
    ProgramFolder() {
        if (!underWine()) return;
        const char* prefix = std::getenv("WINEPREFIX");
        wineTemp_ = fs::path(prefix != nullptr ? prefix : "") / "drive_c" / "temp";
        fs::remove_all(wineTemp_);
        fs::create_directories(wineTemp_);
    }
    ~ProgramFolder() {
        if (underWine()) fs::create_directories(wineTemp_);  // a scenario may have removed it
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    fs::path path() const { return underWine() ? wineTemp_ : fs::path(native_.path()); }
    fs::path file(const std::string& name) const { return path() / name; }
    // Environment for the program: only the native build reads the folder's name.
    std::vector<std::string> env() const {
        if (underWine()) return {};
        return {"ASIOLOOP_TEMP_DIR=" + native_.path()};
    }

private:
    TempFolder native_;
    fs::path wineTemp_;
};

// Runs the program on the target with the stand-in configured by the given
// file (none: its built-in device), tracing into the given file.
ProcessResult runTarget(const ProgramFolder& folder, const fs::path& config, const fs::path& trace,
                        ProcessOptions options) {
    options.argv = underWine() ? std::vector<std::string>{target.wine, target.exe}
                               : std::vector<std::string>{target.exe};
    options.timeoutSeconds = target.timeoutSeconds;
    options.env = folder.env();
    options.env.push_back("ASIOSIM_CONFIG=" + (config.empty() ? "" : programPath(config)));
    options.env.push_back("ASIOSIM_TRACE=" + (trace.empty() ? "" : programPath(trace)));
    ProcessResult result = runProcess(options);
    if (underWine()) {
        // The console of a Windows program ends its lines with CR LF.
        for (std::string* text : {&result.out, &result.err}) {
            std::string plain;
            for (size_t i = 0; i < text->size(); ++i)
                if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n')) plain += (*text)[i];
            *text = plain;
        }
    }
    return result;
}

// A small tmpfs mounted over a folder for as long as it lives.
class SmallDisk {
public:
    SmallDisk(const fs::path& folder, int kib) : folder_(folder) {
        const std::string options = "size=" + std::to_string(kib) + "k";
        if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) error_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (error_.empty()) umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    const std::string& error() const { return error_; }

private:
    fs::path folder_;
    std::string error_;
};

// Sends CTRL+C once the program waits. Natively the program's handler shows
// in /proc; under Wine nothing shows it, so the signal goes a moment after
// the library reports the start.
std::function<void(pid_t, const std::string&)> interruptTheWait(const fs::path& trace) {
    auto sent = std::make_shared<bool>(false);
    auto started = std::make_shared<std::chrono::steady_clock::time_point>();
    return [=](pid_t pid, const std::string&) {
        if (*sent) return;
        if (!underWine()) {
            if (catchesSignal(pid, SIGINT)) *sent = kill(pid, SIGINT) == 0;
            return;
        }
        if (*started == std::chrono::steady_clock::time_point()) {
            if (readFileBytes(trace).find("BASS_ASIO_Start(") != std::string::npos)
                *started = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - *started > std::chrono::milliseconds(500)) {
            *sent = kill(pid, SIGINT) == 0;
        }
    };
}

// ---- what the program prints -------------------------------------------

std::string deviceList(const std::vector<std::string>& names) {
    std::string text = "ID\tDevice Name\n";
    for (size_t i = 0; i < names.size(); ++i) text += std::to_string(i) + "\t" + names[i] + "\n";
    return text;
}

const std::string kOnlyDevice = "Selecting only installed device\n";
const std::string kStartUp = "Deintialised ASIO subsystem\nSuccessfully re-initialised ASIO\nInitialised\n";
const std::string kPrompt = "How many seconds to run for? (CTRL+C terminates early)";
const std::string kReleased = "Deintialised ASIO subsystem\n";
const std::string kNoAudio = " Could not initialise audio\n";
const std::string kFloat = "This app does not support floating point formats\n";

std::string selected(const std::string& name) {
    return "Select device to use: \nYou've selected " + name + "\n";
}

std::string output(int channel, int width, bool enabled = true) {
    const std::string w = std::to_string(width);
    return "Sample length 48000, bytes per sample " + w + "\nBytes per sample" + w + "\n" +
           (enabled ? "Output Channel " + std::to_string(channel) + " initialised\n" : "");
}

std::string input(int channel, const std::string& name, int width, bool opened = true, bool enabled = true) {
    const std::string c = std::to_string(channel);
    return c + " " + name + ": EnabledSample length 48000, bytes per sample " + std::to_string(width) + "\n" +
           (opened ? "Opened output file for output channel " : "Could  not open output file for output channel ") +
           c + "\n" + (enabled ? "Input Channel " + c + " initialised\n" : "");
}

// The channel set-up of a device with two 16-bit outputs and inputs "In 1"
// and "In 2", everything enabled.
std::string twoByTwo(int outWidth, int inWidth) {
    return output(0, outWidth) + output(1, outWidth) + input(0, "In 1", inWidth) + input(1, "In 2", inWidth);
}

// ---- what the library is asked -----------------------------------------

std::vector<std::string> enumerate(int devices) {
    std::vector<std::string> calls;
    for (int i = 0; i < devices; ++i) calls.push_back("BASS_ASIO_GetDeviceInfo(" + std::to_string(i) + ", *) = 1");
    calls.push_back("BASS_ASIO_GetDeviceInfo(" + std::to_string(devices) + ", *) = 0");
    return calls;
}

std::vector<std::string> startUp(int device) {
    const std::string init = "BASS_ASIO_Init(" + std::to_string(device) + ", 1) = 1";
    return {init, "BASS_ASIO_ControlPanel() = 1", "BASS_ASIO_Free() = 1", init};
}

std::vector<std::string> channelCalls(int direction, int channel, int format, bool enabled = true) {
    const std::string args = std::to_string(direction) + ", " + std::to_string(channel);
    return {"BASS_ASIO_ChannelGetInfo(" + args + ", *) = 1",
            "BASS_ASIO_ChannelGetFormat(" + args + ") = " + std::to_string(format),
            "BASS_ASIO_ChannelEnable(" + args + ", *, *) = " + (enabled ? "1" : "0")};
}

std::vector<std::string> noChannel(int direction, int channel) {
    return {"BASS_ASIO_ChannelGetInfo(" + std::to_string(direction) + ", " + std::to_string(channel) + ", *) = 0"};
}

const std::vector<std::string> kRun = {"BASS_ASIO_Start(0, 32) = 1", "BASS_ASIO_Stop() = 1", "BASS_ASIO_Free() = 1"};

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ---- what the files hold ------------------------------------------------

// An input's capture file when one impulse came back: `ticks` buffers of
// `bufferSamples` samples (plus `trailing` zero bytes each), silent but for
// the sample at `latency`, whose bytes are `impulse`.
struct ImpulseCapture {
    int channel;
    int width;
    int latency;
    std::string impulse;
    int ticks = 20;
    int bufferSamples = 64;
    int trailing = 0;

    std::string bytes() const {
        std::string all;
        for (int t = 0; t < ticks; ++t) {
            std::string buffer(static_cast<size_t>(bufferSamples * width + trailing), '\0');
            const int first = t * bufferSamples;
            if (latency >= first && latency < first + bufferSamples)
                buffer.replace(static_cast<size_t>((latency - first) * width), impulse.size(), impulse);
            all += buffer;
        }
        return all;
    }
};

enum class Report { kNone, kEmpty, kFromCaptures, kCut };

struct Scenario {
    const char* name;
    std::string config;  // the stand-in's JSON; empty for its built-in device
    std::string answers;
    std::string transcript;
    std::vector<std::string> trace;  // the whole call trace, when given
    Report report = Report::kFromCaptures;
    std::vector<std::pair<int, int>> inputs;  // (channel, width) of every registered input, in order
    std::vector<ImpulseCapture> captures;     // exact capture files
    std::vector<std::string> reportHeader;    // expected first line of the report, when given
    bool removeFolder = false;
    bool interruptWait = false;
    int trailingBytes = 0;  // the stand-in's fragment after every 64-sample buffer
    int diskKiB = 0;        // a disk of this size (a tmpfs) as the program's folder
    const char* error = nullptr;  // what the one line on standard error says, if one is due
};

void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

// Compares two byte strings without printing megabytes of them.
testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    auto around = [at](const std::string& s) {
        const size_t from = at < 16 ? 0 : at - 16;
        return testing::PrintToString(s.substr(from, 48));
    };
    return testing::AssertionFailure() << "lengths " << actual.size() << " and " << expected.size()
                                       << ", first difference at byte " << at << ": " << around(actual) << " vs "
                                       << around(expected);
}

// The same report the program must write, built independently from the
// capture files: each whole sample's two most significant bytes.
// `trailing` bytes after every buffer of `bufferSamples` samples are a
// fragment that gives no value.
std::string referenceReport(const ProgramFolder& folder, const std::vector<std::pair<int, int>>& inputs,
                            size_t bufferSamples, size_t trailing) {
    std::vector<std::vector<int>> values;
    size_t common = 4000000000u;
    for (auto [channel, w] : inputs) {
        const auto width = static_cast<size_t>(w);
        const std::string bytes = readFileBytes(folder.file("ASIO.Channel(Output)." + std::to_string(channel) + ".pcm"));
        const size_t stride = trailing == 0 ? bytes.size() : bufferSamples * width + trailing;
        std::vector<int> v;
        for (size_t buffer = 0; buffer < bytes.size(); buffer += stride) {
            const size_t end = std::min(bytes.size(), buffer + stride);
            for (size_t at = buffer; at + width <= end; at += width) {
                const auto lo = static_cast<unsigned char>(bytes[at + width - 2]);
                const auto hi = static_cast<unsigned char>(bytes[at + width - 1]);
                v.push_back(static_cast<int16_t>(static_cast<uint16_t>(lo | hi << 8)));
            }
        }
        common = std::min(common, v.size());
        values.push_back(v);
    }
    std::string text;
    char cell[64];
    for (const auto& v : values) {
        int peak = 0, at = -1;
        for (size_t j = 0; j < common; ++j)
            if (std::abs(v[j]) > peak) peak = std::abs(v[j]), at = static_cast<int>(j);
        std::snprintf(cell, sizeof cell, "Max Abs %d(sample %d)\t", peak, at);
        text += cell;
    }
    text += "\r\nPosition\tvalues\r\n";
    for (size_t j = 0; j < common; ++j) {
        text += std::to_string(j) + "\t";
        for (const auto& v : values) text += std::to_string(v[j]) + "\t";
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// ---- the scenarios ------------------------------------------------------

// A noise-free loopback device that runs 20 buffers of 64 samples as fast as
// it can: a run of one second holds exactly those.
std::string loop(const std::string& name, const std::string& extra) {
    return R"({"name": ")" + name +
           R"(", "clock": "freewheel", "bufferSamples": 64, "maxTicks": 20, "noise": 0)" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

std::string devices(std::initializer_list<std::string> list) {
    std::string all = R"({"devices": [)";
    bool first = true;
    for (const std::string& d : list) all += (first ? "" : ", ") + d, first = false;
    return all + "]}";
}

const std::string kTwoByTwo16 =
    R"("outputs": [{"format": 16}, {"format": 16}], "inputs": [{"format": 16}, {"format": 16}],)"
    R"( "routes": [{"from": 0, "to": 0, "latency": 100}, {"from": 1, "to": 1, "latency": 37}])";

const std::string kFullScale16("\xFF\x7F", 2);

std::vector<Scenario> scenarios() {
    const std::string plain = devices({loop("Loop", kTwoByTwo16)});
    const std::string three = devices({loop("First", ""), loop("Second", kTwoByTwo16), loop("Third", "")});
    const std::string threeSelected = deviceList({"First", "Second", "Third"});
    const std::string invalid3 = "Invalid device selected. Available choices are 0 to 2\nAborting\n" + kNoAudio;
    const std::vector<std::pair<int, int>> two16 = {{0, 2}, {1, 2}};
    const std::vector<ImpulseCapture> twoImpulses = {{0, 2, 100, kFullScale16}, {1, 2, 37, kFullScale16}};
    const std::vector<std::string> fullRun16 =
        join({enumerate(1), startUp(0), channelCalls(0, 0, 16), channelCalls(0, 1, 16), channelCalls(1, 0, 16),
              channelCalls(1, 1, 16), noChannel(1, 2), kRun});

    return {
        {"OneDeviceRunsWithoutAskingWhichOne", plain, "1\n",
         deviceList({"Loop"}) + kOnlyDevice + kStartUp + twoByTwo(2, 2) + kPrompt + kReleased, fullRun16,
         Report::kFromCaptures, two16, twoImpulses,
         {"Max Abs 32767(sample 100)\tMax Abs 32767(sample 37)\t"}},

        {"NoDeviceEndsAfterTheHeader", devices({}), "", "ID\tDevice Name\n" + kNoAudio, enumerate(0), Report::kNone},

        {"ThreeDevicesAndTheAnswerOne", three, "1\n1\n",
         threeSelected + selected("Second") + kStartUp + twoByTwo(2, 2) + kPrompt + kReleased,
         join({enumerate(3), startUp(1), channelCalls(0, 0, 16), channelCalls(0, 1, 16), channelCalls(1, 0, 16),
               channelCalls(1, 1, 16), noChannel(1, 2), kRun}),
         Report::kFromCaptures, two16, twoImpulses},

        {"BothAnswersOnOneLine", three, "1 1\n",
         threeSelected + selected("Second") + kStartUp + twoByTwo(2, 2) + kPrompt + kReleased, {},
         Report::kFromCaptures, two16, twoImpulses},

        {"AnAnswerEqualToTheCountIsRefused", three, "3\n", threeSelected + "Select device to use: " + invalid3,
         enumerate(3), Report::kNone},
        {"LettersAreRefused", three, "abc\n", threeSelected + "Select device to use: " + invalid3, enumerate(3),
         Report::kNone},
        {"MinusOneIsRefused", three, "-1\n", threeSelected + "Select device to use: " + invalid3, enumerate(3),
         Report::kNone},
        {"ANumberAboveThirtyTwoBitsIsRefused", three, "4294967296\n",
         threeSelected + "Select device to use: " + invalid3, enumerate(3), Report::kNone},
        {"AMillionDigitsAreRefused", three, std::string(1000000, '7') + "\n",
         threeSelected + "Select device to use: " + invalid3, enumerate(3), Report::kNone},
        // A seconds answer of a million digits cannot be read: no time at all.
        {"AMillionDigitsForSecondsRunForNoTime", devices({loop("Loop", kTwoByTwo16)}), std::string(1000000, '9') + "\n",
         deviceList({"Loop"}) + kOnlyDevice + kStartUp + twoByTwo(2, 2) + kPrompt + kReleased, fullRun16,
         Report::kFromCaptures, two16},
        // The stand-in's own input: a broken configuration is one line on
        // standard error and no device.
        {"ABrokenConfigurationIsNoDevice", R"({"devices": [{"name": "Half")", "1\n", "ID\tDevice Name\n" + kNoAudio,
         enumerate(0), Report::kNone, {}, {}, {}, false, false, 0, 0, "not valid JSON"},
        {"AnUnknownKeyIsNoDevice", devices({loop("Typo", R"("sampleRat": 44100)")}), "1\n",
         "ID\tDevice Name\n" + kNoAudio, enumerate(0), Report::kNone, {}, {}, {}, false, false, 0, 0,
         "devices[0].sampleRat: unknown key"},
        {"ClosedInputIsRefused", three, "", threeSelected + "Select device to use: " + invalid3, enumerate(3),
         Report::kNone},

        // The letters after "2" are the seconds answer, which cannot be read:
        // the run lasts no time at all.
        {"LettersAfterTheNumberStartTheNextAnswer", three, "  \n2abc\n",
         threeSelected + selected("Third") + kStartUp + kPrompt + kReleased,
         join({enumerate(3), startUp(2), noChannel(0, 0), noChannel(1, 0), kRun}), Report::kEmpty},

        {"AnswersThatEndEarlyRunForNoTime", devices({loop("Loop", kTwoByTwo16)}), "",
         deviceList({"Loop"}) + kOnlyDevice + kStartUp + twoByTwo(2, 2) + kPrompt + kReleased, fullRun16,
         Report::kFromCaptures, two16},

        // Only outputs 0 and 1 are asked about, however many there are.
        {"EightOutputsAndEightInputs",
         devices({loop("Wide", R"("outputs": [{}, {}, {}, {}, {}, {}, {}, {}], "inputs": [{}, {}, {}, {}, {}, {}, {}, {}],)"
                               R"( "routes": [{"from": 0, "to": 7, "latency": 5}])")}),
         "1\n",
         deviceList({"Wide"}) + kOnlyDevice + kStartUp + output(0, 4) + output(1, 4) + input(0, "In 1", 4) +
             input(1, "In 2", 4) + input(2, "In 3", 4) + input(3, "In 4", 4) + input(4, "In 5", 4) +
             input(5, "In 6", 4) + input(6, "In 7", 4) + input(7, "In 8", 4) + kPrompt + kReleased,
         join({enumerate(1), startUp(0), channelCalls(0, 0, 18), channelCalls(0, 1, 18), channelCalls(1, 0, 18),
               channelCalls(1, 1, 18), channelCalls(1, 2, 18), channelCalls(1, 3, 18), channelCalls(1, 4, 18),
               channelCalls(1, 5, 18), channelCalls(1, 6, 18), channelCalls(1, 7, 18), noChannel(1, 8), kRun}),
         Report::kFromCaptures,
         {{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}, {6, 4}, {7, 4}},
         {{7, 4, 5, std::string("\xFF\xFF\xFF\x7F", 4)}, {0, 4, 0, std::string(4, '\0')}}},

        {"OneOutputAndNoInput", devices({loop("Mono", R"("outputs": [{"name": "Main", "format": 17}])")}), "1\n",
         deviceList({"Mono"}) + kOnlyDevice + kStartUp + output(0, 3) + kPrompt + kReleased,
         join({enumerate(1), startUp(0), channelCalls(0, 0, 17), noChannel(0, 1), noChannel(1, 0), kRun}),
         Report::kEmpty},

        // 16-bit outputs into 24- and 32-bit inputs, scaled by full scale.
        {"WidthsScaleBetweenFormats",
         devices({loop("Mixed", R"("outputs": [{"format": 16}, {"format": 18}],)"
                                R"( "inputs": [{"name": "Line L", "format": 17}, {"name": "Line R", "format": 18}, {"format": 16}],)"
                                R"( "routes": [{"from": 0, "to": 0, "latency": 3}, {"from": 0, "to": 1, "latency": 64},)"
                                R"( {"from": 1, "to": 2, "latency": 1279}])")}),
         "1\n",
         deviceList({"Mixed"}) + kOnlyDevice + kStartUp + output(0, 2) + output(1, 4) + input(0, "Line L", 3) +
             input(1, "Line R", 4) + input(2, "In 3", 2) + kPrompt + kReleased,
         {}, Report::kFromCaptures, {{0, 3}, {1, 4}, {2, 2}},
         {{0, 3, 3, std::string("\x00\xFF\x7F", 3)},
          {1, 4, 64, std::string("\x00\x00\xFF\x7F", 4)},
          {2, 2, 1279, kFullScale16}},
         {"Max Abs 32767(sample 3)\tMax Abs 32767(sample 64)\tMax Abs 32767(sample 1279)\t"}},

        // An unsupported format gets no record: no pattern, no file, no
        // enabling, no column in the report.
        {"UnsupportedFormatsAreLeftOut",
         devices({loop("Float", R"("outputs": [{"format": 19}, {"format": 16}],)"
                                R"( "inputs": [{"format": 19}, {"format": 16}, {"format": 99}],)"
                                R"( "routes": [{"from": 1, "to": 1, "latency": 10}])")}),
         "1\n",
         deviceList({"Float"}) + kOnlyDevice + kStartUp + kFloat + output(1, 2) + "0 In 1: Enabled" + kFloat +
             input(1, "In 2", 2) + "2 In 3: Enabled" + kFloat + kPrompt + kReleased,
         join({enumerate(1), startUp(0), {"BASS_ASIO_ChannelGetInfo(0, 0, *) = 1", "BASS_ASIO_ChannelGetFormat(0, 0) = 19"},
               channelCalls(0, 1, 16),
               {"BASS_ASIO_ChannelGetInfo(1, 0, *) = 1", "BASS_ASIO_ChannelGetFormat(1, 0) = 19"},
               channelCalls(1, 1, 16),
               {"BASS_ASIO_ChannelGetInfo(1, 2, *) = 1", "BASS_ASIO_ChannelGetFormat(1, 2) = 99"}, noChannel(1, 3),
               kRun}),
         Report::kFromCaptures, {{1, 2}}, {{1, 2, 10, kFullScale16}}, {"Max Abs 32767(sample 10)\t"}},

        {"TrailingFragmentsReachTheCaptureFile",
         devices({loop("Odd", R"("inputs": [{"format": 17}], "outputs": [{"format": 17}], "trailingBytes": 2,)"
                              R"( "routes": [{"from": 0, "to": 0, "latency": 64}])")}),
         "1\n", deviceList({"Odd"}) + kOnlyDevice + kStartUp + output(0, 3) + input(0, "In 1", 3) + kPrompt + kReleased,
         {}, Report::kFromCaptures, {{0, 3}}, {{0, 3, 64, std::string("\xFF\xFF\x7F", 3), 20, 64, 2}},
         {"Max Abs 32767(sample 64)\t"}, false, false, 2},

        {"AMissingFolderLosesTheFilesButNotTheRun", plain, "1\n",
         deviceList({"Loop"}) + kOnlyDevice + kStartUp + output(0, 2) + output(1, 2) +
             input(0, "In 1", 2, false) + input(1, "In 2", 2, false) + kPrompt + kReleased,
         fullRun16, Report::kNone, {}, {}, {}, true},

        // Four callback threads at once, two routes summed into one input.
        {"ThreadsAndSummedRoutes",
         devices({loop("Threads", R"("callbackThreads": 4, "outputs": [{"format": 16}, {"format": 16}],)"
                                  R"( "inputs": [{"format": 16}, {"format": 16}, {"format": 16}, {"format": 16}],)"
                                  R"( "routes": [{"from": 0, "to": 2, "latency": 7, "gain": 0.25},)"
                                  R"( {"from": 1, "to": 2, "latency": 7, "gain": 0.25}, {"from": 1, "to": 3, "latency": 900}])")}),
         "1\n",
         deviceList({"Threads"}) + kOnlyDevice + kStartUp + output(0, 2) + output(1, 2) + input(0, "In 1", 2) +
             input(1, "In 2", 2) + input(2, "In 3", 2) + input(3, "In 4", 2) + kPrompt + kReleased,
         {}, Report::kFromCaptures, {{0, 2}, {1, 2}, {2, 2}, {3, 2}},
         {{2, 2, 7, std::string("\x00\x40", 2)}, {3, 2, 900, kFullScale16}},
         {"Max Abs 0(sample -1)\tMax Abs 0(sample -1)\tMax Abs 16384(sample 7)\tMax Abs 32767(sample 900)\t"}},

        // Eight 24-bit inputs spread over four callback threads.
        {"EightInputsOnFourThreads",
         devices({loop("Eight", R"("callbackThreads": 4, "outputs": [{"format": 17}, {"format": 17}],)"
                                R"( "inputs": [{"format": 17}, {"format": 17}, {"format": 17}, {"format": 17},)"
                                R"( {"format": 17}, {"format": 17}, {"format": 17}, {"format": 17}],)"
                                R"( "routes": [{"from": 0, "to": 0, "latency": 1}, {"from": 1, "to": 3, "latency": 333},)"
                                R"( {"from": 0, "to": 7, "latency": 1000}])")}),
         "1\n",
         deviceList({"Eight"}) + kOnlyDevice + kStartUp + output(0, 3) + output(1, 3) + input(0, "In 1", 3) +
             input(1, "In 2", 3) + input(2, "In 3", 3) + input(3, "In 4", 3) + input(4, "In 5", 3) +
             input(5, "In 6", 3) + input(6, "In 7", 3) + input(7, "In 8", 3) + kPrompt + kReleased,
         {}, Report::kFromCaptures, {{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {7, 3}},
         {{0, 3, 1, std::string("\xFF\xFF\x7F", 3)}, {3, 3, 333, std::string("\xFF\xFF\x7F", 3)},
          {7, 3, 1000, std::string("\xFF\xFF\x7F", 3)}, {5, 3, 0, std::string(3, '\0')}}},

        // A full disk: the report fills it, and the captures' buffered tails
        // find no room when they are closed after it.
        {"AFullDiskCutsTheReportAndTheCaptures", plain, "1\n",
         deviceList({"Loop"}) + kOnlyDevice + kStartUp + twoByTwo(2, 2) + kPrompt + kReleased +
             "Sample report is incomplete\nCapture file for input channel 0 is incomplete\n"
             "Capture file for input channel 1 is incomplete\n",
         fullRun16, Report::kCut, {}, {}, {}, false, false, 0, 8},
        // The capture outgrows the disk; the report (no rows: the other input
        // recorded nothing) still fits.
        {"AFullDiskCutsACapture",
         devices({loop("Loop", R"("maxTicks": 40, "inputs": [{}, {}], "outputs": [{}],)"
                               R"( "routes": [{"from": 0, "to": 0}], "fail": {"enableInput": [1]})")}),
         "1\n",
         deviceList({"Loop"}) + kOnlyDevice + kStartUp + output(0, 4) + input(0, "In 1", 4) +
             input(1, "In 2", 4, true, false) + kPrompt + kReleased + "Capture file for input channel 0 is incomplete\n",
         {}, Report::kCut, {}, {}, {"Max Abs 0(sample -1)\tMax Abs 0(sample -1)\t"}, false, false, 0, 12},

        // CTRL+C during an hour's wait ends the wait; the run completes. How
        // many buffers arrived before it is up to the clock.
        {"InterruptEndsTheWait", devices({loop("Loop", kTwoByTwo16)}), "3600\n",
         deviceList({"Loop"}) + kOnlyDevice + kStartUp + twoByTwo(2, 2) + kPrompt + kReleased, fullRun16,
         Report::kFromCaptures, two16, {}, {}, false, true},

        // The built-in device: a loopback with faint noise, 549 samples late.
        {"BuiltInDevice", "", "1\n",
         deviceList({"Loopback Simulator"}) + kOnlyDevice + kStartUp + twoByTwo(4, 4) + kPrompt + kReleased, {},
         Report::kFromCaptures, {{0, 4}, {1, 4}}},
    };
}

// Every library call of a run failing in turn, each through the stand-in's
// fail settings, on a device with two outputs looped to two inputs.
std::vector<Scenario> faultScenarios() {
    struct Fault {
        const char* name;
        const char* fail;
    };
    const Fault faults[] = {
        {"FirstInitFails", R"({"init": [1]})"},
        {"SettingsPanelFails", R"({"controlPanel": true})"},
        {"FirstFreeFails", R"({"free": [1]})"},
        {"SecondInitFails", R"({"init": [2]})"},
        {"EnablingOutput0Fails", R"({"enableOutput": [0]})"},
        {"EnablingOutput1Fails", R"({"enableOutput": [1]})"},
        {"EnablingInput0Fails", R"({"enableInput": [0]})"},
        {"EnablingInput1Fails", R"({"enableInput": [1]})"},
        {"StartFailsAndTheRunGoesOn", R"({"start": true})"},
        {"StopFails", R"({"stop": true})"},
        {"FinalFreeFailsSilently", R"({"free": [2]})"},
    };
    const std::string header = deviceList({"Loop"}) + kOnlyDevice;
    const std::string silent = "Max Abs 0(sample -1)\t";
    const std::string impulse0 = "Max Abs 32767(sample 100)\t";
    const std::string impulse1 = "Max Abs 32767(sample 37)\t";
    std::vector<Scenario> list;
    for (const Fault& f : faults) {
        const std::string name = f.name;
        Scenario s{f.name, devices({loop("Loop", kTwoByTwo16 + R"(, "fail": )" + f.fail)}), "1\n"};
        s.inputs = {{0, 2}, {1, 2}};
        const auto init = [](int result) { return "BASS_ASIO_Init(0, 1) = " + std::to_string(result); };
        const std::vector<std::string> startUpCalls = join({enumerate(1), startUp(0)});
        const bool enabled[4] = {name != "EnablingOutput0Fails", name != "EnablingOutput1Fails",
                                 name != "EnablingInput0Fails", name != "EnablingInput1Fails"};
        const std::vector<std::string> setUpCalls =
            join({channelCalls(0, 0, 16, enabled[0]), channelCalls(0, 1, 16, enabled[1]),
                  channelCalls(1, 0, 16, enabled[2]), channelCalls(1, 1, 16, enabled[3]), noChannel(1, 2)});
        const std::string setUp = output(0, 2, enabled[0]) + output(1, 2, enabled[1]) +
                                  input(0, "In 1", 2, true, enabled[2]) + input(1, "In 2", 2, true, enabled[3]);

        if (name == "FirstInitFails") {
            s.transcript = header + kNoAudio;
            s.trace = join({enumerate(1), {init(0)}});
        } else if (name == "SettingsPanelFails") {
            s.transcript = header + kNoAudio;
            s.trace = join({enumerate(1), {init(1), "BASS_ASIO_ControlPanel() = 0"}});
        } else if (name == "FirstFreeFails") {
            s.transcript = header + "Could not deinitialise ASIO subsystem\n" + kNoAudio;
            s.trace = join({enumerate(1), {init(1), "BASS_ASIO_ControlPanel() = 1", "BASS_ASIO_Free() = 0"}});
        } else if (name == "SecondInitFails") {
            s.transcript = header + "Deintialised ASIO subsystem\nCould not reintiialise ASIO subsystem\n" + kNoAudio;
            s.trace = join({enumerate(1), {init(1), "BASS_ASIO_ControlPanel() = 1", "BASS_ASIO_Free() = 1", init(0)}});
        } else {
            const bool startFails = name == "StartFailsAndTheRunGoesOn";
            const bool stopFails = name == "StopFails";
            const bool freeFails = name == "FinalFreeFailsSilently";
            s.transcript = header + kStartUp + setUp + kPrompt + (startFails ? "Could not start playback\n" : "") +
                           (stopFails ? "Could not stop device\n" : "") + (freeFails ? "" : kReleased);
            s.trace = join({startUpCalls, setUpCalls,
                            {std::string("BASS_ASIO_Start(0, 32) = ") + (startFails ? "0" : "1"),
                             std::string("BASS_ASIO_Stop() = ") + (stopFails ? "0" : "1"),
                             std::string("BASS_ASIO_Free() = ") + (freeFails ? "0" : "1")}});
            // An input that was not enabled recorded nothing, and so the
            // common length is 0; an output that was not enabled sent nothing.
            const bool rows = !startFails && enabled[2] && enabled[3];
            s.reportHeader = {(rows && enabled[0] ? impulse0 : silent) + (rows && enabled[1] ? impulse1 : silent)};
            s.report = Report::kFromCaptures;
            if (!startFails) {
                if (enabled[2]) s.captures.push_back({0, 2, 100, enabled[0] ? kFullScale16 : std::string(2, '\0')});
                if (enabled[3]) s.captures.push_back({1, 2, 37, enabled[1] ? kFullScale16 : std::string(2, '\0')});
            }
            for (int k = 0; k < 2; ++k)
                if (startFails || !enabled[2 + k]) s.captures.push_back({k, 2, 0, "", 0});
            list.push_back(s);
            continue;
        }
        s.report = Report::kNone;
        list.push_back(s);
    }
    return list;
}

class EndToEnd : public testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        if (!target.unavailable.empty()) GTEST_SKIP() << target.unavailable;
    }
};

TEST_P(EndToEnd, Run) {
    const Scenario& s = GetParam();
    // The program's files go to one folder, the stand-in's configuration and
    // trace to another, so a missing temp folder still leaves the trace.
    ProgramFolder folder;
    TempFolder work;
    const fs::path configPath = work.file("device.json");
    const fs::path tracePath = work.file("trace.txt");
    if (!s.config.empty()) std::ofstream(configPath) << s.config;
    if (s.removeFolder) fs::remove_all(folder.path());
    std::optional<SmallDisk> disk;
    if (s.diskKiB > 0) {
        if (underWine()) GTEST_SKIP() << "a full disk needs a tmpfs as c:\\temp, which lies inside the Wine prefix";
        disk.emplace(folder.path(), s.diskKiB);
        if (!disk->error().empty()) GTEST_SKIP() << "cannot mount a tmpfs as the temp folder here: " << disk->error();
    }

    ProcessOptions options;
    options.input = s.answers;
    if (s.interruptWait) options.watch = interruptTheWait(tracePath);
    const ProcessResult result = runTarget(folder, s.config.empty() ? fs::path() : configPath, tracePath, options);

    ASSERT_FALSE(result.timedOut);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, s.transcript);
    if (s.error == nullptr) {
        EXPECT_EQ(result.err, "");
    } else {
        EXPECT_NE(result.err.find(s.error), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    // The trace holds the library calls, and after each stop a summary per
    // channel; every input's capture file holds exactly the bytes that the
    // library delivered to it.
    std::vector<std::string> calls;
    for (const std::string& line : lines(readFileBytes(tracePath))) {
        if (line.rfind("BASS_ASIO_", 0) == 0) calls.push_back(line);
        unsigned channel = 0;
        unsigned long long bytes = 0;
        if (std::sscanf(line.c_str(), "callbacks in %u: calls=%*u bytes=%llu", &channel, &bytes) != 2) continue;
        const fs::path capture = folder.file("ASIO.Channel(Output)." + std::to_string(channel) + ".pcm");
        if (s.report != Report::kCut && fs::exists(capture)) {
            EXPECT_EQ(fs::file_size(capture), bytes) << line;
        }
    }
    if (!s.trace.empty()) {
        EXPECT_EQ(calls, s.trace);
    }

    const fs::path report = folder.file("ASIO PCM.txt");
    switch (s.report) {
        case Report::kNone: EXPECT_FALSE(fs::exists(report)); break;
        case Report::kEmpty:
            EXPECT_TRUE(fs::exists(report));
            EXPECT_EQ(readFileBytes(report), "");
            break;
        case Report::kCut: break;  // whatever fitted on the disk
        case Report::kFromCaptures:
            EXPECT_TRUE(sameBytes(readFileBytes(report),
                                  referenceReport(folder, s.inputs, 64, static_cast<size_t>(s.trailingBytes))));
            break;
    }
    for (const ImpulseCapture& capture : s.captures) {
        SCOPED_TRACE("capture of input " + std::to_string(capture.channel));
        EXPECT_TRUE(sameBytes(
            readFileBytes(folder.file("ASIO.Channel(Output)." + std::to_string(capture.channel) + ".pcm")),
            capture.bytes()));
    }
    if (!s.reportHeader.empty()) {
        const std::vector<std::string> reportLines = lines(readFileBytes(report));
        ASSERT_FALSE(reportLines.empty());
        EXPECT_EQ(reportLines[0], s.reportHeader[0] + "\r");
    }
    if (HasFailure()) {
        // Keep what the program wrote, for a look at the failing signal.
        const fs::path kept =
            fs::temp_directory_path() / ("asioloop-failed-" + std::string(underWine() ? "wine-" : "") + s.name);
        fs::remove_all(kept);
        fs::create_directories(kept);
        if (fs::exists(folder.path())) fs::copy(folder.path(), kept / "temp", fs::copy_options::recursive);
        if (fs::exists(tracePath)) fs::copy_file(tracePath, kept / "trace.txt");
        std::ofstream(kept / "transcript.txt") << result.out;
        ADD_FAILURE() << "the run's files are kept in " << kept;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, EndToEnd, testing::ValuesIn(faultScenarios()),
                         [](const testing::TestParamInfo<Scenario>& param) { return std::string(param.param.name); });
INSTANTIATE_TEST_SUITE_P(Scenarios, EndToEnd, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario>& param) { return std::string(param.param.name); });

// The built-in device: its peaks are where the loopback puts the impulse.
TEST(BuiltInDevice, FindsTheImpulseAtItsLatency) {
    ProgramFolder folder;
    ProcessOptions options;
    options.input = "1\n";
    const ProcessResult result = runTarget(folder, {}, {}, options);
    ASSERT_TRUE(result.exited);
    const std::vector<std::string> report = lines(readFileBytes(folder.file("ASIO PCM.txt")));
    ASSERT_GT(report.size(), 1000u);  // a second at 48 kHz, less what the start-up takes
    // Noise lowers full scale by a few steps at most.
    int magnitude[2] = {0, 0}, position[2] = {0, 0};
    ASSERT_EQ(std::sscanf(report[0].c_str(), "Max Abs %d(sample %d)\tMax Abs %d(sample %d)", &magnitude[0],
                          &position[0], &magnitude[1], &position[1]),
              4);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(position[k], 549);
        EXPECT_GE(magnitude[k], 32760);
    }
}

// CTRL+C outside the wait keeps its usual effect: the process ends there,
// and writes no report.
TEST(Interrupt, AtTheSecondsQuestionEndsTheProgram) {
    ProgramFolder folder;
    TempFolder work;
    std::ofstream(work.file("device.json")) << devices({loop("Loop", kTwoByTwo16)});
    ProcessOptions options;
    options.keepInputOpen = true;
    bool sent = false;
    options.watch = [&sent](pid_t pid, const std::string& out) {
        if (!sent && out.find(kPrompt) != std::string::npos) sent = kill(pid, SIGINT) == 0;
    };
    const ProcessResult result = runTarget(folder, work.file("device.json"), {}, options);
    ASSERT_FALSE(result.timedOut);
    // Wine ends the process with status 0 on CTRL+C; natively SIGINT ends it.
    if (!underWine()) {
        EXPECT_EQ(result.signal, SIGINT);
    }
    EXPECT_FALSE(fs::exists(folder.file("ASIO PCM.txt")));
}

}  // namespace

// Runs the native build by default. `--wine=LAUNCHER --exe=PROGRAM
// --wineprefix=FOLDER` runs a Windows build under Wine instead;
// `--timeout=SECONDS` bounds each run of the program; `--unavailable-if=FILE`
// skips every scenario, giving the file's text as the reason, when that file
// exists (and then exits with 77, which the test runner takes for skipped).
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string value = arg.substr(arg.find('=') + 1);
        if (arg.rfind("--wine=", 0) == 0) target.wine = value;
        if (arg.rfind("--exe=", 0) == 0) target.exe = value;
        if (arg.rfind("--wineprefix=", 0) == 0) setenv("WINEPREFIX", value.c_str(), 1);
        if (arg.rfind("--timeout=", 0) == 0) target.timeoutSeconds = std::stoi(value);
        if (arg.rfind("--unavailable-if=", 0) == 0 && fs::exists(value)) {
            target.unavailable = readFileBytes(value);
            if (target.unavailable.empty()) target.unavailable = "unavailable here";
        }
    }
    if (underWine()) {
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        // Emulated 32-bit Wine needs the whole 32-bit address space kept for
        // it, or its fixed mappings can collide with the emulator's own.
        setenv("QEMU_RESERVED_VA", "0xffff0000", 1);
    }
    const int status = RUN_ALL_TESTS();
    return status == 0 && !target.unavailable.empty() ? 77 : status;
}
