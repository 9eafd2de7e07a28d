// The line's per-frame signal pipeline on a line object fed frames of
// signals that spandsp made: DTMF keys, FSK caller IDs, busy tone, dial tone
// and ringback on the lines that detect them, and the gain control on all;
// key codes a box decoded, digits about to be sent, and busy-tone settings
// changed while frames come.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/fake_paths.h"
#include "support/signal_test_line.h"
#include "support/spandsp_signals.h"
#include "support/temp_dir.h"

namespace {

using olva_test::append;
using olva_test::callerId;
using olva_test::CidStandard;
using olva_test::key;
using olva_test::Samples;
using olva_test::SignalEvent;
using olva_test::LineAccess;
using olva_test::SignalTestLine;
using olva_test::silence;
using olva_test::spandspDtmf;
using olva_test::spandspMdmf;
using olva_test::spandspSdmf;
using olva_test::spandspTone;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr int kOffHookPhase = 3;
constexpr int kRingingPhase = 2;

// 450 Hz, 350 ms on and 350 ms off: three busy reports in ten periods.
Samples busyCadence(int on_ms = 350, int off_ms = 350, int periods = 10)
{
    Samples s = silence(1000);
    append(s, spandspTone(450, -15, 0, 0, on_ms, off_ms, periods * (on_ms + off_ms)));
    return s;
}

Samples withLead(const Samples& signal, int lead_ms = 300, int tail_ms = 500)
{
    Samples s = silence(lead_ms);
    append(s, signal);
    append(s, silence(tail_ms));
    return s;
}

class LineSignalTest : public ::testing::Test {
protected:
    LineSignalTest() { paths_.setApplicationDirectory(dir_.path()); }
    void TearDown() override { EXPECT_EQ(line_->events_under_lock.load(), 0); }

    // A new line, opened, between rings.
    void open(OLVA_PRODUCT product, unsigned long id = 1)
    {
        EXPECT_EQ(line_->events_under_lock.load(), 0);
        line_ = std::make_unique<SignalTestLine>();
        line_->line_open(id, "", product, true);
        line_->clear();
    }

    olva_test::TempDir dir_;
    olva_test::FakePaths paths_;
    olva_test::FakeClock clock_;
    std::unique_ptr<SignalTestLine> line_ = std::make_unique<SignalTestLine>();
};

TEST_F(LineSignalTest, DtmfKeysRaiseTheirAsciiCodesAndDigitsFillTheDialBuffer)
{
    open(OLVA_PRODUCT_TZ2401B);
    line_->feed(withLead(spandspDtmf("19A*#0D", -10, 0, 100, 100)));
    EXPECT_THAT(line_->signalEvents(), ElementsAre(key('1'), key('9'), key('A'), key('*'),
                                                  key('#'), key('0'), key('D')));
    // '#' sets its flag; only digits go to the dial buffer, and they start
    // no DTMF caller ID.
    EXPECT_EQ(line_->dial_buffer(), "190");
    EXPECT_TRUE(line_->hash_key_seen());
    EXPECT_EQ(line_->last_digit_time(), clock_.wallMs() / 1000);
    EXPECT_FALSE(LineAccess::dtmfCid(*line_));
}

TEST_F(LineSignalTest, DigitsAreReportedInEveryLineState)
{
    for (int phase : {0, kRingingPhase, kOffHookPhase, 9}) {
        open(OLVA_PRODUCT_TZ2401B);
        LineAccess::setCallPhase(*line_, phase);
        line_->feed(withLead(spandspDtmf("5", -10, 0, 100, 100)));
        EXPECT_THAT(line_->signalEvents(), ElementsAre(key('5'))) << "phase " << phase;
    }
}

TEST_F(LineSignalTest, AKeyStopsAPlayingTonePrompt)
{
    struct Case {
        bool in_call;
        std::vector<SignalTestLine::Call> calls;
    } const cases[] = {
        {true, {{"switch", 0}}},
        {false, {}},
    };
    for (const Case& c : cases) {
        open(OLVA_PRODUCT_TZ2401B);
        LineAccess::setInCall(*line_, c.in_call);
        LineAccess::setTonePlaying(*line_, true);
        line_->set_playing(true);
        line_->feed(withLead(spandspDtmf("7", -10, 0, 100, 100)));
        EXPECT_FALSE(line_->tone_playing());
        EXPECT_FALSE(line_->playing());
        EXPECT_EQ(line_->calls, c.calls) << "in call " << c.in_call;
        EXPECT_THAT(line_->signalEvents(), ElementsAre(key('7')));
    }
}

TEST_F(LineSignalTest, AnFskCallerIdInTheRingPauseRaisesNumberTimeAndName)
{
    struct Case {
        const char* what;
        olva_test::CidMessage message;
        SignalEvent expected;
    } const cases[] = {
        {"SDMF", spandspSdmf(CidStandard::Bell202, "10011750", "13812345678"),
         callerId("13812345678", "10011750", "")},
        {"MDMF", spandspMdmf(CidStandard::Bell202,
                             {{0x01, "03151432"}, {0x02, "075512345678"}, {0x07, "ZHANG SAN"}}),
         callerId("075512345678", "03151432", "ZHANG SAN")},
        {"MDMF withheld", spandspMdmf(CidStandard::Bell202, {{0x01, "12312359"}, {0x04, "P"}}),
         callerId("P", "12312359", "")},
    };
    for (const Case& c : cases) {
        open(OLVA_PRODUCT_TZ2401B);
        LineAccess::setCallPhase(*line_, kRingingPhase);
        LineAccess::setLogicalState(*line_, CLineDevice::kRingPause);
        line_->feed(withLead(c.message.signal));
        EXPECT_THAT(line_->signalEvents(), ElementsAre(c.expected)) << c.what;
        EXPECT_TRUE(LineAccess::fskCid(*line_)) << c.what;
    }
}

TEST_F(LineSignalTest, TheDemodulatorIsNotFedDuringAnOffHookCall)
{
    open(OLVA_PRODUCT_TZ2401B);
    const Samples message =
        withLead(spandspSdmf(CidStandard::Bell202, "10011750", "13812345678").signal);
    LineAccess::setCallPhase(*line_, kOffHookPhase);
    LineAccess::setRingCount(*line_, 1);  // no dial-tone watch either
    line_->feed(message);
    EXPECT_THAT(line_->signalEvents(), IsEmpty());
    // Ringing again, the same signal is a caller ID.
    LineAccess::setCallPhase(*line_, kRingingPhase);
    line_->feed(message);
    EXPECT_THAT(line_->signalEvents(), ElementsAre(callerId("13812345678", "10011750", "")));
}

TEST_F(LineSignalTest, ABusyCadenceRaisesBusyTone)
{
    open(OLVA_PRODUCT_TZ2401B);
    LineAccess::setCallPhase(*line_, kOffHookPhase);
    LineAccess::setRingCount(*line_, 1);
    line_->feed(busyCadence());
    EXPECT_THAT(line_->signalEvents(),
                ElementsAre(SignalEvent{OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0, "", "", ""},
                            SignalEvent{OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0, "", "", ""},
                            SignalEvent{OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0, "", "", ""}));
    // A slower cadence is not busy tone.
    line_->clear();
    line_->feed(busyCadence(500, 500));
    EXPECT_EQ(line_->count(OLVA_EVENT_DEVICE_BUSY_TONE), 0);
}

TEST_F(LineSignalTest, DialToneAndRingbackAreReportedOnlyOnAnOutgoingCallInItsFirstMinute)
{
    const Samples dial = withLead(spandspTone(450, -15, 0, 0, 2000, 0, 2000));
    Samples ringback = silence(500);
    append(ringback, spandspTone(450, -15, 0, 0, 1000, 4000, 11000));
    struct Case {
        const char* what;
        int call_phase;
        int logical_state;
        int ring_count;
        int window_used;
        const Samples& signal;
        int dial_tones;  // event 44 with p1 1
        int ringbacks;   // with p1 2
        bool levels;     // with p1 0
    } const cases[] = {
        {"dial tone off-hook", kOffHookPhase, kOffHookPhase, 0, 0, dial, 20, 0, true},
        {"dial tone, logical state off-hook", 9, kOffHookPhase, 0, 0, dial, 20, 0, true},
        {"ringback", kOffHookPhase, kOffHookPhase, 0, 0, ringback, -1, 2, true},
        {"incoming call", kOffHookPhase, kOffHookPhase, 1, 0, dial, 0, 0, false},
        {"on-hook", 9, 1, 0, 0, dial, 0, 0, false},
        {"after 60 s", kOffHookPhase, kOffHookPhase, 0, CLineDevice::kDialWindowSamples, dial, 0, 0, false},
    };
    for (const Case& c : cases) {
        open(OLVA_PRODUCT_TZ2401B);
        LineAccess::setCallPhase(*line_, c.call_phase);
        LineAccess::setLogicalState(*line_, c.logical_state);
        LineAccess::setRingCount(*line_, c.ring_count);
        LineAccess::setDialWindow(*line_, c.window_used);
        line_->feed(c.signal);
        if (c.dial_tones > 0) {
            EXPECT_GE(line_->count(OLVA_EVENT_DIAL_TONE, 1), c.dial_tones) << c.what;
        } else if (c.dial_tones == 0) {
            EXPECT_EQ(line_->count(OLVA_EVENT_DIAL_TONE, 1), 0) << c.what;
        }
        EXPECT_EQ(line_->count(OLVA_EVENT_DIAL_TONE, 2), c.ringbacks) << c.what;
        EXPECT_EQ(line_->count(OLVA_EVENT_DIAL_TONE, 0) > 0, c.levels) << c.what;
        for (const SignalEvent& e : line_->events()) {
            if (e.event != OLVA_EVENT_DIAL_TONE)
                continue;
            EXPECT_LE(e.p2, 0) << c.what;
            EXPECT_GE(e.p2, -48) << c.what;
        }
    }
}

TEST_F(LineSignalTest, TheDialWindowEndsAfter480000Samples)
{
    open(OLVA_PRODUCT_TZ2401B);
    LineAccess::setCallPhase(*line_, kOffHookPhase);
    LineAccess::setLogicalState(*line_, kOffHookPhase);
    // 59 s of silence, then a dial tone that runs over the minute's end.
    line_->feed(silence(59000));
    EXPECT_EQ(line_->count(OLVA_EVENT_DIAL_TONE, 1), 0);
    line_->clear();
    line_->feed(spandspTone(450, -15, 0, 0, 3000, 0, 3000));
    const std::vector<SignalEvent> events = line_->events();
    // Only the window's last second (8000 samples, 100 blocks) is looked at.
    EXPECT_GE(line_->count(OLVA_EVENT_DIAL_TONE, 1), 5);
    EXPECT_LE(events.size(), 101u);
    line_->clear();
    line_->feed(spandspTone(450, -15, 0, 0, 2000, 0, 2000));
    EXPECT_THAT(line_->events(), IsEmpty());

    // An open starts the window again.
    line_->line_open(1, "", OLVA_PRODUCT_TZ2401B, true);
    LineAccess::setCallPhase(*line_, kOffHookPhase);
    line_->clear();
    line_->feed(spandspTone(450, -15, 0, 0, 2000, 0, 2000));
    EXPECT_GE(line_->count(OLVA_EVENT_DIAL_TONE, 1), 10);
}

TEST_F(LineSignalTest, LinesWithoutDetectionOnlyRunTheGainControl)
{
    Samples signal = withLead(spandspDtmf("123", -10, 0, 100, 100));
    append(signal, withLead(spandspSdmf(CidStandard::Bell202, "10011750", "13812345678").signal));
    append(signal, busyCadence());
    append(signal, spandspTone(450, -15, 0, 0, 2000, 0, 2000));
    struct Case {
        OLVA_PRODUCT product;
        unsigned long line;
        bool detects;
    } const cases[] = {
        {OLVA_PRODUCT_TZ2401B, 1, true},
        {OLVA_PRODUCT_TZ2402B, 1, true},
        {OLVA_PRODUCT_TZ2501B, 1, true},
        {OLVA_PRODUCT_TZ2501B, 2, false},
        {OLVA_PRODUCT_TZ2701A, 1, false},
        {OLVA_PRODUCT_TZ2701A, 2, false},
    };
    for (const Case& c : cases) {
        open(c.product, c.line);
        LineAccess::setLogicalState(*line_, kOffHookPhase);  // dial-tone watch on, demodulator fed
        const Samples out = line_->feed(signal);
        const std::string what =
            "product " + std::to_string(c.product) + " line " + std::to_string(c.line);
        EXPECT_EQ(line_->count(OLVA_EVENT_DTMF_DOWN) == 3, c.detects) << what;
        EXPECT_EQ(line_->count(OLVA_EVENT_CALLER_ID) == 1, c.detects) << what;
        EXPECT_EQ(line_->count(OLVA_EVENT_DEVICE_BUSY_TONE) == 3, c.detects) << what;
        EXPECT_EQ(line_->count(OLVA_EVENT_DIAL_TONE) > 0, c.detects) << what;
        if (!c.detects) {
            EXPECT_THAT(line_->events(), IsEmpty()) << what;
        }
        // The gain control ran: the frames left the pipeline changed.
        EXPECT_NE(out, Samples(signal.begin(), signal.begin() + out.size())) << what;
    }
}

// The gain rule in double precision, written from its definition.
class ReferenceAgc {
public:
    double step(std::int16_t s)
    {
        const double a1 = 0.96875, a2 = 0.03125, a3 = 0.3, a5 = 0.005, a6 = 0.5, a7 = -30.0,
                     a8 = 30.0;
        const double x = s / 32768.0;
        const double k = 1 - a1;
        p_ = p_ - (p_ - x * x) * k;
        double h = ((a3 - q_) * (a2 * p_) / (a5 + p_) + 1) * g_;
        if (h > -0.0001 && h < 0.0001)
            h = 1;
        g_ = h > a8 ? a8 : std::max(h, a7);
        double y = s * g_;
        if (g_ > 20 || g_ < -20)
            y *= 0.625;
        y *= a6;
        if (p_ > 0.000005 && p_ < 0.1)
            y = (4 * (0.01 - p_) + 1.2) * y;
        const double o = y / 32768.0;
        q_ = q_ - k * (q_ - 3 * o * o);
        return std::clamp(y, -32768.0, 32767.0);
    }

private:
    double g_ = 1.0, p_ = 0.0, q_ = 0.0;
};

TEST_F(LineSignalTest, TheGainControlFollowsItsRule)
{
    // A first sample of 1000: p = 1000^2 / 2^30 / 32, the gain stays about
    // 1, the output is halved and then lifted by 4 * (0.01 - p) + 1.2.
    open(OLVA_PRODUCT_TZ2401B);
    EXPECT_EQ(line_->agc_float(1000), 619);

    struct Case {
        const char* what;
        Samples input;
    } const cases[] = {
        {"known samples", {0, 1000, -1000, 32767, -32768, 16000, -3, 5, 0, 0, 20000}},
        {"quiet tone", spandspTone(1000, -40, 0, 0, 500, 0, 500)},
        {"loud tone", spandspTone(450, -3, 0, 0, 500, 0, 500)},
        {"silence after a tone",
         [] {
             Samples s = spandspTone(450, -10, 0, 0, 200, 0, 200);
             append(s, silence(2000));
             append(s, spandspTone(450, -30, 0, 0, 200, 0, 200));
             return s;
         }()},
    };
    for (const Case& c : cases) {
        open(OLVA_PRODUCT_TZ2401B);
        ReferenceAgc reference;
        const Samples out = line_->feed(c.input);
        for (std::size_t i = 0; i < c.input.size(); ++i) {
            const double expected = reference.step(c.input[i]);
            // Single against double precision: one step of the cut fraction.
            ASSERT_NEAR(out[i], std::trunc(expected), 1.0) << c.what << ", sample " << i;
        }
    }
}

TEST_F(LineSignalTest, WithTheGainControlOffTheFramesLeaveUnchanged)
{
    for (OLVA_PRODUCT product : {OLVA_PRODUCT_TZ2401B, OLVA_PRODUCT_TZ2701A}) {
        open(product);
        line_->line_close_agc(1);
        Samples signal = withLead(spandspDtmf("42", -10, 0, 100, 100));
        append(signal, spandspTone(450, -3, 0, 0, 500, 0, 500));
        EXPECT_EQ(line_->feed(signal), signal) << product;
        line_->line_close_agc(0);
        EXPECT_NE(line_->feed(signal), signal) << product;
    }
}

TEST_F(LineSignalTest, FramesOfAnotherSizeAreRefused)
{
    open(OLVA_PRODUCT_TZ2401B);
    std::int16_t frame[200] = {1000, 1000};
    line_->handle_record_wave(reinterpret_cast<char*>(frame), 400);
    line_->handle_record_wave(nullptr, CLineDevice::kFrameBytes);
    EXPECT_EQ(frame[0], 1000);  // no gain control ran on it
}

TEST_F(LineSignalTest, KeyCodesFromTheBoxFollowTheLineState)
{
    struct Case {
        const char* what;
        int state;
        bool dialling;
        bool fsk_cid;
        int cid_type;
        std::vector<std::int16_t> codes;
        std::vector<SignalEvent> events;
        std::string dial_buffer;
        int digit_mark;  // 0: no DTMF caller ID under way
    } const cases[] = {
        {"off-hook digits", OLVA_STATE_OFF_HOOK, false, false, 0, {7, 0}, {key('7'), key('0')}, "", 0},
        {"reversed off-hook", OLVA_STATE_REVERSE_OFF_HOOK, false, false, 0, {3}, {key('3')}, "", 0},
        {"positive off-hook", OLVA_STATE_POSITIVE_OFF_HOOK, false, false, 0, {9}, {key('9')}, "", 0},
        {"off-hook letters", OLVA_STATE_OFF_HOOK, false, false, 0, {10, 13}, {key('A'), key('D')}, "", 0},
        {"star and hash on-hook", OLVA_STATE_IDLE, false, false, 0, {14, 15}, {key('*'), key('#')}, "", 0},
        {"letters on-hook", OLVA_STATE_IDLE, false, false, 0, {10, 12}, {}, "", 0},
        {"on-hook digits: a DTMF caller ID", OLVA_STATE_IDLE, false, false, 0, {1, 3, 8}, {}, "138", 3},
        {"DTMF caller ID while ringing", OLVA_STATE_RINGING, false, false, 2, {5}, {}, "5", 1},
        {"FSK only", OLVA_STATE_IDLE, false, false, 1, {1, 3}, {}, "", 0},
        {"dialling", OLVA_STATE_OFF_HOOK, true, false, 0, {1, 14}, {}, "", 0},
        {"after an FSK caller ID", OLVA_STATE_IDLE, false, true, 0, {1, 15}, {}, "", 0},
        {"other codes", OLVA_STATE_OFF_HOOK, false, false, 0, {16, -1, 100}, {}, "", 0},
    };
    for (const Case& c : cases) {
        open(OLVA_PRODUCT_TZ2401B);
        LineAccess::setConfirmedState(*line_, c.state);
        LineAccess::setDialling(*line_, c.dialling);
        LineAccess::setFskCid(*line_, c.fsk_cid);
        LineAccess::setCidType(*line_, c.cid_type);
        for (std::int16_t code : c.codes)
            line_->handld_dtmf_code(code);
        EXPECT_EQ(line_->events(), c.events) << c.what;
        EXPECT_EQ(line_->dial_buffer(), c.dial_buffer) << c.what;
        EXPECT_EQ(LineAccess::dtmfCid(*line_), c.digit_mark > 0) << c.what;
        if (c.digit_mark > 0) {
            EXPECT_EQ(LineAccess::digitMark(*line_), c.digit_mark) << c.what;
        }
    }
}

TEST_F(LineSignalTest, DigitsToSendSetTheDiallingFlagAndEchoAsKeys)
{
    struct Case {
        const char* what;
        OLVA_PRODUCT product;
        const char* digits;
        int echo;
        std::vector<SignalEvent> events;
        std::vector<SignalTestLine::Call> calls;
    } const cases[] = {
        {"echo", OLVA_PRODUCT_TZ2401B, "12#", 1, {key('1'), key('2'), key('#')}, {}},
        {"no echo", OLVA_PRODUCT_TZ2401B, "12#", 0, {}, {}},
        {"Tz2501B", OLVA_PRODUCT_TZ2501B, "9", 1, {key('9')}, {{"playfile", 1}}},
        {"Tz2501A", OLVA_PRODUCT_TZ2501A, "9", 0, {}, {{"speaker", 10}}},
        {"no digits", OLVA_PRODUCT_TZ2401B, nullptr, 1, {}, {}},
    };
    for (const Case& c : cases) {
        open(c.product);
        EXPECT_EQ(line_->line_send_dtmf(c.digits, c.echo), 0) << c.what;
        EXPECT_TRUE(LineAccess::dialling(*line_)) << c.what;
        EXPECT_EQ(line_->events(), c.events) << c.what;
        EXPECT_EQ(line_->calls, c.calls) << c.what;
    }
}

TEST_F(LineSignalTest, NewBusySettingsTakeEffectAtTheNextFrame)
{
    open(OLVA_PRODUCT_TZ2401B);
    LineAccess::setCallPhase(*line_, kOffHookPhase);
    LineAccess::setRingCount(*line_, 1);
    // 500 ms on and off, in blocks of 10 ms.
    line_->set_busy_info(tagBusyInfo{0, 450, 420, 50, 50, 5, 12, 3});
    EXPECT_EQ(line_->busy_tone_settings().busy_on, 35);
    line_->feed(silence(20));
    EXPECT_EQ(line_->busy_tone_settings().busy_on, 50);
    line_->feed(busyCadence(500, 500));
    EXPECT_EQ(line_->count(OLVA_EVENT_DEVICE_BUSY_TONE), 3);
    line_->clear();
    line_->feed(busyCadence());
    EXPECT_EQ(line_->count(OLVA_EVENT_DEVICE_BUSY_TONE), 0);
    // An open drops settings that were not taken up yet.
    line_->set_busy_info(tagBusyInfo{0, 450, 420, 50, 50, 5, 12, 3});
    open(OLVA_PRODUCT_TZ2401B);
    line_->feed(silence(20));
    EXPECT_EQ(line_->busy_tone_settings().busy_on, 35);
}

TEST_F(LineSignalTest, BusySettingsChangeWhileFramesComeFromTheCaptureThread)
{
    open(OLVA_PRODUCT_TZ2401B);
    LineAccess::setCallPhase(*line_, kOffHookPhase);
    LineAccess::setRingCount(*line_, 1);
    const Samples slow = busyCadence(500, 500, 30);
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread capture([&] {
        while (!stop.load()) {
            for (std::size_t at = 0; at + 160 <= slow.size() && !stop.load(); at += 160) {
                std::int16_t frame[160];
                std::copy_n(slow.begin() + static_cast<long>(at), 160, frame);
                line_->handle_record_wave(reinterpret_cast<char*>(frame), CLineDevice::kFrameBytes);
                frames.fetch_add(1);
            }
        }
    });
    // Settings given while the detector runs on the other thread, many
    // times over; each is taken up by the frame after it.
    for (int i = 0; i < 200; ++i) {
        const std::int64_t on = i % 2 ? 50 : 35;
        line_->set_busy_info(tagBusyInfo{0, 450, 420, on, on, 5, 12, 3});
        const int seen = frames.load();
        ASSERT_TRUE(olva_test::eventually([&] { return frames.load() >= seen + 2; }));
        ASSERT_EQ(line_->busy_tone_settings().busy_on, on) << i;
    }
    // The slow cadence is busy tone once its settings stand.
    line_->set_busy_info(tagBusyInfo{0, 450, 420, 50, 50, 5, 12, 3});
    line_->clear();
    EXPECT_TRUE(
        olva_test::eventually([&] { return line_->count(OLVA_EVENT_DEVICE_BUSY_TONE) > 0; }));
    stop.store(true);
    capture.join();
    // The try-locks of the recorder may meet the test thread's own locks.
    line_->events_under_lock.store(0);
}

}  // namespace
