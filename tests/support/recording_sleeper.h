// A sleeper that records every requested pause and returns at once,
// installed for its lifetime. Given a FakeClock, each pause moves it on.
#pragma once

#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/platform/sleeper.h"
#include "support/fake_clock.h"

namespace olva_test {

class RecordingSleeper final : public platform::Sleeper {
public:
    explicit RecordingSleeper(FakeClock* clock = nullptr);
    ~RecordingSleeper() override;

    void sleepMs(int ms) override;

    // The pauses asked for by one thread, in order.
    std::vector<int> sleepsOf(std::thread::id thread) const;
    // The pauses asked for by the calling thread.
    std::vector<int> mine() const { return sleepsOf(std::this_thread::get_id()); }
    void clear();

private:
    FakeClock* clock_;
    mutable std::mutex mutex_;
    std::vector<std::pair<std::thread::id, int>> sleeps_;
};

}  // namespace olva_test
