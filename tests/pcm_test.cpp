// The PCM seam on real ALSA, with `type file` PCMs over the "null" PCM (see
// AlsaTestConfig), and the scripted fake held to the same state rules.
#include "base/platform/pcm.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <numeric>
#include <vector>

#include "olva_device/audio_format.h"
#include "support/alsa_test_config.h"
#include "support/fake_pcm.h"
#include "support/temp_dir.h"

namespace {

using olva_test::AlsaTestConfig;
using olva_test::CaptureFifo;
using olva_test::readFile;
using olva_test::sampleBytes;
using platform::Pcm;
using platform::PcmStream;

// Distinct, signed samples, so that order, channels and byte order all show.
std::vector<std::int16_t> pattern(int seed, std::size_t count)
{
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<std::int16_t>((static_cast<int>(i) * 37 + seed) % 65536 - 32768);
    return samples;
}

std::unique_ptr<Pcm> openPcm(const std::string& name, PcmStream stream)
{
    std::unique_ptr<Pcm> pcm;
    const int rc = platform::pcmFactory().open(name, stream, &pcm);
    EXPECT_EQ(rc, 0) << name << ": " << platform::pcmErrorText(rc);
    return pcm;
}

class AlsaPcmTest : public testing::Test {
protected:
    olva_test::TempDir dir_;
    AlsaTestConfig alsa_{dir_.path()};
};

// A Tz2401B's format on card 1, a Tz2501B's on card 2.
struct ModelCase {
    const char* name;
    int model;
    int card;
};
constexpr ModelCase kModels[] = {{"8000 Hz mono", 3, 1}, {"48000 Hz stereo", 10, 2}};

TEST_F(AlsaPcmTest, CaptureDeliversWhatIsWrittenInOrder)
{
    for (const ModelCase& c : kModels) {
        SCOPED_TRACE(c.name);
        const platform::PcmHwParams params = audio::captureParams(c.model);
        const unsigned long frames = audio::captureFramesPerRead(c.model);
        const std::size_t samples = frames * params.channels;
        CaptureFifo fifo(alsa_.captureFile(c.card, 0));
        std::unique_ptr<Pcm> pcm =
            openPcm("hw:" + std::to_string(c.card) + ",0", PcmStream::kCapture);
        ASSERT_TRUE(pcm);
        ASSERT_EQ(pcm->setHwParams(params), 0);

        // One period written ahead, then one at a time as the reads go.
        ASSERT_TRUE(fifo.write(pattern(0, samples)));
        for (int period = 0; period < 3; ++period) {
            ASSERT_TRUE(fifo.write(pattern(period + 1, samples)));
            std::vector<std::int16_t> buffer(samples);
            ASSERT_EQ(pcm->readi(buffer.data(), frames), static_cast<long>(frames));
            EXPECT_EQ(buffer, pattern(period, samples)) << "period " << period;
        }
        EXPECT_EQ(pcm->close(), 0);
    }
}

TEST_F(AlsaPcmTest, PlaybackWritesWhatWasGiven)
{
    for (const ModelCase& c : kModels) {
        SCOPED_TRACE(c.name);
        const platform::PcmHwParams params = audio::playbackParams(c.model);
        std::unique_ptr<Pcm> pcm =
            openPcm("plughw:" + std::to_string(c.card) + ",0", PcmStream::kPlayback);
        ASSERT_TRUE(pcm);
        ASSERT_EQ(pcm->setHwParams(params), 0);
        const unsigned long frames = params.period_min;
        std::string expected;
        for (int chunk = 0; chunk < 3; ++chunk) {
            const std::vector<std::int16_t> samples = pattern(chunk, frames * params.channels);
            ASSERT_EQ(pcm->writei(samples.data(), frames), static_cast<long>(frames));
            expected += sampleBytes(samples);
        }
        EXPECT_EQ(pcm->drain(), 0);
        EXPECT_EQ(pcm->close(), 0);
        EXPECT_EQ(readFile(alsa_.playbackFile(c.card, 0)), expected);
    }
}

TEST_F(AlsaPcmTest, OpenFailuresGiveAlsasErrors)
{
    const struct {
        const char* name;
        PcmStream stream;
    } cases[] = {
        {"default", PcmStream::kPlayback},
        {"olva_no_such_pcm", PcmStream::kCapture},
        {"hw:7,0", PcmStream::kCapture},  // no capture file: no card
    };
    for (const auto& c : cases) {
        std::unique_ptr<Pcm> pcm;
        const int rc = platform::pcmFactory().open(c.name, c.stream, &pcm);
        EXPECT_EQ(rc, -ENOENT) << c.name;
        EXPECT_STREQ(platform::pcmErrorText(rc), "No such file or directory");
        EXPECT_FALSE(pcm) << c.name;
    }
}

// One call on a stream and the result ALSA gives for it. kFrames stands for
// the full count of a read or write of 160 frames.
constexpr long kFrames = 160;
enum class Call { kHwParams, kTransfer, kPrepare, kStart, kDrop, kDrain, kClose };

struct Step {
    Call call;
    long result;
};

struct StateCase {
    const char* name;
    std::vector<Step> steps;
};

const StateCase kStateCases[] = {
    {"before set-up",
     {{Call::kTransfer, -EIO}, {Call::kPrepare, -EIO}, {Call::kStart, -EIO},
      {Call::kDrop, -EIO}, {Call::kDrain, -EIO}}},
    {"set-up prepares",
     {{Call::kHwParams, 0}, {Call::kStart, 0}, {Call::kStart, -EBADFD},
      {Call::kTransfer, kFrames}, {Call::kPrepare, 0}, {Call::kTransfer, kFrames}}},
    {"drop stops until prepare",
     {{Call::kHwParams, 0}, {Call::kTransfer, kFrames}, {Call::kDrop, 0},
      {Call::kTransfer, -EBADFD}, {Call::kDrop, 0}, {Call::kDrain, 0}, {Call::kStart, -EBADFD},
      {Call::kPrepare, 0}, {Call::kTransfer, kFrames}}},
    {"drain stops until prepare",
     {{Call::kHwParams, 0}, {Call::kTransfer, kFrames}, {Call::kDrain, 0},
      {Call::kTransfer, -EBADFD}, {Call::kPrepare, 0}, {Call::kStart, 0},
      {Call::kTransfer, kFrames}}},
    {"closed",
     {{Call::kHwParams, 0}, {Call::kClose, 0}, {Call::kTransfer, -EBADFD},
      {Call::kPrepare, -EBADFD}, {Call::kDrop, -EBADFD}, {Call::kClose, -EBADFD}}},
};

long perform(Pcm& pcm, PcmStream stream, Call call)
{
    std::vector<std::int16_t> buffer(kFrames);
    switch (call) {
    case Call::kHwParams:
        return pcm.setHwParams(audio::captureParams(3));
    case Call::kTransfer:
        return stream == PcmStream::kCapture ? pcm.readi(buffer.data(), kFrames)
                                             : pcm.writei(buffer.data(), kFrames);
    case Call::kPrepare:
        return pcm.prepare();
    case Call::kStart:
        return pcm.start();
    case Call::kDrop:
        return pcm.drop();
    case Call::kDrain:
        return pcm.drain();
    case Call::kClose:
        return pcm.close();
    }
    return 0;
}

// A stream and whatever must outlive it.
struct OpenedPcm {
    std::shared_ptr<void> keep;
    std::unique_ptr<Pcm> pcm;
};

// Runs every state case on both streams of what open() gives.
void checkStateRules(const std::function<OpenedPcm(PcmStream)>& open)
{
    for (const StateCase& c : kStateCases) {
        for (PcmStream stream : {PcmStream::kCapture, PcmStream::kPlayback}) {
            SCOPED_TRACE(std::string(c.name) +
                         (stream == PcmStream::kCapture ? " (capture)" : " (playback)"));
            OpenedPcm opened = open(stream);
            ASSERT_TRUE(opened.pcm);
            for (std::size_t i = 0; i < c.steps.size(); ++i)
                EXPECT_EQ(perform(*opened.pcm, stream, c.steps[i].call), c.steps[i].result)
                    << "step " << i;
        }
    }
}

TEST_F(AlsaPcmTest, StateRules)
{
    // Enough input for every capture read of the table.
    olva_test::writeFile(alsa_.captureFile(1, 0), std::string(64 * 1024, '\0'));
    checkStateRules([](PcmStream stream) {
        return OpenedPcm{nullptr,
                         openPcm(stream == PcmStream::kCapture ? "hw:1,0" : "plughw:1,0", stream)};
    });
}

TEST(FakePcm, KeepsAlsasStateRules)
{
    checkStateRules([](PcmStream stream) {
        auto factory = std::make_shared<olva_test::FakePcmFactory>();
        factory->addDevice("card", stream).setIdle(olva_test::FakePcmDevice::Idle::kSilence);
        OpenedPcm opened{factory, nullptr};
        EXPECT_EQ(factory->open("card", stream, &opened.pcm), 0);
        return opened;
    });
}

}  // namespace
