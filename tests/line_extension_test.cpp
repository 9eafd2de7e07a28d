// The extension phone rung by command, and the Tz2701A's line operations:
// its GSM call state ringing the extension, the busy tone to a lifted
// extension and the extension's hook.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/base_ini.h"
#include "support/fake_clock.h"
#include "support/fake_paths.h"
#include "support/log_capture.h"
#include "support/recording_line.h"
#include "support/temp_dir.h"

namespace {

using olva_test::LineAccess;
using olva_test::RecordingLine;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LineExtensionTest : public ::testing::Test {
protected:
    LineExtensionTest() { paths_.setApplicationDirectory(dir_.path()); }

    void open(OLVA_PRODUCT product)
    {
        line_ = std::make_unique<RecordingLine>();
        line_->line_open(1, "", product, true);
        line_->clear();
    }
    void step(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            clock_.advanceMs(100);
            line_->handle_timer(100);
        }
    }

    // On a whole second.
    olva_test::FakeClock clock_{1'780'000'000'000};
    olva_test::TempDir dir_;
    olva_test::FakePaths paths_;
    std::unique_ptr<RecordingLine> line_;
};

TEST_F(LineExtensionTest, ACommandedRingSendsTheNumberInTheFirstPause)
{
    open(OLVA_PRODUCT_TZ2501B);
    EXPECT_EQ(line_->olva_makecallSlic("8001"), 0);
    EXPECT_TRUE(LineAccess::slicRingOn(*line_));
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));
    // The bell rings to the next second; 300 ms into the pause the number goes.
    step(9);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));
    step(1);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0));
    step(3);
    EXPECT_THAT(line_->callsOf("play_dtmf 8001"), ElementsAre(1));
    step(40);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0, 1));
    EXPECT_EQ(line_->callsOf("play_dtmf 8001").size(), 1u);

    EXPECT_EQ(line_->olva_stop_makcallSlic(), 0);
    EXPECT_FALSE(LineAccess::slicRingOn(*line_));
    step(60);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0, 1, 0));
    EXPECT_THAT(line_->eventCodes(), IsEmpty());
}

TEST_F(LineExtensionTest, ARingWithoutANumberSendsNone)
{
    open(OLVA_PRODUCT_TZ2501B);
    EXPECT_EQ(line_->olva_makecallSlic(nullptr), 0);
    step(20);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0));
    for (const auto& call : line_->calls())
        EXPECT_NE(call.what.rfind("play_dtmf", 0), 0u) << call.what;
}

TEST_F(LineExtensionTest, TheTz2701aKeepsTheRingPhaseInItsConfirmedState)
{
    open(OLVA_PRODUCT_TZ2701A);
    EXPECT_EQ(line_->olva_makecallSlic("8001"), 0);
    EXPECT_EQ(line_->confirmed_state(), OLVA_STATE_RINGING);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));
    EXPECT_TRUE(LineAccess::slicRingOn(*line_));
}

TEST_F(LineExtensionTest, TheTz2701aTimerRingsOneSecondInFiveAndPlaysTheCallerInTheFirstPause)
{
    open(OLVA_PRODUCT_TZ2701A);
    line_->set_gsm_state(OLVA_STATE_RINGING);
    line_->Tz2701_set_caller_number("13800138000");
    const auto tz2701_step = [&](int count) {
        for (int i = 0; i < count; ++i)
            line_->Tz2701_handle_timer(100);
    };
    tz2701_step(9);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));
    tz2701_step(1);  // 1 s of bell
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0));
    EXPECT_EQ(line_->confirmed_state(), 10);
    tz2701_step(3);
    EXPECT_TRUE(line_->callsOf("play_dtmf 13800138000").empty());
    tz2701_step(1);  // 0.4 s into the pause
    EXPECT_THAT(line_->callsOf("gpio19"), ElementsAre(1));
    EXPECT_THAT(line_->callsOf("play_dtmf 13800138000"), ElementsAre(1));
    tz2701_step(35);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0));
    tz2701_step(1);  // 4 s of pause
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0, 1));
    // The number goes once per call.
    tz2701_step(100);
    EXPECT_EQ(line_->callsOf("play_dtmf 13800138000").size(), 1u);

    // Stopped: the cadence does not start it again.
    line_->clear_slic_ring();
    const std::size_t rings = line_->callsOf("slic_ring").size();
    tz2701_step(100);
    EXPECT_EQ(line_->callsOf("slic_ring").size(), rings);
}

// Both turns of the cadence, bell off and bell on again, are logged as
// "++ stop ring".
TEST_F(LineExtensionTest, TheTz2701aCadenceLogsBothTurnsAsStopRing)
{
    olva_test::LogCapture log;
    ASSERT_TRUE(log.started());
    open(OLVA_PRODUCT_TZ2701A);
    line_->set_gsm_state(OLVA_STATE_RINGING);
    for (int i = 0; i < 50; ++i)
        line_->Tz2701_handle_timer(100);
    ASSERT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0, 1));
    const std::string text = log.text();
    std::size_t turns = 0;
    for (std::size_t at = text.find("line.1-8++ stop ring"); at != std::string::npos;
         at = text.find("line.1-8++ stop ring", at + 1))
        ++turns;
    EXPECT_EQ(turns, 2u);
    EXPECT_EQ(text.find("start ring"), std::string::npos);
}

// A caller's number of any length is played; a call without one plays
// nothing.
TEST_F(LineExtensionTest, ShortCallerNumbersArePlayedToo)
{
    for (const std::string number : {"1", "12", "110", ""}) {
        SCOPED_TRACE(number);
        open(OLVA_PRODUCT_TZ2701A);
        line_->set_gsm_state(OLVA_STATE_RINGING);
        line_->Tz2701_set_caller_number(number);
        for (int i = 0; i < 60; ++i)
            line_->Tz2701_handle_timer(100);
        std::vector<std::string> played;
        for (const auto& call : line_->calls())
            if (call.what.rfind("play_dtmf", 0) == 0)
                played.push_back(call.what);
        if (number.empty())
            EXPECT_THAT(played, IsEmpty());
        else
            EXPECT_THAT(played, ElementsAre("play_dtmf " + number));
    }
}

// The line's own defaults dial nothing and send nothing to the extension.
TEST_F(LineExtensionTest, TheGsmLineOperationsDoNothingWithoutABox)
{
    open(OLVA_PRODUCT_TZ2701A);
    const int state = line_->gsm_state();
    char number[] = "10086";
    CLineDevice& plain = *line_;
    plain.Tz2701_makecall(number);
    plain.Tz2701_send_cid_to_slic(number);
    EXPECT_THAT(line_->calls(), IsEmpty());
    EXPECT_THAT(line_->eventCodes(), IsEmpty());
    EXPECT_EQ(line_->gsm_state(), state);
}

TEST_F(LineExtensionTest, AnIncomingGsmCallRingsTheExtensionOnItsFirstRing)
{
    open(OLVA_PRODUCT_TZ2701A);
    line_->set_gsm_state(OLVA_STATE_RINGING);
    EXPECT_EQ(line_->gsm_state(), OLVA_STATE_RINGING);
    EXPECT_EQ(line_->confirmed_state(), OLVA_STATE_RINGING);
    EXPECT_TRUE(LineAccess::slicRingOn(*line_));
    line_->set_gsm_state(OLVA_STATE_RINGING);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));

    // The call is over: the next call rings it again.
    line_->set_gsm_state(OLVA_STATE_HANG_UP);
    line_->set_gsm_state(OLVA_STATE_RINGING);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 1));
    line_->set_gsm_state(OLVA_STATE_OFF_HOOK);
    line_->set_gsm_state(OLVA_STATE_RINGING);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 1, 1));
    EXPECT_THAT(line_->eventCodes(), IsEmpty());
}

TEST_F(LineExtensionTest, AHangUpPlaysTheBusyToneToALiftedExtension)
{
    open(OLVA_PRODUCT_TZ2701A);
    // Without the tone file nothing plays.
    line_->Tz2701_set_slic_state(OLVA_STATE_OFF_HOOK);
    line_->set_gsm_state(OLVA_STATE_HANG_UP);
    EXPECT_FALSE(line_->tone_playing());

    std::filesystem::create_directories(dir_.path() + "/voice");
    olva_test::writeFile(dir_.path() + "/voice/busy.wav", "RIFF");
    // An on-hook extension hears nothing.
    LineAccess::setDialBuffer(*line_, "12");
    LineAccess::setKeysSeen(*line_, 1234);
    line_->Tz2701_set_slic_state(OLVA_STATE_IDLE);
    EXPECT_EQ(line_->confirmed_state(), OLVA_STATE_IDLE);
    EXPECT_EQ(line_->dial_buffer(), "");
    EXPECT_FALSE(line_->hash_key_seen());
    EXPECT_EQ(line_->last_digit_time(), 0);
    line_->set_gsm_state(OLVA_STATE_HANG_UP);
    EXPECT_FALSE(line_->tone_playing());

    line_->Tz2701_set_slic_state(OLVA_STATE_OFF_HOOK);
    line_->set_gsm_state(OLVA_STATE_HANG_UP);
    EXPECT_TRUE(line_->tone_playing());
    // The tone's file goes to the line's playback.
    EXPECT_THAT(line_->callsOf("play_file " + dir_.path() + "/voice/busy.wav"), ElementsAre(1));
    // The dial tone has its own file.
    line_->Tz2701_play_tone(0);
    EXPECT_FALSE(line_->tone_playing());
}

}  // namespace
