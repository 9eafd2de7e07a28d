// Turns 20 ms of the two-line boxes' 48 kHz stereo into one 8 kHz frame per
// line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace audio {

constexpr std::size_t kLineFrameSamples = 160;  // 20 ms at 8000 Hz
constexpr std::size_t kStereoBlockFrames = 960;  // 20 ms at 48000 Hz
constexpr std::size_t kStereoBlockSamples = 2 * kStereoBlockFrames;

// Keeps the first frame of every six, halved by an arithmetic shift: its left
// sample goes to line1, its right sample to line2, in order. There is no
// low-pass filter before the decimation. Allocates nothing.
void reduceStereoBlock(std::span<const std::int16_t, kStereoBlockSamples> block,
                       std::span<std::int16_t, kLineFrameSamples> line1,
                       std::span<std::int16_t, kLineFrameSamples> line2);

}  // namespace audio
