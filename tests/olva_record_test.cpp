// Recording through the library on a simulated Tz2401B whose scripted sound
// card delivers known frames: the files read back by libsndfile (WAV) and
// decoded by libmpg123 (MP3), the audio-data events, both at once, and the
// starts, stops and failures around them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <mpg123.h>
#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "cavrel_olva.h"
#include "codecs/g711.h"
#include "codecs/wave.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/sound_file.h"
#include "support/tz2401_reports.h"

namespace {

using olva_sim::SimTz2401Box;
using olva_test::EventRecorder;
using olva_test::FakePcmDevice;
using olva_test::kFirstLine;
using olva_test::kFrameSamples;
using olva_test::SoundFile;
using platform::PcmStream;

using Frame = std::vector<std::int16_t>;

// The bytes of the audio-data events, by handle, copied while the callback
// runs (the data is valid only then); every event also goes to the
// recorder.
class VoiceData {
public:
    static void callback(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                         unsigned long p3, unsigned long p4)
    {
        if (event == OLVA_EVENT_VOICE_DATA) {
            std::lock_guard<std::mutex> lock(mutex());
            bytes()[handle].append(reinterpret_cast<const char*>(p1), p2);
        }
        EventRecorder::callback(handle, event, p1, p2, p3, p4);
    }
    static std::string of(unsigned long handle)
    {
        std::lock_guard<std::mutex> lock(mutex());
        return bytes()[handle];
    }
    static void clear()
    {
        std::lock_guard<std::mutex> lock(mutex());
        bytes().clear();
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::map<unsigned long, std::string>& bytes()
    {
        static std::map<unsigned long, std::string> b;
        return b;
    }
};

// Distinct samples with both signs, odd and even, the extremes included.
std::vector<Frame> patternFrames(int count, int seed = 1)
{
    std::vector<Frame> frames(static_cast<std::size_t>(count), Frame(kFrameSamples));
    int n = 0;
    for (Frame& frame : frames)
        for (std::int16_t& s : frame)
            s = static_cast<std::int16_t>((n++ * 211 + seed * 997) % 65536 - 32768);
    return frames;
}

// A 440 Hz tone (amplitude 0 gives silence).
std::vector<Frame> toneFrames(int count, double amplitude)
{
    std::vector<Frame> frames(static_cast<std::size_t>(count), Frame(kFrameSamples));
    int n = 0;
    for (Frame& frame : frames)
        for (std::int16_t& s : frame)
            s = static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * 440 * n++ / 8000.0));
    return frames;
}

std::vector<std::int16_t> joined(const std::vector<Frame>& frames)
{
    std::vector<std::int16_t> all;
    for (const Frame& f : frames)
        all.insert(all.end(), f.begin(), f.end());
    return all;
}

// What a file (after its header) or a stream in the coder holds for the samples.
std::string encoded(int coder, const std::vector<std::int16_t>& samples)
{
    std::string out;
    for (std::int16_t s : samples) {
        if (coder == OLVA_CODER_PCM)
            out.append(reinterpret_cast<const char*>(&s), sizeof s);
        else if (coder == OLVA_CODER_ALAW)
            out += static_cast<char>(linear2alaw_query(s));
        else if (coder == OLVA_CODER_ULAW)
            out += static_cast<char>(linear2ulaw_query(s));
    }
    return out;
}

// The samples a G.711 or PCM file should give back.
std::vector<short> decodedAs(int coder, const std::vector<std::int16_t>& samples)
{
    std::vector<short> out;
    for (std::int16_t s : samples) {
        if (coder == OLVA_CODER_ALAW)
            out.push_back(alaw2linear_query(linear2alaw_query(s)));
        else if (coder == OLVA_CODER_ULAW)
            out.push_back(ulaw2linear_query(linear2ulaw_query(s)));
        else
            out.push_back(s);
    }
    return out;
}

struct Mp3Audio {
    long rate = 0;
    int channels = 0;
    std::vector<short> samples;
    bool ok = false;
};

Mp3Audio decodeMp3(const std::string& path)
{
    Mp3Audio audio;
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (!handle)
        return audio;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (mpg123_open(handle, path.c_str()) == MPG123_OK) {
        short buffer[4096];
        int result = MPG123_OK;
        do {
            std::size_t done = 0;
            result = mpg123_read(handle, buffer, sizeof buffer, &done);
            audio.samples.insert(audio.samples.end(), buffer, buffer + done / sizeof(short));
        } while (result == MPG123_OK || result == MPG123_NEW_FORMAT);
        int encoding = 0;
        mpg123_getformat(handle, &audio.rate, &audio.channels, &encoding);
        audio.ok = result == MPG123_DONE && encoding == MPG123_ENC_SIGNED_16;
        mpg123_close(handle);
    }
    mpg123_delete(handle);
    return audio;
}

// From the first to the last sample louder than level.
long loudSpan(const std::vector<short>& samples, int level)
{
    long first = -1;
    long last = -1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > level) {
            if (first < 0)
                first = static_cast<long>(i);
            last = static_cast<long>(i);
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

WaveHeader headerOf(const std::string& file)
{
    WaveHeader header{};
    if (file.size() >= sizeof header)
        std::memcpy(&header, file.data(), sizeof header);
    return header;
}

// By value: the packed header's fields do not bind to references.
unsigned long dataLength(const std::string& file)
{
    return headerOf(file).data_length;
}

class RecordTest : public olva_test::BoxSimTest {
protected:
    void SetUp() override
    {
        OlvaManager::use_manual_drive(true);
        EventRecorder::instance().clear();
        VoiceData::clear();
        ASSERT_EQ(olva_open(&VoiceData::callback), 0);
        box_ = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        listCard(*box_, 1, olva_test::kTz2401CardId);
        capture_ = &pcm_.addDevice("hw:1,0", PcmStream::kCapture);
        playback_ = &pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
        ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
        // Frames are recorded as they were captured.
        ASSERT_EQ(olva_close_agc(kFirstLine, 1), OLVA_OK);
        // The capture thread waits in its first read.
        ASSERT_TRUE(olva_test::eventually([this] { return capture_->counters().reads >= 1; }));
    }
    void TearDown() override
    {
        olva_close();
        olva_close_logfile();
        OlvaManager::use_manual_drive(false);
        BoxSimTest::TearDown();
    }

    // Feeds the frames and waits until the line has had all of them: the
    // capture thread then waits in its next read.
    void deliver(const std::vector<Frame>& frames)
    {
        ASSERT_TRUE(capture_->feedFrames(frames));
    }

    std::string path(const std::string& name) const { return files_.file(name); }

    // The library's log, once olva_open_logfileEx has started it here.
    std::string logText() const
    {
        olva_close_logfile();
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(log_dir_.file("olva-log")))
            text += olva_test::readFile(entry.path().string());
        return text;
    }
    void startLog() const { olva_open_logfileEx(log_dir_.path().c_str()); }

    olva_test::FakePcmFactory pcm_;
    SimTz2401Box* box_ = nullptr;
    FakePcmDevice* capture_ = nullptr;
    FakePcmDevice* playback_ = nullptr;
    olva_test::TempDir files_;
    olva_test::TempDir log_dir_;
};

// A whole WAV recording: the header states the data that follows, and
// libsndfile reads back the samples.
void expectWholeWav(const std::string& file_path, int coder, const std::vector<std::int16_t>& samples)
{
    const std::string file = olva_test::readFile(file_path);
    const std::string data = encoded(coder, samples);
    ASSERT_EQ(file.size(), kWaveHeaderSize + data.size());
    WaveHeader expected{};
    init_wavhdr_coder(&expected, coder, data.size());
    EXPECT_EQ(std::memcmp(file.data(), &expected, sizeof expected), 0) << "header";
    EXPECT_TRUE(file.compare(kWaveHeaderSize, std::string::npos, data) == 0) << "data";

    SoundFile sound(file_path);
    ASSERT_NE(sound.file, nullptr) << sf_strerror(nullptr);
    const int subtype = coder == OLVA_CODER_ALAW  ? SF_FORMAT_ALAW
                        : coder == OLVA_CODER_ULAW ? SF_FORMAT_ULAW
                                                   : SF_FORMAT_PCM_16;
    EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | subtype);
    EXPECT_EQ(sound.info.samplerate, 8000);
    EXPECT_EQ(sound.info.channels, 1);
    EXPECT_EQ(sound.info.frames, static_cast<sf_count_t>(samples.size()));
    EXPECT_EQ(sound.samples(), decodedAs(coder, samples));
}

TEST_F(RecordTest, EachWavCoderRecordsTheFramesAndStreamsTheSameBytes)
{
    const std::vector<Frame> frames = patternFrames(50);
    for (int coder : {OLVA_CODER_ALAW, OLVA_CODER_PCM, OLVA_CODER_ULAW}) {
        SCOPED_TRACE(coder);
        VoiceData::clear();
        const std::string file = path("call" + std::to_string(coder) + ".wav");
        ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), coder), OLVA_OK);
        ASSERT_EQ(olva_record_stream(kFirstLine, coder), OLVA_OK);
        deliver(frames);
        ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);

        // One second: 8000 samples.
        expectWholeWav(file, coder, joined(frames));
        EXPECT_EQ(VoiceData::of(kFirstLine), encoded(coder, joined(frames)));
    }
}

TEST_F(RecordTest, AnMp3RecordingHoldsTheWholeCallAndItsStreamTheSameBytes)
{
    const std::vector<Frame> frames = toneFrames(50, 8000);
    const std::string file = path("call.mp3");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_MP3), OLVA_OK);
    ASSERT_EQ(olva_record_stream(kFirstLine, OLVA_CODER_MP3), OLVA_OK);
    deliver(frames);
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);

    const std::string bytes = olva_test::readFile(file);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(VoiceData::of(kFirstLine), bytes);
    const Mp3Audio audio = decodeMp3(file);
    ASSERT_TRUE(audio.ok);
    EXPECT_EQ(audio.rate, 8000);
    EXPECT_EQ(audio.channels, 1);
    // The whole second of tone comes back, its last frames (held by the
    // encoder until the stop) included, within the codec's smearing.
    EXPECT_NEAR(loudSpan(audio.samples, 2000), 8000, 40);
}

TEST_F(RecordTest, EachMp3RecordingStartsWithAFreshEncoder)
{
    const std::string first = path("first.mp3");
    const std::string second = path("second.mp3");
    ASSERT_EQ(olva_record_file(kFirstLine, first.c_str(), OLVA_CODER_MP3), OLVA_OK);
    deliver(toneFrames(25, 12000));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    // The second call is silent: nothing of the first may sound in it.
    ASSERT_EQ(olva_record_file(kFirstLine, second.c_str(), OLVA_CODER_MP3), OLVA_OK);
    deliver(toneFrames(25, 0));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);

    const Mp3Audio loud = decodeMp3(first);
    const Mp3Audio quiet = decodeMp3(second);
    ASSERT_TRUE(loud.ok);
    ASSERT_TRUE(quiet.ok);
    EXPECT_NEAR(loudSpan(loud.samples, 2000), 4000, 40);
    EXPECT_GE(quiet.samples.size(), 4000u);
    EXPECT_EQ(loudSpan(quiet.samples, 100), 0);
}

TEST_F(RecordTest, CodersThreeAndTwentyAreAcceptedAndRecordNothing)
{
    for (int coder : {OLVA_CODER_G729, OLVA_CODER_NULL}) {
        SCOPED_TRACE(coder);
        EventRecorder::instance().clear();
        const std::string file = path("nothing" + std::to_string(coder) + ".wav");
        ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), coder), OLVA_OK);
        ASSERT_EQ(olva_record_stream(kFirstLine, coder), OLVA_OK);
        deliver(patternFrames(10));
        ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
        EXPECT_TRUE(std::filesystem::exists(file));
        EXPECT_EQ(std::filesystem::file_size(file), 0u);
        EXPECT_THAT(EventRecorder::instance().events(), ::testing::IsEmpty());
    }
}

TEST_F(RecordTest, AFileAndAStreamInDifferentCodersEachGetTheirOwnBytes)
{
    const std::vector<Frame> frames = patternFrames(20, 7);
    struct Case {
        int file_coder;
        int stream_coder;
    };
    for (const Case& c : {Case{OLVA_CODER_PCM, OLVA_CODER_ALAW}, Case{OLVA_CODER_ULAW, OLVA_CODER_PCM},
                          Case{OLVA_CODER_ALAW, OLVA_CODER_ULAW}}) {
        SCOPED_TRACE(std::to_string(c.file_coder) + " and " + std::to_string(c.stream_coder));
        VoiceData::clear();
        const std::string file = path("mixed" + std::to_string(c.file_coder) + ".wav");
        // The stream first this time: the order does not matter.
        ASSERT_EQ(olva_record_stream(kFirstLine, c.stream_coder), OLVA_OK);
        ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), c.file_coder), OLVA_OK);
        deliver(frames);
        ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
        expectWholeWav(file, c.file_coder, joined(frames));
        EXPECT_EQ(VoiceData::of(kFirstLine), encoded(c.stream_coder, joined(frames)));
    }

    // A WAV file beside an MP3 stream.
    VoiceData::clear();
    const std::string file = path("beside-mp3.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_ALAW), OLVA_OK);
    ASSERT_EQ(olva_record_stream(kFirstLine, OLVA_CODER_MP3), OLVA_OK);
    const std::vector<Frame> tone = toneFrames(50, 8000);
    deliver(tone);
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    expectWholeWav(file, OLVA_CODER_ALAW, joined(tone));
    const std::string stream_file = path("stream.mp3");
    olva_test::writeFile(stream_file, VoiceData::of(kFirstLine));
    const Mp3Audio audio = decodeMp3(stream_file);
    ASSERT_TRUE(audio.ok);
    EXPECT_NEAR(loudSpan(audio.samples, 2000), 8000, 40);
}

TEST_F(RecordTest, RefusedStartsLeaveTheRunningRecordingAlone)
{
    const std::string file = path("running.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_PCM), OLVA_OK);
    ASSERT_EQ(olva_record_stream(kFirstLine, OLVA_CODER_ALAW), OLVA_OK);
    const std::vector<Frame> before = patternFrames(5, 2);
    deliver(before);

    const std::string other = path("other.wav");
    struct Case {
        const char* name;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"file busy", olva_record_file(kFirstLine, other.c_str(), OLVA_CODER_ALAW), OLVA_ERR_BUSY},
        {"file busy, bad coder", olva_record_file(kFirstLine, other.c_str(), 2), OLVA_ERR_BUSY},
        {"stream busy", olva_record_stream(kFirstLine, OLVA_CODER_PCM), OLVA_ERR_BUSY},
        {"stream busy, bad coder", olva_record_stream(kFirstLine, 2), OLVA_ERR_BUSY},
        {"no handle", olva_record_file(static_cast<unsigned long>(-1), other.c_str(), 0),
         OLVA_ERR_INVALID_HANDLE},
        {"no box", olva_record_file(0x201, other.c_str(), 0), OLVA_ERR_NO_DEVICE},
        {"no such line", olva_record_file(0x102, other.c_str(), 0), OLVA_ERR_FAILED},
        {"stream, no handle", olva_record_stream(static_cast<unsigned long>(-1), 0),
         OLVA_ERR_INVALID_HANDLE},
        {"stream, no such line", olva_record_stream(0x102, 0), OLVA_ERR_FAILED},
        {"stop, no box", olva_stop_record(0x201), OLVA_ERR_NO_DEVICE},
        {"stop, no such line", olva_stop_record(0x102), OLVA_OK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.name;
    EXPECT_FALSE(std::filesystem::exists(other));

    const std::vector<Frame> after = patternFrames(5, 3);
    deliver(after);
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    std::vector<Frame> all = before;
    all.insert(all.end(), after.begin(), after.end());
    expectWholeWav(file, OLVA_CODER_PCM, joined(all));
    EXPECT_EQ(VoiceData::of(kFirstLine), encoded(OLVA_CODER_ALAW, joined(all)));
}

TEST_F(RecordTest, BadStartsOnAnIdleLineAreRefusedAndLeaveItIdle)
{
    const std::string blocker = path("plain-file");
    olva_test::writeFile(blocker, "x");
    const std::string good = path("good.wav");
    struct Case {
        const char* name;
        std::string file;  // empty: no path at all
        int coder;
        int expected;
    };
    const Case cases[] = {
        {"no path", "", OLVA_CODER_ALAW, OLVA_ERR_INVALID_PARAM},
        {"a directory under a plain file", blocker + "/call.wav", OLVA_CODER_ALAW, OLVA_ERR_FAILED},
        {"a directory", files_.path(), OLVA_CODER_PCM, OLVA_ERR_FAILED},
        {"a header that cannot be written", "/dev/full", OLVA_CODER_ULAW, OLVA_ERR_FAILED},
        {"coder 2", good, 2, OLVA_ERR_CODER},
        {"coder -1", good, -1, OLVA_ERR_CODER},
        {"coder 99", good, 99, OLVA_ERR_CODER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(olva_record_file(kFirstLine, c.file.empty() ? nullptr : c.file.c_str(), c.coder),
                  c.expected);
    }
    for (int coder : {2, -1, 39, 101})
        EXPECT_EQ(olva_record_stream(kFirstLine, coder), OLVA_ERR_CODER) << coder;
    EXPECT_FALSE(std::filesystem::exists(good));

    // Nothing was left running: a good start follows.
    ASSERT_EQ(olva_record_file(kFirstLine, good.c_str(), OLVA_CODER_ALAW), OLVA_OK);
    ASSERT_EQ(olva_record_stream(kFirstLine, OLVA_CODER_ALAW), OLVA_OK);
    deliver(patternFrames(2));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    expectWholeWav(good, OLVA_CODER_ALAW, joined(patternFrames(2)));
}

TEST_F(RecordTest, ABackslashPathIsRecordedWithSlashesAndTheCallersTextKept)
{
    std::string text = files_.path() + "\\day\\line1\\call.wav";
    const std::string copy = text;
    ASSERT_EQ(olva_record_file(kFirstLine, text.c_str(), OLVA_CODER_PCM), OLVA_OK);
    EXPECT_EQ(text, copy);
    deliver(patternFrames(3));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    expectWholeWav(files_.file("day/line1/call.wav"), OLVA_CODER_PCM, joined(patternFrames(3)));
    EXPECT_EQ(text, copy);
}

TEST_F(RecordTest, AStopBeforeAnyFrameLeavesTheHeaderAlone)
{
    startLog();
    const std::string file = path("empty.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_ALAW), OLVA_OK);
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    const std::string bytes = olva_test::readFile(file);
    ASSERT_EQ(bytes.size(), kWaveHeaderSize);
    EXPECT_EQ(dataLength(bytes), 0u);
    EXPECT_THAT(logText(), ::testing::HasSubstr("line.1-3  no record data "));
}

TEST_F(RecordTest, AFullDiskStopsTheFileWithAHeaderThatStatesWhatWasStored)
{
    // Files of this process may grow to the header and ten and a half frames.
    const rlim_t limit = kWaveHeaderSize + 10 * 320 + 160;
    struct rlimit old_limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    const std::string file = path("full.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_PCM), OLVA_OK);
    ASSERT_EQ(olva_record_stream(kFirstLine, OLVA_CODER_ALAW), OLVA_OK);
    const std::vector<Frame> frames = patternFrames(20);
    deliver(frames);
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    std::signal(SIGXFSZ, old_handler);

    // Ten and a half frames were stored; the header says so.
    const std::string bytes = olva_test::readFile(file);
    ASSERT_EQ(bytes.size(), limit);
    EXPECT_EQ(dataLength(bytes), limit - kWaveHeaderSize);
    SoundFile sound(file);
    ASSERT_NE(sound.file, nullptr);
    EXPECT_EQ(sound.info.frames, 1680);
    const std::vector<std::int16_t> all = joined(frames);
    EXPECT_EQ(sound.samples(), std::vector<short>(all.begin(), all.begin() + 1680));
    // The stream went on to the end.
    EXPECT_EQ(VoiceData::of(kFirstLine), encoded(OLVA_CODER_ALAW, all));
}

TEST_F(RecordTest, AnMp3RecordingToAFullDeviceStopsWritingAndEndsCleanly)
{
    startLog();
    ASSERT_EQ(olva_record_file(kFirstLine, "/dev/full", OLVA_CODER_MP3), OLVA_OK);
    deliver(toneFrames(20, 8000));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    const std::string log = logText();
    EXPECT_THAT(log, ::testing::HasSubstr("line.1-3: write file failed: No space left on device"));
    // Logged once, not once per frame.
    EXPECT_EQ(log.find("write file failed"), log.rfind("write file failed"));
    // The line is idle again.
    const std::string file = path("after.mp3");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_MP3), OLVA_OK);
    deliver(toneFrames(50, 8000));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    const Mp3Audio audio = decodeMp3(file);
    ASSERT_TRUE(audio.ok);
    EXPECT_NEAR(loudSpan(audio.samples, 2000), 8000, 40);
}

TEST_F(RecordTest, AnUnpluggedBoxLeavesItsRecordingWhole)
{
    const std::string file = path("unplugged.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_ULAW), OLVA_OK);
    const std::vector<Frame> frames = patternFrames(10);
    deliver(frames);
    sim_.unplug(*box_);
    capture_->unplug();
    playback_->unplug();
    ASSERT_TRUE(EventRecorder::instance().waitForEvent(kFirstLine, OLVA_EVENT_PLUG_OUT));
    // The lines close their recordings after they have told of the plug-out;
    // the slot is free once they have.
    ASSERT_TRUE(olva_test::eventually([] { return g_pOlvaMgr->slot(1).device_index() == -1; }));
    expectWholeWav(file, OLVA_CODER_ULAW, joined(frames));
    EXPECT_EQ(olva_stop_record(kFirstLine), OLVA_ERR_NO_DEVICE);
}

TEST_F(RecordTest, ALostLineEndsTheRecordingWhole)
{
    const auto lost = [] {
        for (const olva_test::LibraryEvent& e : EventRecorder::instance().lineEvents())
            if (e.handle == kFirstLine && e.event == OLVA_EVENT_LING_HANG)
                return true;
        return false;
    };
    const std::string file = path("lost.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_PCM), OLVA_OK);
    const std::vector<Frame> before = patternFrames(10, 1);
    deliver(before);
    // Floating, not yet for hang_wait_time: still recorded.
    olva_test::holdStatus(sim_, *box_, olva_test::kTz2401Floating, 7);
    ASSERT_FALSE(lost());
    const std::vector<Frame> floating = patternFrames(5, 2);
    deliver(floating);
    // One step more and the line is lost; what comes after is not recorded.
    olva_test::holdStatus(sim_, *box_, olva_test::kTz2401Floating, 1);
    ASSERT_TRUE(lost());
    deliver(patternFrames(5, 3));
    std::vector<Frame> recorded = before;
    recorded.insert(recorded.end(), floating.begin(), floating.end());
    expectWholeWav(file, OLVA_CODER_PCM, joined(recorded));

    // The line records again once it is back.
    EXPECT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    olva_test::holdStatus(sim_, *box_, olva_test::kTz2401Idle, 3);
    const std::string next = path("next.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, next.c_str(), OLVA_CODER_ALAW), OLVA_OK);
    deliver(patternFrames(3, 4));
    ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    expectWholeWav(next, OLVA_CODER_ALAW, joined(patternFrames(3, 4)));
}

TEST_F(RecordTest, ClosingTheLibraryEndsTheRecordingWhole)
{
    const std::string file = path("closed.wav");
    ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_ALAW), OLVA_OK);
    const std::vector<Frame> frames = patternFrames(10);
    deliver(frames);
    olva_close();
    expectWholeWav(file, OLVA_CODER_ALAW, joined(frames));
}

// Frames arrive all the time while recordings start and stop: each file
// still begins with its header and holds whole frames that the header states.
TEST_F(RecordTest, StartsAndStopsNeverInterleaveWithAFrame)
{
    capture_->setIdle(FakePcmDevice::Idle::kSilence);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const std::string file = path("busy" + std::to_string(round) + ".wav");
        ASSERT_EQ(olva_record_file(kFirstLine, file.c_str(), OLVA_CODER_ALAW), OLVA_OK);
        const int reads = capture_->counters().reads;
        ASSERT_TRUE(olva_test::eventually([&] { return capture_->counters().reads > reads + 2; }));
        ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
        const std::string bytes = olva_test::readFile(file);
        ASSERT_GE(bytes.size(), kWaveHeaderSize);
        const WaveHeader header = headerOf(bytes);
        EXPECT_EQ(std::string(header.riff_id, 4), "RIFF");
        EXPECT_EQ(dataLength(bytes), bytes.size() - kWaveHeaderSize);
        EXPECT_EQ(dataLength(bytes) % 160, 0u);
    }
}

TEST_F(RecordTest, OfTwoStartsAtOnceOneIsRefused)
{
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        int results[2] = {1, 1};
        int stream_results[2] = {1, 1};
        const std::string files[2] = {path("a.wav"), path("b.wav")};
        std::thread other([&] {
            results[1] = olva_record_file(kFirstLine, files[1].c_str(), OLVA_CODER_PCM);
            stream_results[1] = olva_record_stream(kFirstLine, OLVA_CODER_PCM);
        });
        results[0] = olva_record_file(kFirstLine, files[0].c_str(), OLVA_CODER_PCM);
        stream_results[0] = olva_record_stream(kFirstLine, OLVA_CODER_PCM);
        other.join();
        EXPECT_THAT(results, ::testing::UnorderedElementsAre(OLVA_OK, OLVA_ERR_BUSY));
        EXPECT_THAT(stream_results, ::testing::UnorderedElementsAre(OLVA_OK, OLVA_ERR_BUSY));
        ASSERT_EQ(olva_stop_record(kFirstLine), OLVA_OK);
    }
}

}  // namespace
