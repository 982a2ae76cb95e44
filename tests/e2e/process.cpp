// Child processes for the end-to-end tests, on fork and exec.
#include "process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra) replaced |= x.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

ProcessResult runProcess(const ProcessOptions& options) {
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> argv = options.argv;
    std::vector<std::string> env = mergedEnvironment(options.env);
    std::vector<char*> argvp = pointers(argv);
    std::vector<char*> envp = pointers(env);

    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        // Whatever ran the tests, the program starts with CTRL+C's default.
        signal(SIGINT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        execve(argvp[0], argvp.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);

    size_t written = 0;
    while (written < options.input.size()) {
        const ssize_t n = write(in[1], options.input.data() + written, options.input.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    if (!options.keepInputOpen) close(in[1]);

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    bool outOpen = true, errOpen = true;
    bool ended = false;
    int status = 0;
    auto drainDeadline = deadline;
    while (outOpen || errOpen) {
        const auto now = std::chrono::steady_clock::now();
        if (now > deadline) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        // A process the child started (Wine's server, say) may hold the
        // pipes open after the child has ended: read on for a moment only.
        if (!ended && waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            drainDeadline = now + std::chrono::seconds(2);
        }
        if (ended && now > drainDeadline) break;
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        poll(fds, 2, 20);
        for (int k = 0; k < 2; ++k) {
            bool& open = k == 0 ? outOpen : errOpen;
            if (!open || (fds[k].revents & (POLLIN | POLLHUP)) == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0)
                (k == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                open = false;
        }
        if (options.watch) options.watch(pid, result.out);
    }
    if (options.keepInputOpen) close(in[1]);
    close(out[0]);
    close(err[0]);

    if (!ended) waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

bool catchesSignal(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (signal - 1) & 1u) != 0;
    }
    return false;
}
