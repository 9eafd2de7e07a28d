// A line's MP3 encoder: LAME, 8000 Hz mono in, fed one frame at a time.
// Each recording gets a fresh encoder and flushes it at its end, so the
// tail of a call is kept and nothing of it reaches the next call.
#pragma once

#include <cstddef>
#include <cstdint>

struct lame_global_struct;

class Mp3Encoder {
public:
    // The most samples one encode call takes: a 20 ms frame.
    static constexpr int kMaxSamples = 160;
    // Room LAME asks for to hold whatever a flush yields.
    static constexpr std::size_t kFlushBytes = 7200;

    Mp3Encoder() = default;
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // Starts an encoding at kbps kbit/s. False, with no encoder, when LAME
    // refuses.
    bool open(int kbps);
    bool is_open() const { return lame_ != nullptr; }
    // Encodes count samples (at most kMaxSamples) into out: the bytes made,
    // 0 while LAME gathers a frame, or a negative LAME error.
    int encode(const std::int16_t* samples, int count, std::uint8_t* out, std::size_t size);
    // Flushes what LAME still holds into out (kFlushBytes at least) and
    // ends the encoding: the bytes made, or a negative LAME error.
    int finish(std::uint8_t* out, std::size_t size);

private:
    void close();

    lame_global_struct* lame_ = nullptr;
};
