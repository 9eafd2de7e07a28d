// Waits until a condition on state that other threads or processes change
// holds, at most a time-out. A wait that succeeds ends as soon as its
// condition holds, so the default is generous: a loaded machine (a parallel
// suite beside other builds) may run the threads waited for seconds late.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

namespace olva_test {

// How long a test waits for something that must come.
inline constexpr std::chrono::milliseconds kWait{30000};

// The longest pause between two looks at a condition of this process: short
// enough that a wait ends within a millisecond of its condition, long enough
// that the waiting thread leaves the cores to the threads it waits for.
inline constexpr std::chrono::microseconds kLookPause{1000};
// The longest pause for a condition that starts a program or asks another
// process (an X server, a browser, a service being started): each look costs
// that process's time too.
inline constexpr std::chrono::microseconds kProcessLookPause{20000};

// Looks at pred until it holds or the time-out has passed; true when it held.
// For its first millisecond the wait only yields, which ends a wait on a
// thread that is busy anyway without a sleeper's wake-up delay; then it
// pauses, each pause twice the last, up to max_pause (a condition that
// starts a program or asks another process takes a longer one).
template <class Pred>
bool eventually(Pred&& pred, std::chrono::milliseconds timeout = kWait,
                std::chrono::microseconds max_pause = kLookPause)
{
    constexpr std::chrono::microseconds kYieldingFor{1000};
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + timeout;
    std::chrono::microseconds pause{10};
    while (!pred()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        if (now - start < kYieldingFor) {
            std::this_thread::yield();
            continue;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, max_pause);
    }
    return true;
}

}  // namespace olva_test
