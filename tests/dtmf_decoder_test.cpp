#include "dsp/dtmf_decoder.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/spandsp_signals.h"

namespace {

using olva_test::append;
using olva_test::applyGainDb;
using olva_test::mixIn;
using olva_test::msToSamples;
using olva_test::Samples;
using olva_test::silence;
using olva_test::spandspDtmf;
using olva_test::spandspNoise;
using olva_test::spandspTone;

constexpr char kKeys[] = "0123456789ABCD*#";  // by key code
const std::string kAllKeys = "123A456B789C*0#D";
constexpr int kDtmfFrame = dtmf_decoder::kFrameLength;

struct Decoded {
    std::string keys;
    std::vector<std::size_t> frames;  // the frame of each report
};

// Runs whole frames through the detector (the tail padded with silence).
Decoded run(dtmf_decoder& d, Samples s, bool strict)
{
    s.resize((s.size() + kDtmfFrame - 1) / kDtmfFrame * kDtmfFrame, 0);
    Decoded out;
    for (std::size_t pos = 0; pos < s.size(); pos += kDtmfFrame) {
        std::int16_t code = -1;
        if (d.dtmf_detect(&s[pos], &code, strict)) {
            EXPECT_GE(code, 0);
            EXPECT_LT(code, 16);
            out.keys += kKeys[code];
            out.frames.push_back(pos / kDtmfFrame);
        }
    }
    return out;
}

Decoded decode(const Samples& s, bool strict)
{
    dtmf_decoder d;
    d.dtmf_init();
    return run(d, s, strict);
}

// lead samples of silence before the signal, and 100 ms after it.
Samples framed(const Samples& signal, std::size_t lead)
{
    Samples s(lead, 0);
    append(s, signal);
    append(s, silence(100));
    return s;
}

Samples keyOne(int ms, int level_dbm0 = -10)
{
    return spandspTone(697, level_dbm0, 1209, level_dbm0, ms, 0, ms);
}

// A steady tone at a level given to a fraction of a dB.
Samples steadyTone(int hz, double level_dbm0, int ms)
{
    const double whole = std::floor(level_dbm0);
    Samples s = spandspTone(hz, static_cast<int>(whole), 0, 0, ms, 0, ms);
    applyGainDb(s, level_dbm0 - whole);
    return s;
}

// Key 1 of 700 and 1200 Hz, within 0.8 % of its 697 and 1209 Hz: both
// tones, like the others that the cases below add, have whole cycles in a
// 20 ms frame, so every frame of the key measures alike and a case sits on
// the side of a threshold it was built for. The low tone is at -10 dBm0;
// others are given relative to it. kSteadyKeyMs long, after
// kSteadyKeyLeadMs of silence, and followed by 200 ms.
constexpr int kSteadyKeyMs = 400;
constexpr int kSteadyKeyLeadMs = 200;

Samples steadyKeyOne(double high_db)
{
    Samples key = steadyTone(700, -10, kSteadyKeyMs);
    mixIn(key, steadyTone(1200, -10 + high_db, kSteadyKeyMs));
    Samples s = silence(kSteadyKeyLeadMs);
    append(s, key);
    append(s, silence(200));
    return s;
}

TEST(DtmfDecoderTest, ReportsEverySpandspKeyOnceInOrder)
{
    struct Case {
        int level_dbm0;
        int twist_db;
        int on_ms;
        int off_ms;
        bool strict;
    };
    // The line runs the detector in strict mode, which needs gaps of 65 ms
    // or more at every frame alignment (see the test below); normal mode
    // takes 40 ms keys with any gap.
    const Case cases[] = {
        {-4, 0, 60, 70, true},    {-10, 0, 60, 70, true},  {-20, 4, 80, 100, true},
        {-28, -4, 100, 100, true}, {-30, 0, 150, 200, true}, {-14, 6, 60, 70, true},
        {-14, -6, 60, 70, true},  {-6, 0, 60, 60, false},  {-20, 0, 60, 60, false},
        {-28, 4, 100, 100, false}, {-10, -8, 60, 60, false}, {-10, 0, 40, 20, false},
    };
    for (const Case& c : cases) {
        const Samples keys = spandspDtmf(kAllKeys, c.level_dbm0, c.twist_db, c.on_ms, c.off_ms);
        for (std::size_t lead = 0; lead < kDtmfFrame * 2; lead += 17)
            EXPECT_EQ(decode(framed(keys, 800 + lead), c.strict).keys, kAllKeys)
                << "level " << c.level_dbm0 << " twist " << c.twist_db << " on " << c.on_ms
                << " off " << c.off_ms << " strict " << c.strict << " lead " << lead;
    }
}

TEST(DtmfDecoderTest, StrictModeMergesKeysWhoseGapIsTooShortToReopenTheGate)
{
    // After a report, strict mode waits for two weak frames; the frame after a
    // key still holds the band-pass tail, so a 40 ms gap is not enough.
    struct Case {
        int gap_ms;
        bool strict;
        std::size_t reports;
    };
    const Case cases[] = {
        {20, true, 1}, {40, true, 1}, {60, true, 2}, {20, false, 2}, {40, false, 2},
    };
    for (const Case& c : cases) {
        Samples s = silence(100);
        append(s, keyOne(200));
        append(s, silence(c.gap_ms));
        append(s, keyOne(200));
        const Decoded d = decode(framed(s, 0), c.strict);
        EXPECT_EQ(d.keys, std::string(c.reports, '1')) << "gap " << c.gap_ms << " strict " << c.strict;
    }

    // With spandsp's keys, gaps below 60 ms lose digits in strict mode while
    // normal mode keeps them all.
    const Samples keys = spandspDtmf(kAllKeys, -10, 0, 60, 40);
    EXPECT_EQ(decode(framed(keys, 800), false).keys, kAllKeys);
    EXPECT_LT(decode(framed(keys, 800), true).keys.size(), kAllKeys.size());
}

TEST(DtmfDecoderTest, ReportsOnTheSecondFrameOfAKey)
{
    // Frame-aligned keys after five frames of silence: the first key frame
    // only stores the code, the second reports it; one frame is too short.
    struct Case {
        int on_ms;
        bool strict;
        std::vector<std::size_t> frames;
    };
    const Case cases[] = {
        {20, true, {}}, {20, false, {}}, {40, true, {6}}, {40, false, {6}},
        {100, true, {6}}, {100, false, {6}}, {1000, true, {6}}, {1000, false, {6}},
    };
    for (const Case& c : cases) {
        Samples s = silence(100);
        append(s, keyOne(c.on_ms));
        const Decoded d = decode(framed(s, 0), c.strict);
        EXPECT_EQ(d.frames, c.frames) << c.on_ms << " ms, strict " << c.strict;
        EXPECT_EQ(d.keys, std::string(c.frames.size(), '1'));
    }
}

TEST(DtmfDecoderTest, StrictModeTakesTheStricterTwistAtTheNextFrame)
{
    // A 10 dB weaker high tone passes the normal twist (about 12 dB) and fails
    // the strict one (about 9 dB); one detector switched between the modes.
    const Samples keys = framed(spandspDtmf(kAllKeys, -10, -10, 100, 100), 800);
    dtmf_decoder d;
    d.dtmf_init();
    EXPECT_EQ(run(d, keys, false).keys, kAllKeys);
    EXPECT_EQ(run(d, keys, true).keys, "");
    EXPECT_EQ(run(d, keys, false).keys, kAllKeys);
}

TEST(DtmfDecoderTest, StrictModeRefusesAKeyWhoseWeakerToneHasTooLittleOfTheFrame)
{
    // Key 1 under a steady 1000 Hz tone as loud as its low tone. The frame's
    // gain control scales the key and the interfering tone together, so the
    // weaker (high) tone's energy ends near the strength threshold: with the
    // high tone 6.5, 6.75, 7.25, 7.5 and 8 dB down, about 56, 52, 48, 44 and
    // 40. Strict mode wants more than 50, normal mode more than 35; the
    // twist, sum and relative checks pass in every case.
    struct Case {
        double high_db;
        const char* strict_keys;
        const char* normal_keys;
    };
    const Case cases[] = {
        {-5, "1", "1"},   {-6.5, "1", "1"}, {-6.75, "1", "1"}, {-7.25, "", "1"},
        {-7.5, "", "1"}, {-8, "", "1"},
    };
    for (const Case& c : cases) {
        Samples s = steadyKeyOne(c.high_db);
        mixIn(s, steadyTone(1000, -10, static_cast<int>(s.size() / 8)));
        EXPECT_EQ(decode(s, true).keys, c.strict_keys) << "strict, high tone " << c.high_db << " dB";
        EXPECT_EQ(decode(s, false).keys, c.normal_keys) << "normal, high tone " << c.high_db << " dB";
    }
}

TEST(DtmfDecoderTest, RefusesAKeyWithASecondColumnToneWithinTenDecibels)
{
    // Key 1 with a 1350 Hz tone (the second column's, 1336 Hz) below its
    // 1200 Hz column tone. The energies go with power: the second column may
    // hold at most 0.1 of the first, so the key passes only with the extra
    // tone more than 10 dB down. In both modes alike.
    struct Case {
        double second_column_db;
        const char* keys;
    };
    const Case cases[] = {{-8, ""}, {-9.5, ""}, {-11.5, "1"}, {-14, "1"}};
    for (const Case& c : cases) {
        Samples s = steadyKeyOne(0);
        mixIn(s, steadyTone(1350, -10 + c.second_column_db, kSteadyKeyMs), msToSamples(kSteadyKeyLeadMs));
        for (bool strict : {true, false})
            EXPECT_EQ(decode(s, strict).keys, c.keys)
                << "second column " << c.second_column_db << " dB, strict " << strict;
    }
}

TEST(DtmfDecoderTest, WeakSingleAndForeignSignalsGiveNothing)
{
    struct Case {
        const char* what;
        Samples signal;
    };
    std::vector<Case> cases = {
        {"silence", silence(2000)},
        {"keys at -33 dBm0", spandspDtmf(kAllKeys, -33, 0, 100, 100)},
        {"keys at -40 dBm0", spandspDtmf(kAllKeys, -40, 0, 100, 100)},
        {"dial tone", spandspTone(450, -10, 0, 0, 2000, 0, 2000)},
        {"busy tone", spandspTone(450, -10, 0, 0, 350, 350, 3000)},
        {"ringback", spandspTone(440, -10, 480, -10, 1000, 500, 3000)},
    };
    for (int f : {697, 770, 852, 941, 1209, 1336, 1477, 1633})
        cases.push_back({"single tone", spandspTone(f, -10, 0, 0, 300, 100, 800)});
    for (int level : {-10, -20, -30, -40, -50})
        cases.push_back({"noise", spandspNoise(level, 3000, level)});
    for (const Case& c : cases)
        for (bool strict : {true, false})
            EXPECT_EQ(decode(framed(c.signal, 800), strict).keys, "") << c.what << " strict " << strict;
}

TEST(DtmfDecoderTest, ReportsWithoutACodePointerAndRefusesNoFrame)
{
    const Samples s = framed(keyOne(100), 800);
    dtmf_decoder d;
    d.dtmf_init();
    int reports = 0;
    for (std::size_t pos = 0; pos + kDtmfFrame <= s.size(); pos += kDtmfFrame)
        reports += d.dtmf_detect(&s[pos], nullptr, true);
    EXPECT_EQ(reports, 1);
    std::int16_t code = -1;
    EXPECT_FALSE(d.dtmf_detect(nullptr, &code, true));
    EXPECT_EQ(code, -1);
}

TEST(DtmfDecoderTest, Sat16Clamps)
{
    EXPECT_EQ(dtmf_decoder::sat16(40000), 32767);
    EXPECT_EQ(dtmf_decoder::sat16(-40000), -32768);
    EXPECT_EQ(dtmf_decoder::sat16(-123), -123);
}

}  // namespace
