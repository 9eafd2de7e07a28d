// Caller-ID messages: the parser of single and multiple data messages on a
// table of hand-made and spandsp-made bytes, and the line's OnCidData with
// its reporting rules, fed one byte at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "CLineDevice/cid_message.h"
#include "support/fake_clock.h"
#include "support/fake_paths.h"
#include "support/signal_test_line.h"
#include "support/spandsp_signals.h"
#include "support/temp_dir.h"

namespace {

using olva_test::callerId;
using olva_test::CidStandard;
using olva_test::SignalEvent;
using olva_test::LineAccess;
using olva_test::SignalTestLine;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Bytes = std::vector<std::uint8_t>;

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// type, length, body, checksum (the two's complement of the sum).
Bytes message(std::uint8_t type, const Bytes& body)
{
    Bytes out{type, static_cast<std::uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    unsigned sum = 0;
    for (std::uint8_t b : out)
        sum += b;
    out.push_back(static_cast<std::uint8_t>(-sum));
    return out;
}

Bytes sdmf(const std::string& time, const std::string& number)
{
    return message(cid_message::kTypeSdmf, text(time + number));
}

struct Param {
    std::uint8_t type;
    std::string value;
};

Bytes mdmf(const std::vector<Param>& params)
{
    Bytes body;
    for (const Param& p : params) {
        body.push_back(p.type);
        body.push_back(static_cast<std::uint8_t>(p.value.size()));
        body.insert(body.end(), p.value.begin(), p.value.end());
    }
    return message(cid_message::kTypeMdmf, body);
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(CidMessageTest, ParsesSingleAndMultipleDataMessages)
{
    using cid_message::Parse;
    struct Case {
        const char* what;
        Bytes bytes;
        bool type3;
        Parse result;
        cid_message::Texts texts;
    } const cases[] = {
        {"SDMF", sdmf("10011750", "13812345678"), false, Parse::kComplete, {"13812345678", "10011750", ""}},
        {"SDMF private", sdmf("10011750", "P"), false, Parse::kComplete, {"P", "10011750", ""}},
        {"SDMF out of area", sdmf("10011750", "O"), false, Parse::kComplete, {"O", "10011750", ""}},
        // Bytes up to 0x2F are dropped; others convert by their low nibble.
        {"SDMF number rule", message(0x04, text("12312359") + Bytes{'0', '-', ' ', '5', 'A', 0x3C}),
         false, Parse::kComplete, {"051x", "12312359", ""}},
        {"SDMF shorter than its time", message(0x04, text("1231")), false, Parse::kComplete,
         {"", "1231", ""}},
        {"SDMF from spandsp", spandspSdmf(CidStandard::Bell202, "10011750", "13812345678").bytes,
         false, Parse::kComplete, {"13812345678", "10011750", ""}},
        {"MDMF 1, 2, 7", mdmf({{1, "03151432"}, {2, "075512345678"}, {7, "ZHANG SAN"}}), false,
         Parse::kComplete, {"075512345678", "03151432", "ZHANG SAN"}},
        {"MDMF from spandsp",
         spandspMdmf(CidStandard::V23, {{1, "03151432"}, {2, "0755123"}, {7, "LI SI"}}).bytes, false,
         Parse::kComplete, {"0755123", "03151432", "LI SI"}},
        {"MDMF 4 'P' ends the walk", mdmf({{1, "12312359"}, {4, "P"}, {7, "ZHANG SAN"}}), false,
         Parse::kComplete, {"P", "12312359", ""}},
        {"MDMF 4 'O'", mdmf({{2, "123"}, {4, "O"}}), false, Parse::kComplete, {"O", "", ""}},
        {"MDMF 4 other", mdmf({{2, "123"}, {4, "X"}, {7, "A"}}), false, Parse::kComplete, {"123", "", ""}},
        {"MDMF 8", mdmf({{1, "12312359"}, {8, "O"}}), false, Parse::kComplete, {"", "12312359", "O"}},
        {"MDMF type 3 off", mdmf({{2, "123"}, {3, "45"}}), false, Parse::kComplete, {"123", "", ""}},
        {"MDMF type 3 on", mdmf({{2, "123"}, {3, "45"}}), true, Parse::kComplete, {"12345", "", ""}},
        {"MDMF unknown skipped", mdmf({{9, "zzz"}, {2, "12"}}), false, Parse::kComplete, {"12", "", ""}},
        {"MDMF digit rule", mdmf({{2, "1*#9"}}), false, Parse::kComplete, {"1x39", "", ""}},
        {"MDMF shorter than 3", message(0x80, {2, 0}), false, Parse::kComplete, {"", "", ""}},
        {"MDMF parameter past the body", message(0x80, {2, 9, '1', '2', '3'}), false,
         Parse::kComplete, {"123", "", ""}},
        {"other type", message(0x82, text("12345678")), false, Parse::kComplete, {"", "", ""}},
        {"preamble skipped", Bytes{0x55, 0xD5, 0x55, 0xD5} + sdmf("10011750", "12"), false,
         Parse::kComplete, {"12", "10011750", ""}},
        {"L = 0", Bytes{0x04, 0x00, 0x00, 0x00, 0x00}, false, Parse::kEmpty, {}},
        {"too short to look at", Bytes{0x04, 0x01, '1', 0x00}, false, Parse::kIncomplete, {}},
        {"truncated", Bytes{0x80, 20, 2, 3, '1', '2', '3'}, false, Parse::kIncomplete, {}},
        {"preamble only", Bytes(40, 0x55), false, Parse::kIncomplete, {}},
    };
    for (const Case& c : cases) {
        cid_message::Texts texts{"stale", "stale", "stale"};
        EXPECT_EQ(cid_message::parse(c.bytes.data(), c.bytes.size(), c.type3, texts), c.result)
            << c.what;
        if (c.result == Parse::kComplete) {
            EXPECT_EQ(texts.number, c.texts.number) << c.what;
            EXPECT_EQ(texts.time, c.texts.time) << c.what;
            EXPECT_EQ(texts.name, c.texts.name) << c.what;
        }
    }
}

TEST(CidMessageTest, ACompleteMessageDoesNotWaitForItsChecksum)
{
    const Bytes m = sdmf("10011750", "12");
    cid_message::Texts texts;
    for (std::size_t n = 0; n + 1 < m.size(); ++n)
        EXPECT_EQ(cid_message::parse(m.data(), n, false, texts), cid_message::Parse::kIncomplete) << n;
    EXPECT_EQ(cid_message::parse(m.data(), m.size() - 1, false, texts), cid_message::Parse::kComplete);
}

class CallerIdTest : public ::testing::Test {
protected:
    CallerIdTest() { paths_.setApplicationDirectory(dir_.path()); }
    void TearDown() override { EXPECT_EQ(line_->events_under_lock.load(), 0); }

    void open(OLVA_PRODUCT product = OLVA_PRODUCT_TZ2401B)
    {
        line_ = std::make_unique<SignalTestLine>();
        line_->line_open(1, "", product, true);
        line_->clear();
    }

    olva_test::TempDir dir_;
    olva_test::FakePaths paths_;
    olva_test::FakeClock clock_;
    std::unique_ptr<SignalTestLine> line_ = std::make_unique<SignalTestLine>();
};

TEST_F(CallerIdTest, MessagesAreReportedByTheRules)
{
    const Bytes number = sdmf("10011750", "13812345678");
    const Bytes no_number = mdmf({{1, "10011751"}, {7, "ZHANG SAN"}});
    struct Case {
        const char* what;
        int cid_type;
        bool dtmf_cid;
        bool number_reported;
        int type3;
        std::string dial_buffer;
        Bytes bytes;
        std::vector<SignalEvent> events;
        bool fsk_cid;
    } const cases[] = {
        {"SDMF", 0, false, false, 0, "", number, {callerId("13812345678", "10011750", "")}, true},
        {"SDMF private", 0, false, false, 0, "", sdmf("10011750", "P"), {callerId("P", "10011750", "")}, true},
        {"MDMF", 0, false, false, 0, "",
         mdmf({{1, "03151432"}, {2, "075512345678"}, {7, "ZHANG SAN"}}),
         {callerId("075512345678", "03151432", "ZHANG SAN")}, true},
        {"MDMF withheld", 0, false, false, 0, "", mdmf({{4, "P"}, {7, "ZHANG SAN"}}),
         {callerId("P", "", "")}, true},
        {"type 3", 0, false, false, 1, "", mdmf({{2, "0755"}, {3, "99"}}), {callerId("075599", "", "")}, true},
        {"FSK only", 1, false, false, 0, "", number, {callerId("13812345678", "10011750", "")}, true},
        {"DTMF only", 2, false, false, 0, "", number, {}, false},
        {"DTMF caller ID under way", 0, true, false, 0, "138", number, {}, true},
        // A digit detected on the line is no DTMF caller ID.
        {"digits from an earlier call", 0, false, false, 0, "5", number,
         {callerId("13812345678", "10011750", "")}, true},
        {"empty number after a reported one", 0, false, true, 0, "", no_number, {}, true},
        {"empty number first", 0, false, false, 0, "", no_number, {callerId("", "10011751", "ZHANG SAN")}, true},
        {"a number after a reported one", 0, false, true, 0, "", number,
         {callerId("13812345678", "10011750", "")}, true},
        {"preamble", 0, false, false, 0, "", Bytes{0x55, 0xD5, 0x55, 0x55, 0xD5} + number,
         {callerId("13812345678", "10011750", "")}, true},
        {"L = 0", 0, false, false, 0, "", Bytes{0x04, 0x00, 0x00, 0x00, 0x00}, {}, false},
        {"truncated", 0, false, false, 0, "", Bytes(number.begin(), number.begin() + 12), {}, false},
    };
    for (const Case& c : cases) {
        open();
        LineAccess::setCidType(*line_, c.cid_type);
        LineAccess::setDtmfCid(*line_, c.dtmf_cid);
        LineAccess::setNumberReported(*line_, c.number_reported);
        LineAccess::setMdmfType3(*line_, c.type3);
        LineAccess::appendDial(*line_, c.dial_buffer);
        LineAccess::setDialling(*line_, true);
        line_->feedBytes(c.bytes);
        EXPECT_EQ(line_->events(), c.events) << c.what;
        EXPECT_EQ(LineAccess::fskCid(*line_), c.fsk_cid) << c.what;
        // Every complete message ends the dialling.
        const bool complete = c.what != std::string("truncated") && c.what != std::string("L = 0");
        EXPECT_EQ(LineAccess::dialling(*line_), !complete) << c.what;
    }
}

TEST_F(CallerIdTest, OneMessageIsTakenPerRing)
{
    open();
    line_->feedBytes(sdmf("10011750", "111"));
    line_->feedBytes(sdmf("10011751", "222"));
    EXPECT_THAT(line_->events(), ElementsAre(callerId("111", "10011750", "")));
    LineAccess::armCidMessage(*line_);
    line_->feedBytes(sdmf("10011752", "333"));
    EXPECT_THAT(line_->events(),
                ElementsAre(callerId("111", "10011750", ""), callerId("333", "10011752", "")));

    // An empty message also counts as the ring's message.
    line_->clear();
    LineAccess::armCidMessage(*line_);
    line_->feedBytes({0x04, 0x00, 0x00, 0x00, 0x00});
    line_->feedBytes(sdmf("10011753", "444"));
    EXPECT_THAT(line_->events(), IsEmpty());

    // A message cut short stays until the next ring empties it.
    LineAccess::armCidMessage(*line_);
    const Bytes cut = sdmf("10011754", "555");
    line_->feedBytes(Bytes(cut.begin(), cut.begin() + 6));
    EXPECT_THAT(line_->events(), IsEmpty());
    LineAccess::armCidMessage(*line_);
    line_->feedBytes(sdmf("10011755", "666"));
    EXPECT_THAT(line_->events(), ElementsAre(callerId("666", "10011755", "")));

    // And so does handld_cid_start.
    line_->clear();
    line_->handld_cid_start();
    line_->feedBytes(sdmf("10011756", "777"));
    EXPECT_THAT(line_->events(), ElementsAre(callerId("777", "10011756", "")));
}

TEST_F(CallerIdTest, TheThirdFskCallerIdGivesFskThePriority)
{
    struct Case {
        int priority_before;
        int priority_after;
    } const cases[] = {{0, 1}, {1, 1}};
    for (const Case& c : cases) {
        open();
        LineAccess::setFskPriority(*line_, c.priority_before);
        for (int i = 1; i <= 4; ++i) {
            LineAccess::armCidMessage(*line_);
            line_->feedBytes(sdmf("10011750", "12" + std::to_string(i)));
            EXPECT_EQ(LineAccess::fskCidCount(*line_), i);
            EXPECT_EQ(LineAccess::fskPriority(*line_), i < 3 ? c.priority_before : c.priority_after)
                << i;
        }
    }
    // Messages not reported are not counted.
    open();
    LineAccess::setDtmfCid(*line_, true);
    line_->feedBytes(sdmf("10011750", "123"));
    EXPECT_EQ(LineAccess::fskCidCount(*line_), 0);
}

TEST_F(CallerIdTest, ATz2501bRingsItsExtensionOnACallerId)
{
    struct Case {
        OLVA_PRODUCT product;
        int call_phase;
        bool rings;
    } const cases[] = {
        {OLVA_PRODUCT_TZ2501B, 2, true},
        {OLVA_PRODUCT_TZ2501B, 3, false},
        {OLVA_PRODUCT_TZ2401B, 2, false},
    };
    for (const Case& c : cases) {
        open(c.product);
        LineAccess::setCallPhase(*line_, c.call_phase);
        line_->feedBytes(sdmf("10011750", "123"));
        EXPECT_EQ(line_->count(OLVA_EVENT_CALLER_ID), 1);
        EXPECT_EQ(LineAccess::slicRingOn(*line_), c.rings) << c.product << " " << c.call_phase;
        EXPECT_EQ(LineAccess::cidRingFlag(*line_), c.rings ? 1 : 0);
        if (c.rings) {
            EXPECT_THAT(line_->calls, ElementsAre(SignalTestLine::Call{"slic ring", 1}));
            EXPECT_EQ(LineAccess::slicRingPhase(*line_), OLVA_STATE_RINGING);
            EXPECT_EQ(LineAccess::slicRingStart(*line_), clock_.wallMs() / 1000);
        } else {
            EXPECT_THAT(line_->calls, IsEmpty());
        }
    }
}

TEST_F(CallerIdTest, BytesWithoutAMessageAreBounded)
{
    open();
    // A preamble that never ends.
    line_->feedBytes(Bytes(2000, 0x55));
    EXPECT_EQ(LineAccess::cidBytes(*line_), CLineDevice::kMaxCidBytes);
    EXPECT_THAT(line_->events(), IsEmpty());
    LineAccess::armCidMessage(*line_);
    EXPECT_EQ(LineAccess::cidBytes(*line_), 0u);
    line_->feedBytes(sdmf("10011750", "123"));
    EXPECT_THAT(line_->events(), ElementsAre(callerId("123", "10011750", "")));
}

// A callback that calls back into the line: it must find no line mutex held.
class ReenteringLine final : public CLineDevice {
public:
    void fire_event(int event, unsigned long, unsigned long, unsigned long, unsigned long) override
    {
        handld_cid_start();
        set_busy_info(kBusyTone);
        (void)dial_buffer();
        (void)tag();
        events.push_back(event);
    }
    std::vector<int> events;
};

TEST_F(CallerIdTest, ACallbackMayCallIntoTheLine)
{
    ReenteringLine line;
    line.line_open(1, "", OLVA_PRODUCT_TZ2401B, true);
    line.events.clear();
    line.handld_dtmf_code(14);
    for (std::uint8_t b : sdmf("10011750", "123"))
        line.OnCidData(b);
    olva_test::Samples keys = olva_test::silence(200);
    olva_test::append(keys, olva_test::spandspDtmf("5", -10, 0, 100, 100));
    for (std::size_t at = 0; at + 160 <= keys.size(); at += 160)
        line.handle_record_wave(reinterpret_cast<char*>(keys.data() + at), CLineDevice::kFrameBytes);
    EXPECT_THAT(line.events, ElementsAre(OLVA_EVENT_DTMF_DOWN, OLVA_EVENT_CALLER_ID,
                                         OLVA_EVENT_DTMF_DOWN));
}

}  // namespace
