// The threads of this process, as /proc/self/task lists them.
#pragma once

#include <cstddef>
#include <filesystem>

namespace olva_test {

inline std::size_t thread_count()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

}  // namespace olva_test
