// The box object on simulated boxes and scripted PCMs: opening per model
// with its sound card and settings, open failures, the audio's alarms, the
// capture loop, plug-out once from whichever thread sees it, and closing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "olva_device/olva_device.h"
#include "olva_device/sound_card.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/fake_pcm.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::BoxEvent;
using olva_test::FakePcmDevice;
using olva_test::TestBox;
using platform::PcmStream;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

using Bytes = std::vector<std::uint8_t>;

bool sameParams(const std::optional<platform::PcmHwParams>& got, platform::PcmHwParams want)
{
    return got && got->channels == want.channels && got->rate == want.rate &&
           got->period_min == want.period_min && got->period_max == want.period_max;
}

int count(const std::vector<int>& values, int value)
{
    return static_cast<int>(std::count(values.begin(), values.end(), value));
}

// Distinct samples with both signs, odd and even.
std::vector<std::int16_t> distinct_samples(int seed, std::size_t count)
{
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<std::int16_t>((static_cast<int>(i) * 211 + seed * 997) % 60001 - 30000);
    return samples;
}

class BoxTest : public olva_test::BoxSimTest {
protected:
    struct Card {
        FakePcmDevice& capture;
        FakePcmDevice& playback;
    };

    Card addCard(const olva_sim::SimBox& box, int card, const char* usbid)
    {
        listCard(box, card, usbid);
        const std::string number = std::to_string(card);
        return {pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture),
                pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback)};
    }

    bool open(TestBox& box, const olva_sim::SimBox& sim_box, OLVA_PRODUCT model, int slot = 1)
    {
        return box.olva_open(sim_.path(sim_box).c_str(), static_cast<unsigned long>(slot), model);
    }

    // Waits until a plug-out has ended: the slot is free and no box thread
    // runs any more.
    static bool waitForEnd(const TestBox& box)
    {
        return olva_test::eventually([&] {
            return box.device_index() == -1 && !box.capture_running() && !box.read_thread_active();
        });
    }

    olva_test::FakePcmFactory pcm_;
};

TEST_F(BoxTest, ATz2401bOpensItsOneLineOnItsOwnSoundCard)
{
    olva_test::writeFile(iniPath(), "[device]\r\ndefault_mic_volume=8\r\nspeaker_volume=5\r\n");
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    const Card card = addCard(sim_box, 1, olva_test::kTz2401CardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));

    EXPECT_EQ(box.box_tag(), "olva.1");
    EXPECT_EQ(box.device_index(), 1);
    EXPECT_THAT(box.events(), ElementsAre(BoxEvent{1, 1, OLVA_EVENT_PLUG_IN, 0, 0},
                                          BoxEvent{1, 1, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    EXPECT_EQ(box.line(1).line_id(), 1u);
    EXPECT_EQ(box.line(1).tag(), "line.1-3");
    EXPECT_EQ(box.line(2).line_id(), CLineDevice::kNoLine);
    EXPECT_EQ(box.olva_get_line_state(1), OLVA_STATE_IDLE);
    EXPECT_EQ(box.olva_get_line_state(2), -1);

    EXPECT_EQ(box.capture_device_name(), "hw:1,0");
    EXPECT_EQ(box.playback_device_name(), "plughw:1,0");
    EXPECT_EQ(box.sound_card(), 1);
    EXPECT_THAT(commands_.commands(), ElementsAre(audio::kReduceNoiseCommand));
    EXPECT_TRUE(sameParams(card.capture.hwParams(), {1, 8000, 160, 32000}));
    EXPECT_TRUE(sameParams(card.playback.hwParams(), {1, 8000, 160, 32000}));
    EXPECT_TRUE(box.capture_running());
    EXPECT_TRUE(box.playback_open());

    // The Tz2401 family's microphone volume is 3 below the setting: 8 - 3
    // gives (2 * 5) | 0x80. The speaker volume 5 gives (2 * 5 + 108) | 0x80.
    EXPECT_THAT(sim_.reports(sim_box), Contains(Bytes{3, 0x13, 0x8A, 0, 0, 0, 0, 0}));
    EXPECT_THAT(sim_.reports(sim_box), Contains(Bytes{3, 0x23, 0xF6, 0, 0, 0, 0, 0}));
    // The keys that were missing are written back with their defaults.
    EXPECT_EQ(ini("ring_cancel_time"), 7000);
    EXPECT_EQ(ini("tone_time"), 100);
    EXPECT_EQ(iniText("dtmf_cof"), "1.26");
}

// The Tz2401B's stored user number is read at open up to six times, each
// time the primary copy first: once when it checks, six times when no copy
// ever does; the open goes on without a number then.
TEST_F(BoxTest, ATz2401bTriesItsUserNumberSixTimesAtOpen)
{
    struct Case {
        const char* name;
        bool copies_check;
        int primary_reads;
        int usernum_result;
    };
    const Case cases[] = {
        {"a copy that checks", true, 1, 0},
        {"no copy checks", false, 6, -1},
    };
    int card = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        // 17 bytes that add up to 0 modulo 256 pass the check; seventeen 1s do not.
        Bytes copy(17, 1);
        copy[16] = c.copies_check ? 0xF0 : 0x01;
        for (std::uint8_t at : {std::uint8_t{18}, std::uint8_t{35}, std::uint8_t{96}})
            sim_box.setEeprom(at, copy);
        addCard(sim_box, card, olva_test::kTz2401CardId);
        TestBox box;
        ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B, card++));
        int primary_reads = 0;
        for (const Bytes& report : sim_.reports(sim_box))
            primary_reads += report.size() >= 3 && report[0] == 3 && report[1] == 0xB1 && report[2] == 96 ? 1 : 0;
        EXPECT_EQ(primary_reads, c.primary_reads);
        std::uint8_t number[16] = {};
        EXPECT_EQ(box.olva_get_usernum(number, 16), c.usernum_result);
        EXPECT_EQ(box.line(1).line_id(), 1u);
        box.olva_close(0);
    }
}

TEST_F(BoxTest, ATz2501bOpensBothLinesAnnouncesTheFirstAndSetsItsLatches)
{
    SimRegisterBox& sim_box = sim_.plug<SimRegisterBox>();
    const Card card = addCard(sim_box, 2, olva_test::kTz2501BCardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2501B, 2));

    EXPECT_EQ(box.box_tag(), "olva.2");
    EXPECT_THAT(box.events(), ElementsAre(BoxEvent{2, 1, OLVA_EVENT_PLUG_IN, 0, 0},
                                          BoxEvent{2, 1, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    EXPECT_EQ(box.line(1).line_id(), 1u);
    EXPECT_EQ(box.line(2).line_id(), 2u);
    EXPECT_EQ(box.olva_get_line_state(2), OLVA_STATE_IDLE);
    // The announced line's speaker volume is doubled.
    EXPECT_EQ(box.line(1).settings().speaker_volume.load(), 20);
    EXPECT_EQ(box.line(2).settings().speaker_volume.load(), 10);

    EXPECT_EQ(box.capture_device_name(), "hw:2,0");
    EXPECT_THAT(commands_.commands(), IsEmpty());
    EXPECT_TRUE(sameParams(card.capture.hwParams(), {2, 48000, 1920, 384000}));
    EXPECT_TRUE(sameParams(card.playback.hwParams(), {2, 48000, 960, 192000}));

    // Where the sixteen start steps leave the two latches.
    const int latch1[8] = {1, -2, 0, 1, 0, 0, 0, 1};
    const int latch2[8] = {-2, 0, 1, 0, 0, 1, 0, 1};
    for (int output = 0; output < 8; ++output) {
        if (latch1[output] != -2) {
            EXPECT_EQ(sim_box.latch1(output), latch1[output]) << "latch 1 output " << output;
        }
        if (latch2[output] != -2) {
            EXPECT_EQ(sim_box.latch2(output), latch2[output]) << "latch 2 output " << output;
        }
    }
}

TEST_F(BoxTest, AFailedHidOpenRaisesOpenFailedAndLeavesTheSlotFree)
{
    struct Case {
        const char* name;
        void (*fault)(olva_sim::SimBackend&, const olva_sim::SimBox&);
    };
    const Case cases[] = {
        {"the device does not open",
         [](olva_sim::SimBackend& sim, const olva_sim::SimBox& b) { sim.failOpen(b, usb::kErrorAccess); }},
        {"the interface is not claimed",
         [](olva_sim::SimBackend& sim, const olva_sim::SimBox& b) { sim.failClaim(b, usb::kErrorBusy); }},
    };
    int card = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        addCard(sim_box, card++, olva_test::kTz2401CardId);
        c.fault(sim_, sim_box);
        TestBox box;
        EXPECT_FALSE(open(box, sim_box, OLVA_PRODUCT_TZ2401B, 2));
        // Raised on line 1 under the slot it was offered, then the slot is free.
        EXPECT_THAT(box.events(), ElementsAre(BoxEvent{2, 1, OLVA_EVENT_OPEN_FAILED, 0, 0}));
        EXPECT_EQ(box.device_index(), -1);
        EXPECT_FALSE(box.is_open());
        EXPECT_FALSE(box.capture_running());

        // The fault was passing: the next open takes the box.
        box.clearEvents();
        ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B, 2));
        EXPECT_EQ(box.eventCodes(), (std::vector<int>{OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON}));
        EXPECT_EQ(box.device_index(), 2);
    }
}

TEST_F(BoxTest, WithoutItsSoundCardTheBoxSearchesFifteenTimesThenRaisesBothAlarms)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));

    // 15 card searches, then 10 capture and 10 playback opens of "default".
    EXPECT_EQ(count(sleeper_.pauses(), 1000), 35);
    EXPECT_EQ(box.capture_device_name(), "default");
    EXPECT_EQ(box.playback_device_name(), "default");
    EXPECT_EQ(box.sound_card(), -1);
    const unsigned long no_such_pcm = static_cast<unsigned long>(static_cast<long>(-ENOENT));
    EXPECT_THAT(box.events(), ElementsAre(BoxEvent{1, 1, OLVA_EVENT_PLUG_IN, 0, 0},
                                          BoxEvent{1, 1, OLVA_EVENT_LINE_HOOK_ON, 0, 0},
                                          BoxEvent{1, 1, OLVA_EVENT_ALARM, 2, 1},
                                          BoxEvent{1, 1, OLVA_EVENT_ALARM, 3, no_such_pcm}));
    EXPECT_THAT(commands_.commands(), ElementsAre(audio::kSoundUsersCommand));
    EXPECT_FALSE(box.capture_running());
    EXPECT_FALSE(box.playback_open());
}

TEST_F(BoxTest, AudioThatDoesNotOpenRaisesItsAlarm)
{
    struct Case {
        const char* name;
        void (*fault)(const Card&);
        int pauses;  // of one second
        std::vector<BoxEvent> alarms;
        bool capturing;
        bool playing;
    };
    const unsigned long busy = static_cast<unsigned long>(static_cast<long>(-EBUSY));
    const unsigned long invalid = static_cast<unsigned long>(static_cast<long>(-EINVAL));
    const Case cases[] = {
        {"capture never opens", [](const Card& c) { c.capture.failOpens(-EBUSY, 10); }, 10,
         {{1, 1, OLVA_EVENT_ALARM, 2, 1}}, false, true},
        {"capture opens at the tenth try", [](const Card& c) { c.capture.failOpens(-EBUSY, 9); }, 9,
         {}, true, true},
        {"capture refuses its parameters", [](const Card& c) { c.capture.failHwParams(-EINVAL); }, 0,
         {{1, 1, OLVA_EVENT_ALARM, 2, 1}}, false, true},
        {"playback never opens", [](const Card& c) { c.playback.failOpens(-EBUSY, 10); }, 10,
         {{1, 1, OLVA_EVENT_ALARM, 3, busy}}, true, false},
        {"playback refuses its parameters", [](const Card& c) { c.playback.failHwParams(-EINVAL); },
         0, {{1, 1, OLVA_EVENT_ALARM, 3, invalid}}, true, false},
    };
    int card_number = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        const Card card = addCard(sim_box, card_number++, olva_test::kTz2401CardId);
        c.fault(card);
        sleeper_.clear();
        TestBox box;
        ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
        EXPECT_EQ(count(sleeper_.pauses(), 1000), c.pauses);
        std::vector<BoxEvent> alarms;
        for (const BoxEvent& event : box.events())
            if (event.event == OLVA_EVENT_ALARM)
                alarms.push_back(event);
        EXPECT_EQ(alarms, c.alarms);
        EXPECT_EQ(box.capture_running(), c.capturing);
        EXPECT_EQ(card.capture.isOpen(), c.capturing);
        EXPECT_EQ(box.playback_open(), c.playing);
        EXPECT_EQ(card.playback.isOpen(), c.playing);
        box.olva_close(0);
    }
    // The sound devices' users are listed once per capture alarm.
    const std::vector<std::string> commands = commands_.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), audio::kSoundUsersCommand), 2);
}

TEST_F(BoxTest, TheOpenReadsTheDtmfSettingsAndKeepsTheStoredOnes)
{
    olva_test::writeFile(iniPath(), "[device]\r\ntone_time=120\r\n");
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    addCard(sim_box, 1, olva_test::kTz2401CardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
    const DtmfSendSettings s = box.dtmf_send_settings();
    EXPECT_EQ(s.tone_time, 120);
    EXPECT_EQ(s.silence_time, 80);
    EXPECT_FLOAT_EQ(s.dtmf_cof, 1.26f);
    EXPECT_EQ(s.dtmf_scale, 220);
    EXPECT_EQ(s.speaker_volume, 10);
    EXPECT_EQ(ini("tone_time"), 120);
    EXPECT_EQ(iniText("dtmf_cof"), "1.26");
    EXPECT_EQ(ini("dtmf_scale"), 220);
}

TEST_F(BoxTest, SendDtmfSettingsAreTakenOnlyInTheirRanges)
{
    struct Case {
        int tone, silence;
        float cof;
        int scale, speaker;
        int result;
    };
    const Case cases[] = {
        {80, 80, 1.26f, 220, 10, 0},   {150, 80, 1.26f, 220, 10, 0},  {79, 80, 1.26f, 220, 10, -1},
        {151, 80, 1.26f, 220, 10, -1}, {100, 50, 1.26f, 220, 10, 0},  {100, 200, 1.26f, 220, 10, 0},
        {100, 49, 1.26f, 220, 10, -1}, {100, 201, 1.26f, 220, 10, -1}, {100, 80, 1.26f, 190, 10, 0},
        {100, 80, 1.26f, 240, 10, 0},  {100, 80, 1.26f, 189, 10, -1}, {100, 80, 1.26f, 241, 10, -1},
        {100, 80, 1.26f, 220, 5, 0},   {100, 80, 1.26f, 220, 18, 0},  {100, 80, 1.26f, 220, 4, -1},
        {100, 80, 1.26f, 220, 19, -1}, {100, 80, -7.5f, 220, 10, 0},
        {100, 80, std::numeric_limits<float>::quiet_NaN(), 220, 10, -1},
        {100, 80, std::numeric_limits<float>::infinity(), 220, 10, -1},
    };
    TestBox box;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tone << " " << c.silence << " " << c.cof << " "
                                        << c.scale << " " << c.speaker);
        olva_test::writeFile(iniPath(), "");
        const DtmfSendSettings before = box.dtmf_send_settings();
        EXPECT_EQ(box.olva_set_send_dtmf_param(1, c.tone, c.silence, c.cof, c.scale, c.speaker),
                  c.result);
        const DtmfSendSettings after = box.dtmf_send_settings();
        if (c.result == 0) {
            EXPECT_EQ(after.tone_time, c.tone);
            EXPECT_EQ(after.speaker_volume, c.speaker);
            EXPECT_EQ(ini("tone_time"), c.tone);
            EXPECT_EQ(ini("silence_time"), c.silence);
            EXPECT_EQ(ini("dtmf_scale"), c.scale);
            EXPECT_EQ(ini("speaker_volume"), c.speaker);
            EXPECT_EQ(iniText("dtmf_cof"), dtmf_cof_text(c.cof));
        } else {
            EXPECT_EQ(after.tone_time, before.tone_time);
            EXPECT_EQ(after.dtmf_scale, before.dtmf_scale);
            EXPECT_EQ(olva_test::readFile(iniPath()), "");
        }
    }
    ASSERT_EQ(box.olva_set_send_dtmf_param(1, 100, 80, 1.5f, 220, 10), 0);
    EXPECT_EQ(iniText("dtmf_cof"), "1.5");
    EXPECT_FLOAT_EQ(box.dtmf_send_settings().dtmf_cof, 1.5f);
}

TEST(DtmfSendSettings, TheCoefficientIsReadBoundedAndMustBeANumber)
{
    struct Case {
        const char* name;
        std::string file;
        float cof;
        const char* stored;  // the text the file holds afterwards
    };
    const Case cases[] = {
        {"missing", "[device]\r\n", 1.26f, "1.26"},
        {"stored", "[device]\r\ndtmf_cof=1.5\r\n", 1.5f, "1.5"},
        {"negative", "[device]\r\ndtmf_cof=-0.75\r\n", -0.75f, "-0.75"},
        {"no number", "[device]\r\ndtmf_cof=abc\r\n", 1.26f, "abc"},
        {"empty", "[device]\r\ndtmf_cof=\r\n", 1.26f, ""},
        {"not finite", "[device]\r\ndtmf_cof=inf\r\n", 1.26f, "inf"},
        {"longer than its buffer", "[device]\r\ndtmf_cof=2.5" + std::string(400, '0') + "\r\n",
         2.5f, nullptr},
    };
    olva_test::TempDir dir;
    const std::string ini = dir.file("olva.ini");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        olva_test::writeFile(ini, c.file);
        const DtmfSendSettings s = read_dtmf_send_settings(ini, "olva.1");
        EXPECT_FLOAT_EQ(s.dtmf_cof, c.cof);
        char text[INI_VALUE_SIZE] = {};
        ASSERT_EQ(readStringValue("device", "dtmf_cof", text, ini.c_str()), 0);
        if (c.stored) {
            EXPECT_STREQ(text, c.stored);
        }
    }
}

TEST_F(BoxTest, APlugOutSeenByTheCaptureThreadEndsTheBoxOnce)
{
    struct Case {
        const char* name;
        bool two_lines;
    };
    for (const Case& c : {Case{"Tz2401B", false}, Case{"Tz2501B", true}}) {
        SCOPED_TRACE(c.name);
        olva_sim::SimBox* sim_box;
        OLVA_PRODUCT model;
        if (c.two_lines) {
            sim_box = &sim_.plug<SimRegisterBox>();
            model = OLVA_PRODUCT_TZ2501B;
        } else {
            sim_box = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
            model = OLVA_PRODUCT_TZ2401B;
        }
        const Card card = addCard(*sim_box, c.two_lines ? 2 : 1,
                                  c.two_lines ? olva_test::kTz2501BCardId : olva_test::kTz2401CardId);
        TestBox box;
        ASSERT_TRUE(open(box, *sim_box, model));
        ASSERT_TRUE(olva_test::eventually([&] { return box.read_thread_active(); }));
        sim_.unplug(*sim_box);
        card.capture.feedError(-ENODEV);
        ASSERT_TRUE(waitForEnd(box));

        // The HID read thread saw the box marked unplugged too; the plug-out
        // ran once. The Tz2501B reports it on its announced line only. (Its
        // status poll reports the failed reads as USB errors meanwhile.)
        std::vector<BoxEvent> events = box.events();
        std::erase_if(events, [](const BoxEvent& e) { return e.event == OLVA_EVENT_USB_ERROR; });
        EXPECT_THAT(events, ElementsAre(BoxEvent{1, 1, OLVA_EVENT_PLUG_IN, 0, 0},
                                              BoxEvent{1, 1, OLVA_EVENT_LINE_HOOK_ON, 0, 0},
                                              BoxEvent{1, 1, OLVA_EVENT_PLUG_OUT, 0, 0}));
        EXPECT_EQ(box.line(1).line_id(), CLineDevice::kNoLine);
        EXPECT_EQ(box.line(2).line_id(), CLineDevice::kNoLine);
        EXPECT_EQ(box.line(1).confirmed_state(), OLVA_STATE_NO_DEVICE);
        EXPECT_FALSE(card.capture.isOpen());
        EXPECT_FALSE(card.playback.isOpen());
        EXPECT_EQ(box.sound_card(), -1);
        EXPECT_FALSE(box.is_open());
    }
}

TEST_F(BoxTest, PlugOutsFromManyThreadsAtOnceEndTheBoxOnce)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    const Card card = addCard(sim_box, 1, olva_test::kTz2401CardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&] { box.handle_plug_out(); });
    card.capture.feedError(-ENODEV);
    for (std::thread& caller : callers)
        caller.join();
    ASSERT_TRUE(waitForEnd(box));
    EXPECT_EQ(count(box.eventCodes(), OLVA_EVENT_PLUG_OUT), 1);
}

TEST_F(BoxTest, AClosedBoxCanOpenAgainAtOnce)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    const Card card = addCard(sim_box, 1, olva_test::kTz2401CardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
    sim_.unplug(sim_box);
    card.capture.feedError(-ENODEV);
    // Back under a new address with a new card, while the old capture
    // thread may still be on its way out.
    ASSERT_TRUE(box.waitForEvent(OLVA_EVENT_PLUG_OUT));
    sim_.replug(sim_box);
    const Card again = addCard(sim_box, 3, olva_test::kTz2401CardId);
    box.clearEvents();
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
    EXPECT_EQ(box.eventCodes(), (std::vector<int>{OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON}));
    EXPECT_EQ(box.sound_card(), 3);
    EXPECT_TRUE(box.capture_running());
    EXPECT_TRUE(again.capture.isOpen());
}

TEST_F(BoxTest, CloseEndsACaptureThreadBlockedInARead)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    const Card card = addCard(sim_box, 1, olva_test::kTz2401CardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
    ASSERT_TRUE(olva_test::eventually([&] { return card.capture.counters().reads > 0; }));
    box.olva_close(0);
    EXPECT_FALSE(box.capture_running());
    EXPECT_GE(card.capture.counters().drops, 1);
    EXPECT_FALSE(card.capture.isOpen());
    EXPECT_FALSE(card.playback.isOpen());
    EXPECT_FALSE(box.read_thread_active());
    EXPECT_EQ(box.device_index(), -1);
    EXPECT_FALSE(sim_.claimed(sim_box));
    // A close is no plug-out.
    EXPECT_EQ(box.eventCodes(), (std::vector<int>{OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON}));
    // The lines stay as they were.
    EXPECT_EQ(box.line(1).line_id(), 1u);
}

TEST_F(BoxTest, ACloseWithAModeMarksTheBoxUnpluggedWithoutAPlugOut)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    addCard(sim_box, 1, olva_test::kTz2401CardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
    sleeper_.clear();
    box.olva_close(1);
    EXPECT_THAT(sleeper_.pauses(), Contains(1000));
    EXPECT_FALSE(box.read_thread_active());
    EXPECT_EQ(box.device_index(), -1);
    // The read loop saw the unplugged flag; the close had the box's end.
    EXPECT_EQ(count(box.eventCodes(), OLVA_EVENT_PLUG_OUT), 0);
}

TEST_F(BoxTest, TheCaptureLoopRidesOverOverrunsAndShortReads)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    const Card card = addCard(sim_box, 1, olva_test::kTz2401CardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2401B));
    const std::vector<std::int16_t> a = distinct_samples(1, 160);
    const std::vector<std::int16_t> b = distinct_samples(2, 160);
    const std::vector<std::int16_t> c = distinct_samples(3, 160);
    card.capture.feed(a);
    card.capture.feedError(-EPIPE);
    card.capture.feed(b);
    card.capture.feedError(-EAGAIN);
    card.capture.feed(distinct_samples(4, 80));  // a short read: dropped
    card.capture.feed(c);
    ASSERT_TRUE(box.waitForFrames(1, 3));
    EXPECT_THAT(box.frames(1), ElementsAre(a, b, c));
    EXPECT_THAT(box.frames(2), IsEmpty());
    const olva_test::FakePcmCounters counters = card.capture.counters();
    EXPECT_EQ(counters.prepares, 1);
    EXPECT_EQ(counters.waits, 2);
    EXPECT_EQ(counters.last_wait_timeout_ms, 10000);
    EXPECT_TRUE(box.capture_running());
    EXPECT_EQ(count(box.eventCodes(), OLVA_EVENT_PLUG_OUT), 0);

    // Any other error means the card is gone.
    card.capture.feedError(-EIO);
    ASSERT_TRUE(waitForEnd(box));
    EXPECT_EQ(count(box.eventCodes(), OLVA_EVENT_PLUG_OUT), 1);
}

TEST_F(BoxTest, StereoCaptureIsReducedToOneFramePerLineEvery20Ms)
{
    SimRegisterBox& sim_box = sim_.plug<SimRegisterBox>();
    const Card card = addCard(sim_box, 2, olva_test::kTz2501BCardId);
    TestBox box;
    ASSERT_TRUE(open(box, sim_box, OLVA_PRODUCT_TZ2501B));
    // One read: 1920 stereo frames (40 ms).
    std::vector<std::int16_t> read = distinct_samples(5, 2 * 1920);
    read[0] = 1000;
    read[1] = -1000;
    read[12] = -1001;  // frame 6
    read[13] = 1001;
    card.capture.feed(read);
    ASSERT_TRUE(box.waitForFrames(2, 2));

    std::vector<std::int16_t> left[2], right[2];
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 160; ++i) {
            const int frame = half * 960 + 6 * i;
            left[half].push_back(static_cast<std::int16_t>(read[2 * frame] >> 1));
            right[half].push_back(static_cast<std::int16_t>(read[2 * frame + 1] >> 1));
        }
    }
    ASSERT_THAT(box.frames(1), ElementsAre(left[0], left[1]));
    ASSERT_THAT(box.frames(2), ElementsAre(right[0], right[1]));
    EXPECT_EQ(box.frames(1)[0][0], 500);
    EXPECT_EQ(box.frames(2)[0][0], -500);
    EXPECT_EQ(box.frames(1)[0][1], -501);
    EXPECT_EQ(box.frames(2)[0][1], 500);
}

}  // namespace
