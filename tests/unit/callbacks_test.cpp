// The playback and capture callbacks on records built as set-up builds them.
#include <gtest/gtest.h>

#include <vector>

#include "channel_stream.h"
#include "sample_values.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An output record of the given width, its console lines swallowed.
ChannelStream* makeOutput(uint32_t width) {
    CapturedConsole quiet;
    return new ChannelStream(0, false, width);
}

void release(ChannelStream* stream) {
    delete[] stream->pattern;
    if (stream->captureFile != nullptr) std::fclose(stream->captureFile);
    delete stream;
}

uint32_t play(ChannelStream* stream, Bytes& buffer) {
    return playbackProc(0, 0, buffer.data(), static_cast<uint32_t>(buffer.size()), stream);
}

bool allZero(const Bytes& bytes, size_t from = 0) {
    for (size_t i = from; i < bytes.size(); ++i)
        if (bytes[i] != 0) return false;
    return true;
}

TEST(PlaybackProc, DeliversTheImpulseOnceThenSilence) {
    ChannelStream* stream = makeOutput(2);
    Bytes buffer(512, 0xAA);
    EXPECT_EQ(play(stream, buffer), 512u);
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(buffer[1], 0x7F);
    EXPECT_TRUE(allZero(buffer, 2));
    EXPECT_TRUE(stream->played);
    EXPECT_EQ(stream->patternPos, 512u);
    for (int call = 0; call < 3; ++call) {
        std::fill(buffer.begin(), buffer.end(), 0xAA);
        EXPECT_EQ(play(stream, buffer), 512u);
        EXPECT_TRUE(allZero(buffer));
        EXPECT_EQ(stream->patternPos, 512u);
    }
    release(stream);
}

TEST(PlaybackProc, IgnoresInputCallsAndEmptyRequests) {
    ChannelStream* stream = makeOutput(2);
    Bytes buffer(8, 0xAA);
    EXPECT_EQ(playbackProc(1, 0, buffer.data(), 8, stream), 0u);
    EXPECT_EQ(playbackProc(0, 0, buffer.data(), 0, stream), 0u);
    EXPECT_EQ(buffer, Bytes(8, 0xAA));
    EXPECT_FALSE(stream->played);
    EXPECT_EQ(stream->patternPos, 0u);
    release(stream);
}

TEST(PlaybackProc, AWholePatternWrapsWithoutCountingAsPlayed) {
    ChannelStream* stream = makeOutput(2);
    const uint32_t size = stream->patternSize;
    Bytes whole(size);
    EXPECT_EQ(play(stream, whole), size);
    EXPECT_EQ(whole[0], 0xFF);
    EXPECT_EQ(stream->patternPos, 0u);
    EXPECT_FALSE(stream->played);

    // Not yet played: the next request starts the pattern again.
    Bytes next(512);
    play(stream, next);
    EXPECT_EQ(next[0], 0xFF);
    EXPECT_EQ(next[1], 0x7F);
    EXPECT_TRUE(stream->played);
    release(stream);
}

TEST(PlaybackProc, ARequestPastTheEndOfAFreshPatternHoldsTheImpulseTwice) {
    ChannelStream* stream = makeOutput(2);
    const uint32_t size = stream->patternSize;
    Bytes buffer(size + 64);
    EXPECT_EQ(play(stream, buffer), size + 64);
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(buffer[size], 0xFF);
    EXPECT_EQ(buffer[size + 1], 0x7F);
    EXPECT_TRUE(stream->played);
    EXPECT_EQ(stream->patternPos, 64u);
    release(stream);
}

TEST(PlaybackProc, OncePlayedTheTailWrapsAndARequestPastTheEndIsAllZero) {
    ChannelStream* stream = makeOutput(3);
    const uint32_t size = stream->patternSize;
    Bytes first(300);
    play(stream, first);
    Bytes tail(size - 300, 0xAA);
    EXPECT_EQ(play(stream, tail), size - 300);
    EXPECT_TRUE(allZero(tail));
    EXPECT_EQ(stream->patternPos, 0u);

    // Runs past the end and ends inside the next pass: all zero, including
    // the pattern bytes copied before the wrap.
    Bytes past(size + 30, 0xAA);
    EXPECT_EQ(play(stream, past), size + 30);
    EXPECT_TRUE(allZero(past));
    EXPECT_EQ(stream->patternPos, 0u);
    release(stream);
}

class CaptureProc : public testing::Test {
protected:
    // An input record of the given width whose capture file opened.
    ChannelStream* makeInput(uint32_t width, uint32_t channel = 0) {
        CapturedConsole quiet;
        return new ChannelStream(channel, true, width);
    }
    // Releases the record, closing its file, and returns the file's bytes.
    std::string closeAndRead(ChannelStream* stream) {
        const uint32_t channel = stream->channel;
        release(stream);
        return readFileBytes(folder.file("ASIO.Channel(Output)." + std::to_string(channel) + ".pcm"));
    }
    static uint32_t capture(ChannelStream* stream, Bytes buffer) {
        return captureProc(1, 0, buffer.data(), static_cast<uint32_t>(buffer.size()), stream);
    }
    TempFolder folder;
};

struct CaptureCase {
    const char* why;
    uint32_t width;
    Bytes buffer;
    std::vector<int16_t> values;
};

TEST_F(CaptureProc, KeepsTheTwoMostSignificantBytesOfEverySample) {
    const CaptureCase cases[] = {
        {"16-bit samples are kept as they are", 2, {0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80}, {32767, 0, -32768}},
        {"24-bit: low byte dropped", 3,
         {0x01, 0x02, 0x03, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x00, 0x10, 0x20, 0x30}, {770, 32767, 128, 12320}},
        {"32-bit: full scale and the sample 32768", 4,
         {0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, {32767, 0, -32768}},
        {"a trailing fragment gives no value", 3, {0xFF, 0xFF, 0x7F, 0x12, 0x34}, {32767}},
        {"a buffer shorter than a sample gives none", 4, {0x01, 0x02, 0x03}, {}},
    };
    for (const CaptureCase& c : cases) {
        SCOPED_TRACE(c.why);
        ChannelStream* stream = makeInput(c.width);
        EXPECT_EQ(capture(stream, c.buffer), c.buffer.size());
        EXPECT_EQ(valuesOf(stream->samples), c.values);
        const std::string file = closeAndRead(stream);
        EXPECT_EQ(file, std::string(c.buffer.begin(), c.buffer.end()));
    }
}

TEST_F(CaptureProc, AppendsEveryCallInOrder) {
    ChannelStream* stream = makeInput(2, 5);
    EXPECT_EQ(capture(stream, {0x01, 0x00}), 2u);
    EXPECT_EQ(capture(stream, {}), 0u);
    EXPECT_EQ(capture(stream, {0x02, 0x00, 0xFE, 0xFF}), 4u);
    EXPECT_EQ(valuesOf(stream->samples), (std::vector<int16_t>{1, 2, -2}));
    EXPECT_EQ(closeAndRead(stream), std::string("\x01\x00\x02\x00\xFE\xFF", 6));
}

TEST_F(CaptureProc, WithoutACaptureFileKeepsNothing) {
    ChannelStream* stream = makeInput(2);
    std::fclose(stream->captureFile);
    stream->captureFile = nullptr;
    EXPECT_EQ(capture(stream, {0xFF, 0x7F}), 2u);
    EXPECT_TRUE(stream->samples.empty());
    release(stream);
}

}  // namespace
