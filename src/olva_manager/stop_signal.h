// A stop request that a thread's owner raises and the thread waits on, so
// that its pauses end as soon as it is asked to stop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class StopSignal {
public:
    void reset()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = false;
    }

    void request()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requested_ = true;
        }
        changed_.notify_all();
    }

    bool requested() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requested_;
    }

    // Waits at most timeout; true when a stop was requested.
    bool wait_for(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return requested_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;  // mutex_
};
