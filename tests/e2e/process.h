// Runs a program as a child process with a given environment and standard
// input, collecting its output, and bounded in time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

struct ProcessResult {
    bool exited = false;      // ended by itself
    int exitStatus = -1;      // when exited
    int signal = 0;           // the signal that ended it, if one did
    bool timedOut = false;    // killed for overrunning its time
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::vector<std::string> argv;
    std::vector<std::string> env;  // NAME=VALUE, added to this process's environment
    std::string input;             // written to standard input
    bool keepInputOpen = false;    // leave standard input open after the input
    int timeoutSeconds = 60;
    // Called now and then while the child runs, with its pid and the output
    // so far; may send it a signal.
    std::function<void(pid_t, const std::string& out)> watch;
};

ProcessResult runProcess(const ProcessOptions& options);

// Whether the process has a handler installed for the signal (Linux /proc).
bool catchesSignal(pid_t pid, int signal);
