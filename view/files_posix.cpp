// The POSIX side of the viewer's files: the program's c:\temp folder is the
// one named by ASIOLOOP_TEMP_DIR, as in the program itself, and outputs are
// written to a fresh temporary file and renamed into place.
#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string defaultReportPath() {
    const char* folder = std::getenv("ASIOLOOP_TEMP_DIR");
    std::string path = (folder != nullptr && *folder != '\0') ? folder : "/tmp";
    if (path.back() != '/') path += '/';
    return path + "ASIO PCM.txt";
}

bool writeTemporaryFile(const std::string& finalPath, const std::string& bytes, std::string& temporaryPath,
                        std::string& error) {
    const size_t slash = finalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot create a file beside " + finalPath + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; a page is as readable as any new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        written += static_cast<size_t>(count);
    }
    const int writeErrno = errno;
    const bool closed = close(fd) == 0;
    if (written != bytes.size() || !closed) {
        error = "cannot write " + finalPath + ": " + std::strerror(written != bytes.size() ? writeErrno : errno);
        unlink(pattern.c_str());
        return false;
    }
    temporaryPath = pattern;
    return true;
}

bool moveIntoPlace(const std::string& temporaryPath, const std::string& finalPath, std::string& error) {
    if (std::rename(temporaryPath.c_str(), finalPath.c_str()) == 0) return true;
    error = "cannot write " + finalPath + ": " + std::strerror(errno);
    return false;
}

void removeFileQuietly(const std::string& path) {
    unlink(path.c_str());
}
