// The peak analysis and the sample report, from registries filled by hand.
#include <gtest/gtest.h>

#include <filesystem>

#include "channel_stream.h"
#include "results.h"
#include "test_support.h"

namespace {

class Results : public testing::Test {
protected:
    ~Results() override {
        releaseChannelStreams();
        channelStreams.clear();
    }
    void addOutput() {
        CapturedConsole quiet;
        channelStreams.push_back(new ChannelStream(static_cast<uint32_t>(channelStreams.size()), false, 2));
    }
    ChannelStream* addInput(std::vector<int16_t> values) {
        CapturedConsole quiet;
        auto* stream = new ChannelStream(static_cast<uint32_t>(channelStreams.size()), true, 2);
        for (int16_t value : values) stream->samples.push_back(value);
        channelStreams.push_back(stream);
        return stream;
    }
    std::string report() {
        const PeakSummary summary = analysePeaks();
        writeSampleReport(summary.commonLength, summary.inputPresent);
        return readFileBytes(folder.file("ASIO PCM.txt"));
    }
    TempFolder folder;
};

TEST_F(Results, TheWorkedExample) {
    addOutput();
    addOutput();
    ChannelStream* first = addInput({0, 5, -7, 32767, 12});
    ChannelStream* second = addInput({1, -2, 3, 0});
    EXPECT_EQ(report(),
              "Max Abs 32767(sample 3)\tMax Abs 3(sample 2)\t\r\n"
              "Position\tvalues\r\n"
              "0\t0\t1\t\r\n"
              "1\t5\t-2\t\r\n"
              "2\t-7\t3\t\r\n"
              "3\t32767\t0\t\r\n");
    EXPECT_EQ(first->peakMagnitude, 32767);
    EXPECT_EQ(first->peakPosition, 3);
    EXPECT_EQ(second->peakPosition, 2);
}

TEST_F(Results, PeakMagnitudeAndFirstPosition) {
    struct Case {
        const char* why;
        std::vector<int16_t> values;
        int32_t magnitude;
        int32_t position;
    };
    const Case cases[] = {
        {"-32768 outweighs every positive value", {3, -32768, 32767, -32768}, 32768, 1},
        {"equal magnitudes keep the first position, whatever the sign", {0, 1, -5, 2, 5}, 5, 2},
        {"all zero has no peak", {0, 0, 0}, 0, -1},
        {"a peak at the very start", {-9, 8, 7}, 9, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ChannelStream* stream = addInput(c.values);
        const PeakSummary summary = analysePeaks();
        EXPECT_EQ(summary.commonLength, c.values.size());
        EXPECT_TRUE(summary.inputPresent);
        EXPECT_EQ(stream->peakMagnitude, c.magnitude);
        EXPECT_EQ(stream->peakPosition, c.position);
        releaseChannelStreams();
        channelStreams.clear();
    }
}

TEST_F(Results, OnlyTheShortestLengthIsAnalysedAndWritten) {
    addInput({1, 2, 3});
    ChannelStream* longer = addInput({0, 0, 0, 0, -32768});
    EXPECT_EQ(report(),
              "Max Abs 3(sample 2)\tMax Abs 0(sample -1)\t\r\n"
              "Position\tvalues\r\n"
              "0\t1\t0\t\r\n"
              "1\t2\t0\t\r\n"
              "2\t3\t0\t\r\n");
    EXPECT_EQ(longer->peakMagnitude, 0);
}

TEST_F(Results, AnEmptyListLeavesTheHeaderAndNoRows) {
    addInput({});
    addInput({4, 5});
    EXPECT_EQ(report(),
              "Max Abs 0(sample -1)\tMax Abs 0(sample -1)\t\r\n"
              "Position\tvalues\r\n");
}

TEST_F(Results, NoInputRecordEmptiesTheReport) {
    { std::ofstream(folder.file("ASIO PCM.txt")) << "old report"; }
    addOutput();
    const PeakSummary summary = analysePeaks();
    EXPECT_FALSE(summary.inputPresent);
    EXPECT_EQ(summary.commonLength, kLengthSentinel);
    writeSampleReport(summary.commonLength, summary.inputPresent);
    EXPECT_TRUE(std::filesystem::exists(folder.file("ASIO PCM.txt")));
    EXPECT_EQ(readFileBytes(folder.file("ASIO PCM.txt")), "");
}

TEST_F(Results, ALongReportMatchesARowByRowFormatting) {
    // Many rows cross the writer's block boundaries: compare with plain
    // formatting of the same values.
    std::vector<int16_t> a;
    std::vector<int16_t> b;
    for (int i = 0; i < 50000; ++i) {
        a.push_back(static_cast<int16_t>((i * 7919) % 65536 - 32768));
        b.push_back(static_cast<int16_t>(i % 2 == 0 ? -i % 32768 : i % 32768));
    }
    addInput(a);
    addInput(b);
    const std::string written = report();
    std::string expected = "Max Abs 32768(sample 0)\tMax Abs 32767(sample 32767)\t\r\nPosition\tvalues\r\n";
    for (size_t i = 0; i < a.size(); ++i)
        expected += std::to_string(i) + "\t" + std::to_string(a[i]) + "\t" + std::to_string(b[i]) + "\t\r\n";
    EXPECT_EQ(written, expected);
}

TEST_F(Results, AReportThatCannotOpenIsSilent) {
    addInput({1});
    std::filesystem::remove_all(folder.path());
    CapturedConsole console;
    report();
    EXPECT_EQ(console.text(), "");
    EXPECT_FALSE(std::filesystem::exists(folder.file("ASIO PCM.txt")));
}

}  // namespace
