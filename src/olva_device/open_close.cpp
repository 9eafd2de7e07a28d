// The box object's life: construction, opening in a slot, closing, and the
// plug-out that ends an open life from one of the box's own threads.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/logger.h"
#include "base/platform/settings_dir.h"
#include "base/platform/sleeper.h"
#include "olva_device/olva_device.h"

namespace {

constexpr const char* kIniFile = "/olva.ini";

// The Tz2501B's latches at start, in order.
constexpr OlvaDevice::LatchStep kTz2501bStartLatches[] = {
    {false, 7, 1}, {false, 6, 1}, {true, 6, 0},  {true, 2, 1},  {true, 5, 1},  {true, 4, 0},
    {false, 3, 1}, {false, 4, 0}, {false, 2, 0}, {true, 1, 0},  {false, 0, 1}, {false, 5, 0},
    {false, 6, 0}, {true, 2, 1},  {true, 3, 0},  {true, 7, 1},
};

}  // namespace

OlvaDevice::OlvaDevice()
{
    line1_.set_box(this);
    line2_.set_box(this);
}

OlvaDevice::~OlvaDevice()
{
    shutdown();
    line1_.line_close(0);
    line2_.line_close(0);
}

void OlvaDevice::shutdown()
{
    const bool claimed = claim_end();
    if (!claimed)
        wait_for_end();
    capture_run_.store(false);
    close_audio_device();
    hidClose();
    if (claimed)
        finish_end();
}

std::string OlvaDevice::box_tag() const
{
    std::lock_guard<std::mutex> lock(tag_mutex_);
    return box_tag_;
}

bool OlvaDevice::claim_end()
{
    std::lock_guard<std::mutex> lock(end_mutex_);
    if (end_state_ != EndState::kOpen && end_state_ != EndState::kOpening)
        return false;
    end_state_ = EndState::kEnding;
    return true;
}

void OlvaDevice::finish_open()
{
    bool plug_out = false;
    {
        std::lock_guard<std::mutex> lock(end_mutex_);
        // A close that came meanwhile has claimed the end itself.
        if (end_state_ != EndState::kOpening)
            return;
        end_state_ = EndState::kOpen;
        plug_out = std::exchange(plug_out_pending_, false);
    }
    if (plug_out)
        handle_plug_out();
}

void OlvaDevice::finish_end()
{
    {
        std::lock_guard<std::mutex> lock(end_mutex_);
        end_state_ = EndState::kFree;
    }
    end_done_.notify_all();
}

void OlvaDevice::wait_for_end()
{
    std::unique_lock<std::mutex> lock(end_mutex_);
    end_done_.wait(lock, [this] { return end_state_ != EndState::kEnding; });
}

void OlvaDevice::fire_hid_event(int event, int param)
{
    fire_event(1, event, static_cast<unsigned long>(static_cast<long>(param)), 0, 0, 0);
}

void OlvaDevice::load_dtmf_send_settings()
{
    const std::string tag = box_tag();
    const DtmfSendSettings s =
        read_dtmf_send_settings(platform::settingsDirectory() + kIniFile, tag.c_str());
    tone_time_.store(s.tone_time);
    silence_time_.store(s.silence_time);
    dtmf_cof_.store(s.dtmf_cof);
    dtmf_scale_.store(s.dtmf_scale);
    speaker_volume_.store(s.speaker_volume);
}

DtmfSendSettings OlvaDevice::dtmf_send_settings() const
{
    DtmfSendSettings s;
    s.tone_time = tone_time_.load();
    s.silence_time = silence_time_.load();
    s.dtmf_cof = dtmf_cof_.load();
    s.dtmf_scale = dtmf_scale_.load();
    s.speaker_volume = speaker_volume_.load();
    return s;
}

bool OlvaDevice::set_tz2501b_latches(std::span<const LatchStep> steps)
{
    bool all_set = true;
    for (const LatchStep& step : steps) {
        const bool set = step.second ? Tz2501B_function2_setting(step.function, step.value)
                                     : Tz2501B_function_setting(step.function, step.value);
        if (!set) {
            BOX_LOG(1, "%s latch%d function %d not set to %d", step.second ? 2 : 1, step.function,
                    step.value);
            all_set = false;
        }
    }
    return all_set;
}

int OlvaDevice::used_lines() const
{
    return std::max(model_traits(model()).lines, 1);
}

void OlvaDevice::open_lines(OLVA_PRODUCT model)
{
    std::string playback;
    {
        std::lock_guard<std::mutex> lock(names_mutex_);
        playback = playback_name_;
    }
    line1_.line_open(1, playback, model, true);
    if (model_traits(model).lines > 1)
        line2_.line_open(2, playback, model, true);
}

bool OlvaDevice::olva_open(const char* path, unsigned long index, OLVA_PRODUCT model)
{
    // A plug-out that freed the slot may still be ending on its thread, and
    // the last capture thread may still be leaving.
    wait_for_end();
    stop_capture_thread();
    {
        std::lock_guard<std::mutex> lock(tag_mutex_);
        box_tag_ = "olva." + std::to_string(index);
    }
    BOX_LOG(3, "%s++  %s", __func__);
    load_dtmf_send_settings();
    reset_gsm_state();
    clear_queues();
    active_sim_.store(-1);

    set_app_dir(platform::settingsDirectory());
    if (!hid_open(path, index, model)) {
        BOX_LOG(1, "%s   open (%s), product id(%d) failed", path ? path : "(null)", model);
        fire_event(1, OLVA_EVENT_OPEN_FAILED, 0, 0, 0, 0);
        hidClose();
        // A box whose device could not be opened at all must not keep the slot.
        device_index_.store(-1);
        BOX_LOG(3, "%s--");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(end_mutex_);
        end_state_ = EndState::kOpening;
        plug_out_pending_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(names_mutex_);
        capture_name_ = kDefaultPcm;
        playback_name_ = kDefaultPcm;
    }
    auto_link_slic_.store(true);
    auto_link_earphone_.store(true);

    for (int attempt = 0; attempt < kCardSearchTries && !giving_up(); ++attempt) {
        if (search_audio_device())
            break;
        platform::sleeper().sleepMs(kRetryPauseMs);
    }
    BOX_LOG(4, "%s   alsa dev open snd pcm");

    const OLVA_PRODUCT identified = static_cast<OLVA_PRODUCT>(this->model());
    const ModelTraits& traits = model_traits(identified);
    // The Tz2401B's stored user number is read here, before its line opens;
    // the Tz2501B's is read from its codec once its latches are set.
    if (traits.switches == Switches::kTz2501bLatches)
        set_tz2501b_latches(kTz2501bStartLatches);
    read_user_number_at_open();
    open_lines(identified);

    // Event mode first: the start-up script's replies come as events.
    create_thread();
    if (traits.gsm)
        init_gsm(version2());
    open_audio_device();
    finish_open();
    BOX_LOG(3, "%s--");
    return true;
}

void OlvaDevice::olva_closeEx()
{
    hid_closeEx();
    line1_.line_closeEx();
    line2_.line_closeEx();
}

void OlvaDevice::olva_close(int mode)
{
    BOX_LOG(3, "%s++  %s", __func__);
    BOX_LOG(4, "%s   olva close mode:%d", mode);
    // A plug-out running on a box thread finishes first.
    const bool claimed = claim_end();
    if (!claimed)
        wait_for_end();
    capture_run_.store(false);
    if (mode != 0) {
        BOX_LOG(4, "%s   olva close b mode:%d", mode);
        unplugged_.store(true);
        platform::sleeper().sleepMs(kUnplugGraceMs);
        BOX_LOG(4, "%s   olva close b2 mode:%d", mode);
    }
    BOX_LOG(4, "%s   olva close c mode:%d", mode);
    // The threads end before the HID part goes, which frees the slot.
    close_audio_device();
    hidClose();
    device_index_.store(-1);
    if (claimed)
        finish_end();
    BOX_LOG(3, "%s--");
}

void OlvaDevice::handle_plug_out()
{
    {
        // The read threads start before the sound card opens: the open
        // ends the box itself once it has set it up.
        std::lock_guard<std::mutex> lock(end_mutex_);
        if (end_state_ == EndState::kOpening) {
            plug_out_pending_ = true;
            return;
        }
    }
    if (!claim_end())
        return;
    BOX_LOG(3, "%s++  %s", __func__);
    BOX_LOG(1, "%s dect device  plugout ");
    // Writers stop sending to a box that is gone, and the HID read loop ends.
    unplugged_.store(true);
    // The reports taken before the box went are handled before its lines
    // hear of the plug-out.
    report_worker_.stop();
    close_audio_device();
    CBoxLineDevice* lines[] = {&line1_, &line2_};
    for (int i = 0; i < used_lines(); ++i) {
        BOX_LOG(1, "%s  handle line(%d)  plugout", i + 1);
        lines[i]->handle_plug_out();
    }
    hidClose();
    device_index_.store(-1);
    finish_end();
    BOX_LOG(3, "%s--");
}
