// The GSM command pump and the module start-up, stepped 20 ms at a time as
// the timer thread steps them; what they send is read from their actions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "gsm/pump.h"
#include "gsm/reply_rules.h"
#include "gsm/startup_script.h"
#include "support/gsm_levels.h"

namespace {

using gsm::Action;
using gsm::GsmState;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using olva_test::kGsmLevels;
constexpr int kTick = 20;

using Kind = hid_cmd_op::Kind;

std::unique_ptr<hid_cmd_op> entry(Kind type, const std::string& text, int sms_index = 0,
                                  int sms_count = 0)
{
    auto op = std::make_unique<hid_cmd_op>();
    std::memcpy(op->data, text.data(), text.size());
    op->length = static_cast<int>(text.size());
    op->type = type;
    op->sms_index = sms_index;
    op->sms_count = sms_count;
    return op;
}

class Queues : public gsm::PumpQueues {
public:
    std::unique_ptr<hid_cmd_op> take_command() override { return take(commands); }
    std::unique_ptr<hid_cmd_op> take_sms() override { return take(sms); }
    std::size_t sms_size() const override { return sms.size(); }

    std::deque<std::unique_ptr<hid_cmd_op>> commands;
    std::deque<std::unique_ptr<hid_cmd_op>> sms;

private:
    static std::unique_ptr<hid_cmd_op> take(std::deque<std::unique_ptr<hid_cmd_op>>& queue)
    {
        if (queue.empty())
            return nullptr;
        auto front = std::move(queue.front());
        queue.pop_front();
        return front;
    }
};

class PumpTest : public ::testing::Test {
protected:
    // One step; what it did besides logging.
    std::vector<std::string> step(int ms = kTick)
    {
        std::vector<std::string> out;
        for (const Action& action : gsm::pump_step(state_, ms, queues_)) {
            if (action.kind == Action::Kind::kDropSmsParts)
                drop_parts(action.a);
            if (action.kind != Action::Kind::kLog)
                out.push_back(gsm::describe(action));
            else
                logs_.push_back(action.text);
        }
        return out;
    }
    // Steps for ms; everything done, in order.
    std::vector<std::string> run(int ms)
    {
        std::vector<std::string> out;
        for (int t = 0; t < ms; t += kTick)
            for (std::string& one : step())
                out.push_back(std::move(one));
        return out;
    }
    void reply(const std::string& line)
    {
        for (const Action& action : gsm::handle_line(state_, {}, kGsmLevels, line))
            if (action.kind == Action::Kind::kQueueAt)
                queues_.commands.push_back(entry(Kind::kAtCommand, action.text));
            else if (action.kind == Action::Kind::kDropSmsParts)
                drop_parts(action.a);
            else if (action.kind == Action::Kind::kFireEvent)
                events_.push_back(gsm::describe(action));
            else if (action.kind == Action::Kind::kLog)
                logs_.push_back(action.text);
    }
    void prompt() { gsm::handle_prompt(state_, "> "); }
    // Sends the first queued part, which the module takes, then the second,
    // which it answers with answer.
    void send_first_part_then_second(const std::string& answer)
    {
        state_.sms_active = true;
        step();
        prompt();
        step();
        reply("OK");
        step();
        prompt();
        step();
        reply(answer);
    }
    void drop_parts(long index)
    {
        std::erase_if(queues_.sms, [index](const auto& e) { return e->sms_index == index; });
    }

    GsmState state_;
    Queues queues_;
    std::vector<std::string> events_;
    std::vector<std::string> logs_;  // the texts behind the box's tag
};

constexpr const char* kPdu = "0011000D91683186753200F0000004D4F29C0E\x1A";  // 19 octets + Ctrl-Z

TEST_F(PumpTest, WithBothQueuesEmptyOnlyTheTimersMove)
{
    EXPECT_THAT(run(1000), IsEmpty());
    EXPECT_EQ(state_.reply_timer_ms, 1000);
    EXPECT_EQ(state_.sms_timer_ms, 1000);
    EXPECT_EQ(state_.ready, 1);
}

TEST_F(PumpTest, OneCommandInFlightAndDeviceCommandsWaitForItsReply)
{
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT+CSQ\r"));
    queues_.commands.push_back(entry(Kind::kDeviceCommand, std::string("\x16\x05", 2)));
    queues_.commands.push_back(entry(Kind::kDeviceCommand, "\x12"));
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT+CREG?\r"));
    EXPECT_THAT(step(), ElementsAre("send AT+CSQ<0D>"));
    EXPECT_EQ(state_.command, "AT+CSQ\r");
    // Nothing overtakes the awaited reply.
    EXPECT_THAT(run(6000), IsEmpty());
    reply("OK");
    // Device commands go one per step, the next AT command after them.
    EXPECT_THAT(step(), ElementsAre("one-cycle 0x16 5"));
    EXPECT_THAT(step(), ElementsAre("one-cycle 0x12 0"));
    EXPECT_THAT(step(), ElementsAre("send AT+CREG?<0D>"));
    EXPECT_THAT(step(), IsEmpty());
}

TEST_F(PumpTest, RawReportsAndLongDeviceTextsGoAsQueued)
{
    const std::string gpio("\x03\x9A\x12\x01\x00\x00\x00\x00", 8);
    queues_.commands.push_back(entry(Kind::kRawReport, gpio));
    queues_.commands.push_back(entry(Kind::kDeviceCommand, "ATH\r"));
    EXPECT_THAT(step(), ElementsAre("raw <03><9A><12><01><00><00><00><00>"));
    EXPECT_THAT(step(), ElementsAre("send ATH<0D>"));
    EXPECT_EQ(state_.ready, 1);  // a device text awaits no reply
}

TEST_F(PumpTest, ACommandTimesOutAfterSevenSecondsADialAfter140)
{
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT+CSQ\r"));
    step();
    EXPECT_THAT(run(7000 - kTick), IsEmpty());
    EXPECT_EQ(state_.ready, 0);
    EXPECT_THAT(step(), IsEmpty());  // the time-out itself
    EXPECT_EQ(state_.ready, -1);
    EXPECT_EQ(state_.timeouts, 1);

    queues_.commands.push_back(entry(Kind::kAtCommand, "ATD10086;\r"));
    state_.dialling = true;
    state_.call_up = true;
    EXPECT_THAT(step(), ElementsAre("send ATD10086;<0D>"));
    EXPECT_EQ(state_.reply_limit_ms, gsm::kDialReplyLimitMs);
    EXPECT_THAT(run(140000 - kTick), IsEmpty());
    // The unanswered dial is hung up through the soft hook-on, which
    // reports it.
    state_.peer_number = "10086";
    EXPECT_THAT(step(), ElementsAre("soft hook-on"));
    EXPECT_EQ(state_.peer_number, "");
}

TEST_F(PumpTest, AHangUpGoesOutAtOnceWhileADialAwaitsItsReply)
{
    queues_.commands.push_back(entry(Kind::kAtCommand, "ATD10086;\r"));
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT+CSQ\r"));
    state_.dialling = true;
    step();
    run(3000);
    EXPECT_EQ(state_.ready, 0);
    std::vector<std::string> sent;
    for (const Action& action : gsm::hang_up(state_))
        if (action.kind != Action::Kind::kLog)
            sent.push_back(gsm::describe(action));
    EXPECT_THAT(sent, ElementsAre("send ATH<0D>"));
    // The hang-up is the command now: its own time-out, no dial's.
    EXPECT_EQ(state_.command, "ATH\r");
    EXPECT_EQ(state_.reply_limit_ms, gsm::kReplyLimitMs);
    EXPECT_FALSE(state_.dialling);
    EXPECT_THAT(run(7000 - kTick), IsEmpty());
    EXPECT_THAT(step(), IsEmpty());  // timed out: no dial hung up, no event
    EXPECT_THAT(step(), ElementsAre("send AT+CSQ<0D>"));
}

TEST_F(PumpTest, TwentySixTimeOutsInARowGiveOneDeviceErrorThe52ndTheNext)
{
    std::vector<int> errors_at;
    for (int n = 1; n <= 60; ++n) {
        queues_.commands.push_back(entry(Kind::kAtCommand, "AT\r"));
        step();
        for (const std::string& done : run(7000))
            if (done == "fire 24 (1, 0, 0)")
                errors_at.push_back(n);
    }
    EXPECT_THAT(errors_at, ElementsAre(26, 52));
}

TEST_F(PumpTest, AnAnswerBreaksTheRunOfTimeOuts)
{
    for (int n = 1; n <= 25; ++n) {
        queues_.commands.push_back(entry(Kind::kAtCommand, "AT\r"));
        step();
        run(7000);
    }
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT\r"));
    step();
    reply("ERROR");
    for (int n = 1; n <= 25; ++n) {
        queues_.commands.push_back(entry(Kind::kAtCommand, "AT\r"));
        step();
        for (const std::string& done : run(7000))
            EXPECT_NE(done, "fire 24 (1, 0, 0)") << n;
    }
}

TEST_F(PumpTest, AnAtCommandQueuedWhileTheModuleBootsIsDropped)
{
    state_.boot = true;
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT+CSQ\r"));
    queues_.commands.push_back(entry(Kind::kDeviceCommand, "\x12"));
    EXPECT_THAT(step(), IsEmpty());
    EXPECT_THAT(step(), ElementsAre("one-cycle 0x12 0"));
    state_.boot = false;
    EXPECT_THAT(run(1000), IsEmpty());
}

// A two-part SMS: "AT+CMGS=" with the TPDU length, the PDU after the
// prompt, one report for the whole message.
TEST_F(PumpTest, AnSmsGoesPartByPartWithOneReport)
{
    const std::string pdu = "0011000D91683186753200F0000004D4F29C0E\x1A";  // 19 octets + Ctrl-Z
    queues_.sms.push_back(entry(Kind::kSmsPdu, pdu, 7, 2));
    queues_.sms.push_back(entry(Kind::kSmsPdu, pdu, 7, 2));
    state_.sms_active = true;
    EXPECT_THAT(step(), ElementsAre("send AT+CMGS=18<0D>"));
    EXPECT_EQ(state_.part_count, 2);
    EXPECT_THAT(step(), IsEmpty());  // awaits the prompt
    prompt();
    EXPECT_THAT(step(), ElementsAre("send 0011000D91683186753200F0000004D4F29C0E<1A>"));
    reply("+CMGS: 1");
    reply("OK");
    EXPECT_THAT(events_, IsEmpty());
    EXPECT_THAT(step(), ElementsAre("send AT+CMGS=18<0D>"));
    prompt();
    step();
    reply("OK");
    EXPECT_THAT(events_, ElementsAre("fire 40 (1, 1, 0)"));
    EXPECT_EQ(state_.sms_index, -1);
}

TEST_F(PumpTest, AFailedPartEndsTheMessageAndDropsItsOtherParts)
{
    const std::string pdu = "0011000D91683186753200F0000004D4F29C0E\x1A";
    for (int i = 0; i < 3; ++i)
        queues_.sms.push_back(entry(Kind::kSmsPdu, pdu, 9, 3));
    send_first_part_then_second("+CMS ERROR: 500");
    EXPECT_THAT(events_, ElementsAre("fire 34 (0, 15, 0) \"+CMS ERROR: 500\"", "fire 40 (0, 0, 0)"));
    EXPECT_TRUE(queues_.sms.empty());
    EXPECT_THAT(run(30000), IsEmpty());
}

TEST_F(PumpTest, APartWithoutPromptIsCancelledWithCtrlZ)
{
    queues_.sms.push_back(entry(Kind::kSmsPdu, "0011000D91683186753200F0000004D4F29C0E\x1A", 1, 1));
    state_.sms_active = true;
    step();
    EXPECT_THAT(run(7000), ElementsAre("fire 40 (2, 2, 0)", "send <1A>"));
    EXPECT_FALSE(state_.sms_active);
}

TEST_F(PumpTest, APartWhosePduWasNeverConfirmedTimesOutAfter20Seconds)
{
    queues_.sms.push_back(entry(Kind::kSmsPdu, "0011000D91683186753200F0000004D4F29C0E\x1A", 1, 1));
    state_.sms_active = true;
    step();
    prompt();
    step();
    EXPECT_THAT(run(20000 - 2 * kTick), IsEmpty());
    EXPECT_THAT(run(2 * kTick), ElementsAre("fire 40 (2, 2, 0)"));
}

TEST_F(PumpTest, AnSmsPartAfterADialInheritsItsReplyLimit)
{
    queues_.commands.push_back(entry(Kind::kAtCommand, "ATD10086;\r"));
    step();
    reply("OK");
    queues_.sms.push_back(entry(Kind::kSmsPdu, "0011000D91683186753200F0000004D4F29C0E\x1A", 1, 1));
    step();
    EXPECT_EQ(state_.command, "AT+CMGS=18\r");
    EXPECT_EQ(state_.reply_limit_ms, gsm::kDialReplyLimitMs);
}

// The PDU's wait sets no reply limit of its own: the next part's
// "AT+CMGS=" is given up after 7 s without its prompt, as any command.
TEST_F(PumpTest, ALaterPartWaitsForItsPromptWithinTheCommandsReplyLimit)
{
    queues_.sms.push_back(entry(Kind::kSmsPdu, kPdu, 7, 2));
    queues_.sms.push_back(entry(Kind::kSmsPdu, kPdu, 7, 2));
    state_.sms_active = true;
    step();
    prompt();
    step();
    reply("OK");
    EXPECT_EQ(state_.reply_limit_ms, gsm::kReplyLimitMs);
    EXPECT_THAT(step(), ElementsAre("send AT+CMGS=18<0D>"));
    EXPECT_THAT(run(gsm::kReplyLimitMs - kTick), IsEmpty());
    EXPECT_THAT(step(), ElementsAre("fire 40 (2, 2, 0)", "send <1A>"));
}

// A part has 20 s from its "AT+CMGS=" on: a prompt that came late leaves
// its PDU's answer the rest. Commands queued meanwhile wait for the part.
TEST_F(PumpTest, APartsTwentySecondsCountFromItsStartNotFromItsPdu)
{
    queues_.sms.push_back(entry(Kind::kSmsPdu, kPdu, 1, 1));
    state_.sms_active = true;
    step();
    EXPECT_THAT(run(5000), IsEmpty());
    prompt();
    EXPECT_THAT(step(), ElementsAre("send 0011000D91683186753200F0000004D4F29C0E<1A>"));
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT+CSQ\r"));
    EXPECT_THAT(run(gsm::kSmsPartLimitMs - 5000 - 2 * kTick), IsEmpty());
    EXPECT_THAT(run(2 * kTick), ElementsAre("fire 40 (2, 2, 0)", "send AT+CSQ<0D>"));
    EXPECT_FALSE(state_.sms_active);
    EXPECT_EQ(state_.reply_limit_ms, gsm::kReplyLimitMs);
}

// What a field report shows of a message: the queue, each part's length,
// header and message, and how each part ended.
TEST_F(PumpTest, AnSmsLogsItsQueueItsPartsAndTheirResults)
{
    queues_.sms.push_back(entry(Kind::kSmsPdu, kPdu, 7, 2));
    queues_.sms.push_back(entry(Kind::kSmsPdu, kPdu, 7, 2));
    state_.sms_active = true;
    step();
    prompt();
    step();
    reply("OK");
    step();
    prompt();
    step();
    reply("OK");
    const std::vector<std::string> expected = {
        "   get  sms queue size:2",
        "len:39,,sms headlen:1",
        "sms index:7,,max divedcount:2",
        " AT+CMGS=18\r",
        " send short sms ok maxcount:2(1)",
        "   get  sms queue size:1",
        "len:39,,sms headlen:1",
        " AT+CMGS=18\r",
        " send short sms ok, fire sms report maxcount:2(2) ",
    };
    std::vector<std::string> seen;
    for (const std::string& text : logs_)
        if (std::find(expected.begin(), expected.end(), text) != expected.end())
            seen.push_back(text);
    EXPECT_EQ(seen, expected);
}

TEST_F(PumpTest, AFailedOrTimedOutPartLogsItsPlaceInTheMessage)
{
    for (int i = 0; i < 3; ++i)
        queues_.sms.push_back(entry(Kind::kSmsPdu, kPdu, 9, 3));
    send_first_part_then_second("ERROR");
    EXPECT_THAT(logs_, ::testing::Contains(" send short sms is failed, 3(2) "));

    queues_.sms.push_back(entry(Kind::kSmsPdu, kPdu, 10, 1));
    state_.sms_active = true;
    step();
    prompt();
    step();
    run(gsm::kSmsPartLimitMs);
    EXPECT_THAT(logs_, ::testing::Contains(" send short sms is timeout,maxcount:1(1) "));
    EXPECT_THAT(logs_, ::testing::Contains(" send short sms is timeout "));
}

TEST_F(PumpTest, APduThatIsNotHexFailsItsMessage)
{
    queues_.sms.push_back(entry(Kind::kSmsPdu, "zz\x1A", 3, 1));
    EXPECT_THAT(step(), ElementsAre("fire 40 (0, 0, 0)"));
    EXPECT_EQ(state_.ready, 1);
}

// Message 9's second part fails: its third part goes, message 10 behind it
// is sent as usual, and each message has its own report.
TEST_F(PumpTest, AFailedPartDropsOnlyItsOwnMessagesParts)
{
    const std::string pdu = "0011000D91683186753200F0000004D4F29C0E\x1A";
    for (int i = 0; i < 3; ++i)
        queues_.sms.push_back(entry(Kind::kSmsPdu, pdu, 9, 3));
    queues_.sms.push_back(entry(Kind::kSmsPdu, pdu, 10, 1));
    send_first_part_then_second("ERROR");
    ASSERT_EQ(queues_.sms.size(), 1u);
    EXPECT_EQ(queues_.sms.front()->sms_index, 10);
    EXPECT_THAT(step(), ElementsAre("send AT+CMGS=18<0D>"));
    EXPECT_EQ(state_.sms_index, 10);
    EXPECT_EQ(state_.part_count, 1);
    prompt();
    EXPECT_THAT(step(), ElementsAre("send 0011000D91683186753200F0000004D4F29C0E<1A>"));
    reply("OK");
    EXPECT_THAT(events_, ElementsAre("fire 40 (0, 0, 0)", "fire 40 (1, 1, 0)"));
}

// A command queued while a part is under way waits for the part's answer:
// it never goes in place of the PDU, nor takes the part's "OK".
TEST_F(PumpTest, ACommandQueuedDuringAPartWaitsForThePartsAnswer)
{
    const std::string pdu = "0011000D91683186753200F0000004D4F29C0E\x1A";
    queues_.sms.push_back(entry(Kind::kSmsPdu, pdu, 2, 1));
    state_.sms_active = true;
    step();
    queues_.commands.push_back(entry(Kind::kAtCommand, "AT+CSQ\r"));
    EXPECT_THAT(run(1000), IsEmpty());
    prompt();
    EXPECT_THAT(step(), ElementsAre("send 0011000D91683186753200F0000004D4F29C0E<1A>"));
    EXPECT_THAT(run(1000), IsEmpty());  // the part's answer is awaited
    reply("+CMGS: 5");
    reply("OK");
    EXPECT_THAT(events_, ElementsAre("fire 40 (1, 1, 0)"));
    EXPECT_THAT(step(), ElementsAre("send AT+CSQ<0D>"));
}

// A prompt that comes late, after its part timed out, or a second one after
// the PDU went, sends nothing: no PDU goes twice or for another part.
TEST_F(PumpTest, ALateOrSecondPromptSendsNoPdu)
{
    const std::string first = "0011000D91683186753200F0000004D4F29C0E\x1A";
    const std::string second = "0011000D91683186753200F0000004D4F29C0F\x1A";
    queues_.sms.push_back(entry(Kind::kSmsPdu, first, 1, 1));
    queues_.sms.push_back(entry(Kind::kSmsPdu, second, 2, 1));
    state_.sms_active = true;
    step();
    EXPECT_THAT(run(7000), ElementsAre("fire 40 (2, 2, 0)", "send <1A>"));
    prompt();  // the first part's prompt, too late
    EXPECT_THAT(step(), ElementsAre("send AT+CMGS=18<0D>"));
    prompt();
    EXPECT_THAT(step(), ElementsAre("send 0011000D91683186753200F0000004D4F29C0F<1A>"));
    prompt();  // a second prompt for the same part
    EXPECT_THAT(run(1000), IsEmpty());
    reply("OK");
    EXPECT_THAT(events_, ElementsAre("fire 40 (1, 1, 0)"));
}

// ------------------------------------------------------------------ start-up

std::vector<std::string> startup_run(GsmState& state, int module_type, std::vector<int>* pulse_times)
{
    std::vector<std::string> queued;
    int now = 0;
    auto take = [&](const gsm::Actions& actions) {
        for (const Action& action : actions) {
            if (action.kind == Action::Kind::kSendOneCycle && pulse_times)
                pulse_times->push_back(now);
            if (action.kind == Action::Kind::kQueueAt)
                queued.push_back(action.text);
        }
    };
    take(gsm::begin_startup(state, module_type));
    while (!state.startups.empty()) {
        now += kTick;
        take(gsm::step_startup(state, kTick, kGsmLevels));
        if (!queued.empty() && state.boot)
            ADD_FAILURE() << "script queued during the boot wait";
    }
    return queued;
}

TEST(GsmStartup, A4gModuleIsPulsedFifteenTimesASecondApartThenTheScript)
{
    GsmState state;
    std::vector<int> pulses;
    const auto script = startup_run(state, gsm::kModuleType4G, &pulses);
    ASSERT_EQ(pulses.size(), 15u);
    for (std::size_t i = 0; i < pulses.size(); ++i)
        EXPECT_EQ(pulses[i], kTick + static_cast<int>(i) * 1000);
    EXPECT_TRUE(state.startup);
    EXPECT_FALSE(state.boot);
    EXPECT_THAT(script, ::testing::Contains("AT+QDAI=3,0,0,4,0,0,1,1\r"));
    EXPECT_THAT(script, ::testing::Contains("AT+QAUDSW=1\r"));
    EXPECT_THAT(script, ::testing::Not(::testing::Contains("AT+QSIMDET=1,0,1\r")));
}

TEST(GsmStartup, A2gModuleWaitsASecondAndGetsItsOwnScript)
{
    GsmState state;
    std::vector<int> pulses;
    const auto script = startup_run(state, 0x09, &pulses);
    EXPECT_THAT(pulses, IsEmpty());
    EXPECT_THAT(script,
                ElementsAre("AT\r", "AT\r", "AT\r", "ATE 0\r", "AT+CGMR\r", "AT+QSIMDET=1,0,1\r",
                            "AT+CLIP=1\r", "AT+QTDMOD=1,2\r", "AT+QTDMOD=2,1\r",
                            "AT+QTONEDET=4,1,3,3,65536\r", "AT+QTONEDET=1\r", "AT+CLVL=40\r",
                            "AT+CALM=0\r", "AT+QMOSTAT=1\r", "AT+QSFR=7\r", "AT+QSIDET=0\r",
                            "AT+QMIC=0,5\r", "AT+COLP=1\r", "AT&W0\r", "AT+CPIN?\r",
                            "AT+CSCA?\r"));
}

// The module's own words, in order, for each generation: the commands the
// module must receive, written out here rather than taken from the code.
TEST(GsmStartup, EachGenerationGetsItsScriptWordForWord)
{
    struct Case {
        int module_type;
        std::vector<std::string> script;
    };
    const Case cases[] = {
        {gsm::kModuleType4G,
         {"AT\r", "AT\r", "AT\r", "ATE 0\r", "AT+CGMR\r", "AT+QSIMDET=1,1\r",
          "AT+QURCCFG=\"urcport\",\"uart1\"\r", "AT+CLIP=1\r", "AT+QTONEDET=1\r",
          "AT+QDAI=3,0,0,4,0,0,1,1\r", "AT+COLP=1\r", "AT+QCFG=\"tone/incoming\",1\r",
          "AT+CRSL=0\r", "AT+QSIDET=0\r", "AT+QAUDPLAYGAIN=1000\r",
          "AT+QLTONE=1,1000,200,300,2000\r", "AT+COLP=1\r", "AT+QAUDSW=1\r", "AT&W0\r",
          "AT+CPIN?\r", "AT+CSCA?\r"}},
        {0x09,
         {"AT\r", "AT\r", "AT\r", "ATE 0\r", "AT+CGMR\r", "AT+QSIMDET=1,0,1\r", "AT+CLIP=1\r",
          "AT+QTDMOD=1,2\r", "AT+QTDMOD=2,1\r", "AT+QTONEDET=4,1,3,3,65536\r", "AT+QTONEDET=1\r",
          "AT+CLVL=40\r", "AT+CALM=0\r", "AT+QMOSTAT=1\r", "AT+QSFR=7\r", "AT+QSIDET=0\r",
          "AT+QMIC=0,5\r", "AT+COLP=1\r", "AT&W0\r", "AT+CPIN?\r", "AT+CSCA?\r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.module_type);
        GsmState state;
        EXPECT_THAT(startup_run(state, c.module_type, nullptr), ::testing::ElementsAreArray(c.script));
    }
}

// Every start-up, whatever started it, ends by reading the box's stored
// user number again, once, after the script is queued.
TEST(GsmStartup, EachStartUpEndsByReadingTheStoredUserNumber)
{
    for (const int module_type : {gsm::kModuleType4G, 0x09}) {
        SCOPED_TRACE(module_type);
        GsmState state;
        std::vector<std::string> tail;
        gsm::begin_startup(state, module_type);
        while (!state.startups.empty())
            for (const Action& action : gsm::step_startup(state, kTick, kGsmLevels))
                tail.push_back(gsm::describe(action));
        ASSERT_GE(tail.size(), 3u);
        EXPECT_EQ(tail[tail.size() - 3], "queue AT+CSCA?<0D>");
        EXPECT_EQ(tail[tail.size() - 2], "log   init gsm , read eeprom");
        EXPECT_EQ(tail.back(), "read user number");
        EXPECT_EQ(std::count(tail.begin(), tail.end(), "read user number"), 1);
    }
}

// A 4G module may say "+CFUN:" while it boots, which asks for a second
// start-up: the first keeps its time, and the second, on its own clock,
// queues the whole script again behind whatever is queued then.
TEST(GsmStartup, AStartUpAskedForDuringABootWaitQueuesTheScriptAgainLater)
{
    constexpr int kSecondAtMs = 5000;
    GsmState state;
    gsm::begin_startup(state, gsm::kModuleType4G);
    std::vector<int> script_starts;  // when each script's first command was queued
    std::size_t queued = 0;
    int pulses = 0;
    const std::size_t script = gsm::startup_commands(true, kGsmLevels).size();
    for (int now = kTick; now <= 40000; now += kTick) {
        if (now == kSecondAtMs)
            gsm::begin_startup(state, gsm::kModuleType4G);
        for (const Action& action : gsm::step_startup(state, kTick, kGsmLevels)) {
            if (action.kind == Action::Kind::kSendOneCycle)
                ++pulses;
            if (action.kind == Action::Kind::kQueueAt && queued++ % script == 0)
                script_starts.push_back(now);
        }
    }
    // Fifteen pulses a second apart from the first step, and the script a
    // second after the last: at 15.02 s, as without the second start-up.
    EXPECT_THAT(script_starts, ElementsAre(15000 + kTick, kSecondAtMs + 15000));
    EXPECT_EQ(queued, 2 * script);
    EXPECT_EQ(pulses, 2 * gsm::kBootPulses);
    EXPECT_FALSE(state.boot);
    EXPECT_TRUE(state.startups.empty());
}

// A module that keeps asking cannot stack start-ups without end.
TEST(GsmStartup, StartUpsBeyondTheirLimitAreRefused)
{
    GsmState state;
    for (std::size_t i = 0; i < gsm::kMaxWaitingStartUps; ++i)
        gsm::begin_startup(state, 0x09);
    std::vector<std::string> refused;
    for (const Action& action : gsm::begin_startup(state, 0x09))
        refused.push_back(gsm::describe(action));
    EXPECT_THAT(refused, Contains("log  start-up refused: 4 already wait for the module"));
    EXPECT_EQ(state.startups.size(), gsm::kMaxWaitingStartUps);
}

TEST(GsmStartup, TheBootWaitEndsWithTheSecondAfterTheLastPulse)
{
    GsmState state;
    gsm::begin_startup(state, 0x05);
    EXPECT_TRUE(state.boot);
    for (int t = kTick; t < 1000; t += kTick)
        EXPECT_THAT(gsm::step_startup(state, kTick, kGsmLevels), IsEmpty());
    EXPECT_TRUE(state.boot);
    gsm::step_startup(state, kTick, kGsmLevels);
    EXPECT_FALSE(state.boot);
    EXPECT_TRUE(state.startups.empty());
}

}  // namespace
