// A callback may call any library function: from inside each event of a
// call on a simulated Tz2401B (raised by its report worker, its timer steps
// and its capture thread) the callback calls back into the library, and
// each call returns its documented result without a deadlock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/manual_drive_fixture.h"
#include "support/spandsp_signals.h"
#include "support/tz2401_reports.h"

namespace {

using olva_sim::SimTz2401Box;
using olva_test::append;
using olva_test::CidStandard;
using olva_test::FakePcmDevice;
using olva_test::kFirstLine;
using olva_test::framed;
using olva_test::holdStatus;
using olva_test::Samples;
using olva_test::silence;
using platform::PcmStream;


// What the library answered inside one event.
struct Answers {
    int soft_hook_on;
    int line_state;
    int stop_record;
    int set_volume;
};

std::mutex g_mutex;
std::multimap<int, Answers> g_answers;  // g_mutex, by event

void reentrantCallback(unsigned long handle, int event, unsigned long, unsigned long,
                       unsigned long, unsigned long)
{
    static const std::set<int> kEvents = {
        OLVA_EVENT_LINE_RING,    OLVA_EVENT_LINE_HOOK_OFF, OLVA_EVENT_LING_HANG,
        OLVA_EVENT_LINE_VOLTAGE, OLVA_EVENT_CALLER_ID,     OLVA_EVENT_DTMF_DOWN,
        OLVA_EVENT_LINE_HOOK_ON,
    };
    if (handle != kFirstLine || !kEvents.count(event))
        return;
    const Answers answers{olva_soft_hook_on(handle), olva_get_line_state(handle),
                          olva_stop_record(handle), olva_set_volume(handle, 5)};
    std::lock_guard<std::mutex> lock(g_mutex);
    g_answers.emplace(event, answers);
}

std::multimap<int, Answers> answers()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_answers;
}

class CallbackReentryTest : public olva_test::ManualDriveTest {
protected:
    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_answers.clear();
        }
        ASSERT_NO_FATAL_FAILURE(openLibrary(&reentrantCallback));
    }
    static void feedAll(FakePcmDevice& capture, Samples samples)
    {
        capture.feed(std::move(samples));
        capture.feed(Samples(160, 0));
        ASSERT_TRUE(capture.waitUntilConsumed());
    }

    olva_test::FakePcmFactory pcm_;
};

TEST_F(CallbackReentryTest, EveryEventOfACallMayCallBackIntoTheLibrary)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    listCard(box, 1, olva_test::kTz2401CardId);
    pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
    FakePcmDevice& capture = pcm_.addDevice("hw:1,0", PcmStream::kCapture);
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    // The open's own announcement (event 30) is not part of the call.
    sim_.clearTrace();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_answers.clear();
    }

    // Ring, caller ID, answer, a key, a voltage reading, hang-up, then the
    // line is lost.
    holdStatus(sim_, box, olva_test::kTz2401Ringing, 3);
    holdStatus(sim_, box, olva_test::kTz2401Idle, 3);
    feedAll(capture, framed(olva_test::spandspMdmf(CidStandard::Bell202,
                                                   {{0x01, "12251830"}, {0x02, "0755123"}})
                                .signal));
    holdStatus(sim_, box, olva_test::kTz2401Ringing, 3);
    holdStatus(sim_, box, olva_test::kTz2401OffHook, 3);
    Samples key = silence(200);
    append(key, olva_test::spandspDtmf("5", -10, 0, 100, 100));
    append(key, silence(200));
    feedAll(capture, framed(key));
    ASSERT_EQ(olva_start_read_line_voltage(kFirstLine), 0);
    // 48 V in the nibble form of this firmware, with its check nibble.
    olva_test::pushReports(sim_, box, {olva_test::tz2401Voltage(0, 0x0D, 0x03)});
    holdStatus(sim_, box, olva_test::kTz2401Idle, 6);
    holdStatus(sim_, box, olva_test::kTz2401Floating, 12);

    const std::multimap<int, Answers> got = answers();
    for (int event : {OLVA_EVENT_LINE_RING, OLVA_EVENT_LINE_HOOK_OFF, OLVA_EVENT_LING_HANG,
                      OLVA_EVENT_LINE_VOLTAGE, OLVA_EVENT_CALLER_ID, OLVA_EVENT_DTMF_DOWN,
                      OLVA_EVENT_LINE_HOOK_ON}) {
        SCOPED_TRACE(event);
        const auto [first, last] = got.equal_range(event);
        ASSERT_NE(first, last) << "event not raised";
        for (auto it = first; it != last; ++it) {
            // The Tz2401B has no soft hook; stopping no recording is done;
            // the volume goes to the box.
            EXPECT_EQ(it->second.soft_hook_on, OLVA_ERR_FAILED);
            EXPECT_GE(it->second.line_state, OLVA_STATE_IDLE);
            EXPECT_EQ(it->second.stop_record, OLVA_OK);
            EXPECT_EQ(it->second.set_volume, OLVA_OK);
        }
    }
    // Each volume set from a callback reached the box: (2 * 5) | 0x80.
    const std::vector<std::uint8_t> volume = {3, 0x13, 0x8A, 0, 0, 0, 0, 0};
    const auto reports = sim_.reports(box);
    EXPECT_EQ(static_cast<std::size_t>(std::count(reports.begin(), reports.end(), volume)),
              got.size());
}

}  // namespace
