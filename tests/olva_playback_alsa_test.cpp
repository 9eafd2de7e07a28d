// Playback on real ALSA: the boxes' sound cards are file PCMs over the
// "null" PCM, so that what the play thread writes lands in a raw file. The
// played WAV files are written by libsndfile, and DTMF is read back by
// spandsp's receiver, so that neither end of a check is ours.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <spandsp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "olva_device/audio_format.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/alsa_test_config.h"
#include "support/box_sim_fixture.h"
#include "support/sound_file.h"
#include "support/spandsp_signals.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::BoxEvent;
using olva_test::CaptureFifo;
using olva_test::SoundFile;
using olva_test::TestBox;

using Samples = std::vector<std::int16_t>;

// Two seconds that visit every region of the 16-bit range: a sweep whose
// level rises to full scale, with the extremes and small values mixed in.
Samples testSignal()
{
    Samples s(16000);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double level = 32767.0 * static_cast<double>(i) / static_cast<double>(s.size());
        const double phase = 0.001 * static_cast<double>(i * i) / 8.0;
        s[i] = static_cast<std::int16_t>(level * std::sin(phase));
    }
    s[10] = 32767;
    s[11] = -32768;
    s[12] = 1;
    s[13] = -1;
    return s;
}

// What the line should hear of a file: libsndfile's decoding for PCM and
// A-law; µ-law goes through its A-law code, converted and decoded by
// spandsp from the file's raw bytes.
Samples expectedSamples(const std::string& path, int subformat)
{
    SoundFile sound(path);
    EXPECT_NE(sound.file, nullptr);
    if (!sound.file)
        return {};
    if (subformat != SF_FORMAT_ULAW) {
        const std::vector<short> decoded = sound.samples();
        return Samples(decoded.begin(), decoded.end());
    }
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(sound.info.frames));
    raw.resize(static_cast<std::size_t>(
        sf_read_raw(sound.file, raw.data(), static_cast<sf_count_t>(raw.size()))));
    Samples out;
    for (std::uint8_t code : raw)
        out.push_back(alaw_to_linear(ulaw_to_alaw(code)));
    return out;
}

// One channel of interleaved frames.
Samples channel(const Samples& frames, unsigned which, unsigned channels)
{
    Samples out;
    for (std::size_t i = which; i < frames.size(); i += channels)
        out.push_back(frames[i]);
    return out;
}

// Each sample six times in a row.
Samples sixTimes(const Samples& samples)
{
    Samples out;
    for (std::int16_t s : samples)
        out.insert(out.end(), 6, s);
    return out;
}

struct BoxCase {
    const char* name;
    OLVA_PRODUCT model;
    unsigned long line;
};

const BoxCase kBoxes[] = {
    {"Tz2401B line 1", OLVA_PRODUCT_TZ2401B, 1},
    {"Tz2501B line 2", OLVA_PRODUCT_TZ2501B, 2},
    {"Tz2501B line 1", OLVA_PRODUCT_TZ2501B, 1},
};

class PlaybackAlsaTest : public olva_test::BoxSimTest {
protected:
    // A box of the case's model with its sound card (card number card) open,
    // its capture fed by a FIFO that the test closes before the box.
    std::unique_ptr<TestBox> openBox(const BoxCase& c, int card)
    {
        const olva_sim::SimBox* sim_box = nullptr;
        if (c.model == OLVA_PRODUCT_TZ2401B)
            sim_box = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        else
            sim_box = &sim_.plug<SimRegisterBox>();
        listCard(*sim_box, card,
                 c.model == OLVA_PRODUCT_TZ2401B ? olva_test::kTz2401CardId
                                                 : olva_test::kTz2501BCardId);
        fifos_.push_back(std::make_unique<CaptureFifo>(alsa_.captureFile(card, 0)));
        auto box = std::make_unique<TestBox>();
        EXPECT_TRUE(box->olva_open(sim_.path(*sim_box).c_str(), 1, c.model));
        EXPECT_TRUE(box->play_thread_running());
        return box;
    }
    // Closes the box (and its capture's input first): the playback file is
    // then whole.
    Samples closeAndReadPlayback(TestBox& box, int card)
    {
        for (auto& fifo : fifos_)
            fifo->close();
        box.olva_close(0);
        EXPECT_FALSE(box.play_thread_running());
        const std::string bytes = olva_test::readFile(alsa_.playbackFile(card, 0));
        Samples out(bytes.size() / 2);
        std::memcpy(out.data(), bytes.data(), out.size() * 2);
        return out;
    }
    // What a line of the box hears: the mono stream, or the line's channel
    // of the stereo stream taken at 8 kHz (each sample must come six times,
    // the other channel silent).
    Samples heardOnLine(const BoxCase& c, const Samples& played, bool repeated)
    {
        if (!audio::isTwoLineModel(c.model))
            return played;
        const unsigned mine = c.line == 1 ? 0 : 1;
        const Samples other = channel(played, 1 - mine, 2);
        EXPECT_EQ(std::count(other.begin(), other.end(), 0),
                  static_cast<long>(other.size()))
            << "the other line's channel is silent";
        const Samples line = channel(played, mine, 2);
        Samples at8k;
        for (std::size_t i = 0; i < line.size(); i += 6)
            at8k.push_back(line[i]);
        if (repeated) {
            EXPECT_EQ(line, sixTimes(at8k)) << "each sample six times";
        }
        return at8k;
    }

    olva_test::TempDir alsa_dir_;
    olva_test::AlsaTestConfig alsa_{alsa_dir_.path()};
    olva_test::TempDir files_;
    std::vector<std::unique_ptr<CaptureFifo>> fifos_;
};

void PrintTo(const BoxCase& c, std::ostream* out)
{
    *out << c.name;
}

// One box case per test, so that each stays well inside the test time-out
// in the sanitizer builds.
class PlaybackAlsaBoxTest : public PlaybackAlsaTest,
                            public ::testing::WithParamInterface<BoxCase> {};

TEST_P(PlaybackAlsaBoxTest, WaveFilesWrittenByLibsndfilePlayTheirSamplesOnTheLine)
{
    const struct {
        const char* name;
        int subformat;
    } formats[] = {{"16-bit PCM", SF_FORMAT_PCM_16}, {"A-law", SF_FORMAT_ALAW},
                   {"u-law", SF_FORMAT_ULAW}};
    const Samples signal = testSignal();
    const BoxCase& box_case = GetParam();
    int card = 1;
    for (const auto& format : formats) {
        SCOPED_TRACE(std::string(box_case.name) + ", " + format.name);
        const std::string path = files_.file(std::to_string(card) + ".wav");
        ASSERT_TRUE(olva_test::writeSoundFile(path, SF_FORMAT_WAV | format.subformat, signal));
        const Samples expected = expectedSamples(path, format.subformat);
        ASSERT_EQ(expected.size(), signal.size());

        auto box = openBox(box_case, card);
        ASSERT_EQ(box->olva_play_file(box_case.line, path.c_str()), 0);
        ASSERT_TRUE(box->waitForEvent(OLVA_EVENT_PLAY_END));
        EXPECT_FALSE(box->line(static_cast<int>(box_case.line)).playing());
        const Samples played = closeAndReadPlayback(*box, card);
        EXPECT_EQ(heardOnLine(box_case, played, true), expected);
        EXPECT_EQ(box->eventCount(OLVA_EVENT_PLAY_END), 1);
        EXPECT_EQ(box->eventCount(OLVA_EVENT_PLAY_ERROR), 0);
        const BoxEvent end{1, box_case.line, OLVA_EVENT_PLAY_END, 0, 0};
        EXPECT_EQ(box->events().back(), end);
        ++card;
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, PlaybackAlsaBoxTest, ::testing::ValuesIn(kBoxes));

TEST_F(PlaybackAlsaTest, DtmfDigitsAreReadBackBySpandspInTheirOrder)
{
    const std::string digits = "0123456789*#ABCD";
    int card = 1;
    for (const BoxCase& box_case : kBoxes) {
        SCOPED_TRACE(box_case.name);
        auto box = openBox(box_case, card);
        box->clearEvents();
        ASSERT_EQ(box->olva_send_dtmf(box_case.line, digits.c_str()), 0);
        ASSERT_TRUE(box->waitForEvent(OLVA_EVENT_CALL_OUT_FINISH));
        EXPECT_FALSE(box->line(static_cast<int>(box_case.line)).playing());
        const Samples played = closeAndReadPlayback(*box, card);
        const Samples heard = heardOnLine(box_case, played, false);
        EXPECT_EQ(olva_test::spandspDtmfDecode(heard.data(), heard.size()), "0123456789*#ABCD");

        // Each digit echoed as it was sent, then the end of the dialling.
        std::vector<BoxEvent> expected;
        for (char key : digits)
            expected.push_back({1, box_case.line, OLVA_EVENT_DTMF_DOWN,
                                static_cast<unsigned char>(key), 0});
        expected.push_back({1, box_case.line, OLVA_EVENT_CALL_OUT_FINISH, 0, 0});
        std::vector<BoxEvent> events = box->events();
        std::erase_if(events, [](const BoxEvent& e) { return e.event == OLVA_EVENT_LINE_HOOK_ON; });
        EXPECT_EQ(events, expected);
        ++card;
    }
}

TEST_F(PlaybackAlsaTest, AQueueOfThreePlaysInOrder)
{
    const BoxCase& box_case = kBoxes[1];
    const Samples signal = testSignal();
    const Samples parts[] = {Samples(signal.begin(), signal.begin() + 3000),
                             Samples(signal.begin() + 3000, signal.begin() + 3001),
                             Samples(signal.begin() + 3001, signal.end())};
    auto box = openBox(box_case, 5);
    for (int i = 0; i < 3; ++i) {
        const std::string path = files_.file("part" + std::to_string(i) + ".wav");
        ASSERT_TRUE(
            olva_test::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, parts[i]));
        ASSERT_EQ(box->olva_play_file(box_case.line, path.c_str()), 0);
    }
    ASSERT_TRUE(olva_test::eventually([&] { return box->eventCount(OLVA_EVENT_PLAY_END) == 3; }));
    const Samples played = closeAndReadPlayback(*box, 5);
    EXPECT_EQ(heardOnLine(box_case, played, true), signal);
    EXPECT_EQ(box->eventCount(OLVA_EVENT_PLAY_END), 3);
    EXPECT_EQ(box->eventCount(OLVA_EVENT_PLAY_ERROR), 0);
}

}  // namespace
