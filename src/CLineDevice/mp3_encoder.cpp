#include "CLineDevice/mp3_encoder.h"

#include <climits>

#include <lame/lame.h>

namespace {

constexpr int kSampleRate = 8000;
// LAME's fastest setting: the call audio is speech at a low bit rate.
constexpr int kQuality = 9;
// 16-bit samples go in as the top half of a 32-bit value.
constexpr int kSampleShift = 16;
constexpr int kErrorBadArgument = -1;

int bufferSize(std::size_t size)
{
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

Mp3Encoder::~Mp3Encoder()
{
    close();
}

bool Mp3Encoder::open(int kbps)
{
    close();
    lame_t lame = lame_init();
    if (!lame)
        return false;
    id3tag_init(lame);
    lame_set_findReplayGain(lame, 1);
    lame_set_num_channels(lame, 1);
    lame_set_in_samplerate(lame, kSampleRate);
    lame_set_quality(lame, kQuality);
    lame_set_brate(lame, kbps);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return false;
    }
    lame_ = lame;
    return true;
}

int Mp3Encoder::encode(const std::int16_t* samples, int count, std::uint8_t* out, std::size_t size)
{
    if (!lame_ || !samples || count < 0 || count > kMaxSamples)
        return kErrorBadArgument;
    int wide[kMaxSamples];
    for (int i = 0; i < count; ++i)
        wide[i] = static_cast<int>(static_cast<unsigned>(samples[i]) << kSampleShift);
    return lame_encode_buffer_int(lame_, wide, wide, count, out, bufferSize(size));
}

int Mp3Encoder::finish(std::uint8_t* out, std::size_t size)
{
    if (!lame_)
        return kErrorBadArgument;
    const int made = lame_encode_flush(lame_, out, bufferSize(size));
    close();
    return made;
}

void Mp3Encoder::close()
{
    if (lame_)
        lame_close(lame_);
    lame_ = nullptr;
}
