#include "codecs/g711.h"

#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "support/alaw_step.h"

namespace {

using olva_test::alawStep;

TEST(G711Test, KnownCodesAndValues)
{
    struct Case {
        std::int16_t sample;
        std::uint8_t alaw;
    };
    const Case cases[] = {
        {0, 0xD5},
        {-1, 0x55},  // |x| >> 4 is 0: the smallest negative code
        {15, 0xD5},
        {16, 0xD4},
        {-16, 0x54},
        {32767, 0xAA},
        {-32767, 0x2A},
        {-32768, 0x2A},
    };
    for (const Case& c : cases)
        EXPECT_EQ(linear2alaw_query(c.sample), c.alaw) << c.sample;

    EXPECT_EQ(alaw2linear_query(0xD5), 8);
    EXPECT_EQ(alaw2linear_query(0x55), -8);
    EXPECT_EQ(alaw2linear_query(0xAA), 32256);
    EXPECT_EQ(alaw2linear_query(0x2A), -32256);
    EXPECT_EQ(ulaw2linear_query(0xFF), 0);
    EXPECT_EQ(ulaw2linear_query(0x80), 32124);
    EXPECT_EQ(ulaw2linear_query(0x00), -32124);

    EXPECT_EQ(g711::alaw_encode[0], 0xD5);
    EXPECT_EQ(g711::alaw_encode[2048], 0x2A);
    const std::uint8_t a2u_start[] = {1, 3, 5, 7, 9, 11, 13, 15, 16, 17};
    const std::uint8_t u2a_start[] = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(g711::_a2u[i], a2u_start[i]) << i;
        EXPECT_EQ(g711::_u2a[i], u2a_start[i]) << i;
    }
}

TEST(G711Test, AlawErrorIsWithinHalfAStepForEverySample)
{
    for (int x = -32768; x <= 32767; ++x) {
        const std::uint8_t code = linear2alaw_query(static_cast<std::int16_t>(x));
        EXPECT_EQ((code & 0x80) != 0, x >= 0) << x;
        ASSERT_LE(std::abs(alaw2linear_query(code) - x), alawStep(std::abs(x)) / 2) << x;
    }
}

TEST(G711Test, EncodingIsMonotonic)
{
    // Codes with the even-bit inversion undone grow with the magnitude.
    for (int i = 1; i < 2048; ++i)
        ASSERT_GE(g711::alaw_encode[i] ^ 0x55, g711::alaw_encode[i - 1] ^ 0x55) << i;
    for (int c = 1; c < 128; ++c)
        ASSERT_GT(alaw2linear_query(static_cast<std::uint8_t>((c | 0x80) ^ 0x55)),
                  alaw2linear_query(static_cast<std::uint8_t>(((c - 1) | 0x80) ^ 0x55)));
    for (int u = 0; u < 127; ++u)  // µ-law codes are inverted: 0x7F is +0, 0x00 the largest negative
        ASSERT_LT(ulaw2linear_query(static_cast<std::uint8_t>(u)),
                  ulaw2linear_query(static_cast<std::uint8_t>(u + 1)));
}

TEST(G711Test, BlockConversionsMatchSampleConversions)
{
    std::vector<std::int16_t> samples;
    for (int x = -32768; x <= 32767; x += 37)
        samples.push_back(static_cast<std::int16_t>(x));
    samples.push_back(32767);
    const auto n = static_cast<unsigned>(samples.size());
    std::vector<std::uint8_t> alaw(n), ulaw(n);
    linear2alaw_query(samples.data(), n, alaw.data());
    linear2ulaw_query(samples.data(), n, ulaw.data());
    std::vector<std::int16_t> from_alaw(n), from_ulaw(n);
    alaw2linear_query(alaw.data(), n, from_alaw.data());
    ulaw2linear_query(ulaw.data(), n, from_ulaw.data());
    for (unsigned i = 0; i < n; ++i) {
        ASSERT_EQ(alaw[i], linear2alaw_query(samples[i]));
        ASSERT_EQ(ulaw[i], linear2ulaw_query(samples[i]));
        ASSERT_EQ(ulaw[i], alaw2ulaw(alaw[i]));  // µ-law goes through A-law
        ASSERT_EQ(from_alaw[i], alaw2linear_query(alaw[i]));
        ASSERT_EQ(from_ulaw[i], ulaw2linear_query(ulaw[i]));
    }
    linear2alaw_query(samples.data(), 0, alaw.data());  // nothing to do, nothing touched
    EXPECT_EQ(alaw[0], linear2alaw_query(samples[0]));
}

}  // namespace
