// The line audio of each model. The two-line boxes (Tz2402B, Tz2501B) carry
// 48 kHz stereo, left for line 1 and right for line 2; the others 8 kHz mono
// for line 1. Every line works on 160-sample frames of 8 kHz mono (20 ms).
#pragma once

#include "base/platform/pcm.h"
#include "model/model_traits.h"

namespace audio {

constexpr bool isTwoLineModel(int model)
{
    return model_traits(model).audio == LineAudio::kStereo48k;
}

constexpr platform::PcmHwParams captureParams(int model)
{
    return isTwoLineModel(model) ? platform::PcmHwParams{2, 48000, 1920, 384000}
                                 : platform::PcmHwParams{1, 8000, 160, 32000};
}

// One read: 40 ms of stereo (two line frames) or 20 ms of mono.
constexpr unsigned long captureFramesPerRead(int model)
{
    return isTwoLineModel(model) ? 1920 : 160;
}

constexpr platform::PcmHwParams playbackParams(int model)
{
    return isTwoLineModel(model) ? platform::PcmHwParams{2, 48000, 960, 192000}
                                 : platform::PcmHwParams{1, 8000, 160, 32000};
}

}  // namespace audio
