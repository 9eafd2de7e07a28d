// The live threads of this process, as /proc/self/task lists them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace olva_test {

// A joined thread can still be listed for a moment after its join returns:
// the kernel wakes the joiner before it takes the task off the list. By then
// the task is marked as exiting, so such a thread is not counted.
inline bool thread_is_exiting(const std::filesystem::path& task)
{
    constexpr unsigned long kPfExiting = 0x4;
    std::ifstream file(task / "stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
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
