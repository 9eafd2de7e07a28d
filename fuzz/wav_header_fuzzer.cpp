// WAV files given to playback: the start of the file through the header
// reader, then the audio from where the header says it starts, decoded in
// the play thread's chunks and placed into a stereo box's channel.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "codecs/wave.h"
#include "olva_device/playback_queue.h"

namespace {

// As the play thread reads a file: 160 samples at a time, each repeated 6
// times into 48 kHz stereo frames.
constexpr std::size_t kChunkSamples = 160;
constexpr unsigned kStereoRepeat = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    WaveFormat wave;
    std::string why;
    if (wave_parse_header(data, std::min(size, kWaveHeaderReadMax), &wave, &why) != 0)
        return 0;
    const PlayFileFormat format = play_file_format(wave);
    if (format == PlayFileFormat::kInvalid || wave.data_offset > size)
        return 0;
    const std::size_t chunk_bytes = kChunkSamples * play_sample_bytes(format);
    std::int16_t samples[kChunkSamples];
    std::int16_t frames[kChunkSamples * kStereoRepeat * 2];
    for (std::size_t at = wave.data_offset; at < size; at += chunk_bytes) {
        const std::span<const std::uint8_t> bytes(data + at, std::min(chunk_bytes, size - at));
        const std::size_t count = decode_play_samples(format, bytes, samples);
        place_in_channel({samples, count}, kStereoRepeat, at & 1, 2, frames);
    }
    return 0;
}
