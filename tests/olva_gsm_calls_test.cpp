// A Tz2701A's GSM calls and extension phone with its module simulated
// behind the bridge: the extension's ring stopped only when it rings, a
// caller's number of any length played to the extension, the module's
// tones for DTMF and for a caller's number, the buzzer, and the line's own
// GSM operations and extension ring.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "olva_device/olva_device.h"
#include "sim/sim_tz2401.h"
#include "support/gsm_box_fixture.h"
#include "support/olva_device_access.h"

namespace olva_gsm_calls_test {
namespace {

using namespace olva_test::gsm_box;
using olva_sim::SimGsmModule;
using olva_sim::SimTz2401Box;
using olva_test::OlvaDeviceAccess;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kSlicRingStop = 0x18;

class GsmCallsTest : public GsmBoxTest {
protected:
    void SetUp() override
    {
        open(plug(SimTz2401Box::tz2701a2g()));
        finishStartup();
    }
    void act(const std::function<void(SimGsmModule&)>& what) { sim_box_->gsmAct(what); }
    int ringStops() const
    {
        const auto device = sim_box_->deviceCommands();
        return static_cast<int>(std::count_if(device.begin(), device.end(), [](const auto& c) {
            return c.first == kSlicRingStop;
        }));
    }
    bool moduleGot(const std::string& command) const
    {
        const auto sent = commands();
        return std::find(sent.begin(), sent.end(), command) != sent.end();
    }
    // The box's 100 ms line step, for ms.
    void lineSteps(int ms)
    {
        for (int t = 0; t < ms; t += 100) {
            clock_.advanceMs(100);
            box_.handle_timer(100);
        }
    }
};

// A call that ends while the extension does not ring sends it no stop;
// one that ends while it rings stops it once.
TEST_F(GsmCallsTest, TheExtensionIsToldToStopRingingOnlyWhenItRings)
{
    ASSERT_EQ(box_.olva_makecall(1, "10086"), 0);
    tick(5);
    ASSERT_TRUE(moduleGot("ATD10086;"));
    act([](SimGsmModule& m) { m.farEndBusy(); });
    tick(10);
    ASSERT_THAT(box_.events(OLVA_EVENT_DEVICE_BUSY_TONE), Not(::testing::IsEmpty()));
    ASSERT_EQ(box_.olva_soft_hook_on(1), 0);
    tick(10);
    EXPECT_EQ(ringStops(), 0);

    act([](SimGsmModule& m) { m.incomingCall("13800138000"); });
    tick(5);
    ASSERT_TRUE(box_.line(1).slic_ringing());
    ASSERT_TRUE(sim_box_->extensionRinging());
    testing::internal::CaptureStdout();
    act([](SimGsmModule& m) { m.farEndHangsUp(); });
    tick(20);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_THAT(box_.events(OLVA_EVENT_RING_CANCEL), Not(::testing::IsEmpty()));
    EXPECT_EQ(ringStops(), 1);
    EXPECT_FALSE(sim_box_->extensionRinging());
    EXPECT_FALSE(box_.line(1).slic_ringing());
    EXPECT_THAT(printed, HasSubstr(" ring cancel(called hangup)"));
}

// The caller's number is played to the ringing extension 0.4 s into the
// bell's first pause, whatever its length: the GPIO that routes the line's
// playback to the extension is set for it.
TEST_F(GsmCallsTest, AOneDigitCallerIsPlayedToTheExtension)
{
    const std::vector<std::uint8_t> route_to_extension = {3, 0x9A, 19, 1, 0, 0, 0, 0};
    act([](SimGsmModule& m) { m.incomingCall("5"); });
    tick(5);
    ASSERT_THAT(box_.events(OLVA_EVENT_CALLER_ID), Contains(GsmEvent{OLVA_EVENT_CALLER_ID, 0, 0, "5"}));
    ASSERT_TRUE(box_.line(1).slic_ringing());
    lineSteps(1300);
    tick(3);
    EXPECT_THAT(sim_.reports(*sim_box_), Not(Contains(route_to_extension)));
    lineSteps(200);
    tick(3);
    EXPECT_THAT(sim_.reports(*sim_box_), Contains(route_to_extension));
}

TEST_F(GsmCallsTest, TheModulePlaysDtmfKeysAndRefusesOtherText)
{
    EXPECT_EQ(box_.Tz2701_send_dtmf("123*#A"), 1);
    tick(5);
    EXPECT_EQ(commands().back(), "AT+QWDTMF=7,0,\"G,30,20,123*#A,80,80\"");
    for (const char* bad : {"", "12\"3", "1;2", "1\r", "12E"})
        EXPECT_EQ(box_.Tz2701_send_dtmf(bad), 0) << bad;
    EXPECT_EQ(box_.Tz2701_send_dtmf(nullptr), 0);
    EXPECT_EQ(box_.queued_commands(), 0u);
}

// The line's operation: the GSM to extension path on, the module's tone
// player reset, then the caller's digits as its tones.
TEST_F(GsmCallsTest, TheCallersNumberGoesToTheExtensionAsTheModulesTones)
{
    const std::size_t paths_before = sim_box_->deviceCommands().size();
    char quoted[] = "\"10086\"";
    OlvaDeviceAccess::line(box_, 1).Tz2701_send_cid_to_slic(quoted);
    tick(10);
    const auto sent = commands();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], "AT+QTONEP=0");
    EXPECT_EQ(sent.back(), "AT+QLDTMF=1,\"1,0,0,8,6\"");
    const auto device = sim_box_->deviceCommands();
    using Commands = std::vector<std::pair<int, int>>;
    const Commands since(device.begin() + static_cast<long>(paths_before), device.end());
    EXPECT_THAT(since, Contains(std::pair<int, int>{0x20, 1}));

    // A number without a leading digit gives the module nothing.
    EXPECT_EQ(box_.Tz2701_send_cid_to_slic("+8613800138000"), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.Tz2701_send_cid_to_slic(nullptr), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.queued_commands(), 0u);
}

// The line's extension ring: the box's ring on or off, then the GSM to
// extension path off, so a ringing extension hears no call; the answer is
// the second command's.
TEST_F(GsmCallsTest, TheExtensionsRingIsSwitchedWithTheCallPathToItOff)
{
    using Commands = std::vector<std::pair<int, int>>;
    struct Case {
        int on;
        Commands sent;
        bool ringing;
    };
    const Case cases[] = {
        {1, {{0x17, 0}, {0x20, 0}}, true},
        {0, {{0x18, 0}, {0x20, 0}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.on);
        const std::size_t before = sim_box_->deviceCommands().size();
        EXPECT_EQ(OlvaDeviceAccess::line(box_, 1).control_slic_ring(c.on), 1);
        tick(5);
        const auto device = sim_box_->deviceCommands();
        EXPECT_EQ(Commands(device.begin() + static_cast<long>(before), device.end()), c.sent);
        EXPECT_EQ(sim_box_->extensionRinging(), c.ringing);
    }
}

TEST_F(GsmCallsTest, TheLinesDialGoesThroughTheModule)
{
    char number[] = "10086";
    OlvaDeviceAccess::line(box_, 1).Tz2701_makecall(number);
    EXPECT_TRUE(box_.gsm_state().dialling);
    tick(5);
    EXPECT_EQ(commands().back(), "ATD10086;");

    // A line whose box is not set yet does nothing.
    OlvaDevice::CBoxLineDevice loose;
    loose.Tz2701_makecall(number);
    loose.Tz2701_send_cid_to_slic(number);
    tick(5);
    const auto sent = commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "ATD10086;"), 1);
}

TEST_F(GsmCallsTest, TheBuzzerGoesAsOneRawReportOfAnOpenBoxOnly)
{
    EXPECT_EQ(box_.Tz2701_control_buzzer(1, 2, 3, 4, 5, 6), 1);
    tick(2);
    const std::vector<std::uint8_t> buzzer = {3, 0xF3, 1, 2, 3, 4, 5, 6};
    const auto reports = sim_.reports(*sim_box_);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), buzzer), 1);

    box_.olva_close(0);
    EXPECT_EQ(box_.Tz2701_control_buzzer(1, 2, 3, 4, 5, 6), 0);
    EXPECT_EQ(box_.queued_commands(), 0u);
}

}  // namespace
}  // namespace olva_gsm_calls_test
