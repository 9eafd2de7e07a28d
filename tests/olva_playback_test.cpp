// Playback on simulated boxes with scripted sound cards: what a card that
// holds, underruns or fails does to an item, stops in the middle of a file
// and of a digit string, files that cannot be played, the queue's refusals,
// a plug-out during playback and a re-open. The played files are written by
// libsndfile.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "olva_device/olva_device.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/fake_pcm.h"
#include "support/sound_file.h"
#include "support/spandsp_signals.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::BoxEvent;
using olva_test::FakePcmDevice;
using olva_test::TestBox;
using platform::PcmStream;
using namespace std::chrono_literals;

using Samples = std::vector<std::int16_t>;

Samples pattern(std::size_t count, int seed = 1)
{
    Samples s(count);
    for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<std::int16_t>((static_cast<int>(i) * 211 + seed * 997) % 60001 - 30000);
    return s;
}

// The events of the play queue's items, in order.
std::vector<BoxEvent> playEvents(const TestBox& box)
{
    std::vector<BoxEvent> events = box.events();
    std::erase_if(events, [](const BoxEvent& e) {
        return e.event != OLVA_EVENT_PLAY_END && e.event != OLVA_EVENT_PLAY_ERROR &&
               e.event != OLVA_EVENT_CALL_OUT_FINISH;
    });
    return events;
}

constexpr BoxEvent kEnd1{1, 1, OLVA_EVENT_PLAY_END, 0, 0};
constexpr BoxEvent kError1{1, 1, OLVA_EVENT_PLAY_ERROR, 0, 0};

class PlaybackTest : public olva_test::BoxSimTest {
protected:
    // A Tz2401B (or a Tz2501B) open on scripted card 1.
    void openBox(bool two_lines = false)
    {
        if (two_lines) {
            sim_box_ = &sim_.plug<SimRegisterBox>();
            model_ = OLVA_PRODUCT_TZ2501B;
        } else {
            sim_box_ = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
            model_ = OLVA_PRODUCT_TZ2401B;
        }
        listCard(*sim_box_, 1, two_lines ? olva_test::kTz2501BCardId : olva_test::kTz2401CardId);
        capture_ = &pcm_.addDevice("hw:1,0", PcmStream::kCapture);
        playback_ = &pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
        ASSERT_TRUE(box_.olva_open(sim_.path(*sim_box_).c_str(), 1, model_));
        ASSERT_TRUE(box_.play_thread_running());
        box_.clearEvents();
    }
    std::string wave(const std::string& name, const Samples& samples)
    {
        const std::string path = files_.file(name);
        EXPECT_TRUE(olva_test::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
        return path;
    }
    bool waitForEvents(std::size_t n)
    {
        return olva_test::eventually([&] { return playEvents(box_).size() >= n; });
    }

    olva_test::FakePcmFactory pcm_;
    olva_test::TempDir files_;
    olva_sim::SimBox* sim_box_ = nullptr;
    OLVA_PRODUCT model_ = OLVA_PRODUCT_TZ2401B;
    FakePcmDevice* capture_ = nullptr;
    FakePcmDevice* playback_ = nullptr;
    TestBox box_;
};

TEST_F(PlaybackTest, AStopInTheMiddleOfAFileEndsItThereWithOnePlayEnd)
{
    openBox();
    const Samples first = pattern(16000, 1);
    const Samples second = pattern(1000, 2);
    playback_->holdWritesAt(1600);
    ASSERT_EQ(box_.olva_play_file(1, wave("long.wav", first).c_str()), 0);
    ASSERT_EQ(box_.olva_play_file(1, wave("next.wav", second).c_str()), 0);
    ASSERT_TRUE(playback_->waitForHeldWrite());
    EXPECT_TRUE(box_.line(1).playing());

    ASSERT_EQ(box_.olva_stop_play(1), 0);
    // The stopped file ends quietly; the next one plays whole on the stream
    // that the stop dropped.
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(playEvents(box_), (std::vector<BoxEvent>{kEnd1, kEnd1}));
    Samples expected(first.begin(), first.begin() + 1600);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(playback_->written(), expected);
    EXPECT_FALSE(box_.line(1).playing());
}

TEST_F(PlaybackTest, AStopInTheMiddleOfADigitStringEndsTheDialling)
{
    openBox();
    // 180 ms per digit at 8 kHz: the hold comes before the third digit.
    playback_->holdWritesAt(2 * 1440);
    ASSERT_EQ(box_.olva_send_dtmf(1, "123456"), 0);
    ASSERT_TRUE(playback_->waitForHeldWrite());
    ASSERT_EQ(box_.olva_stop_play(1), 0);
    ASSERT_TRUE(box_.waitForEvent(OLVA_EVENT_CALL_OUT_FINISH));
    EXPECT_EQ(playEvents(box_), (std::vector<BoxEvent>{{1, 1, OLVA_EVENT_CALL_OUT_FINISH, 0, 0}}));
    const Samples written = playback_->written();
    EXPECT_EQ(written.size(), 2u * 1440);
    EXPECT_EQ(olva_test::spandspDtmfDecode(written.data(), written.size()), "12");

    // Digits sent after it play whole.
    ASSERT_EQ(box_.olva_send_dtmf(1, "9"), 0);
    ASSERT_TRUE(olva_test::eventually(
        [&] { return playback_->written().size() == written.size() + 1440; }));
    const Samples all = playback_->written();
    EXPECT_EQ(olva_test::spandspDtmfDecode(all.data() + written.size(), 1440), "9");
}

TEST_F(PlaybackTest, AStopOnOneLineLeavesTheOtherLinesFilePlaying)
{
    openBox(true);
    playback_->holdWritesAt(2 * 960 * 5);
    ASSERT_EQ(box_.olva_play_file(2, wave("two.wav", pattern(4000)).c_str()), 0);
    ASSERT_TRUE(playback_->waitForHeldWrite());
    const int drops = playback_->counters().drops;
    ASSERT_EQ(box_.olva_stop_play(1), 0);
    EXPECT_EQ(playback_->counters().drops, drops);
    EXPECT_TRUE(box_.line(2).playing());

    ASSERT_EQ(box_.olva_stop_play(2), 0);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(playEvents(box_), (std::vector<BoxEvent>{{1, 2, OLVA_EVENT_PLAY_END, 0, 0}}));
    EXPECT_EQ(playback_->written().size(), 2u * 960 * 5);
}

TEST_F(PlaybackTest, UnderrunsAndShortWritesLoseNoSample)
{
    openBox();
    const Samples signal = pattern(800);
    playback_->scriptWrite(160);
    playback_->scriptWrite(-EPIPE);
    playback_->scriptWrite(50);   // the other 110 of that chunk follow
    playback_->scriptWrite(0);    // nothing taken: the same chunk again
    playback_->scriptWrite(-EAGAIN);
    const int prepares = playback_->counters().prepares;
    ASSERT_EQ(box_.olva_play_file(1, wave("rough.wav", signal).c_str()), 0);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(playEvents(box_), std::vector<BoxEvent>{kEnd1});
    EXPECT_EQ(playback_->written(), signal);
    // The item's own prepare and the underrun's.
    EXPECT_EQ(playback_->counters().prepares, prepares + 2);
    EXPECT_GE(playback_->counters().waits, 3);
    EXPECT_EQ(playback_->counters().drains, 1);
}

TEST_F(PlaybackTest, WriteErrorsEndTheFileWithPlayErrorAndTheQueueGoesOn)
{
    openBox();
    const Samples signal = pattern(480);
    struct Case {
        const char* name;
        std::vector<long> script;
    };
    const Case cases[] = {
        {"an I/O error", {160, -EIO}},
        {"more frames than asked", {161}},
        {"a card that keeps underrunning", std::vector<long>(20, -EPIPE)},
        {"a card that takes nothing", std::vector<long>(20, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box_.clearEvents();
        for (long result : c.script)
            playback_->scriptWrite(result);
        ASSERT_EQ(box_.olva_play_file(1, wave("e.wav", signal).c_str()), 0);
        ASSERT_EQ(box_.olva_play_file(1, wave("f.wav", signal).c_str()), 0);
        ASSERT_TRUE(waitForEvents(2));
        EXPECT_EQ(playEvents(box_), (std::vector<BoxEvent>{kError1, kEnd1}));
        EXPECT_FALSE(box_.line(1).playing());
    }
}

TEST_F(PlaybackTest, FilesThatCannotBePlayedEndWithPlayErrorAndNothingIsWritten)
{
    openBox();
    const std::string dir = files_.path();
    using olva_test::writeSoundFile;
    const Samples some = pattern(800);
    ASSERT_TRUE(writeSoundFile(dir + "/alaw16k.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, some, 16000));
    ASSERT_TRUE(
        writeSoundFile(dir + "/stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, some, 8000, 2));
    ASSERT_TRUE(writeSoundFile(dir + "/u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, some));
    ASSERT_TRUE(writeSoundFile(dir + "/float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, some));
    olva_test::writeFile(dir + "/text.wav", "not a wave file at all, just some words\n");
    olva_test::writeFile(dir + "/empty.wav", "");
    const std::string good = wave("good.wav", pattern(800));
    olva_test::writeFile(dir + "/short.wav", olva_test::readFile(good).substr(0, 30));
    std::filesystem::create_directory(dir + "/folder.wav");
    ASSERT_EQ(mkfifo((dir + "/fifo.wav").c_str(), 0600), 0);

    for (const char* name : {"alaw16k.wav", "stereo.wav", "u8.wav", "float.wav", "text.wav",
                             "empty.wav", "short.wav", "folder.wav", "fifo.wav"}) {
        SCOPED_TRACE(name);
        box_.clearEvents();
        ASSERT_EQ(box_.olva_play_file(1, (dir + "/" + name).c_str()), 0);
        ASSERT_TRUE(waitForEvents(1));
        EXPECT_EQ(playEvents(box_), std::vector<BoxEvent>{kError1});
        EXPECT_FALSE(box_.line(1).playing());
        EXPECT_TRUE(playback_->written().empty());
    }
    // The thread was held by none of them.
    box_.clearEvents();
    ASSERT_EQ(box_.olva_play_file(1, good.c_str()), 0);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(playEvents(box_), std::vector<BoxEvent>{kEnd1});
    EXPECT_EQ(playback_->written(), pattern(800));
}

TEST_F(PlaybackTest, AFileRemovedWhileQueuedEndsWithPlayErrorAndAnEmptyOneWithPlayEnd)
{
    openBox();
    playback_->holdWritesAt(160);
    ASSERT_EQ(box_.olva_play_file(1, wave("first.wav", pattern(1600)).c_str()), 0);
    const std::string gone = wave("gone.wav", pattern(1600));
    ASSERT_EQ(box_.olva_play_file(1, gone.c_str()), 0);
    ASSERT_EQ(box_.olva_play_file(1, wave("empty.wav", {}).c_str()), 0);
    ASSERT_TRUE(playback_->waitForHeldWrite());
    std::filesystem::remove(gone);
    ASSERT_EQ(box_.olva_stop_play(1), 0);
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(playEvents(box_), (std::vector<BoxEvent>{kEnd1, kError1, kEnd1}));
    EXPECT_EQ(playback_->written().size(), 160u);
}

TEST_F(PlaybackTest, ItemsAreRefusedWithTheirReason)
{
    openBox();
    const std::string good = wave("good.wav", pattern(160));
    EXPECT_EQ(box_.olva_play_file(1, files_.file("missing.wav").c_str()), -1);
    EXPECT_EQ(box_.olva_play_file(2, good.c_str()), -1) << "the Tz2401B has no line 2";
    EXPECT_EQ(box_.olva_play_file(1, nullptr), OLVA_ERR_INVALID_PARAM);
    const std::string long_path = "/" + std::string(254, 'a');
    EXPECT_EQ(box_.olva_play_file(1, long_path.c_str()), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.olva_send_dtmf(1, nullptr), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.olva_send_dtmf(1, std::string(255, '1').c_str()), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(box_.olva_send_dtmf(2, "1"), -1);
    EXPECT_EQ(box_.olva_stop_play(2), -1);
    EXPECT_EQ(box_.olva_stop_play(1), 0) << "nothing plays: nothing to stop";
    EXPECT_EQ(box_.play_queue_size(), 0u);
    EXPECT_TRUE(box_.events().empty());

    // A full queue refuses the next item, of either kind.
    playback_->holdWritesAt(0);
    ASSERT_EQ(box_.olva_play_file(1, good.c_str()), 0);
    ASSERT_TRUE(playback_->waitForHeldWrite());
    for (std::size_t i = 0; i < PlayQueue::kMaxItems; ++i)
        ASSERT_EQ(box_.olva_play_file(1, good.c_str()), 0) << i;
    EXPECT_EQ(box_.olva_play_file(1, good.c_str()), -1);
    EXPECT_EQ(box_.olva_send_dtmf(1, "5"), -1);
    EXPECT_EQ(box_.eventCount(OLVA_EVENT_DTMF_DOWN), 0) << "a refused string is not echoed";
    EXPECT_EQ(box_.play_queue_size(), PlayQueue::kMaxItems);
    // The close empties the queue.
    box_.olva_close(0);
    EXPECT_EQ(box_.play_queue_size(), 0u);
}

TEST_F(PlaybackTest, TheTz2701aSendsItsDigitsItselfAndQueuesNothing)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    listCard(sim_box, 1, olva_test::kTz2401CardId);
    pcm_.addDevice("hw:1,0", PcmStream::kCapture);
    FakePcmDevice& playback = pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
    ASSERT_TRUE(box_.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    ASSERT_EQ(box_.model(), OLVA_PRODUCT_TZ2701A);
    ASSERT_TRUE(box_.play_thread_running());
    box_.clearEvents();
    EXPECT_EQ(box_.olva_send_dtmf(1, "12"), 0);
    EXPECT_EQ(box_.play_queue_size(), 0u);
    EXPECT_EQ(box_.eventCount(OLVA_EVENT_DTMF_DOWN), 0) << "not echoed";
    // A file played after it is the first thing the card gets.
    ASSERT_EQ(box_.olva_play_file(1, wave("after.wav", pattern(320)).c_str()), 0);
    ASSERT_TRUE(box_.waitForEvent(OLVA_EVENT_PLAY_END));
    EXPECT_EQ(playback.written(), pattern(320));
}

TEST_F(PlaybackTest, WithoutPlaybackFilesAndDigitsAreRefused)
{
    SimTz2401Box& sim_box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    listCard(sim_box, 1, olva_test::kTz2401CardId);
    pcm_.addDevice("hw:1,0", PcmStream::kCapture);
    pcm_.addDevice("plughw:1,0", PcmStream::kPlayback).failHwParams(-EINVAL);
    ASSERT_TRUE(box_.olva_open(sim_.path(sim_box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    EXPECT_FALSE(box_.play_thread_running());
    box_.clearEvents();
    EXPECT_EQ(box_.olva_play_file(1, wave("good.wav", pattern(160)).c_str()), -1);
    // Refused before the digits are echoed or the line is marked dialling.
    EXPECT_EQ(box_.olva_send_dtmf(1, "12"), -1);
    EXPECT_TRUE(box_.events().empty());
    EXPECT_EQ(box_.play_queue_size(), 0u);
}

TEST_F(PlaybackTest, APlugOutDuringPlaybackEndsItWithoutAHang)
{
    openBox();
    playback_->holdWritesAt(800);
    ASSERT_EQ(box_.olva_play_file(1, wave("long.wav", pattern(16000)).c_str()), 0);
    ASSERT_EQ(box_.olva_play_file(1, wave("queued.wav", pattern(160)).c_str()), 0);
    ASSERT_TRUE(playback_->waitForHeldWrite());
    sim_.unplug(*sim_box_);
    playback_->unplug();
    capture_->unplug();
    ASSERT_TRUE(olva_test::eventually([&] {
        return box_.device_index() == -1 && !box_.play_thread_running() && !box_.capture_running();
    }));
    // The file in progress failed before the box's end; the queued one
    // failed too when the thread reached it before the end did, or went
    // with the queue.
    std::vector<int> codes = box_.eventCodes();
    std::erase(codes, OLVA_EVENT_USB_ERROR);
    ASSERT_GE(codes.size(), 2u);
    EXPECT_LE(codes.size(), 3u);
    EXPECT_EQ(codes.back(), OLVA_EVENT_PLUG_OUT);
    codes.pop_back();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), OLVA_EVENT_PLAY_ERROR),
              static_cast<long>(codes.size()));
    EXPECT_EQ(box_.play_queue_size(), 0u);
    EXPECT_FALSE(playback_->isOpen());
    EXPECT_EQ(playback_->written().size(), 800u);
}

TEST_F(PlaybackTest, ACloseStopsThePlayThreadAndAReopenStartsANewOne)
{
    openBox();
    playback_->holdWritesAt(160);
    ASSERT_EQ(box_.olva_play_file(1, wave("long.wav", pattern(1600)).c_str()), 0);
    ASSERT_TRUE(playback_->waitForHeldWrite());
    // The close ends the held write: the thread is joined before its
    // stream closes.
    box_.olva_close(0);
    EXPECT_FALSE(box_.play_thread_running());
    EXPECT_FALSE(playback_->isOpen());
    EXPECT_EQ(box_.eventCount(OLVA_EVENT_PLAY_ERROR), 1);

    box_.clearEvents();
    ASSERT_TRUE(box_.olva_open(sim_.path(*sim_box_).c_str(), 1, model_));
    ASSERT_TRUE(box_.play_thread_running());
    box_.clearEvents();
    const std::size_t before = playback_->written().size();
    ASSERT_EQ(box_.olva_play_file(1, wave("again.wav", pattern(320, 3)).c_str()), 0);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(playEvents(box_), std::vector<BoxEvent>{kEnd1});
    const Samples written = playback_->written();
    EXPECT_EQ(Samples(written.begin() + static_cast<long>(before), written.end()), pattern(320, 3));
}

}  // namespace
