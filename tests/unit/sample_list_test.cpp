// The chunked list of recorded values: order across chunks, growth that
// never moves what is held, and reading in bounded runs.
#include <gtest/gtest.h>

#include "channel_stream.h"
#include "sample_values.h"
#include "test_support.h"

namespace {

constexpr size_t kChunk = SampleList::kChunkValues;

TEST(SampleList, KeepsOrderAcrossChunksWithoutMovingWhatItHolds) {
    SampleList list;
    list.push_back(7);
    size_t count = 0;
    const int16_t* first = SampleList::Cursor(list).run(1, count);
    for (size_t i = 1; i < 3 * kChunk + 5; ++i) list.push_back(static_cast<int16_t>(i));
    EXPECT_EQ(SampleList::Cursor(list).run(1, count), first);  // still where it was
    EXPECT_EQ(list.size(), 3 * kChunk + 5);
    const std::vector<int16_t> values = valuesOf(list);
    ASSERT_EQ(values.size(), 3 * kChunk + 5);
    EXPECT_EQ(values[0], 7);
    for (size_t i = 1; i < values.size(); ++i) ASSERT_EQ(values[i], static_cast<int16_t>(i)) << i;
    EXPECT_EQ(list.at(2 * kChunk + 3), static_cast<int16_t>(2 * kChunk + 3));
}

TEST(SampleList, RoomAndCommitFillChunkByChunk) {
    SampleList list;
    size_t written = 0;
    while (written < kChunk + 10) {
        size_t room = 0;
        int16_t* values = list.room(room);
        ASSERT_GT(room, 0u);
        const size_t count = std::min(room, kChunk + 10 - written);
        for (size_t k = 0; k < count; ++k) values[k] = static_cast<int16_t>(written + k);
        list.commit(count);
        written += count;
    }
    EXPECT_EQ(list.size(), kChunk + 10);
    EXPECT_EQ(list.at(kChunk + 9), static_cast<int16_t>(kChunk + 9));
}

TEST(SampleList, ACursorStopsAtItsLimitAndAtTheEnd) {
    SampleList list;
    for (int i = 0; i < 10; ++i) list.push_back(static_cast<int16_t>(i));
    SampleList::Cursor cursor(list);
    size_t count = 0;
    const int16_t* run = cursor.run(4, count);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(run[3], 3);
    run = cursor.run(100, count);
    ASSERT_EQ(count, 6u);
    EXPECT_EQ(run[0], 4);
    cursor.run(100, count);
    EXPECT_EQ(count, 0u);

    SampleList empty;
    EXPECT_EQ(SampleList::Cursor(empty).run(5, count), nullptr);
    EXPECT_EQ(count, 0u);
}

}  // namespace
