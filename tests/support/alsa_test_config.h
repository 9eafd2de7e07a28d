// Real ALSA without a sound card: an ALSA configuration of the test's own,
// installed through ALSA_CONFIG_PATH for the lifetime of the object. Every
// "hw:C,D" is a capture PCM that reads its samples from captureFile(C, D) (a
// file or a CaptureFifo), and every "plughw:C,D" a playback PCM that writes
// them to playbackFile(C, D). Both are `type file` PCMs over the "null" PCM,
// which takes any format, rate and period and keeps no time, so that a read
// returns as soon as the input holds the data. There is no "default" PCM,
// and a missing capture file makes the open fail with -ENOENT.
//
// Once a capture file is at its end (a FIFO whose writer has closed), every
// read returns a full period at once and leaves the buffer as it was.
//
// Set up before any thread that may open a PCM starts (setenv is not safe
// against threads reading the environment).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace olva_test {

class AlsaTestConfig {
public:
    explicit AlsaTestConfig(const std::string& dir);
    ~AlsaTestConfig();
    AlsaTestConfig(const AlsaTestConfig&) = delete;
    AlsaTestConfig& operator=(const AlsaTestConfig&) = delete;

    std::string captureFile(int card, int device) const;
    std::string playbackFile(int card, int device) const;

private:
    std::string dir_;
    bool had_previous_ = false;
    std::string previous_;
};

// A FIFO that a capture PCM reads: made at path, held open for writing, so
// that the reader blocks until the test writes and sees the end once the
// FIFO is closed.
class CaptureFifo {
public:
    explicit CaptureFifo(const std::string& path);
    ~CaptureFifo();
    CaptureFifo(const CaptureFifo&) = delete;
    CaptureFifo& operator=(const CaptureFifo&) = delete;

    // Writes the samples (little-endian, as the machine holds them). False
    // when the FIFO is full (64 KiB ahead of its reader) or closed; the write
    // never blocks.
    bool write(const std::vector<std::int16_t>& samples);
    void close();

private:
    int fd_ = -1;
};

// Samples as a machine-order byte string, as a raw PCM file holds them.
std::string sampleBytes(const std::vector<std::int16_t>& samples);

}  // namespace olva_test
