// WAV headers: the 58-byte header that recordings are written with (RIFF,
// an 18-byte fmt chunk, a fact chunk with the sample count, the data chunk
// header), the 72-byte G.729 header, and a bounded reader for the header of
// a WAV file that is to be played.
//
// A recording writes its header with data length 0 when the file opens and
// rewrites it with the final length when it stops (wave_header_set_data_length).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

static_assert(std::endian::native == std::endian::little,
              "WAV headers are written as they lie in memory, which must be little-endian");

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatAlaw = 6;
inline constexpr std::uint16_t kWaveFormatUlaw = 7;

// Recording coders that write a WAV header (the library's coder numbers).
inline constexpr int kWaveCoderAlaw = 0;
inline constexpr int kWaveCoderPcm = 1;
inline constexpr int kWaveCoderUlaw = 100;

#pragma pack(push, 1)
struct WaveHeader {
    char riff_id[4];            // "RIFF"
    std::uint32_t riff_size;    // data length + 50
    char wave_id[4];            // "WAVE"
    char fmt_id[4];             // "fmt "
    std::uint32_t fmt_size;     // 18
    std::uint16_t format_tag;
    std::uint16_t channels;
    std::uint32_t sample_rate;
    std::uint32_t byte_rate;
    std::uint16_t block_align;
    std::uint16_t bits_per_sample;
    std::uint16_t extra_size;   // 0
    char fact_id[4];            // "fact"
    std::uint32_t fact_size;    // 4
    std::uint32_t sample_count; // data length / block align
    char data_id[4];            // "data"
    std::uint32_t data_length;  // bytes of audio after the header
};
#pragma pack(pop)

inline constexpr std::size_t kWaveHeaderSize = 58;
static_assert(sizeof(WaveHeader) == kWaveHeaderSize);

// The RIFF size is a 32-bit count of the bytes after its own field.
inline constexpr unsigned long kWaveMaxDataLength = 0xFFFFFFFFul - (kWaveHeaderSize - 8);

// Fills every field. Returns 0; -1 with the header untouched when
// block_align is 0; -1 when data_length exceeds kWaveMaxDataLength, the
// header then stating kWaveMaxDataLength (the most a WAV file can declare).
int init_wave_header(WaveHeader* header, unsigned long data_length, std::uint16_t tag,
                     std::uint16_t channels, std::uint32_t rate, std::uint32_t byte_rate,
                     std::uint16_t block_align, std::uint16_t bits);

// 8000 Hz mono: A-law and µ-law 8 bits, PCM 16 bits. Results as init_wave_header.
int init_wavhdr_alaw(WaveHeader* header, unsigned long data_length);
int init_wavhdr_ulaw(WaveHeader* header, unsigned long data_length);
int init_wavhdr_pcm(WaveHeader* header, unsigned long data_length);

// The header of the recording coder (kWaveCoder*); -1 for a coder whose files
// carry no WAV header.
int init_wavhdr_coder(WaveHeader* header, int coder, unsigned long data_length);

// Rewrites the RIFF size, sample count and data length of a filled header,
// keeping its format. Results as init_wave_header.
int wave_header_set_data_length(WaveHeader* header, unsigned long data_length);

inline constexpr std::size_t kG729HeaderSize = 72;
inline constexpr unsigned long kG729MaxDataLength = 0xFFFFFFFFul - (kG729HeaderSize - 8);

// Writes the 72-byte G.729 header to out: the data length at offsets 60
// (fact) and 68 (data), data length + 64 at offset 4. Returns the RIFF size;
// a data length above kG729MaxDataLength is written as that maximum.
unsigned long init_wavhdr_g729(char* out, unsigned long data_length);

// The format of a WAV file and where its audio starts, as its header says.
struct WaveFormat {
    std::uint16_t format_tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t byte_rate = 0;
    std::uint16_t block_align = 0;
    std::uint16_t bits_per_sample = 0;
    std::uint32_t data_offset = 0;  // first audio byte
    std::uint32_t data_length = 0;  // as the data chunk declares it
};

// How much of a file's start wave_parse_header looks at: room for our
// 58-byte header and for the fact and LIST chunks other writers put first.
inline constexpr std::size_t kWaveHeaderReadMax = 4096;

// Reads the RIFF/WAVE header in the first size bytes of a file (at most
// kWaveHeaderReadMax are looked at): the fmt chunk and the header of the data
// chunk, skipping other chunks. Returns 0, or -1 with a reason in *error (when
// error is not null) for a header that is short, is not RIFF/WAVE, has a chunk
// running past the bytes given, a fmt chunk under 16 bytes, or no fmt or data
// chunk in the bytes given.
int wave_parse_header(const void* bytes, std::size_t size, WaveFormat* format,
                      std::string* error);
