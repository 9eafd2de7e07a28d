// The line state machine stepped by hand: raw-state sequences and the
// events they give, the waits of ring cancel and hang, the floating LED,
// the end of a DTMF caller ID and the FSK/DTMF priority rule, the
// extension phone of the Tz2501B and the ends of a play.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/base_ini.h"
#include "support/fake_clock.h"
#include "support/fake_paths.h"
#include "support/recording_line.h"
#include "support/temp_dir.h"

namespace {

using olva_test::HardwareCall;
using olva_test::LineEvent;
using olva_test::LineAccess;
using olva_test::RecordingLine;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kStepMs = 100;

// A raw state as the decoder hands it, then this many timer steps.
struct Hold {
    ENUM_OLVA_STATE state;
    int steps;
};

class LineStateTest : public ::testing::Test {
protected:
    LineStateTest() { paths_.setApplicationDirectory(dir_.path()); }

    // A new line, opened as line 1 of the product.
    void open(OLVA_PRODUCT product, const std::string& ini = "")
    {
        line_ = std::make_unique<RecordingLine>();
        reopen(product, ini);
    }
    void reopen(OLVA_PRODUCT product, const std::string& ini = "")
    {
        olva_test::writeFile(dir_.file("olva.ini"), "[device]\r\n" + ini);
        line_->line_open(1, "", product, true);
        line_->clear();
    }
    // One timer step, with the wall clock moving on as much.
    void step(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            clock_.advanceMs(kStepMs);
            line_->handle_timer(kStepMs);
        }
    }
    void play(const std::vector<Hold>& holds)
    {
        for (const Hold& hold : holds) {
            line_->save_tmp_line_state(hold.state);
            step(hold.steps);
        }
    }
    // Steps until the event comes (at most limit steps): the steps taken,
    // or -1.
    int stepsUntil(int event, int limit = 200)
    {
        for (int i = 1; i <= limit; ++i) {
            const std::size_t before = line_->events().size();
            step();
            const std::vector<LineEvent> events = line_->events();
            for (std::size_t j = before; j < events.size(); ++j)
                if (events[j].event == event)
                    return i;
        }
        return -1;
    }

    // Starts on a whole second, so that the ring-timing cases know which
    // second each step falls in.
    olva_test::FakeClock clock_{1'780'000'000'000};
    olva_test::TempDir dir_;
    olva_test::FakePaths paths_;
    std::unique_ptr<RecordingLine> line_;
};

constexpr ENUM_OLVA_STATE kIdle = OLVA_STATE_IDLE;
constexpr ENUM_OLVA_STATE kRing = OLVA_STATE_RINGING;
constexpr ENUM_OLVA_STATE kOffHook = OLVA_STATE_OFF_HOOK;
constexpr ENUM_OLVA_STATE kFloating = OLVA_STATE_FLOATING;
constexpr ENUM_OLVA_STATE kReverse = OLVA_STATE_REVERSE_OFF_HOOK;
constexpr ENUM_OLVA_STATE kPositive = OLVA_STATE_POSITIVE_OFF_HOOK;

TEST_F(LineStateTest, RawStateSequencesGiveTheirEvents)
{
    struct Case {
        const char* name;
        OLVA_PRODUCT product;
        std::vector<Hold> holds;
        std::vector<LineEvent> events;
        int ring_count;  // afterwards
    };
    const LineEvent ring{OLVA_EVENT_LINE_RING, 0, ""};
    const LineEvent ring_stop{OLVA_EVENT_RING_STOP, 0, ""};
    const LineEvent hook_off{OLVA_EVENT_LINE_HOOK_OFF, 0, ""};
    const LineEvent hook_on{OLVA_EVENT_LINE_HOOK_ON, 0, ""};
    const OLVA_PRODUCT tz2401b = OLVA_PRODUCT_TZ2401B;
    const OLVA_PRODUCT tz2501b = OLVA_PRODUCT_TZ2501B;
    const Case cases[] = {
        {"off-hook glitches shorter than the debounce", tz2401b,
         {{kOffHook, 2}, {kIdle, 3}, {kRing, 1}, {kIdle, 2}, {kFloating, 2}, {kIdle, 10}},
         {}, 0},
        {"a call answered and ended", tz2401b, {{kOffHook, 5}, {kIdle, 10}}, {hook_off, hook_on}, 0},
        {"an on-hook glitch during a call", tz2401b,
         {{kOffHook, 5}, {kIdle, 2}, {kOffHook, 5}}, {hook_off}, 0},
        // Back off-hook within hangup_wait_time: the second report is no new call.
        {"a second off-hook report", tz2401b,
         {{kOffHook, 5}, {kIdle, 3}, {kOffHook, 5}, {kIdle, 10}}, {hook_off, hook_on}, 0},
        {"one ring, not answered", tz2401b, {{kRing, 5}, {kIdle, 80}},
         {ring, ring, ring_stop, {OLVA_EVENT_RING_CANCEL, 0, ""}}, 0},
        {"two rings more than a second apart", tz2401b,
         {{kRing, 5}, {kIdle, 20}, {kRing, 5}, {kIdle, 5}},
         {ring, ring, ring_stop, ring, ring, ring_stop}, 4},
        // The second burst is confirmed at 1.1 s, within the second after the first.
        {"a ring within a second", tz2401b, {{kRing, 4}, {kIdle, 4}, {kRing, 4}, {kIdle, 4}},
         {ring, ring, ring_stop, ring, ring_stop}, 3},
        {"a call rung and answered", tz2401b,
         {{kRing, 5}, {kIdle, 10}, {kOffHook, 5}, {kIdle, 10}},
         {ring, ring, ring_stop, hook_off, hook_on}, 0},
        {"floating shorter than hang_wait_time", tz2401b, {{kFloating, 6}, {kIdle, 10}},
         {hook_on}, 0},
        {"floating and back", tz2401b, {{kFloating, 10}, {kIdle, 10}},
         {{OLVA_EVENT_LING_HANG, 0, ""}, hook_on}, 0},
        {"polarity reversals during a call", tz2501b,
         {{kPositive, 5}, {kReverse, 5}, {kPositive, 5}, {kIdle, 10}},
         {{OLVA_EVENT_LINE_HOOK_OFF, 7, ""},
          {OLVA_EVENT_POLARITY, 1, ""},
          {OLVA_EVENT_POLARITY, 0, ""},
          hook_on},
         0},
        {"a reverse off-hook", tz2501b, {{kReverse, 5}}, {{OLVA_EVENT_LINE_HOOK_OFF, 6, ""}}, 0},
        // On the Tz2501B a reversal of a call that rang is not reported.
        {"a reversal after ringing", tz2501b,
         {{kRing, 5}, {kIdle, 10}, {kPositive, 5}, {kReverse, 5}},
         {ring, ring, ring_stop, {OLVA_EVENT_LINE_HOOK_OFF, 7, ""}}, 2},
        {"the box reads no device", tz2401b, {{OLVA_STATE_NO_DEVICE, 3}},
         {{OLVA_EVENT_PLUG_OUT, 0, ""}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open(c.product);
        play(c.holds);
        EXPECT_EQ(line_->events(), c.events);
        EXPECT_EQ(line_->ring_count(), c.ring_count);
    }
}

TEST_F(LineStateTest, StatesAreConfirmedOnTheThirdStepAndCallPhasesFollow)
{
    open(OLVA_PRODUCT_TZ2401B);
    line_->save_tmp_line_state(kRing);
    EXPECT_EQ(line_->pending_state(), kRing);
    step(2);
    EXPECT_EQ(line_->confirmed_state(), kIdle);
    step();
    EXPECT_EQ(line_->confirmed_state(), kRing);
    EXPECT_EQ(line_->call_phase(), 2);
    EXPECT_EQ(line_->logical_state(), kRing);

    line_->save_tmp_line_state(kIdle);
    step(3);
    EXPECT_EQ(line_->call_phase(), 10);
    line_->save_tmp_line_state(kOffHook);
    step(3);
    EXPECT_EQ(line_->call_phase(), 3);
    line_->save_tmp_line_state(kIdle);
    step(3);
    EXPECT_EQ(line_->logical_state(), CLineDevice::kWaitReset);
    step(3);
    EXPECT_EQ(line_->call_phase(), 9);
    EXPECT_EQ(line_->logical_state(), kIdle);
}

TEST_F(LineStateTest, ARingIsCancelledRingCancelTimeAfterTheDebounce)
{
    const struct {
        const char* ini;
        int steps;  // from the first idle report to event 15
    } cases[] = {{"", 73}, {"ring_cancel_time=2000\r\n", 23}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        open(OLVA_PRODUCT_TZ2401B, c.ini);
        play({{kRing, 5}});
        line_->save_tmp_line_state(kIdle);
        EXPECT_EQ(stepsUntil(OLVA_EVENT_RING_CANCEL), c.steps);
        EXPECT_EQ(line_->call_phase(), 11);
        EXPECT_EQ(line_->ring_count(), 0);
    }
}

// A ring that stands longer than ring_cancel_time is still a ring: the wait
// for the caller to give up runs only once the line has stopped ringing.
TEST_F(LineStateTest, ARingHeldPastRingCancelTimeIsNotCancelledWhileItRings)
{
    const LineEvent ring{OLVA_EVENT_LINE_RING, 0, ""};
    const LineEvent ring_stop{OLVA_EVENT_RING_STOP, 0, ""};
    const LineEvent cancel{OLVA_EVENT_RING_CANCEL, 0, ""};
    const struct {
        const char* ini;
        int ring_steps;
    } cases[] = {{"ring_cancel_time=1000\r\n", 20}, {"", 80}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        open(OLVA_PRODUCT_TZ2401B, c.ini);
        play({{kRing, c.ring_steps}});
        EXPECT_EQ(line_->events(), (std::vector<LineEvent>{ring, ring}));
        EXPECT_EQ(line_->call_phase(), 2);
        line_->save_tmp_line_state(kIdle);
        EXPECT_GT(stepsUntil(OLVA_EVENT_RING_CANCEL), 0);
        EXPECT_EQ(line_->events(), (std::vector<LineEvent>{ring, ring, ring_stop, cancel}));
    }
}

TEST_F(LineStateTest, ALostLineIsReportedAfterHangWaitTimeAndItsLedBlinks)
{
    open(OLVA_PRODUCT_TZ2401B, "hang_wait_time=800\r\n");
    line_->save_tmp_line_state(kFloating);
    // 300 ms of debounce, then 800 ms of waiting.
    EXPECT_EQ(stepsUntil(OLVA_EVENT_LING_HANG), 11);
    EXPECT_EQ(line_->call_phase(), 4);
    EXPECT_THAT(line_->callsOf("soft_hook_on"), ElementsAre(1));
    EXPECT_THAT(line_->callsOf("twinkle"), ElementsAre(1));
    // The LED changes every third step from the confirmation on.
    EXPECT_THAT(line_->callsOf("led"), ElementsAre(1, 0, 1));
    step(3);
    EXPECT_THAT(line_->callsOf("led"), ElementsAre(1, 0, 1, 0));

    line_->clear();
    line_->save_tmp_line_state(kIdle);
    step(10);
    EXPECT_THAT(line_->eventCodes(), ElementsAre(OLVA_EVENT_LINE_HOOK_ON));
}

TEST_F(LineStateTest, AShortFloatHangsNothingButStillBlinks)
{
    open(OLVA_PRODUCT_TZ2401B);
    play({{kFloating, 7}});
    EXPECT_THAT(line_->eventCodes(), IsEmpty());
    EXPECT_THAT(line_->callsOf("led"), ElementsAre(1));
    line_->save_tmp_line_state(kIdle);
    step(2);
    EXPECT_THAT(line_->eventCodes(), IsEmpty());
}

TEST_F(LineStateTest, HandlersSetTheBoxAndTheCallFlags)
{
    open(OLVA_PRODUCT_TZ2401B);
    play({{kRing, 4}});
    EXPECT_THAT(line_->callsOf("mic_start"), ElementsAre(1, 1));
    EXPECT_THAT(line_->callsOf("led"), ElementsAre(1, 1));
    line_->clear();
    play({{kIdle, 4}});
    EXPECT_THAT(line_->callsOf("led"), ElementsAre(0));
    line_->clear();
    play({{kOffHook, 4}, {kIdle, 7}});
    EXPECT_EQ(line_->calls(), (std::vector<HardwareCall>{{"led", 1},
                                                         {"mic_start", 1},
                                                         {"mic_start", 0},
                                                         {"led", 0}}));
    // After the call, the end of a dialled string finishes a call-out, once.
    line_->clear();
    line_->handle_call_end();
    EXPECT_THAT(line_->eventCodes(), ElementsAre(OLVA_EVENT_CALL_OUT_FINISH));
    line_->handle_call_end();
    EXPECT_THAT(line_->eventCodes(), ElementsAre(OLVA_EVENT_CALL_OUT_FINISH));
}

TEST_F(LineStateTest, PolarityOffHookSetsTheMicrophoneVolume)
{
    open(OLVA_PRODUCT_TZ2501B, "default_mic_volume=5\r\n");
    play({{kPositive, 4}});
    EXPECT_THAT(line_->callsOf("mic_volume"), ElementsAre(5));
    play({{kReverse, 4}});
    EXPECT_THAT(line_->callsOf("mic_volume"), ElementsAre(5));
}

TEST_F(LineStateTest, ADtmfCallerIdEndsAfter600MsOfSilence)
{
    open(OLVA_PRODUCT_TZ2401B, "cid_type=2\r\n");
    LineAccess::addDtmfCidDigit(*line_, '1');
    step();
    LineAccess::addDtmfCidDigit(*line_, '2');
    step(6);
    // 600 ms or less apart: one number.
    LineAccess::addDtmfCidDigit(*line_, '3');
    step(7);
    EXPECT_THAT(line_->eventCodes(), IsEmpty());
    step();
    EXPECT_THAT(line_->events(), ElementsAre(LineEvent{OLVA_EVENT_CALLER_ID, 0, "123"}));
    EXPECT_FALSE(LineAccess::dtmfCid(*line_));
    EXPECT_EQ(line_->dial_buffer(), "");
    step(10);
    EXPECT_EQ(line_->events().size(), 1u);
}

TEST_F(LineStateTest, TheFskPriorityRuleWithholdsDtmfCallerIds)
{
    struct Round {
        const char* digits;
        bool reported;
        int priority;  // afterwards
    };
    struct Case {
        const char* name;
        const char* ini;
        int priority;
        int fsk_count;
        std::vector<Round> rounds;
    };
    const Case cases[] = {
        {"the third long DTMF number takes the priority back", "", 1, 0,
         {{"111", false, 1}, {"222", false, 1}, {"333", true, 0}, {"444", true, 0}}},
        {"not after an FSK caller ID", "", 1, 1,
         {{"111", false, 1}, {"222", false, 1}, {"333", false, 1}}},
        {"not with two digits", "", 1, 0, {{"11", false, 1}, {"22", false, 1}, {"33", false, 1}}},
        {"without FSK priority", "", 0, 0, {{"111", true, 0}}},
        {"DTMF only", "cid_type=2\r\n", 1, 0, {{"111", true, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open(OLVA_PRODUCT_TZ2401B, c.ini);
        LineAccess::setFskPriority(*line_, c.priority);
        LineAccess::setFskCidCount(*line_, c.fsk_count);
        for (const Round& round : c.rounds) {
            SCOPED_TRACE(round.digits);
            line_->clear();
            for (const char* d = round.digits; *d; ++d)
                LineAccess::addDtmfCidDigit(*line_, *d);
            step(8);
            if (round.reported)
                EXPECT_THAT(line_->events(),
                            ElementsAre(LineEvent{OLVA_EVENT_CALLER_ID, 0, round.digits}));
            else
                EXPECT_THAT(line_->events(), IsEmpty());
            EXPECT_EQ(LineAccess::fskPriority(*line_), round.priority);
            EXPECT_EQ(line_->dial_buffer(), "");
        }
    }
}

TEST_F(LineStateTest, ThePriorityFlagStartsFromTheIniAtOpen)
{
    open(OLVA_PRODUCT_TZ2401B, "cid_type_self_adaption=1\r\n");
    EXPECT_EQ(LineAccess::fskPriority(*line_), 1);
    open(OLVA_PRODUCT_TZ2401B, "cid_type_self_adaption=0\r\n");
    EXPECT_EQ(LineAccess::fskPriority(*line_), 0);
}

TEST_F(LineStateTest, DigitsLeftFromACallAreClearedWhenItEnds)
{
    const struct {
        const char* name;
        std::vector<Hold> call;
    } cases[] = {
        {"ring cancel", {{kRing, 5}, {kIdle, 80}}},
        {"on-hook", {{kOffHook, 5}, {kIdle, 10}}},
        {"line lost", {{kOffHook, 5}, {kFloating, 10}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open(OLVA_PRODUCT_TZ2401B);
        play({c.call.front()});
        LineAccess::setDialBuffer(*line_, "5");
        play({c.call.begin() + 1, c.call.end()});
        EXPECT_EQ(line_->dial_buffer(), "");
    }
}

TEST_F(LineStateTest, TheDialWindowRestartsOnRingingOffHookAndOpen)
{
    const struct {
        const char* name;
        OLVA_PRODUCT product;
        ENUM_OLVA_STATE state;
    } cases[] = {
        {"ringing", OLVA_PRODUCT_TZ2401B, kRing},
        {"off-hook", OLVA_PRODUCT_TZ2401B, kOffHook},
        {"positive off-hook", OLVA_PRODUCT_TZ2501B, kPositive},
        {"reverse off-hook", OLVA_PRODUCT_TZ2501B, kReverse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open(c.product);
        LineAccess::setDialWindow(*line_, 4000);
        play({{c.state, 2}});
        EXPECT_EQ(LineAccess::dialWindow(*line_), 4000);
        step();
        EXPECT_EQ(LineAccess::dialWindow(*line_), 0);
    }
    // Every off-hook, the repeated report too.
    open(OLVA_PRODUCT_TZ2501B);
    play({{kPositive, 4}});
    LineAccess::setDialWindow(*line_, 4000);
    play({{kReverse, 4}});
    EXPECT_EQ(LineAccess::dialWindow(*line_), 0);

    LineAccess::setDialWindow(*line_, 4000);
    reopen(OLVA_PRODUCT_TZ2501B);
    EXPECT_EQ(LineAccess::dialWindow(*line_), 0);
}

TEST_F(LineStateTest, TheExtensionPhoneHookIsDebouncedAndSwitchesTheLine)
{
    open(OLVA_PRODUCT_TZ2501B);
    line_->save_tmp_line_slic_state(kOffHook);
    step(2);
    line_->save_tmp_line_slic_state(kIdle);
    step(5);
    EXPECT_THAT(line_->eventCodes(), IsEmpty());

    line_->save_tmp_line_slic_state(kOffHook);
    step(2);
    // The same state reported again does not restart the debounce.
    line_->save_tmp_line_slic_state(kOffHook);
    step();
    EXPECT_THAT(line_->events(), ElementsAre(LineEvent{OLVA_EVENT_LINE_HOOK_OFF, 0, ""}));
    EXPECT_EQ(line_->slic_confirmed_state(), kOffHook);
    EXPECT_EQ(line_->calls(), (std::vector<HardwareCall>{{"slic_ring", 0},
                                                         {"hookoff_switch", 1},
                                                         {"slic_switch", 1}}));
    line_->clear();
    line_->save_tmp_line_slic_state(kIdle);
    step(3);
    EXPECT_THAT(line_->events(), ElementsAre(LineEvent{OLVA_EVENT_LINE_HOOK_ON, 0, ""}));
    EXPECT_EQ(line_->calls(),
              (std::vector<HardwareCall>{{"hookoff_switch", 0}, {"slic_switch", 0}}));

    // Only the Tz2501B has an extension phone.
    open(OLVA_PRODUCT_TZ2401B);
    line_->save_tmp_line_slic_state(kOffHook);
    step(5);
    EXPECT_THAT(line_->eventCodes(), IsEmpty());
}

TEST_F(LineStateTest, TheExtensionPhoneRingsWithItsOwnCadence)
{
    open(OLVA_PRODUCT_TZ2501B);
    LineAccess::setSlicNumber(*line_, "5551234");
    // Confirmed at 300 ms: the bell rings to the next second, then pauses 4 s.
    play({{kRing, 3}});
    EXPECT_TRUE(LineAccess::slicRingOn(*line_));
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));
    step(6);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));
    step();
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0));
    // The number goes to the extension 300 ms into the pause.
    step(2);
    EXPECT_THAT(line_->callsOf("play_dtmf 5551234"), IsEmpty());
    step();
    EXPECT_THAT(line_->callsOf("play_dtmf 5551234"), ElementsAre(1));
    EXPECT_THAT(line_->callsOf("playfile_to_slic"), ElementsAre(1));
    step(36);
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0));
    step();
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0, 1));
    EXPECT_EQ(line_->callsOf("play_dtmf 5551234").size(), 1u);

    // Lifting the extension stops the bell.
    line_->save_tmp_line_slic_state(kOffHook);
    step(3);
    EXPECT_FALSE(LineAccess::slicRingOn(*line_));
    EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1, 0, 1, 0));
}

// A caller ID rings the extension itself, and marks the ring as its own so
// that the line's ring does not start it again. Whichever way the call ends,
// the mark goes with it: the next call, with no caller ID, rings the
// extension from its first ring.
TEST_F(LineStateTest, TheExtensionRingsForTheCallAfterACallWithACallerId)
{
    // An SDMF message: time "10011750", number "5551234", checksum.
    const std::string body = "100117505551234";
    std::vector<std::uint8_t> cid = {0x04, static_cast<std::uint8_t>(body.size())};
    cid.insert(cid.end(), body.begin(), body.end());
    unsigned sum = 0;
    for (std::uint8_t b : cid)
        sum += b;
    cid.push_back(static_cast<std::uint8_t>(-sum));

    const struct {
        const char* name;
        std::vector<Hold> line_ends;   // after the first ring and its caller ID
        std::vector<Hold> slic_ends;   // the extension's hook, after that
    } cases[] = {
        {"ring cancelled", {{kIdle, 80}}, {}},
        {"line reset", {{kIdle, 5}, {kPositive, 5}, {kIdle, 10}}, {}},
        {"hang-up", {{kIdle, 5}, {kPositive, 5}, {kFloating, 10}}, {}},
        {"extension lifted", {}, {{kOffHook, 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open(OLVA_PRODUCT_TZ2501B);
        play({{kRing, 5}});
        for (std::uint8_t b : cid)
            line_->OnCidData(b);
        ASSERT_EQ(line_->eventCodes(),
                  (std::vector<int>{OLVA_EVENT_LINE_RING, OLVA_EVENT_LINE_RING, OLVA_EVENT_CALLER_ID}));
        EXPECT_EQ(LineAccess::cidRingFlag(*line_), 1);
        play(c.line_ends);
        for (const Hold& hold : c.slic_ends) {
            line_->save_tmp_line_slic_state(hold.state);
            step(hold.steps);
        }
        EXPECT_EQ(LineAccess::cidRingFlag(*line_), 0);

        // The line and the extension at rest, then a call with no caller ID.
        line_->save_tmp_line_slic_state(kIdle);
        play({{kIdle, 80}});
        ASSERT_FALSE(LineAccess::slicRingOn(*line_));
        line_->clear();
        play({{kRing, 3}});
        EXPECT_THAT(line_->callsOf("slic_ring"), ElementsAre(1));
        EXPECT_TRUE(LineAccess::slicRingOn(*line_));
    }
}

TEST_F(LineStateTest, TheEndOfAPlayIsReportedAndSwitchesThePlaybackOff)
{
    const struct {
        OLVA_PRODUCT product;
        int error;
        int event;
        std::vector<HardwareCall> calls;
    } cases[] = {
        {OLVA_PRODUCT_TZ2401B, 0, OLVA_EVENT_PLAY_END, {{"ch_switch", 0}}},
        {OLVA_PRODUCT_TZ2401B, -1, OLVA_EVENT_PLAY_ERROR, {{"ch_switch", 0}}},
        {OLVA_PRODUCT_TZ2501B, 0, OLVA_EVENT_PLAY_END, {{"playfile_switch", 0}, {"ch_switch", 0}}},
        {OLVA_PRODUCT_TZ2501A, 0, OLVA_EVENT_PLAY_END, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.product);
        open(c.product);
        line_->handle_play_end(c.error);
        EXPECT_THAT(line_->eventCodes(), ElementsAre(c.event));
        EXPECT_EQ(line_->calls(), c.calls);
    }
}

TEST_F(LineStateTest, TheEndOfADialledStringFinishesTheCallOutOnce)
{
    const struct {
        OLVA_PRODUCT product;
        std::vector<int> events;
        std::vector<HardwareCall> calls;
    } cases[] = {
        {OLVA_PRODUCT_TZ2401B, {OLVA_EVENT_CALL_OUT_FINISH}, {{"ch_switch", 0}}},
        // Its polarity off-hook starts no call of its own.
        {OLVA_PRODUCT_TZ2501B, {OLVA_EVENT_CALL_OUT_FINISH}, {{"playfile_switch", 0}}},
        {OLVA_PRODUCT_TZ2701A, {}, {{"ch_switch", 0}, {"gpio19", 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.product);
        open(c.product);
        play({{c.product == OLVA_PRODUCT_TZ2501B ? kPositive : kOffHook, 3}});
        line_->clear();
        line_->handle_call_end();
        line_->handle_call_end();
        EXPECT_EQ(line_->eventCodes(), c.events);
        std::vector<HardwareCall> twice = c.calls;
        twice.insert(twice.end(), c.calls.begin(), c.calls.end());
        EXPECT_EQ(line_->calls(), twice);
    }
}

}  // namespace
