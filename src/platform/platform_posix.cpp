// The POSIX side of the platform: c:\temp\NAME lives in the folder named by
// ASIOLOOP_TEMP_DIR (default /tmp), files are opened without following a
// link at their final name, and the wait listens for SIGINT through a pipe.
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kWindowsFolder[] = "c:\\temp\\";
constexpr size_t kWindowsFolderLength = sizeof kWindowsFolder - 1;

// The write end of the pipe that wakes the wait. Made once and never closed,
// so a signal that arrives late never writes to a closed or reused descriptor.
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free atomic");
int wakeReadFd = -1;

void onInterrupt(int) {
    // Runs on whichever thread takes the signal, the library's included:
    // only async-signal-safe calls here.
    const int savedErrno = errno;
    const int fd = wakeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = 1;
        ssize_t ignored = write(fd, &byte, 1);
        (void)ignored;
    }
    errno = savedErrno;
}

bool makeWakePipe() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    for (int fd : fds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    wakeReadFd = fds[0];
    wakeFd.store(fds[1]);
    return true;
}

void drainWakePipe() {
    char bytes[64];
    while (read(wakeReadFd, bytes, sizeof bytes) > 0) {
    }
}

int64_t monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until the deadline, or until a byte arrives on the wake pipe when
// listen is set. Returns early on neither a stray signal nor a short poll.
void waitUntil(int64_t deadline, bool listen) {
    for (;;) {
        const int64_t left = deadline - monotonicMilliseconds();
        if (left <= 0) return;
        pollfd wake{wakeReadFd, POLLIN, 0};
        const int timeout = static_cast<int>(left < INT_MAX ? left : INT_MAX);
        const int ready = poll(listen ? &wake : nullptr, listen ? 1 : 0, timeout);
        if (ready > 0 && (wake.revents & POLLIN) != 0) return;
    }
}

}  // namespace

std::string platformPath(const char* windowsPath) {
    if (std::strncmp(windowsPath, kWindowsFolder, kWindowsFolderLength) != 0) return windowsPath;
    const char* folder = std::getenv("ASIOLOOP_TEMP_DIR");
    std::string path = (folder != nullptr && *folder != '\0') ? folder : "/tmp";
    if (path.back() != '/') path += '/';
    return path + (windowsPath + kWindowsFolderLength);
}

std::FILE* openFileForWriting(const char* windowsPath) {
    // /tmp is shared by every user: a link planted at the name must not
    // redirect our writes, and a FIFO planted there must not block the open.
    const std::string path = platformPath(windowsPath);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) close(fd);
    return file;
}

void waitForMilliseconds(uint32_t milliseconds) {
    static const bool pipeReady = makeWakePipe();
    const int64_t deadline = monotonicMilliseconds() + milliseconds;

    // Take SIGINT only for the length of the wait, and leave it ignored if
    // whoever started us ignored it.
    struct sigaction previous {};
    bool listen = false;
    if (pipeReady && sigaction(SIGINT, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
        drainWakePipe();
        struct sigaction interrupt {};
        interrupt.sa_handler = onInterrupt;
        sigemptyset(&interrupt.sa_mask);
        listen = sigaction(SIGINT, &interrupt, nullptr) == 0;
    }
    waitUntil(deadline, listen);
    if (listen) sigaction(SIGINT, &previous, nullptr);
}
