#include "olva_device/demux.h"

namespace audio {

void reduceStereoBlock(std::span<const std::int16_t, kStereoBlockSamples> block,
                       std::span<std::int16_t, kLineFrameSamples> line1,
                       std::span<std::int16_t, kLineFrameSamples> line2)
{
    constexpr std::size_t kDecimation = kStereoBlockFrames / kLineFrameSamples;  // 48 kHz to 8 kHz
    for (std::size_t i = 0; i < kLineFrameSamples; ++i) {
        const std::size_t frame = i * kDecimation;
        line1[i] = static_cast<std::int16_t>(block[2 * frame] >> 1);
        line2[i] = static_cast<std::int16_t>(block[2 * frame + 1] >> 1);
    }
}

}  // namespace audio
