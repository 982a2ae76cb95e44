// The record of one channel taking part in the run, the registry of all of
// them, and the two callbacks through which the library streams them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bassasio.h"
#include "sample_list.h"

// Samples in every test pattern, whatever the sample width.
constexpr uint32_t kSampleLength = 48000;

struct ChannelStream {
    // Prints the record's console lines, builds an output's test pattern and
    // creates an input's capture file.
    ChannelStream(uint32_t channel, bool isInput, uint32_t bytesPerSample);

    uint32_t channel;
    bool played;  // outputs: the pattern has been delivered once
    bool isInput;
    int32_t peakMagnitude;
    int32_t peakPosition;       // first position of peakMagnitude, -1 for none
    uint8_t* pattern;           // owned, patternSize bytes
    uint32_t patternPos;        // next pattern byte to deliver
    uint32_t patternSize;       // bytesPerSample * kSampleLength
    uint32_t bytesPerSample;    // 2, 3 or 4
    std::FILE* captureFile;     // inputs: owned, null if it did not open
    SampleList samples;         // inputs: each sample's two most significant bytes
    // What reached the capture file: a full disk must not pass for success.
    uint64_t bytesDelivered;    // by the library
    uint64_t bytesAccepted;     // by the file
};

// Every record, in creation order: output channels, then input channels.
// Set-up appends; nothing removes. It does not own the records.
extern std::vector<ChannelStream*> channelStreams;

// Releases every record and closes the capture files. The last phase of a run.
void releaseChannelStreams();

// Fills an output buffer from the record's test pattern: the impulse once,
// then silence.
uint32_t BASSASIO_CALL playbackProc(uint32_t input, uint32_t channel, void* buffer, uint32_t length,
                                    void* user);
// Appends an input buffer to the capture file and keeps one value per sample.
uint32_t BASSASIO_CALL captureProc(uint32_t input, uint32_t channel, void* buffer, uint32_t length,
                                   void* user);
