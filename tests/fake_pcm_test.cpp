// The scripted PCM itself: what it gives for each script, so that the tests
// that build on it see what a card would give.
#include "support/fake_pcm.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <numeric>
#include <vector>

namespace {

using namespace std::chrono_literals;
using olva_test::FakePcmDevice;
using olva_test::FakePcmFactory;
using platform::Pcm;
using platform::PcmHwParams;
using platform::PcmStream;

constexpr PcmHwParams kMono8k{1, 8000, 160, 32000};

std::vector<std::int16_t> ramp(int first, std::size_t count)
{
    std::vector<std::int16_t> samples(count);
    std::iota(samples.begin(), samples.end(), static_cast<std::int16_t>(first));
    return samples;
}

// Opens name for stream with the given parameters set.
std::unique_ptr<Pcm> openSetUp(const std::string& name, PcmStream stream,
                               const PcmHwParams& params = kMono8k)
{
    std::unique_ptr<Pcm> pcm;
    EXPECT_EQ(platform::pcmFactory().open(name, stream, &pcm), 0);
    if (pcm) {
        EXPECT_EQ(pcm->setHwParams(params), 0);
    }
    return pcm;
}

// A capture device of its own, opened and set up for 8 kHz mono.
struct OpenCapture {
    FakePcmFactory factory;
    FakePcmDevice& device = factory.addDevice("hw:1,0", PcmStream::kCapture);
    std::unique_ptr<Pcm> pcm = openSetUp("hw:1,0", PcmStream::kCapture);
};

class FakePcmTest : public testing::Test {
protected:
    FakePcmFactory factory_;
    FakePcmDevice& mic_ = factory_.addDevice("hw:1,0", PcmStream::kCapture);
    FakePcmDevice& speaker_ = factory_.addDevice("plughw:1,0", PcmStream::kPlayback);
};

TEST(FakePcm, ReadErrorsAndWhatFollowsThem)
{
    const struct {
        int error;
        const char* text;
        int next_read;     // the read after it, with data fed
        int after_prepare;  // the read after a prepare()
    } cases[] = {
        {-EPIPE, "Broken pipe", -EPIPE, 160},
        {-EAGAIN, "Resource temporarily unavailable", 160, 160},
        {-ENODEV, "No such device", -ENODEV, -ENODEV},
        {-EIO, "Input/output error", 160, 160},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        OpenCapture open;
        FakePcmDevice& device = open.device;
        Pcm* pcm = open.pcm.get();
        ASSERT_TRUE(pcm);
        device.feedError(c.error);
        device.feed(ramp(1, 160));
        device.feed(ramp(1, 160));
        std::vector<std::int16_t> buffer(160);
        const long result = pcm->readi(buffer.data(), 160);
        EXPECT_EQ(result, c.error);
        EXPECT_STREQ(platform::pcmErrorText(static_cast<int>(result)), c.text);
        EXPECT_EQ(pcm->readi(buffer.data(), 160), c.next_read);
        if (c.error == -EPIPE) {
            EXPECT_EQ(pcm->wait(0), -EPIPE);
        }
        pcm->prepare();
        EXPECT_EQ(pcm->readi(buffer.data(), 160), c.after_prepare);
    }
}

TEST_F(FakePcmTest, ReadsDeliverFedFramesInOrderWithShortReads)
{
    std::unique_ptr<Pcm> pcm =
        openSetUp("hw:1,0", PcmStream::kCapture, PcmHwParams{2, 48000, 1920, 384000});
    ASSERT_TRUE(pcm);
    mic_.feed(ramp(0, 2 * 300));  // 300 stereo frames
    mic_.feed(ramp(600, 2 * 50));
    std::vector<std::int16_t> buffer(2 * 200, -1);

    ASSERT_EQ(pcm->readi(buffer.data(), 200), 200);
    EXPECT_EQ(buffer, ramp(0, 400));
    // What is left of a feed comes alone: a short read.
    ASSERT_EQ(pcm->readi(buffer.data(), 200), 100);
    EXPECT_EQ(std::vector<std::int16_t>(buffer.begin(), buffer.begin() + 200), ramp(400, 200));
    ASSERT_EQ(pcm->readi(buffer.data(), 200), 50);
    EXPECT_EQ(std::vector<std::int16_t>(buffer.begin(), buffer.begin() + 100), ramp(600, 100));
    EXPECT_TRUE(mic_.waitUntilConsumed(0ms));
    EXPECT_EQ(mic_.counters().reads, 3);
    EXPECT_EQ(mic_.hwParams()->channels, 2u);
    EXPECT_EQ(mic_.hwParams()->period_min, 1920u);
}

TEST(FakePcm, ABlockedReadWakesForDataDropAndUnplug)
{
    const struct {
        const char* name;
        void (*wake)(FakePcmDevice& device, Pcm& pcm);
        long result;
    } cases[] = {
        {"data", [](FakePcmDevice& device, Pcm&) { device.feed(ramp(5, 160)); }, 160},
        {"drop", [](FakePcmDevice&, Pcm& pcm) { pcm.drop(); }, -EBADFD},
        {"unplug", [](FakePcmDevice& device, Pcm&) { device.unplug(); }, -ENODEV},
        {"silence",
         [](FakePcmDevice& device, Pcm&) { device.setIdle(FakePcmDevice::Idle::kSilence); }, 160},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenCapture open;
        FakePcmDevice& device = open.device;
        Pcm* pcm = open.pcm.get();
        ASSERT_TRUE(pcm);
        std::vector<std::int16_t> buffer(160, -1);
        auto reader =
            std::async(std::launch::async, [&] { return pcm->readi(buffer.data(), 160); });
        EXPECT_EQ(reader.wait_for(50ms), std::future_status::timeout) << "the read did not block";
        c.wake(device, *pcm);
        ASSERT_EQ(reader.wait_for(olva_test::kWait), std::future_status::ready);
        EXPECT_EQ(reader.get(), c.result);
    }
}

TEST_F(FakePcmTest, WaitTellsWhetherDataIsReady)
{
    std::unique_ptr<Pcm> pcm = openSetUp("hw:1,0", PcmStream::kCapture);
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->wait(0), 0);
    auto waiter = std::async(std::launch::async, [&] { return pcm->wait(10000); });
    mic_.feed(ramp(0, 160));
    ASSERT_EQ(waiter.wait_for(olva_test::kWait), std::future_status::ready);
    EXPECT_EQ(waiter.get(), 1);
    EXPECT_EQ(mic_.counters().waits, 2);
    EXPECT_EQ(mic_.counters().last_wait_timeout_ms, 10000);
    mic_.unplug();
    EXPECT_EQ(pcm->wait(0), -ENODEV);
}

TEST_F(FakePcmTest, WritesAsScripted)
{
    std::unique_ptr<Pcm> pcm =
        openSetUp("plughw:1,0", PcmStream::kPlayback, PcmHwParams{2, 48000, 960, 192000});
    ASSERT_TRUE(pcm);
    const std::vector<std::int16_t> chunk = ramp(0, 2 * 960);
    speaker_.scriptWrite(-EPIPE);
    speaker_.scriptWrite(400);
    speaker_.scriptWrite(-EAGAIN);
    speaker_.scriptWrite(2000);

    EXPECT_EQ(pcm->writei(chunk.data(), 960), -EPIPE);
    EXPECT_EQ(pcm->writei(chunk.data(), 960), -EPIPE) << "an underrun stays until prepare";
    EXPECT_EQ(pcm->prepare(), 0);
    EXPECT_EQ(pcm->writei(chunk.data(), 960), 400);
    EXPECT_EQ(pcm->writei(chunk.data(), 960), -EAGAIN);
    EXPECT_EQ(pcm->writei(chunk.data(), 960), 2000) << "a count above the frames asked";
    EXPECT_EQ(pcm->writei(chunk.data(), 960), 960);
    EXPECT_EQ(pcm->wait(0), 1);

    std::vector<std::int16_t> expected = ramp(0, 2 * 400);
    expected.insert(expected.end(), chunk.begin(), chunk.end());
    expected.insert(expected.end(), chunk.begin(), chunk.end());
    EXPECT_TRUE(speaker_.waitForWritten(expected.size(), 0ms));
    EXPECT_EQ(speaker_.written(), expected);
    EXPECT_EQ(speaker_.counters().writes, 6);
}

TEST_F(FakePcmTest, OpensAsScripted)
{
    mic_.failOpens(-EBUSY, 2);
    std::unique_ptr<Pcm> pcm;
    EXPECT_EQ(platform::pcmFactory().open("hw:1,0", PcmStream::kCapture, &pcm), -EBUSY);
    EXPECT_EQ(platform::pcmFactory().open("hw:1,0", PcmStream::kCapture, &pcm), -EBUSY);
    EXPECT_EQ(platform::pcmFactory().open("hw:1,0", PcmStream::kCapture, &pcm), 0);
    ASSERT_TRUE(pcm);
    EXPECT_TRUE(mic_.isOpen());

    std::unique_ptr<Pcm> second;
    EXPECT_EQ(platform::pcmFactory().open("hw:1,0", PcmStream::kCapture, &second), -EBUSY)
        << "a device opens once at a time";
    EXPECT_EQ(platform::pcmFactory().open("hw:2,0", PcmStream::kCapture, &second), -ENOENT);
    EXPECT_EQ(platform::pcmFactory().open("hw:1,0", PcmStream::kPlayback, &second), -ENOENT);
    EXPECT_FALSE(second);

    pcm.reset();
    EXPECT_FALSE(mic_.isOpen());
    EXPECT_EQ(mic_.counters().closes, 1);
    mic_.unplug();
    EXPECT_EQ(platform::pcmFactory().open("hw:1,0", PcmStream::kCapture, &pcm), -ENODEV);

    const std::vector<olva_test::FakePcmOpen> opens = factory_.opens();
    ASSERT_EQ(opens.size(), 7u);
    EXPECT_EQ(opens[2].name, "hw:1,0");
    EXPECT_EQ(opens[2].result, 0);
    EXPECT_EQ(opens[4].name, "hw:2,0");
    EXPECT_EQ(opens[5].stream, PcmStream::kPlayback);
    EXPECT_EQ(opens[6].result, -ENODEV);
}

TEST_F(FakePcmTest, HardwareParametersAsScripted)
{
    std::unique_ptr<Pcm> pcm;
    ASSERT_EQ(platform::pcmFactory().open("hw:1,0", PcmStream::kCapture, &pcm), 0);
    mic_.failHwParams(-EINVAL);
    std::vector<std::int16_t> buffer(160);
    EXPECT_EQ(pcm->setHwParams(kMono8k), -EINVAL);
    EXPECT_FALSE(mic_.hwParams().has_value());
    EXPECT_EQ(pcm->readi(buffer.data(), 160), -EIO) << "never set up";
    EXPECT_EQ(pcm->setHwParams(PcmHwParams{1, 8000, 200, 100}), -EINVAL);
    EXPECT_EQ(pcm->setHwParams(kMono8k), 0);
    EXPECT_EQ(mic_.hwParams()->rate, 8000u);
}

TEST(FakePcmFactory, InstallsItselfWhileItLives)
{
    {
        FakePcmFactory factory;
        EXPECT_EQ(&platform::pcmFactory(), &factory);
    }
    EXPECT_EQ(&platform::pcmFactory(), &platform::alsaPcmFactory());
}

}  // namespace
