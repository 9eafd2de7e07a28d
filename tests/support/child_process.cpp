#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

extern char** environ;

namespace olva_test {
namespace {

constexpr auto kTermGrace = std::chrono::seconds(3);

std::vector<std::string> merged_environment(const std::vector<std::string>& extra)
{
    std::map<std::string, std::string> entries;
    const auto add = [&](const std::string& entry) {
        const std::size_t equals = entry.find('=');
        if (equals != std::string::npos)
            entries[entry.substr(0, equals)] = entry;
    };
    for (char** e = environ; *e; ++e)
        add(*e);
    for (const std::string& entry : extra)
        add(entry);
    std::vector<std::string> merged;
    for (auto& [name, entry] : entries)
        merged.push_back(std::move(entry));
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> list;
    for (std::string& text : texts)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

}  // namespace

bool have_program(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::unique_ptr<ChildProcess> ChildProcess::start(const ChildOptions& options, std::string* error)
{
    const auto fail = [&](const std::string& what, int code) {
        if (error)
            *error = what + ": " + std::strerror(code);
        return nullptr;
    };
    if (options.argv.empty())
        return fail("no program", EINVAL);

    int pipe_ends[2] = {-1, -1};
    if (options.pipe_fd >= 0 && pipe2(pipe_ends, O_CLOEXEC) != 0)
        return fail("pipe", errno);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = options.output_file.empty() ? "/dev/null" : options.output_file;
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (options.pipe_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], options.pipe_fd);

    std::vector<std::string> args = options.argv;
    std::vector<std::string> env = merged_environment(options.env);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (pipe_ends[1] >= 0)
        close(pipe_ends[1]);
    if (rc != 0) {
        if (pipe_ends[0] >= 0)
            close(pipe_ends[0]);
        return fail("start " + options.argv[0], rc);
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, pipe_ends[0]));
}

ChildProcess::~ChildProcess()
{
    if (!wait_exit(std::chrono::milliseconds(0))) {
        kill(pid_, SIGTERM);
        if (!wait_exit(kTermGrace)) {
            kill(pid_, SIGKILL);
            wait_exit(kTermGrace);
        }
    }
    if (pipe_read_ >= 0)
        close(pipe_read_);
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds timeout)
{
    eventually(
        [&] {
            if (status_)
                return true;
            int status = 0;
            const pid_t got = waitpid(pid_, &status, WNOHANG);
            if (got == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (got < 0 && errno != EINTR) {
                status_ = -1;  // not ours to wait for any more
            }
            return status_.has_value();
        },
        timeout);
    return status_;
}

bool ChildProcess::running()
{
    return !wait_exit(std::chrono::milliseconds(0));
}

std::optional<std::string> ChildProcess::read_pipe_line(std::chrono::milliseconds timeout)
{
    if (pipe_read_ < 0)
        return std::nullopt;
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd entry{pipe_read_, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char c;
        const ssize_t got = read(pipe_read_, &c, 1);
        if (got <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line.push_back(c);
    }
}

}  // namespace olva_test
