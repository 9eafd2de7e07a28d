#include "dsp_q15.h"

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

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
    std::int16_t ring[32];
    for (auto& v : ring)
        v = -32768;
    EXPECT_EQ(ring_mean_abs(ring), 32767);
    for (int i = 0; i < 32; ++i)
        ring[i] = static_cast<std::int16_t>(i % 2 ? -100 : 100);
    EXPECT_EQ(ring_mean_abs(ring), 100);
}

}  // namespace
