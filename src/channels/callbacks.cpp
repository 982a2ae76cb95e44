// The two channel callbacks. The library calls them on its own threads, one
// call at a time per channel; each touches only the record it is given.
#include <cstring>

#include "channel_stream.h"

uint32_t BASSASIO_CALL playbackProc(uint32_t input, uint32_t, void* buffer, uint32_t length, void* user) {
    if (input != 0 || length == 0) return 0;
    auto* stream = static_cast<ChannelStream*>(user);
    auto* out = static_cast<uint8_t*>(buffer);

    uint32_t filled = 0;
    uint32_t remaining = length;
    // Whole passes to the end of the pattern wrap it without counting as
    // played; only a request that ends inside the pattern does.
    for (;;) {
        const uint32_t rest = stream->patternSize - stream->patternPos;
        if (remaining < rest) break;
        std::memcpy(out + filled, stream->pattern + stream->patternPos, rest);
        stream->patternPos = 0;
        filled += rest;
        remaining -= rest;
        if (remaining == 0) return filled;
    }
    if (stream->played) {
        std::memset(out, 0, length);
        return length;
    }
    std::memcpy(out + filled, stream->pattern + stream->patternPos, remaining);
    stream->played = true;
    stream->patternPos = (stream->patternPos + remaining) % stream->patternSize;
    return filled + remaining;
}

uint32_t BASSASIO_CALL captureProc(uint32_t, uint32_t, void* buffer, uint32_t length, void* user) {
    auto* stream = static_cast<ChannelStream*>(user);
    if (stream->captureFile == nullptr) return length;
    if (length == 0) return 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    stream->bytesDelivered += length;
    stream->bytesAccepted += std::fwrite(in, 1, length, stream->captureFile);

    // Keep each sample's two most significant bytes (the last two, high byte
    // last): at 24 and 32 bits the low bytes are only noise. A trailing
    // fragment of a sample gives no value.
    const uint32_t width = stream->bytesPerSample;
    size_t whole = length / width;
    const uint8_t* top = in + width - 2;
    while (whole > 0) {
        size_t room = 0;
        int16_t* values = stream->samples.room(room);
        const size_t count = whole < room ? whole : room;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if (width == 2) {
            // 16-bit samples are kept whole, and their bytes are already in
            // this machine's order.
            std::memcpy(values, top, count * 2);
            top += count * 2;
        } else
#endif
        {
            for (size_t k = 0; k < count; ++k, top += width)
                values[k] = static_cast<int16_t>(static_cast<uint16_t>(top[0] | top[1] << 8));
        }
        stream->samples.commit(count);
        whole -= count;
    }
    return length;
}
