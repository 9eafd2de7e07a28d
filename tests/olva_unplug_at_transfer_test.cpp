// A box pulled out at each transfer of its opening, of a recording and of a
// playback, through the library with simulated boxes and the manager driven
// by hand. For every index N one run unplugs the box at the N-th transfer
// (its USB transfers, and the sound card's reads and writes); each run must
// end without a hang, with the box ended once (one plug-out per announced
// line, its threads stopped, its slot free), a recording's file whole, and
// the box opening again in slot 1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/logger.h"
#include "cavrel_olva.h"
#include "codecs/wave.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/manual_drive_fixture.h"
#include "support/sound_file.h"
#include "support/temp_dir.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::EventRecorder;
using olva_test::FakePcmDevice;
using olva_test::kFirstLine;
using olva_test::kFrameSamples;
using olva_test::LibraryEvent;
using platform::PcmStream;

using Frame = std::vector<std::int16_t>;

std::vector<Frame> frames(int count)
{
    std::vector<Frame> out(static_cast<std::size_t>(count), Frame(kFrameSamples));
    std::int16_t value = 1;
    for (Frame& frame : out)
        for (std::int16_t& sample : frame)
            sample = value++;
    return out;
}

class UnplugAtTransferTest : public olva_test::ManualDriveTest {
protected:
    void SetUp() override
    {
        // Thousands of opens: their debug lines would cost more than the runs.
        log_level_ = logger_get_base_level();
        logger_set_base_level(1);
        ManualDriveTest::SetUp();
    }
    void TearDown() override
    {
        ManualDriveTest::TearDown();
        logger_set_base_level(log_level_);
    }

    // The box on the bus with its sound card, not yet opened.
    void plug(OLVA_PRODUCT model)
    {
        model_ = model;
        if (model == OLVA_PRODUCT_TZ2501B)
            box_ = &sim_.plug<SimRegisterBox>();
        else
            box_ = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        addCard();
    }
    // Back under a new address with a new card: the old one went with it.
    // An opening that ended before its armed unplug came (the Tz2501B's poll
    // makes the count of an opening vary) is taken off the bus first, so
    // that the unplug is not left armed for the next opening.
    void replug()
    {
        sim_.unplug(*box_);
        sim_.replug(*box_);
        pcm_lines_.clear();
        cards_.clear();
        addCard();
    }
    void addCard()
    {
        ++card_;
        listCard(*box_, card_, model_ == OLVA_PRODUCT_TZ2501B ? olva_test::kTz2501BCardId
                                                               : olva_test::kTz2401CardId);
        const std::string number = std::to_string(card_);
        capture_ = &pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture);
        playback_ = &pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback);
    }
    // The sound card leaves with the box.
    void cardGone()
    {
        capture_->unplug();
        playback_->unplug();
    }
    void unplug()
    {
        sim_.unplug(*box_);
        cardGone();
    }
    // Opens the box in slot 1 and waits for its capture thread's first read.
    void open()
    {
        recorder().clear();
        ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
        ASSERT_TRUE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_IN));
        ASSERT_TRUE(olva_test::eventually([this] { return capture_->counters().reads >= 1; }));
    }
    // The box has ended: slot 1 is free and none of its threads runs.
    static bool waitForEnd()
    {
        return olva_test::eventually([] {
            const OlvaManager::CUsbBoxDevice& box = slot1();
            return box.device_index() == -1 && !box.capture_running() &&
                   !box.read_thread_active() && !box.play_thread_running();
        });
    }
    // Every line that was announced was reported gone once, after its
    // announcement, and nothing else came after the plug-out.
    static void expectEndedOnce()
    {
        std::vector<LibraryEvent> events = recorder().events();
        std::erase_if(events, [](const LibraryEvent& e) { return e.event == OLVA_EVENT_USB_ERROR; });
        for (const unsigned long handle : {0x101ul, 0x102ul}) {
            SCOPED_TRACE(handle);
            int plug_ins = 0;
            int plug_outs = 0;
            for (const LibraryEvent& e : events) {
                if (e.handle != handle)
                    continue;
                EXPECT_EQ(plug_outs, 0) << "event " << e.event << " after the plug-out";
                plug_ins += e.event == OLVA_EVENT_PLUG_IN;
                plug_outs += e.event == OLVA_EVENT_PLUG_OUT;
            }
            EXPECT_LE(plug_ins, 1);
            EXPECT_EQ(plug_outs, plug_ins);
        }
    }
    int log_level_ = 0;
    olva_test::FakePcmFactory pcm_;
    OLVA_PRODUCT model_ = OLVA_PRODUCT_TZ2401B;
    SimBox* box_ = nullptr;
    int card_ = 0;
    FakePcmDevice* capture_ = nullptr;
    FakePcmDevice* playback_ = nullptr;
    olva_test::TempDir files_;
};

// One model per run: the Tz2501B's opening sets its latches and reads its
// memory in over a thousand transfers.
class UnplugWhileOpeningTest : public UnplugAtTransferTest,
                               public ::testing::WithParamInterface<OLVA_PRODUCT> {};

TEST_P(UnplugWhileOpeningTest, AtEachTransferTheBoxEndsOnceAndItsSlotIsFree)
{
    {
        plug(GetParam());
        // A whole opening tells how many transfers it takes.
        const int before = sim_.transferCount(*box_);
        open();
        const int transfers = sim_.transferCount(*box_) - before;
        ASSERT_GT(transfers, 3);
        unplug();
        ASSERT_TRUE(waitForEnd());
        replug();

        // Each of the first transfers (identification, versions, the first
        // settings); beyond them the Tz2501B repeats its latch and memory
        // steps, and every stride-th keeps the run well inside the time-out
        // under the sanitizers.
        constexpr int kEveryTransferUpTo = 64;
        constexpr int kMostRuns = 200;
        const int stride = std::max(1, (transfers - kEveryTransferUpTo) / (kMostRuns - kEveryTransferUpTo));
        for (int n = 1; n <= transfers; n += n < kEveryTransferUpTo ? 1 : stride) {
            SCOPED_TRACE("unplugged after transfer " + std::to_string(n));
            recorder().clear();
            sim_.unplugAfter(*box_, n);
            g_pOlvaMgr->search_pass();
            cardGone();
            ASSERT_TRUE(waitForEnd());
            expectEndedOnce();
            replug();
        }
        // And the box opens whole in slot 1 again.
        open();
        unplug();
        ASSERT_TRUE(waitForEnd());
    }
}

INSTANTIATE_TEST_SUITE_P(Models, UnplugWhileOpeningTest,
                         ::testing::Values(OLVA_PRODUCT_TZ2401B, OLVA_PRODUCT_TZ2501B),
                         [](const auto& info) {
                             return info.param == OLVA_PRODUCT_TZ2501B ? "Tz2501b" : "Tz2401b";
                         });

// A recording of a few frames: its USB transfers (the start and the stop)
// and the capture reads that bring its frames. Unplugged at any of them,
// the file keeps a header that states exactly the frames it holds.
TEST_F(UnplugAtTransferTest, AtEachTransferOfARecordingTheFileStaysWhole)
{
    constexpr int kFrames = 4;
    plug(OLVA_PRODUCT_TZ2401B);
    open();
    // A whole recording tells how many USB transfers it takes.
    const int before = sim_.transferCount(*box_);
    const std::string probe = files_.file("probe.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, probe.c_str(), OLVA_CODER_PCM), OLVA_OK);
    ASSERT_TRUE(capture_->feedFrames(frames(kFrames)));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    const int usb_transfers = sim_.transferCount(*box_) - before;
    unplug();
    ASSERT_TRUE(waitForEnd());
    replug();

    // Runs 1..usb_transfers unplug at a USB transfer; the rest at the
    // capture read of frame n - usb_transfers.
    for (int n = 1; n <= usb_transfers + kFrames; ++n) {
        SCOPED_TRACE("unplugged at transfer " + std::to_string(n));
        open();
        const std::string file = files_.file("call" + std::to_string(n) + ".wav");
        const int frames_before = n - usb_transfers - 1;
        if (frames_before < 0)
            sim_.unplugAfter(*box_, n);
        const int started = olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_PCM);
        if (frames_before >= 0) {
            ASSERT_EQ(started, OLVA_OK);
            if (frames_before > 0) {
                ASSERT_TRUE(capture_->feedFrames(frames(frames_before)));
            }
            sim_.unplug(*box_);
        }
        capture_->feedError(-ENODEV);
        cardGone();
        ASSERT_TRUE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_OUT));
        ASSERT_TRUE(waitForEnd());
        expectEndedOnce();
        EXPECT_NE(olva_stop_record(kFirstLine), OLVA_OK);

        if (started == OLVA_OK) {
            // The header states what the file holds, and libsndfile agrees.
            const std::string bytes = olva_test::readFile(file);
            ASSERT_GE(bytes.size(), kWaveHeaderSize);
            WaveHeader header;
            std::memcpy(&header, bytes.data(), sizeof header);
            // Copies: the packed header's fields may not be bound by reference.
            const std::size_t data_length = header.data_length;
            const std::size_t riff_size = header.riff_size;
            const std::size_t sample_count = header.sample_count;
            EXPECT_EQ(data_length, bytes.size() - kWaveHeaderSize);
            EXPECT_EQ(riff_size, bytes.size() - 8);
            EXPECT_EQ(sample_count, data_length / 2);
            if (frames_before >= 0) {
                EXPECT_EQ(data_length, frames_before * kFrameSamples * 2);
            }
            olva_test::SoundFile sound(file);
            ASSERT_NE(sound.file, nullptr) << sf_strerror(nullptr);
            EXPECT_EQ(sound.info.frames, static_cast<sf_count_t>(data_length / 2));
        }
        replug();
    }
}

// A playback of a short file: its USB transfers (the channel switch on and
// off) and the card writes of its chunks. Unplugged at any of them, the
// file ends at most once, the box once, and nothing waits on the card.
TEST_F(UnplugAtTransferTest, AtEachTransferOfAPlaybackTheBoxEndsWithoutAHang)
{
    constexpr std::size_t kChunkSamples = 160;
    constexpr int kChunks = 4;
    const std::string file = files_.file("tip.wav");
    ASSERT_TRUE(olva_test::writeSoundFile(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                          std::vector<std::int16_t>(kChunkSamples * kChunks, 1000)));
    plug(OLVA_PRODUCT_TZ2401B);
    open();
    const int before = sim_.transferCount(*box_);
    ASSERT_EQ(olva_play_file(kFirstLine, file.c_str()), OLVA_OK);
    ASSERT_TRUE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLAY_END));
    ASSERT_EQ(playback_->written().size(), kChunkSamples * kChunks);
    const int usb_transfers = sim_.transferCount(*box_) - before;
    unplug();
    ASSERT_TRUE(waitForEnd());
    replug();

    // Runs 1..usb_transfers unplug at a USB transfer; the rest at the card
    // write of chunk n - usb_transfers.
    for (int n = 1; n <= usb_transfers + kChunks; ++n) {
        SCOPED_TRACE("unplugged at transfer " + std::to_string(n));
        open();
        const int chunks_before = n - usb_transfers - 1;
        if (chunks_before < 0)
            sim_.unplugAfter(*box_, n);
        else
            playback_->holdWritesAt(static_cast<std::size_t>(chunks_before) * kChunkSamples);
        const int queued = olva_play_file(kFirstLine, file.c_str());
        // The box goes at its N-th transfer, also at the channel switch after
        // the last chunk: the card's error must not end it before then.
        if (chunks_before < 0) {
            ASSERT_TRUE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_OUT));
        }
        if (chunks_before >= 0) {
            ASSERT_EQ(queued, OLVA_OK);
            ASSERT_TRUE(playback_->waitForHeldWrite());
            sim_.unplug(*box_);
        }
        capture_->feedError(-ENODEV);
        cardGone();
        ASSERT_TRUE(recorder().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_OUT));
        ASSERT_TRUE(waitForEnd());
        expectEndedOnce();
        std::vector<LibraryEvent> events = recorder().events();
        const auto ends = std::count_if(events.begin(), events.end(), [](const LibraryEvent& e) {
            return e.event == OLVA_EVENT_PLAY_END || e.event == OLVA_EVENT_PLAY_ERROR;
        });
        EXPECT_LE(ends, 1);
        if (chunks_before >= 0) {
            EXPECT_LE(playback_->written().size(),
                      static_cast<std::size_t>(chunks_before) * kChunkSamples);
        }
        replug();
    }
}

}  // namespace
