#include "dsp/busytoneDet.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/spandsp_signals.h"

namespace {

using olva_test::append;
using olva_test::mixIn;
using olva_test::msToSamples;
using olva_test::Samples;
using olva_test::silence;
using olva_test::spandspNoise;
using olva_test::spandspTone;

// The two settings the line installs when it opens.
constexpr tagBusyInfo kBusySet{0, 450, 420, 35, 35, 5, 12, 3};
constexpr tagBusyInfo kDialSet{0, 450, 625, 95, 395, 20, 12, 1};
// A block is 80 analysed samples and the sample that ends it.
constexpr std::size_t kBlock = CToneDetect::kBlockSamples + 1;

CToneDetect started(const tagBusyInfo& settings)
{
    CToneDetect d;
    EXPECT_EQ(d.Initial(settings), 0);
    d.StarttoneDet();
    return d;
}

// The samples at which the busy detector reports.
std::vector<std::size_t> busyReports(const Samples& s, const tagBusyInfo& settings = kBusySet)
{
    CToneDetect d = started(settings);
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (d.toneDet(s[i]))
            at.push_back(i);
    return at;
}

struct DialReport {
    std::size_t at;
    int type;
};

std::vector<DialReport> dialReports(const Samples& s)
{
    CToneDetect d = started(kDialSet);
    std::vector<DialReport> out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::int16_t level = 0;
        int type = -1;
        const bool found = d.toneDet(s[i], level, type);
        EXPECT_EQ(found, type == 1 || type == 2);
        if (found)
            out.push_back({i, type});
    }
    return out;
}

// 450 Hz, 350 ms on and 350 ms off, after lead_ms of silence.
Samples busyTone(int level_dbm0, int periods, int lead_ms = 1000)
{
    Samples s = silence(lead_ms);
    append(s, spandspTone(450, level_dbm0, 0, 0, 350, 350, periods * 700));
    return s;
}

// Where the k-th tone (from 1) of a busy cadence ends.
std::size_t busyToneEnd(int k, int lead_ms = 1000)
{
    return msToSamples(lead_ms + (k - 1) * 700 + 350);
}

TEST(CToneDetectTest, ReportsBusyToneOnTheSixthMatchingTransition)
{
    // The first tone follows a long silence and does not count; the six
    // transitions after it end with the end of the fourth tone, and counting
    // starts again: tones 7 and 10.
    for (int level : {-5, -15, -25, -35, -40}) {
        const std::vector<std::size_t> at = busyReports(busyTone(level, 10));
        ASSERT_EQ(at.size(), 3u) << level << " dBm0";
        for (int i = 0; i < 3; ++i) {
            const std::size_t end = busyToneEnd(4 + 3 * i);
            EXPECT_GE(at[i], end) << level << " dBm0, report " << i;
            EXPECT_LE(at[i], end + 2 * kBlock) << level << " dBm0, report " << i;
        }
    }
}

TEST(CToneDetectTest, ReportsBusyToneUnderNoise)
{
    Samples s = busyTone(-20, 10);
    mixIn(s, spandspNoise(-40, static_cast<int>(s.size() / 8), 3));
    const std::vector<std::size_t> at = busyReports(s);
    ASSERT_EQ(at.size(), 3u);
    EXPECT_GE(at[0], busyToneEnd(4));
    EXPECT_LE(at[0], busyToneEnd(4) + 2 * kBlock);
}

TEST(CToneDetectTest, OtherCadencesAndSignalsAreNotBusyTone)
{
    struct Case {
        const char* what;
        Samples signal;
    };
    std::vector<Case> cases = {
        {"silence", silence(10000)},
        {"steady 450 Hz", spandspTone(450, -10, 0, 0, 10000, 0, 10000)},
        {"500/500 ms", spandspTone(450, -10, 0, 0, 500, 500, 10000)},
        {"200/200 ms", spandspTone(450, -10, 0, 0, 200, 200, 10000)},
        {"350/700 ms", spandspTone(450, -10, 0, 0, 350, 700, 10000)},
        {"1000 Hz 350/350 ms", spandspTone(1000, -10, 0, 0, 350, 350, 10000)},
        {"ringback", spandspTone(450, -10, 0, 0, 1000, 4000, 10000)},
    };
    for (int level : {-10, -20, -30, -40, -50})
        cases.push_back({"noise", spandspNoise(level, 10000, level)});
    for (const Case& c : cases) {
        Samples s = silence(500);
        append(s, c.signal);
        EXPECT_TRUE(busyReports(s).empty()) << c.what;
    }
}

TEST(CToneDetectTest, DualFrequencyModeTakesTheMeanOfBothFilters)
{
    // A busy set watching 450 and 650 Hz (the mean of both filters) beside
    // one watching 450 Hz alone, threshold 678 (gate 12). A tone on one
    // frequency gives its filter about 1980 at -20 dBm0 and 1000 at -44 dBm0
    // (from -42 dBm0 down the gain control leaves the level alone) and the other
    // filter next to nothing: the mean passes the threshold at -20 dBm0 and
    // stays under it at -44 dBm0, where the filter alone passes it. Both
    // tones together at -44 dBm0 pass it; at -48 dBm0 (about 400 each)
    // neither they nor their mean do.
    constexpr tagBusyInfo kDualSet{1, 450, 650, 35, 35, 5, 12, 3};
    constexpr tagBusyInfo kSingleSet{0, 450, 650, 35, 35, 5, 12, 3};
    struct Case {
        int f1;
        int level1_dbm0;
        int f2;  // 0: one tone
        int level2_dbm0;
        bool dual_busy;
        bool single_busy;
    };
    const Case cases[] = {
        {450, -20, 0, 0, true, true},     {650, -20, 0, 0, true, false},
        {450, -44, 0, 0, false, true},    {650, -44, 0, 0, false, false},
        {450, -44, 650, -44, true, true}, {450, -48, 650, -48, false, false},
    };
    for (const Case& c : cases) {
        Samples s = silence(1000);
        append(s, spandspTone(c.f1, c.level1_dbm0, c.f2, c.level2_dbm0, 350, 350, 10 * 700));
        const std::string what = std::to_string(c.f1) + " Hz at " + std::to_string(c.level1_dbm0) + ", " +
                                 std::to_string(c.f2) + " Hz at " + std::to_string(c.level2_dbm0);
        EXPECT_EQ(busyReports(s, kDualSet).size(), c.dual_busy ? 3u : 0u) << "dual, " << what;
        EXPECT_EQ(busyReports(s, kSingleSet).size(), c.single_busy ? 3u : 0u) << "single, " << what;
    }
}

TEST(CToneDetectTest, ReportsDialToneEveryNineToneBlocks)
{
    for (int level : {-10, -30, -45}) {
        Samples s = silence(500);
        append(s, spandspTone(450, level, 0, 0, 2000, 0, 2000));
        append(s, silence(1000));
        const std::vector<DialReport> at = dialReports(s);
        ASSERT_GE(at.size(), 20u) << level;
        const std::size_t start = msToSamples(500);
        // The ninth tone block, give or take the block the tone starts in.
        EXPECT_GE(at[0].at, start + 8 * kBlock) << level;
        EXPECT_LE(at[0].at, start + 10 * kBlock) << level;
        for (std::size_t i = 0; i < at.size(); ++i) {
            EXPECT_EQ(at[i].type, 1);
            EXPECT_LE(at[i].at, msToSamples(2500) + kBlock);
            if (i > 0) {
                EXPECT_EQ(at[i].at - at[i - 1].at, 9 * kBlock);
            }
        }
    }
}

TEST(CToneDetectTest, ReportsRingbackAtTheStartOfEachToneAfterAFullPause)
{
    // 1 s on, 4 s off from 500 ms: ringback when tones 2, 3 and 4 start, and
    // dial tone (type 1) only inside the tones.
    Samples s = silence(500);
    append(s, spandspTone(450, -15, 0, 0, 1000, 4000, 16000));
    const std::vector<DialReport> at = dialReports(s);
    std::vector<std::size_t> ringback;
    for (const DialReport& r : at) {
        if (r.type == 2) {
            ringback.push_back(r.at);
            continue;
        }
        const std::size_t into_period = (r.at - msToSamples(500)) % msToSamples(5000);
        EXPECT_LE(into_period, msToSamples(1000) + kBlock) << r.at;
    }
    ASSERT_EQ(ringback.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const std::size_t start = msToSamples(500 + 5000 * (i + 1));
        EXPECT_GE(ringback[i], start);
        EXPECT_LE(ringback[i], start + 2 * kBlock);
    }
}

TEST(CToneDetectTest, NoiseIsNeitherDialToneNorRingback)
{
    for (int level : {-10, -20, -30, -40, -50}) {
        Samples s = silence(500);
        append(s, spandspNoise(level, 20000, 7 * level));
        EXPECT_TRUE(dialReports(s).empty()) << level;
    }
}

TEST(CToneDetectTest, GivesTheLevelOfEveryBlockWithoutATone)
{
    CToneDetect d = started(kDialSet);
    const Samples s = silence(1000);
    int inside = 0, ends = 0;
    for (std::int16_t x : s) {
        std::int16_t level = 1;
        int type = 99;
        EXPECT_FALSE(d.toneDet(x, level, type));
        if (type == -1) {
            ++inside;
        } else {
            EXPECT_EQ(type, 0);
            EXPECT_EQ(level, -48);
            ++ends;
        }
    }
    EXPECT_EQ(ends, static_cast<int>(s.size() / kBlock));
    EXPECT_EQ(inside + ends, static_cast<int>(s.size()));
}

TEST(CToneDetectTest, RunCountersDoNotWrapAfterMinutesOfSilence)
{
    // 65571 pause blocks (11 minutes): a 16-bit counter that wrapped would
    // read 35, the busy pause, when the cadence starts, and count the end of
    // the first tone as a match: the report would come a transition early,
    // when the fourth tone starts.
    const std::size_t lead = 65571 * kBlock;
    Samples s(lead, 0);
    append(s, spandspTone(450, -15, 0, 0, 350, 350, 4 * 700));
    const std::vector<std::size_t> at = busyReports(s);
    ASSERT_EQ(at.size(), 1u);
    const std::size_t fourth_end = lead + msToSamples(3 * 700 + 350);
    EXPECT_GE(at[0], fourth_end);
    EXPECT_LE(at[0], fourth_end + 2 * kBlock);
}

TEST(CToneDetectTest, InitialKeepsTheSettingsInRange)
{
    struct Case {
        std::int64_t frequency;
        std::int64_t kept;
        int index;  // into the 5 Hz cosine table from 300 Hz
    };
    const Case frequencies[] = {
        {-5, 300, 0},   {250, 300, 0},  {300, 300, 0},  {301, 301, 0},  {304, 304, 0},
        {305, 305, 1},  {450, 450, 30}, {453, 453, 30}, {625, 625, 65}, {799, 799, 99},
        {800, 799, 99}, {900, 799, 99}, {INT64_MAX, 799, 99}, {INT64_MIN, 300, 0},
    };
    for (const Case& c : frequencies) {
        tagBusyInfo info = kBusySet;
        info.busy_frequency0 = c.frequency;
        info.busy_frequency1 = c.frequency;
        CToneDetect d;
        ASSERT_EQ(d.Initial(info), 0);
        const auto cosine =
            static_cast<std::int16_t>(std::floor(32768 * std::cos(2 * M_PI * (300 + 5 * c.index) / 8000)));
        EXPECT_EQ(d.settings().busy_frequency0, c.kept) << c.frequency;
        EXPECT_EQ(d.settings().busy_frequency1, c.kept) << c.frequency;
        EXPECT_EQ(d.coefficient(0), cosine) << c.frequency;
        EXPECT_EQ(d.coefficient(1), cosine) << c.frequency;
    }

    struct Gate {
        std::int64_t gate;
        std::int64_t threshold;
    };
    // A gate below 0 would have read before the table; it is taken as 0.
    const Gate gates[] = {{INT64_MIN, 2407}, {-1, 2407}, {0, 2407}, {1, 2406}, {12, 678},
                          {49, 9},           {50, 8},    {60, 8},   {INT64_MAX, 8}};
    for (const Gate& g : gates) {
        tagBusyInfo info = kBusySet;
        info.busy_enery_gate = g.gate;
        CToneDetect d;
        d.Initial(info);
        EXPECT_EQ(d.settings().busy_enery_gate, g.threshold) << g.gate;
        EXPECT_EQ(d.settings().busy_on, kBusySet.busy_on);
        EXPECT_EQ(d.settings().busy_period_count, kBusySet.busy_period_count);
    }
}

TEST(CToneDetectTest, ClampedFrequenciesStillDetect)
{
    // 250 Hz is taken as 300 Hz, 900 Hz as 795 Hz (the last table entry).
    struct Case {
        std::int64_t setting;
        int tone_hz;
    };
    const Case cases[] = {{250, 300}, {900, 795}, {625, 625}};
    for (const Case& c : cases) {
        tagBusyInfo info = kBusySet;
        info.busy_frequency0 = c.setting;
        Samples s = silence(1000);
        append(s, spandspTone(c.tone_hz, -15, 0, 0, 350, 350, 5 * 700));
        EXPECT_EQ(busyReports(s, info).size(), 1u) << c.setting;
    }
}

TEST(CToneDetectTest, AbsurdSettingsNeitherOverflowNorReport)
{
    const tagBusyInfo cases[] = {
        {0, 450, 420, INT64_MIN, INT64_MAX, INT64_MAX, 12, INT64_MAX},
        {0, 450, 420, INT64_MAX, INT64_MIN, 5, 12, INT64_MIN},
        {1, 450, 420, 35, 35, INT64_MIN, 12, 3},
    };
    const Samples s = busyTone(-15, 6);
    for (const tagBusyInfo& info : cases)
        EXPECT_TRUE(busyReports(s, info).empty());
}

TEST(CToneDetectTest, LevelOfABlockSum)
{
    struct Case {
        unsigned sum;
        std::int16_t db;
    };
    const Case cases[] = {
        {4000000000u, 0}, {19776, 0}, {19775, -1}, {17625, -1}, {17624, -2}, {9911, -6},
        {89, -47},        {88, -47},  {87, -48},   {78, -48},   {77, -48},   {0, -48},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CToneDetect::get_db_by_frame_energy(c.sum), c.db) << c.sum;
}

}  // namespace
