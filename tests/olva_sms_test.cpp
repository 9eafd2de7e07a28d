// SMS through a Tz2701A box whose GSM module is simulated behind the
// bridge: texts sent in parts (each PDU read back by python-gammu), the
// report of each message as event 40, and received messages as event 35.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "codecs/Sms.h"
#include "gsm/sms_send.h"
#include "support/gsm_box_fixture.h"
#include "support/log_capture.h"

namespace {

using namespace olva_test::gsm_box;
using ::testing::ElementsAre;

constexpr const char* kGammuDecode = OLVA_TEST_TOOLS "/gammu_decode_submit.py";

struct GammuRead {
    std::string type, number;
    int reference = 0, part = 0, parts = 0;
    std::string coding, utf16_hex;
};

// Each PDU as python-gammu reads it.
std::vector<GammuRead> gammu_read(const std::vector<std::string>& pdus)
{
    std::string command = std::string("/usr/bin/python3 ") + kGammuDecode;
    for (const std::string& pdu : pdus)
        command += " " + pdu;  // hex digits only
    std::vector<GammuRead> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::istringstream line(buffer);
        GammuRead r;
        line >> r.type >> r.number >> r.reference >> r.part >> r.parts >> r.coding >> r.utf16_hex;
        out.push_back(r);
    }
    EXPECT_EQ(pclose(pipe), 0) << "python-gammu (scripts/setup installs python3-gammu)";
    return out;
}

std::string utf16_hex(const std::string& utf8)
{
    std::vector<unsigned char> ucs2(2 * utf8.size() + 2);
    const int n = gsmEncodeUcs2(utf8.c_str(), ucs2.data(), static_cast<int>(utf8.size()));
    std::string hex(2 * static_cast<std::size_t>(n) + 1, '\0');
    gsmBytes2String(ucs2.data(), hex.data(), n);
    hex.pop_back();
    return hex;
}

class SmsBoxTest : public GsmBoxTest {
protected:
    void SetUp() override
    {
        GsmBoxTest::SetUp();
        open(plug(SimTz2401Box::tz2701a2g()));
        finishStartup();
    }
    // Ticks until the pump has nothing left to send or await.
    void drain(int max_ticks = 3000)
    {
        for (int i = 0; i < max_ticks && !(idle() && box_.queued_sms_parts() == 0 && !box_.gsm_state().sms_part); ++i)
            tick();
    }
    // The "AT+CMGS=" lengths and the PDUs the module took, in order.
    std::vector<std::pair<int, std::string>> sent_parts() const
    {
        std::vector<std::pair<int, std::string>> parts;
        int length = -1;
        for (const auto& r : sim_box_->gsmReceived()) {
            if (r.command.rfind("AT+CMGS=", 0) == 0)
                length = std::stoi(r.command.substr(8));
            else if (length >= 0) {
                parts.emplace_back(length, r.command);
                length = -1;
            }
        }
        return parts;
    }
    std::vector<unsigned long> reports() const
    {
        std::vector<unsigned long> out;
        for (const GsmEvent& e : box_.events(OLVA_EVENT_SHORT_MSG_REPORT)) {
            EXPECT_EQ(e.p1, e.p2);
            out.push_back(e.p1);
        }
        return out;
    }
};

// Each "AT+CMGS=" names the octets of its PDU after the service centre.
void expect_lengths_match(const std::vector<std::pair<int, std::string>>& parts)
{
    for (const auto& [length, pdu] : parts) {
        const int centre = std::stoi(pdu.substr(0, 2), nullptr, 16) + 1;
        EXPECT_EQ(length, static_cast<int>(pdu.size() / 2) - centre) << pdu;
        EXPECT_EQ(pdu.size() % 2, 0u);
    }
}

TEST_F(SmsBoxTest, AShortTextGoesAsOnePduAndIsReportedSent)
{
    std::string text = "Hello 你好";
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "13800138000", 1, text.c_str(), static_cast<int>(text.size())), 0);
    drain();
    const auto parts = sent_parts();
    ASSERT_EQ(parts.size(), 1u);
    expect_lengths_match(parts);
    EXPECT_THAT(commands(), testing::Contains("AT+CMGF=0"));
    const std::vector<GammuRead> read = gammu_read({parts[0].second});
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].type, "Submit");
    EXPECT_EQ(read[0].number, "+13800138000");
    EXPECT_EQ(read[0].parts, 0);
    EXPECT_EQ(read[0].utf16_hex, utf16_hex(text));
    // The service centre learnt from "+CSCA" leads the PDU.
    EXPECT_EQ(parts[0].second.substr(0, 18), "0891683108100005F0");
    EXPECT_THAT(reports(), ElementsAre(1ul));
}

// 300 Chinese characters: 1200 hex characters of UCS2, 5 parts of 67
// characters (the last of 32), one reference, sequence numbers 1 to 5.
TEST_F(SmsBoxTest, A300CharacterChineseTextGoesInFivePartsThatGammuJoinsBack)
{
    std::string text;
    const char* pieces[] = {"短", "信", "测", "试", "中", "文"};
    for (int i = 0; i < 300; ++i)
        text += pieces[i % 6];
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "8613912345678", 1, text.c_str(), static_cast<int>(text.size())), 0);
    drain();
    const auto parts = sent_parts();
    ASSERT_EQ(parts.size(), 5u);
    expect_lengths_match(parts);
    std::vector<std::string> pdus;
    for (const auto& part : parts)
        pdus.push_back(part.second);
    const std::vector<GammuRead> read = gammu_read(pdus);
    ASSERT_EQ(read.size(), 5u);
    std::string joined;
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read[i].number, "+8613912345678");
        EXPECT_EQ(read[i].reference, read[0].reference);
        EXPECT_EQ(read[i].part, i + 1);
        EXPECT_EQ(read[i].parts, 5);
        EXPECT_EQ(read[i].utf16_hex.size(), i < 4 ? 268u : 1200u - 4 * 268u);
        joined += read[i].utf16_hex;
    }
    EXPECT_EQ(joined, utf16_hex(text));
    EXPECT_THAT(reports(), ElementsAre(1ul));

    // The next message takes the next reference.
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "8613912345678", 1, text.c_str(), static_cast<int>(text.size())), 0);
    drain();
    const auto again = sent_parts();
    ASSERT_EQ(again.size(), 10u);
    EXPECT_EQ(gammu_read({again[5].second})[0].reference, (read[0].reference + 1) % 256);
}

TEST_F(SmsBoxTest, APartRefusedByTheNetworkIsReportedFailed)
{
    sim_box_->gsmSms([](olva_sim::SimGsmSms& sms) { sms.failPdus(1); });
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "10086", 1, "hi", 2), 0);
    drain();
    EXPECT_THAT(reports(), ElementsAre(0ul));
}

TEST_F(SmsBoxTest, APartWithoutPromptOrAnswerIsReportedTimedOut)
{
    sim_box_->gsmSilence("AT+CMGS=");
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "10086", 1, "hi", 2), 0);
    drain();
    EXPECT_THAT(reports(), ElementsAre(2ul));
    // Cancelled with Ctrl-Z; a PDU sent but never confirmed times out too.
    sim_box_->gsmSms([](olva_sim::SimGsmSms& sms) { sms.silencePdus(1); });
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "10086", 1, "hi", 2), 0);
    drain();
    EXPECT_THAT(reports(), ElementsAre(2ul, 2ul));
    EXPECT_EQ(sim_box_->gsmPdus().size(), 1u);
}

// Two messages back to back; the first one's second part fails: its third
// part is dropped, the second message is still sent and reported.
TEST_F(SmsBoxTest, ASecondMessageIsSentAfterTheFirstOnesPartFailed)
{
    std::string first;
    for (int i = 0; i < 150; ++i)
        first += "长";
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "10086", 1, first.c_str(), static_cast<int>(first.size())), 0);
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "10010", 1, "second", 6), 0);
    // The first part goes through, the second is refused.
    bool armed = false;
    for (int i = 0; i < 3000 && !(idle() && box_.queued_sms_parts() == 0 && !box_.gsm_state().sms_part); ++i) {
        if (!armed && sim_box_->gsmPdus().size() == 1) {
            sim_box_->gsmSms([](olva_sim::SimGsmSms& sms) { sms.failPdus(1); });
            armed = true;
        }
        tick();
    }
    const auto parts = sent_parts();
    ASSERT_EQ(parts.size(), 3u);
    const std::vector<GammuRead> read = gammu_read({parts[0].second, parts[1].second, parts[2].second});
    EXPECT_EQ(read[1].part, 2);
    EXPECT_EQ(read[2].number, "+10010");
    EXPECT_EQ(read[2].utf16_hex, utf16_hex("second"));
    EXPECT_THAT(reports(), ElementsAre(0ul, 1ul));
}

TEST_F(SmsBoxTest, BadNumbersAndTextsAreRefused)
{
    EXPECT_EQ(box_.olva_send_gsm_msg(1, "1380013800012345", 1, "hi", 2), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.olva_send_gsm_msg(1, "10086", 0, "4E2", 3), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.olva_send_gsm_msg(1, nullptr, 1, "hi", 2), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.queued_sms_parts(), 0u);
}

// A message the queues refuse is not being sent: it leaves no SMS marked
// under way, so the signal poll goes on. One refused while another is
// under way leaves that one marked until it ends.
TEST_F(SmsBoxTest, ARefusedMessageLeavesNoSmsUnderWay)
{
    const auto send = [&](const char* number, const std::string& text) {
        return box_.olva_send_gsm_msg(1, number, 1, text.c_str(), static_cast<int>(text.size()));
    };
    const auto signal_polls = [&] {
        const std::vector<std::string> sent = commands();
        return std::count(sent.begin(), sent.end(), "AT+CSQ");
    };
    moduleSays("\r\n+CREG: 0,1\r\n");
    drain();

    // Refused before anything is queued.
    EXPECT_EQ(send(nullptr, "hi"), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(send("1380013800012345", "hi"), OLVA_ERR_INVALID_PARAM);
    EXPECT_FALSE(box_.gsm_state().sms_active);

    // The command queue is full: the message's "AT+CMGF=0" is refused.
    for (std::size_t i = 0; i < HidDevice::kMaxQueuedCommands; ++i)
        ASSERT_EQ(box_.Tz2701_Send_at("AT\r"), 1);
    EXPECT_EQ(send("10086", "hi"), OLVA_ERR_FAILED);
    EXPECT_FALSE(box_.gsm_state().sms_active);
    drain();
    // The box's status reports, 501 of them, bring the next signal poll.
    const long polls = signal_polls();
    const std::uint8_t status[8] = {3, 0x91, 0, 1, 0, 0, 0, 0};
    for (int i = 0; i < 501; ++i)
        box_.route_tz2701_report(status, sizeof status);
    drain();
    EXPECT_EQ(signal_polls(), polls + 1);

    // The SMS queue is full with a message of the most parts: the next one
    // is refused, and the first is still under way.
    const std::string longest(gsm::kSmsPartHexChars / 4 * HidDevice::kMaxQueuedSmsParts, 'a');
    ASSERT_EQ(send("10086", longest), OLVA_OK);
    ASSERT_EQ(box_.queued_sms_parts(), HidDevice::kMaxQueuedSmsParts);
    EXPECT_EQ(send("10010", "hi"), OLVA_ERR_FAILED);
    EXPECT_TRUE(box_.gsm_state().sms_active);
    drain(20000);
    EXPECT_THAT(reports(), ElementsAre(1ul));
    EXPECT_FALSE(box_.gsm_state().sms_active);
}

// A stored message read with "AT+CMGR=" is reported as event 35, its UCS2
// text decoded or as hex digits by the delivery type.
TEST_F(SmsBoxTest, StoredMessagesAreCountedReadAndDeleted)
{
    const std::string part =
        "0891683108100005F0400D91683119325476F800084250719003540011060804143E0202957F957F957F957F5C3E";
    std::string cmti;
    sim_box_->gsmSms([&](olva_sim::SimGsmSms& sms) { cmti = sms.store(3, part); });
    sim_box_->gsmSay(cmti);
    tick(2);
    EXPECT_THAT(box_.events(OLVA_EVENT_GSM_MSG).back().text, cmti);

    ASSERT_EQ(box_.olva_send_gsm_cmd(1, "AT+CPMS?", 8), 0);
    drain();
    const auto sizes = box_.events(OLVA_EVENT_SHORT_MSG_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].p1, 1ul);
    EXPECT_EQ(sizes[0].p2, 50ul);

    for (const int type : {1, 0}) {
        box_.olva_set_recv_short_msg_type(1, type);
        ASSERT_EQ(box_.olva_send_gsm_cmd(1, "AT+CMGR=3", 9), 0);
        drain();
    }
    const auto messages = box_.events(OLVA_EVENT_SHORT_MSG);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_THAT(messages[0].texts, ElementsAre("8613912345678", "2024-05-17 09:30:45", "长长长长尾", "2(2)"));
    EXPECT_THAT(messages[1].texts,
                ElementsAre("8613912345678", "2024-05-17 09:30:45", "957F957F957F957F5C3E", "2(2)"));

    ASSERT_EQ(box_.olva_send_gsm_cmd(1, "AT+CMGD=3,0", 11), 0);
    drain();
    bool empty = false;
    sim_box_->gsmSms([&](olva_sim::SimGsmSms& sms) { empty = sms.stored().empty(); });
    EXPECT_TRUE(empty);
}

// A received PDU line is read once: the log line that sums it up holds
// what that reading reported.
TEST_F(SmsBoxTest, AReceivedMessagesLogLineHoldsWhatItsReadingReported)
{
    olva_test::LogCapture log;
    ASSERT_TRUE(log.started());
    box_.olva_set_recv_short_msg_type(1, 1);
    sim_box_->gsmSay(
        "0891683108100005F0400D91683119325476F800084250719003540011060804143E0202957F957F957F957F5C3E");
    tick(3);
    const auto messages = box_.events(OLVA_EVENT_SHORT_MSG);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_THAT(messages[0].texts, ElementsAre("8613912345678", "2024-05-17 09:30:45", "长长长长尾", "2(2)"));
    EXPECT_THAT(log.text(), ::testing::HasSubstr(" recv msg nlength:15,, from:8613912345678, msg:长长长长尾,, "
                                                 "time:2024-05-17 09:30:45,index:0"));
}

// A bad PDU line from the module is logged only: no event, no crash.
TEST_F(SmsBoxTest, ABadPduLineRaisesNoEvent)
{
    const std::size_t module_texts = box_.events(OLVA_EVENT_GSM_MSG).size();
    sim_box_->gsmSay("0891683108100005F0400D91683119325476F80008425071900354008C0500");
    sim_box_->gsmSay("00440B813119325476F8000842507190035400040900034E2D");
    tick(3);
    EXPECT_TRUE(box_.events(OLVA_EVENT_SHORT_MSG).empty());
    EXPECT_EQ(box_.events(OLVA_EVENT_GSM_MSG).size(), module_texts);
}

}  // namespace
namespace {

// A two-part SMS takes about 150 synchronous transfers from the library
// call to its report (the parts' reports, the status requests between).
constexpr int kSmsTransfers = 156;

class SmsUnplugTest : public SmsBoxTest, public ::testing::WithParamInterface<int> {};

// The box is unplugged right after the n-th transfer of an SMS send: the
// pump and the reply rules go on without hanging or sending on, the message
// is reported at most once (sent, failed or timed out), and the box closes
// (the sanitizer runs watch for a use after free).
TEST_P(SmsUnplugTest, AnUnplugAtAnyTransferOfAnSmsSendEndsCleanly)
{
    std::string text(80, 'a');
    sim_.unplugAfter(*sim_box_, GetParam());
    ASSERT_EQ(box_.olva_send_gsm_msg(1, "10086", 1, text.c_str(), 80), 0);
    // Past the 7 s reply limit and the 20 s part limit.
    tick(1100);
    const auto reports = box_.events(OLVA_EVENT_SHORT_MSG_REPORT);
    ASSERT_LE(reports.size(), 1u);
    for (const GsmEvent& e : reports)
        EXPECT_TRUE(e.p1 == 0 || e.p1 == 1 || e.p1 == 2) << e.p1;
    // A send on the gone box is refused or queued, never hangs.
    box_.olva_send_gsm_msg(1, "10086", 1, "x", 1);
    tick(5);
    box_.olva_close(1);
}

INSTANTIATE_TEST_SUITE_P(EveryTransfer, SmsUnplugTest, ::testing::Range(0, kSmsTransfers));

}  // namespace
