// A sound file opened with libsndfile for reading back what the service
// wrote.
#pragma once

#include <sndfile.h>

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

}  // namespace olva_test
