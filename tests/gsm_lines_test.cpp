// The GSM module's lines: assembled from report-sized chunks, and read by
// the reply rules. Each rule case is a table row {module lines, state
// before} -> {actions, state after}, and every row is also fed through the
// line assembler whole, one byte at a time and split at every position.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gsm/at_text.h"
#include "gsm/line_assembler.h"
#include "gsm/reply_rules.h"
#include "support/gsm_levels.h"

namespace {

using gsm::Action;
using gsm::GsmState;
using gsm::LineAssembler;
using gsm::LineContext;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Item = LineAssembler::Item;

using olva_test::kGsmLevels;

std::vector<std::string> lines_of(const std::vector<Item>& items)
{
    std::vector<std::string> lines;
    for (const Item& item : items)
        lines.push_back(item.kind == Item::Kind::kLine ? item.text
                        : item.kind == Item::Kind::kPrompt ? "PROMPT[" + item.text + "]"
                                                           : "DROPPED");
    return lines;
}

std::vector<std::string> feed_in_reports(LineAssembler& assembler, const std::string& bytes,
                                         std::size_t report_size)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < bytes.size(); at += report_size) {
        auto items = assembler.feed(bytes.substr(at, report_size));
        for (const std::string& line : lines_of(items))
            lines.push_back(line);
    }
    return lines;
}

// ------------------------------------------------------------------ assembler

struct AssemblyCase {
    const char* name;
    std::string wire;
    std::vector<std::string> lines;
};

TEST(GsmLineAssembler, TurnsModuleBytesIntoLines)
{
    const AssemblyCase cases[] = {
        {"reply with its OK", "\r\n+CSQ: 23,0\r\n\r\nOK\r\n", {"+CSQ: 23,0", "OK"}},
        {"CR LF OK CR LF", "\r\nOK\r\n", {"OK"}},
        {"a leading LF without CR is dropped", "\nOK\r\n", {"OK"}},
        {"an LF without CR ends no line", "AB\nCD\r\n", {"ABCD"}},
        {"a line of one character is dropped", "\r\nX\r\n\r\nOK\r\n", {"OK"}},
        {"the echo of a command", "AT+CSQ\r\r\n+CSQ: 5,0\r\n", {"AT+CSQ", "+CSQ: 5,0"}},
        {"a byte after CR cancels it", "O\rK\r\n", {"OK"}},
    };
    for (const AssemblyCase& c : cases) {
        for (std::size_t report = 1; report <= 6; ++report) {
            LineAssembler assembler;
            EXPECT_THAT(feed_in_reports(assembler, c.wire, report), ElementsAreArray(c.lines))
                << c.name << ", reports of " << report;
        }
    }
}

TEST(GsmLineAssembler, HandsOnTheWholeChunkThatCarriesThePrompt)
{
    LineAssembler assembler;
    // The prompt comes inside one report and ends no line.
    EXPECT_THAT(lines_of(assembler.feed(std::string("\r\n> "))), ElementsAre("PROMPT[\r\n> ]"));
    // Its blank is a one-character line, dropped at the next line end.
    EXPECT_EQ(assembler.pending_length(), 1u);
    EXPECT_THAT(lines_of(assembler.feed(std::string("\r\n+CMGS: 7\r\n"))), ElementsAre("+CMGS: 7"));
    // Two '>' in one chunk hand it on once.
    EXPECT_THAT(lines_of(assembler.feed(std::string(">>"))), ElementsAre("PROMPT[>>]"));
}

TEST(GsmLineAssembler, DropsALineLongerThanItsBufferWholeAndGoesOn)
{
    LineAssembler assembler;
    const std::string longest(LineAssembler::kMaxLine, 'A');
    EXPECT_THAT(lines_of(assembler.feed(longest + "\r\n")), ElementsAre(longest));
    const std::string too_long(LineAssembler::kMaxLine + 1, 'B');
    EXPECT_THAT(lines_of(assembler.feed(too_long + "\r\n")), ElementsAre("DROPPED"));
    EXPECT_LE(assembler.pending_length(), LineAssembler::kMaxLine);
    EXPECT_THAT(lines_of(assembler.feed(std::string("\r\nOK\r\n"))), ElementsAre("OK"));
}

// ------------------------------------------------------------------ fields

TEST(GsmFields, ReadNumbersAndFieldsWithinBounds)
{
    long value = -7;
    EXPECT_TRUE(gsm::read_number(" 23,0", value));
    EXPECT_EQ(value, 23);
    EXPECT_FALSE(gsm::read_number("abc", value));
    EXPECT_FALSE(gsm::read_number("1234567890", value));  // ten digits
    EXPECT_FALSE(gsm::read_number("", value));
    EXPECT_EQ(gsm::unquote("\"10086\""), "10086");
    EXPECT_EQ(gsm::unquote("\""), "");
    EXPECT_EQ(gsm::unquote("\"" + std::string(200, '1') + "\"").size(), gsm::kMaxNumber);
    EXPECT_EQ(gsm::behind("+CSQ:", 6), "");
}

TEST(GsmFields, NumbersAndCommandTextsHoldOnlyWhatTheyShould)
{
    for (const char* good : {"10086", "+8613800138000", "*#06#", "1"})
        EXPECT_TRUE(gsm::valid_number(good)) << good;
    for (const char* bad : {"", "123;ATH", "12\r", "12 34", "12a", "1\x1A"})
        EXPECT_FALSE(gsm::valid_number(bad)) << bad;
    // The library's command door takes any one command line: a dial, two
    // commands joined by ';', a Ctrl-Z of the caller's own.
    for (const char* good : {"AT+CSQ", "AT+QMIC=0,5", "ATD10086;", "AT+CSQ;+CREG?", "AT\x1A"})
        EXPECT_TRUE(gsm::valid_command_text(good)) << good;
    for (const char* bad : {"AT\rATD112;", "AT\nX", "AT+CSQ\r", "\n"})
        EXPECT_FALSE(gsm::valid_command_text(bad)) << bad;
}

TEST(GsmFields, TheCallersNumberBecomesTheExtensionsToneCommand)
{
    struct Case {
        std::string number;
        std::string command;
    };
    const Case cases[] = {
        {"\"10086\"", "AT+QLDTMF=1,\"1,0,0,8,6\"\r"},  // as the module gives it
        {"10086", "AT+QLDTMF=1,\"1,0,0,8,6\"\r"},
        {"5", "AT+QLDTMF=1,\"5\"\r"},
        {"\"+8613800138000\"", ""},  // no leading digit
        {"123*456", "AT+QLDTMF=1,\"1,2,3\"\r"},  // the digits end at the first other
        {"", ""},
        {"\"\"", ""},
        {std::string(100, '7'),
         "AT+QLDTMF=1,\"" + [] {
             std::string keys;
             for (std::size_t i = 0; i < gsm::kMaxNumber; ++i)
                 keys += "7,";
             keys.back() = '"';
             return keys;
         }() + "\r"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gsm::caller_tones_command(c.number), c.command) << c.number;
}

// ------------------------------------------------------------------ rules

std::vector<std::string> effects(const gsm::Actions& actions)
{
    std::vector<std::string> out;
    for (const Action& action : actions)
        if (action.kind != Action::Kind::kLog)
            out.push_back(gsm::describe(action));
    return out;
}

struct RuleCase {
    const char* name;
    std::vector<std::string> lines;
    std::function<void(GsmState&, LineContext&)> before;
    std::vector<std::string> actions;
    std::function<void(const GsmState&)> after;
};

void nothing_before(GsmState&, LineContext&) {}
void nothing_after(const GsmState&) {}

// The rows: what the module says, the state it finds, what follows.
std::vector<RuleCase> rule_cases()
{
    return {
        {"OK ends the wait and the time-out run",
         {"OK"},
         [](GsmState& s, LineContext&) {
             s.ready = 0;
             s.timeouts = 9;
             s.command = "AT+CSQ\r";
         },
         {},
         [](const GsmState& s) {
             EXPECT_EQ(s.ready, 1);
             EXPECT_EQ(s.timeouts, 0);
         }},
        {"OK to the call list without the peer ends the call",
         {"OK"},
         [](GsmState& s, LineContext& c) {
             s.command = "AT+CLCC\r";
             s.clcc_total = 1;
             s.peer_number = "10086";
             s.call_answered = true;
             s.call_up = true;
             c.call_phase = 3;
         },
         {"queue AT+QLTONE=1,1000,200,300,500<0D>", "fire 30 (1, 0, 0)", "print  called hangup 2",
          "gsm state 9"},
         [](const GsmState& s) {
             EXPECT_EQ(s.clcc_total, 0);
             EXPECT_EQ(s.peer_number, "");
             EXPECT_FALSE(s.call_answered);
         }},
        {"OK to the call list while still ringing cancels the ring, EC200 path off",
         {"OK"},
         [](GsmState& s, LineContext& c) {
             s.command = "AT+CLCC\r";
             s.clcc_total = 1;
             s.ec200 = true;
             s.call_up = true;
             c.call_phase = 2;
             c.extension_ringing = true;
         },
         {"queue AT+QLTONE=1,1000,200,300,500<0D>", "fire 15 (0, 0, 0)",
          "print  ring cancel(called hangup)", "device 0x23 0", "stop extension ring",
          "gsm state 9"},
         nothing_after},
        {"OK to the call list with a waiting call ends the call once",
         {"OK"},
         [](GsmState& s, LineContext& c) {
             s.command = "AT+CLCC\r";
             s.clcc_total = 1;
             s.ccwa_count = 2;
             s.call_up = true;
             c.extension_ringing = true;
         },
         {"queue AT+QLTONE=1,1000,200,300,500<0D>", "fire 30 (1, 0, 0)", "print  called hangup",
          "stop extension ring", "gsm state 9"},
         [](const GsmState& s) { EXPECT_EQ(s.ccwa_count, 0); }},
        {"OK to the call list of a call this side ended already reports no second end",
         {"OK"},
         [](GsmState& s, LineContext& c) {
             s.command = "AT+CLCC\r";
             s.clcc_total = 1;
             c.call_phase = 9;
         },
         {"queue AT+QLTONE=1,1000,200,300,500<0D>", "print  called hangup 2", "gsm state 9"},
         nothing_after},
        {"the call list lists the peer: the call is still up",
         {"+CLCC: 1,0,0,0,0,\"10086\",129", "OK"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CLCC\r";
             s.clcc_total = 1;
             s.peer_number = "10086";
         },
         {},
         [](const GsmState& s) {
             EXPECT_EQ(s.clcc_total, 0);
             EXPECT_EQ(s.clcc_number, 1);
         }},
        {"the call list without the peer's number reads each line once",
         {"+CLCC: 1,0,0,0,0,\"555\",129", "+CLCC: 2,1,5,0,0,\"666\",129"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CLCC\r";
             s.clcc_total = 1;
         },
         {},
         [](const GsmState& s) {
             EXPECT_EQ(s.clcc_total, 1);
             EXPECT_EQ(s.clcc_number, 2);
         }},
        {"OK to an SMS part reports it once",
         {"+CMGS: 12", "OK", "OK"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CMGS=20\r";
             s.sms_part = true;
             s.sms_active = true;
             s.sms_index = 4;
             s.part_count = 1;
         },
         {"fire 40 (1, 1, 0)"},
         [](const GsmState& s) {
             EXPECT_FALSE(s.sms_part);
             EXPECT_TRUE(s.part_ok);
             EXPECT_EQ(s.sms_index, -1);
         }},
        {"ERROR to the SIM query marks the registration unknown",
         {"+CME ERROR: 10"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CPIN?\r";
             s.ready = 0;
             s.timeouts = 3;
         },
         {"print p:CME ERROR"},
         [](const GsmState& s) {
             EXPECT_EQ(s.reg_state, -1);
             EXPECT_EQ(s.ready, -1);
             EXPECT_EQ(s.timeouts, 0);
         }},
        {"ERROR 10 to the service-centre query is a SIM fault",
         {"+CME ERROR: 10"},
         [](GsmState& s, LineContext& c) {
             s.command = "AT+CSCA?\r";
             c.active_sim = 0;
         },
         {"fire 32 (1, 10, 0)"},
         [](const GsmState& s) { EXPECT_EQ(s.reg_state, -1); }},
        {"ERROR 3 to the service-centre query is no SIM fault",
         {"+CME ERROR: 3"},
         [](GsmState& s, LineContext&) { s.command = "AT+CSCA?\r"; },
         {},
         nothing_after},
        {"+CMS ERROR fails the SMS part and drops the rest of its message only",
         {"+CMS ERROR: 500"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CMGS=20\r";
             s.sms_active = true;
             s.sms_part = true;
             s.sms_index = 6;
             s.part_count = 2;
         },
         {"fire 34 (0, 15, 0) \"+CMS ERROR: 500\"", "drop sms parts 6", "fire 40 (0, 0, 0)"},
         [](const GsmState& s) { EXPECT_FALSE(s.sms_active); }},
        {"a plain ERROR to the part's AT+CMGS fails it at once",
         {"ERROR"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CMGS=20\r";
             s.sms_active = true;
             s.sms_part = true;
             s.sms_index = 6;
             s.part_count = 1;
         },
         {"fire 40 (0, 0, 0)"},
         [](const GsmState& s) {
             EXPECT_FALSE(s.sms_part);
             EXPECT_EQ(s.sms_index, -1);
         }},
        {"+CMS ERROR with no part under way fails no message",
         {"+CMS ERROR: 301"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CPMS?\r";
             s.sms_active = true;
             s.sms_index = 6;
             s.part_count = 2;
         },
         {"fire 34 (0, 15, 0) \"+CMS ERROR: 301\""},
         [](const GsmState& s) { EXPECT_EQ(s.sms_index, 6); }},
        {"MO RING", {"MO RING"}, nothing_before, {"fire 28 (0, 0, 0)"}, nothing_after},
        {"RING",
         {"RING"},
         [](GsmState& s, LineContext&) { s.call_answered = true; },
         {"gsm state 2", "fire 11 (0, 0, 0)"},
         [](const GsmState& s) { EXPECT_FALSE(s.call_answered); }},
        {"a tone key '#'", {"+QTONEDET: 35"}, nothing_before, {"fire 22 (35, 0, 0)"}, nothing_after},
        {"a tone key '5'", {"+QTONEDET: 53"}, nothing_before, {"fire 22 (53, 0, 0)"}, nothing_after},
        {"a tone code that is no key", {"+QTONEDET: 65"}, nothing_before, {}, nothing_after},
        {"a tone line of another length", {"+QTONEDET: 035"}, nothing_before, {}, nothing_after},
        {"Call Ready asks for the service centre",
         {"Call Ready"},
         [](GsmState& s, LineContext&) { s.ccwa_count = 2; },
         {"queue AT+CSCA?<0D>"},
         [](const GsmState& s) { EXPECT_EQ(s.ccwa_count, 0); }},
        {"+CFUN: starts the module again",
         {"+CFUN: 1"},
         [](GsmState& s, LineContext&) { s.startup = true; },
         {"start gsm"},
         [](const GsmState& s) { EXPECT_FALSE(s.startup); }},
        {"+CFUN: during a SIM change starts nothing",
         {"+CFUN: 1"},
         [](GsmState& s, LineContext&) { s.sim_switching = true; },
         {},
         nothing_after},
        {"+COLP: answers the dial once and links the extension phone",
         {"+COLP: \"10086\",129,\"\",0,\"\"", "+COLP: \"10086\",129,\"\",0,\"\""},
         [](GsmState& s, LineContext& c) {
             s.dialling = true;
             c.auto_link_slic = true;
             c.extension_off_hook = true;
         },
         {"fire 33 (0, 0, 0)", "gsm state 3", "device 0x20 1", "device 0x26 1"},
         [](const GsmState& s) {
             EXPECT_TRUE(s.call_answered);
             EXPECT_FALSE(s.dialling);
             EXPECT_EQ(s.peer_number, "10086");
         }},
        {"+CPIN: READY after boot starts the script",
         {"+CPIN: READY"},
         nothing_before,
         {"start gsm"},
         nothing_after},
        {"+CPIN: READY during the script is the SIM state",
         {"+CPIN: READY"},
         [](GsmState& s, LineContext& c) {
             s.startup = true;
             s.reg_state = -1;
             c.active_sim = 1;
         },
         {"fire 32 (2, 3, 0)"},
         [](const GsmState& s) { EXPECT_EQ(s.reg_state, 0); }},
        {"+CPIN: READY during a SIM change does nothing",
         {"+CPIN: READY"},
         [](GsmState& s, LineContext&) { s.sim_switching = true; },
         {},
         nothing_after},
        {"+CPIN: NOT INSERTED",
         {"+CPIN: NOT INSERTED"},
         [](GsmState& s, LineContext& c) {
             s.sim_switching = true;
             c.active_sim = 0;
         },
         {"fire 32 (1, 2, 0)"},
         [](const GsmState& s) { EXPECT_FALSE(s.sim_switching); }},
        {"+QMIC", {"+QMIC: 8000,8000"}, nothing_before, {"fire 37 (2, 8000, 0)"}, nothing_after},
        {"+CLVL", {"+CLVL: 40"}, nothing_before, {"fire 37 (1, 40, 0)"}, nothing_after},
        {"+CLIP: gives the caller's number",
         {"+CLIP: \"13800138000\",129,\"\",0,\"\",0"},
         nothing_before,
         {"caller id \"13800138000\"", "fire 21 (0, 0, 0) \"13800138000\""},
         [](const GsmState& s) {
             EXPECT_EQ(s.peer_number, "13800138000");
             EXPECT_TRUE(s.caller_id_taken);
         }},
        {"+CLIP: once the line has a caller ID",
         {"+CLIP: \"13800138000\",129"},
         [](GsmState& s, LineContext&) { s.caller_id_taken = true; },
         {},
         nothing_after},
        {"+CLIP: with an over-long number is cut to its bound",
         {"+CLIP: \"" + std::string(300, '9') + "\",129"},
         nothing_before,
         {"caller id \"" + std::string(gsm::kMaxNumber + 1, '9'),
          "fire 21 (0, 0, 0) \"" + std::string(gsm::kMaxNumber, '9') + "\""},
         nothing_after},
        {"NO CARRIER while dialling hangs up at once",
         {"NO CARRIER"},
         [](GsmState& s, LineContext&) {
             s.command = "ATD10086;\r";
             s.reply_timer_ms = 3000;
             s.dialling = true;
             s.call_up = true;
             s.dialled_number = "10086";
         },
         // The soft hook-on ends the call, reports it and closes an
         // EC200's earphone path.
         {"print  need dll auto hangup", "soft hook-on"},
         [](const GsmState& s) {
             EXPECT_EQ(s.command, "");
             EXPECT_EQ(s.ready, -1);
             EXPECT_EQ(s.timeouts, 0);
         }},
        {"NO CARRIER of an answered call asks for the call list",
         {"NO CARRIER"},
         [](GsmState& s, LineContext&) {
             s.command = "ATA\r";
             s.call_answered = true;
         },
         {"queue AT+CLCC<0D>"},
         [](const GsmState& s) {
             EXPECT_EQ(s.clcc_total, 1);
             EXPECT_FALSE(s.call_answered);
         }},
        {"NO ANSWER ends the dial and the wait for its reply",
         {"NO ANSWER"},
         [](GsmState& s, LineContext& c) {
             s.command = "ATD10086;\r";
             s.ready = 0;
             s.dialling = true;
             s.call_up = true;
             s.ec200 = true;
             c.extension_ringing = true;
         },
         {"queue AT+QLTONE=1,1000,200,300,500<0D>", "gsm state 9", "fire 30 (1, 0, 0)",
          "stop extension ring", "device 0x23 0"},
         [](const GsmState& s) {
             EXPECT_FALSE(s.dialling);
             EXPECT_FALSE(s.call_up);
             EXPECT_EQ(s.ready, 1);
         }},
        {"NO CARRIER after this side's own hang-up checks nothing",
         {"NO CARRIER"},
         [](GsmState& s, LineContext&) { s.command = "ATH\r"; },
         {}, [](const GsmState& s) { EXPECT_EQ(s.clcc_total, 0); }},
        {"MO CONNECTED answers once",
         {"MO CONNECTED", "MO CONNECTED"},
         [](GsmState& s, LineContext&) { s.dialling = true; },
         {"fire 33 (0, 0, 0)", "gsm state 3"},
         [](const GsmState& s) { EXPECT_TRUE(s.call_answered); }},
        {"BUSY",
         {"BUSY"},
         [](GsmState& s, LineContext&) { s.dialling = true; },
         {"fire 27 (0, 0, 0)"},
         [](const GsmState& s) { EXPECT_FALSE(s.dialling); }},
        {"BUSY stops the extension's ring when it rings",
         {"BUSY"},
         [](GsmState&, LineContext& c) { c.extension_ringing = true; },
         {"fire 27 (0, 0, 0)", "stop extension ring"},
         nothing_after},
        {"NO ANSWER leaves an extension that does not ring alone",
         {"NO ANSWER"},
         [](GsmState& s, LineContext&) {
             s.command = "ATD10086;\r";
             s.call_up = true;
         },
         {"queue AT+QLTONE=1,1000,200,300,500<0D>", "gsm state 9", "fire 30 (1, 0, 0)"},
         nothing_after},
        {"the call list's end of a call leaves an extension that does not ring alone",
         {"OK"},
         [](GsmState& s, LineContext& c) {
             s.command = "AT+CLCC\r";
             s.clcc_total = 1;
             s.call_up = true;
             c.call_phase = 2;
         },
         {"queue AT+QLTONE=1,1000,200,300,500<0D>", "fire 15 (0, 0, 0)",
          "print  ring cancel(called hangup)", "gsm state 9"},
         nothing_after},
        {"BUSY to a dial ends the wait for its reply; the hang-up still reports the end",
         {"BUSY"},
         [](GsmState& s, LineContext&) {
             s.command = "ATD10086;\r";
             s.ready = 0;
             s.dialling = true;
             s.call_up = true;
         },
         {"fire 27 (0, 0, 0)"},
         [](const GsmState& s) {
             EXPECT_EQ(s.ready, 1);
             EXPECT_TRUE(s.call_up);
         }},
        {"+CPMS", {"+CPMS: \"SM\",3,50,\"SM\",3,50,\"SM\",3,50"}, nothing_before,
         {"fire 38 (3, 50, 0)"}, nothing_after},
        {"+CPMS without a third comma has no total", {"+CPMS: 3,50"}, nothing_before,
         {}, nothing_after},
        {"+CPMS with two commas only", {"+CPMS: \"SM\",7,50"}, nothing_before,
         {"fire 38 (7, 0, 0)"}, nothing_after},
        {"+CSQ 31 is 100 %", {"+CSQ: 31,0"}, nothing_before,
         {"device 0x16 31", "fire 36 (100, 0, 0)"}, nothing_after},
        {"+CSQ 15 is 48 %", {"+CSQ: 15,99"}, nothing_before,
         {"device 0x16 15", "fire 36 (48, 0, 0)"}, nothing_after},
        {"+CSQ 99 is no reading", {"+CSQ: 99,99"}, nothing_before, {}, nothing_after},
        {"+CSQ out of range is no reading", {"+CSQ: 250,0"}, nothing_before, {}, nothing_after},
        {"+CREG registered asks for signal and call waiting",
         {"+CREG: 0,5"},
         [](GsmState&, LineContext& c) { c.active_sim = 1; },
         {"fire 39 (1, 5, 0)", "queue AT+CSQ<0D>", "queue AT+CCWA=1,1<0D>"},
         [](const GsmState& s) { EXPECT_EQ(s.reg_state, 5); }},
        {"+CREG searching, SIM not yet set",
         {"+CREG: 0,2"},
         nothing_before,
         {"active sim 0", "fire 39 (0, 2, 0)"},
         [](const GsmState& s) { EXPECT_EQ(s.reg_state, 2); }},
        {"+CREG without a comma", {"+CREG: 1"}, nothing_before, {}, nothing_after},
        {"+CSCA gives the service centre",
         {"+CSCA: \"+8613800100500\",145"},
         nothing_before,
         {"fire 34 (0, 20, 0) \"8613800100500\""},
         [](const GsmState& s) { EXPECT_EQ(s.service_centre, "8613800100500"); }},
        {"+CCWA counts a waiting call",
         {"+CCWA: \"555\",129,1"},
         nothing_before,
         {},
         [](const GsmState& s) { EXPECT_EQ(s.ccwa_count, 1); }},
        {"+QIND: PB DONE ends a SIM change",
         {"+QIND: PB DONE"},
         [](GsmState& s, LineContext&) {
             s.sim_switching = true;
             s.reg_state = -1;
         },
         {"queue AT+COLP=1<0D>", "queue AT+CREG?<0D>"},
         [](const GsmState& s) {
             EXPECT_FALSE(s.sim_switching);
             EXPECT_EQ(s.reg_state, 0);
         }},
        {"the revision of an EC200 module",
         {"EC200UCNAAR01A05M08"},
         [](GsmState& s, LineContext&) { s.command = "AT+CGMR\r"; },
         {"fire 34 (0, 19, 0) \"EC200UCNAAR01A05M08\" p3 \"AT+CGMR<0D>\"", "device 0x23 0",
          "queue AT+CLVL=4<0D>", "queue AT+QMIC=35000,35000<0D>"},
         [](const GsmState& s) { EXPECT_TRUE(s.ec200); }},
        {"the revision of the other EC200 module",
         {"EC200SCNABR03A04M16"},
         [](GsmState& s, LineContext&) { s.command = "AT+CGMR\r"; },
         {"fire 34 (0, 19, 0) \"EC200SCNABR03A04M16\" p3 \"AT+CGMR<0D>\"", "device 0x23 0",
          "queue AT+CLVL=4<0D>", "queue AT+QMIC=35000,35000<0D>"},
         [](const GsmState& s) { EXPECT_TRUE(s.ec200); }},
        {"one more character is another 4G module",
         {"EC200UCNAAR01A05M08X"},
         [](GsmState& s, LineContext&) {
             s.command = "AT+CGMR\r";
             s.ec200 = true;
         },
         {"fire 34 (0, 20, 0) \"EC200UCNAAR01A05M08X\" p3 \"AT+CGMR<0D>\"", "queue AT+CLVL=3<0D>",
          "queue AT+QMIC=8000,8000<0D>", "device 0x23 1"},
         [](const GsmState& s) { EXPECT_FALSE(s.ec200); }},
        {"a Revision: line is only logged, even while the revision query holds EC20",
         {"Revision: EC20CEFAGR06A05M4G"},
         [](GsmState& s, LineContext&) { s.command = "AT+CGMR\r"; },
         {},
         [](const GsmState& s) { EXPECT_FALSE(s.ec200); }},
        {"a PDU holding EC20 is a received SMS, not a revision",
         {"0891683108200105F0040D91683186753200F00008521060214154230410EC204F60"},
         [](GsmState& s, LineContext&) { s.command = "AT+CMGR=1\r"; },
         {"pdu 0891683108200105F0040D91683186753200F00008521060214154230410EC204F60"},
         [](const GsmState& s) { EXPECT_FALSE(s.ec200); }},
        {"a new-message line with storage index 100 goes to the PDU reader",
         {"+CMTI: \"SM\",100"},
         nothing_before,
         {"pdu +CMTI: \"SM\",100"},
         nothing_after},
        {"other text is module text", {"M26FBR03A02"}, nothing_before,
         {"fire 34 (0, 11, 0) \"M26FBR03A02\""}, nothing_after},
        {"a two-character line is only logged", {"AB"}, nothing_before, {}, nothing_after},
    };
}

void run_lines(const RuleCase& c, const std::vector<std::string>& lines)
{
    GsmState state;
    LineContext context;
    c.before(state, context);
    std::vector<std::string> actions;
    for (const std::string& line : lines)
        for (const std::string& e : effects(gsm::handle_line(state, context, kGsmLevels, line)))
            actions.push_back(e);
    EXPECT_THAT(actions, ElementsAreArray(c.actions)) << c.name;
    c.after(state);
}

std::string wire_of(const std::vector<std::string>& lines)
{
    std::string wire;
    for (const std::string& line : lines)
        wire += "\r\n" + line + "\r\n";
    return wire;
}

TEST(GsmReplyRules, EachRuleAsATableRow)
{
    for (const RuleCase& c : rule_cases()) {
        SCOPED_TRACE(c.name);
        run_lines(c, c.lines);
    }
}

TEST(GsmReplyRules, EachRowFedThroughTheAssemblerInEveryCut)
{
    for (const RuleCase& c : rule_cases()) {
        SCOPED_TRACE(c.name);
        const std::string wire = wire_of(c.lines);
        for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
            LineAssembler assembler;
            std::vector<std::string> lines = feed_in_reports(assembler, wire.substr(0, cut), 6);
            for (const std::string& line : feed_in_reports(assembler, wire.substr(cut), 6))
                lines.push_back(line);
            ASSERT_EQ(lines, c.lines) << "cut at " << cut;
        }
        LineAssembler one_by_one;
        ASSERT_EQ(feed_in_reports(one_by_one, wire, 1), c.lines);
    }
}

std::vector<std::string> logs_of(const gsm::Actions& actions)
{
    std::vector<std::string> out;
    for (const Action& action : actions)
        if (action.kind == Action::Kind::kLog)
            out.push_back(action.text);
    return out;
}

// The log lines a field report is read from, each with the reply that
// writes it (the texts behind the box's tag).
TEST(GsmReplyRules, TheLogLinesOfTheReplies)
{
    struct Case {
        const char* line;
        const char* command;
        std::string logged;
        int clcc_total = 0;
        std::string peer = "";
    };
    const std::string pdu = "0891683108200105F0040D91683186753200F00008521060214154230410EC204F60";
    const Case cases[] = {
        {"OK", "AT+CSQ\r", " recv ok, m_user_opt(0), AT+CSQ\r"},
        {"+CME ERROR: 10", "AT+CPIN?\r", " p:CME ERROR"},
        {"+CLCC: 1,0,0,0,0,\"555\",129", "AT+CLCC\r",
         " m_clcc_number:1, recv no carrier:1,,phonenumber(10086)", 1, "10086"},
        {pdu.c_str(), "AT+CMGR=1\r", " recv:" + pdu},
        {"+CME ERROR: 10", "AT+CSCA?\r", "split:10,,nErr:10"},
        {"+CME ERROR:  3 ", "AT+CSCA?\r", "split:3,,nErr:3"},
        {"+CME ERROR: x", "AT+CSCA?\r", "split:x,,nErr:0"},
        {"EC20CEFAGR06A09M4G", "AT+CGMR\r",
         " EC20CEFAGR06A09M4G,recv GSM type:EC20CEFAGR06A09M4G, user opt:0"},
    };
    for (const Case& c : cases) {
        GsmState state;
        state.command = c.command;
        state.clcc_total = c.clcc_total;
        state.peer_number = c.peer;
        EXPECT_THAT(logs_of(gsm::handle_line(state, {}, kGsmLevels, c.line)),
                    ::testing::Contains(c.logged))
            << c.line;
    }

    GsmState sending;
    sending.sms_part = true;
    sending.pdu = "0011000D91683186753200F0000004D4F29C0E\x1A";
    EXPECT_THAT(logs_of(gsm::handle_prompt(sending, "> ")),
                ElementsAre(" short msg ,msglen:39,0011000D91683186753200F0000004D4F29C0E",
                            " start send short msg ,msglen:39 end "));
}

// The prompt queues nothing: the pump sends the part's own PDU at its next
// step, so nothing queued meanwhile can go in its place.
TEST(GsmReplyRules, ThePromptMarksTheCurrentPartsPduDueOnce)
{
    GsmState state;
    state.sms_part = true;
    state.ready = 0;
    state.pdu = "0011000D91683186753200F0000004D4F29C0E\x1A";
    EXPECT_THAT(effects(gsm::handle_prompt(state, "\r\n> ")), ElementsAre());
    EXPECT_TRUE(state.pdu_due);
    EXPECT_EQ(state.ready, 0);

    // A second prompt before or after the PDU went changes nothing.
    gsm::handle_prompt(state, "> ");
    EXPECT_TRUE(state.pdu_due);
    state.pdu_due = false;
    state.pdu_sent = true;
    gsm::handle_prompt(state, "> ");
    EXPECT_FALSE(state.pdu_due);

    // A stray prompt with no part under way sends nothing.
    GsmState idle;
    idle.ready = 0;
    EXPECT_THAT(effects(gsm::handle_prompt(idle, "> ")), ElementsAre());
    EXPECT_EQ(idle.ready, 0);
}

}  // namespace
