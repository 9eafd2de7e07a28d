// The live threads of this process, as /proc/self/task lists them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace olva_test {

// A joined thread can still be listed for a moment after its join returns:
// the kernel wakes the joiner before it takes the task off the list. By then
// the task is marked as exiting, so such a thread is not counted.
inline bool thread_is_exiting(const std::filesystem::path& task)
{
    constexpr unsigned long kPfExiting = 0x4;
    // A plain read: a task that ends while it is read fails the read with
    // ESRCH, which a stream would throw.
    std::string stat(1024, '\0');
    const int fd = ::open((task / "stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const ssize_t length = ::read(fd, stat.data(), stat.size());
    ::close(fd);
    stat.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    const auto name_end = stat.rfind(')');
    if (name_end == std::string::npos)
        return true;  // Gone while it was read.
    // After the name: state, ppid, pgrp, session, tty_nr, tpgid, flags.
    std::istringstream fields(stat.substr(name_end + 1));
    std::string skipped;
    for (int i = 0; i < 6; ++i)
        fields >> skipped;
    unsigned long flags = 0;
    fields >> flags;
    return (flags & kPfExiting) != 0;
}

inline std::size_t thread_count()
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        if (!thread_is_exiting(entry.path()))
            ++count;
    return count;
}

}  // namespace olva_test
