// The values an input channel records: a list that grows inside the capture
// callback for as long as the run lasts. It grows by fixed-size chunks linked
// one after another, so growing never moves what it holds (at an hour of
// 48 kHz a contiguous list would copy hundreds of megabytes inside an audio
// callback, a certain dropout) and costs one allocation and one pointer.
// Readers walk it in order with a cursor.
#pragma once

#include <cstddef>
#include <cstdint>

class SampleList {
    struct Chunk;

public:
    static constexpr size_t kChunkValues = (size_t{1} << 17) - 32;  // 256 KB a chunk, with its link

    SampleList() = default;
    ~SampleList() { clear(); }
    SampleList(const SampleList&) = delete;
    SampleList& operator=(const SampleList&) = delete;

    uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void push_back(int16_t value) {
        if (tailFill_ == kChunkValues) grow();
        tail_->values[tailFill_++] = value;
        ++size_;
    }

    // Free room at the end, to write up to `available` values (at least one)
    // in one go, then commit them.
    int16_t* room(size_t& available) {
        if (tailFill_ == kChunkValues) grow();
        available = kChunkValues - tailFill_;
        return tail_->values + tailFill_;
    }
    void commit(size_t count) {
        tailFill_ += count;
        size_ += count;
    }

    // Releases every chunk.
    void clear();

    // The value at a position. Walks the chunks: for checks, not for loops.
    int16_t at(uint64_t position) const;

    // Reads a list from its start, a run of values at a time.
    class Cursor {
    public:
        explicit Cursor(const SampleList& list) : list_(list), chunk_(list.head_) {}
        // The next values, as many as follow in the same chunk but at most
        // `limit`, and moves past them. Zero at the end of the list.
        const int16_t* run(uint64_t limit, size_t& count);

    private:
        const SampleList& list_;
        const Chunk* chunk_;
        size_t at_ = 0;
    };

private:
    struct Chunk {
        Chunk* next;
        int16_t values[kChunkValues];
    };

    void grow();

    Chunk* head_ = nullptr;
    Chunk* tail_ = nullptr;
    size_t tailFill_ = kChunkValues;  // full, so the first value makes the first chunk
    uint64_t size_ = 0;
};
