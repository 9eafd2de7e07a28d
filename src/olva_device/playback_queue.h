// The play queue of a box and what its items turn into: the FIFO of
// AudioPlayContent items that the library and the lines fill and the box's
// play thread empties, the check of a played WAV file's format, the G.711
// decoding of its bytes, and the placing of 8 kHz samples into one channel
// of the sound card's frames. No I/O here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>

#include "codecs/wave.h"

// One queued item, copied by value.
struct AudioPlayContent {
    static constexpr int kDtmf = 0;  // text holds digits
    static constexpr int kFile = 1;  // text holds a WAV file's path
    // The longest text an item takes; a longer one is refused, since a cut
    // path would name another file and cut digits another number.
    static constexpr std::size_t kMaxText = 254;

    int line_id = 0;
    int type = kDtmf;
    char text[256] = {};
};

// Fills item; false (item untouched) for a null text or one longer than
// AudioPlayContent::kMaxText.
bool make_play_content(int line_id, int type, const char* text, AudioPlayContent* item);

// A FIFO of items under its own mutex; items are copied in and out whole.
class PlayQueue {
public:
    // Items waiting at most; a push beyond them is refused, so that a caller
    // learns that its item will not play.
    static constexpr std::size_t kMaxItems = 64;

    // False when the queue is full.
    bool push(const AudioPlayContent& item);
    // Takes the oldest item, waiting for one at most timeout; false when
    // none came or wake() was called meanwhile.
    bool wait_take(AudioPlayContent* item, std::chrono::milliseconds timeout);
    // Ends the waits under way.
    void wake();
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;     // an item came, or a wake
    std::deque<AudioPlayContent> items_;  // mutex_; front is the oldest
    std::uint64_t wakes_ = 0;             // mutex_
};

// The formats a box plays: 8000 Hz mono A-law or µ-law of 8 bits, or
// 16-bit PCM.
enum class PlayFileFormat { kInvalid, kAlaw, kUlaw, kPcm };

PlayFileFormat play_file_format(const WaveFormat& format);
// Bytes of one sample in the format (0 for kInvalid).
std::size_t play_sample_bytes(PlayFileFormat format);
// Decodes whole samples of bytes into out, which holds at least
// bytes.size() / play_sample_bytes(format) samples: A-law through the
// A-law table, µ-law converted to A-law first, PCM as it lies (little
// endian). Returns the samples written; a trailing partial sample is left.
std::size_t decode_play_samples(PlayFileFormat format, std::span<const std::uint8_t> bytes,
                                std::int16_t* out);

// Places samples into channel (0-based) of interleaved frames of channels
// samples, each sample repeated times in a row; the other channels are
// zeroed. out holds samples.size() * repeat frames. Returns the frames.
std::size_t place_in_channel(std::span<const std::int16_t> samples, unsigned repeat,
                             unsigned channel, unsigned channels, std::int16_t* out);
