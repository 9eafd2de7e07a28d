// Waits until a condition on state that other threads change holds, looking
// again as soon as the scheduler lets it, at most the time-out.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace olva_test {

inline bool eventually(const std::function<bool()>& pred,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace olva_test
