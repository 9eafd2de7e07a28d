// A line's recording seen from the line itself: when the gain control is
// reset, and how a stop meets an audio-data event that the capture thread
// is raising.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "CLineDevice/CLineDevice.h"
#include "support/eventually.h"
#include "support/line_access.h"
#include "support/temp_dir.h"

namespace {

using olva_test::LineAccess;
using Frame = std::vector<std::int16_t>;

Frame tone(int index)
{
    Frame frame(160);
    for (int i = 0; i < 160; ++i)
        frame[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(8000 * std::sin((index * 160 + i) * 0.3));
    return frame;
}

// A line without a box: it records its audio-data events (when the
// callback returns) and can hold the callback of the first one.
class RecordTestLine final : public CLineDevice {
public:
    void fire_event(int event, unsigned long p1, unsigned long p2, unsigned long,
                    unsigned long) override
    {
        if (event != OLVA_EVENT_VOICE_DATA)
            return;
        const std::string bytes(reinterpret_cast<const char*>(p1), p2);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (hold_first_ && !held_) {
                held_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return released_; });
            }
        }
        if (stop_inside_) {
            stop_inside_ = false;
            line_stop_record();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(bytes);
    }

    void holdFirstEvent() { hold_first_ = true; }
    bool held()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_;
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }
    void stopInsideNextEvent() { stop_inside_ = true; }
    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    void frame(const Frame& samples)
    {
        Frame copy = samples;
        handle_write_wav(reinterpret_cast<char*>(copy.data()), kFrameBytes);
    }
    // A frame as the capture thread hands it over, through the whole pipeline.
    void captured(const Frame& samples)
    {
        Frame copy = samples;
        handle_record_wave(reinterpret_cast<char*>(copy.data()), kFrameBytes);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool hold_first_ = false;              // set before the capture thread starts
    std::atomic<bool> stop_inside_{false};
    bool held_ = false;                    // mutex_
    bool released_ = false;                // mutex_
    std::vector<std::string> events_;      // mutex_
};

TEST(LineRecordTest, OnlyAStartOnAnIdleLineResetsTheGainControlAtTheNextFrame)
{
    olva_test::TempDir dir;
    RecordTestLine line;
    // With the gain control off the frames leave the gain as the reset set it.
    line.line_close_agc(1);
    LineAccess::setGain(line, 5.0f);
    ASSERT_EQ(line.line_record_file(dir.file("a.wav").c_str(), OLVA_CODER_PCM), OLVA_OK);
    // The API thread leaves it to the capture thread.
    EXPECT_EQ(LineAccess::gain(line), 5.0f);
    line.captured(tone(0));
    EXPECT_EQ(LineAccess::gain(line), 1.0f);

    // The recording's gain has moved on; refused starts and a stream added
    // to the running recording leave it alone.
    LineAccess::setGain(line, 3.0f);
    EXPECT_EQ(line.line_record_file(dir.file("b.wav").c_str(), OLVA_CODER_ALAW), OLVA_ERR_BUSY);
    EXPECT_EQ(line.line_record_stream(2), OLVA_ERR_CODER);
    EXPECT_EQ(line.line_record_stream(OLVA_CODER_ALAW), OLVA_OK);
    EXPECT_EQ(line.line_record_stream(OLVA_CODER_PCM), OLVA_ERR_BUSY);
    line.captured(tone(1));
    EXPECT_EQ(LineAccess::gain(line), 3.0f);
    line.line_stop_record();

    // The next call starts afresh, a stream alone as well.
    ASSERT_EQ(line.line_record_stream(OLVA_CODER_PCM), OLVA_OK);
    line.captured(tone(2));
    EXPECT_EQ(LineAccess::gain(line), 1.0f);
    line.line_stop_record();
}

TEST(LineRecordTest, AStopWaitsForTheEventBeingRaisedAndSendsTheMp3TailAfterIt)
{
    RecordTestLine line;
    line.holdFirstEvent();
    ASSERT_EQ(line.line_record_stream(OLVA_CODER_MP3), OLVA_OK);
    std::thread capture([&] {
        for (int i = 0; i < 50; ++i)
            line.frame(tone(i));
    });
    ASSERT_TRUE(olva_test::eventually([&] { return line.held(); }));

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        line.line_stop_record();
        stopped.store(true);
    });
    // The stop has ended the stream and waits for the event in flight.
    ASSERT_TRUE(olva_test::eventually([&] { return !LineAccess::streaming(line); }));
    EXPECT_FALSE(stopped.load());
    EXPECT_THAT(line.events(), ::testing::IsEmpty());
    line.release();
    stopper.join();
    capture.join();

    // The frame's bytes, then the encoder's tail; the frames after the stop
    // raise nothing.
    const std::vector<std::string> events = line.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[0].empty());
    EXPECT_FALSE(events[1].empty());
}

TEST(LineRecordTest, TheEventsCallbackMayStopTheRecording)
{
    olva_test::TempDir dir;
    const std::string file = dir.file("short.wav");
    RecordTestLine line;
    ASSERT_EQ(line.line_record_file(file.c_str(), OLVA_CODER_PCM), OLVA_OK);
    ASSERT_EQ(line.line_record_stream(OLVA_CODER_ALAW), OLVA_OK);
    line.stopInsideNextEvent();
    line.frame(tone(0));
    line.frame(tone(1));
    EXPECT_EQ(line.events().size(), 1u);
    const std::string bytes = olva_test::readFile(file);
    ASSERT_EQ(bytes.size(), kWaveHeaderSize + CLineDevice::kFrameBytes);
    WaveHeader header{};
    std::memcpy(&header, bytes.data(), sizeof header);
    const unsigned long length = header.data_length;
    EXPECT_EQ(length, CLineDevice::kFrameBytes);
    // And a new one may start at once.
    EXPECT_EQ(line.line_record_stream(OLVA_CODER_ALAW), OLVA_OK);
    line.line_stop_record();
}

TEST(LineRecordTest, DescriptorZeroIsAFileLikeAnyOther)
{
    olva_test::TempDir dir;
    const std::string file = dir.file("zero.wav");
    // With standard input closed the recording's file gets descriptor 0.
    const int saved = ::dup(0);
    ASSERT_GE(saved, 0);
    ::close(0);
    RecordTestLine line;
    const int started = line.line_record_file(file.c_str(), OLVA_CODER_ALAW);
    const int probe = ::open("/dev/null", O_RDONLY);
    line.frame(tone(0));
    line.line_stop_record();
    ::close(probe);
    ASSERT_EQ(::dup2(saved, 0), 0);
    ::close(saved);

    EXPECT_EQ(started, OLVA_OK);
    EXPECT_NE(probe, 0);  // 0 was the recording's
    const std::string bytes = olva_test::readFile(file);
    ASSERT_EQ(bytes.size(), kWaveHeaderSize + CLineDevice::kFrameBytes / 2);
    WaveHeader header{};
    std::memcpy(&header, bytes.data(), sizeof header);
    const unsigned long length = header.data_length;
    EXPECT_EQ(length, CLineDevice::kFrameBytes / 2);
}

}  // namespace
