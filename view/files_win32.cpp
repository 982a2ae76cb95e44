// The Windows side of the viewer's files: the program's fixed path as it
// stands, and outputs written to a new temporary file and moved into place.
#include "files.h"

#include <windows.h>

std::string defaultReportPath() {
    return "c:\\temp\\ASIO PCM.txt";
}

namespace {

std::string systemError(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

bool writeTemporaryFile(const std::string& finalPath, const std::string& bytes, std::string& temporaryPath,
                        std::string& error) {
    // CREATE_NEW never opens what is already there; try a few names in case
    // an earlier run left one behind.
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string candidate;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        candidate = finalPath + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
        file = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot create a file beside " + finalPath + ": " + systemError(GetLastError());
        return false;
    }
    size_t written = 0;
    bool ok = true;
    while (ok && written < bytes.size()) {
        const size_t left = bytes.size() - written;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD count = 0;
        ok = WriteFile(file, bytes.data() + written, chunk, &count, nullptr) != 0 && count > 0;
        written += count;
    }
    const DWORD writeError = GetLastError();
    const bool closed = CloseHandle(file) != 0;
    if (!ok || !closed) {
        error = "cannot write " + finalPath + ": " + systemError(ok ? GetLastError() : writeError);
        DeleteFileA(candidate.c_str());
        return false;
    }
    temporaryPath = candidate;
    return true;
}

bool moveIntoPlace(const std::string& temporaryPath, const std::string& finalPath, std::string& error) {
    if (MoveFileExA(temporaryPath.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
    error = "cannot write " + finalPath + ": " + systemError(GetLastError());
    return false;
}

void removeFileQuietly(const std::string& path) {
    DeleteFileA(path.c_str());
}
