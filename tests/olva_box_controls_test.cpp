// The line switches of each model, as the box sends them: one table per
// model of every hardware operation a line has, with the reports it sends
// (none is an explicit row) and what it answers; the soft hook of the
// library; a line without its box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "olva_device/olva_device.h"
#include "sim/sim_register_box.h"
#include "sim/sim_report17_box.h"
#include "sim/sim_tz2401.h"
#include "sim/sim_tz2501a.h"
#include "support/box_sim_fixture.h"
#include "support/fake_pcm.h"
#include "support/opened_as_box.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimReport17Box;
using olva_sim::SimTz2401Box;
using olva_sim::SimTz2501ABox;
using olva_test::OlvaDeviceAccess;
using olva_test::TestBox;
using platform::PcmStream;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using Bytes = std::vector<std::uint8_t>;
using Line = OlvaDevice::CBoxLineDevice;

// One write to a Tz2501B latch, read back from its pin reports: the output
// takes G1 bit 3 when the latch's strobe (G1 bit 4, G3 bit 0) goes low.
struct LatchWrite {
    int latch;
    int output;
    int value;
    bool operator==(const LatchWrite&) const = default;
};

void PrintTo(const LatchWrite& w, std::ostream* out)
{
    *out << "L" << w.latch << " f" << w.output << "=" << w.value;
}

std::vector<LatchWrite> latchWrites(const std::vector<SimRegisterBox::Pins>& pins)
{
    std::vector<LatchWrite> writes;
    bool strobe1 = true;
    bool strobe2 = true;
    for (const SimRegisterBox::Pins& p : pins) {
        const bool now1 = (p.g1 & 0x10) != 0;
        const bool now2 = (p.g3 & 0x01) != 0;
        if (strobe1 && !now1)
            writes.push_back({1, p.g1 & 7, (p.g1 >> 3) & 1});
        if (strobe2 && !now2)
            writes.push_back({2, p.g1 & 7, (p.g1 >> 3) & 1});
        strobe1 = now1;
        strobe2 = now2;
    }
    return writes;
}

// An operation of a line, and its answer as an int.
struct Operation {
    const char* name;
    std::function<int(Line&)> run;
};

const std::vector<Operation>& operations()
{
    static const std::vector<Operation> kOperations = {
        {"ch_switch on", [](Line& l) { return l.control_ch_switch(true); }},
        {"ch_switch off", [](Line& l) { return l.control_ch_switch(false); }},
        {"ch_led on", [](Line& l) { return l.control_ch_led(true), 0; }},
        {"led_twinkle", [](Line& l) { return l.control_led_twinkle(), 0; }},
        {"slic_ring on", [](Line& l) { return l.control_slic_ring(1); }},
        {"slic_ring off", [](Line& l) { return l.control_slic_ring(0); }},
        {"hookoff_switch on", [](Line& l) { return int{l.open_hookoff_switch(true)}; }},
        {"hookoff_switch off", [](Line& l) { return int{l.open_hookoff_switch(false)}; }},
        {"slic_switch on", [](Line& l) { return int{l.open_Tz2501b_slic_switch(true)}; }},
        {"slic_switch off", [](Line& l) { return int{l.open_Tz2501b_slic_switch(false)}; }},
        {"playfile_switch on", [](Line& l) { return int{l.open_Tz2501b_playfile_switch(true)}; }},
        {"playfile_to_slic on", [](Line& l) { return int{l.open_Tz2501b_playfile_to_slic(true)}; }},
        {"close_polarity", [](Line& l) { return int{l.Tz2501b_close_polarity()}; }},
        {"close_audio_mute", [](Line& l) { return l.tz2501_close_audio_mute(), 0; }},
        {"mic_start on", [](Line& l) { return l.control_mic_start(true), 0; }},
        {"tz2701_gpio 19 on", [](Line& l) { return l.set_Tz2701_gpio(19, 1), 0; }},
    };
    return kOperations;
}

const Operation& operation(const std::string& name)
{
    for (const Operation& op : operations())
        if (name == op.name)
            return op;
    ADD_FAILURE() << "no operation " << name;
    return operations().front();
}

class BoxControlsTest : public olva_test::BoxSimTest {
protected:
    void SetUp() override { listCardOfAnyLocation(1, olva_test::kTz2401CardId); }
    void addCard(int card)
    {
        const std::string number = std::to_string(card);
        pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture);
        pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback);
    }

    olva_test::FakePcmFactory pcm_;
};

// Tz2401B: only its channel switch has a report; the Tz2501B's switches
// and the hook relay are not on this model.
struct Tz2401bRow {
    const char* operation;
    std::vector<Bytes> reports;
    int result;
};

const Tz2401bRow kTz2401bRows[] = {
    {"ch_switch on", {{3, 0x24, 0, 0, 0, 0, 0, 0}}, 0},
    {"ch_switch off", {{3, 0x25, 0, 0, 0, 0, 0, 0}}, 0},
    {"ch_led on", {}, 0},
    {"led_twinkle", {}, 0},
    {"slic_ring on", {}, OLVA_PRODUCT_TZ2401B},
    {"slic_ring off", {}, OLVA_PRODUCT_TZ2401B},
    {"hookoff_switch on", {}, 0},
    {"hookoff_switch off", {}, 0},
    {"slic_switch on", {}, 0},
    {"slic_switch off", {}, 0},
    {"playfile_switch on", {}, 0},
    {"playfile_to_slic on", {}, 0},
    {"close_polarity", {}, 0},
    {"close_audio_mute", {}, 0},
    {"mic_start on", {}, 0},
    {"tz2701_gpio 19 on", {}, 0},
};

TEST_F(BoxControlsTest, ATz2401bSendsOnlyItsChannelSwitch)
{
    // Every operation of a line has its row.
    ASSERT_EQ(std::size(kTz2401bRows), operations().size());
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    addCard(1);
    TestBox box;
    ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    for (const Tz2401bRow& row : kTz2401bRows) {
        SCOPED_TRACE(row.operation);
        sim_.clearTrace();
        EXPECT_EQ(operation(row.operation).run(OlvaDeviceAccess::line(box, 1)), row.result);
        EXPECT_THAT(sim_.reports(sim_box), ElementsAreArray(row.reports));
    }
}

// Tz2501B: every switch is a latch write; they are the box's, the same from
// either line.
struct Tz2501bRow {
    const char* operation;
    std::vector<LatchWrite> writes;
    int result;
};

const Tz2501bRow kTz2501bRows[] = {
    {"ch_switch on", {}, 0},
    {"ch_switch off", {}, 0},
    {"ch_led on", {}, 0},
    {"led_twinkle", {}, 0},
    {"slic_ring on", {{2, 6, 1}}, 1},
    {"slic_ring off", {{2, 6, 0}}, 1},
    {"hookoff_switch on", {{2, 4, 1}}, 1},
    {"hookoff_switch off", {{2, 4, 0}}, 1},
    {"slic_switch on", {{2, 0, 1}, {1, 3, 1}, {1, 4, 1}}, 1},
    {"slic_switch off", {{2, 0, 0}, {1, 3, 1}, {1, 4, 0}, {1, 5, 0}, {1, 6, 0}}, 1},
    {"playfile_switch on", {{1, 2, 1}}, 1},
    {"playfile_to_slic on", {{1, 1, 1}}, 1},
    {"close_polarity", {{2, 7, 1}, {2, 5, 1}}, 1},
    {"close_audio_mute", {}, 0},
    {"mic_start on", {}, 0},
    {"tz2701_gpio 19 on", {}, 0},
};

TEST_F(BoxControlsTest, ATz2501bSetsItsLatchesFromEitherLine)
{
    ASSERT_EQ(std::size(kTz2501bRows), operations().size());
    SimRegisterBox& sim_box = sim_.plug<SimRegisterBox>();
    addCard(1);
    TestBox box;
    ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2501B));
    for (unsigned long line : {1ul, 2ul}) {
        for (const Tz2501bRow& row : kTz2501bRows) {
            SCOPED_TRACE(std::string(row.operation) + " on line " + std::to_string(line));
            const std::size_t before = sim_box.pins().size();
            EXPECT_EQ(operation(row.operation).run(OlvaDeviceAccess::line(box, line)), row.result);
            const std::vector<SimRegisterBox::Pins> all = sim_box.pins();
            const std::vector<SimRegisterBox::Pins> sent(all.begin() + static_cast<long>(before),
                                                         all.end());
            EXPECT_THAT(latchWrites(sent), ElementsAreArray(row.writes));
        }
    }
    // The latches hold what was written last.
    EXPECT_EQ(sim_box.latch2(6), 0);
    EXPECT_EQ(sim_box.latch2(4), 0);
    EXPECT_EQ(sim_box.latch1(2), 1);
    EXPECT_EQ(sim_box.latch2(7), 1);
}

// Tz2402D (register firmware 0x70): the hook relays are bits 0 (line 1) and
// 1 (line 2) of its first pin byte, written with the pin report; the
// channel switch would need the SPI command, which no box here has: five
// tries 10 ms apart, then -1. The Tz2501B's switches are not on this model.
struct Tz2402dRow {
    const char* operation;
    // The reports of line 1 and of line 2.
    std::vector<Bytes> line1_reports;
    std::vector<Bytes> line2_reports;
    int result;
    std::vector<int> pauses;
};

const std::vector<int> kSpiTries = {10, 10, 10, 10, 10};

const Tz2402dRow kTz2402dRows[] = {
    {"ch_switch on", {}, {}, -1, kSpiTries},
    {"ch_switch off", {}, {}, -1, kSpiTries},
    {"ch_led on", {}, {}, 0, {}},
    {"led_twinkle", {}, {}, 0, {}},
    {"slic_ring on", {}, {}, OLVA_PRODUCT_TZ2402B, {}},
    {"slic_ring off", {}, {}, OLVA_PRODUCT_TZ2402B, {}},
    {"hookoff_switch on", {{0, 0x60, 0x3D, 0x1C, 0x3F}}, {{0, 0x60, 0x3E, 0x1C, 0x3F}}, 1, {}},
    {"hookoff_switch off", {{0, 0x60, 0x3C, 0x1C, 0x3F}}, {{0, 0x60, 0x3C, 0x1C, 0x3F}}, 1, {}},
    {"slic_switch on", {}, {}, 0, {}},
    {"slic_switch off", {}, {}, 0, {}},
    {"playfile_switch on", {}, {}, 0, {}},
    {"playfile_to_slic on", {}, {}, 0, {}},
    {"close_polarity", {}, {}, 0, {}},
    {"close_audio_mute", {}, {}, 0, {}},
    {"mic_start on", {}, {}, 0, {}},
    {"tz2701_gpio 19 on", {}, {}, 0, {}},
};

TEST_F(BoxControlsTest, ATz2402dSwitchesOnlyItsHookRelays)
{
    ASSERT_EQ(std::size(kTz2402dRows), operations().size());
    SimRegisterBox& sim_box = sim_.plug<SimRegisterBox>();
    olva_test::OpenedAsBox box;
    ASSERT_TRUE(OlvaDeviceAccess::openAs(box, sim_.path(sim_box), OLVA_PRODUCT_TZ2402B, 0x70));
    // The pins as the box's start leaves them.
    ASSERT_TRUE(box.Tz2402D_GPIO_init(1));
    for (unsigned long line : {1ul, 2ul}) {
        for (const Tz2402dRow& row : kTz2402dRows) {
            SCOPED_TRACE(std::string(row.operation) + " on line " + std::to_string(line));
            sim_.clearTrace();
            sleeper_.clear();
            EXPECT_EQ(operation(row.operation).run(OlvaDeviceAccess::openedLine(box, line)),
                      row.result);
            EXPECT_THAT(sim_.reports(sim_box),
                        ElementsAreArray(line == 1 ? row.line1_reports : row.line2_reports));
            EXPECT_THAT(sleeper_.pauses(), ElementsAreArray(row.pauses));
        }
    }
    // Its soft hook is not the library's: the relays are switched through
    // the line only.
    sim_.clearTrace();
    EXPECT_EQ(box.olva_soft_hook_off(1), -1);
    EXPECT_EQ(box.olva_soft_hook_on(1), -1);
    EXPECT_THAT(sim_.reports(sim_box), IsEmpty());
}

TEST_F(BoxControlsTest, ATz2501bSoftHookSwitchesTheLineAndTheEarphone)
{
    SimRegisterBox& sim_box = sim_.plug<SimRegisterBox>();
    addCard(1);
    TestBox box;
    ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2501B));
    EXPECT_EQ(box.olva_soft_hook_off(1), 0);
    EXPECT_EQ(sim_box.latch2(4), 1);
    // The earphone follows the line by default on this model.
    EXPECT_EQ(sim_box.latch2(1), 1);
    EXPECT_EQ(sim_box.latch1(5), 1);
    EXPECT_EQ(sim_box.latch1(6), 1);
    EXPECT_EQ(box.olva_soft_hook_on(1), 0);
    EXPECT_EQ(sim_box.latch2(4), 0);
    EXPECT_EQ(sim_box.latch2(1), 0);
    EXPECT_EQ(sim_box.latch1(5), 0);
    EXPECT_EQ(sim_box.latch1(6), 0);
}

TEST_F(BoxControlsTest, ModelsWithoutASoftHookRefuseItAndSendNothing)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    addCard(1);
    TestBox box;
    ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    sim_.clearTrace();
    EXPECT_EQ(box.olva_soft_hook_off(1), -1);
    EXPECT_EQ(box.olva_soft_hook_on(1), -1);
    EXPECT_EQ(box.open_hookoff_switch(1, true), -1);
    EXPECT_EQ(box.control_line_hookoff(1, true), -1);
    EXPECT_THAT(sim_.reports(sim_box), IsEmpty());
    // Fixed answers, whatever the model.
    EXPECT_TRUE(box.set_message_param(true));
    EXPECT_TRUE(box.olva_open_buzzer(false));
    EXPECT_EQ(box.Mod_write_spi_cmd(0x4C, 0x10), -1);
}

// The Tz2501A's relay closes in two stages: bit 6 of G1 alone, 50 ms, then
// bits 6 and 7; it opens with bit 6 cleared. A lost first stage still
// takes its pause and the second stage, which closes the relay whole.
TEST_F(BoxControlsTest, ATz2501aSwitchesItsRelayInTwoStages)
{
    // A report is lost when every one of its three attempts fails.
    constexpr int kLostReport = 3;
    SimTz2501ABox& sim_box = sim_.plug<SimTz2501ABox>();
    olva_test::OpenedAsBox box;
    ASSERT_TRUE(OlvaDeviceAccess::openAs(box, sim_.path(sim_box), OLVA_PRODUCT_TZ2501A));
    struct Case {
        const char* name;
        bool on;
        bool lose_first;
        std::vector<std::uint8_t> g1_sent;  // G1 of each pin report that arrived
        std::vector<int> pauses;
    };
    const Case cases[] = {
        {"on", true, false, {0x40, 0xC0}, {50}},
        {"off", false, false, {0x80}, {}},
        {"on again", true, false, {0x40, 0xC0}, {50}},
        {"on, first stage lost", true, true, {0xC0}, {50}},
        {"off after the lost stage", false, false, {0x80}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim_.clearTrace();
        sleeper_.clear();
        if (c.lose_first)
            sim_.failTransfers(sim_box, olva_sim::kOutputTransfers, 0, kLostReport, usb::kErrorIo);
        // The line's switch answers 0 whatever the box took.
        EXPECT_EQ(OlvaDeviceAccess::openedLine(box, 1).control_ch_switch(c.on), 0);
        std::vector<std::uint8_t> g1;
        for (const Bytes& report : sim_.reports(sim_box)) {
            ASSERT_EQ(report.size(), 5u);
            g1.push_back(report[2]);
        }
        EXPECT_EQ(g1, c.g1_sent);
        EXPECT_THAT(sleeper_.pauses(), ElementsAreArray(c.pauses));
    }
    // The hook relay is the same relay: a lost first stage fails the
    // switch, though the second went out.
    sim_.clearTrace();
    sim_.failTransfers(sim_box, olva_sim::kOutputTransfers, 0, kLostReport, usb::kErrorIo);
    EXPECT_FALSE(OlvaDeviceAccess::openedLine(box, 1).open_hookoff_switch(true));
    ASSERT_EQ(sim_.reports(sim_box).size(), 1u);
    EXPECT_EQ(sim_.reports(sim_box)[0][2], 0xC0);
}

// The Tz2402's channel switch by firmware generation: below 0x60 bit 6
// (line 1) or bit 2 (line 2) of the first GPIO data byte, from 0x60 to
// 0x6F bit 7 or bit 5 of the second; each time the four GPIO bytes go out
// as [0, 0x05, 0x04, data, data2, dir, dir2, 0...].
TEST_F(BoxControlsTest, ATz2402SwitchesItsChannelByFirmwareGeneration)
{
    struct Case {
        std::uint8_t firmware;
        unsigned long line;
        std::size_t byte;  // index in the report: 3 data, 4 data2
        std::uint8_t bit;
    };
    const Case cases[] = {
        {0x42, 1, 3, 0x40}, {0x42, 2, 3, 0x04}, {0x5F, 1, 3, 0x40},
        {0x60, 1, 4, 0x80}, {0x60, 2, 4, 0x20}, {0x6F, 2, 4, 0x20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("firmware " + std::to_string(c.firmware) + ", line " + std::to_string(c.line));
        SimReport17Box& sim_box = sim_.plug<SimReport17Box>();
        olva_test::OpenedAsBox box;
        ASSERT_TRUE(
            OlvaDeviceAccess::openAs(box, sim_.path(sim_box), OLVA_PRODUCT_TZ2402B, c.firmware));
        Line& line = OlvaDeviceAccess::openedLine(box, c.line);
        sim_.clearTrace();
        EXPECT_EQ(line.control_ch_switch(true), 0);
        EXPECT_EQ(line.control_ch_switch(false), 0);
        const auto reports = sim_.reports(sim_box);
        ASSERT_EQ(reports.size(), 2u);
        for (const Bytes& report : reports) {
            ASSERT_EQ(report.size(), 17u);
            EXPECT_EQ(Bytes(report.begin(), report.begin() + 3), (Bytes{0, 0x05, 0x04}));
            EXPECT_EQ(Bytes(report.begin() + 7, report.end()), Bytes(10, 0));
        }
        EXPECT_EQ(reports[0][c.byte], c.bit);
        EXPECT_EQ(reports[1][c.byte], 0);
        // Only that bit changed between on and off.
        Bytes off = reports[1];
        off[c.byte] = static_cast<std::uint8_t>(off[c.byte] | c.bit);
        EXPECT_EQ(off, reports[0]);
        box.hidClose();
    }
}

// The LED blink of a Tz2402 on firmware 0x70 or later: 2 in line 1's high
// nibble or line 2's low nibble, the other nibble kept; no report.
TEST_F(BoxControlsTest, ALedBlinksInItsLinesNibbleOnTheNewestTz2402Only)
{
    struct Case {
        const char* name;
        OLVA_PRODUCT product;
        std::uint8_t firmware;
        std::vector<unsigned long> lines;  // blinked in this order
        std::uint8_t led;
    };
    const Case cases[] = {
        {"line 1", OLVA_PRODUCT_TZ2402B, 0x70, {1}, 0x20},
        {"line 2", OLVA_PRODUCT_TZ2402B, 0x70, {2}, 0x02},
        {"both", OLVA_PRODUCT_TZ2402B, 0x81, {2, 1}, 0x22},
        {"older firmware", OLVA_PRODUCT_TZ2402B, 0x6F, {1, 2}, 0x00},
        {"Tz2501B", OLVA_PRODUCT_TZ2501B, 0x80, {1, 2}, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRegisterBox& sim_box = sim_.plug<SimRegisterBox>();
        olva_test::OpenedAsBox box;
        ASSERT_TRUE(OlvaDeviceAccess::openAs(box, sim_.path(sim_box), c.product, c.firmware));
        sim_.clearTrace();
        for (unsigned long line : c.lines)
            OlvaDeviceAccess::openedLine(box, line).control_led_twinkle();
        EXPECT_EQ(box.led_state(), c.led);
        EXPECT_THAT(sim_.reports(sim_box), IsEmpty());
        box.hidClose();
    }
}

// Line 2 is opened on every model but the Tz2401B and the Tz2701A.
TEST_F(BoxControlsTest, EachModelOpensTheLinesItHas)
{
    struct Case {
        const char* name;
        OLVA_PRODUCT product;
        std::function<SimBox&()> plug;
        bool line2;
    };
    const Case cases[] = {
        {"Tz2401B", OLVA_PRODUCT_TZ2401B,
         [&]() -> SimBox& { return sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b()); }, false},
        {"Tz2701A", OLVA_PRODUCT_TZ2701A,
         [&]() -> SimBox& { return sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a()); }, false},
        {"Tz2501A", OLVA_PRODUCT_TZ2501A, [&]() -> SimBox& { return sim_.plug<SimTz2501ABox>(); }, true},
        {"Tz2402B", OLVA_PRODUCT_TZ2402B, [&]() -> SimBox& { return sim_.plug<SimReport17Box>(); }, true},
        {"Tz2502A", OLVA_PRODUCT_TZ2502A, [&]() -> SimBox& { return sim_.plug<SimReport17Box>(); }, true},
        {"Tz2501B", OLVA_PRODUCT_TZ2501B, [&]() -> SimBox& { return sim_.plug<SimRegisterBox>(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimBox& sim_box = c.plug();
        olva_test::OpenedAsBox box;
        ASSERT_TRUE(OlvaDeviceAccess::openAs(box, sim_.path(sim_box), c.product));
        OlvaDeviceAccess::openLines(box);
        EXPECT_EQ(box.line(1).line_id(), 1u);
        EXPECT_EQ(box.line(2).line_id(), c.line2 ? 2u : CLineDevice::kNoLine);
        box.hidClose();
    }
}

TEST(BoxLineWithoutBoxTest, EveryOperationAnswersZeroAndDoesNothing)
{
    Line line;
    for (const Operation& op : operations()) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.run(line), 0);
    }
}

}  // namespace
