// A program that a test starts: its own environment additions, its output
// in a file, and at the end stopped by its process id and reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/eventually.h"

namespace olva_test {

struct ChildOptions {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH
    // "NAME=value" entries that replace or add to the test's environment.
    std::vector<std::string> env;
    // Standard output and error go here (appended); empty: /dev/null.
    std::string output_file;
    // When set, the write end of a pipe is given to the child as this
    // descriptor and the read end kept for read_pipe_line().
    int pipe_fd = -1;
};

class ChildProcess {
public:
    // Null with the reason in error when it cannot be started.
    static std::unique_ptr<ChildProcess> start(const ChildOptions& options, std::string* error);
    // Ends the process (SIGTERM, then SIGKILL) unless it has ended.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the end; the exit status (0-255) or 128 + the signal
    // number; nothing when it has not ended in time.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);
    bool running();
    // One line the child wrote to its pipe, without the '\n'.
    std::optional<std::string> read_pipe_line(std::chrono::milliseconds timeout);

private:
    ChildProcess(pid_t pid, int pipe_read) : pid_(pid), pipe_read_(pipe_read) {}

    pid_t pid_;
    int pipe_read_;
    std::optional<int> status_;
};

// Whether a program of this name is found in PATH.
bool have_program(const std::string& name);

}  // namespace olva_test
