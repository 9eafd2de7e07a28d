// The library with its own threads, once end to end: a box plugged in while
// the search thread runs is opened and reported, its plug-out too, and
// closing the library joins every thread (the sanitizer build runs this).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"

namespace {

using olva_sim::SimTz2401Box;
using olva_test::EventRecorder;
using olva_test::LibraryEvent;
using platform::PcmStream;
using ::testing::Contains;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

class ThreadedLibraryTest : public olva_test::BoxSimTest {
protected:
    void TearDown() override
    {
        olva_close();
        BoxSimTest::TearDown();
    }

    static EventRecorder& recorder() { return EventRecorder::instance(); }

    olva_test::FakePcmFactory pcm_;
};

TEST_F(ThreadedLibraryTest, ABoxPluggedInWhileTheLibraryRunsIsOpenedAndClosedWithIt)
{
    OlvaManager::use_manual_drive(false);
    recorder().clear();
    ASSERT_EQ(olva_open(&EventRecorder::callback), 0);
    ASSERT_TRUE(g_pOlvaMgr->threads_running());

    olva_test::FakePcmDevice& capture = pcm_.addDevice("hw:1,0", PcmStream::kCapture);
    pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
    listCardOfAnyLocation(1, olva_test::kTz2401CardId);
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    ASSERT_TRUE(recorder().waitForEvent(0x101, OLVA_EVENT_LINE_HOOK_ON));
    EXPECT_THAT(recorder().events(), Contains(LibraryEvent{0x101, OLVA_EVENT_PLUG_IN, 0, 0}));
    // Raised on the search thread.
    EXPECT_NE(recorder().threads().front(), std::this_thread::get_id());
    EXPECT_EQ(olva_get_line_state(0x101), OLVA_STATE_IDLE);

    // Gone: reported by the capture thread; back: found again.
    ASSERT_TRUE(olva_test::eventually([&] { return capture.counters().reads > 0; }));
    sim_.unplug(sim_box);
    capture.unplug();
    ASSERT_TRUE(recorder().waitForEvent(0x101, OLVA_EVENT_PLUG_OUT));
    olva_test::FakePcmDevice& again = pcm_.addDevice("hw:2,0", PcmStream::kCapture);
    pcm_.addDevice("plughw:2,0", PcmStream::kPlayback);
    // The old card went with the box.
    pcm_lines_.clear();
    cards_.clear();
    listCardOfAnyLocation(2, olva_test::kTz2401CardId);
    recorder().clear();
    sim_.replug(sim_box);
    ASSERT_TRUE(recorder().waitForEvent(0x101, OLVA_EVENT_PLUG_IN));
    ASSERT_TRUE(recorder().waitForEvent(0x101, OLVA_EVENT_LINE_HOOK_ON));
    ASSERT_TRUE(olva_test::eventually([&] { return again.counters().reads > 0; }));

    olva_close();
    EXPECT_EQ(g_pOlvaMgr, nullptr);
    EXPECT_FALSE(again.isOpen());
    EXPECT_FALSE(sim_.claimed(sim_box));
    recorder().clear();
    again.feedError(-ENODEV);
    sim_.unplug(sim_box);
    EXPECT_THAT(recorder().events(), IsEmpty());
}

}  // namespace
