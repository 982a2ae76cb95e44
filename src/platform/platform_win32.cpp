// The Windows side of the platform: the fixed paths as they stand, and a
// timed wait on an event that a console control handler sets on CTRL+C.
#include "platform.h"

#include <atomic>

#include <windows.h>

namespace {

// Made once and never closed: a handler that runs late never touches a
// closed handle.
HANDLE wakeEvent = nullptr;
std::atomic<bool> waiting{false};

BOOL WINAPI onConsoleControl(DWORD type) {
    // Only CTRL+C during the wait is ours; everything else goes on to the
    // default handling.
    if (type != CTRL_C_EVENT || !waiting.load()) return FALSE;
    SetEvent(wakeEvent);
    return TRUE;
}

bool setUpInterrupt() {
    wakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wakeEvent == nullptr) return false;
    return SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

}  // namespace

std::string platformPath(const char* windowsPath) {
    return windowsPath;
}

std::FILE* openFileForWriting(const char* windowsPath) {
    return std::fopen(windowsPath, "wb");
}

void waitForMilliseconds(uint32_t milliseconds) {
    static const bool interruptible = setUpInterrupt();
    if (!interruptible) {
        Sleep(milliseconds);
        return;
    }
    ResetEvent(wakeEvent);
    waiting.store(true);
    WaitForSingleObject(wakeEvent, milliseconds);
    waiting.store(false);
}
