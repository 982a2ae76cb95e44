// What the platform provides the viewer: where the program's report lies,
// and writing a file so that it appears whole or not at all.
#pragma once

#include <string>

// The sample report as the program names it, c:\temp\ASIO PCM.txt, on this
// platform: under ASIOLOOP_TEMP_DIR (default /tmp) on POSIX systems.
std::string defaultReportPath();

// Writes the bytes to a new temporary file in the folder of finalPath and
// gives its name. Fails, leaving nothing, with the reason in error.
bool writeTemporaryFile(const std::string& finalPath, const std::string& bytes, std::string& temporaryPath,
                        std::string& error);

// Renames the temporary file to finalPath, replacing whatever is there: a
// link at that name is replaced itself, never written through.
bool moveIntoPlace(const std::string& temporaryPath, const std::string& finalPath, std::string& error);

// Removes a file; quietly does nothing if it cannot.
void removeFileQuietly(const std::string& path);
