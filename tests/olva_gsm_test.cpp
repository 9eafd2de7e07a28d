// A Tz2701A box with its GSM module, simulated behind the bridge: the
// opening, the module's start-up script on the virtual clock, the command
// pump with its time-outs, the library's AT command and the routing of the
// box's reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gsm/startup_script.h"
#include "olva_device/olva_device.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/gsm_box_fixture.h"
#include "support/user_number.h"
#include "usb_hid/report_worker.h"

namespace {

using namespace olva_test::gsm_box;
using olva_sim::SimGsmModule;
using olva_sim::SimTz2401Box;
using platform::PcmStream;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(GsmBoxTest, A2gModuleTakesItsScriptInOrderAndReportsSimAndRegistration)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    EXPECT_EQ(box_.version2(), 0x09);
    EXPECT_EQ(box_.active_sim(), 0);
    finishStartup();

    EXPECT_THAT(commands(), ElementsAreArray(script(false)));
    const auto received = sim_box.gsmReceived();
    // The boot wait of a second comes first, then one command per reply.
    EXPECT_GE(received.front().time_ms - opened_ms_, gsm::kBootWait2GMs);
    for (std::size_t i = 1; i < received.size(); ++i)
        EXPECT_GE(received[i].time_ms, received[i - 1].time_ms + 20) << received[i].command;
    EXPECT_FALSE(sim_box.gsmEcho());
    EXPECT_EQ(sim_box.bootPulses(), 0);
    EXPECT_FALSE(box_.gsm_state().ec200);
    EXPECT_THAT(box_.events(OLVA_EVENT_SIM_STATE), ElementsAre(GsmEvent{OLVA_EVENT_SIM_STATE, 1, 3, ""}));
    EXPECT_THAT(box_.events(OLVA_EVENT_GSM_MSG), Contains(GsmEvent{OLVA_EVENT_GSM_MSG, 0, 20, "8613800100500"}));

    // The module registers: the signal is asked for and reported.
    sim_box.gsmSay("+CREG: 0,1");
    tick(20);
    EXPECT_THAT(box_.events(OLVA_EVENT_SIM_REG), ElementsAre(GsmEvent{OLVA_EVENT_SIM_REG, 0, 1, ""}));
    EXPECT_THAT(box_.events(OLVA_EVENT_SIGNAL_SIZE),
                ElementsAre(GsmEvent{OLVA_EVENT_SIGNAL_SIZE, 74, 0, ""}));  // rssi 23
    EXPECT_THAT(sim_box.deviceCommands(), Contains(std::pair<int, int>{0x16, 23}));
}

TEST_F(GsmBoxTest, TheOpeningSetsUpTheBridgeAndQueuesTheTalkPathsAndGpios)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    tick(30);
    const auto device = sim_box.deviceCommands();
    ASSERT_GE(device.size(), 11u);
    const std::vector<std::pair<int, int>> expected = {
        {0x10, 1}, {0x10, 1}, {0x10, 1}, {0x10, 1}, {0x10, 1}, {0x26, 0},
        {0x20, 0}, {0x24, 0}, {0x21, 0}, {0x28, 0}, {0x23, 1}};
    const std::vector<std::pair<int, int>> first(device.begin(), device.begin() + 11);
    EXPECT_EQ(first, expected);
    const std::pair<int, int> gpios[] = {{0x12, 1}, {0x10, 0}, {0x11, 1}, {0x14, 0}, {0x15, 0}, {0x13, 0}};
    for (const auto& [pin, value] : gpios)
        EXPECT_EQ(sim_box.gpio(static_cast<std::uint8_t>(pin)), value) << pin;
    // The type query is the eight bytes of the bridge's write-read request.
    const std::vector<std::uint8_t> type_query = {3, 0xA0, 0xA1, 0x07, 0, 0, 0, 0};
    EXPECT_THAT(sim_.reports(sim_box), Contains(type_query));
}

TEST_F(GsmBoxTest, A4gModuleIsPulsedAwakeAndTakesTheLevelsOfItsRevision)
{
    struct Case {
        const char* revision;
        std::string speaker;
        std::string mic;
        std::pair<int, int> earphone_path;
    };
    const Case cases[] = {
        {"EC20CEFAGR06A09M4G", "AT+CLVL=3", "AT+QMIC=8000,8000", {0x23, 1}},
        {"EC200UCNAAR01A05M08", "AT+CLVL=4", "AT+QMIC=35000,35000", {0x23, 0}},
        {"EC200SCNABR03A04M16", "AT+CLVL=4", "AT+QMIC=35000,35000", {0x23, 0}},
    };
    int card = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.revision);
        GsmBox box;
        SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a4g(c.revision), card++);
        // The test's own box: the fixture's stays closed.
        ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
        std::vector<std::string> expected = script(true);
        expected.push_back(c.speaker);
        expected.push_back(c.mic);
        std::vector<std::int64_t> pulses;
        for (int i = 0; i < 3000; ++i) {
            clock_.advanceMs(20);
            sim_box.gsmFlush();
            const auto settled = [&] {
                return sim_.settled(sim_box) && ReportWorker::in_hand() == 0;
            };
            ASSERT_TRUE(olva_test::eventually(settled));
            const int before = sim_box.bootPulses();
            box.Tz2701_write_hid_cmd_timer(20);
            ASSERT_TRUE(olva_test::eventually(settled));
            if (sim_box.bootPulses() > before)
                pulses.push_back(clock_.steadyMs());
            if (sim_box.gsmReceived().size() >= expected.size() && box.gsm_state().ready != 0 &&
                box.queued_commands() == 0)
                break;
        }
        ASSERT_EQ(pulses.size(), 15u);
        for (std::size_t i = 1; i < pulses.size(); ++i)
            EXPECT_EQ(pulses[i] - pulses[i - 1], 1000);
        std::vector<std::string> got;
        for (const auto& r : sim_box.gsmReceived())
            got.push_back(r.command);
        EXPECT_THAT(got, ElementsAreArray(expected));
        // Nothing reached the module before the second after the last pulse.
        EXPECT_GE(sim_box.gsmReceived().front().time_ms, pulses.back() + 1000);
        EXPECT_THAT(sim_box.deviceCommands(), Contains(c.earphone_path));
        box.olva_close(0);
    }
}

TEST_F(GsmBoxTest, AnAtCommandQueuedWhileTheModuleBootsNeverReachesIt)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a4g());
    open(sim_box);
    tick(10);
    EXPECT_EQ(box_.olva_send_gsm_cmd(1, "AT+CSQ", 6), 0);
    finishStartup();
    EXPECT_THAT(commands(), Not(Contains("AT+CSQ")));
}

TEST_F(GsmBoxTest, ASilentModuleTimesOutEachCommandAfterSevenSecondsAndIsReportedOnce)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    sim_box.gsmSetSilent(true);
    for (int i = 0; i < 26; ++i)
        ASSERT_EQ(box_.olva_send_gsm_cmd(1, "AT+CSQ", 6), 0);
    // Each command goes in the step after its predecessor's time-out.
    tick(26 * 351 + 5);
    std::vector<std::int64_t> sent;
    for (const auto& r : sim_box.gsmReceived())
        if (r.command == "AT+CSQ")
            sent.push_back(r.time_ms);
    ASSERT_EQ(sent.size(), 26u);
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_EQ(sent[i] - sent[i - 1], 7000 + 20);
    EXPECT_THAT(box_.events(OLVA_EVENT_DEVICE_ERROR),
                ElementsAre(GsmEvent{OLVA_EVENT_DEVICE_ERROR, 1, 0, ""}));
}

TEST_F(GsmBoxTest, ALateAnswerWithinSevenSecondsIsTaken)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    sim_box.gsmDelay("AT+CSQ", 6000);
    ASSERT_EQ(box_.olva_send_gsm_cmd(1, "AT+CSQ", 6), 0);
    tick(400);
    EXPECT_THAT(box_.events(OLVA_EVENT_SIGNAL_SIZE), ElementsAre(GsmEvent{OLVA_EVENT_SIGNAL_SIZE, 74, 0, ""}));
    EXPECT_EQ(box_.gsm_state().timeouts, 0);
}

// The library's command door: any one command line goes to the module as
// it is, with its CR; a second line, or a text that with its CR would pass
// 1023 characters, is refused.
TEST_F(GsmBoxTest, TheLibrarysCommandReachesTheModuleWithItsLineEndAndBadTextIsRefused)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    struct Text {
        const char* text;
        int len;
    };
    for (const Text& bad : {Text{nullptr, 3}, Text{"AT", 0}, Text{"AT\rATD112;", 10},
                            Text{"AT\nX", 4}, Text{"AT+CSQ\r", 7}})
        EXPECT_EQ(box_.olva_send_gsm_cmd(1, bad.text, bad.len), OLVA_ERR_INVALID_PARAM)
            << (bad.text ? bad.text : "(null)");
    const std::string too_long(1023, 'A');
    EXPECT_EQ(box_.olva_send_gsm_cmd(1, too_long.c_str(), static_cast<int>(too_long.size())),
              OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.queued_commands(), 0u);

    const std::string longest = "AT+QTTS=2,\"" + std::string(1022 - 12, 'a') + "\"";
    ASSERT_EQ(longest.size(), 1022u);
    for (const Text& good : {Text{"AT+CLVL?", 8}, Text{"AT+CSQ;+CREG?", 13},
                             Text{"ATI\x1A", 4}, Text{longest.c_str(), 1022}}) {
        EXPECT_EQ(box_.olva_send_gsm_cmd(1, good.text, good.len), 0) << good.text;
        tick(5);
        EXPECT_EQ(commands().back(), good.text);
    }
    // A dial through the door is the module's dial: it waits as long as one.
    ASSERT_EQ(box_.olva_send_gsm_cmd(1, "ATD10086;", 9), 0);
    tick(2);
    EXPECT_EQ(commands().back(), "ATD10086;");
    EXPECT_EQ(box_.gsm_state().reply_limit_ms, gsm::kDialReplyLimitMs);
}

TEST_F(GsmBoxTest, ADialHoldsOnlyADialsCharactersAndEndsWithItsNoCarrier)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    for (const char* bad : {"10086;ATH", "10086\r", "", "1 2", "12a"})
        EXPECT_EQ(box_.Tz2701_make_call(bad), OLVA_ERR_INVALID_PARAM) << bad;
    EXPECT_EQ(box_.Tz2701_make_call(nullptr), OLVA_ERR_INVALID_PARAM);
    EXPECT_FALSE(box_.gsm_state().dialling);

    EXPECT_EQ(box_.Tz2701_make_call("+8610086*1#"), 1);
    EXPECT_TRUE(box_.gsm_state().dialling);
    tick(5);
    EXPECT_EQ(commands().back(), "ATD+8610086*1#;");
    EXPECT_EQ(box_.gsm_state().reply_limit_ms, gsm::kDialReplyLimitMs);
    // The far end hangs up: the dial is hung up at once, through the queue.
    testing::internal::CaptureStdout();
    sim_box.gsmSay("NO CARRIER");
    tick(5);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr(" need dll auto hangup\n"));
    EXPECT_FALSE(box_.gsm_state().dialling);
    EXPECT_EQ(commands().back(), "ATH");
    // Once, beside the line's own hook-on of the opening.
    const auto hook_ons = box_.events(OLVA_EVENT_LINE_HOOK_ON);
    EXPECT_EQ(std::count(hook_ons.begin(), hook_ons.end(), GsmEvent{OLVA_EVENT_LINE_HOOK_ON, 1, 0, ""}), 1);
}

// Each start-up of the module ends with the box's stored user number read
// again, so that a number changed behind the box since its opening is the
// one the library gives. The read waits for the box's answers on the
// box's report worker, never on the thread that steps the pump.
TEST_F(GsmBoxTest, EachStartUpReadsTheStoredUserNumberAgainOffThePumpsThread)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    // Erased memory: three copies tried, five pieces each, none valid.
    EXPECT_EQ(memoryReads(), 15);
    std::uint8_t number[16] = {};
    EXPECT_EQ(box_.olva_get_usernum(number, 16), -1);

    const std::vector<std::uint8_t> first = olva_test::user_number(0x21);
    sim_box.setControllerMemory(0, 0x80, olva_test::checked_copy(first));
    finishStartup();
    EXPECT_EQ(memoryReads(), 15 + 5);
    ASSERT_EQ(box_.olva_get_usernum(number, 16), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(number, number + 16), first);

    // "+CFUN:" starts the module again, and with it another read.
    const std::vector<std::uint8_t> second = olva_test::user_number(0x42);
    sim_box.setControllerMemory(0, 0x80, olva_test::checked_copy(second));
    moduleSays("\r\n+CFUN: 1\r\n");
    for (int i = 0; i < 200 && memoryReads() < 25; ++i)
        tick();
    EXPECT_EQ(memoryReads(), 25);
    ASSERT_EQ(box_.olva_get_usernum(number, 16), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(number, number + 16), second);

    // The opening's reads are the opener's; those of the start-ups are not
    // the pump's.
    int seen = 0;
    for (const olva_sim::TraceEntry& entry : sim_.trace(sim_box)) {
        if (entry.report.size() < 3 || entry.report[1] != 0xA0 || entry.report[2] != 0xA3)
            continue;
        if (++seen > 15) {
            EXPECT_NE(entry.thread, std::this_thread::get_id()) << "read " << seen;
        }
    }
}

// A 4G module says "+CFUN:" while it boots: the start-up under way keeps
// its time, and the one asked for sends the whole script again afterwards.
TEST_F(GsmBoxTest, AStartUpAskedForWhileTheModuleBootsHoldsTheFirstScriptBackInNothing)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a4g());
    open(sim_box);
    tick(250);  // 5 s into the boot wait
    moduleSays("\r\n+CFUN: 1\r\n");
    finishStartup();
    // Fifteen pulses a second apart, the script a second after the last.
    EXPECT_LE(sim_box.gsmReceived().front().time_ms - opened_ms_, 15000 + 100);
    const auto scripts = [&] {
        const std::vector<std::string> sent = commands();
        return std::count(sent.begin(), sent.end(), "AT+CSCA?");
    };
    EXPECT_EQ(scripts(), 1);
    for (int i = 0; i < 2000 && scripts() < 2; ++i)
        tick();
    EXPECT_EQ(scripts(), 2);
    EXPECT_EQ(sim_box.bootPulses(), 2 * gsm::kBootPulses);
}

TEST_F(GsmBoxTest, AStartUpAskedForByAModuleLineNeitherSleepsNorWrites)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a4g());
    open(sim_box);
    finishStartup();
    sleeper_.clear();
    const int before = sim_.transferCount(sim_box);
    // "+CFUN: 1" starts the script again, from the router.
    const std::string wire = "\r\n+CFUN: 1\r\n";
    moduleSays(wire);
    EXPECT_TRUE(box_.gsm_state().boot);
    EXPECT_TRUE(sleeper_.pauses().empty());
    EXPECT_EQ(sim_.transferCount(sim_box), before);
    // The pump pulses the module awake again.
    const int pulses = sim_box.bootPulses();
    tick(2);
    EXPECT_EQ(sim_box.bootPulses(), pulses + 1);
}

TEST_F(GsmBoxTest, AFullCommandQueueRefusesTheNextCommand)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    finishStartup();
    sim_box.gsmSetSilent(true);
    for (std::size_t i = 0; i < HidDevice::kMaxQueuedCommands; ++i)
        ASSERT_EQ(box_.olva_send_gsm_cmd(1, "AT", 2), 0) << i;
    EXPECT_EQ(box_.olva_send_gsm_cmd(1, "AT", 2), OLVA_ERR_FAILED);
}

TEST_F(GsmBoxTest, OtherReportsInEventModeReachTheWaitingReader)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    std::vector<std::uint8_t> got(8, 0);
    std::atomic<long> result{-5};
    std::thread reader([&] { result = box_.Tz2401_sync_read(got.data(), got.size()); });
    // Sent until the reader has it: it takes only a report after its arming.
    // The completion hands it over, so that a reader on the report worker
    // itself gets its answer too.
    const std::vector<std::uint8_t> eeprom = {3, 0xB1, 0x12, 0x34, 0x56, 0x78, 0, 0};
    EXPECT_TRUE(olva_test::eventually([&] {
        sim_.pushInput(sim_box, eeprom);
        return result.load() != -5;
    }));
    reader.join();
    EXPECT_EQ(result.load(), 8);
    EXPECT_EQ(got, eeprom);
}

TEST_F(GsmBoxTest, ModuleBytesSplitOverReportsMakeOneLine)
{
    SimTz2401Box& sim_box = plug(SimTz2401Box::tz2701a2g());
    open(sim_box);
    const std::string wire = "\r\n+CSQ: 31,0\r\n";
    moduleSays(wire, 4);
    EXPECT_THAT(box_.events(OLVA_EVENT_SIGNAL_SIZE),
                ElementsAre(GsmEvent{OLVA_EVENT_SIGNAL_SIZE, 100, 0, ""}));
    // Reports of another id or size are not the box's.
    const std::vector<std::uint8_t> other = {2, 0x84, 'R', 'I', 'N', 'G', 0, 0};
    box_.route_tz2701_report(other.data(), other.size());
    box_.route_tz2701_report(other.data(), 4);
    EXPECT_TRUE(box_.events(OLVA_EVENT_LINE_RING).empty());
}

// The Tz2701A's status reports, sent by the test alone.
class Tz2701StatusTest : public GsmBoxTest {
protected:
    void SetUp() override
    {
        open(plug(SimTz2401Box::tz2701a2g()));
        finishStartup();
        sim_box_->setStatusAnswers(false);
        settle();
    }
    void report(std::vector<std::uint8_t> bytes)
    {
        bytes.resize(8, 0);
        box_.route_tz2701_report(bytes.data(), bytes.size());
    }
    void status(std::uint8_t standalone = 1, std::uint8_t slot1 = 0, std::uint8_t slot2 = 0)
    {
        report({3, 0x91, 0x09, standalone, slot1, slot2, 0, 0});
    }
    void line(const std::string& text)
    {
        const std::string wire = "\r\n" + text + "\r\n";
        for (std::size_t at = 0; at < wire.size(); at += 6) {
            const std::size_t n = std::min<std::size_t>(6, wire.size() - at);
            std::vector<std::uint8_t> bytes = {3, static_cast<std::uint8_t>(0x80 + n)};
            bytes.insert(bytes.end(), wire.begin() + static_cast<long>(at),
                         wire.begin() + static_cast<long>(at + n));
            report(bytes);
        }
    }
    int usb_mode_commands() const
    {
        const auto device = sim_box_->deviceCommands();
        return static_cast<int>(std::count(device.begin(), device.end(), std::pair<int, int>{0x10, 1}));
    }
};

TEST_F(Tz2701StatusTest, AStandaloneBoxIsSetBackToUsbModeAtEveryReport)
{
    const int before = usb_mode_commands();
    for (int i = 0; i < 3; ++i)
        status(0);
    status(1);
    tick(10);
    EXPECT_EQ(usb_mode_commands(), before + 3);
}

TEST_F(Tz2701StatusTest, ARegisteredModuleIsAskedForItsSignalEvery501Reports)
{
    line("+CREG: 0,1");
    tick(20);
    ASSERT_TRUE(idle());
    for (int i = 0; i < 500; ++i)
        status();
    EXPECT_EQ(box_.queued_commands(), 0u);
    status();
    EXPECT_EQ(box_.queued_commands(), 1u);
    tick(10);
    // Module bytes start the count again.
    for (int i = 0; i < 300; ++i)
        status();
    report({3, 0x84, '\r', '\n', 'O', 'K', 0, 0});
    for (int i = 0; i < 500; ++i)
        status();
    EXPECT_EQ(box_.queued_commands(), 0u);
    status();
    EXPECT_EQ(box_.queued_commands(), 1u);
    tick(10);
    // None while a dial is under way.
    ASSERT_EQ(box_.olva_makecall(0, "10086"), 0);
    tick(5);
    for (int i = 0; i < 600; ++i)
        status();
    EXPECT_EQ(box_.queued_commands(), 0u);
    const auto sent = commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "AT+CSQ"), 3);  // one from +CREG
}

// A report of another kind is no status report: it is logged, and the
// count towards the next signal query starts again.
TEST_F(Tz2701StatusTest, AReportOfAnotherHeadIsLoggedAndStartsTheStatusCountAgain)
{
    line("+CREG: 0,1");
    tick(20);
    ASSERT_TRUE(idle());
    for (int i = 0; i < 400; ++i)
        status();
    testing::internal::CaptureStdout();
    report({3, 0x55, 'R', 'I', 'N', 'G', 0, 0});
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr(" error head:0x55"));
    EXPECT_TRUE(box_.events(OLVA_EVENT_LINE_RING).empty());
    for (int i = 0; i < 500; ++i)
        status();
    EXPECT_EQ(box_.queued_commands(), 0u);
    status();
    EXPECT_EQ(box_.queued_commands(), 1u);
}

// A dial the queue cannot take leaves no call behind: the signal is still
// polled, and a hang-up reports no end of a call that never was.
TEST_F(Tz2701StatusTest, ADialTheQueueRefusesLeavesNoCallBehind)
{
    line("+CREG: 0,1");
    tick(20);
    ASSERT_TRUE(idle());
    while (box_.queued_commands() < HidDevice::kMaxQueuedCommands)
        ASSERT_EQ(box_.olva_send_gsm_cmd(1, "AT", 2), 0);
    EXPECT_EQ(box_.olva_makecall(1, "10086"), OLVA_ERR_FAILED);
    const gsm::GsmState state = box_.gsm_state();
    EXPECT_FALSE(state.dialling);
    EXPECT_FALSE(state.call_up);
    EXPECT_EQ(state.dialled_number, "");

    box_.clear_queues();
    for (int i = 0; i < 501; ++i)
        status();
    EXPECT_EQ(box_.queued_commands(), 1u);
    const std::size_t hook_ons = box_.events(OLVA_EVENT_LINE_HOOK_ON).size();
    EXPECT_EQ(box_.olva_soft_hook_on(1), 0);
    EXPECT_EQ(box_.events(OLVA_EVENT_LINE_HOOK_ON).size(), hook_ons);
}

TEST_F(Tz2701StatusTest, AnUnregisteredModuleIsAskedForItsRegistrationEvery51Reports)
{
    line("+CREG: 0,2");
    tick(20);
    ASSERT_TRUE(idle());
    for (int i = 0; i < 50; ++i)
        status();
    EXPECT_EQ(box_.queued_commands(), 0u);
    status();
    EXPECT_EQ(box_.queued_commands(), 1u);
    const auto asked = [&] {
        const auto sent = commands();
        return std::count(sent.begin(), sent.end(), "AT+CREG?");
    };
    const auto before = asked();
    tick(5);
    EXPECT_EQ(asked(), before + 1);
}

TEST_F(Tz2701StatusTest, TheWorkingSimSlotIsReportedWhenItChanges)
{
    ASSERT_EQ(box_.active_sim(), 0);
    status(1, 1, 0);
    status(1, 1, 0);
    EXPECT_EQ(box_.active_sim(), 1);
    status(1, 0, 0);
    status(1, 2, 0);  // no slot the box names: nothing changes
    EXPECT_EQ(box_.active_sim(), 0);
    EXPECT_THAT(box_.events(OLVA_EVENT_SIM_STATE),
                ElementsAre(GsmEvent{OLVA_EVENT_SIM_STATE, 1, 3, ""},
                            GsmEvent{OLVA_EVENT_SIM_STATE, 2, 1, ""},
                            GsmEvent{OLVA_EVENT_SIM_STATE, 1, 1, ""}));
}

TEST_F(Tz2701StatusTest, TheExtensionAndTheEarphoneKeyActOncePerChange)
{
    line("RING");
    line("+CLIP: \"10086\",129");
    // Lifted while it rings: the extension takes the call; a report that
    // says the same again does nothing more.
    for (int i = 0; i < 3; ++i)
        report({3, 0x91, 0x09, 1, 0, 0, 1, 0});
    EXPECT_THAT(box_.events(OLVA_EVENT_LINE_HOOK_OFF),
                ElementsAre(GsmEvent{OLVA_EVENT_LINE_HOOK_OFF, 0, 0, ""},
                            GsmEvent{OLVA_EVENT_LINE_HOOK_OFF, 6, 0, ""}));
    tick(10);
    EXPECT_THAT(commands(), Contains("ATA"));
    EXPECT_EQ(box_.line(1).call_phase(), OLVA_STATE_OFF_HOOK);
    // The key held in the call ends it once; the extension put down next
    // ends no call a second time.
    for (int i = 0; i < 3; ++i)
        report({3, 0x91, 0x09, 1, 0, 0, 1, 1});
    report({3, 0x91, 0x09, 1, 0, 0, 0, 0});
    tick(10);
    EXPECT_THAT(box_.events(OLVA_EVENT_LINE_HOOK_ON),
                ElementsAre(GsmEvent{OLVA_EVENT_LINE_HOOK_ON, 0, 0, ""},  // the line's opening
                            GsmEvent{OLVA_EVENT_LINE_HOOK_ON, 3, 0, ""},
                            GsmEvent{OLVA_EVENT_LINE_HOOK_ON, 1, 0, ""},
                            GsmEvent{OLVA_EVENT_LINE_HOOK_ON, 2, 0, ""}));
    const auto sent = commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "ATH"), 1);
}

}  // namespace
