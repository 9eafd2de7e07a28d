// A GSM module that stops answering, as a browser sees it: every command the
// service sends it times out after seven seconds of timer steps, and the run
// of time-outs is reported once as the box's device error, with its balloon
// and in the line's "getinfo" entry. The library's search and timer are
// driven by the test, so that the minutes of time-outs take no time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/eventually.h"
#include "support/whole_service_fixture.h"
#include "usb_hid/report_worker.h"

namespace olva_test {
namespace {

// A command's time-out in 20 ms timer ticks, and the tick that sends the next.
constexpr int kTicksPerTimeout = 7000 / OlvaManager::kTimerPeriodMs + 1;
constexpr int kTimeoutsReported = 26;
// Ticks on either side of the last time-out.
constexpr int kTicksAround = 20;

class DrivenWholeServiceTest : public WholeServiceTest {
protected:
    DrivenWholeServiceTest() { manual_drive_ = true; }

    // Ticks of the library's timer; the box's reports, taken off the bus and
    // handled by its report worker, come before and after each.
    void tick(const SimTz2401Box& box, int count)
    {
        for (int i = 0; i < count; ++i) {
            clock_.advanceMs(OlvaManager::kTimerPeriodMs);
            settle(box);
            g_pOlvaMgr->timer_tick();
            settle(box);
        }
    }
    void settle(const SimTz2401Box& box)
    {
        ASSERT_TRUE(eventually([&] { return sim_.settled(box) && ReportWorker::in_hand() == 0; }));
    }
    static bool received(const SimTz2401Box& box, const std::string& command)
    {
        for (const auto& r : box.gsmReceived())
            if (r.command == command)
                return true;
        return false;
    }
};

TEST_F(DrivenWholeServiceTest, ASilentGsmModuleIsReportedToABrowserAsADeviceError)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& box = plug_tz2701a();
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    EXPECT_EQ(client->read(), kPlugIn);
    // The start-up script runs to its last command, the service centre query.
    for (int i = 0; i < 2000 && !received(box, "AT+CSCA?"); ++i)
        tick(box, 1);
    tick(box, 10);
    ASSERT_TRUE(sees(*client, "{\"event\":\"msg\",\"handle\":257,\"result\":\"8613800100500\"}"));

    box.gsmSetSilent(true);
    const std::size_t before = box.gsmReceived().size();
    for (int i = 0; i < kTimeoutsReported; ++i)
        ASSERT_TRUE(client->send("{\"event\":\"sendcmd\",\"handle\":257,\"cmd\":\"AT+CSQ\"}"));
    // Frames are handled in order: all are queued once "getinfo" is answered.
    ASSERT_TRUE(client->send("{\"event\":\"getinfo\"}"));
    ASSERT_EQ(read_until(*client, "{\"event\":\"getinfo\"").rfind("{\"event\":\"getinfo\"", 0), 0u);

    // Shortly before the last time-out: every command went out, and no
    // report yet.
    tick(box, kTimeoutsReported * kTicksPerTimeout - kTicksAround);
    ASSERT_EQ(box.gsmReceived().size(), before + kTimeoutsReported);
    for (std::size_t i = before; i < box.gsmReceived().size(); ++i)
        EXPECT_EQ(box.gsmReceived()[i].command, "AT+CSQ");
    EXPECT_EQ(tray_.balloons().size(), 1u);
    tick(box, 2 * kTicksAround);
    EXPECT_EQ(client->read(), "{\"event\":\"deviceError\",\"handle\":257}");
    ASSERT_TRUE(tray_.wait_for_balloons(2));
    EXPECT_EQ(tray_.balloons()[1].text, "USB盒子错误，不能收来电号码");
    const std::string info = ask(*client, "{\"event\":\"getinfo\"}");
    EXPECT_NE(info.find("{\"handle\":257,\"deviceError\":1,"), std::string::npos) << info;
}

}  // namespace
}  // namespace olva_test
