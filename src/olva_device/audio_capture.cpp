// The box's capture thread: one period of line audio per read, 20 ms of
// 8 kHz mono or 40 ms of 48 kHz stereo, handed to the lines frame by frame.
#include <cerrno>
#include <chrono>
#include <exception>
#include <system_error>
#include <vector>

#include "base/logger.h"
#include "olva_device/audio_format.h"
#include "olva_device/demux.h"
#include "olva_device/olva_device.h"

namespace {

// 20 ms of the two-line boxes' 48 kHz stereo; a read carries two.
constexpr unsigned long kStereoBlockBytes = audio::kStereoBlockSamples * sizeof(std::int16_t);
// A close drops the capture PCM to end a read that blocks; it drops again
// this often until the thread has left its loop.
constexpr auto kStopRetry = std::chrono::milliseconds(100);

}  // namespace

void OlvaDevice::start_capture_thread()
{
    std::lock_guard<std::mutex> lock(capture_mutex_);
    capture_active_.store(true);
    try {
        capture_thread_ = std::thread([this] {
            try {
                AudioRec_handle_thread_read();
            } catch (const std::exception& error) {
                BOX_LOG(1, "%s capture thread except: %s", error.what());
            } catch (...) {
                BOX_LOG(1, "%s capture thread except");
            }
            {
                std::lock_guard<std::mutex> ended(capture_mutex_);
                capture_active_.store(false);
            }
            capture_ended_.notify_all();
        });
    } catch (const std::system_error& error) {
        capture_active_.store(false);
        BOX_LOG(1, "%s cannot start the capture thread: %s", error.what());
    }
}

void OlvaDevice::stop_capture_thread()
{
    std::thread thread;
    {
        std::unique_lock<std::mutex> lock(capture_mutex_);
        if (!capture_thread_.joinable() || capture_thread_.get_id() == std::this_thread::get_id())
            return;
        // A read in progress ends when the stream is dropped; a thread that
        // re-prepared the stream after an overrun needs a second drop.
        while (capture_active_.load()) {
            if (capture_)
                capture_->drop();
            capture_ended_.wait_for(lock, kStopRetry, [this] { return !capture_active_.load(); });
        }
        thread = std::move(capture_thread_);
    }
    thread.join();
}

bool OlvaDevice::capture_should_run() const
{
    return capture_run_.load() && !unplugged_.load() && !closing_.load() && is_open();
}

void OlvaDevice::AudioRec_handle_thread_read()
{
    const int model = this->model();
    const unsigned long frames = audio::captureFramesPerRead(model);
    const unsigned int channels = audio::captureParams(model).channels;
    const bool two_lines = audio::isTwoLineModel(model);
    std::vector<std::int16_t> buffer(frames * channels);
    char* bytes = reinterpret_cast<char*>(buffer.data());
    platform::Pcm* pcm = capture_.get();

    while (capture_should_run()) {
        const long read = pcm->readi(buffer.data(), frames);
        // A close drops the stream under a blocked read: that is no error.
        if (!capture_should_run())
            break;
        if (read == static_cast<long>(frames)) {
            if (two_lines) {
                handle_record_wave(bytes, kStereoBlockBytes);
                handle_record_wave(bytes + kStereoBlockBytes, kStereoBlockBytes);
            } else {
                handle_record_wave(bytes, CLineDevice::kFrameBytes);
            }
        } else if (read == -EAGAIN || (read >= 0 && read < static_cast<long>(frames))) {
            BOX_LOG(2, "%s  short read, read %d frames wait", static_cast<int>(read));
            pcm->wait(kCaptureWaitMs);
        } else if (read == -EPIPE) {
            BOX_LOG(2, "%s  overrun occurred");
            pcm->prepare();
        } else {
            BOX_LOG(1, "%s ret:%d, error from read: %s", static_cast<int>(read),
                    platform::pcmErrorText(static_cast<int>(read)));
            BOX_LOG(1, "%s  start close olva , to send plugout to ui");
            // The plug-out closes this thread's PCM: nothing touches it after.
            handle_plug_out();
            return;
        }
    }
}

void OlvaDevice::handle_record_wave(char* data, unsigned long len)
{
    if (!data)
        return;
    const int model = this->model();
    if (model_traits(model).audio == LineAudio::kMono8k) {
        handle_line_frame(line1_, data, len);
    } else if (audio::isTwoLineModel(model)) {
        if (len < kStereoBlockBytes) {
            BOX_LOG(1, "%s stereo block of %lu bytes refused", len);
            return;
        }
        const auto* block = reinterpret_cast<const std::int16_t*>(data);
        std::int16_t* line1 = demux_buffer_;
        std::int16_t* line2 = demux_buffer_ + audio::kLineFrameSamples;
        audio::reduceStereoBlock(std::span<const std::int16_t, audio::kStereoBlockSamples>(
                                     block, audio::kStereoBlockSamples),
                                 std::span<std::int16_t, audio::kLineFrameSamples>(
                                     line1, audio::kLineFrameSamples),
                                 std::span<std::int16_t, audio::kLineFrameSamples>(
                                     line2, audio::kLineFrameSamples));
        handle_line_frame(line1_, reinterpret_cast<char*>(line1), CLineDevice::kFrameBytes);
        handle_line_frame(line2_, reinterpret_cast<char*>(line2), CLineDevice::kFrameBytes);
    }
}
