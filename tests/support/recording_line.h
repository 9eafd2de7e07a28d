// A line without a box for the state-machine tests: it records its events
// (with the text of a caller ID) and its hardware calls. What the box's
// decoders and detectors would set is reached through LineAccess.
#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "CLineDevice/CLineDevice.h"
#include "support/fake_clock.h"
#include "support/line_access.h"

namespace olva_test {

struct LineEvent {
    int event;
    long p1;
    std::string text;  // p1 as text for a caller ID
    bool operator==(const LineEvent&) const = default;
};

inline void PrintTo(const LineEvent& e, std::ostream* out)
{
    *out << "{" << e.event << ", " << e.p1;
    if (!e.text.empty())
        *out << ", \"" << e.text << "\"";
    *out << "}";
}

struct HardwareCall {
    std::string what;
    int value;
    bool operator==(const HardwareCall&) const = default;
};

inline void PrintTo(const HardwareCall& c, std::ostream* out)
{
    *out << c.what << "(" << c.value << ")";
}

class RecordingLine : public CLineDevice {
public:
    void fire_event(int event, unsigned long p1, unsigned long, unsigned long,
                    unsigned long) override
    {
        LineEvent e{event, static_cast<long>(p1), ""};
        if (event == OLVA_EVENT_CALLER_ID) {
            e.p1 = 0;
            e.text = reinterpret_cast<const char*>(p1);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(e);
        }
        if (on_event)
            on_event(e);
    }
    void control_ch_led(bool on) override { call("led", on); }
    void control_mic_start(bool on) override { call("mic_start", on); }
    void control_led_twinkle() override { call("twinkle", 1); }
    int control_ch_switch(bool on) override { return call("ch_switch", on), 0; }
    int control_slic_ring(int on) override { return call("slic_ring", on), 0; }
    bool open_hookoff_switch(bool on) override { return call("hookoff_switch", on), true; }
    bool open_Tz2501b_slic_switch(bool on) override { return call("slic_switch", on), true; }
    bool open_Tz2501b_playfile_switch(bool on) override
    {
        return call("playfile_switch", on), true;
    }
    bool open_Tz2501b_playfile_to_slic(bool on) override
    {
        return call("playfile_to_slic", on), true;
    }
    void set_Tz2701_gpio(int pin, int value) override { call("gpio" + std::to_string(pin), value); }
    void olva_soft_hook_on() override { call("soft_hook_on", 1); }
    void set_mic_volume(int volume) override { call("mic_volume", volume); }
    void play_dtmf(unsigned long line, char* digits) override
    {
        call(std::string("play_dtmf ") + digits, static_cast<int>(line));
    }
    int line_play_file(const char* path) override
    {
        return call(std::string("play_file ") + path, 1), 0;
    }

    std::vector<LineEvent> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<int> eventCodes() const
    {
        std::vector<int> codes;
        for (const LineEvent& e : events())
            codes.push_back(e.event);
        return codes;
    }
    std::vector<HardwareCall> calls() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // The calls of one operation, by value in order.
    std::vector<int> callsOf(const std::string& what) const
    {
        std::vector<int> values;
        for (const HardwareCall& c : calls())
            if (c.what == what)
                values.push_back(c.value);
        return values;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
        calls_.clear();
    }

    // Called after each recorded event, on the raising thread.
    std::function<void(const LineEvent&)> on_event;

private:
    void call(const std::string& what, int value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back({what, value});
    }

    mutable std::mutex mutex_;
    std::vector<LineEvent> events_;     // mutex_
    std::vector<HardwareCall> calls_;   // mutex_
};

}  // namespace olva_test
