#include "dsp/Tone.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/spandsp_signals.h"

namespace {

using olva_test::Samples;
using olva_test::spandspDtmfDecode;

Samples samplesOf(const CToneVoice& v)
{
    return v.data() ? Samples(v.data(), v.data() + v.sample_count()) : Samples{};
}

// Every multiplier-th sample: 48000 Hz tones below 4 kHz taken down to 8000 Hz.
Samples decimate(const Samples& s, int multiplier)
{
    Samples out;
    for (std::size_t i = 0; i < s.size(); i += static_cast<std::size_t>(multiplier))
        out.push_back(s[i]);
    return out;
}

bool allZero(const Samples& s, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        if (s[i] != 0)
            return false;
    return true;
}

// Sign changes per second, twice the frequency of a pure tone.
double frequencyOf(const Samples& s, std::size_t from, std::size_t to, int rate)
{
    int changes = 0;
    for (std::size_t i = from + 1; i < to; ++i)
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++changes;
    return changes * rate / 2.0 / static_cast<double>(to - from);
}

TEST(GetDtmfFrequencyTest, GivesThePairOfEveryKey)
{
    struct Case {
        unsigned char key;
        float low;
        float high;
    };
    const Case cases[] = {
        {'1', 697, 1209.9f}, {'2', 697, 1336}, {'3', 697, 1477}, {'A', 697, 1633},
        {'4', 770, 1209},    {'5', 770, 1336}, {'6', 770, 1477}, {'B', 770, 1633},
        {'7', 852, 1209},    {'8', 852, 1336}, {'9', 852, 1477}, {'C', 852, 1633},
        {'*', 941, 1209},    {'0', 941, 1336}, {'#', 941, 1477}, {'D', 941, 1633},
        {'a', 697, 1633},    {'b', 770, 1633}, {'c', 852, 1633}, {'d', 941, 1633},
    };
    for (const Case& c : cases) {
        float low = -1, high = -1;
        EXPECT_TRUE(GetDtmfFrequency(c.key, low, high)) << c.key;
        EXPECT_EQ(low, c.low) << c.key;
        EXPECT_EQ(high, c.high) << c.key;
    }
    const unsigned char others[] = {'x', 'X', 'E', 'e', ' ', '\0', '+', 0xB1};
    for (unsigned char key : others) {
        float low = -1, high = -1;
        EXPECT_FALSE(GetDtmfFrequency(key, low, high)) << int{key};
        EXPECT_EQ(low, 0);
        EXPECT_EQ(high, 0);
    }
}

TEST(CToneVoiceTest, SpandspDecodesTheDigitsItMakes)
{
    struct Case {
        short scale;
        float ratio;
        long on_ms;
        long off_ms;
        int multiplier;
    };
    // Scale and ratio as the DTMF-send settings allow them (190-240, any
    // ratio), 8000 and 48000 Hz. From scale 220 with ratio 1.5, and at 240
    // with the default 1.26, the sum of the two tones passes full scale: a
    // wrapped store turned those peaks into spikes that no receiver took.
    const Case cases[] = {
        {220, 1.26f, 100, 80, 1}, {220, 1.26f, 100, 80, 6}, {190, 1.0f, 80, 50, 1},
        {190, 1.26f, 150, 200, 6}, {240, 1.26f, 100, 80, 1}, {240, 1.26f, 100, 80, 6},
        {220, 1.5f, 80, 80, 1},   {120, 1.26f, 100, 80, 1},
    };
    const std::string digits = "123A456B789C*0#Dabcd";
    for (const Case& c : cases) {
        const CToneVoice v(digits.c_str(), c.on_ms, c.off_ms, c.scale, c.ratio, 0, c.multiplier);
        const Samples s = decimate(samplesOf(v), c.multiplier);
        EXPECT_EQ(spandspDtmfDecode(s.data(), s.size()), "123A456B789C*0#DABCD")
            << "scale " << c.scale << " ratio " << c.ratio << " x" << c.multiplier;
    }
}

TEST(CToneVoiceTest, ClipsTheToneSumInsteadOfWrapping)
{
    // Scale 240, ratio 1.26: each sample is the sum of the two cut terms
    // times 64, limited to the int16 range.
    const CToneVoice v("1", 100, 0, 240, 1.26f, 0, 1);
    const Samples s = samplesOf(v);
    ASSERT_EQ(s.size(), 800u);
    const double w1 = static_cast<float>(697 * 6.28318 / 8000);
    const double w2 = static_cast<float>(1209.9f * 6.28318 / 8000);
    int clipped = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double ideal = 64.0 * (std::trunc(240 * std::sin(w1 * i)) +
                                     std::trunc(1.26 * 240 * std::sin(w2 * i)));
        if (ideal > 32767 || ideal < -32768) {
            ++clipped;
            EXPECT_EQ(s[i], ideal > 0 ? 32767 : -32768) << i;
        } else {
            EXPECT_NEAR(s[i], ideal, 64.5) << i;
        }
    }
    EXPECT_GT(clipped, 10);
}

TEST(CToneVoiceTest, LaysOutDigitsAndGaps)
{
    struct Case {
        const char* digits;
        long on_ms;
        long off_ms;
        int multiplier;
        std::size_t samples;
        std::vector<std::pair<std::size_t, std::size_t>> silent;  // [from, to)
    };
    const Case cases[] = {
        {"12", 100, 100, 1, 3200, {{800, 1600}, {2400, 3200}}},
        {"12", 100, 100, 6, 19200, {{4800, 9600}, {14400, 19200}}},
        {"1X2", 100, 100, 1, 11200, {{800, 9600}, {10400, 11200}}},  // 'X': a second of silence
        {"X", 100, 100, 6, 48000, {{0, 48000}}},
        {"#", 80, 0, 1, 640, {}},
        {"", 100, 100, 1, 0, {}},
    };
    for (const Case& c : cases) {
        const CToneVoice v(c.digits, c.on_ms, c.off_ms, 220, 1.26f, 0, c.multiplier);
        const Samples s = samplesOf(v);
        ASSERT_EQ(s.size(), c.samples) << c.digits << " x" << c.multiplier;
        EXPECT_EQ(v.length(), static_cast<long>(2 * c.samples));
        EXPECT_EQ(v.data() == nullptr, c.samples == 0);
        for (const auto& [from, to] : c.silent)
            EXPECT_TRUE(allZero(s, from, to)) << c.digits << " " << from << "-" << to;
    }
}

TEST(CToneVoiceTest, RefusesInputThatWouldRunAwayOrOverflow)
{
    struct Case {
        const char* what;
        std::string digits;
        long on_ms;
        long off_ms;
        int multiplier;
        std::size_t samples;
    };
    const Case cases[] = {
        {"longest string", std::string(kMaxDtmfDigits, '5'), 100, 80, 1, kMaxDtmfDigits * 1440},
        {"string too long", std::string(kMaxDtmfDigits + 1, '5'), 100, 80, 1, 0},
        {"unknown characters", std::string(kMaxDtmfDigits, '?'), 100, 80, 1, kMaxDtmfDigits * 8000},
        {"no timing", "123", 0, 0, 1, 0},
        {"negative timing", "123", -100, -80, 1, 0},
        {"gap shorter than nothing", "1", 100, -50, 1, 400},
        {"negative tone", "1", -50, 100, 1, 400},
        {"huge timing", "1", LONG_MAX, LONG_MAX, 6, 0},
        {"timing past the limit", "1", 200000, 200000, 6, 0},
        {"no rate", "1", 100, 80, 0, 0},
        {"negative rate", "1X", 100, 80, -6, 0},
    };
    for (const Case& c : cases) {
        const CToneVoice v(c.digits.c_str(), c.on_ms, c.off_ms, 220, 1.26f, 0, c.multiplier);
        EXPECT_EQ(v.sample_count(), c.samples) << c.what;
    }
    const CToneVoice none(nullptr, 100, 80, 220, 1.26f, 0, 1);
    EXPECT_EQ(none.data(), nullptr);

    // A tone shorter than its segment says nothing of silence after it.
    const CToneVoice cut("1", 100, -50, 220, 1.26f, 0, 1);
    EXPECT_FALSE(allZero(samplesOf(cut), 300, 400));
}

TEST(CToneVoiceTest, RepeatsACadenceToFillTheTone)
{
    struct Case {
        const char* cadence;
        long total_ms;
        std::vector<std::pair<long, long>> pattern;  // the on and off ms that repeat
    };
    const Case cases[] = {
        {"300,200", 1000, {{300, 200}}},
        {"300 200", 1200, {{300, 200}}},  // the last copy cut to fit
        {"100;50:200'150-\t100", 2000, {{100, 50}, {200, 150}, {100, 0}}},
        {"400.100.300", 1500, {{400, 100}, {300, 0}}},  // a pair without off ends the list
        {"900,300,100,100", 1000, {{900, 300}}},  // the first pair already fills the tone
        {nullptr, 700, {{700, 0}}},
        {"", 700, {{700, 0}}},
        {"99999999999999999999,5", 500, {{500, 0}}},
    };
    for (const Case& c : cases) {
        const CToneVoice v(450, c.total_ms, 200, c.cadence);
        const Samples s = samplesOf(v);
        ASSERT_EQ(s.size(), static_cast<std::size_t>(c.total_ms * 8)) << (c.cadence ? c.cadence : "null");
        // Walk the expected pattern over the buffer.
        std::size_t pos = 0;
        while (pos < s.size()) {
            for (const auto& [on, off] : c.pattern) {
                const std::size_t on_end = std::min(s.size(), pos + static_cast<std::size_t>(on) * 8);
                const std::size_t off_end = std::min(s.size(), on_end + static_cast<std::size_t>(off) * 8);
                if (on_end - pos > 80) {
                    EXPECT_NEAR(frequencyOf(s, pos, on_end, 8000), 450, 25)
                        << (c.cadence ? c.cadence : "null") << " at " << pos;
                }
                EXPECT_TRUE(allZero(s, on_end, off_end)) << (c.cadence ? c.cadence : "null") << " at " << on_end;
                pos = off_end;
                if (pos == s.size())
                    break;
            }
        }
    }
}

TEST(CToneVoiceTest, ACadenceOfEmptySegmentsGivesSilence)
{
    for (const char* cadence : {"0,0", "0", ",,,", "abc", "0,0,0,0"}) {
        const CToneVoice v(450, 500, 200, cadence);
        const Samples s = samplesOf(v);
        ASSERT_EQ(s.size(), 4000u) << cadence;
        EXPECT_TRUE(allZero(s, 0, s.size())) << cadence;
    }
    EXPECT_EQ(CToneVoice(450, 0, 200, "300,200").sample_count(), 0u);
    EXPECT_EQ(CToneVoice(450, -5, 200, nullptr).sample_count(), 0u);
    EXPECT_EQ(CToneVoice(450, 400'000'000L, 200, nullptr).sample_count(), 0u);
}

TEST(CToneObjectTest, MakesSilenceAndTones)
{
    const CToneObject quiet(250, 6);
    ASSERT_EQ(quiet.sample_count(), 12000u);
    EXPECT_EQ(quiet.length(), 24000);
    const CToneObject none(0, 1);
    EXPECT_EQ(none.data(), nullptr);

    // A single tone: amplitude times 64 at its peaks, then its pause.
    const CToneObject tone(1000, 300, 100, 50);
    const Samples s(tone.data(), tone.data() + tone.sample_count());
    ASSERT_EQ(s.size(), 1200u);
    EXPECT_NEAR(frequencyOf(s, 0, 800, 8000), 1000, 15);
    EXPECT_TRUE(allZero(s, 800, 1200));
    int peak = 0;
    for (std::size_t i = 0; i < 800; ++i)
        peak = std::max(peak, std::abs(int{s[i]}));
    EXPECT_LE(peak, 300 * 64);
    EXPECT_GE(peak, 299 * 64);

    // A loud single tone is clipped, not wrapped.
    const CToneObject loud(1000, 1000, 10, 0);
    for (std::size_t i = 0; i < loud.sample_count(); ++i) {
        const double ideal = 64.0 * std::trunc(1000 * std::sin(static_cast<float>(i) *
                                                                 static_cast<float>(1000 * 6.28318 / 8000)));
        if (ideal > 32767) {
            EXPECT_EQ(loud.data()[i], 32767);
        } else if (ideal < -32768) {
            EXPECT_EQ(loud.data()[i], -32768);
        }
    }

    // A dual tone with ratio 0 is its low tone alone, at the rate asked for.
    const CToneObject dual(852, 1477, 200, 50, 0, 0.0f, 6);
    const Samples d(dual.data(), dual.data() + dual.sample_count());
    ASSERT_EQ(d.size(), 2400u);
    EXPECT_NEAR(frequencyOf(d, 0, d.size(), 48000), 852, 15);
}

}  // namespace
