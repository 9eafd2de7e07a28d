// The play queue and the decoding of played items: the queue's order, limit
// and waits, the text limit of an item, the formats a box plays, G.711
// decoding against spandsp's, and the placing of samples into a channel.
#include "olva_device/playback_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <spandsp.h>

#include "support/eventually.h"

namespace {

using namespace std::chrono_literals;

AudioPlayContent item(int line, const std::string& text)
{
    AudioPlayContent made;
    EXPECT_TRUE(make_play_content(line, AudioPlayContent::kFile, text.c_str(), &made));
    return made;
}

TEST(PlayContentTest, TextsUpTo254CharactersAreTakenWholeAndLongerOnesRefused)
{
    AudioPlayContent made;
    const std::string longest(254, 'x');
    ASSERT_TRUE(make_play_content(2, AudioPlayContent::kDtmf, longest.c_str(), &made));
    EXPECT_EQ(made.line_id, 2);
    EXPECT_EQ(made.type, AudioPlayContent::kDtmf);
    EXPECT_EQ(std::string(made.text), longest);
    EXPECT_EQ(made.text[254], '\0');

    AudioPlayContent untouched = item(1, "/a.wav");
    const std::string too_long(255, 'y');
    EXPECT_FALSE(make_play_content(2, AudioPlayContent::kFile, too_long.c_str(), &untouched));
    EXPECT_FALSE(make_play_content(2, AudioPlayContent::kFile, nullptr, &untouched));
    EXPECT_EQ(std::string(untouched.text), "/a.wav");
    EXPECT_EQ(untouched.line_id, 1);
}

TEST(PlayQueueTest, ItemsComeOutOldestFirstUpToTheLimit)
{
    PlayQueue queue;
    for (std::size_t i = 0; i < PlayQueue::kMaxItems; ++i)
        ASSERT_TRUE(queue.push(item(1, std::to_string(i))));
    EXPECT_FALSE(queue.push(item(2, "refused")));
    EXPECT_EQ(queue.size(), PlayQueue::kMaxItems);

    for (std::size_t i = 0; i < PlayQueue::kMaxItems; ++i) {
        AudioPlayContent taken;
        ASSERT_TRUE(queue.wait_take(&taken, 0ms));
        EXPECT_EQ(std::string(taken.text), std::to_string(i));
    }
    AudioPlayContent none;
    EXPECT_FALSE(queue.wait_take(&none, 0ms));

    queue.push(item(1, "a"));
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
}

TEST(PlayQueueTest, AWaitEndsWithAnItemOrAWake)
{
    PlayQueue queue;
    AudioPlayContent taken;
    std::thread pusher([&] { queue.push(item(2, "late.wav")); });
    ASSERT_TRUE(queue.wait_take(&taken, olva_test::kWait));
    EXPECT_EQ(std::string(taken.text), "late.wav");
    pusher.join();

    // A wake ends a wait that has no item, long before its time-out.
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> returned{false};
    bool took = true;
    std::thread waiter([&] {
        took = queue.wait_take(&taken, 60s);
        returned.store(true);
    });
    while (!returned.load()) {
        queue.wake();
        std::this_thread::yield();
    }
    waiter.join();
    EXPECT_FALSE(took);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(PlayFileFormatTest, OnlyEightKilohertzMonoAlawUlawAndPcmArePlayed)
{
    struct Case {
        const char* name;
        WaveFormat format;
        PlayFileFormat expected;
    };
    const Case cases[] = {
        {"A-law", {kWaveFormatAlaw, 1, 8000, 8000, 1, 8, 58, 0}, PlayFileFormat::kAlaw},
        {"u-law", {kWaveFormatUlaw, 1, 8000, 8000, 1, 8, 58, 0}, PlayFileFormat::kUlaw},
        {"PCM", {kWaveFormatPcm, 1, 8000, 16000, 2, 16, 44, 0}, PlayFileFormat::kPcm},
        {"A-law at 16 kHz", {kWaveFormatAlaw, 1, 16000, 16000, 1, 8, 58, 0},
         PlayFileFormat::kInvalid},
        {"stereo A-law", {kWaveFormatAlaw, 2, 8000, 16000, 2, 8, 58, 0}, PlayFileFormat::kInvalid},
        {"u-law with PCM's byte rate", {kWaveFormatUlaw, 1, 8000, 16000, 1, 8, 58, 0},
         PlayFileFormat::kInvalid},
        {"8-bit PCM", {kWaveFormatPcm, 1, 8000, 8000, 1, 8, 44, 0}, PlayFileFormat::kInvalid},
        {"PCM at 11025 Hz", {kWaveFormatPcm, 1, 11025, 22050, 2, 16, 44, 0},
         PlayFileFormat::kInvalid},
        {"float", {3, 1, 8000, 32000, 4, 32, 58, 0}, PlayFileFormat::kInvalid},
        {"GSM 6.10", {0x31, 1, 8000, 1625, 65, 0, 60, 0}, PlayFileFormat::kInvalid},
    };
    for (const Case& c : cases)
        EXPECT_EQ(play_file_format(c.format), c.expected) << c.name;
}

TEST(PlayDecodeTest, G711CodesDecodeAsSpandspDecodesThem)
{
    std::vector<std::uint8_t> codes(256);
    for (int i = 0; i < 256; ++i)
        codes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::vector<std::int16_t> alaw(256), ulaw(256);
    ASSERT_EQ(decode_play_samples(PlayFileFormat::kAlaw, codes, alaw.data()), 256u);
    ASSERT_EQ(decode_play_samples(PlayFileFormat::kUlaw, codes, ulaw.data()), 256u);
    for (int i = 0; i < 256; ++i) {
        const auto code = static_cast<std::uint8_t>(i);
        EXPECT_EQ(alaw[code], alaw_to_linear(code)) << i;
        // µ-law is played through its A-law code.
        EXPECT_EQ(ulaw[code], alaw_to_linear(ulaw_to_alaw(code))) << i;
        // That costs at most half an A-law step against the direct decoding.
        EXPECT_LE(std::abs(ulaw[code] - ulaw_to_linear(code)), 1024) << i;
    }
}

TEST(PlayDecodeTest, PcmIsTakenAsItLiesAndATrailingHalfSampleIsLeft)
{
    const std::vector<std::uint8_t> bytes = {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0x34, 0x12, 0x7F};
    std::vector<std::int16_t> out(4, 99);
    ASSERT_EQ(decode_play_samples(PlayFileFormat::kPcm, bytes, out.data()), 4u);
    EXPECT_EQ(out, (std::vector<std::int16_t>{1, -1, -32768, 0x1234}));
    EXPECT_EQ(decode_play_samples(PlayFileFormat::kInvalid, bytes, out.data()), 0u);
    EXPECT_EQ(play_sample_bytes(PlayFileFormat::kPcm), 2u);
    EXPECT_EQ(play_sample_bytes(PlayFileFormat::kUlaw), 1u);
}

TEST(PlaceInChannelTest, EachSampleFillsItsChannelAndTheOtherIsSilent)
{
    const std::vector<std::int16_t> samples = {5, -7};
    std::vector<std::int16_t> stereo(2 * 2 * 6, 123);
    ASSERT_EQ(place_in_channel(samples, 6, 1, 2, stereo.data()), 12u);
    for (std::size_t frame = 0; frame < 12; ++frame) {
        EXPECT_EQ(stereo[2 * frame], 0) << frame;
        EXPECT_EQ(stereo[2 * frame + 1], frame < 6 ? 5 : -7) << frame;
    }
    std::vector<std::int16_t> left(4, 123);
    ASSERT_EQ(place_in_channel(samples, 1, 0, 2, left.data()), 2u);
    EXPECT_EQ(left, (std::vector<std::int16_t>{5, 0, -7, 0}));
}

}  // namespace
