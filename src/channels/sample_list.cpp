// Growing, reading and releasing the chunked list of recorded values.
#include "sample_list.h"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// A chunk's memory. On Linux it comes with its pages already in place: one
// call that maps them all costs far less inside the capture callback than a
// page fault for every 4 KB of values as they arrive.
void* allocateChunk(size_t bytes) {
#if defined(__linux__)
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    return memory;
#else
    return ::operator new(bytes);
#endif
}

void releaseChunk(void* memory, size_t bytes) {
#if defined(__linux__)
    munmap(memory, bytes);
#else
    (void)bytes;
    ::operator delete(memory);
#endif
}

}  // namespace

void SampleList::grow() {
    // Only the new chunk's link is written; nothing held so far moves.
    Chunk* chunk = new (allocateChunk(sizeof(Chunk))) Chunk;
    chunk->next = nullptr;
    if (tail_ != nullptr)
        tail_->next = chunk;
    else
        head_ = chunk;
    tail_ = chunk;
    tailFill_ = 0;
}

void SampleList::clear() {
    while (head_ != nullptr) {
        Chunk* next = head_->next;
        releaseChunk(head_, sizeof(Chunk));
        head_ = next;
    }
    tail_ = nullptr;
    tailFill_ = kChunkValues;
    size_ = 0;
}

int16_t SampleList::at(uint64_t position) const {
    const Chunk* chunk = head_;
    for (uint64_t skip = position / kChunkValues; skip > 0; --skip) chunk = chunk->next;
    return chunk->values[position % kChunkValues];
}

const int16_t* SampleList::Cursor::run(uint64_t limit, size_t& count) {
    count = 0;
    if (chunk_ == nullptr) return nullptr;
    if (at_ == kChunkValues) {
        if (chunk_->next == nullptr) return nullptr;
        chunk_ = chunk_->next;
        at_ = 0;
    }
    const size_t filled = chunk_ == list_.tail_ ? list_.tailFill_ : kChunkValues;
    const size_t left = filled - at_;
    count = limit < left ? static_cast<size_t>(limit) : left;
    const int16_t* values = chunk_->values + at_;
    at_ += count;
    return values;
}
