// A sleeper for tests with threads that poll: pauses asked for by the
// threads it was told of (the one that made it, at first) are recorded and
// cost no time; pauses of every other thread take real time, cut to a few
// milliseconds, so that a polling loop neither spins nor holds a test up.
// Installed for the lifetime of the object.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "base/platform/sleeper.h"

namespace olva_test {

class ForegroundSleeper final : public platform::Sleeper {
public:
    static constexpr int kBackgroundLimitMs = 5;

    ForegroundSleeper();
    ~ForegroundSleeper() override;
    ForegroundSleeper(const ForegroundSleeper&) = delete;
    ForegroundSleeper& operator=(const ForegroundSleeper&) = delete;

    void sleepMs(int ms) override;

    // Makes the thread's pauses free and recorded too.
    void addForeground(std::thread::id thread);
    // The pauses of the foreground threads, in order.
    std::vector<int> pauses() const;
    // Called with each later pause of a foreground thread, on that thread
    // when it pauses (nullptr: no more); shows what stood at the pause.
    void watchPauses(std::function<void(int ms)> watch);
    void clear();

private:
    mutable std::mutex mutex_;
    std::set<std::thread::id> foreground_;  // mutex_
    std::vector<int> pauses_;               // mutex_
    std::function<void(int)> watch_;        // mutex_
};

}  // namespace olva_test
