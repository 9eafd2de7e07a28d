// Sound files through libsndfile: one opened for reading back what the
// service wrote, and files written for the service to play.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace olva_test {

struct SoundFile {
    explicit SoundFile(const std::string& path) : file(sf_open(path.c_str(), SFM_READ, &info)) {}
    ~SoundFile()
    {
        if (file)
            sf_close(file);
    }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Every sample, decoded to 16 bits.
    std::vector<short> samples()
    {
        std::vector<short> out(static_cast<std::size_t>(info.frames));
        out.resize(static_cast<std::size_t>(
            sf_read_short(file, out.data(), static_cast<sf_count_t>(out.size()))));
        return out;
    }

    SF_INFO info{};
    SNDFILE* file;
};

// Writes samples (interleaved by channels) to a new file of the format
// (SF_FORMAT_WAV | a sub-format). False when libsndfile refuses.
inline bool writeSoundFile(const std::string& path, int format,
                           const std::vector<std::int16_t>& samples, int rate = 8000,
                           int channels = 1)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

}  // namespace olva_test
