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
    void OnLowPassOut(std::int16_t) override { ++low_pass_outputs; }
    void OnLowPassMark(std::int16_t dc) override { dc_offsets.push_back(dc); }
    void OnFoundCarrier(int marks) override { carriers.push_back(marks); }
    void OnCidReset() override
    {
        ++resets;
        bytes_at_reset.push_back(bytes.size());
    }

    std::vector<std::uint8_t> bytes;
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
