// The program's run, from device selection to the release of the records.
#pragma once

#include <cstdint>

// Runs the program once; returns the exit status, always 0.
int runProgram();

// Asks how long to run, starts the device, waits and stops it.
void runForSeconds();

// The wait for an answer in seconds, in milliseconds: computed in 64 bits and
// capped one below the platform's "infinite", so no answer wraps around.
uint32_t waitMilliseconds(uint32_t seconds);
