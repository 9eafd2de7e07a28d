// The line object on its own: start values, the line keys of "olva.ini",
// what an open announces and sets per product, plug-out, the permanent
// close and the detector and gain-control settings.
#include "CLineDevice/CLineDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/base_ini.h"
#include "support/fake_paths.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A line that records its events and the hardware calls it makes.
class TestLine final : public CLineDevice {
public:
    struct Call {
        const char* what;
        int value;
        bool operator==(const Call&) const = default;
    };

    void control_ch_led(bool on) override { calls.push_back({"led", on ? 1 : 0}); }
    void set_mic_volume(int volume) override { calls.push_back({"mic", volume}); }
    void set_speaker_volume(int volume) override { calls.push_back({"speaker", volume}); }
    void fire_event(int event, unsigned long, unsigned long, unsigned long, unsigned long) override
    {
        events.push_back(event);
    }

    std::vector<int> events;
    std::vector<Call> calls;
};

void PrintTo(const TestLine::Call& call, std::ostream* out)
{
    *out << call.what << "(" << call.value << ")";
}

struct Key {
    const char* key;
    int default_value;
};
constexpr Key kLineKeys[] = {
    {"cid_type", 0},
    {"ring_cancel_time", 7000},
    {"default_mic_volume", 3},
    {"custom_mic_volume", 3},
    {"speaker_volume", 10},
    {"custom_speaker_volume", 10},
    {"hang_wait_time", 500},
    {"hangup_wait_time", 300},
    {"cid_mdmf_type3_enable", 0},
    {"cid_type_self_adaption", 0},
    {"2501_not_set_volume", 0},
    {"enable_mp3_compress", 1},
};

class LineTest : public ::testing::Test {
protected:
    LineTest() { paths_.setApplicationDirectory(dir_.path()); }

    std::string ini() const { return dir_.file("olva.ini"); }
    int key(const char* name) const { return readIntValue("device", name, ini().c_str()); }

    olva_test::TempDir dir_;
    olva_test::FakePaths paths_;
};

TEST_F(LineTest, ANewLineIsClosedWithTheStartValues)
{
    TestLine line;
    EXPECT_EQ(line.line_id(), CLineDevice::kNoLine);
    EXPECT_EQ(line.product(), OLVA_PRODUCT_NONE);
    EXPECT_EQ(line.confirmed_state(), OLVA_STATE_NO_DEVICE);
    EXPECT_FALSE(line.closing());
    EXPECT_FALSE(line.plugged_out());
    EXPECT_EQ(line.agc_off(), 0);
    EXPECT_EQ(line.settings().enable_mp3_compress.load(), 0);
    EXPECT_EQ(line.tag(), "");
}

TEST_F(LineTest, AFreshIniGetsEveryLineKeyWithItsDefault)
{
    TestLine line;
    line.line_open(1, "plughw:1,0", OLVA_PRODUCT_TZ2501B, true);
    for (const Key& k : kLineKeys)
        EXPECT_EQ(key(k.key), k.default_value) << k.key;
    EXPECT_EQ(line.settings().ring_cancel_time.load(), 7000);
    EXPECT_EQ(line.settings().enable_mp3_compress.load(), 1);
    EXPECT_EQ(line.app_dir(), dir_.path());
    EXPECT_EQ(line.name(), "plughw:1,0");
    EXPECT_EQ(line.tag(), "line.1-10");
}

// The open names the application directory and the executable in the log.
TEST_F(LineTest, TheOpenLogsWhereTheProgramRuns)
{
    olva_test::LogCapture log;
    ASSERT_TRUE(log.started());
    paths_.setExecutableName("olvakit");
    TestLine line;
    line.line_open(1, "", OLVA_PRODUCT_TZ2401B, true);
    EXPECT_THAT(log.text(), ::testing::HasSubstr("line.1-3 ++ current path:" + dir_.path() +
                                           ",exe name:olvakit"));
}

TEST_F(LineTest, StoredKeysAreTakenAndMinusOneCountsAsMissing)
{
    olva_test::writeFile(ini(), "[device]\r\ncid_type=2\r\nring_cancel_time=-1\r\nhang_wait_time=800\r\n");
    TestLine line;
    line.line_open(1, "", OLVA_PRODUCT_TZ2501B, true);
    EXPECT_EQ(line.settings().cid_type.load(), 2);
    EXPECT_EQ(line.settings().hang_wait_time.load(), 800);
    EXPECT_EQ(line.settings().ring_cancel_time.load(), 7000);
    EXPECT_EQ(key("ring_cancel_time"), 7000);
    EXPECT_EQ(key("cid_type"), 2);

    // The keys are read again at every open.
    olva_test::writeFile(ini(), "[device]\r\nhang_wait_time=900\r\n");
    line.line_open(1, "", OLVA_PRODUCT_TZ2501B, true);
    EXPECT_EQ(line.settings().hang_wait_time.load(), 900);
    EXPECT_EQ(line.settings().cid_type.load(), 0);
}

TEST_F(LineTest, AnOpenAnnouncesTheLineAndSetsItsVolumesPerProduct)
{
    struct Case {
        const char* name;
        OLVA_PRODUCT product;
        unsigned long id;
        const char* file;
        std::vector<int> events;
        std::vector<TestLine::Call> calls;
        int speaker_volume;  // as stored afterwards
    };
    const Case cases[] = {
        {"Tz2401B: microphone 3 lower", OLVA_PRODUCT_TZ2401B, 1,
         "default_mic_volume=5\r\ncustom_mic_volume=2\r\n",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 2}, {"speaker", 10}, {"led", 0}}, 10},
        {"Tz2701A: speaker held to 16", OLVA_PRODUCT_TZ2701A, 1, "speaker_volume=17\r\n",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 0}, {"speaker", 16}, {"led", 0}}, 16},
        {"Tz2401B: no negative speaker", OLVA_PRODUCT_TZ2401B, 1, "speaker_volume=-5\r\n",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 0}, {"speaker", 0}, {"led", 0}}, 0},
        {"Tz2501B line 1: speaker doubled", OLVA_PRODUCT_TZ2501B, 1, "",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 3}, {"speaker", 20}, {"led", 0}}, 20},
        {"Tz2501B line 1: doubled up to 20", OLVA_PRODUCT_TZ2501B, 1, "speaker_volume=14\r\n",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 3}, {"speaker", 20}, {"led", 0}}, 20},
        {"Tz2501B line 2: the extension is not announced", OLVA_PRODUCT_TZ2501B, 2, "", {}, {},
         10},
        {"Tz2402B line 2", OLVA_PRODUCT_TZ2402B, 2, "speaker_volume=6\r\n",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 3}, {"speaker", 12}, {"led", 0}}, 12},
        {"Tz2501A: no volumes", OLVA_PRODUCT_TZ2501A, 1, "",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON}, {{"led", 0}}, 10},
        {"Tz2402 variant: speaker doubled", kTz2402VariantModel, 1, "speaker_volume=7\r\n",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 3}, {"speaker", 14}, {"led", 0}}, 14},
        {"Tz2502A: speaker kept", OLVA_PRODUCT_TZ2502A, 1, "speaker_volume=7\r\n",
         {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON},
         {{"mic", 3}, {"speaker", 7}, {"led", 0}}, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        olva_test::writeFile(ini(), std::string("[device]\r\n") + c.file);
        TestLine line;
        line.line_open(c.id, "", c.product, true);
        EXPECT_EQ(line.events, c.events);
        EXPECT_EQ(line.calls, c.calls);
        EXPECT_EQ(line.settings().speaker_volume.load(), c.speaker_volume);
        EXPECT_EQ(line.line_id(), c.id);
        EXPECT_EQ(line.product(), c.product);
        EXPECT_EQ(line.confirmed_state(), OLVA_STATE_IDLE);
        EXPECT_EQ(line.pending_state(), OLVA_STATE_IDLE);
    }
}

TEST_F(LineTest, APlugOutReportsTheAnnouncedLinesAndClosesThem)
{
    struct Case {
        const char* name;
        OLVA_PRODUCT product;
        unsigned long id;
        std::vector<int> events;
    };
    const Case cases[] = {
        {"Tz2401B", OLVA_PRODUCT_TZ2401B, 1, {OLVA_EVENT_PLUG_OUT}},
        {"Tz2501B line 1", OLVA_PRODUCT_TZ2501B, 1, {OLVA_EVENT_PLUG_OUT}},
        {"Tz2501B line 2", OLVA_PRODUCT_TZ2501B, 2, {}},
        {"Tz2402B line 2", OLVA_PRODUCT_TZ2402B, 2, {OLVA_EVENT_PLUG_OUT}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestLine line;
        line.line_open(c.id, "", c.product, true);
        line.events.clear();
        line.handle_plug_out();
        EXPECT_EQ(line.events, c.events);
        EXPECT_TRUE(line.plugged_out());
        EXPECT_EQ(line.line_id(), CLineDevice::kNoLine);
        EXPECT_EQ(line.confirmed_state(), OLVA_STATE_NO_DEVICE);

        // Plugged in again, an announced line is announced again.
        line.events.clear();
        line.line_open(c.id, "", c.product, true);
        const std::vector<int> announced = {OLVA_EVENT_PLUG_IN, OLVA_EVENT_LINE_HOOK_ON};
        EXPECT_EQ(line.events, c.events.empty() ? std::vector<int>{} : announced);
    }
}

TEST_F(LineTest, ALineClosedForGoodKeepsOnlyItsIdNameAndProduct)
{
    TestLine line;
    line.line_closeEx();
    line.line_open(2, "plughw:3,0", OLVA_PRODUCT_TZ2402B, true);
    EXPECT_TRUE(line.closing());
    EXPECT_EQ(line.line_id(), 2u);
    EXPECT_EQ(line.name(), "plughw:3,0");
    EXPECT_EQ(line.product(), OLVA_PRODUCT_TZ2402B);
    EXPECT_THAT(line.events, IsEmpty());
    EXPECT_THAT(line.calls, IsEmpty());
    EXPECT_EQ(line.confirmed_state(), OLVA_STATE_NO_DEVICE);
    // Its settings were not read: the file was not even made.
    EXPECT_EQ(key("cid_type"), -1);
}

TEST_F(LineTest, TheBusyToneSettingsChangeAndTheDialToneKeepsItsOwn)
{
    TestLine line;
    line.line_open(1, "", OLVA_PRODUCT_TZ2401B, true);
    EXPECT_EQ(line.busy_tone_settings().busy_frequency1, 420);
    EXPECT_EQ(line.busy_tone_settings().busy_on, 35);
    EXPECT_EQ(line.dial_tone_settings().busy_frequency1, 625);
    EXPECT_EQ(line.dial_tone_settings().busy_off, 395);

    line.set_busy_info(tagBusyInfo{1, 480, 620, 25, 25, 4, 10, 2});
    // The capture thread takes them up with its next frame.
    char frame[CLineDevice::kFrameBytes] = {};
    line.handle_record_wave(frame, sizeof frame);
    const tagBusyInfo busy = line.busy_tone_settings();
    EXPECT_EQ(busy.busy_dual_frequency, 1);
    EXPECT_EQ(busy.busy_frequency0, 480);
    EXPECT_EQ(busy.busy_frequency1, 620);
    EXPECT_EQ(busy.busy_on, 25);
    EXPECT_EQ(busy.busy_period_count, 2);
    const tagBusyInfo dial = line.dial_tone_settings();
    EXPECT_EQ(dial.busy_frequency0, 450);
    EXPECT_EQ(dial.busy_frequency1, 625);
    EXPECT_EQ(dial.busy_on, 95);

    // The next open starts from the line's own busy-tone settings again.
    line.line_open(1, "", OLVA_PRODUCT_TZ2401B, true);
    EXPECT_EQ(line.busy_tone_settings().busy_frequency0, 450);
}

TEST_F(LineTest, TheGainControlIsSwitchedPerLine)
{
    TestLine line;
    EXPECT_EQ(line.line_close_agc(1), 0);
    EXPECT_EQ(line.agc_off(), 1);
    EXPECT_EQ(line.line_close_agc(0), 0);
    EXPECT_EQ(line.agc_off(), 0);
}

}  // namespace
