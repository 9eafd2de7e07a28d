#include "support/recording_sleeper.h"

namespace olva_test {

RecordingSleeper::RecordingSleeper(FakeClock* clock) : clock_(clock)
{
    platform::setSleeper(this);
}

RecordingSleeper::~RecordingSleeper()
{
    platform::setSleeper(nullptr);
}

void RecordingSleeper::sleepMs(int ms)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.emplace_back(std::this_thread::get_id(), ms);
    }
    if (clock_ && ms > 0)
        clock_->advanceMs(ms);
    // Let a thread that loops on pauses leave room for the others.
    std::this_thread::yield();
}

std::vector<int> RecordingSleeper::sleepsOf(std::thread::id thread) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> result;
    for (const auto& [who, ms] : sleeps_)
        if (who == thread)
            result.push_back(ms);
    return result;
}

void RecordingSleeper::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
}

}  // namespace olva_test
