#include "support/foreground_sleeper.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace olva_test {

ForegroundSleeper::ForegroundSleeper()
{
    foreground_.insert(std::this_thread::get_id());
    platform::setSleeper(this);
}

ForegroundSleeper::~ForegroundSleeper()
{
    platform::setSleeper(nullptr);
}

void ForegroundSleeper::sleepMs(int ms)
{
    bool foreground;
    std::function<void(int)> watch;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        foreground = foreground_.count(std::this_thread::get_id()) != 0;
        if (foreground) {
            pauses_.push_back(ms);
            watch = watch_;
        }
    }
    if (foreground) {
        if (watch)
            watch(ms);
        return;
    }
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, kBackgroundLimitMs)));
}

void ForegroundSleeper::watchPauses(std::function<void(int ms)> watch)
{
    std::lock_guard<std::mutex> lock(mutex_);
    watch_ = std::move(watch);
}

void ForegroundSleeper::addForeground(std::thread::id thread)
{
    std::lock_guard<std::mutex> lock(mutex_);
    foreground_.insert(thread);
}

std::vector<int> ForegroundSleeper::pauses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
}

void ForegroundSleeper::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.clear();
}

}  // namespace olva_test
