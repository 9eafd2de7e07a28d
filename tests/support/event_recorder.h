// Records the events of the library's callback, process-wide: the callback
// is a plain function, so the record is one shared object.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "cavrel_olva.h"
#include "support/eventually.h"

namespace olva_test {

struct LibraryEvent {
    unsigned long handle;
    int event;
    unsigned long p1;
    unsigned long p2;
    bool operator==(const LibraryEvent&) const = default;
};

inline void PrintTo(const LibraryEvent& e, std::ostream* out)
{
    *out << "{0x" << std::hex << e.handle << std::dec << ", " << e.event << ", "
         << static_cast<long>(e.p1) << ", " << static_cast<long>(e.p2) << "}";
}

class EventRecorder {
public:
    static EventRecorder& instance()
    {
        static EventRecorder recorder;
        return recorder;
    }

    // The callback to register.
    static void callback(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                         unsigned long, unsigned long)
    {
        EventRecorder& r = instance();
        {
            std::lock_guard<std::mutex> lock(r.mutex_);
            r.events_.push_back({handle, event, p1, p2});
            r.threads_.push_back(std::this_thread::get_id());
        }
        r.changed_.notify_all();
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
        threads_.clear();
    }
    std::vector<LibraryEvent> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // The events without the USB errors that a gone box's status poll adds.
    std::vector<LibraryEvent> lineEvents() const;
    std::vector<std::thread::id> threads() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }
    bool waitFor(const std::function<bool(const std::vector<LibraryEvent>&)>& pred,
                 std::chrono::milliseconds timeout = kWait) const
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return pred(events_); });
    }
    bool waitForEvent(unsigned long handle, int event,
                      std::chrono::milliseconds timeout = kWait) const
    {
        return waitFor(
            [&](const std::vector<LibraryEvent>& events) {
                for (const LibraryEvent& e : events)
                    if (e.handle == handle && e.event == event)
                        return true;
                return false;
            },
            timeout);
    }

private:
    EventRecorder() = default;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<LibraryEvent> events_;       // mutex_
    std::vector<std::thread::id> threads_;  // mutex_
};

inline std::vector<LibraryEvent> EventRecorder::lineEvents() const
{
    std::vector<LibraryEvent> events = this->events();
    std::erase_if(events, [](const LibraryEvent& e) { return e.event == OLVA_EVENT_USB_ERROR; });
    return events;
}

}  // namespace olva_test
