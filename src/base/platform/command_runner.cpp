#include "base/platform/command_runner.h"

#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/logger.h"

namespace platform {
namespace {

// Splits what the command writes into bounded lines. Everything is read to
// the end, so that the command never blocks on a full pipe.
class LineCollector {
public:
    explicit LineCollector(CommandResult& result) : result_(result) {}

    void add(const char* data, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i) {
            if (data[i] == '\n') {
                endLine();
            } else if (current_.size() < kMaxCommandLineLength) {
                current_.push_back(data[i]);
                open_ = true;
            } else {
                result_.truncated = true;
            }
        }
    }

    void finish()
    {
        if (open_)
            endLine();
    }

private:
    void endLine()
    {
        if (result_.lines.size() < kMaxCommandLines)
            result_.lines.push_back(std::move(current_));
        else
            result_.truncated = true;
        current_.clear();
        open_ = false;
    }

    CommandResult& result_;
    std::string current_;
    bool open_ = false;  // characters since the last '\n'
};

class ShellCommandRunner final : public CommandRunner {
public:
    CommandResult run(const std::string& command) override
    {
        CommandResult result;
        // "e": the pipe is not inherited by commands that other threads start.
        FILE* pipe = popen(command.c_str(), "re");
        if (!pipe) {
            logger(1, "olva ", "", "run command(%s) failed: %s", command.c_str(),
                   std::strerror(errno));
            return result;
        }
        LineCollector collector(result);
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            collector.add(buffer, got);
        collector.finish();

        const int wait_status = pclose(pipe);
        if (wait_status == -1)
            logger(1, "olva ", "", "wait for command(%s) failed: %s", command.c_str(),
                   std::strerror(errno));
        else if (WIFEXITED(wait_status))
            result.status = WEXITSTATUS(wait_status);
        else if (WIFSIGNALED(wait_status))
            result.status = 128 + WTERMSIG(wait_status);
        return result;
    }
};

ShellCommandRunner g_shell_runner;
std::atomic<CommandRunner*> g_runner{&g_shell_runner};

}  // namespace

CommandRunner& commandRunner()
{
    return *g_runner.load(std::memory_order_acquire);
}

void setCommandRunner(CommandRunner* replacement)
{
    g_runner.store(replacement ? replacement : &g_shell_runner, std::memory_order_release);
}

}  // namespace platform
