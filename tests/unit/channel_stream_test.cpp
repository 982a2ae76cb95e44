// Building channel records: their console lines, the test pattern, the
// capture file, and the release of the registry.
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "channel_stream.h"
#include "test_support.h"

namespace {

void release(ChannelStream* stream) {
    delete[] stream->pattern;
    if (stream->captureFile != nullptr) std::fclose(stream->captureFile);
    delete stream;
}

TEST(ChannelStream, OutputRecordsHoldTheFullScaleSampleThenSilence) {
    for (uint32_t width : {2u, 3u, 4u}) {
        SCOPED_TRACE(width);
        CapturedConsole console;
        ChannelStream* stream = new ChannelStream(1, false, width);
        EXPECT_EQ(console.text(), "Sample length 48000, bytes per sample " + std::to_string(width) +
                                      "\nBytes per sample" + std::to_string(width) + "\n");
        ASSERT_EQ(stream->patternSize, width * 48000);
        for (uint32_t i = 0; i + 1 < width; ++i) EXPECT_EQ(stream->pattern[i], 0xFF);
        EXPECT_EQ(stream->pattern[width - 1], 0x7F);
        uint32_t nonZero = 0;
        for (uint32_t i = width; i < stream->patternSize; ++i) nonZero += stream->pattern[i] != 0;
        EXPECT_EQ(nonZero, 0u);
        EXPECT_EQ(stream->channel, 1u);
        EXPECT_FALSE(stream->isInput);
        EXPECT_FALSE(stream->played);
        EXPECT_EQ(stream->patternPos, 0u);
        EXPECT_EQ(stream->peakMagnitude, 0);
        EXPECT_EQ(stream->peakPosition, -1);
        EXPECT_EQ(stream->captureFile, nullptr);
        EXPECT_TRUE(stream->samples.empty());
        release(stream);
    }
}

TEST(ChannelStream, InputRecordsCreateOrEmptyTheirCaptureFile) {
    TempFolder folder;
    const auto path = folder.file("ASIO.Channel(Output).12.pcm");
    { std::ofstream(path) << "left over from the last run"; }

    CapturedConsole console;
    ChannelStream* stream = new ChannelStream(12, true, 3);
    EXPECT_EQ(console.text(),
              "Sample length 48000, bytes per sample 3\nOpened output file for output channel 12\n");
    ASSERT_NE(stream->captureFile, nullptr);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_EQ(stream->patternSize, 3u * 48000);
    EXPECT_EQ(stream->peakPosition, -1);
    release(stream);
}

TEST(ChannelStream, ACaptureFileThatCannotBeOpenedIsOnlyReported) {
    struct Case {
        const char* why;
        void (*plant)(const TempFolder&);
    };
    const Case cases[] = {
        {"the folder does not exist", [](const TempFolder& f) { std::filesystem::remove_all(f.path()); }},
        {"a link at the name is not followed",
         [](const TempFolder& f) {
             std::ofstream(f.file("victim")) << "keep";
             std::filesystem::create_symlink(f.file("victim"), f.file("ASIO.Channel(Output).0.pcm"));
         }},
        {"a directory at the name", [](const TempFolder& f) {
             std::filesystem::create_directory(f.file("ASIO.Channel(Output).0.pcm"));
         }},
        // Opening a FIFO with no reader for writing would wait for one forever.
        {"a FIFO at the name does not block", [](const TempFolder& f) {
             mkfifo(f.file("ASIO.Channel(Output).0.pcm").c_str(), 0600);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TempFolder folder;
        c.plant(folder);
        CapturedConsole console;
        ChannelStream* stream = new ChannelStream(0, true, 2);
        EXPECT_EQ(console.text(),
                  "Sample length 48000, bytes per sample 2\nCould  not open output file for output channel 0\n");
        EXPECT_EQ(stream->captureFile, nullptr);
        if (std::filesystem::exists(folder.file("victim"))) {
            EXPECT_EQ(readFileBytes(folder.file("victim")), "keep");
        }
        release(stream);
    }
}

TEST(ReleaseChannelStreams, ClosesEveryCaptureFileSoItsTailReachesTheDisk) {
    TempFolder folder;
    {
        CapturedConsole quiet;
        channelStreams.push_back(new ChannelStream(0, false, 2));
        channelStreams.push_back(new ChannelStream(0, true, 2));
    }
    uint8_t bytes[] = {0x34, 0x12};
    captureProc(1, 0, bytes, 2, channelStreams[1]);
    releaseChannelStreams();
    channelStreams.clear();
    EXPECT_EQ(readFileBytes(folder.file("ASIO.Channel(Output).0.pcm")), "\x34\x12");

    releaseChannelStreams();  // an empty registry: nothing to do
}

}  // namespace
