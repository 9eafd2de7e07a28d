#include "olva_device/playback_queue.h"

#include <algorithm>
#include <cstring>

#include "codecs/g711.h"

bool make_play_content(int line_id, int type, const char* text, AudioPlayContent* item)
{
    if (!text)
        return false;
    const std::size_t length = std::strlen(text);
    if (length > AudioPlayContent::kMaxText)
        return false;
    AudioPlayContent made;
    made.line_id = line_id;
    made.type = type;
    std::memcpy(made.text, text, length);
    *item = made;
    return true;
}

bool PlayQueue::push(const AudioPlayContent& item)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.size() >= kMaxItems)
        return false;
    items_.push_back(item);
    changed_.notify_all();
    return true;
}

bool PlayQueue::wait_take(AudioPlayContent* item, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t wakes = wakes_;
    changed_.wait_for(lock, timeout, [&] { return !items_.empty() || wakes_ != wakes; });
    if (items_.empty() || wakes_ != wakes)
        return false;
    *item = items_.front();
    items_.pop_front();
    return true;
}

void PlayQueue::wake()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++wakes_;
    changed_.notify_all();
}

void PlayQueue::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    items_.clear();
}

std::size_t PlayQueue::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
}

PlayFileFormat play_file_format(const WaveFormat& f)
{
    if (f.channels != 1 || f.sample_rate != 8000)
        return PlayFileFormat::kInvalid;
    const bool g711 = f.byte_rate == 8000 && f.block_align == 1 && f.bits_per_sample == 8;
    switch (f.format_tag) {
    case kWaveFormatAlaw:
        return g711 ? PlayFileFormat::kAlaw : PlayFileFormat::kInvalid;
    case kWaveFormatUlaw:
        return g711 ? PlayFileFormat::kUlaw : PlayFileFormat::kInvalid;
    case kWaveFormatPcm:
        return f.byte_rate == 16000 && f.block_align == 2 && f.bits_per_sample == 16
                   ? PlayFileFormat::kPcm
                   : PlayFileFormat::kInvalid;
    default:
        return PlayFileFormat::kInvalid;
    }
}

std::size_t play_sample_bytes(PlayFileFormat format)
{
    switch (format) {
    case PlayFileFormat::kAlaw:
    case PlayFileFormat::kUlaw:
        return 1;
    case PlayFileFormat::kPcm:
        return 2;
    default:
        return 0;
    }
}

std::size_t decode_play_samples(PlayFileFormat format, std::span<const std::uint8_t> bytes,
                                std::int16_t* out)
{
    switch (format) {
    case PlayFileFormat::kAlaw:
        for (std::size_t i = 0; i < bytes.size(); ++i)
            out[i] = g711::g_zALaw_2_Linear[bytes[i]];
        return bytes.size();
    case PlayFileFormat::kUlaw:
        for (std::size_t i = 0; i < bytes.size(); ++i)
            out[i] = g711::g_zALaw_2_Linear[ulaw2alaw(bytes[i])];
        return bytes.size();
    case PlayFileFormat::kPcm: {
        const std::size_t count = bytes.size() / 2;
        std::memcpy(out, bytes.data(), count * 2);
        return count;
    }
    default:
        return 0;
    }
}

std::size_t place_in_channel(std::span<const std::int16_t> samples, unsigned repeat,
                             unsigned channel, unsigned channels, std::int16_t* out)
{
    const std::size_t frames = samples.size() * repeat;
    std::fill_n(out, frames * channels, std::int16_t{0});
    for (std::size_t i = 0; i < samples.size(); ++i)
        for (unsigned r = 0; r < repeat; ++r)
            out[(i * repeat + r) * channels + channel] = samples[i];
    return frames;
}
