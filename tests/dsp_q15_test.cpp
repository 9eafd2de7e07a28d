#include "dsp/dsp_q15.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "reference/dsp_q15.h"

namespace {

TEST(Sat16Test, ClampsToTheInt16Range)
{
    struct Case {
        std::int64_t in;
        std::int16_t out;
    };
    const Case cases[] = {
        {0, 0},           {1, 1},           {-1, -1},         {32767, 32767},
        {32768, 32767},   {-32768, -32768}, {-32769, -32768}, {70000, 32767},
        {-70000, -32768}, {INT64_MAX, 32767}, {INT64_MIN, -32768},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sat16(c.in), c.out) << c.in;
}

TEST(MulS16Test, IsTheQ15ProductKeptAt32Bits)
{
    struct Case {
        std::int16_t a;
        std::int16_t b;
        std::int32_t out;
    };
    const Case cases[] = {
        {16384, 16384, 8192},   // 0.5 * 0.5
        {32767, 1000, 999},     // just under 1
        {-16384, 16384, -8192},
        {-1, 1, -1},            // an arithmetic shift rounds toward minus infinity
        {-32768, -32768, 32768},  // the one product that does not fit 16 bits
        {0, -32768, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MUL_S16_S16(c.a, c.b), c.out) << c.a << " * " << c.b;
}

TEST(DivS16Test, IsTheQ15QuotientByLongDivision)
{
    struct Case {
        std::int16_t num;
        std::int16_t den;
        std::int16_t out;
    };
    const Case cases[] = {
        {0, 5, 0},          {5, 0, 0},         {0, 0, 0},       {7, 7, 32767},
        {9, 7, 32767},      {32767, 1, 32767}, {1, 2, 16384},   {1, 3, 10922},
        {20, 100, 6553},    {128, 8200, 511},  {32766, 32767, 32766},
        {-5, 10, 0},        {5, -10, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DIV_S16_S16(c.num, c.den), c.out) << c.num << " / " << c.den;

    // Every quotient below 1 is floor(num * 32768 / den).
    for (int den = 1; den < 32768; den += 97)
        for (int num = 1; num < den; num += 1 + den / 13)
            ASSERT_EQ(DIV_S16_S16(static_cast<std::int16_t>(num), static_cast<std::int16_t>(den)),
                      (std::int64_t{num} << 15) / den)
                << num << " / " << den;
}

// Every input the detectors can give: the caller-ID gain control divides
// |x| >> 4 by a mean of 1..2047, the busy-tone one 128 and the DTMF one 20
// by anything above them; and a spread of all other pairs.
TEST(DivS16Test, EqualsTheLongDivisionForEveryInputTheDetectorsGive)
{
    const auto check = [](int num, int den) {
        const auto n = static_cast<std::int16_t>(num);
        const auto d = static_cast<std::int16_t>(den);
        ASSERT_EQ(DIV_S16_S16(n, d), reference::DIV_S16_S16(n, d)) << num << " / " << den;
    };
    for (int num = -1; num <= 2048; ++num)
        for (int den = -1; den <= 2048; ++den)
            check(num, den);
    for (int num : {20, 128})
        for (int den = INT16_MIN; den <= INT16_MAX; ++den)
            check(num, den);
    std::mt19937 random(7);
    for (int i = 0; i < 1000000; ++i)
        check(static_cast<std::int16_t>(random()), static_cast<std::int16_t>(random()));
}

TEST(FirQ15Test, RunsTheTapsOverTheDelayLineNewestFirst)
{
    const std::int16_t coef[4] = {16384, 8192, -8192, 4096};
    std::int16_t delay[4] = {};
    // An impulse walks through the taps in order.
    const std::int16_t impulse[6] = {32767, 0, 0, 0, 0, 0};
    const std::int16_t response[6] = {16383, 8191, -8192, 4095, 0, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(fir_q15(coef, delay, impulse[i]), response[i]) << i;
}

TEST(FirQ15Test, SaturatesInsteadOfWrapping)
{
    const std::int16_t coef[3] = {30000, 30000, -30000};
    struct Case {
        std::int16_t x[3];  // oldest first
        std::int16_t out;
    };
    const Case cases[] = {
        {{-32768, 32767, 32767}, 32767},    // 2.7 x full scale; wrapped it read 24462
        {{32767, -32768, -32768}, -32768},  // wrapped it read -24464
        {{0, 10000, 10000}, 18310},         // in range: the plain sum
    };
    for (const Case& c : cases) {
        std::int16_t delay[3] = {};
        std::int16_t out = 0;
        for (std::int16_t x : c.x)
            out = fir_q15(coef, delay, x);
        EXPECT_EQ(out, c.out);
    }
}

TEST(GoertzelEnergyTest, IsTheToneEnergyAndNeverNegativeNearFullScale)
{
    // A 450 Hz tone of amplitude 200 over 80 samples, the states left by the
    // recurrence s = x - s2 + 2 cos(w) s1 in floating point.
    const double w = 2 * M_PI * 450 / 8000;
    const auto cosine = static_cast<std::int16_t>(std::floor(32768 * std::cos(w)));
    double s1 = 0, s2 = 0;
    for (int i = 0; i < 80; ++i) {
        const double s = 200 * std::sin(w * i) - s2 + 2 * std::cos(w) * s1;
        s2 = s1;
        s1 = s;
    }
    const double exact = (s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2) / 32768;
    const int got = goertzel_energy_q15(static_cast<std::int16_t>(s2), static_cast<std::int16_t>(s1), cosine);
    EXPECT_NEAR(got, exact, exact * 0.01 + 4);

    // States at the top of the range, as the onset of a loud tone leaves
    // them: the energy is small but positive, never a wrapped negative.
    struct Case {
        std::int16_t s2;
        std::int16_t s1;
    };
    const Case cases[] = {{32767, 32767}, {-32768, -32768}, {32767, 30000}, {-32768, -30000}};
    for (const Case& c : cases)
        EXPECT_GE(goertzel_energy_q15(c.s2, c.s1, cosine), 0) << c.s2 << ", " << c.s1;
}

TEST(RingMeanAbsTest, SaturatesAFullScaleRing)
{
    RingMeanAbs<32> mean;
    mean.reset(0);
    for (int i = 0; i < 32; ++i)
        mean.push(-32768);
    EXPECT_EQ(mean.push(-32768), 32767);
    for (int i = 0; i < 31; ++i)
        mean.push(static_cast<std::int16_t>(i % 2 ? -100 : 100));
    EXPECT_EQ(mean.push(-100), 100);
}

// The running sum against the mean taken afresh over the whole ring, from
// a ring that starts full.
TEST(RingMeanAbsTest, EqualsTheMeanOverTheWholeRing)
{
    std::mt19937 random(3);
    for (std::int16_t fill : {std::int16_t{0}, std::int16_t{2056}, std::int16_t{-32768}}) {
        RingMeanAbs<32> mean;
        mean.reset(fill);
        std::int16_t ring[32];
        std::fill(std::begin(ring), std::end(ring), fill);
        for (int i = 0; i < 20000; ++i) {
            // Full scale, then quiet, then loud again.
            const int range = i < 8000 ? 65536 : (i < 14000 ? 64 : 4096);
            const auto x = static_cast<std::int16_t>(static_cast<int>(random() % range) - range / 2);
            ring[i % 32] = x;
            ASSERT_EQ(mean.push(x), reference::ring_mean_abs(ring)) << i;
        }
    }
}

// Coefficient sets for the block filter: the detectors' kind, every edge of
// the 16-bit doubling (16383, 16384, -16384, -16385, +-32767), and taps
// large enough that the partial sums wrap and saturate.
constexpr std::int16_t kEdgeTaps[9] = {16383, 16384, -16384, -16385, 32767, -32767, 1, -1, 0};
constexpr std::int16_t kLargeTaps[31] = {
    30000, -30000, 30000, 32767, -32767, 25000, 20000, -20000, 18000, 17000, -16500,
    16384, 16384,  16384, -16384, -16384, 16383, -16385, 32767, 32767, 32767, -32767,
    100,   -100,   5000,  -5000, 22468, 1400, -8555, 87, 640,
};
constexpr std::int16_t kLowPassTaps[15] = {
    -1011, -1835, -1948, -201, 3762, 9009, 13544, 15338, 13544, 9009, 3762, -201, -1948, -1835, -1011,
};

// The block filter against the sample-by-sample one, over blocks of every
// size, on full-scale noise, clipped square waves and quiet noise.
template <const auto& Coef>
void checkBlockFilter()
{
    constexpr std::size_t N = std::size(Coef);
    std::mt19937 random(11);
    std::vector<std::int16_t> input;
    for (int i = 0; i < 3000; ++i)
        input.push_back(static_cast<std::int16_t>(random()));
    for (int i = 0; i < 2000; ++i)
        input.push_back(static_cast<std::int16_t>((i / 3) % 2 ? INT16_MIN : INT16_MAX));
    for (int i = 0; i < 2000; ++i)
        input.push_back(static_cast<std::int16_t>(static_cast<int>(random() % 61) - 30));

    FirQ15<N> block;
    block.reset();
    std::int16_t delay[N] = {};
    std::size_t at = 0;
    for (std::size_t size = 1; at < input.size(); size = size % FirQ15<N>::kMaxBlock + 1) {
        const std::size_t n = std::min(size, input.size() - at);
        std::int16_t out[FirQ15<N>::kMaxBlock];
        block.template run<Coef>(&input[at], out, n);
        for (std::size_t i = 0; i < n; ++i, ++at)
            ASSERT_EQ(out[i], reference::fir_q15(Coef, delay, input[at])) << "sample " << at << ", block of " << n;
    }
}

TEST(FirQ15Test, BlocksEqualTheSampleBySampleFilter)
{
    checkBlockFilter<kEdgeTaps>();
    checkBlockFilter<kLargeTaps>();
    checkBlockFilter<kLowPassTaps>();
}

#ifdef OLVA_DSP_SSE2
// (c * s) >> 15 in eight lanes against the plain product, for every s and
// the cosines of both Goertzel detectors, the edges of the doubling among them.
TEST(Q15FactorsTest, EqualsTheProductForEveryState)
{
    const std::int16_t cosines[][8] = {
        {27980, 26956, 25701, 24219, 19073, 16325, 13085, 9315},
        {31862, 26585, 0, 1, 16383, 16384, 32767, 30000},
    };
    for (const auto& c : cosines) {
        const Q15Factors factors(c);
        for (int s = INT16_MIN; s <= INT16_MAX; ++s) {
            alignas(16) std::int16_t out[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(out), factors.times(_mm_set1_epi16(static_cast<std::int16_t>(s))));
            for (int lane = 0; lane < 8; ++lane)
                ASSERT_EQ(out[lane], MUL_S16_S16(c[lane], static_cast<std::int16_t>(s))) << c[lane] << " * " << s;
        }
    }
}
#endif

}  // namespace
