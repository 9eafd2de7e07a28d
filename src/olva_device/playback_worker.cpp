// The box's play thread: takes the play queue's items one at a time and
// writes them to the playback PCM, DTMF digits generated at the card's rate
// and WAV files read and decoded chunk by chunk, then tells the line that
// the item has ended. On the two-line models every item goes into its
// line's channel of the 48 kHz stereo stream, the other channel silent.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>
#include <vector>

#include "base/logger.h"
#include "dsp/Tone.h"
#include "olva_device/audio_format.h"
#include "olva_device/olva_device.h"

namespace {

// The write buffer: 1920 stereo frames, 40 ms at 48 kHz.
constexpr std::size_t kWriteBufferSamples = 2 * 1920;
// Frames per DTMF write: 40 ms at 48 kHz, or 20 ms at 8 kHz.
constexpr unsigned long kStereoDtmfFrames = 1920;
constexpr unsigned long kMonoFrames = 160;
// A file is read and written 20 ms (160 samples of 8 kHz) at a time; the
// two-line models take each sample six times.
constexpr std::size_t kFileChunkSamples = 160;
constexpr unsigned kStereoRepeat = 6;
constexpr int kTwoLineDtmfMultiplier = 6;
// An idle thread looks at its run conditions this often.
constexpr auto kIdleRecheck = std::chrono::milliseconds(100);
// A close drops the stream to end a write that blocks; it drops again this
// often until the thread has left its loop.
constexpr auto kStopRetry = std::chrono::milliseconds(100);
// A chunk that the device refuses this many times in a row (underruns that
// come back, writes that take nothing) ends its item as failed.
constexpr int kMaxChunkRefusals = 16;

// The channel of a line on the two-line models: line 1 left, line 2 right.
unsigned channelOf(unsigned long line)
{
    return line == 1 ? 0 : 1;
}

// Reads until size bytes are in or the file ends: the bytes read, or -1
// with errno set.
long readFull(int fd, std::uint8_t* out, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, out + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

}  // namespace

void OlvaDevice::start_play_thread()
{
    std::thread ended;
    {
        std::lock_guard<std::mutex> lock(play_mutex_);
        // The thread of an earlier open that ended on its own.
        if (play_thread_.joinable() && !play_active_.load())
            ended = std::move(play_thread_);
    }
    if (ended.joinable())
        ended.join();
    std::lock_guard<std::mutex> lock(play_mutex_);
    if (play_thread_.joinable())
        return;
    play_run_.store(true);
    play_active_.store(true);
    try {
        play_thread_ = std::thread([this] {
            try {
                AudioPlay_handle_thread();
            } catch (const std::exception& error) {
                BOX_LOG(1, "%s play thread except: %s", error.what());
            } catch (...) {
                BOX_LOG(1, "%s play thread except");
            }
            {
                std::lock_guard<std::mutex> done(play_mutex_);
                play_active_.store(false);
            }
            play_ended_.notify_all();
        });
    } catch (const std::system_error& error) {
        play_active_.store(false);
        play_run_.store(false);
        BOX_LOG(1, "%s cannot start the play thread: %s", error.what());
    }
}

void OlvaDevice::stop_play_thread()
{
    play_run_.store(false);
    play_queue_.wake();
    std::thread thread;
    {
        std::unique_lock<std::mutex> lock(play_mutex_);
        if (!play_thread_.joinable() || play_thread_.get_id() == std::this_thread::get_id())
            return;
        // A write or drain in progress ends when the stream is dropped; one
        // that re-prepared it after an underrun needs a second drop.
        while (play_active_.load()) {
            if (playback_)
                playback_->drop();
            play_ended_.wait_for(lock, kStopRetry, [this] { return !play_active_.load(); });
        }
        thread = std::move(play_thread_);
    }
    thread.join();
}

bool OlvaDevice::play_should_run() const
{
    return play_run_.load() && !unplugged_.load() && !closing_.load() && is_open();
}

void OlvaDevice::AudioPlay_handle_thread()
{
    std::vector<std::int16_t> buffer(kWriteBufferSamples, 0);
    while (play_should_run()) {
        AudioPlayContent item;
        if (!play_queue_.wait_take(&item, kIdleRecheck) || !play_should_run())
            continue;
        play_item(item, buffer.data());
    }
    BOX_LOG(3, "%s  play thread end ");
}

void OlvaDevice::play_item(const AudioPlayContent& item, std::int16_t* buffer)
{
    CBoxLineDevice* line = line_by_id(static_cast<unsigned long>(item.line_id));
    if (!line) {
        BOX_LOG(1, "%s  no line(%d) to play on", item.line_id);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(play_mutex_);
        playing_line_.store(line->line_id());
        play_stop_.store(false);
    }
    line->set_playing(true);
    if (item.type == AudioPlayContent::kDtmf)
        play_dtmf_item(*line, item.text, buffer);
    else
        play_file_item(*line, item.text, buffer);
}

void OlvaDevice::finish_play_item()
{
    std::lock_guard<std::mutex> lock(play_mutex_);
    playing_line_.store(0);
    play_stop_.store(false);
}

OlvaDevice::PlayOutcome OlvaDevice::write_play_frames(const std::int16_t* frames,
                                                      unsigned long count, unsigned channels)
{
    platform::Pcm* pcm = playback_.get();
    unsigned long done = 0;
    int refusals = 0;
    while (done < count) {
        if (play_stopped())
            return PlayOutcome::kStopped;
        if (!play_should_run())
            return PlayOutcome::kFailed;
        const unsigned long asked = count - done;
        const long written = pcm->writei(frames + done * channels, asked);
        // A stop drops the stream under the write: what the write then
        // says is no error of the device.
        if (play_stopped())
            return PlayOutcome::kStopped;
        if (written == static_cast<long>(asked))
            return PlayOutcome::kDone;
        if (written == -EPIPE) {
            BOX_LOG(2, "%s  underrun occurred ");
            if (pcm->prepare() < 0 || ++refusals > kMaxChunkRefusals)
                return PlayOutcome::kFailed;
        } else if (written == -EAGAIN || (written >= 0 && written < static_cast<long>(asked))) {
            pcm->wait(kPlayWaitMs);
            BOX_LOG(2, "%s  write %d frames 22", static_cast<int>(written));
            // The rest of a short write follows, never the next chunk in its place.
            if (written > 0) {
                done += static_cast<unsigned long>(written);
                refusals = 0;
            } else if (++refusals > kMaxChunkRefusals) {
                return PlayOutcome::kFailed;
            }
        } else if (written > static_cast<long>(asked)) {
            BOX_LOG(1, "%s  write %d frames", static_cast<int>(written));
            return PlayOutcome::kFailed;
        } else {
            BOX_LOG(1, "++%s  error from writei: %s",
                    platform::pcmErrorText(static_cast<int>(written)));
            return PlayOutcome::kFailed;
        }
    }
    return PlayOutcome::kDone;
}

void OlvaDevice::play_dtmf_item(CBoxLineDevice& line, const char* digits, std::int16_t* buffer)
{
    const bool two_lines = audio::isTwoLineModel(model());
    const DtmfSendSettings s = dtmf_send_settings();
    const CToneVoice voice(digits, s.tone_time, s.silence_time,
                           static_cast<short>(s.dtmf_scale), s.dtmf_cof, 0,
                           two_lines ? kTwoLineDtmfMultiplier : 1);
    if (voice.data()) {
        platform::Pcm* pcm = playback_.get();
        // After a drain or a drop the stream stands set up: prepare is what
        // makes it take writes again (a start there is refused).
        pcm->prepare();
        const std::size_t total = voice.sample_count();
        const unsigned long chunk = two_lines ? kStereoDtmfFrames : kMonoFrames;
        PlayOutcome outcome = PlayOutcome::kDone;
        for (std::size_t at = 0; at < total && outcome == PlayOutcome::kDone; at += chunk) {
            const std::size_t count = std::min<std::size_t>(chunk, total - at);
            if (two_lines) {
                place_in_channel({voice.data() + at, count}, 1, channelOf(line.line_id()), 2,
                                 buffer);
                outcome = write_play_frames(buffer, count, 2);
            } else {
                outcome = write_play_frames(voice.data() + at, count, 1);
            }
        }
        // The last digits are still in the card's buffer: the next item's
        // prepare would throw them away.
        if (outcome == PlayOutcome::kDone)
            pcm->drain();
    }
    finish_play_item();
    line.set_playing(false);
    line.handle_call_end();
    BOX_LOG(3, "%s  send dtmf end");
}

OlvaDevice::PlayOutcome OlvaDevice::play_file_samples(int fd, PlayFileFormat format,
                                                      unsigned channel, std::int16_t* buffer,
                                                      unsigned long* played_bytes)
{
    const bool two_lines = audio::isTwoLineModel(model());
    const std::size_t chunk_bytes = kFileChunkSamples * play_sample_bytes(format);
    std::uint8_t bytes[kFileChunkSamples * 2];
    std::int16_t samples[kFileChunkSamples];
    for (;;) {
        const long got = readFull(fd, bytes, chunk_bytes);
        if (got < 0) {
            BOX_LOG(1, "%s  read playfile failed, %s ", std::strerror(errno));
            return PlayOutcome::kFailed;
        }
        const std::size_t count =
            decode_play_samples(format, {bytes, static_cast<std::size_t>(got)}, samples);
        if (count == 0)
            return PlayOutcome::kDone;
        *played_bytes += static_cast<unsigned long>(got);
        PlayOutcome outcome;
        if (two_lines) {
            const std::size_t frames =
                place_in_channel({samples, count}, kStereoRepeat, channel, 2, buffer);
            outcome = write_play_frames(buffer, frames, 2);
        } else {
            outcome = write_play_frames(samples, count, 1);
        }
        if (outcome != PlayOutcome::kDone)
            return outcome;
    }
}

void OlvaDevice::play_file_item(CBoxLineDevice& line, const char* path, std::int16_t* buffer)
{
    // Not blocking: a FIFO given as the file must not hold the thread.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    PlayOutcome outcome = PlayOutcome::kFailed;
    unsigned long played = 0;
    struct stat st {};
    if (fd < 0) {
        BOX_LOG(1, "%s  open playfile(%s) failed, %s ", path, std::strerror(errno));
    } else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        BOX_LOG(1, "%s  open playfile(%s) failed, %s ", path, "not a regular file");
    } else {
        BOX_LOG(3, "%s lineid(%d)  playfile(%s)  ", static_cast<int>(line.line_id()), path);
        std::uint8_t head[kWaveHeaderReadMax];
        const long got = readFull(fd, head, sizeof head);
        WaveFormat wave;
        std::string why;
        PlayFileFormat format = PlayFileFormat::kInvalid;
        if (got >= 0 &&
            wave_parse_header(head, static_cast<std::size_t>(got), &wave, &why) == 0)
            format = play_file_format(wave);
        static constexpr const char* kFormatLog[] = {
            nullptr, "%s  playfile(%s) is alaw format ", "%s  playfile(%s) is ulaw format ",
            "%s  playfile(%s) is pcm format "};
        if (format == PlayFileFormat::kInvalid) {
            BOX_LOG(1, "%s   play file format is invalid ");
        } else if (lseek(fd, wave.data_offset, SEEK_SET) < 0) {
            BOX_LOG(1, "%s  seek playfile(%s) failed, %s ", path, std::strerror(errno));
        } else {
            BOX_LOG(3, kFormatLog[static_cast<int>(format)], path);
            playback_->prepare();
            outcome = play_file_samples(fd, format, channelOf(line.line_id()), buffer, &played);
            if (outcome == PlayOutcome::kDone)
                playback_->drain();
        }
    }
    if (fd >= 0)
        ::close(fd);
    finish_play_item();
    // A stopped file has ended as asked; one that could not be played ends
    // with its error, so that the line is free again.
    if (outcome == PlayOutcome::kFailed) {
        BOX_LOG(1, "%s  play file(%s) end but have error", path);
        line.handle_play_end(1);
    } else {
        BOX_LOG(3, "%s  play file(%s), playlen(%d) end", path, static_cast<int>(played));
        line.handle_play_end(0);
    }
}
