#include "olva_device/demux.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>

namespace {

using audio::kLineFrameSamples;
using audio::kStereoBlockFrames;
using audio::kStereoBlockSamples;

// Halving by an arithmetic shift rounds towards minus infinity.
std::int16_t halvedDown(int value)
{
    return static_cast<std::int16_t>(std::floor(value / 2.0));
}

TEST(ReduceStereoBlock, KeepsTheFirstFrameOfEverySixHalved)
{
    std::array<std::int16_t, kStereoBlockSamples> block{};
    for (std::size_t frame = 0; frame < kStereoBlockFrames; ++frame) {
        const int group = static_cast<int>(frame / 6);
        if (frame % 6 == 0) {
            block[2 * frame] = static_cast<std::int16_t>(group * 200 - 16000 + 1);
            block[2 * frame + 1] = static_cast<std::int16_t>(-(group * 199) + 15000 - 1);
        } else {
            // The other five frames of each group must leave no trace.
            block[2 * frame] = 30000;
            block[2 * frame + 1] = -30000;
        }
    }
    block[0] = 1000;
    block[1] = -1000;
    block[2 * 954] = -32768;
    block[2 * 954 + 1] = 32767;

    std::array<std::int16_t, 2 * kLineFrameSamples> lines{};
    lines.fill(7);
    audio::reduceStereoBlock(block, std::span(lines).first<kLineFrameSamples>(),
                             std::span(lines).last<kLineFrameSamples>());

    EXPECT_EQ(lines[0], 500);
    EXPECT_EQ(lines[kLineFrameSamples], -500);
    EXPECT_EQ(lines[kLineFrameSamples - 1], -16384);
    EXPECT_EQ(lines[2 * kLineFrameSamples - 1], 16383);
    for (std::size_t i = 1; i + 1 < kLineFrameSamples; ++i) {
        EXPECT_EQ(lines[i], halvedDown(block[2 * 6 * i])) << i;
        EXPECT_EQ(lines[kLineFrameSamples + i], halvedDown(block[2 * 6 * i + 1])) << i;
    }
}

TEST(ReduceStereoBlock, OddNegativeSamplesRoundDown)
{
    const struct {
        std::int16_t in;
        std::int16_t out;
    } cases[] = {{-1, -1}, {-3, -2}, {1, 0}, {3, 1}, {0, 0}, {-2, -1}};
    for (const auto& c : cases) {
        std::array<std::int16_t, kStereoBlockSamples> block{};
        block[0] = c.in;
        block[1] = static_cast<std::int16_t>(-c.in);
        std::array<std::int16_t, kLineFrameSamples> line1{};
        std::array<std::int16_t, kLineFrameSamples> line2{};
        audio::reduceStereoBlock(block, line1, line2);
        EXPECT_EQ(line1[0], c.out) << c.in;
        EXPECT_EQ(line2[0], halvedDown(-c.in)) << c.in;
    }
}

}  // namespace
