#include "codecs/wave.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/logger.h"

namespace {

constexpr const char* kLogModule = "olva ";
constexpr const char* kLogTag = "wave";

constexpr std::uint32_t kFmtChunkSize = 18;  // 16 bytes of format and a zero extra size
constexpr std::uint32_t kFactChunkSize = 4;

// RIFF size 0 and data length 0 are written by init_wavhdr_g729.
constexpr std::array<std::uint8_t, kG729HeaderSize> g_szG729Header = {
    'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
    'f', 'm', 't', ' ', 32, 0, 0, 0,
    0x9A, 0x72,              // format tag 0x729A
    1, 0,                    // mono
    0x40, 0x1F, 0, 0,        // 8000 Hz
    0xE8, 0x03, 0, 0,        // 1000 bytes a second
    20, 0,                   // block align
    16, 0,                   // bits
    14, 0,                   // extra size
    0x00, 0x01, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0xF4, 0x01, 0x03, 0x00, 0x00, 0x00,
    'f', 'a', 'c', 't', 4, 0, 0, 0, 0, 0, 0, 0,
    'd', 'a', 't', 'a', 0, 0, 0, 0,
};

void putLe32(char* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t le32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// A chunk id for a message: its four bytes, each unprintable one as '?'.
std::string chunkName(const std::uint8_t* id)
{
    std::string name(4, '?');
    for (int i = 0; i < 4; ++i)
        if (id[i] >= 0x20 && id[i] < 0x7F)
            name[i] = static_cast<char>(id[i]);
    return name;
}

int fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return -1;
}

}  // namespace

int wave_header_set_data_length(WaveHeader* header, unsigned long data_length)
{
    if (header->block_align == 0) {
        logger(1, kLogModule, kLogTag, "wave header with block align 0");
        return -1;
    }
    int result = 0;
    if (data_length > kWaveMaxDataLength) {
        logger(2, kLogModule, kLogTag, "wave data length %lu exceeds %lu, header states %lu",
               data_length, kWaveMaxDataLength, kWaveMaxDataLength);
        data_length = kWaveMaxDataLength;
        result = -1;
    }
    const auto length = static_cast<std::uint32_t>(data_length);
    header->riff_size = length + static_cast<std::uint32_t>(kWaveHeaderSize - 8);
    header->sample_count = length / header->block_align;
    header->data_length = length;
    return result;
}

int init_wave_header(WaveHeader* header, unsigned long data_length, std::uint16_t tag,
                     std::uint16_t channels, std::uint32_t rate, std::uint32_t byte_rate,
                     std::uint16_t block_align, std::uint16_t bits)
{
    if (block_align == 0) {
        logger(1, kLogModule, kLogTag, "wave header with block align 0");
        return -1;
    }
    std::memcpy(header->riff_id, "RIFF", 4);
    std::memcpy(header->wave_id, "WAVE", 4);
    std::memcpy(header->fmt_id, "fmt ", 4);
    header->fmt_size = kFmtChunkSize;
    header->format_tag = tag;
    header->channels = channels;
    header->sample_rate = rate;
    header->byte_rate = byte_rate;
    header->block_align = block_align;
    header->bits_per_sample = bits;
    header->extra_size = 0;
    std::memcpy(header->fact_id, "fact", 4);
    header->fact_size = kFactChunkSize;
    std::memcpy(header->data_id, "data", 4);
    return wave_header_set_data_length(header, data_length);
}

int init_wavhdr_alaw(WaveHeader* header, unsigned long data_length)
{
    return init_wave_header(header, data_length, kWaveFormatAlaw, 1, 8000, 8000, 1, 8);
}

int init_wavhdr_ulaw(WaveHeader* header, unsigned long data_length)
{
    return init_wave_header(header, data_length, kWaveFormatUlaw, 1, 8000, 8000, 1, 8);
}

int init_wavhdr_pcm(WaveHeader* header, unsigned long data_length)
{
    return init_wave_header(header, data_length, kWaveFormatPcm, 1, 8000, 16000, 2, 16);
}

int init_wavhdr_coder(WaveHeader* header, int coder, unsigned long data_length)
{
    switch (coder) {
    case kWaveCoderAlaw:
        return init_wavhdr_alaw(header, data_length);
    case kWaveCoderPcm:
        return init_wavhdr_pcm(header, data_length);
    case kWaveCoderUlaw:
        return init_wavhdr_ulaw(header, data_length);
    default:
        logger(1, kLogModule, kLogTag, "coder %d has no wave header", coder);
        return -1;
    }
}

unsigned long init_wavhdr_g729(char* out, unsigned long data_length)
{
    if (data_length > kG729MaxDataLength) {
        logger(2, kLogModule, kLogTag, "g729 data length %lu exceeds %lu", data_length,
               kG729MaxDataLength);
        data_length = kG729MaxDataLength;
    }
    const auto length = static_cast<std::uint32_t>(data_length);
    const std::uint32_t riff_size = length + static_cast<std::uint32_t>(kG729HeaderSize - 8);
    std::memcpy(out, g_szG729Header.data(), g_szG729Header.size());
    putLe32(out + 4, riff_size);
    putLe32(out + 60, length);
    putLe32(out + 68, length);
    return riff_size;
}

int wave_parse_header(const void* bytes, std::size_t size, WaveFormat* format,
                      std::string* error)
{
    constexpr std::size_t kChunkHeader = 8;
    constexpr std::uint32_t kFmtMinimum = 16;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    size = p ? std::min(size, kWaveHeaderReadMax) : 0;
    if (size < 12)
        return fail(error, "header is " + std::to_string(size) +
                               " bytes, shorter than the 12 bytes of a RIFF header");
    if (std::memcmp(p, "RIFF", 4) != 0)
        return fail(error, "not a RIFF file");
    if (std::memcmp(p + 8, "WAVE", 4) != 0)
        return fail(error, "RIFF form is '" + chunkName(p + 8) + "', not WAVE");

    WaveFormat found;
    bool have_fmt = false;
    std::size_t pos = 12;
    while (pos + kChunkHeader <= size) {
        const std::string name = chunkName(p + pos);
        const std::uint32_t chunk_size = le32(p + pos + 4);
        const std::size_t body = pos + kChunkHeader;
        if (std::memcmp(p + pos, "data", 4) == 0) {
            if (!have_fmt)
                return fail(error, "data chunk before any fmt chunk");
            found.data_offset = static_cast<std::uint32_t>(body);
            found.data_length = chunk_size;
            *format = found;
            return 0;
        }
        if (chunk_size > size - body)
            return fail(error, "chunk '" + name + "' of " + std::to_string(chunk_size) +
                                   " bytes at offset " + std::to_string(pos) +
                                   " runs past the " + std::to_string(size) + " bytes read");
        if (std::memcmp(p + pos, "fmt ", 4) == 0) {
            if (chunk_size < kFmtMinimum)
                return fail(error, "fmt chunk of " + std::to_string(chunk_size) +
                                       " bytes, shorter than 16");
            const std::uint8_t* f = p + body;
            found.format_tag = le16(f);
            found.channels = le16(f + 2);
            found.sample_rate = le32(f + 4);
            found.byte_rate = le32(f + 8);
            found.block_align = le16(f + 12);
            found.bits_per_sample = le16(f + 14);
            have_fmt = true;
        }
        // Chunks of odd size are followed by a pad byte.
        pos = body + chunk_size + (chunk_size & 1);
    }
    return fail(error, have_fmt ? "no data chunk in the " + std::to_string(size) + " bytes read"
                                : "no fmt chunk in the " + std::to_string(size) + " bytes read");
}
