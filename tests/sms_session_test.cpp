// SMS through the module as plain data: the parts a text is sent in, and
// received PDU lines read for their report. The received cases are PDUs
// published by others (the well-known "hellohello" example, diafaan's
// alphanumeric sender) and PDUs built by python-gammu
// (tests/tools/gammu_deliver_pdus.py), not by our codec.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "codecs/Sms.h"
#include "gsm/received_sms.h"
#include "gsm/sms_send.h"

namespace {

using gsm::ReceivedSms;
using Outcome = ReceivedSms::Outcome;

// ---------------------------------------------------------------- sending

// The hex user data behind a SUBMIT's header fields (service centre "0191",
// 0x11 or 0x51, reference 0, 7-digit number): its UDL and the text.
struct Submit {
    int first = 0;
    int udl = 0;
    std::string ud;
};

Submit read_submit(const std::string& pdu)
{
    // "0191" FO MR "07" "91" "214365F7" PID DCS VP UDL UD... Ctrl-Z
    Submit s;
    s.first = std::stoi(pdu.substr(4, 2), nullptr, 16);
    s.udl = std::stoi(pdu.substr(26, 2), nullptr, 16);
    s.ud = pdu.substr(28, pdu.size() - 29);
    return s;
}

std::string ucs2_hex(std::size_t characters)
{
    std::string hex;
    for (std::size_t i = 0; i < characters; ++i)
        hex += "4E2D";
    return hex;
}

TEST(SmsPlan, PartSizesByTextLength)
{
    struct Case {
        const char* name;
        int type;
        std::string text;
        std::vector<std::size_t> part_hex;  // UCS2 hex characters per part
    };
    const Case cases[] = {
        {"70 characters are one PDU", 1, std::string(70, 'a'), {280}},
        {"71 characters are 2 parts", 1, std::string(71, 'a'), {268, 16}},
        {"hex of 280 is one PDU", 0, ucs2_hex(70), {280}},
        {"hex of 281 is refused: not pairs", 0, ucs2_hex(70) + "A", {}},
        {"hex of 282 is 2 parts", 0, ucs2_hex(70) + "4E", {268, 14}},
        {"hex of exactly 536 is 2 parts, no empty third", 0, ucs2_hex(134), {268, 268}},
        {"an empty text is one empty PDU", 1, "", {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const gsm::SmsPlan plan = gsm::plan_sms("", "1234567", c.type, c.text, 42, 64);
        ASSERT_EQ(plan.pdus.size(), c.part_hex.size()) << plan.error;
        for (std::size_t i = 0; i < plan.pdus.size(); ++i) {
            const Submit s = read_submit(plan.pdus[i]);
            EXPECT_EQ(plan.pdus[i].back(), '\x1A');
            if (plan.pdus.size() == 1) {
                EXPECT_EQ(s.first, 0x11);
                EXPECT_EQ(s.ud.size(), c.part_hex[i]);
                EXPECT_EQ(s.udl * 2u, s.ud.size());
            } else {
                EXPECT_EQ(s.first, 0x51);
                char header[64];
                std::snprintf(header, sizeof header, "0500032A%02zX%02zX", plan.pdus.size(), i + 1);
                EXPECT_EQ(s.ud.substr(0, 12), header);
                EXPECT_EQ(s.ud.size() - 12, c.part_hex[i]);
                EXPECT_EQ(s.udl * 2u, s.ud.size());
            }
        }
    }
}

TEST(SmsPlan, RefusesBadNumbersAndTextsOfTooManyParts)
{
    EXPECT_FALSE(gsm::plan_sms("", "", 1, "hi", 0, 64).error.empty());
    EXPECT_FALSE(gsm::plan_sms("", "1234567890123456", 1, "hi", 0, 64).error.empty());
    EXPECT_FALSE(gsm::plan_sms("", "12345\r67", 1, "hi", 0, 64).error.empty());
    EXPECT_FALSE(gsm::plan_sms("", "1234567", 0, "4E2G", 0, 64).error.empty());
    EXPECT_TRUE(gsm::plan_sms("", "+123456789012345", 1, "hi", 0, 64).error.empty());
    // 3 parts' worth with room for 2.
    const gsm::SmsPlan plan = gsm::plan_sms("", "1234567", 0, ucs2_hex(135), 0, 2);
    EXPECT_FALSE(plan.error.empty());
    EXPECT_TRUE(plan.pdus.empty());
}

TEST(SmsPlan, TheServiceCentreLeadsEveryPart)
{
    const gsm::SmsPlan plan = gsm::plan_sms("8613800100500", "1234567", 0, ucs2_hex(100), 7, 64);
    ASSERT_EQ(plan.pdus.size(), 2u);
    for (const std::string& pdu : plan.pdus)
        EXPECT_EQ(pdu.substr(0, 18), "0891683108100005F0");
}

// ---------------------------------------------------------------- receiving

struct Received {
    const char* name;
    const char* pdu;
    int delivery_type;
    Outcome outcome;
    const char* from;
    const char* time;
    const char* text;
    const char* part;
};

const Received kReceived[] = {
    {"published 7-bit example", "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
     1, Outcome::kReport, "27838890001", "2099-03-29 15:16:59", "hellohello", ""},
    {"published alphanumeric sender",
     "0791448720003023240DD0E474D81C0EBB010000111011315214000BE474D81C0EBB5DE3771B", 1,
     Outcome::kReport, "diafaan", "2011-01-11 13:25:41", "diafaan.com", ""},
    {"gammu 7-bit",
     "0891683108100005F0000D91683119325476F800004250719003540017C8329BFD0699E5EF36E81C6EB7EB20002806839500",
     1, Outcome::kReport, "8613912345678", "2024-05-17 09:30:45", "Hello from gammu @ 100%", ""},
    {"gammu UCS2", "0891683108100005F0000B813119325476F80008425071900354000A4F60597DFF0C4E16754C", 1,
     Outcome::kReport, "13912345678", "2024-05-17 09:30:45", "你好，世界", ""},
    {"gammu UCS2 as hex digits", "0891683108100005F0000B813119325476F80008425071900354000A4F60597DFF0C4E16754C",
     0, Outcome::kReport, "13912345678", "2024-05-17 09:30:45", "4F60597DFF0C4E16754C", ""},
    {"gammu 7-bit part 2 of 2",
     "0891683108100005F0400D91683119325476F8000042507190035400220500033E02028845E311995406854362D17844269541E19058341E914925",
     1, Outcome::kReport, "8613912345678", "2024-05-17 09:30:45", "DEFGHIJABCDEFGHIJABCDEFGHIJ", "2(2)"},
    {"gammu UCS2 part 2 of 2",
     "0891683108100005F0400D91683119325476F8000842507190035400200500033E02024FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE1",
     1, Outcome::kReport, "8613912345678", "2024-05-17 09:30:45", "信短信短信短信短信短信短信", "2(2)"},
    {"gammu UCS2 part with a 16-bit reference",
     "0891683108100005F0400D91683119325476F800084250719003540011060804143E0202957F957F957F957F5C3E", 1,
     Outcome::kReport, "8613912345678", "2024-05-17 09:30:45", "长长长长尾", "2(2)"},
    {"gammu UCS2 part with a 16-bit reference as hex",
     "0891683108100005F0400D91683119325476F800084250719003540011060804143E0202957F957F957F957F5C3E", 0,
     Outcome::kReport, "8613912345678", "2024-05-17 09:30:45", "957F957F957F957F5C3E", "2(2)"},
    {"gammu 8-bit data is not reported",
     "0891683108100005F0000D91683119325476F8000442507190035400040102FEFF", 1, Outcome::kNoReport, "", "", "", ""},
    {"a new-message indication is no PDU", "+CMTI: \"SM\",100", 1, Outcome::kNotPdu, "", "", "", ""},
    // Bad lines: each length read from the line is checked.
    {"service centre beyond the line", "FF91", 1, Outcome::kNoReport, "", "", "", ""},
    {"sender of 21 digits", "00041591214365870921436587092143658709F100004250719003540000", 1,
     Outcome::kNoReport, "", "", "", ""},
    {"sender beyond the line", "00040D9168311932", 1, Outcome::kNoReport, "", "", "", ""},
    {"user-data length beyond the line", "00040B813119325476F8000042507190035400A0C8", 1,
     Outcome::kNoReport, "", "", "", ""},
    {"7-bit length above 160 septets", "00040B813119325476F8000042507190035400A1C8", 1,
     Outcome::kNoReport, "", "", "", ""},
    {"UCS2 length above 140 octets", "00040B813119325476F80008425071900354008D4F60", 1,
     Outcome::kNoReport, "", "", "", ""},
    {"header length beyond the user data", "00440B813119325476F8000842507190035400040900034E2D", 1,
     Outcome::kNoReport, "", "", "", ""},
    {"7-bit header longer than the septets", "00440B813119325476F8000042507190035400020500", 1,
     Outcome::kNoReport, "", "", "", ""},
    {"a status report is no SMS-DELIVER", "0006010B813119325476F8", 1, Outcome::kNoReport, "", "", "", ""},
};

TEST(ReceivedSms, PublishedAndBadLines)
{
    for (const Received& c : kReceived) {
        SCOPED_TRACE(c.name);
        const ReceivedSms sms = gsm::read_received_sms(c.pdu, c.delivery_type);
        ASSERT_EQ(sms.outcome, c.outcome);
        if (c.outcome != Outcome::kReport)
            continue;
        EXPECT_EQ(sms.from, c.from);
        EXPECT_EQ(sms.time, c.time);
        EXPECT_EQ(sms.text, c.text);
        EXPECT_EQ(sms.part, c.part);
    }
}

// Every cut of a good line is read within the line: no report but the
// whole line's, and never a read past the cut (the sanitizers watch).
TEST(ReceivedSms, EveryCutOfALineStaysInsideIt)
{
    const std::string pdu =
        "0891683108100005F0400D91683119325476F800084250719003540011060804143E0202957F957F957F957F5C3E";
    for (std::size_t n = 0; n < pdu.size(); ++n) {
        const std::string cut = pdu.substr(0, n);
        EXPECT_NE(gsm::read_received_sms(std::string_view(cut.data(), n), 1).outcome, Outcome::kReport)
            << n;
    }
    EXPECT_EQ(gsm::read_received_sms(pdu, 1).outcome, Outcome::kReport);
}

// A long 7-bit part and a long UCS2 part from gammu: the text of both
// parts joined is the text gammu was given.
TEST(ReceivedSms, GammusLongMessagesJoinBackToTheirText)
{
    const std::string seven_1 =
        "0891683108100005F0400D91683119325476F8000042507190035400A00500033E0201F0783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8FC7E3F1783C1E8F0F0A87";
    const std::string seven_2 = kReceived[5].pdu;
    const ReceivedSms a = gsm::read_received_sms(seven_1, 1);
    const ReceivedSms b = gsm::read_received_sms(seven_2, 1);
    EXPECT_EQ(a.part, "2(1)");
    std::string abc;
    for (int i = 0; i < 3; ++i)
        abc += "ABCDEFGHIJ";
    EXPECT_EQ(a.text + b.text, std::string(150, 'x') + abc);

    const std::string ucs2_1 =
        "0891683108100005F0400D91683119325476F80008425071900354008C0500033E020177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED4FE177ED";
    std::string twice;
    for (int i = 0; i < 40; ++i)
        twice += "短信";
    EXPECT_EQ(gsm::read_received_sms(ucs2_1, 1).text + gsm::read_received_sms(kReceived[6].pdu, 1).text, twice);
}

}  // namespace
