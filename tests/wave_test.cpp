#include "codecs/wave.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::uint32_t le32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::string id(const std::uint8_t* p)
{
    return std::string(reinterpret_cast<const char*>(p), 4);
}

struct Format {
    const char* name;
    int (*init)(WaveHeader*, unsigned long);
    int coder;
    std::uint16_t tag;
    std::uint32_t byte_rate;
    std::uint16_t block_align;
    std::uint16_t bits;
};

const Format kFormats[] = {
    {"A-law", init_wavhdr_alaw, kWaveCoderAlaw, 6, 8000, 1, 8},
    {"mu-law", init_wavhdr_ulaw, kWaveCoderUlaw, 7, 8000, 1, 8},
    {"PCM", init_wavhdr_pcm, kWaveCoderPcm, 1, 16000, 2, 16},
};

// Reads the header as bytes at the RIFF/WAVE offsets, not through the struct.
void expectLayout(const WaveHeader& header, const Format& f, std::uint32_t data_length)
{
    std::uint8_t b[kWaveHeaderSize];
    std::memcpy(b, &header, sizeof b);
    SCOPED_TRACE(f.name);
    EXPECT_EQ(id(b + 0), "RIFF");
    EXPECT_EQ(le32(b + 4), data_length + 50);
    EXPECT_EQ(id(b + 8), "WAVE");
    EXPECT_EQ(id(b + 12), "fmt ");
    EXPECT_EQ(le32(b + 16), 18u);
    EXPECT_EQ(le16(b + 20), f.tag);
    EXPECT_EQ(le16(b + 22), 1);
    EXPECT_EQ(le32(b + 24), 8000u);
    EXPECT_EQ(le32(b + 28), f.byte_rate);
    EXPECT_EQ(le16(b + 32), f.block_align);
    EXPECT_EQ(le16(b + 34), f.bits);
    EXPECT_EQ(le16(b + 36), 0);
    EXPECT_EQ(id(b + 38), "fact");
    EXPECT_EQ(le32(b + 42), 4u);
    EXPECT_EQ(le32(b + 46), data_length / f.block_align);
    EXPECT_EQ(id(b + 50), "data");
    EXPECT_EQ(le32(b + 54), data_length);
}

TEST(WaveHeaderTest, FieldsLieAtTheirRiffOffsets)
{
    for (const Format& f : kFormats) {
        for (std::uint32_t length : {0u, 1u, 320u, 8000u, 16000u, 123457u}) {
            WaveHeader by_init, by_coder;
            ASSERT_EQ(f.init(&by_init, length), 0);
            expectLayout(by_init, f, length);
            ASSERT_EQ(init_wavhdr_coder(&by_coder, f.coder, length), 0);
            EXPECT_EQ(std::memcmp(&by_init, &by_coder, sizeof by_init), 0) << f.name;
        }
    }
}

TEST(WaveHeaderTest, LengthsForOneSecond)
{
    WaveHeader pcm, alaw;
    init_wavhdr_pcm(&pcm, 16000);
    EXPECT_EQ(std::uint32_t{pcm.riff_size}, 16050u);
    EXPECT_EQ(std::uint32_t{pcm.sample_count}, 8000u);
    EXPECT_EQ(std::uint32_t{pcm.data_length}, 16000u);
    init_wavhdr_alaw(&alaw, 8000);
    EXPECT_EQ(std::uint32_t{alaw.sample_count}, 8000u);
}

TEST(WaveHeaderTest, RewritingTheLengthKeepsTheFormat)
{
    for (const Format& f : kFormats) {
        WaveHeader header;
        f.init(&header, 0);
        ASSERT_EQ(wave_header_set_data_length(&header, 48000), 0);
        expectLayout(header, f, 48000);
    }
}

TEST(WaveHeaderTest, LengthsBeyondThirtyTwoBitsAreCapped)
{
    WaveHeader header;
    EXPECT_EQ(init_wavhdr_pcm(&header, kWaveMaxDataLength), 0);
    EXPECT_EQ(std::uint32_t{header.riff_size}, 0xFFFFFFFFu);
    const unsigned long too_long = kWaveMaxDataLength + 1;
    EXPECT_EQ(init_wavhdr_pcm(&header, too_long), -1);
    EXPECT_EQ(std::uint32_t{header.riff_size}, 0xFFFFFFFFu);
    EXPECT_EQ(std::uint32_t{header.data_length}, kWaveMaxDataLength);
    EXPECT_EQ(std::uint32_t{header.sample_count}, kWaveMaxDataLength / 2);
    EXPECT_EQ(wave_header_set_data_length(&header, 0x100000000ul), -1);
    EXPECT_EQ(std::uint32_t{header.data_length}, kWaveMaxDataLength);
}

TEST(WaveHeaderTest, BadArgumentsAreRefused)
{
    WaveHeader header;
    std::memset(&header, 0x5A, sizeof header);
    WaveHeader untouched = header;
    EXPECT_EQ(init_wave_header(&header, 100, 1, 1, 8000, 16000, 0, 16), -1);
    EXPECT_EQ(std::memcmp(&header, &untouched, sizeof header), 0);
    for (int coder : {3, 20, 38, -1, 2})
        EXPECT_EQ(init_wavhdr_coder(&header, coder, 0), -1) << coder;
    EXPECT_EQ(std::memcmp(&header, &untouched, sizeof header), 0);
}

TEST(WaveHeaderTest, G729Header)
{
    for (unsigned long length : {0ul, 1000ul, 65536ul}) {
        std::uint8_t b[kG729HeaderSize + 1];
        b[kG729HeaderSize] = 0xEE;
        const unsigned long riff = init_wavhdr_g729(reinterpret_cast<char*>(b), length);
        EXPECT_EQ(riff, length + 64);
        EXPECT_EQ(b[kG729HeaderSize], 0xEE) << "written past the header";
        EXPECT_EQ(id(b), "RIFF");
        EXPECT_EQ(le32(b + 4), length + 64);
        EXPECT_EQ(id(b + 8), "WAVE");
        EXPECT_EQ(id(b + 12), "fmt ");
        EXPECT_EQ(le32(b + 16), 32u);
        EXPECT_EQ(le16(b + 20), 0x729A);
        EXPECT_EQ(le16(b + 22), 1);
        EXPECT_EQ(le32(b + 24), 8000u);
        EXPECT_EQ(le32(b + 28), 1000u);
        EXPECT_EQ(le16(b + 32), 20);
        EXPECT_EQ(le16(b + 34), 16);
        EXPECT_EQ(le16(b + 36), 14);
        const std::uint8_t extra[14] = {0x00, 0x01, 0x01, 0x00, 0x03, 0x00, 0x00,
                                        0x00, 0xF4, 0x01, 0x03, 0x00, 0x00, 0x00};
        EXPECT_EQ(std::memcmp(b + 38, extra, sizeof extra), 0);
        EXPECT_EQ(id(b + 52), "fact");
        EXPECT_EQ(le32(b + 56), 4u);
        EXPECT_EQ(le32(b + 60), length);
        EXPECT_EQ(id(b + 64), "data");
        EXPECT_EQ(le32(b + 68), length);
    }
    char b[kG729HeaderSize];
    EXPECT_EQ(init_wavhdr_g729(b, kG729MaxDataLength + 5), 0xFFFFFFFFul);
}

std::vector<std::uint8_t> bytesOf(const WaveHeader& header)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&header);
    return std::vector<std::uint8_t>(p, p + sizeof header);
}

TEST(WaveReaderTest, ReadsOurHeadersBack)
{
    for (const Format& f : kFormats) {
        WaveHeader header;
        f.init(&header, 4321);
        const std::vector<std::uint8_t> bytes = bytesOf(header);
        WaveFormat format;
        std::string error;
        ASSERT_EQ(wave_parse_header(bytes.data(), bytes.size(), &format, &error), 0) << error;
        EXPECT_EQ(format.format_tag, f.tag) << f.name;
        EXPECT_EQ(format.channels, 1);
        EXPECT_EQ(format.sample_rate, 8000u);
        EXPECT_EQ(format.byte_rate, f.byte_rate);
        EXPECT_EQ(format.block_align, f.block_align);
        EXPECT_EQ(format.bits_per_sample, f.bits);
        EXPECT_EQ(format.data_offset, 58u);
        EXPECT_EQ(format.data_length, 4321u);
    }
}

// A file as other writers make it: 16-byte fmt, an odd-sized chunk with its
// pad byte, then the data.
std::vector<std::uint8_t> otherWritersHeader()
{
    std::vector<std::uint8_t> b;
    auto put = [&b](const char* text) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(text[i]));
    };
    auto put32 = [&b](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto put16 = [&b](std::uint16_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    put("RIFF"); put32(0); put("WAVE");
    put("fmt "); put32(16); put16(1); put16(2); put32(44100); put32(176400); put16(4); put16(16);
    put("LIST"); put32(5); put("INFO"); b.push_back('x'); b.push_back(0);
    put("data"); put32(1000);
    return b;
}

TEST(WaveReaderTest, SkipsOtherChunksAndTheirPadding)
{
    const std::vector<std::uint8_t> b = otherWritersHeader();
    WaveFormat format;
    std::string error;
    ASSERT_EQ(wave_parse_header(b.data(), b.size(), &format, &error), 0) << error;
    EXPECT_EQ(format.format_tag, 1);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.sample_rate, 44100u);
    EXPECT_EQ(format.bits_per_sample, 16);
    EXPECT_EQ(format.data_offset, b.size());
    EXPECT_EQ(format.data_length, 1000u);
}

TEST(WaveReaderTest, RefusesShortAndMalformedHeaders)
{
    WaveHeader ours;
    init_wavhdr_alaw(&ours, 100);
    const std::vector<std::uint8_t> good = bytesOf(ours);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* reason;  // a part of the error text
    };
    auto with = [&good](std::size_t offset, std::vector<std::uint8_t> patch) {
        std::vector<std::uint8_t> b = good;
        std::copy(patch.begin(), patch.end(), b.begin() + static_cast<long>(offset));
        return b;
    };
    auto cut = [&good](std::size_t size) {
        return std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(size));
    };
    const Case cases[] = {
        {"empty", {}, "shorter than the 12 bytes"},
        {"11 bytes", cut(11), "shorter than the 12 bytes"},
        {"RIFF and WAVE only", cut(12), "no fmt chunk"},
        {"cut inside fmt", cut(30), "runs past"},
        {"cut before the data chunk", cut(50), "no data chunk"},
        {"cut inside the data chunk header", cut(54), "no data chunk"},
        {"not RIFF", with(0, {'R', 'I', 'F', 'X'}), "not a RIFF file"},
        {"not WAVE", with(8, {'A', 'V', 'I', ' '}), "not WAVE"},
        {"fmt of 14 bytes", with(16, {14, 0, 0, 0}), "shorter than 16"},
        {"fmt size past the end", with(16, {0xFF, 0xFF, 0xFF, 0xFF}), "runs past"},
        {"fact size past the end", with(42, {0, 0, 0, 0x80}), "runs past"},
        {"data before fmt", with(12, {'d', 'a', 't', 'a'}), "before any fmt"},
        {"fmt renamed", with(12, {'j', 'u', 'n', 'k'}), "before any fmt"},
    };
    for (const Case& c : cases) {
        WaveFormat format;
        format.format_tag = 0x4242;
        std::string error;
        EXPECT_EQ(wave_parse_header(c.bytes.data(), c.bytes.size(), &format, &error), -1)
            << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(format.format_tag, 0x4242) << c.name << ": written on failure";
        EXPECT_EQ(wave_parse_header(c.bytes.data(), c.bytes.size(), &format, nullptr), -1);
    }
    WaveFormat format;
    EXPECT_EQ(wave_parse_header(nullptr, 58, &format, nullptr), -1);
}

TEST(WaveReaderTest, LooksNoFurtherThanItsLimit)
{
    // A long chunk before the data puts the data chunk out of reach.
    std::vector<std::uint8_t> b = otherWritersHeader();
    const std::size_t list = 36;
    b[list + 4] = static_cast<std::uint8_t>(kWaveHeaderReadMax & 0xFF);
    b[list + 5] = static_cast<std::uint8_t>(kWaveHeaderReadMax >> 8);
    b.resize(kWaveHeaderReadMax * 2, 0);
    WaveFormat format;
    std::string error;
    EXPECT_EQ(wave_parse_header(b.data(), b.size(), &format, &error), -1);
    EXPECT_NE(error.find("runs past the 4096 bytes"), std::string::npos) << error;
}

}  // namespace
