// A line object for the signal tests: it records its events (with copies
// of event 21's texts, which live only for the call), the hardware calls
// it makes and whether any line mutex was held when an event came. The
// state the timer thread would set is reached through LineAccess.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "CLineDevice/CLineDevice.h"
#include "support/line_access.h"
#include "support/spandsp_signals.h"

namespace olva_test {

struct SignalEvent {
    int event;
    long p1;
    long p2;
    std::string number;  // event 21's texts
    std::string time;
    std::string name;
    bool operator==(const SignalEvent&) const = default;
};

inline void PrintTo(const SignalEvent& e, std::ostream* out)
{
    *out << "{" << e.event << ", " << e.p1 << ", " << e.p2;
    if (e.event == OLVA_EVENT_CALLER_ID)
        *out << ", \"" << e.number << "\", \"" << e.time << "\", \"" << e.name << "\"";
    *out << "}";
}

inline SignalEvent callerId(std::string number, std::string time, std::string name)
{
    return {OLVA_EVENT_CALLER_ID, 0, 0, std::move(number), std::move(time), std::move(name)};
}

inline SignalEvent key(char c)
{
    return {OLVA_EVENT_DTMF_DOWN, static_cast<unsigned char>(c), 0, "", "", ""};
}

class SignalTestLine final : public CLineDevice {
public:
    struct Call {
        std::string what;
        int value;
        bool operator==(const Call&) const = default;
    };

    void fire_event(int event, unsigned long p1, unsigned long p2, unsigned long p3,
                    unsigned long) override
    {
        // No line mutex may be held while an event is raised.
        if (LineAccess::lineMutexHeld(*this))
            ++events_under_lock;
        SignalEvent e{event, static_cast<long>(p1), static_cast<long>(p2), "", "", ""};
        if (event == OLVA_EVENT_CALLER_ID) {
            e.p1 = e.p2 = 0;
            e.number = reinterpret_cast<const char*>(p1);
            e.time = reinterpret_cast<const char*>(p2);
            e.name = reinterpret_cast<const char*>(p3);
        }
        std::lock_guard<std::mutex> lock(events_mutex_);
        events_.push_back(std::move(e));
    }
    int control_ch_switch(bool on) override { return record({"switch", on ? 1 : 0}), 0; }
    int control_slic_ring(int on) override { return record({"slic ring", on}), 0; }
    void set_speaker_volume(int volume) override { record({"speaker", volume}); }
    bool open_Tz2501b_playfile_switch(bool on) override
    {
        return record({"playfile", on ? 1 : 0}), true;
    }

    std::vector<SignalEvent> events() const
    {
        std::lock_guard<std::mutex> lock(events_mutex_);
        return events_;
    }
    // The events but the per-block level reports of event 44 with p1 0.
    std::vector<SignalEvent> signalEvents() const
    {
        std::vector<SignalEvent> out = events();
        std::erase_if(out, [](const SignalEvent& e) {
            return e.event == OLVA_EVENT_DIAL_TONE && e.p1 == 0;
        });
        return out;
    }
    int count(int event, long p1 = -1) const
    {
        int n = 0;
        for (const SignalEvent& e : events())
            n += e.event == event && (p1 == -1 || e.p1 == p1);
        return n;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(events_mutex_);
        events_.clear();
        calls.clear();
    }

    // Runs samples through the pipeline in frames (the last padded with
    // silence) and returns the frames as the pipeline left them.
    Samples feed(const Samples& samples)
    {
        Samples out;
        for (std::size_t at = 0; at < samples.size(); at += 160) {
            std::int16_t frame[160] = {};
            std::memcpy(frame, samples.data() + at,
                        std::min<std::size_t>(160, samples.size() - at) * sizeof(std::int16_t));
            handle_record_wave(reinterpret_cast<char*>(frame), kFrameBytes);
            out.insert(out.end(), frame, frame + 160);
        }
        return out;
    }
    void feedBytes(const std::vector<std::uint8_t>& bytes)
    {
        for (std::uint8_t b : bytes)
            OnCidData(b);
    }

    std::vector<Call> calls;  // the test's thread only
    std::atomic<int> events_under_lock{0};

private:
    void record(Call call) { calls.push_back(std::move(call)); }

    mutable std::mutex events_mutex_;
    std::vector<SignalEvent> events_;  // events_mutex_
};

inline void PrintTo(const SignalTestLine::Call& call, std::ostream* out)
{
    *out << call.what << "(" << call.value << ")";
}

}  // namespace olva_test
