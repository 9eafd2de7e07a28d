// WAV files made with our headers, read back by libsndfile.
#include "codecs/g711.h"
#include "codecs/wave.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "support/sound_file.h"
#include "support/temp_dir.h"

namespace {

using olva_test::TempDir;
using olva_test::SoundFile;

std::string withHeader(const WaveHeader& header, const std::string& data)
{
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + data;
}

// Every code once, as 8-bit audio data.
std::string everyCode()
{
    std::string data(256, '\0');
    for (int c = 0; c < 256; ++c)
        data[static_cast<std::size_t>(c)] = static_cast<char>(c);
    return data;
}

TEST(WaveSndfileTest, FindsFormatRateChannelsAndLength)
{
    struct Case {
        int coder;
        int subtype;
        unsigned long data_length;
        sf_count_t frames;
    };
    const Case cases[] = {
        {kWaveCoderAlaw, SF_FORMAT_ALAW, 8000, 8000},
        {kWaveCoderUlaw, SF_FORMAT_ULAW, 8000, 8000},
        {kWaveCoderPcm, SF_FORMAT_PCM_16, 16000, 8000},
        {kWaveCoderAlaw, SF_FORMAT_ALAW, 1, 1},
        {kWaveCoderPcm, SF_FORMAT_PCM_16, 320, 160},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WaveHeader header;
        ASSERT_EQ(init_wavhdr_coder(&header, c.coder, c.data_length), 0);
        const std::string path = dir.file("coder" + std::to_string(c.coder) + ".wav");
        olva_test::writeFile(path, withHeader(header, std::string(c.data_length, '\x55')));
        SoundFile sound(path);
        ASSERT_NE(sound.file, nullptr) << c.coder << ": " << sf_strerror(nullptr);
        EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | c.subtype) << c.coder;
        EXPECT_EQ(sound.info.samplerate, 8000);
        EXPECT_EQ(sound.info.channels, 1);
        EXPECT_EQ(sound.info.frames, c.frames) << c.coder;
    }
}

// libsndfile's own G.711 decoders agree with our tables on every code.
TEST(WaveSndfileTest, DecodesEveryCodeAsWeDo)
{
    struct Case {
        int coder;
        std::int16_t (*decode)(std::uint8_t);
    };
    const Case cases[] = {
        {kWaveCoderAlaw, alaw2linear_query},
        {kWaveCoderUlaw, ulaw2linear_query},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WaveHeader header;
        init_wavhdr_coder(&header, c.coder, 256);
        const std::string path = dir.file("codes.wav");
        olva_test::writeFile(path, withHeader(header, everyCode()));
        SoundFile sound(path);
        ASSERT_NE(sound.file, nullptr);
        const std::vector<short> samples = sound.samples();
        ASSERT_EQ(samples.size(), 256u);
        for (int code = 0; code < 256; ++code)
            EXPECT_EQ(samples[static_cast<std::size_t>(code)],
                      c.decode(static_cast<std::uint8_t>(code)))
                << "coder " << c.coder << " code " << code;
    }
}

// As a recording does it: a header with length 0 at the start, the audio,
// then the header rewritten with the final length.
TEST(WaveSndfileTest, HeaderRewrittenAtStopGivesTheRecordedSamples)
{
    std::vector<std::int16_t> pcm(800);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(static_cast<int>(i * 97 % 65536) - 32768);
    const std::string data(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);

    WaveHeader header;
    init_wavhdr_pcm(&header, 0);
    std::string file = withHeader(header, data);
    ASSERT_EQ(wave_header_set_data_length(&header, file.size() - kWaveHeaderSize), 0);
    std::memcpy(file.data(), &header, sizeof header);

    TempDir dir;
    const std::string path = dir.file("recording.wav");
    olva_test::writeFile(path, file);
    SoundFile sound(path);
    ASSERT_NE(sound.file, nullptr);
    EXPECT_EQ(sound.info.frames, 800);
    const std::vector<short> samples = sound.samples();
    ASSERT_EQ(samples.size(), pcm.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), pcm.begin()));
}

}  // namespace
