// The line's plug-in and plug-out and the defaults of the hardware
// operations for a line without a box.
#include <algorithm>

#include "CLineDevice/CLineDevice.h"
#include "base/logger.h"
#include "model/model_traits.h"

namespace {

// The Tz2401 family sets lower microphone volumes than the others.
constexpr int kTz2401MicVolumeCut = 3;
constexpr int kTz2401MaxSpeakerVolume = 16;
constexpr int kMaxDoubledSpeakerVolume = 20;

}  // namespace

void CLineDevice::handle_plug_in()
{
    LINE_LOG(3, "%s++ %s", __func__);
    plug_out_flag_.store(false);
    confirmed_state_.store(OLVA_STATE_NO_DEVICE);
    fsk_cid_.store(false);
    cid_number_reported_.store(false);

    const ModelTraits& traits = this->traits();
    LineSettings& s = settings_;
    if (traits.tz2401_family) {
        s.custom_mic_volume.store(std::max(0, s.custom_mic_volume.load() - kTz2401MicVolumeCut));
        s.default_mic_volume.store(std::max(0, s.default_mic_volume.load() - kTz2401MicVolumeCut));
        const int speaker = s.speaker_volume.load();
        s.speaker_volume.store(speaker <= 0 ? 0 : speaker > 15 ? kTz2401MaxSpeakerVolume : speaker);
    }
    if (traits.relay_audio) {
        fire_event(OLVA_EVENT_PLUG_IN, 0, 0, 0, 0);
    } else {
        set_mic_volume(s.default_mic_volume.load());
        if (traits.doubles_speaker_volume)
            s.speaker_volume.store(std::min(2 * s.speaker_volume.load(), kMaxDoubledSpeakerVolume));
        set_speaker_volume(s.speaker_volume.load());
        if (!plug_out_flag_.load())
            fire_event(OLVA_EVENT_PLUG_IN, 0, 0, 0, 0);
    }
    control_ch_led(false);
}

void CLineDevice::handle_plug_out()
{
    LINE_LOG(1, "%s cline  plugout ");
    plug_out_flag_.store(true);
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        dial_buffer_.clear();
    }
    fsk_cid_.store(false);
    cid_number_reported_.store(false);
    // The Tz2501B was announced on its first line only.
    if (traits().extension_on_line2) {
        if (line_id_.load() == 1)
            fire_event(OLVA_EVENT_PLUG_OUT, 0, 0, 0, 0);
    } else {
        LINE_LOG(1, "%s  fire  plugout to ui ");
        fire_event(OLVA_EVENT_PLUG_OUT, 0, 0, 0, 0);
    }
    line_close(0);
    call_phase_.store(0);
}

void CLineDevice::control_ch_led(bool) {}
void CLineDevice::set_mic_volume(int) {}
void CLineDevice::set_speaker_volume(int) {}
void CLineDevice::control_mic_start(bool) {}
void CLineDevice::control_led_twinkle() {}
int CLineDevice::control_ch_switch(bool)
{
    return 0;
}
int CLineDevice::control_slic_ring(int)
{
    return 0;
}
bool CLineDevice::open_hookoff_switch(bool)
{
    return true;
}
bool CLineDevice::open_Tz2501b_slic_switch(bool)
{
    return true;
}
bool CLineDevice::open_Tz2501b_playfile_switch(bool)
{
    return true;
}
bool CLineDevice::open_Tz2501b_playfile_to_slic(bool)
{
    return true;
}
bool CLineDevice::Tz2501b_close_polarity()
{
    return true;
}
void CLineDevice::tz2501_close_audio_mute() {}
void CLineDevice::set_Tz2701_gpio(int, int) {}
void CLineDevice::Tz2701_makecall(char*) {}
void CLineDevice::Tz2701_send_cid_to_slic(char*) {}
void CLineDevice::play_dtmf(unsigned long, char*) {}
int CLineDevice::line_play_file(const char*)
{
    return -1;
}
void CLineDevice::olva_soft_hook_on() {}
void CLineDevice::fire_event(int, unsigned long, unsigned long, unsigned long, unsigned long) {}
