// Our G.711 tables against spandsp's, for every 16-bit sample and every code.
#include "codecs/g711.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "support/alaw_step.h"
#include <spandsp.h>

namespace {

using olva_test::alawStep;

// The lower edges m > 0 of the A-law quantisation intervals, in 16-bit
// units: 16 wide up to 512, then twice as wide in each segment.
std::vector<int> alawIntervalEdges()
{
    std::vector<int> edges;
    for (int m = 16; m < 512; m += 16)
        edges.push_back(m);
    for (int start = 512, step = 32; start < 32768; start *= 2, step *= 2)
        for (int m = start; m < 2 * start; m += step)
            edges.push_back(m);
    return edges;
}

// We quantise a negative sample by its magnitude |x|; spandsp quantises
// -x - 1. The two agree except where |x| is exactly the lower edge of an
// interval: there we give the code of the interval starting at |x|, spandsp
// the one below it. Each decodes to the middle of its interval, half that
// interval's width from x: the same distance inside a segment, while at the
// six segment starts 512, 1024 ... 16384 spandsp's narrower interval below is
// the nearer one. Ours keeps the code symmetric: x and -x differ only in the
// sign bit.
TEST(G711SpandspTest, AlawEncodingDiffersOnlyAtNegativeIntervalEdges)
{
    std::vector<int> differing;
    for (int x = -32768; x <= 32767; ++x) {
        const std::uint8_t ours = linear2alaw_query(static_cast<std::int16_t>(x));
        const std::uint8_t theirs = linear_to_alaw(x);
        if (ours == theirs)
            continue;
        differing.push_back(-x);
        ASSERT_LT(x, 0);
        // The same rounding, one step of input apart.
        ASSERT_EQ(ours, linear_to_alaw(x - 1)) << x;
        ASSERT_EQ(ours, static_cast<std::uint8_t>(linear_to_alaw(-x) & 0x7F)) << x;
        ASSERT_EQ(std::abs(alaw_to_linear(ours) - x), alawStep(-x) / 2) << x;
        ASSERT_EQ(std::abs(alaw_to_linear(theirs) - x), alawStep(-x - 1) / 2) << x;
    }
    std::vector<int> expected = alawIntervalEdges();
    std::sort(differing.begin(), differing.end());
    EXPECT_EQ(differing, expected);
    EXPECT_EQ(differing.size(), 127u);
    // -32768 is no edge: both give the largest negative code.
    EXPECT_EQ(linear2alaw_query(-32768), linear_to_alaw(-32768));
}

TEST(G711SpandspTest, DecodingAndCrossTablesMatchForEveryCode)
{
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        EXPECT_EQ(alaw2linear_query(c), alaw_to_linear(c)) << code;
        EXPECT_EQ(ulaw2linear_query(c), ulaw_to_linear(c)) << code;
        EXPECT_EQ(alaw2ulaw(c), alaw_to_ulaw(c)) << code;
        EXPECT_EQ(ulaw2alaw(c), ulaw_to_alaw(c)) << code;
    }
}

// Our µ-law code is the A-law code converted, so it carries A-law's
// intervals and differs from spandsp's direct µ-law quantiser at many inputs
// (printed below). Built from spandsp's own A-law quantiser and A-law to µ-law
// table, with the negative-edge shift shown above, it is the same code for
// every sample.
TEST(G711SpandspTest, UlawEncodingIsSpandspAlawConvertedToUlaw)
{
    int differing_from_direct = 0;
    for (int x = -32768; x <= 32767; ++x) {
        const std::uint8_t ours = linear2ulaw_query(static_cast<std::int16_t>(x));
        const int alaw_input = x < 0 && x > -32768 ? x - 1 : x;
        ASSERT_EQ(ours, alaw_to_ulaw(linear_to_alaw(alaw_input))) << x;
        if (ours != linear_to_ulaw(x))
            ++differing_from_direct;
    }
    std::printf("µ-law codes that differ from the direct quantiser: %d of 65536\n",
                differing_from_direct);
}

}  // namespace
