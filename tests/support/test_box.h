// A box object for tests: it records the events it raises, with the device
// index they were raised under, and the frames its lines are handed.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "olva_device/olva_device.h"
#include "support/eventually.h"

namespace olva_test {

struct BoxEvent {
    long device_index;
    unsigned long line;
    int event;
    unsigned long p1;
    unsigned long p2;
    bool operator==(const BoxEvent&) const = default;
};

inline void PrintTo(const BoxEvent& e, std::ostream* out)
{
    *out << "{index " << e.device_index << ", line " << e.line << ", event " << e.event << ", "
         << static_cast<long>(e.p1) << ", " << static_cast<long>(e.p2) << "}";
}

class TestBox final : public OlvaDevice {
public:
    ~TestBox() override { shutdown(); }

    void fire_event(unsigned long line, int event, unsigned long p1, unsigned long p2,
                    unsigned long, unsigned long) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back({device_index(), line, event, p1, p2});
    }

    std::vector<BoxEvent> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    int eventCount(int code) const
    {
        int n = 0;
        for (const BoxEvent& event : events())
            n += event.event == code;
        return n;
    }
    std::vector<int> eventCodes() const
    {
        std::vector<int> codes;
        for (const BoxEvent& event : events())
            codes.push_back(event.event);
        return codes;
    }
    void clearEvents()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }
    // The frames line 1 or 2 was handed, in order.
    std::vector<std::vector<std::int16_t>> frames(int line) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_[line == 2 ? 1 : 0];
    }
    void setCardsInUse(std::set<int> cards)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cards_in_use_ = std::move(cards);
    }

    bool waitForEvent(int event, std::chrono::milliseconds timeout = kWait) const
    {
        return eventually(
            [&] {
                for (const BoxEvent& e : events())
                    if (e.event == event)
                        return true;
                return false;
            },
            timeout);
    }
    bool waitForFrames(int line, std::size_t count,
                       std::chrono::milliseconds timeout = kWait) const
    {
        return eventually([&] { return frames(line).size() >= count; }, timeout);
    }

    // The box's USB bus and address from its HID path "%04x:%04x:%02x".
    static std::pair<int, int> usbLocation(const std::string& path)
    {
        return {static_cast<int>(std::strtol(path.substr(0, 4).c_str(), nullptr, 16)),
                static_cast<int>(std::strtol(path.substr(5, 4).c_str(), nullptr, 16))};
    }

protected:
    std::set<int> sound_cards_in_use() const override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return cards_in_use_;
    }
    void handle_line_frame(CBoxLineDevice& line, char* frame, unsigned long len) override
    {
        const auto* samples = reinterpret_cast<const std::int16_t*>(frame);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames_[&line == &this->line(2) ? 1 : 0].emplace_back(samples, samples + len / 2);
        }
        OlvaDevice::handle_line_frame(line, frame, len);
    }

private:
    mutable std::mutex mutex_;
    std::vector<BoxEvent> events_;                     // mutex_
    std::vector<std::vector<std::int16_t>> frames_[2];  // mutex_
    std::set<int> cards_in_use_;                       // mutex_
};

}  // namespace olva_test
