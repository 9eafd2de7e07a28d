// The box's audio on real ALSA: file PCMs over the "null" PCM stand in for
// the boxes' sound cards (a FIFO feeds capture), found through a /proc of
// the test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "olva_device/sound_card.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/alsa_test_config.h"
#include "support/box_sim_fixture.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::BoxEvent;
using olva_test::CaptureFifo;
using olva_test::TestBox;
using ::testing::ElementsAre;

std::vector<std::int16_t> card_samples(int seed, std::size_t count)
{
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<std::int16_t>((static_cast<int>(i) * 131 + seed * 7919) % 65521 - 32760);
    return samples;
}

std::vector<BoxEvent> alarms(const TestBox& box)
{
    std::vector<BoxEvent> found;
    for (const BoxEvent& event : box.events())
        if (event.event == OLVA_EVENT_ALARM)
            found.push_back(event);
    return found;
}

class AlsaBoxTest : public olva_test::BoxSimTest {
protected:
    olva_test::TempDir alsa_dir_;
    olva_test::AlsaTestConfig alsa_{alsa_dir_.path()};
};

TEST_F(AlsaBoxTest, MonoCaptureReachesLineOneFrameByFrameInOrder)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    // Listed first: a card of the same model at another USB location.
    pcm_lines_.push_back(olva_test::usbPcmLine(3, 0));
    cards_.push_back({3, olva_test::kTz2401CardId, "002/009"});
    listCard(sim_box, 1, olva_test::kTz2401CardId);
    CaptureFifo fifo(alsa_.captureFile(1, 0));
    TestBox box;
    ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    ASSERT_TRUE(box.capture_running());
    EXPECT_EQ(box.capture_device_name(), "hw:1,0");
    EXPECT_EQ(box.playback_device_name(), "plughw:1,0");
    EXPECT_TRUE(alarms(box).empty());
    // Once, exactly so (two blanks after the command's name).
    EXPECT_THAT(commands_.commands(),
                ElementsAre("dbus-send  --print-reply --dest=com.deepin.daemon.Audio "
                            "/com/deepin/daemon/Audio org.freedesktop.DBus.Properties.Set "
                            "string:com.deepin.daemon.Audio string:ReduceNoise boolean:false"));

    std::vector<std::vector<std::int16_t>> sent;
    for (int period = 0; period < 5; ++period) {
        sent.push_back(card_samples(period, 160));
        ASSERT_TRUE(fifo.write(sent.back()));
    }
    ASSERT_TRUE(box.waitForFrames(1, 5));
    const auto frames = box.frames(1);
    EXPECT_EQ(std::vector(frames.begin(), frames.begin() + 5), sent);
    EXPECT_TRUE(box.frames(2).empty());

    // At the end of its input the capture PCM no longer blocks a read.
    fifo.close();
    box.olva_close(0);
    EXPECT_FALSE(box.capture_running());
}

TEST_F(AlsaBoxTest, StereoCaptureIsReducedToEachLine)
{
    SimRegisterBox& sim_box = sim_.plug<SimRegisterBox>();
    listCard(sim_box, 2, olva_test::kTz2501BCardId);
    CaptureFifo fifo(alsa_.captureFile(2, 0));
    TestBox box;
    ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2501B));
    ASSERT_TRUE(box.capture_running());

    // Two reads of 1920 stereo frames: four 20 ms frames per line.
    std::vector<std::int16_t> stereo = card_samples(9, 2 * 2 * 1920);
    stereo[0] = 1000;
    stereo[1] = -1000;
    ASSERT_TRUE(fifo.write(std::vector(stereo.begin(), stereo.begin() + 2 * 1920)));
    ASSERT_TRUE(fifo.write(std::vector(stereo.begin() + 2 * 1920, stereo.end())));
    ASSERT_TRUE(box.waitForFrames(1, 4));
    ASSERT_TRUE(box.waitForFrames(2, 4));

    for (int frame = 0; frame < 4; ++frame) {
        std::vector<std::int16_t> left, right;
        for (int i = 0; i < 160; ++i) {
            const int source = frame * 960 + 6 * i;
            left.push_back(static_cast<std::int16_t>(stereo[2 * source] >> 1));
            right.push_back(static_cast<std::int16_t>(stereo[2 * source + 1] >> 1));
        }
        EXPECT_EQ(box.frames(1)[frame], left) << "frame " << frame;
        EXPECT_EQ(box.frames(2)[frame], right) << "frame " << frame;
    }
    EXPECT_EQ(box.frames(1)[0][0], 500);
    EXPECT_EQ(box.frames(2)[0][0], -500);
    fifo.close();
    box.olva_close(0);
}

TEST_F(AlsaBoxTest, AudioThatAlsaCannotOpenGivesTheAlarm)
{
    const unsigned long no_such_pcm = static_cast<unsigned long>(static_cast<long>(-ENOENT));
    struct Case {
        const char* name;
        bool card_listed;
        std::vector<BoxEvent> alarms;
    };
    const Case cases[] = {
        // The card is there but its capture side is not: only capture fails.
        {"card without capture", true, {{1, 1, OLVA_EVENT_ALARM, 2, 1}}},
        // No card: both sides try "default", which this ALSA lacks.
        {"no card", false,
         {{1, 1, OLVA_EVENT_ALARM, 2, 1}, {1, 1, OLVA_EVENT_ALARM, 3, no_such_pcm}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        if (c.card_listed)
            listCard(sim_box, 4, olva_test::kTz2401CardId);
        TestBox box;
        ASSERT_TRUE(box.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
        EXPECT_EQ(alarms(box), c.alarms);
        EXPECT_FALSE(box.capture_running());
        EXPECT_EQ(box.playback_open(), c.card_listed);
        const std::vector<std::string> commands = commands_.commands();
        EXPECT_EQ(commands.back(), audio::kSoundUsersCommand);
        box.olva_close(0);
    }
}

}  // namespace
