// Opening a box: probing and identification in order, the Tz2401B's line
// thresholds from "olva.ini", the Tz2501B's EEPROM check and the switch to
// the running mode.
#include <algorithm>
#include <functional>
#include <utility>

#include "base/base_ini.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2501b_eeprom.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

Bytes command(std::uint8_t cmd, std::uint8_t p1 = 0, std::uint8_t p2 = 0)
{
    return {3, cmd, p1, p2, 0, 0, 0, 0};
}

std::vector<Bytes> repeat(const Bytes& report, int times)
{
    return std::vector<Bytes>(static_cast<std::size_t>(times), report);
}

std::vector<Bytes> concat(std::initializer_list<std::vector<Bytes>> parts)
{
    std::vector<Bytes> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<Bytes> kProbes = repeat(command(0x30), 5);
// The default thresholds 3 and 18 and ring settings 15 and 3.
const std::vector<Bytes> kDefaultThresholds = {
    command(0xB8, 0x3D, 0x00), command(0xB7, 0x2D, 0x01), command(0x3E), command(0x3F),
    command(0x3A, 15, 0),      command(0x3B, 3, 0),       command(0x3E), command(0x3F)};

class IdentifyTest : public olva_test::HidSimTest {
protected:
    bool open(SimTz2401Box& box) { return hid_.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2401B); }
    int ini(const char* key) { return readIntValue("device", key, hid_.iniPath().c_str()); }

    HidTestBox hid_;
};

TEST_F(IdentifyTest, Tz2401bIsProbedIdentifiedAndGivenItsThresholds)
{
    auto options = SimTz2401Box::tz2401b(0x42);
    // Before 0x43 the device type does not count.
    options.device_type = 0x30;
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
    ASSERT_TRUE(open(box));
    EXPECT_EQ(hid_.model(), OLVA_PRODUCT_TZ2401B);
    EXPECT_EQ(hid_.version1(), 0x42);
    EXPECT_EQ(hid_.device_type(), 0x30);
    EXPECT_THAT(sim_.reports(box),
                ElementsAreArray(concat({kProbes, {command(0xF1), command(0xF2)}, kDefaultThresholds})));
    EXPECT_THAT(sleeper_.mine(), ElementsAre(20, 20, 20, 20, 20));
    EXPECT_EQ(box.hangWord(), 0x03D);
    EXPECT_EQ(box.hookOffWord(), 0x12D);
    EXPECT_EQ(box.ringThreshold(), 15);
    EXPECT_EQ(box.ringAlternations(), 3);
    // Every missing key was written back with its default.
    EXPECT_EQ(ini("hang_voltage"), 3);
    EXPECT_EQ(ini("hook_off_voltage"), 18);
    EXPECT_EQ(ini("ring_vol_thresh"), 15);
    EXPECT_EQ(ini("ring_vol_alt_thresh"), 3);
}

TEST_F(IdentifyTest, Firmware43WithGsmTypeIsRefinedToTz2701a)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a(0x43));
    ASSERT_TRUE(open(box));
    EXPECT_EQ(hid_.model(), OLVA_PRODUCT_TZ2701A);
    EXPECT_EQ(hid_.device_type(), 0x30);
    // USB mode five times, the type query, and the module control around
    // the settings that wait in the queue for the pump; then the three
    // stored copies of the user number, five pieces each: the piece's
    // address, then the request for it.
    const Bytes usb_mode = {3, 0xA5, 0x00, 0x10, 0x01, 0x00, 0x00, 0x00};
    const Bytes type_query = {3, 0xA0, 0xA1, 0x07, 0x00, 0x00, 0x00, 0x00};
    std::vector<Bytes> user_number_reads;
    for (int piece = 0; piece < 15; ++piece) {
        const auto addr = static_cast<std::uint8_t>(0x80 + 4 * piece);
        user_number_reads.push_back({3, 0xA5, 0x00, 0x32, 0x00, addr, 0, 0});
        user_number_reads.push_back({3, 0xA0, 0xA3, 0x07, 0x00, 0x00, addr, 0});
    }
    EXPECT_THAT(sim_.reports(box),
                ElementsAreArray(concat({kProbes,
                                         {command(0xF1), command(0xF2), command(0xF2)},
                                         repeat(usb_mode, 5),
                                         {type_query, command(0x14), command(0x14)},
                                         user_number_reads})));
    EXPECT_THAT(sleeper_.mine(), ElementsAre(20, 20, 20, 20, 20, 1000, 10, 10, 10, 10, 10));
    // The sim's type reply: a 4G module, SIM slot 1 working.
    EXPECT_EQ(hid_.version2(), 0x20);
    EXPECT_EQ(hid_.active_sim(), 0);
    // Six GPIO settings and six talk paths wait in the queue for the pump.
    EXPECT_EQ(hid_.queued_commands(), 12u);
    EXPECT_EQ(HidDeviceAccess::gsmLevels().speaker_2g, 40);
    EXPECT_EQ(HidDeviceAccess::gsmLevels().mic_gain_ec200[1], 35000);
    // No thresholds for a Tz2701A.
    EXPECT_EQ(box.hangWord(), -1);
}

TEST_F(IdentifyTest, Firmware43WithAnotherTypeStaysTz2401bAfterFiveAttempts)
{
    auto options = SimTz2401Box::tz2401b(0x43);
    options.device_type = 0x31;
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
    ASSERT_TRUE(open(box));
    EXPECT_EQ(hid_.model(), OLVA_PRODUCT_TZ2401B);
    EXPECT_EQ(hid_.device_type(), 0x31);
    EXPECT_THAT(sim_.reports(box),
                ElementsAreArray(concat({kProbes, {command(0xF1)}, repeat(command(0xF2), 6),
                                         kDefaultThresholds})));
    EXPECT_THAT(sleeper_.mine(), ElementsAre(20, 20, 20, 20, 20, 1000, 1000, 1000, 1000, 1000));
}

// The type reply's bytes 3 to 5: a standalone box (0) is set to USB mode
// once more; with a module type, SIMs (0, 0) make slot 1 the working one
// and (1, 0) slot 2; a module type of 0 reads no SIM.
TEST_F(IdentifyTest, TheTypeReplyNamesTheStandaloneModeAndTheWorkingSim)
{
    const Bytes usb_mode = {3, 0xA5, 0x00, 0x10, 0x01, 0x00, 0x00, 0x00};
    const Bytes type_query = {3, 0xA0, 0xA1, 0x07, 0x00, 0x00, 0x00, 0x00};
    struct Case {
        const char* name;
        std::uint8_t module_type;
        std::uint8_t standalone, sim_a, sim_b;
        int usb_modes;
        int active_sim;
    };
    const Case cases[] = {
        {"standalone, first SIM", 0x20, 0, 0, 0, 6, 0},
        {"second SIM", 0x09, 1, 1, 0, 5, 1},
        {"standalone, second SIM", 0x09, 0, 1, 0, 6, 1},
        {"module type 0 reads no SIM", 0x00, 1, 1, 0, 5, 0},
        {"module type 0, standalone", 0x00, 0, 1, 0, 6, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto options = SimTz2401Box::tz2701a(0x43);
        options.module_type = c.module_type;
        options.standalone = c.standalone;
        options.sim_a = c.sim_a;
        options.sim_b = c.sim_b;
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
        HidTestBox hid;
        ASSERT_TRUE(hid.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
        EXPECT_EQ(hid.version2(), c.module_type);
        EXPECT_EQ(hid.active_sim(), c.active_sim);
        const auto reports = sim_.reports(box);
        EXPECT_EQ(std::count(reports.begin(), reports.end(), usb_mode), c.usb_modes);
        // The extra one follows the type reply.
        const auto query = std::find(reports.begin(), reports.end(), type_query);
        ASSERT_NE(query, reports.end());
        EXPECT_EQ(query + 1 != reports.end() && *(query + 1) == usb_mode, c.standalone == 0);
    }
}

// Any other SIM pair leaves the working SIM as it was.
TEST_F(IdentifyTest, AnotherSimPairKeepsTheWorkingSim)
{
    auto options = SimTz2401Box::tz2701a(0x43);
    options.sim_a = 1;
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
    ASSERT_TRUE(open(box));
    ASSERT_EQ(hid_.active_sim(), 1);
    sim_.clearTrace();
    for (const auto& [a, b] : {std::pair{1, 1}, std::pair{0, 1}, std::pair{2, 0}}) {
        hid_.set_simcard_state(1, static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b));
        EXPECT_EQ(hid_.active_sim(), 1) << a << "," << b;
    }
    EXPECT_THAT(sim_.reports(box), IsEmpty());
    hid_.set_simcard_state(1, 0, 0);
    EXPECT_EQ(hid_.active_sim(), 0);
}

// No type reply in five attempts: no module type is known, the SIM is not
// read and the box is set up as a Tz2701A all the same.
TEST_F(IdentifyTest, AMissingTypeReplyReadsNoSim)
{
    auto options = SimTz2401Box::tz2701a(0x43);
    options.standalone = 0;
    options.sim_a = 1;
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
    box.dropReplies(0xA0, 5);
    HidDeviceAccess::setReplyTimeout(hid_, 20);
    ASSERT_TRUE(open(box));
    EXPECT_EQ(hid_.model(), OLVA_PRODUCT_TZ2701A);
    EXPECT_EQ(hid_.version2(), 0);
    EXPECT_EQ(hid_.active_sim(), 0);
    const Bytes usb_mode = {3, 0xA5, 0x00, 0x10, 0x01, 0x00, 0x00, 0x00};
    const Bytes type_query = {3, 0xA0, 0xA1, 0x07, 0x00, 0x00, 0x00, 0x00};
    const auto reports = sim_.reports(box);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), usb_mode), 5);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), type_query), 5);
}

TEST_F(IdentifyTest, ALateGsmTypeAnswerStillMakesATz2701a)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a(0x44));
    // No answer to the first type request and the first two attempts.
    box.dropReplies(0xF2, 3);
    HidDeviceAccess::setReplyTimeout(hid_, 20);
    ASSERT_TRUE(open(box));
    EXPECT_EQ(hid_.model(), OLVA_PRODUCT_TZ2701A);
    EXPECT_EQ(box.commandCount(0xF2), 4);
    EXPECT_EQ(box.hangWord(), -1);
}

TEST_F(IdentifyTest, VersionRequestsAreRetriedFiveTimes)
{
    struct Case {
        int unanswered;
        bool opens;
    };
    for (const Case& c : {Case{4, true}, Case{5, false}}) {
        SCOPED_TRACE(c.unanswered);
        sleeper_.clear();
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        box.dropReplies(0xF1, c.unanswered);
        HidTestBox hid;
        HidDeviceAccess::setReplyTimeout(hid, 20);
        EXPECT_EQ(hid.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2401B), c.opens);
        std::vector<Bytes> expected = kProbes;
        for (int i = 0; i < c.unanswered; ++i) {
            expected.push_back(command(0xF1));
            expected.push_back(command(0x30));
        }
        if (c.opens)
            expected = concat({expected, {command(0xF1), command(0xF2)}, kDefaultThresholds});
        EXPECT_EQ(sim_.reports(box), expected);
        std::vector<int> sleeps(5, 20);
        sleeps.insert(sleeps.end(), static_cast<std::size_t>(c.unanswered), 1000);
        EXPECT_EQ(sleeper_.mine(), sleeps);
        hid.hidClose();
        EXPECT_FALSE(hid.read_thread_active());
    }
}

TEST_F(IdentifyTest, ThresholdsComeFromOlvaIni)
{
    struct Case {
        const char* name;
        int hang, hook_off;
        int hang_word, hook_off_word;
    };
    const Case cases[] = {
        {"in range", 5, 20, 0x05B, 0x14B},
        {"nibbles add up to 16", 0x88, 0x0F, 0x880, 0x0F1},
        // A word would need a negative check nibble: the default is sent.
        {"nibbles overflow", 0x99, 0x2F, 0x03D, 0x12D},
        {"out of the byte", 300, -5, 0x03D, 0x12D},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        HidTestBox hid;
        const std::string ini = hid.iniPath();
        writeIntValue("device", "hang_voltage", c.hang, ini.c_str());
        writeIntValue("device", "hook_off_voltage", c.hook_off, ini.c_str());
        writeIntValue("device", "ring_vol_thresh", 9, ini.c_str());
        writeIntValue("device", "ring_vol_alt_thresh", 2, ini.c_str());
        ASSERT_TRUE(hid.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
        EXPECT_EQ(box.hangWord(), c.hang_word);
        EXPECT_EQ(box.hookOffWord(), c.hook_off_word);
        EXPECT_EQ(box.ringThreshold(), 9);
        EXPECT_EQ(box.ringAlternations(), 2);
        // A refused value stays in the file as the user wrote it.
        EXPECT_EQ(readIntValue("device", "hang_voltage", ini.c_str()), c.hang);
    }
}

// A value that has no threshold word is logged with the default that
// replaces it, and the log names each word that went to the box.
TEST_F(IdentifyTest, TheThresholdWordsSentAreLogged)
{
    olva_test::LogCapture log;
    ASSERT_TRUE(log.started());
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    writeIntValue("device", "hang_voltage", 0x99, hid_.iniPath().c_str());
    writeIntValue("device", "hook_off_voltage", 0x88, hid_.iniPath().c_str());
    ASSERT_TRUE(open(box));
    EXPECT_EQ(box.hangWord(), 0x03D);
    EXPECT_EQ(box.hookOffWord(), 0x880);
    const std::string text = log.text();
    EXPECT_THAT(text, ::testing::HasSubstr("hang_voltage 153 does not fit the threshold word, 3 is used"));
    EXPECT_THAT(text, ::testing::HasSubstr("hang_voltage word sent: p1 0x3d, p2 0x00"));
    EXPECT_THAT(text, ::testing::HasSubstr("hook_off_voltage word sent: p1 0x80, p2 0x08"));
}

TEST(ThresholdWord, NibblesAndCheck)
{
    struct Case {
        int threshold;
        bool fits;
        std::uint8_t p1, p2;
    };
    const Case cases[] = {
        {3, true, 0x3D, 0x00},  {18, true, 0x2D, 0x01}, {15, true, 0xF1, 0x00},
        {1, true, 0x1F, 0x00},  {0x88, true, 0x80, 0x08}, {0xF1, true, 0x10, 0x0F},
        {0x89, false, 0, 0},    {0xFF, false, 0, 0},    {256, false, 0, 0},
        {-1, false, 0, 0},
        // The check nibble would be 16.
        {0, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threshold);
        std::uint8_t p1 = 0;
        std::uint8_t p2 = 0;
        EXPECT_EQ(tz2401_threshold_word(c.threshold, p1, p2), c.fits);
        if (c.fits) {
            EXPECT_EQ(p1, c.p1);
            EXPECT_EQ(p2, c.p2);
            // The three nibbles of the word add up to 16.
            EXPECT_EQ((p1 & 0x0F) + (p1 >> 4) + p2, 16);
        }
    }
}

TEST_F(IdentifyTest, OtherModelsAndMissingPathsDoNotOpen)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    EXPECT_FALSE(hid_.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2501A));
    EXPECT_THAT(sim_.reports(box), IsEmpty());
    EXPECT_FALSE(hid_.hid_open("0009:0009:00", 1, OLVA_PRODUCT_TZ2401B));
    EXPECT_FALSE(hid_.read_thread_active());
    EXPECT_FALSE(hid_.is_open());
    EXPECT_FALSE(hid_.hid_open(nullptr, 2, OLVA_PRODUCT_TZ2401B));
    EXPECT_EQ(hid_.tag(), "hid.2");
}

TEST_F(IdentifyTest, CreateThreadSwitchesTheTz2401bToEventMode)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    ASSERT_TRUE(open(box));
    sim_.clearTrace();
    hid_.create_thread();
    EXPECT_THAT(sim_.reports(box), ElementsAre(command(0x90)));
    sim_.pushInput(box, {3, 0x19, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(olva_test::eventually([&] { return hid_.reportCount() == 1; }));
}

TEST_F(IdentifyTest, CreateThreadDoesNothingOnAnUnpluggedBox)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    ASSERT_TRUE(open(box));
    sim_.clearTrace();
    HidDeviceAccess::setUnplugged(hid_, true);
    hid_.create_thread();
    EXPECT_THAT(sim_.reports(box), IsEmpty());
}

TEST_F(IdentifyTest, AnOpenThatMeetsAFailureOrAnUnplugEndsCleanly)
{
    struct Mode {
        const char* name;
        std::function<void(olva_sim::SimBackend&, SimTz2401Box&, int)> inject;
    };
    const Mode modes[] = {
        {"three failed attempts",
         [](auto& sim, auto& box, int n) {
             sim.failTransfers(box, olva_sim::kAllTransfers, n, 3, usb::kErrorIo);
         }},
        {"stall", [](auto& sim, auto& box, int n) {
             sim.failTransfers(box, olva_sim::kAllTransfers, n, 1, usb::kErrorPipe);
         }},
        {"unplugged", [](auto& sim, auto& box, int n) { sim.unplugAfter(box, n + 1); }},
    };
    for (const Mode& mode : modes) {
        for (int n = 0;; ++n) {
            SCOPED_TRACE(std::string(mode.name) + " at transfer " + std::to_string(n));
            SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
            mode.inject(sim_, box, n);
            HidTestBox hid;
            const bool opened = hid.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2401B);
            if (opened) {
                EXPECT_EQ(hid.model(), OLVA_PRODUCT_TZ2401B);
                EXPECT_EQ(hid.version1(), 0x42);
            }
            const bool reached = sim_.transferCount(box) > n;
            hid.hidClose();
            EXPECT_FALSE(hid.read_thread_active());
            sim_.unplug(box);
            if (!reached) {
                EXPECT_TRUE(opened);
                EXPECT_EQ(box.hangWord(), 0x03D);
                break;
            }
            ASSERT_LT(n, 200);
        }
    }
}

class Tz2501bOpenTest : public olva_test::HidSimTest {
protected:
    SimRegisterBox& box_ = sim_.plug<SimRegisterBox>();
    HidTestBox hid_;
};

TEST_F(Tz2501bOpenTest, SetsItsPinsAndChecksItsCodecEeprom)
{
    std::vector<std::uint8_t> image(TZ2501B_eeprom, TZ2501B_eeprom + 256);
    box_.setMemory(0x50, 0, image);
    ASSERT_TRUE(hid_.hid_open(sim_.path(box_).c_str(), 2, OLVA_PRODUCT_TZ2501B));
    EXPECT_EQ(hid_.model(), OLVA_PRODUCT_TZ2501B);
    const auto reports = sim_.reports(box_);
    // Pin reset, then latch 1 output 7 low.
    ASSERT_GE(reports.size(), 5u);
    EXPECT_THAT(std::vector<Bytes>(reports.begin(), reports.begin() + 5),
                ElementsAre(Bytes{0, 0x60, 0x00, 0x1F, 0x34}, Bytes{0, 0x60, 0x07, 0x1F, 0x34},
                            Bytes{0, 0x60, 0x17, 0x1F, 0x34}, Bytes{0, 0x60, 0x07, 0x1F, 0x34},
                            Bytes{0, 0x60, 0x17, 0x1F, 0x34}));
    EXPECT_EQ(box_.latch1(7), 0);
    // Then the first chunk through the chip's I2C master, pins restored after.
    auto reg = [](std::uint16_t number, std::uint8_t value) {
        return std::vector<Bytes>{{0, 0x60, static_cast<std::uint8_t>(number & 0xFF),
                                   static_cast<std::uint8_t>(number >> 8), 0x10},
                                  {0, 0x60, value, 0, 0x20}};
    };
    auto select = [](std::uint16_t number) {
        return Bytes{0, 0x60, static_cast<std::uint8_t>(number & 0xFF),
                     static_cast<std::uint8_t>(number >> 8), 0x10};
    };
    std::vector<Bytes> chunk = concat({reg(0x100, 0x01), reg(0x110, 0x50), reg(0x111, 0x2E),
                                       reg(0x112, 0x03), reg(0x08, 0x40), reg(0x08, 0x40)});
    for (int word = 0; word < 8; ++word)
        chunk = concat({chunk, reg(0x0B, static_cast<std::uint8_t>(0x80 + word)),
                        {select(0x09), select(0x0A)}});
    chunk.push_back({0, 0x60, 0x17, 0x1F, 0x34});
    ASSERT_GE(reports.size(), 5 + chunk.size());
    EXPECT_EQ(std::vector<Bytes>(reports.begin() + 5, reports.begin() + 5 + static_cast<long>(chunk.size())),
              chunk);
    // 16 chunks of 8 words, each word 30 ms.
    const auto sleeps = sleeper_.mine();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 30), 128);
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10), 4);
    EXPECT_EQ(box_.misconfiguredCommands(), 0);
    EXPECT_EQ(hid_.version1(), 0x80);
    EXPECT_EQ(hid_.version2(), 0x80);
}

TEST_F(Tz2501bOpenTest, VersionComesFromEepromByte1C)
{
    struct Case {
        std::uint8_t stored;
        std::uint8_t version;
    };
    for (const Case& c : {Case{0x75, 0x70}, Case{0x81, 0x81}, Case{0x7F, 0x70}, Case{0x80, 0x80}}) {
        SCOPED_TRACE(c.stored);
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        box.setMemory(0x50, 0x1C, {c.stored});
        HidTestBox hid;
        ASSERT_TRUE(hid.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2501B));
        EXPECT_EQ(hid.version1(), c.version);
        EXPECT_EQ(hid.version2(), c.version);
    }
}

TEST_F(Tz2501bOpenTest, UnreadableChunksDoNotStopTheOpen)
{
    // Every GET_REPORT fails: no chunk can be read.
    sim_.failTransfers(box_, olva_sim::kGetReports, 0, 100000, usb::kErrorTimeout);
    EXPECT_TRUE(hid_.hid_open(sim_.path(box_).c_str(), 1, OLVA_PRODUCT_TZ2501B));
    EXPECT_EQ(hid_.version2(), 0);
}

TEST_F(Tz2501bOpenTest, CreateThreadReadsTheMicRegisterRestoresThePinsAndPolls)
{
    box_.setReg(0x282, 0x5A);
    box_.setStatus(0xA0);
    ASSERT_TRUE(hid_.hid_open(sim_.path(box_).c_str(), 1, OLVA_PRODUCT_TZ2501B));
    const std::uint8_t g1 = HidDeviceAccess::g1(hid_), g2 = HidDeviceAccess::g2(hid_),
                       g3 = HidDeviceAccess::g3(hid_);
    sim_.clearTrace();
    hid_.create_thread();
    const auto reports = sim_.reports(box_);
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[0], (Bytes{0, 0x60, 0x82, 0x02, 0x10}));
    EXPECT_EQ(reports[1], (Bytes{0, 0x60, g1, g2, g3}));
    EXPECT_TRUE(olva_test::eventually([&] { return hid_.reportCount() >= 1; }));
    EXPECT_EQ(hid_.reports()[0].bytes, Bytes{3});
    // A second switch starts no second poll.
    hid_.create_thread();
    hid_.hidClose();
    EXPECT_FALSE(hid_.read_thread_active());
}

}  // namespace
