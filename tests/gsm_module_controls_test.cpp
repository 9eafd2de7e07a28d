// The Tz2701A's module controls that act beside the AT dialogue: the fast
// SIM switch, which takes the module off the network for four seconds, the
// work modes that decide whether the earphone joins a call by itself, and
// the talk links and record sources set through the bridge.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gsm/device_commands.h"
#include "olva_device/olva_device.h"
#include "sim/sim_tz2401.h"
#include "support/gsm_box_fixture.h"

namespace {

using namespace olva_test::gsm_box;
using olva_sim::SimGsmModule;
using olva_sim::SimTz2401Box;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class GsmControlsTest : public GsmBoxTest {
protected:
    // Ticks until the pump has nothing queued and no reply to wait for.
    void drain()
    {
        for (int i = 0; i < 1000 && !idle(); ++i)
            tick();
        ASSERT_TRUE(idle());
    }
    // The module's commands after the first `from` it had taken.
    std::vector<std::string> commandsSince(std::size_t from) const
    {
        const std::vector<std::string> all = commands();
        return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
    }
    // A box with an EC200 module, started.
    SimTz2401Box& openEc200()
    {
        SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a4g("EC200SCNABR03A04M16"));
        open(sim_box);
        finishStartup();
        return sim_box;
    }
    // The bridge's device commands of one code, as their arguments.
    std::vector<int> deviceArguments(int code) const
    {
        std::vector<int> arguments;
        for (const auto& [c, argument] : sim_box_->deviceCommands())
            if (c == code)
                arguments.push_back(argument);
        return arguments;
    }
};

// The SIM select and "AT+CFUN=0" are queued, the caller waits 4 s, then
// "AT+CFUN=1" follows; the switch runs until the module's phonebook is
// ready again.
TEST_F(GsmControlsTest, AFastSimSwitchTakesTheModuleOffForFourSeconds)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    ASSERT_EQ(sim_box.simSlot(), 0);
    const std::size_t before = commands().size();
    // What the queue holds at each pause of this thread.
    std::vector<std::pair<int, std::size_t>> pauses;
    sleeper_.watchPauses([&](int ms) { pauses.emplace_back(ms, box_.queued_commands()); });
    EXPECT_EQ(box_.olva_fast_select_simcard(1, 1), OLVA_OK);
    sleeper_.watchPauses(nullptr);
    // The select and the first CFUN wait in the queue during the pause.
    EXPECT_THAT(pauses, ElementsAre(std::pair<int, std::size_t>{4000, 2}));
    EXPECT_EQ(box_.queued_commands(), 3u);
    EXPECT_EQ(box_.active_sim(), 1);
    EXPECT_TRUE(box_.gsm_state().sim_switching);
    EXPECT_EQ(box_.gsm_state().reg_state, -1);
    drain();
    EXPECT_EQ(sim_box.simSlot(), 1);
    const std::vector<std::string> sent = commandsSince(before);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0], "AT+CFUN=0");
    EXPECT_EQ(sent[1], "AT+CFUN=1");
    // Back to the first SIM the same way.
    EXPECT_EQ(box_.olva_fast_select_simcard(1, 0), OLVA_OK);
    drain();
    EXPECT_EQ(sim_box.simSlot(), 0);
    EXPECT_EQ(box_.active_sim(), 0);
}

// Work mode 0 is the earphone's auto link: on, a call answered on an EC200
// module opens the GSM-to-earphone path (0x23) first; off, it does not.
// Mode 1 (the extension's auto link) leaves the earphone alone, and any
// other index changes nothing; every call answers 0.
TEST_F(GsmControlsTest, TheEarphoneWorkModeDecidesWhetherAnAnswerOpensItsPath)
{
    SimTz2401Box& sim_box = openEc200();
    ASSERT_TRUE(box_.gsm_state().ec200);
    struct Case {
        const char* name;
        int index;
        int value;
        bool earphone_path;
    };
    const Case cases[] = {
        {"earphone link off", 0, 0, false},
        {"extension link on", 1, 1, false},
        {"unknown index", 7, 1, false},
        {"earphone link on", 0, 1, true},
        {"extension link off", 1, 0, true},
        {"unknown index, value 0", -1, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(box_.olva_set_gsm_work_mode(0, c.index, c.value), OLVA_OK);
        EXPECT_EQ(box_.line(1).auto_line_earphone(), c.earphone_path ? 1 : 0);
        sim_box.gsmAct([](SimGsmModule& m) { m.incomingCall("13800138000"); });
        drain();
        const std::size_t paths = deviceArguments(gsm::kCodeGsmToEarphone).size();
        const std::size_t before = commands().size();
        ASSERT_EQ(box_.olva_soft_hook_off(1), OLVA_OK);
        drain();
        EXPECT_THAT(commandsSince(before), Contains("ATA"));
        const std::vector<int> opened = deviceArguments(gsm::kCodeGsmToEarphone);
        EXPECT_EQ(std::vector<int>(opened.begin() + static_cast<long>(paths), opened.end()),
                  c.earphone_path ? std::vector<int>{1} : std::vector<int>{});
        sim_box.gsmAct([](SimGsmModule& m) { m.farEndHangsUp(); });
        drain();
    }
}

// Each talk link and record source of the Tz2701A reaches the box as its
// bridge path (argument 1 on, 0 off) or as its GPIO; other types answer -1
// and queue nothing.
TEST_F(GsmControlsTest, EachTalkLinkAndRecordSourceReachesItsPathOrGpio)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    struct Case {
        const char* name;
        bool record;  // a recording source, else a talk link
        int type;
        int path;  // the bridge path's code, 0 for a GPIO
        int gpio;  // the pin, 0 for a path; both 0: no such type
    };
    const Case cases[] = {
        {"talk slic to gsm", false, 0, 0x26, 0},
        {"talk gsm to slic", false, 1, 0x20, 0},
        {"talk earphone to gsm", false, 2, 0x28, 0},
        {"talk gsm to earphone", false, 3, 0x23, 0},
        {"talk slic to earphone", false, 4, 0x24, 0},
        {"talk earphone to slic", false, 5, 0x21, 0},
        {"talk gpio 20", false, 6, 0, 20},
        {"talk gpio 21", false, 7, 0, 21},
        {"talk gpio 19", false, 8, 0, 19},
        {"talk type 9", false, 9, 0, 0},
        {"talk type -1", false, -1, 0, 0},
        {"record slic", true, 0, 0, 16},
        {"record gsm", true, 1, 0, 18},
        {"record earphone", true, 2, 0, 17},
        {"record usb", true, 3, 0x24, 0},
        {"record type 4", true, 4, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const int on : {1, 0}) {
            const std::size_t commands = sim_box.deviceCommands().size();
            const int result = c.record ? box_.olva_set_record_switch(1, c.type, on)
                                        : box_.olva_set_talk_link(1, c.type, on);
            if (c.path == 0 && c.gpio == 0) {
                EXPECT_EQ(result, OLVA_ERR_FAILED);
                EXPECT_EQ(box_.queued_commands(), 0u);
                continue;
            }
            EXPECT_EQ(result, OLVA_OK);
            drain();
            if (c.path != 0) {
                const auto sent = sim_box.deviceCommands();
                ASSERT_EQ(sent.size(), commands + 1);
                EXPECT_EQ(sent.back(), std::make_pair(c.path, on));
            } else {
                EXPECT_EQ(sim_box.gpio(static_cast<std::uint8_t>(c.gpio)), on);
            }
        }
    }
}

// A dial that the far end ends ("NO CARRIER") and one that runs out its
// 140 s are hung up through the soft hook-on: the module gets "ATH", the
// call's end is reported once, and an EC200 module's GSM-to-earphone path
// is closed with it.
TEST_F(GsmControlsTest, ADialThatEndsOrTimesOutClosesAnEc200sEarphonePath)
{
    SimTz2401Box& sim_box = openEc200();
    ASSERT_TRUE(box_.gsm_state().ec200);
    struct Case {
        const char* name;
        int ticks;  // from the dial to its end
        std::function<void()> end;
    };
    const Case cases[] = {
        {"the far end hangs up", 10,
         [&] { sim_box.gsmAct([](SimGsmModule& m) { m.farEndHangsUp(); }); }},
        {"the dial times out", gsm::kDialReplyLimitMs / 20 + 5, [] {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t paths = deviceArguments(gsm::kCodeGsmToEarphone).size();
        const std::size_t before = commands().size();
        const std::size_t hook_ons = box_.events(OLVA_EVENT_LINE_HOOK_ON).size();
        ASSERT_EQ(box_.olva_makecall(1, "10086"), OLVA_OK);
        tick(5);
        c.end();
        tick(c.ticks);
        drain();
        EXPECT_THAT(commandsSince(before), ElementsAre("ATD10086;", "ATH"));
        const std::vector<int> closed = deviceArguments(gsm::kCodeGsmToEarphone);
        EXPECT_EQ(std::vector<int>(closed.begin() + static_cast<long>(paths), closed.end()),
                  std::vector<int>{0});
        EXPECT_EQ(box_.events(OLVA_EVENT_LINE_HOOK_ON).size(), hook_ons + 1);
        EXPECT_FALSE(box_.gsm_state().dialling);
        EXPECT_EQ(box_.line(1).gsm_state(), OLVA_STATE_HANG_UP);
    }
}

// Power off is said on standard output, power on in the log (which the
// tests also see on standard output).
TEST_F(GsmControlsTest, PowerOffIsSaidOnStandardOutput)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    const auto lines = [](const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(box_.olva_gsm_power(1, 0), OLVA_OK);
    const std::string off = testing::internal::GetCapturedStdout();
    EXPECT_THAT(lines(off), Contains(" GSM power off"));
    EXPECT_THAT(off, Not(HasSubstr("Tz2701_set_GsmPower")));
    testing::internal::CaptureStdout();
    EXPECT_EQ(box_.olva_gsm_power(1, 1), OLVA_OK);
    const std::string on = testing::internal::GetCapturedStdout();
    EXPECT_THAT(on, HasSubstr("Tz2701_set_GsmPower GSM power on\n"));
    EXPECT_THAT(on, Not(HasSubstr("power off")));
}

}  // namespace
