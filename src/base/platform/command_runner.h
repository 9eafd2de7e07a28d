// Shell commands ("dbus-send", "lsof") go through commandRunner(), so that a
// test can record them and script their output instead of running them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// What a command wrote to its standard output, and how it ended. Standard
// error is not captured.
struct CommandResult {
    // Exit status 0-255; 128 + N when signal N ended it; -1 when it could not
    // be started or its status could not be had.
    int status = -1;
    // Its output lines without their '\n', the last one even when it lacks
    // one. At most kMaxCommandLines lines of at most kMaxCommandLineLength
    // characters are kept; the rest is read and dropped.
    std::vector<std::string> lines;
    // Set when lines or characters were dropped.
    bool truncated = false;
};

constexpr std::size_t kMaxCommandLines = 256;
constexpr std::size_t kMaxCommandLineLength = 2048;

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Runs command through "/bin/sh -c" and waits for it to end.
    virtual CommandResult run(const std::string& command) = 0;
};

// The runner in use: the shell unless a test installed its own.
CommandRunner& commandRunner();

// Installs a runner; nullptr restores the shell. The caller keeps the object
// alive for as long as it is installed.
void setCommandRunner(CommandRunner* replacement);

}  // namespace platform
