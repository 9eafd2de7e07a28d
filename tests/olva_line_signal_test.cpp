// Line signals end to end: simulated boxes found through the library, their
// line audio fed through the PCM seam, and the events the library's
// callback gets: caller IDs, DTMF keys and busy tone on the lines that
// detect them, nothing from the lines that do not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"
#include "support/fake_pcm.h"
#include "support/manual_drive_fixture.h"
#include "support/spandsp_signals.h"
#include "support/tz2401_reports.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::append;
using olva_test::CidStandard;
using olva_test::EventRecorder;
using olva_test::FakePcmDevice;
using olva_test::framed;
using olva_test::holdStatus;
using olva_test::LibraryEvent;
using olva_test::Samples;
using olva_test::silence;
using platform::PcmStream;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct CallerIdTexts {
    unsigned long handle;
    std::string number;
    std::string time;
    std::string name;
    bool operator==(const CallerIdTexts&) const = default;
};

void PrintTo(const CallerIdTexts& t, std::ostream* out)
{
    *out << "{0x" << std::hex << t.handle << std::dec << ", \"" << t.number << "\", \"" << t.time
         << "\", \"" << t.name << "\"}";
}

std::mutex g_texts_mutex;
std::vector<CallerIdTexts> g_texts;  // g_texts_mutex

// Event 21's texts live only for the call: they are copied here.
void callback(unsigned long handle, int event, unsigned long p1, unsigned long p2,
              unsigned long p3, unsigned long p4)
{
    if (event == OLVA_EVENT_CALLER_ID) {
        std::lock_guard<std::mutex> lock(g_texts_mutex);
        g_texts.push_back({handle, reinterpret_cast<const char*>(p1),
                           reinterpret_cast<const char*>(p2), reinterpret_cast<const char*>(p3)});
    }
    EventRecorder::callback(handle, event, p1, p2, p3, p4);
}

std::vector<CallerIdTexts> callerIds()
{
    std::lock_guard<std::mutex> lock(g_texts_mutex);
    return g_texts;
}

// A 48 kHz stereo capture whose reduction gives the line its 8 kHz
// samples: every sample six times, doubled for the reduction's halving.
Samples stereo48k(const Samples& line1, const Samples& line2)
{
    const std::size_t n = std::max(line1.size(), line2.size());
    // Whole reads of 1920 stereo frames (40 ms, 320 line samples).
    const std::size_t line_samples = (n + 319) / 320 * 320;
    Samples out(line_samples * 6 * 2, 0);
    auto twice = [](const Samples& s, std::size_t i) {
        return i < s.size() ? static_cast<std::int16_t>(std::clamp(2 * s[i], -32768, 32767)) : 0;
    };
    for (std::size_t i = 0; i < line_samples; ++i) {
        for (int k = 0; k < 6; ++k) {
            out[2 * (6 * i + k)] = twice(line1, i);
            out[2 * (6 * i + k) + 1] = twice(line2, i);
        }
    }
    return out;
}

// A caller ID, DTMF keys and a busy cadence, with pauses between.
Samples lineSignals()
{
    Samples s = silence(300);
    append(s, olva_test::spandspMdmf(CidStandard::Bell202, {{0x01, "12251830"},
                                                            {0x02, "075512345678"},
                                                            {0x07, "ZHANG SAN"}})
                  .signal);
    append(s, silence(500));
    append(s, olva_test::spandspDtmf("47#", -10, 0, 100, 100));
    append(s, silence(300));
    append(s, olva_test::spandspTone(450, -15, 0, 0, 350, 350, 10 * 700));
    return framed(s);
}

class LineSignalLibraryTest : public olva_test::ManualDriveTest {
protected:
    void SetUp() override
    {
        EventRecorder::instance().clear();
        {
            std::lock_guard<std::mutex> lock(g_texts_mutex);
            g_texts.clear();
        }
        ASSERT_NO_FATAL_FAILURE(openLibrary(&callback));
    }

    FakePcmDevice& plug(const olva_sim::SimBox& box, int card, const char* usbid)
    {
        listCard(box, card, usbid);
        const std::string number = std::to_string(card);
        pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback);
        return pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture);
    }
    // Feeds the capture and waits until the capture thread has handled it
    // all: the read after it comes only once its last frame went through.
    static void feedAll(FakePcmDevice& capture, Samples samples, std::size_t read_samples)
    {
        capture.feed(std::move(samples));
        capture.feed(Samples(read_samples, 0));
        ASSERT_TRUE(capture.waitUntilConsumed());
    }
    // The line's events; event 21's texts are read through callerIds().
    static std::vector<LibraryEvent> lineEvents()
    {
        std::vector<LibraryEvent> out;
        for (const LibraryEvent& e : EventRecorder::instance().lineEvents())
            out.push_back({e.handle, e.event, e.event == OLVA_EVENT_CALLER_ID ? 0 : e.p1, 0});
        return out;
    }
    static std::vector<LibraryEvent> signalEvents()
    {
        std::vector<LibraryEvent> out = lineEvents();
        std::erase_if(out, [](const LibraryEvent& e) {
            return e.event != OLVA_EVENT_CALLER_ID && e.event != OLVA_EVENT_DTMF_DOWN &&
                   e.event != OLVA_EVENT_DEVICE_BUSY_TONE && e.event != OLVA_EVENT_DIAL_TONE;
        });
        return out;
    }

    olva_test::FakePcmFactory pcm_;
};

std::vector<LibraryEvent> expectedSignals(unsigned long handle)
{
    return {{handle, OLVA_EVENT_CALLER_ID, 0, 0},     {handle, OLVA_EVENT_DTMF_DOWN, '4', 0},
            {handle, OLVA_EVENT_DTMF_DOWN, '7', 0},   {handle, OLVA_EVENT_DTMF_DOWN, '#', 0},
            {handle, OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0}, {handle, OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0},
            {handle, OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0}};
}

TEST_F(LineSignalLibraryTest, ATz2401bReportsCallerIdKeysAndBusyTone)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    FakePcmDevice& capture = plug(box, 1, olva_test::kTz2401CardId);
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    feedAll(capture, lineSignals(), 160);
    EXPECT_EQ(signalEvents(), expectedSignals(0x101));
    EXPECT_THAT(callerIds(), ElementsAre(CallerIdTexts{0x101, "075512345678", "12251830", "ZHANG SAN"}));
}

// One call on a Tz2401B from its first ring to its hang-up: the line's
// states come from the box's status reports, its signals from its audio.
TEST_F(LineSignalLibraryTest, ACallOnATz2401bFromRingToHangUp)
{
    constexpr unsigned long kLine = 0x101;
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    FakePcmDevice& capture = plug(box, 1, olva_test::kTz2401CardId);
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    EventRecorder::instance().clear();
    const LibraryEvent ring{kLine, OLVA_EVENT_LINE_RING, 0, 0};
    const LibraryEvent ring_stop{kLine, OLVA_EVENT_RING_STOP, 0, 0};
    const LibraryEvent caller_id{kLine, OLVA_EVENT_CALLER_ID, 0, 0};
    const LibraryEvent busy{kLine, OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0};
    const auto key = [](char k) {
        return LibraryEvent{kLine, OLVA_EVENT_DTMF_DOWN, static_cast<unsigned long>(k), 0};
    };

    // The first ring, and the caller ID in the pause after it.
    holdStatus(sim_, box, olva_test::kTz2401Ringing, 3);
    holdStatus(sim_, box, olva_test::kTz2401Idle, 3);
    EXPECT_THAT(lineEvents(), ElementsAre(ring, ring, ring_stop));
    const Samples cid = olva_test::spandspMdmf(CidStandard::Bell202, {{0x01, "12251830"},
                                                                      {0x02, "075512345678"},
                                                                      {0x07, "ZHANG SAN"}})
                            .signal;
    feedAll(capture, framed(cid), 160);
    EXPECT_THAT(lineEvents(), ElementsAre(ring, ring, ring_stop, caller_id));
    EXPECT_THAT(callerIds(),
                ElementsAre(CallerIdTexts{kLine, "075512345678", "12251830", "ZHANG SAN"}));

    // Four seconds on, the second ring is answered.
    clock_.advanceMs(4000);
    EventRecorder::instance().clear();
    holdStatus(sim_, box, olva_test::kTz2401Ringing, 3);
    holdStatus(sim_, box, olva_test::kTz2401OffHook, 3);
    EXPECT_THAT(lineEvents(),
                ElementsAre(ring, ring, LibraryEvent{kLine, OLVA_EVENT_LINE_HOOK_OFF, 0, 0}));

    // Keys pressed at the far end; it hangs up and the exchange sends busy
    // tone; the phone is put down.
    EventRecorder::instance().clear();
    Samples call = silence(200);
    append(call, olva_test::spandspDtmf("159*", -10, 0, 100, 100));
    append(call, silence(300));
    append(call, olva_test::spandspTone(450, -15, 0, 0, 350, 350, 10 * 700));
    feedAll(capture, framed(call), 160);
    holdStatus(sim_, box, olva_test::kTz2401Idle, 6);
    EXPECT_THAT(lineEvents(), ElementsAre(key('1'), key('5'), key('9'), key('*'), busy, busy, busy,
                                          LibraryEvent{kLine, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    EXPECT_EQ(callerIds().size(), 1u);
    EXPECT_EQ(olva_get_line_state(kLine), OLVA_STATE_IDLE);
}

TEST_F(LineSignalLibraryTest, ATz2501bDetectsOnItsFirstLineOnly)
{
    SimRegisterBox& box = sim_.plug<SimRegisterBox>();
    FakePcmDevice& capture = plug(box, 2, olva_test::kTz2501BCardId);
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    // On the second line the signals give nothing.
    feedAll(capture, stereo48k({}, lineSignals()), 2 * 1920);
    EXPECT_THAT(signalEvents(), IsEmpty());
    EXPECT_THAT(callerIds(), IsEmpty());
    // On the first they give all.
    feedAll(capture, stereo48k(lineSignals(), {}), 2 * 1920);
    EXPECT_EQ(signalEvents(), expectedSignals(0x101));
    EXPECT_THAT(callerIds(), ElementsAre(CallerIdTexts{0x101, "075512345678", "12251830", "ZHANG SAN"}));
}

TEST_F(LineSignalLibraryTest, ATz2701aDetectsNothing)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    FakePcmDevice& capture = plug(box, 1, olva_test::kTz2401CardId);
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    ASSERT_EQ(olva_get_product_ID(0x101), OLVA_PRODUCT_TZ2701A);
    feedAll(capture, lineSignals(), 160);
    EXPECT_THAT(signalEvents(), IsEmpty());
    EXPECT_THAT(callerIds(), IsEmpty());
}

TEST_F(LineSignalLibraryTest, BusySettingsAndGainControlReachTheLine)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    FakePcmDevice& capture = plug(box, 1, olva_test::kTz2401CardId);
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    EXPECT_EQ(olva_close_agc(0x101, 1), 0);
    EXPECT_EQ(g_pOlvaMgr->slot(1).line(1).agc_off(), 1);
    // 500 ms on and off is busy tone once the settings say so.
    EXPECT_EQ(olva_set_busy_tone(0x101, tagBusyInfo{0, 450, 420, 50, 50, 5, 12, 3}), 0);
    Samples slow = silence(1000);
    append(slow, olva_test::spandspTone(450, -15, 0, 0, 500, 500, 10 * 1000));
    feedAll(capture, framed(slow), 160);
    EXPECT_EQ(signalEvents(), (std::vector<LibraryEvent>{{0x101, OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0},
                                                         {0x101, OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0},
                                                         {0x101, OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0}}));
    EXPECT_EQ(g_pOlvaMgr->slot(1).line(1).busy_tone_settings().busy_on, 50);
    EXPECT_EQ(olva_close_agc(0x101, 0), 0);
    EXPECT_EQ(g_pOlvaMgr->slot(1).line(1).agc_off(), 0);
}

}  // namespace
