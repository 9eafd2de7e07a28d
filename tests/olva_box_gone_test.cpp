// A box pulled out in the ways libusb tells of it, through the library with
// simulated boxes and the manager driven by hand: the box whose sound card
// never opened (so no failed capture read tells) is ended once by its HID
// read thread or status poll, or, when none of its threads noticed, by the
// next search pass; either way its slot is free and it opens in slot 1
// again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/logger.h"
#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/manual_drive_fixture.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::EventRecorder;
using olva_test::kFirstLine;
using olva_test::LibraryEvent;

class BoxGoneTest : public olva_test::ManualDriveTest {
protected:
    SimBox& plug(OLVA_PRODUCT model)
    {
        return sim_.plug<SimTz2401Box>(model == OLVA_PRODUCT_TZ2701A ? SimTz2401Box::tz2701a()
                                                                     : SimTz2401Box::tz2401b());
    }
    // Opens the box, which has no sound card, in slot 1: its line comes
    // with the alarms of the capture and playback devices that did not open.
    void open()
    {
        recorder().clear();
        ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
        ASSERT_TRUE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_IN));
        ASSERT_TRUE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_ALARM));
        ASSERT_EQ(slot1().device_index(), 1);
        recorder().clear();
    }
    // Slot 1 is free and none of its box's threads runs.
    static bool ended()
    {
        const OlvaManager::CUsbBoxDevice& box = slot1();
        return box.device_index() == -1 && !box.is_open() && !box.read_thread_active() &&
               !box.capture_running() && !box.play_thread_running();
    }
    // The box's line was reported gone once, and not plugged in again.
    static void expectPlugOutOnce()
    {
        std::vector<LibraryEvent> plugs = recorder().events();
        std::erase_if(plugs, [](const LibraryEvent& e) {
            return e.event != OLVA_EVENT_PLUG_IN && e.event != OLVA_EVENT_PLUG_OUT;
        });
        EXPECT_EQ(plugs, (std::vector<LibraryEvent>{{kFirstLine, OLVA_EVENT_PLUG_OUT, 0, 0}}));
    }

    olva_test::FakePcmFactory pcm_;  // no device: the box's sound card is missing
};

struct GoneWay {
    const char* name;
    std::function<void(olva_sim::SimBackend&, const SimBox&)> unplug;
};

const GoneWay kGoneWays[] = {
    {"a report completes, the resubmission finds no device",
     [](olva_sim::SimBackend& sim, const SimBox& box) {
         sim.unplugAtCompletion(box, usb::TransferStatus::kCompleted, {3, 0x19, 1, 0, 0, 0, 0, 0});
     }},
    {"an empty completion, the resubmission finds no device",
     [](olva_sim::SimBackend& sim, const SimBox& box) {
         sim.unplugAtCompletion(box, usb::TransferStatus::kCompleted);
     }},
    {"an error completion, the resubmission finds no device",
     [](olva_sim::SimBackend& sim, const SimBox& box) {
         sim.unplugAtCompletion(box, usb::TransferStatus::kError);
     }},
    {"the transfer ends with no device",
     [](olva_sim::SimBackend& sim, const SimBox& box) { sim.unplug(box); }},
};

TEST_F(BoxGoneTest, ABoxWithoutItsSoundCardIsEndedOnceByItsReadThread)
{
    for (const OLVA_PRODUCT model : {OLVA_PRODUCT_TZ2401B, OLVA_PRODUCT_TZ2701A}) {
        SimBox& box = plug(model);
        for (const GoneWay& way : kGoneWays) {
            SCOPED_TRACE(std::string(model == OLVA_PRODUCT_TZ2401B ? "Tz2401B: " : "Tz2701A: ") +
                         way.name);
            ASSERT_NO_FATAL_FAILURE(open());
            way.unplug(sim_, box);
            ASSERT_TRUE(olva_test::eventually(ended));
            expectPlugOutOnce();
            // Back on the bus, it takes slot 1 again.
            sim_.replug(box);
        }
        ASSERT_NO_FATAL_FAILURE(open());
        sim_.unplug(box);
        ASSERT_TRUE(olva_test::eventually(ended));
    }
}

TEST_F(BoxGoneTest, ATz2501bWithoutItsSoundCardIsEndedOnceByItsStatusPoll)
{
    SimBox& box = sim_.plug<SimRegisterBox>();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(open());
        sim_.unplug(box);
        ASSERT_TRUE(olva_test::eventually(ended));
        // Its second line, the extension phone's, was never announced.
        expectPlugOutOnce();
        sim_.replug(box);
    }
}

TEST_F(BoxGoneTest, ABoxGoneThatNoThreadNoticedIsEndedByTheSearch)
{
    for (const OLVA_PRODUCT model : {OLVA_PRODUCT_TZ2401B, OLVA_PRODUCT_TZ2701A}) {
        SCOPED_TRACE(model);
        SimBox& box = plug(model);
        ASSERT_NO_FATAL_FAILURE(open());
        // An event-handling error that is not no-device ends the read loop
        // quietly, and the box has no capture thread whose read would fail.
        sim_.failHandleEvents(1, usb::kErrorIo);
        ASSERT_TRUE(olva_test::eventually([] { return !slot1().read_thread_active(); }));
        sim_.unplug(box);
        // A bus that cannot be read tells nothing: the box stays.
        sim_.failListDevices(1, usb::kErrorNoMem);
        EXPECT_EQ(g_pOlvaMgr->search_pass(), 0);
        EXPECT_EQ(slot1().device_index(), 1);
        EXPECT_FALSE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_OUT,
                                             std::chrono::milliseconds(0)));

        EXPECT_EQ(g_pOlvaMgr->search_pass(), 0);
        EXPECT_TRUE(ended());
        expectPlugOutOnce();
        // Later passes find nothing more to end.
        recorder().clear();
        EXPECT_EQ(g_pOlvaMgr->search_pass(), 0);
        EXPECT_FALSE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_OUT,
                                             std::chrono::milliseconds(0)));

        sim_.replug(box);
        ASSERT_NO_FATAL_FAILURE(open());
        sim_.unplug(box);
        g_pOlvaMgr->search_pass();
        ASSERT_TRUE(olva_test::eventually(ended));
        expectPlugOutOnce();
    }
}

TEST_F(BoxGoneTest, ABoxStillOnTheBusIsNotEndedByTheSearch)
{
    plug(OLVA_PRODUCT_TZ2401B);
    ASSERT_NO_FATAL_FAILURE(open());
    for (int pass = 0; pass < 3; ++pass)
        EXPECT_EQ(g_pOlvaMgr->search_pass(), 0);
    EXPECT_EQ(slot1().device_index(), 1);
    EXPECT_TRUE(slot1().read_thread_active());
    EXPECT_FALSE(
        recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_OUT, std::chrono::milliseconds(0)));
}

}  // namespace
