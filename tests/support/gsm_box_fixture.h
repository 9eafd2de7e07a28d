// A Tz2701A box with its GSM module simulated behind the bridge, for the
// tests of its GSM conversation: the box keeps its events (with their texts
// copied while they live), and the fixture steps the pump on the virtual
// clock with the box's reports handled in between.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "gsm/startup_script.h"
#include "olva_device/olva_device.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "usb_hid/report_worker.h"

namespace olva_test::gsm_box {

using olva_sim::SimTz2401Box;
using platform::PcmStream;

struct GsmEvent {
    int event;
    unsigned long p1;
    unsigned long p2;
    std::string text;  // p1's text for the events that carry one
    std::string texts[4] = {};  // the four texts of event 35
    bool operator==(const GsmEvent&) const = default;
};

inline void PrintTo(const GsmEvent& e, std::ostream* out)
{
    *out << "{" << e.event << ", " << static_cast<long>(e.p1) << ", " << static_cast<long>(e.p2)
         << ", \"" << e.text << "\"}";
}

// A box that keeps its events, with the texts copied while they live.
class GsmBox final : public OlvaDevice {
public:
    ~GsmBox() override { shutdown(); }
    void fire_event(unsigned long, int event, unsigned long p1, unsigned long p2, unsigned long p3,
                    unsigned long p4) override
    {
        const bool text = event == OLVA_EVENT_GSM_MSG || event == OLVA_EVENT_CALLER_ID;
        GsmEvent e{event, text ? 0 : p1, p2, text ? std::string(reinterpret_cast<const char*>(p1)) : ""};
        if (event == OLVA_EVENT_SHORT_MSG) {
            e.p1 = e.p2 = 0;
            const unsigned long texts[4] = {p1, p2, p3, p4};
            for (int i = 0; i < 4; ++i)
                e.texts[i] = reinterpret_cast<const char*>(texts[i]);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
    }
    std::vector<GsmEvent> events(int code) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<GsmEvent> found;
        std::copy_if(events_.begin(), events_.end(), std::back_inserter(found),
                     [code](const GsmEvent& e) { return e.event == code; });
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<GsmEvent> events_;
};

class GsmBoxTest : public olva_test::BoxSimTest {
protected:
    SimTz2401Box& plug(SimTz2401Box::Options options, int card = 1)
    {
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
        listCard(box, card, olva_test::kTz2401CardId);
        pcm_.addDevice("hw:" + std::to_string(card) + ",0", PcmStream::kCapture);
        pcm_.addDevice("plughw:" + std::to_string(card) + ",0", PcmStream::kPlayback);
        return box;
    }
    void open(SimTz2401Box& sim_box)
    {
        sim_box_ = &sim_box;
        ASSERT_TRUE(box_.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
        ASSERT_EQ(box_.model(), OLVA_PRODUCT_TZ2701A);
        opened_ms_ = clock_.steadyMs();
    }
    // One 20 ms tick of the timer thread; the box's reports, taken off the
    // bus and handled by its report worker, come before and after it.
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            clock_.advanceMs(20);
            sim_box_->gsmFlush();
            settle();
            box_.Tz2701_write_hid_cmd_timer(20);
            settle();
        }
    }
    void settle()
    {
        ASSERT_TRUE(olva_test::eventually(
            [&] { return sim_.settled(*sim_box_) && ReportWorker::in_hand() == 0; }));
    }
    // Ticks until the module has taken its start-up script and the pump is idle.
    void finishStartup()
    {
        for (int i = 0; i < 2000 && !(scriptDone() && idle()); ++i)
            tick();
        ASSERT_TRUE(scriptDone() && idle());
    }
    bool scriptDone() const
    {
        for (const auto& r : sim_box_->gsmReceived())
            if (r.command == "AT+CSCA?")
                return true;
        return false;
    }
    bool idle() const { return box_.gsm_state().ready != 0 && box_.queued_commands() == 0; }
    std::vector<std::string> commands() const
    {
        std::vector<std::string> out;
        for (const auto& r : sim_box_->gsmReceived())
            out.push_back(r.command);
        return out;
    }
    // The start-up script as the module must receive it, without the CRs:
    // written out, not taken from the code.
    static std::vector<std::string> script(bool four_g)
    {
        if (four_g)
            return {"AT", "AT", "AT", "ATE 0", "AT+CGMR", "AT+QSIMDET=1,1",
                    "AT+QURCCFG=\"urcport\",\"uart1\"", "AT+CLIP=1", "AT+QTONEDET=1",
                    "AT+QDAI=3,0,0,4,0,0,1,1", "AT+COLP=1", "AT+QCFG=\"tone/incoming\",1",
                    "AT+CRSL=0", "AT+QSIDET=0", "AT+QAUDPLAYGAIN=1000",
                    "AT+QLTONE=1,1000,200,300,2000", "AT+COLP=1", "AT+QAUDSW=1", "AT&W0",
                    "AT+CPIN?", "AT+CSCA?"};
        return {"AT", "AT", "AT", "ATE 0", "AT+CGMR", "AT+QSIMDET=1,0,1", "AT+CLIP=1",
                "AT+QTDMOD=1,2", "AT+QTDMOD=2,1", "AT+QTONEDET=4,1,3,3,65536", "AT+QTONEDET=1",
                "AT+CLVL=40", "AT+CALM=0", "AT+QMOSTAT=1", "AT+QSFR=7", "AT+QSIDET=0",
                "AT+QMIC=0,5", "AT+COLP=1", "AT&W0", "AT+CPIN?", "AT+CSCA?"};
    }
    // Reports of the box that asked its controller memory for four bytes.
    int memoryReads() const
    {
        const std::vector<std::uint8_t> head = {3, 0xA0, 0xA3};
        int reads = 0;
        for (const auto& report : sim_.reports(*sim_box_))
            reads += report.size() >= head.size() &&
                             std::equal(head.begin(), head.end(), report.begin())
                         ? 1
                         : 0;
        return reads;
    }
    // Sends the module's text to the box as its reports carry it, at most
    // chunk bytes a report.
    void moduleSays(const std::string& wire, std::size_t chunk = 6)
    {
        for (std::size_t at = 0; at < wire.size(); at += chunk) {
            const std::size_t n = std::min(chunk, wire.size() - at);
            std::vector<std::uint8_t> report = {3, static_cast<std::uint8_t>(0x80 + n)};
            report.insert(report.end(), wire.begin() + static_cast<long>(at),
                          wire.begin() + static_cast<long>(at + n));
            report.resize(8, 0);
            box_.route_tz2701_report(report.data(), report.size());
        }
    }

    olva_test::FakePcmFactory pcm_;
    GsmBox box_;
    SimTz2401Box* sim_box_ = nullptr;
    std::int64_t opened_ms_ = 0;
};

}  // namespace olva_test::gsm_box
