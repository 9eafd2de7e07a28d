// Unplugging and closing while other threads read, write and run the read
// loop: every thread ends, nothing is used after it is freed (the sanitizer
// build runs these), and no transfer is freed in flight (the simulator
// checks).
#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <string>

#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using namespace std::chrono_literals;

class UnplugTest : public olva_test::HidSimTest {
protected:
    SimTz2401Box& openTz2401(HidTestBox& hid, SimTz2401Box::Options options = SimTz2401Box::tz2401b())
    {
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
        EXPECT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2401B));
        HidDeviceAccess::startReadThread(hid);
        return box;
    }
};

TEST_F(UnplugTest, UnpluggingDuringAReadEndsTheWaitAtOnce)
{
    HidTestBox hid;
    SimTz2401Box& box = openTz2401(hid);
    box.dropReplies(0xF1, 1);
    // Far longer than the test waits: only the end of the stream can end it.
    HidDeviceAccess::setReplyTimeout(hid, 600000);
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t version = 0;
        return hid.Tz2401_read_param(version, 3, 0xF1, 0, 0);
    });
    ASSERT_TRUE(olva_test::eventually([&] { return box.commandCount(0xF1) == 1; }));
    sim_.unplug(box);
    ASSERT_EQ(reader.wait_for(olva_test::kWait), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    // Later requests fail without waiting either.
    std::uint8_t version = 0;
    EXPECT_FALSE(hid.Tz2401_read_param(version, 3, 0xF1, 0, 0));
    hid.hidClose();
    EXPECT_FALSE(hid.read_thread_active());
    // The read thread told its owner, once, that the box is gone.
    EXPECT_EQ(hid.plugOuts(), 1);
}

TEST_F(UnplugTest, UnpluggingDuringWritesFailsThemAndTheCloseStillEnds)
{
    HidTestBox hid;
    SimTz2401Box& box = openTz2401(hid);
    std::atomic<int> failed{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load()) {
            if (!hid.Tz2401_write_cmd(3, 0x30, 0, 0))
                ++failed;
        }
    });
    ASSERT_TRUE(olva_test::eventually([&] { return box.commandCount(0x30) > 10; }));
    sim_.unplug(box);
    ASSERT_TRUE(olva_test::eventually([&] { return failed.load() > 2; }));
    hid.hidClose();
    stop.store(true);
    writer.join();
    EXPECT_FALSE(hid.read_thread_active());
    EXPECT_FALSE(hid.is_open());
    // The read thread ended the box once. Writes that reached the wire
    // before that raised the USB error event with no-device; those after it
    // found the box closed and raised nothing.
    EXPECT_EQ(hid.plugOuts(), 1);
    for (const std::pair<int, int>& event : hid.events())
        EXPECT_EQ(event, (std::pair<int, int>{41, usb::kErrorNoDevice}));
}

// libusb tells of a box pulled out in more than one way; each ends the box
// once from its read loop, as a close with a mode does.
TEST_F(UnplugTest, EachWayLibusbTellsOfAGoneBoxEndsItOnce)
{
    struct Case {
        const char* name;
        std::function<void(olva_sim::SimBackend&, const SimTz2401Box&)> unplug;
        bool report_handled;
    };
    // A status report of each model, one the simulated box does not send
    // of itself.
    Bytes report;
    const Case cases[] = {
        {"a report, then no device on resubmission",
         [&](olva_sim::SimBackend& sim, const SimTz2401Box& box) {
             sim.unplugAtCompletion(box, usb::TransferStatus::kCompleted, report);
         },
         true},
        {"no data, then no device on resubmission",
         [](olva_sim::SimBackend& sim, const SimTz2401Box& box) {
             sim.unplugAtCompletion(box, usb::TransferStatus::kCompleted);
         },
         false},
        {"an error, then no device on resubmission",
         [](olva_sim::SimBackend& sim, const SimTz2401Box& box) {
             sim.unplugAtCompletion(box, usb::TransferStatus::kError);
         },
         false},
        {"a time-out, then no device on resubmission",
         [](olva_sim::SimBackend& sim, const SimTz2401Box& box) {
             sim.unplugAtCompletion(box, usb::TransferStatus::kTimedOut);
         },
         false},
        {"the transfer ends with no device",
         [](olva_sim::SimBackend& sim, const SimTz2401Box& box) { sim.unplug(box); }, false},
        {"event handling answers no device",
         [](olva_sim::SimBackend& sim, const SimTz2401Box&) {
             sim.failHandleEvents(1, usb::kErrorNoDevice);
         },
         false},
    };
    for (const bool gsm : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(gsm ? "Tz2701A: " : "Tz2401B: ") + c.name);
            report = gsm ? Bytes{3, 0x91, 0x20, 1, 0, 0, 1, 1} : Bytes{3, 0x19, 0x01, 0, 0, 0, 0, 0};
            HidTestBox hid;
            SimTz2401Box& box =
                sim_.plug<SimTz2401Box>(gsm ? SimTz2401Box::tz2701a() : SimTz2401Box::tz2401b());
            ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box),
                                   gsm ? OLVA_PRODUCT_TZ2701A : OLVA_PRODUCT_TZ2401B));
            HidDeviceAccess::startReadThread(hid);
            HidDeviceAccess::setEventMode(hid, true);
            c.unplug(sim_, box);
            EXPECT_TRUE(olva_test::eventually([&] { return hid.plugOuts() == 1; }));
            EXPECT_TRUE(olva_test::eventually([&] { return !hid.read_thread_active(); }));
            EXPECT_FALSE(hid.is_open());
            hid.hidClose();
            EXPECT_EQ(hid.plugOuts(), 1);
            if (c.report_handled) {
                // What the box sent before it went still reached its handler.
                const auto reports = hid.reports();
                EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                                        [&](const HidTestBox::Report& r) { return r.bytes == report; }),
                          1);
            }
        }
    }
}

TEST_F(UnplugTest, ATransferThatEndsWithNoDeviceDuringTheCloseIsNotWaitedForForever)
{
    HidTestBox hid;
    SimTz2401Box& box = openTz2401(hid);
    sim_.unplugOnCancel(box);
    auto closer = std::async(std::launch::async, [&] { hid.hidClose(); });
    ASSERT_EQ(closer.wait_for(olva_test::kWait), std::future_status::ready);
    EXPECT_FALSE(hid.read_thread_active());
    EXPECT_FALSE(hid.is_open());
}

TEST_F(UnplugTest, ATransferThatDiedBeforeTheCloseIsNotWaitedFor)
{
    HidTestBox hid;
    SimTz2401Box& box = openTz2401(hid);
    sim_.unplug(box);
    auto closer = std::async(std::launch::async, [&] { hid.hidClose(); });
    ASSERT_EQ(closer.wait_for(olva_test::kWait), std::future_status::ready);
    EXPECT_FALSE(hid.read_thread_active());
}

TEST_F(UnplugTest, ClosingWhileOthersReadAndWriteLeavesThemFailingSafely)
{
    for (const bool unplug_first : {false, true}) {
        SCOPED_TRACE(unplug_first);
        HidTestBox hid;
        SimTz2401Box& box = openTz2401(hid);
        box.dropReplies(0xF2, 1000000);
        HidDeviceAccess::setReplyTimeout(hid, 600000);
        std::atomic<bool> stop{false};
        std::atomic<int> rounds{0};
        std::vector<std::thread> users;
        users.emplace_back([&] {
            while (!stop.load()) {
                std::uint8_t type = 0;
                hid.Tz2401_read_param(type, 3, 0xF2, 0, 0);
                ++rounds;
            }
        });
        users.emplace_back([&] {
            while (!stop.load()) {
                hid.Tz2401_write_cmd(3, 0x30, 0, 0);
                hid.start_read_line_voltage();
                std::uint8_t data[8];
                hid.Tz2401_sync_read(data, 1);
                ++rounds;
            }
        });
        ASSERT_TRUE(olva_test::eventually([&] { return box.commandCount(0xF2) > 0; }));
        if (unplug_first)
            sim_.unplug(box);
        auto closer = std::async(std::launch::async, [&] { hid.hidClose(); });
        ASSERT_EQ(closer.wait_for(olva_test::kWait), std::future_status::ready);
        // After the close every use fails at once.
        const int seen = rounds.load();
        ASSERT_TRUE(olva_test::eventually([&] { return rounds.load() > seen + 10; }));
        stop.store(true);
        for (std::thread& user : users)
            user.join();
        EXPECT_FALSE(hid.read_thread_active());
    }
}

TEST_F(UnplugTest, APlugOutAndAnOutsideCloseAtOnceCloseOnce)
{
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        HidTestBox hid;
        openTz2401(hid);
        HidDeviceAccess::setUnplugged(hid, true);
        auto closer = std::async(std::launch::async, [&] { hid.hidClose(); });
        ASSERT_EQ(closer.wait_for(olva_test::kWait), std::future_status::ready);
        ASSERT_TRUE(olva_test::eventually([&] { return !hid.read_thread_active(); }));
        EXPECT_FALSE(hid.is_open());
        EXPECT_LE(hid.plugOuts(), 1);
    }
}

TEST_F(UnplugTest, Tz2501bPollStopsWhenTheBoxGoesOrCloses)
{
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug);
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B));
        HidDeviceAccess::startReadThread(hid);
        std::atomic<bool> stop{false};
        std::thread user([&] {
            while (!stop.load()) {
                std::uint8_t value = 0;
                hid.Tz2402D_Reg_Read(0x0A, value);
                hid.Tz2501B_function_setting(1, 1);
            }
        });
        ASSERT_TRUE(olva_test::eventually([&] { return sim_.transferCount(box) > 50; }));
        if (unplug)
            sim_.unplug(box);
        hid.hidClose();
        EXPECT_FALSE(hid.read_thread_active());
        stop.store(true);
        user.join();
        // A close ends the poll without a plug-out; a box that went may
        // have ended itself first, once, at its poll's "no device".
        EXPECT_LE(hid.plugOuts(), unplug ? 1 : 0);
    }
}

// A box whose report handler closes it.
class SelfClosingBox : public HidTestBox {
public:
    void handle_hid_read(const std::uint8_t* data, unsigned long len) override
    {
        hidClose();
        closed_inside_ = !is_open();
        HidTestBox::handle_hid_read(data, len);
    }
    std::atomic<bool> closed_inside_{false};
};

// Handlers run on the report worker, outside the completion and its locks:
// one may close its own box, and the close neither waits for itself nor
// leaves a thread behind.
TEST_F(UnplugTest, AHandlerMayCloseItsOwnBox)
{
    SelfClosingBox hid;
    SimTz2401Box& box = openTz2401(hid);
    HidDeviceAccess::setEventMode(hid, true);
    sim_.pushInput(box, {3, 0x19, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(olva_test::eventually([&] { return hid.reportCount() == 1; }));
    EXPECT_TRUE(hid.closed_inside_);
    EXPECT_FALSE(hid.is_open());
    ASSERT_TRUE(olva_test::eventually([&] { return !hid.read_thread_active(); }));
    // A later report finds no one to hand it to.
    sim_.pushInput(box, {3, 0x19, 0, 0, 0, 0, 0, 0});
    hid.hidClose();
    EXPECT_EQ(hid.reportCount(), 1);
}

}  // namespace
