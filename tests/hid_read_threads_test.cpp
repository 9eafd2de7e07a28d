// The HID read threads: the Tz2401 family's interrupt event loop and the
// Tz2501B's status poll, their handlers, their ends and plug-outs.
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "base/platform/sleeper.h"

#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/eventually.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"
#include "usb_hid/hid_reports.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using Kind = HidTestBox::Report::Kind;
using ::testing::Contains;
using ::testing::Each;
using ::testing::IsEmpty;

class ReadThreadTest : public olva_test::HidSimTest {
protected:
    // A Tz2401-family box opened as model with its read thread running.
    HidTestBox& openTz2401(SimTz2401Box& box, OLVA_PRODUCT model, bool event_mode)
    {
        EXPECT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box), model));
        HidDeviceAccess::startReadThread(hid_);
        HidDeviceAccess::setEventMode(hid_, event_mode);
        return hid_;
    }

    HidTestBox hid_;
};

TEST_F(ReadThreadTest, Tz2401bStatusReportsReachTheHandlerInEventMode)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    openTz2401(box, OLVA_PRODUCT_TZ2401B, true);
    EXPECT_TRUE(hid_.read_thread_active());
    const Bytes first = {3, 0x19, 0x01, 0, 0, 0, 0, 0};
    const Bytes dropped = {2, 0x19, 0x02, 0, 0, 0, 0, 0};
    const Bytes second = {3, 0x13, 0x40, 0, 0, 0, 0, 0};
    sim_.pushInput(box, first);
    sim_.pushInput(box, dropped);
    sim_.pushInput(box, second);
    ASSERT_TRUE(olva_test::eventually([&] { return hid_.reportCount() >= 2; }));
    const auto reports = hid_.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].kind, Kind::kTz2401);
    EXPECT_EQ(reports[0].bytes, first);
    EXPECT_EQ(reports[1].bytes, second);
}

TEST_F(ReadThreadTest, InSyncModeReportsWaitForAReaderInstead)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    openTz2401(box, OLVA_PRODUCT_TZ2401B, false);
    std::uint8_t data[8] = {};
    auto reader = std::async(std::launch::async, [&] {
        return HidDeviceAccess::readTimeout(hid_, data, sizeof data, 10000);
    });
    while (reader.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        sim_.pushInput(box, {3, 0x19, 0x01, 0, 0, 0, 0, 0});
    EXPECT_EQ(reader.get(), 8);
    EXPECT_EQ(data[1], 0x19);
    EXPECT_EQ(hid_.reportCount(), 0u);
}

TEST_F(ReadThreadTest, Tz2701aLoopAsksForItsStatusAndHandsOnTheAnswer)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    box.setStatus(1, 0);
    openTz2401(box, OLVA_PRODUCT_TZ2701A, true);
    ASSERT_TRUE(olva_test::eventually([&] { return hid_.reportCount() >= 1; }));
    const auto reports = hid_.reports();
    EXPECT_EQ(reports[0].kind, Kind::kTz2701A);
    EXPECT_EQ(reports[0].bytes, (Bytes{3, 0x91, 0x20, 1, 0, 0, 1, 0}));
    hid_.hidClose();
    EXPECT_THAT(sim_.reports(box), Each(Bytes{3, 0xA0, 0xA1, 0x07, 0, 0, 0, 0}));
}

// Holds every pause that a thread other than the test's asks for until it
// is destroyed; then gives the fixture's sleeper back.
class HeldSleeper final : public platform::Sleeper {
public:
    explicit HeldSleeper(platform::Sleeper* restore) : restore_(restore)
    {
        platform::setSleeper(this);
    }
    ~HeldSleeper() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        released_changed_.notify_all();
        std::unique_lock<std::mutex> lock(mutex_);
        released_changed_.wait(lock, [this] { return held_ == 0; });
        platform::setSleeper(restore_);
    }
    void sleepMs(int) override
    {
        if (std::this_thread::get_id() == test_thread_)
            return;
        std::unique_lock<std::mutex> lock(mutex_);
        ++held_;
        released_changed_.wait(lock, [this] { return released_; });
        --held_;
        released_changed_.notify_all();
    }

private:
    platform::Sleeper* restore_;
    const std::thread::id test_thread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable released_changed_;
    bool released_ = false;  // mutex_
    int held_ = 0;           // mutex_
};

// A completed transfer is reaped by the pass of event handling that is
// waiting for it, not after a pause of the loop: with every pause of the
// read thread held, reports and the Tz2701A's status requests still flow.
TEST_F(ReadThreadTest, ReportsAreReapedWithoutAPauseOfTheLoop)
{
    for (const bool gsm : {false, true}) {
        SCOPED_TRACE(gsm ? "Tz2701A" : "Tz2401B");
        HidTestBox hid;
        SimTz2401Box& box =
            sim_.plug<SimTz2401Box>(gsm ? SimTz2401Box::tz2701a() : SimTz2401Box::tz2401b());
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box),
                                            gsm ? OLVA_PRODUCT_TZ2701A : OLVA_PRODUCT_TZ2401B));
        HidDeviceAccess::startReadThread(hid);
        HidDeviceAccess::setEventMode(hid, true);
        {
            HeldSleeper held(&sleeper_);
            // A status report that the simulated box does not send of itself.
            const Bytes report = gsm ? Bytes{3, 0x91, 0x20, 1, 0, 0, 1, 1}
                                     : Bytes{3, 0x19, 0x01, 0, 0, 0, 0, 0};
            auto handled = [&] {
                std::size_t count = 0;
                for (const auto& r : hid.reports())
                    count += r.bytes == report;
                return count;
            };
            for (std::size_t sent = 1; sent <= 3; ++sent) {
                sim_.pushInput(box, report);
                ASSERT_TRUE(olva_test::eventually([&] { return handled() == sent; }));
            }
            if (gsm) {
                const std::size_t requests = sim_.reports(box).size();
                EXPECT_TRUE(olva_test::eventually(
                    [&] { return sim_.reports(box).size() >= requests + 3; }));
            }
        }
        // The close's end of the loop pauses for a last look at the flag.
        hid.hidClose();
        EXPECT_FALSE(hid.read_thread_active());
    }
}

TEST_F(ReadThreadTest, TheLoopOutlastsTimeOutsAndUnknownTransferEnds)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    sim_.failInterrupt(box, 3, usb::TransferStatus::kTimedOut);
    openTz2401(box, OLVA_PRODUCT_TZ2401B, true);
    sim_.failInterrupt(box, 2, usb::TransferStatus::kStall);
    sim_.pushInput(box, {3, 0x19, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(olva_test::eventually([&] { return hid_.reportCount() == 1; }));
}

TEST_F(ReadThreadTest, AnEventHandlingErrorEndsTheLoopWithoutAPlugOut)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    openTz2401(box, OLVA_PRODUCT_TZ2401B, true);
    sim_.failHandleEvents(1, usb::kErrorIo);
    EXPECT_TRUE(olva_test::eventually([&] { return !hid_.read_thread_active(); }));
    EXPECT_EQ(hid_.plugOuts(), 0);
    EXPECT_TRUE(hid_.is_open());
    hid_.hidClose();
}

TEST_F(ReadThreadTest, ABoxWithoutAnInputEndpointStillReleasesTheOpen)
{
    auto options = SimTz2401Box::tz2401b();
    options.in_endpoint = false;
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
    HidDeviceAccess::setReplyTimeout(hid_, 20);
    EXPECT_FALSE(hid_.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    EXPECT_TRUE(olva_test::eventually([&] { return !hid_.read_thread_active(); }));
    hid_.hidClose();
    EXPECT_FALSE(hid_.is_open());
}

TEST_F(ReadThreadTest, TheUnpluggedFlagEndsTheLoopWithOnePlugOut)
{
    struct Case {
        const char* name;
        OLVA_PRODUCT model;
    };
    for (const Case& c : {Case{"event loop", OLVA_PRODUCT_TZ2401B},
                          Case{"status poll", OLVA_PRODUCT_TZ2501B}}) {
        SCOPED_TRACE(c.name);
        HidTestBox hid;
        if (c.model == OLVA_PRODUCT_TZ2401B)
            ASSERT_TRUE(HidDeviceAccess::openAs(
                hid, sim_.path(sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b())), c.model));
        else
            ASSERT_TRUE(
                HidDeviceAccess::openAs(hid, sim_.path(sim_.plug<SimRegisterBox>()), c.model));
        HidDeviceAccess::startReadThread(hid);
        // As the box's close with a mode does before it closes.
        HidDeviceAccess::setUnplugged(hid, true);
        EXPECT_TRUE(olva_test::eventually([&] { return hid.plugOuts() == 1; }));
        // The plug-out closed the record on the read thread itself.
        EXPECT_TRUE(olva_test::eventually([&] { return !hid.read_thread_active(); }));
        EXPECT_FALSE(hid.is_open());
        hid.hidClose();
        EXPECT_EQ(hid.plugOuts(), 1);
    }
}

TEST_F(ReadThreadTest, ClosingAPluggedInBoxMakesNoPlugOut)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    openTz2401(box, OLVA_PRODUCT_TZ2401B, true);
    hid_.hidClose();
    EXPECT_FALSE(hid_.read_thread_active());
    EXPECT_EQ(hid_.plugOuts(), 0);
}

TEST(Tz2501bStatusBits, FilterAndBitOrder)
{
    struct Case {
        Bytes report;
        bool valid;
        std::uint8_t bits;
    };
    const Case cases[] = {
        {{0, 0xA0, 0, 0x30}, true, 3},
        {{0, 0x40, 0, 0x3F}, true, 4},
        {{0, 0x20, 0, 0x31}, true, 1},
        {{0, 0x80, 0, 0x31}, true, 2},
        {{0, 0x1F, 0, 0x31}, true, 0},
        {{1, 0xA0, 0, 0x31}, false, 0},
        {{0, 0xA0, 0, 0x41}, false, 0},
        {{0, 0xA0, 0, 0x21}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.report));
        std::uint8_t bits = 0xEE;
        EXPECT_EQ(tz2501b_status_bits(c.report.data(), bits), c.valid);
        if (c.valid) {
            EXPECT_EQ(bits, c.bits);
        }
    }
}

TEST_F(ReadThreadTest, Tz2501bPollHandsOnTheStatusBits)
{
    SimRegisterBox& box = sim_.plug<SimRegisterBox>();
    box.setStatus(0xA0);
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box), OLVA_PRODUCT_TZ2501B));
    HidDeviceAccess::startReadThread(hid_);
    auto saw = [&](std::uint8_t bits) {
        for (const auto& report : hid_.reports())
            if (report.kind == Kind::kTz2501B && report.bytes == Bytes{bits})
                return true;
        return false;
    };
    EXPECT_TRUE(olva_test::eventually([&] { return saw(3); }));
    box.setStatus(0x40);
    EXPECT_TRUE(olva_test::eventually([&] { return saw(4); }));
}

TEST_F(ReadThreadTest, Tz2501bPollDropsReportsThatAreNotStatus)
{
    SimRegisterBox& box = sim_.plug<SimRegisterBox>();
    box.setStatusReport({1, 0xA0, 0, 0x31});
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box), OLVA_PRODUCT_TZ2501B));
    HidDeviceAccess::startReadThread(hid_);
    EXPECT_TRUE(olva_test::eventually([&] { return sim_.transferCount(box) > 20; }));
    box.setStatusReport({0, 0xA0, 0, 0x51});
    const int seen = sim_.transferCount(box);
    EXPECT_TRUE(olva_test::eventually([&] { return sim_.transferCount(box) > seen + 20; }));
    hid_.hidClose();
    EXPECT_THAT(hid_.reports(), IsEmpty());
    EXPECT_FALSE(hid_.read_thread_active());
}

}  // namespace
