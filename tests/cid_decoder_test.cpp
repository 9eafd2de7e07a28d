#include "dsp/cid_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/spandsp_signals.h"

namespace {

using olva_test::append;
using olva_test::applyGainDb;
using olva_test::CidMessage;
using olva_test::CidStandard;
using olva_test::cidStandardName;
using olva_test::FskBits;
using olva_test::mixIn;
using olva_test::msToSamples;
using olva_test::Samples;
using olva_test::silence;
using olva_test::spandspCidDecode;
using olva_test::spandspFsk;
using olva_test::spandspMdmf;
using olva_test::spandspNoise;
using olva_test::spandspSdmf;
using olva_test::spandspTone;

constexpr int kCidFrame = cid_decoder::kFrameLength;

// The line's view of the demodulator: every hook recorded.
class RecordingCidDecoder : public cid_decoder {
public:
    RecordingCidDecoder() { cidReset(); }

    void OnCidData(std::uint8_t byte) override { bytes.push_back(byte); }
    void OnLowPassOut(std::int16_t value) override
    {
        ++low_pass_outputs;
        outputs.push_back(value);
        outputs_since_reset.push_back(value);
    }
    void OnLowPassMark(std::int16_t dc) override
    {
        dc_offsets.push_back(dc);
        outputs_at_mark.push_back(outputs_since_reset);
    }
    void OnFoundCarrier(int marks) override { carriers.push_back(marks); }
    void OnCidReset() override
    {
        ++resets;
        bytes_at_reset.push_back(bytes.size());
        outputs_since_reset.clear();
    }

    std::vector<std::uint8_t> bytes;
    std::vector<std::int16_t> outputs;  // every low-pass output
    std::vector<std::int16_t> outputs_since_reset;
    // At each OnLowPassMark, the low-pass outputs since the last reset.
    std::vector<std::vector<std::int16_t>> outputs_at_mark;
    std::vector<std::int16_t> dc_offsets;
    std::vector<int> carriers;
    long low_pass_outputs = 0;
    int resets = 0;
    std::vector<std::size_t> bytes_at_reset;
    std::vector<std::size_t> ends;  // the frame of each message end
    std::size_t frames = 0;

    // Whole frames (the tail padded with silence); counts message ends.
    void feed(Samples s, int shift = 0)
    {
        s.resize((s.size() + kCidFrame - 1) / kCidFrame * kCidFrame, 0);
        for (std::size_t pos = 0; pos < s.size(); pos += kCidFrame, ++frames)
            if (cid_detect_frame(&s[pos], shift))
                ends.push_back(frames);
    }
};

struct Message {
    const char* format;
    CidMessage m;
};

std::vector<Message> spandspMessages(CidStandard standard)
{
    std::vector<Message> out;
    if (standard != CidStandard::V23)
        out.push_back({"SDMF", spandspSdmf(standard, "10011750", "13812345678")});
    out.push_back({"MDMF", spandspMdmf(standard, {{0x01, "03151432"},
                                                  {0x02, "075512345678"},
                                                  {0x07, "ZHANG SAN"}})});
    out.push_back({"MDMF withheld", spandspMdmf(standard, {{0x01, "12312359"}, {0x04, "P"}, {0x08, "O"}})});
    return out;
}

constexpr int kLeadMs = 300;

// A message at gain_db (relative to spandsp's level), after kLeadMs and
// before 500 ms of silence.
Samples onTheLine(const CidMessage& m, double gain_db)
{
    Samples s = silence(kLeadMs);
    Samples signal = m.signal;
    applyGainDb(signal, gain_db);
    append(s, signal);
    append(s, silence(500));
    return s;
}

const CidStandard kStandards[] = {CidStandard::Bell202, CidStandard::V23, CidStandard::V23Singapore};

TEST(CidDecoderTest, FixturesAreWhatSpandspItselfReceives)
{
    // The fixtures' wire bytes: spandsp's receiver takes the same message
    // from the signal, and the checksum makes all bytes add up to 0.
    for (CidStandard standard : kStandards) {
        for (const Message& msg : spandspMessages(standard)) {
            const std::vector<std::uint8_t>& wire = msg.m.bytes;
            ASSERT_GE(wire.size(), 3u);
            EXPECT_EQ(wire[1], wire.size() - 3);
            std::uint8_t sum = 0;
            for (std::uint8_t b : wire)
                sum = static_cast<std::uint8_t>(sum + b);
            EXPECT_EQ(sum, 0);
            Samples s = msg.m.signal;
            append(s, silence(200));
            EXPECT_EQ(spandspCidDecode(standard, s), std::vector<std::uint8_t>(wire.begin(), wire.end() - 1))
                << cidStandardName(standard) << " " << msg.format;
        }
    }
}

TEST(CidDecoderTest, DeliversExactlyTheMessageBytesAtEveryLevel)
{
    // Gains relative to spandsp's transmit level (about -14 dBm0). From +6 dB
    // the DC offset passes 20, where a quiet test on the DC-free output never
    // saw the end; from +16 dB the filters pass full scale, where a wrapped
    // cut lost the message.
    const double gains[] = {-36, -24, -12, 0, 6, 12, 16, 18};
    for (CidStandard standard : kStandards) {
        for (const Message& msg : spandspMessages(standard)) {
            for (double gain : gains) {
                SCOPED_TRACE(std::string(cidStandardName(standard)) + " " + msg.format + " gain " +
                             std::to_string(gain));
                const Samples s = onTheLine(msg.m, gain);
                RecordingCidDecoder d;
                d.feed(s);
                EXPECT_EQ(d.bytes, msg.m.bytes);
                ASSERT_EQ(d.ends.size(), 1u);
                // The end comes with the quiet after the carrier, within 30 ms.
                const double end_ms = d.ends[0] * 20.0;
                const double carrier_end_ms = kLeadMs + msg.m.signal.size() / 8.0;
                EXPECT_GE(end_ms, carrier_end_ms - 20);
                EXPECT_LE(end_ms, carrier_end_ms + 30);
                // One reset at construction, one at the end, with every byte in.
                EXPECT_EQ(d.resets, 2);
                EXPECT_EQ(d.bytes_at_reset.back(), msg.m.bytes.size());
                EXPECT_EQ(d.dc_offsets.size(), 1u);
                ASSERT_EQ(d.carriers.size(), 1u);
                EXPECT_GE(d.carriers[0], 20);
            }
        }
    }
}

TEST(CidDecoderTest, ReturnsToCarrierSearchAfterAMessage)
{
    // Two messages with line noise in between and under them.
    for (CidStandard standard : kStandards) {
        SCOPED_TRACE(cidStandardName(standard));
        const std::vector<Message> msgs = spandspMessages(standard);
        Samples s = silence(300);
        std::vector<std::uint8_t> expected;
        for (const Message& msg : msgs) {
            append(s, msg.m.signal);
            append(s, silence(400));
            expected.insert(expected.end(), msg.m.bytes.begin(), msg.m.bytes.end());
        }
        mixIn(s, spandspNoise(-50, static_cast<int>(s.size() / 8), 11));

        RecordingCidDecoder d;
        d.feed(s);
        EXPECT_EQ(d.bytes, expected);
        EXPECT_EQ(d.ends.size(), msgs.size());
        EXPECT_EQ(d.dc_offsets.size(), msgs.size());
        EXPECT_EQ(d.carriers.size(), msgs.size());
    }
}

TEST(CidDecoderTest, DecodesUnderNoise)
{
    // 20 dB below the carrier, before, under and after the message.
    for (CidStandard standard : kStandards) {
        for (const Message& msg : spandspMessages(standard)) {
            for (double gain : {-24.0, 0.0, 12.0}) {
                SCOPED_TRACE(std::string(cidStandardName(standard)) + " " + msg.format + " gain " +
                             std::to_string(gain));
                Samples s = onTheLine(msg.m, gain);
                mixIn(s, spandspNoise(static_cast<int>(-14 + gain - 20), static_cast<int>(s.size() / 8), 5));

                RecordingCidDecoder d;
                d.feed(s);
                EXPECT_EQ(d.bytes, msg.m.bytes);
                EXPECT_EQ(d.ends.size(), 1u);
            }
        }
    }
}

TEST(CidDecoderTest, GainControlLevelsQuietInputsAndPassesLoudOnesUnchanged)
{
    // A steady mark or space tone gives a steady low-pass output that goes
    // with the square of the level reaching the discriminator. Inputs whose
    // mean |x| is at most 2047 are brought to a mean of about 2048, so their
    // output is the same at every level; louder ones pass unchanged, so
    // theirs grows with (mean / 2048)^2. Each output is taken against that
    // of the same tone at -26 dBm0 (mean |x| about 720).
    struct Case {
        int level_dbm0;
        bool passes_unchanged;
    };
    const Case cases[] = {{-34, false}, {-18, false}, {-16, true}, {-14, true}, {-10, true}};

    auto steady_output = [](const Samples& tone) {
        RecordingCidDecoder d;
        d.feed(tone);
        // From 100 ms in, when the filters and the gain control have settled.
        double sum = 0;
        for (std::size_t i = msToSamples(100); i < tone.size(); ++i)
            sum += d.outputs.at(i);
        return std::abs(sum / static_cast<double>(tone.size() - msToSamples(100)));
    };
    auto mean_magnitude = [](const Samples& tone) {
        double sum = 0;
        for (std::int16_t x : tone)
            sum += std::abs(int{x});
        return sum / static_cast<double>(tone.size());
    };
    for (int hz : {1200, 2200}) {
        const double reference = steady_output(spandspTone(hz, -26, 0, 0, 500, 0, 500));
        ASSERT_GT(reference, 50) << hz << " Hz";
        for (const Case& c : cases) {
            const Samples tone = spandspTone(hz, c.level_dbm0, 0, 0, 500, 0, 500);
            const double mean = mean_magnitude(tone);
            EXPECT_EQ(mean > 2047, c.passes_unchanged)
                << hz << " Hz at " << c.level_dbm0 << " dBm0, mean |x| " << mean;
            const double expected = c.passes_unchanged ? (mean / 2048) * (mean / 2048) : 1.0;
            EXPECT_NEAR(steady_output(tone) / reference, expected, 0.1 * expected)
                << hz << " Hz at " << c.level_dbm0 << " dBm0, mean |x| " << mean;
        }
    }
}

TEST(CidDecoderTest, MeasuresTheDcOffsetOverTheSeizureLeavingOutItsLastTwelveOutputs)
{
    // The DC offset reported when the seizure is found is the mean of the
    // low-pass outputs collected since the reset (the latest 512 at most),
    // leaving out the last 12, which may already belong to the marks; the
    // quotient is truncated.
    constexpr std::size_t kCollected = 512;
    constexpr std::size_t kTail = 12;
    for (CidStandard standard : kStandards) {
        for (const Message& msg : spandspMessages(standard)) {
            for (double gain : {-24.0, 0.0, 12.0}) {
                SCOPED_TRACE(std::string(cidStandardName(standard)) + " " + msg.format + " gain " +
                             std::to_string(gain));
                RecordingCidDecoder d;
                d.feed(onTheLine(msg.m, gain));
                ASSERT_EQ(d.dc_offsets.size(), 1u);
                const std::vector<std::int16_t>& seen = d.outputs_at_mark[0];
                ASSERT_GT(seen.size(), kCollected);
                std::int64_t sum = 0;
                for (std::size_t i = seen.size() - kCollected; i < seen.size() - kTail; ++i)
                    sum += seen[i];
                EXPECT_EQ(d.dc_offsets[0], sum / static_cast<std::int64_t>(kCollected - kTail));
            }
        }
    }
}

TEST(CidDecoderTest, FindsASeizureAtItsLimitAsTheStateAtResetDecides)
{
    // A seizure of 99 to 101 bits gives about the 100 changes that are
    // needed, so whether it is found turns on its first bits. Started within
    // a few samples of a reset, those are decided by the state the reset
    // leaves: the gain ring (every entry 2056, which holds a weak signal
    // down until its own samples fill the ring) and the DC offset of 8 that
    // the bit clock uses until the seizure is measured.
    const std::vector<std::uint8_t> body = {0x04, 0x03, '1', '2', '3', 0xA9};
    struct Case {
        CidStandard standard;
        int seizure_bits;
        int level_dbm0;
        int lead_samples;  // silence between the reset and the signal
        bool found;
    };
    const Case cases[] = {
        // A weak seizure that starts with the reset loses its first bits.
        {CidStandard::Bell202, 101, -20, 0, true},
        {CidStandard::Bell202, 101, -32, 0, false},
        {CidStandard::Bell202, 101, -32, 20, true},
        {CidStandard::V23, 101, -32, 0, false},
        {CidStandard::V23, 101, -32, 20, true},
        // At the edge: a reset state a little different (a ring of 2048, an
        // offset of 0 or 16) turns each of these.
        {CidStandard::Bell202, 101, -24, 2, false},
        {CidStandard::V23, 101, -24, 2, false},
        {CidStandard::V23, 101, -22, 0, false},
        {CidStandard::V23, 101, -25, 3, true},
        {CidStandard::Bell202, 99, -24, 15, true},
        {CidStandard::V23, 99, -24, 15, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(cidStandardName(c.standard)) + ", " + std::to_string(c.seizure_bits) +
                     " bits at " + std::to_string(c.level_dbm0) + " dBm0 after " +
                     std::to_string(c.lead_samples) + " samples");
        Samples s(static_cast<std::size_t>(c.lead_samples), 0);
        append(s, spandspFsk(c.standard, FskBits().seizure(c.seizure_bits).marks(30).characters(body),
                             c.level_dbm0));
        append(s, silence(300));
        RecordingCidDecoder d;
        d.feed(s);
        EXPECT_EQ(d.dc_offsets.size(), c.found ? 1u : 0u);
        EXPECT_EQ(d.bytes, c.found ? body : std::vector<std::uint8_t>{});
    }
}

TEST(CidDecoderTest, SilenceNoiseAndTonesGiveNothing)
{
    struct Case {
        const char* what;
        Samples signal;
    };
    std::vector<Case> cases = {
        {"silence", silence(5000)},
        {"dial tone", spandspTone(450, -10, 0, 0, 3000, 0, 3000)},
        {"busy tone", spandspTone(450, -10, 0, 0, 350, 350, 3000)},
        {"mark tone", spandspTone(1200, -14, 0, 0, 3000, 0, 3000)},
        {"space tone", spandspTone(2100, -14, 0, 0, 3000, 0, 3000)},
        {"keys", olva_test::spandspDtmf("1234567890*#", -10, 0, 100, 100)},
    };
    for (int level : {-10, -20, -30, -40, -50, -60})
        cases.push_back({"noise", spandspNoise(level, 5000, 100 + level)});
    for (const Case& c : cases) {
        RecordingCidDecoder d;
        d.feed(c.signal);
        EXPECT_TRUE(d.bytes.empty()) << c.what;
        EXPECT_TRUE(d.ends.empty()) << c.what;
        EXPECT_TRUE(d.dc_offsets.empty()) << c.what;
        EXPECT_EQ(d.low_pass_outputs, static_cast<long>(d.frames * kCidFrame)) << c.what;
    }
}

TEST(CidDecoderTest, NeedsAnUnbrokenSeizureAndTwentyMarks)
{
    const std::vector<std::uint8_t> body = {0x04, 0x03, '1', '2', '3', 0xA9};
    struct Case {
        const char* what;
        FskBits bits;
        bool seizure;
        bool carrier;
    };
    const Case cases[] = {
        {"full", FskBits().seizure(300).marks(180).characters(body), true, true},
        {"short seizure", FskBits().seizure(130).marks(40).characters(body), true, true},
        {"seizure too short", FskBits().seizure(70).marks(40).characters(body), false, false},
        // Two equal bits restart the count: 2 x 70 changes are not a seizure.
        {"broken seizure", FskBits().seizure(70).marks(2).seizure(70).marks(40).characters(body), false, false},
        {"too few marks", FskBits().seizure(130).marks(10).characters(body), true, false},
    };
    for (CidStandard standard : {CidStandard::Bell202, CidStandard::V23}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(cidStandardName(standard)) + " " + c.what);
            Samples s = silence(200);
            append(s, spandspFsk(standard, c.bits, -14));
            append(s, silence(300));
            RecordingCidDecoder d;
            d.feed(s);
            EXPECT_EQ(d.dc_offsets.size(), c.seizure ? 1u : 0u);
            EXPECT_EQ(d.carriers.size(), c.carrier ? 1u : 0u);
            EXPECT_EQ(d.bytes, c.carrier ? body : std::vector<std::uint8_t>{});
            EXPECT_EQ(d.ends.size(), c.carrier ? 1u : 0u);
        }
    }
}

TEST(CidDecoderTest, EndsAMessageOnItsThreeHundredthByte)
{
    // A carrier that goes on for 310 characters: the 300th is still
    // delivered, then the message ends and the rest is not taken for bytes.
    std::vector<std::uint8_t> body;
    for (int i = 0; i < 310; ++i)
        body.push_back(static_cast<std::uint8_t>('A' + i % 26));
    Samples s = silence(200);
    append(s, spandspFsk(CidStandard::Bell202, FskBits().seizure(300).marks(180).characters(body), -14));
    append(s, silence(300));

    RecordingCidDecoder d;
    d.feed(s);
    ASSERT_EQ(d.bytes.size(), 300u);
    EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), body.begin()));
    ASSERT_EQ(d.ends.size(), 1u);
    EXPECT_EQ(d.bytes_at_reset.at(1), 300u);
    // The end comes while the carrier still runs, about ten characters
    // (83 ms) before it stops.
    const double carrier_end_ms = 200 + (300 + 180 + 3100) / 1.2;
    EXPECT_NEAR(d.ends[0] * 20.0, carrier_end_ms - 83, 25);
}

TEST(CidDecoderTest, LineEventsResetTheDemodulator)
{
    // Half a message, then a line event: the rest of the message, without
    // its seizure, gives nothing.
    const CidMessage m = spandspSdmf(CidStandard::Bell202, "10011750", "13812345678");
    const std::size_t half = m.signal.size() * 3 / 4;  // into the message bytes
    const Samples first(m.signal.begin(), m.signal.begin() + static_cast<std::ptrdiff_t>(half));
    const Samples rest(m.signal.begin() + static_cast<std::ptrdiff_t>(half), m.signal.end());

    using Event = void (cid_decoder::*)();
    const Event events[] = {&cid_decoder::on_line_ringing, &cid_decoder::on_line_hook_off,
                            &cid_decoder::on_line_reset, &cid_decoder::on_ring_cancel,
                            &cid_decoder::cidReset};
    for (Event event : events) {
        RecordingCidDecoder d;
        Samples s = silence(200);
        append(s, first);
        d.feed(s);
        const std::size_t seen = d.bytes.size();
        ASSERT_GT(seen, 2u);
        (d.*event)();
        EXPECT_EQ(d.resets, 2);
        d.feed(rest);
        d.feed(silence(300));
        EXPECT_EQ(d.bytes.size(), seen);
        EXPECT_TRUE(d.ends.empty());
    }
}

TEST(CidDecoderTest, DecodesAfterMinutesOfASteadyTone)
{
    // A steady tone gives the bit clock no zero crossing for 140 s, past the
    // point where it rebases its counters; the message after it still decodes.
    Samples s = spandspTone(1200, -14, 0, 0, 140000, 0, 140000);
    const CidMessage m = spandspSdmf(CidStandard::Bell202, "10011750", "13812345678");
    append(s, onTheLine(m, 0));
    RecordingCidDecoder d;
    d.feed(s);
    EXPECT_EQ(d.bytes, m.bytes);
    EXPECT_EQ(d.ends.size(), 1u);
}

TEST(CidDecoderTest, ShiftsEverySampleFirst)
{
    // A signal four times too loud for its message, shifted right by 2.
    const CidMessage m = spandspMdmf(CidStandard::V23, {{0x02, "13812345678"}});
    Samples s = silence(200);
    Samples signal = m.signal;
    applyGainDb(signal, 20 * std::log10(4.0));
    append(s, signal);
    append(s, silence(300));
    RecordingCidDecoder d;
    d.feed(s, 2);
    EXPECT_EQ(d.bytes, m.bytes);

    RecordingCidDecoder odd;
    odd.feed(s, 99);  // beyond the sample width: the largest shift, no fault
    odd.feed(s, -3);  // below 0: no shift
    EXPECT_FALSE(odd.cid_detect_frame(nullptr, 0));
}

TEST(CidDecoderTest, HighPassFilterStopsLowFrequenciesAndPassesHighOnes)
{
    struct Case {
        double hz;
        int min_peak;
        int max_peak;
    };
    const Case cases[] = {
        {0, 0, 150},  // 16000 down by more than 40 dB
        {50, 0, 150},
        {100, 0, 500},
        {1000, 14000, 24000},
        {1700, 14000, 24000},
        {2200, 14000, 24000},
    };
    for (const Case& c : cases) {
        std::int16_t delay[31] = {};
        int peak = 0;
        for (int i = 0; i < 800; ++i) {
            const auto x = static_cast<std::int16_t>(16000 * std::cos(2 * M_PI * c.hz * i / 8000));
            const std::int16_t y = cid_decoder::HPFilter(x, delay);
            if (i >= 31)
                peak = std::max(peak, std::abs(int{y}));
        }
        EXPECT_GE(peak, c.min_peak) << c.hz << " Hz";
        EXPECT_LE(peak, c.max_peak) << c.hz << " Hz";
    }
}

}  // namespace
