// The detectors against their scalar reference (tests/reference), sample by
// sample: every DTMF key and energy in both modes, every caller-ID hook with
// its value (each low-pass output included), every busy, dial-tone and
// ringback report with its level and energies. The signals come from
// spandsp, plus stress sets that drive every saturation: full-scale noise,
// clipped audio, full-scale square waves, loud FSK and a carrier cut part
// way through a frame.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dsp/busytoneDet.h"
#include "dsp/cid_decoder.h"
#include "dsp/dtmf_decoder.h"
#include "reference/busytoneDet.h"
#include "reference/cid_decoder.h"
#include "reference/dtmf_decoder.h"
#include "support/spandsp_signals.h"

namespace {

using namespace olva_test;

constexpr int kFrame = 160;

struct Signal {
    std::string name;
    Samples samples;
};

Samples fullScaleNoise(int ms, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(INT16_MIN, INT16_MAX);
    Samples s(msToSamples(ms));
    for (auto& x : s)
        x = static_cast<std::int16_t>(value(random));
    return s;
}

// Full-scale square wave of period samples.
Samples square(int period, int ms)
{
    Samples s(msToSamples(ms));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = (i % static_cast<std::size_t>(period)) * 2 < static_cast<std::size_t>(period) ? INT16_MAX : INT16_MIN;
    return s;
}

Samples louder(Samples s, double gain_db)
{
    applyGainDb(s, gain_db);
    return s;
}

Samples joined(std::initializer_list<Samples> parts)
{
    Samples s;
    for (const Samples& part : parts)
        append(s, part);
    return s;
}

Samples fsk()
{
    return spandspSdmf(CidStandard::Bell202, "10011750", "13812345678").signal;
}

// FSK that runs past the 300-byte limit, so that a message ends inside a
// frame and the demodulator resets there.
Samples endlessFsk(int level_dbm0)
{
    FskBits bits;
    bits.seizure(300).marks(180).characters(std::vector<std::uint8_t>(320, 0x5A));
    return spandspFsk(CidStandard::Bell202, bits, level_dbm0);
}

std::vector<Signal> signals()
{
    const Samples keys = spandspDtmf("123A456B789C*0#D", -10, 0, 60, 60);
    const Samples busy = spandspTone(450, -15, 0, 0, 350, 350, 7000);
    const Samples ringback = spandspTone(450, -10, 0, 0, 950, 3950, 11000);
    const Samples cut = fsk();
    const std::size_t cut_at = cut.size() / 2 + 37;  // not on a frame boundary
    return {
        {"spandsp DTMF keys", joined({silence(200), keys, silence(200)})},
        {"spandsp DTMF keys, twist and noise",
         joined({spandspDtmf("0918*#", -20, 4, 45, 45), spandspDtmf("5D7C", -5, -8, 80, 30), spandspNoise(-30, 400, 3)})},
        {"spandsp caller ID under noise",
         [&] {
             Samples s = joined({silence(300), fsk(), silence(300),
                                 spandspMdmf(CidStandard::V23, {{0x01, "03151432"}, {0x02, "075512345678"}}).signal,
                                 silence(500)});
             mixIn(s, spandspNoise(-40, static_cast<int>(s.size() / 8), 4));
             return s;
         }()},
        {"spandsp busy tone and ringback", joined({silence(500), busy, ringback, spandspTone(450, -15, 0, 0, 4000, 0, 4000)})},
        {"full-scale noise", fullScaleNoise(3000, 5)},
        {"clipped audio", louder(joined({keys, busy, fsk()}), 40)},
        {"full-scale square waves", joined({square(11, 1000), square(18, 1000), square(2, 300), square(160, 1000)})},
        {"loud FSK", louder(joined({fsk(), endlessFsk(0), silence(300)}), 12)},
        {"FSK cut part way through a frame",
         joined({silence(200), Samples(cut.begin(), cut.begin() + static_cast<std::ptrdiff_t>(cut_at)), silence(400),
                 endlessFsk(-12), silence(300)})},
    };
}

// Every detector sees whole frames: the tail padded with silence.
Samples padded(Samples s)
{
    s.resize((s.size() + kFrame - 1) / kFrame * kFrame, 0);
    return s;
}

// --- DTMF ---

struct DtmfFrame {
    bool key;
    std::int16_t code;
    std::int16_t energy[8];
    bool operator==(const DtmfFrame&) const = default;
};

template <class Decoder>
std::vector<DtmfFrame> dtmfTrace(const Samples& s, int mode)
{
    Decoder d;
    d.dtmf_init();
    std::vector<DtmfFrame> trace;
    for (std::size_t at = 0; at < s.size(); at += kFrame) {
        // Mode 2 turns strict mode on and off every few frames.
        const bool strict = mode == 2 ? (at / kFrame) % 7 < 3 : mode == 1;
        DtmfFrame f{};
        f.code = -1;
        f.key = d.dtmf_detect(&s[at], &f.code, strict);
        for (int i = 0; i < 8; ++i)
            f.energy[i] = d.energy(i);
        trace.push_back(f);
    }
    return trace;
}

TEST(DspEquivalenceTest, DtmfKeysAndEnergiesInBothModes)
{
    int keys = 0;
    for (const Signal& signal : signals()) {
        const Samples s = padded(signal.samples);
        for (int mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE(signal.name + ", mode " + std::to_string(mode));
            const std::vector<DtmfFrame> expected = dtmfTrace<reference::dtmf_decoder>(s, mode);
            const std::vector<DtmfFrame> got = dtmfTrace<dtmf_decoder>(s, mode);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                ASSERT_TRUE(got[i] == expected[i]) << "frame " << i;
                keys += got[i].key ? 1 : 0;
            }
        }
    }
    // The signals hold keys enough to exercise the reports.
    EXPECT_GT(keys, 40);
}

// --- caller ID ---

enum class Hook { LowPass, Data, Mark, Carrier, Reset, FrameEnd };

struct HookCall {
    Hook hook;
    int value;
    bool operator==(const HookCall&) const = default;
};

// Records every hook. With reset_every set, the hook of every reset_every-th
// low-pass output resets the demodulator itself, part way through a frame.
template <class Decoder>
class RecordingCid : public Decoder {
public:
    explicit RecordingCid(long reset_every) : reset_every_(reset_every) {}

    void OnCidData(std::uint8_t byte) override { calls.push_back({Hook::Data, byte}); }
    void OnLowPassOut(std::int16_t value) override
    {
        calls.push_back({Hook::LowPass, value});
        if (reset_every_ > 0 && ++outputs_ % reset_every_ == 0)
            this->cidReset();
    }
    void OnLowPassMark(std::int16_t dc_offset) override { calls.push_back({Hook::Mark, dc_offset}); }
    void OnFoundCarrier(int mark_count) override { calls.push_back({Hook::Carrier, mark_count}); }
    void OnCidReset() override { calls.push_back({Hook::Reset, 0}); }

    std::vector<HookCall> calls;

private:
    long reset_every_;
    long outputs_ = 0;
};

template <class Decoder>
std::vector<HookCall> cidTrace(const Samples& s, long reset_every)
{
    RecordingCid<Decoder> d(reset_every);
    d.cidReset();
    Samples work = s;
    for (std::size_t at = 0; at < work.size(); at += kFrame) {
        const std::size_t frame = at / kFrame;
        // Now and then a shifted frame, and a line event between frames.
        const int shift = frame % 13 == 5 ? static_cast<int>(frame % 4) : 0;
        if (frame % 97 == 96)
            d.on_line_ringing();
        const bool ended = d.cid_detect_frame(&work[at], shift);
        d.calls.push_back({Hook::FrameEnd, ended ? 1 : 0});
    }
    return d.calls;
}

TEST(DspEquivalenceTest, CallerIdHooksAndLowPassOutputs)
{
    int bytes = 0, carriers = 0, message_ends = 0;
    for (const Signal& signal : signals()) {
        const Samples s = padded(signal.samples);
        for (long reset_every : {0L, 4001L}) {
            SCOPED_TRACE(signal.name + (reset_every ? ", reset by a hook" : ""));
            const std::vector<HookCall> expected = cidTrace<reference::cid_decoder>(s, reset_every);
            const std::vector<HookCall> got = cidTrace<cid_decoder>(s, reset_every);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < got.size(); ++i)
                ASSERT_TRUE(got[i] == expected[i]) << "call " << i << ": hook " << static_cast<int>(got[i].hook)
                                                   << " value " << got[i].value << ", reference hook "
                                                   << static_cast<int>(expected[i].hook) << " value "
                                                   << expected[i].value;
            for (const HookCall& call : got) {
                bytes += call.hook == Hook::Data ? 1 : 0;
                carriers += call.hook == Hook::Carrier ? 1 : 0;
                message_ends += call.hook == Hook::FrameEnd ? call.value : 0;
            }
        }
    }
    // Messages were received, and some ended inside a frame.
    EXPECT_GT(bytes, 300);
    EXPECT_GT(carriers, 4);
    EXPECT_GT(message_ends, 1);
}

TEST(DspEquivalenceTest, HighPassFilterSampleBySample)
{
    const Samples s = joined({fullScaleNoise(200, 9), louder(fsk(), 20), square(7, 100)});
    std::int16_t delay[31] = {};
    std::int16_t reference_delay[31] = {};
    for (std::size_t i = 0; i < s.size(); ++i)
        ASSERT_EQ(cid_decoder::HPFilter(s[i], delay), reference::cid_decoder::HPFilter(s[i], reference_delay)) << i;
}

// --- busy tone, dial tone and ringback ---

struct ToneSample {
    bool found;
    int type;
    std::int16_t level;
    std::int16_t energy[2];
    bool operator==(const ToneSample&) const = default;
};

// Both entries on every sample; new settings now and then, part way
// through a block, as the line installs them between frames.
template <class Detector, class Settings>
std::vector<ToneSample> toneTrace(const Samples& s, bool dial, std::initializer_list<Settings> settings)
{
    const std::vector<Settings> sets(settings);
    Detector d;
    d.Initial(sets[0]);
    d.StarttoneDet();
    std::vector<ToneSample> trace;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (i % 5003 == 5002)
            d.Initial(sets[(i / 5003) % sets.size()]);
        ToneSample t{};
        t.type = -1;
        t.found = dial ? d.toneDet(s[i], t.level, t.type) : d.toneDet(s[i]);
        t.energy[0] = d.energy(0);
        t.energy[1] = d.energy(1);
        trace.push_back(t);
    }
    return trace;
}

TEST(DspEquivalenceTest, ToneReportsLevelsAndEnergies)
{
    const tagBusyInfo busy[] = {{0, 450, 420, 35, 35, 5, 12, 3}, {1, 425, 480, 25, 25, 5, 20, 2}};
    const reference::tagBusyInfo reference_busy[] = {{0, 450, 420, 35, 35, 5, 12, 3}, {1, 425, 480, 25, 25, 5, 20, 2}};
    const tagBusyInfo dial{0, 450, 625, 95, 395, 20, 12, 1};
    const reference::tagBusyInfo reference_dial{0, 450, 625, 95, 395, 20, 12, 1};
    int reports = 0;
    for (const Signal& signal : signals()) {
        SCOPED_TRACE(signal.name);
        const Samples& s = signal.samples;
        const std::vector<ToneSample> busy_trace = toneTrace<CToneDetect>(s, false, {busy[0], busy[1]});
        EXPECT_TRUE(busy_trace == toneTrace<reference::CToneDetect>(s, false, {reference_busy[0], reference_busy[1]}))
            << "busy tone";
        const std::vector<ToneSample> dial_trace = toneTrace<CToneDetect>(s, true, {dial, busy[1]});
        EXPECT_TRUE(dial_trace == toneTrace<reference::CToneDetect>(s, true, {reference_dial, reference_busy[1]}))
            << "dial tone and ringback";
        for (const std::vector<ToneSample>* trace : {&busy_trace, &dial_trace})
            for (const ToneSample& sample : *trace)
                reports += sample.found ? 1 : 0;
    }
    EXPECT_GT(reports, 3);
}

}  // namespace
