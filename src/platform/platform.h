// What the platform provides the program: the fixed folder that holds its
// files, opening one of those files for writing, and the timed wait of the
// run, which CTRL+C cuts short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The program names its files by fixed Windows paths under c:\temp. Returns
// the path that one of them has on this platform.
std::string platformPath(const char* windowsPath);

// Opens the file for writing in binary mode: created if missing, emptied if
// present. Returns null if it cannot be opened.
std::FILE* openFileForWriting(const char* windowsPath);

// Waits on the calling thread for the given number of milliseconds. CTRL+C
// during the wait ends it early; outside the wait it keeps its usual effect.
void waitForMilliseconds(uint32_t milliseconds);
