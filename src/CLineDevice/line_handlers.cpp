// The handlers of the line's confirmed states and of the ends of a play:
// each sets the call phase and the box's lamps and switches, and raises the
// line's event with no line mutex held.
#include <exception>

#include "CLineDevice/CLineDevice.h"
#include "base/logger.h"

void CLineDevice::empty_dial_buffer()
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    dial_buffer_.clear();
}

void CLineDevice::handle_line_ringing()
{
    LINE_LOG(3, "%s ++ %s", __func__);
    call_phase_.store(2);
    dial_window_samples_.store(0);
    control_mic_start(true);
    call_out_finished_.store(true);
    control_ch_led(true);
    fire_event(OLVA_EVENT_LINE_RING, 0, 0, 0, 0);
    // One caller-ID message is taken per ring.
    arm_cid_message();
}

void CLineDevice::handle_line_hook_off(int send)
{
    LINE_LOG(3, "%s ++  snd:");
    fsk_cid_.store(false);
    cid_number_reported_.store(false);
    dial_window_samples_.store(0);
    call_phase_.store(3);
    control_ch_led(true);
    if (send == 0)
        return;
    control_mic_start(true);
    if (!traits().relay_audio)
        dialling_.store(false);
    in_call_.store(true);
    fire_event(OLVA_EVENT_LINE_HOOK_OFF, 0, 0, 0, 0);
    empty_dial_buffer();
    empty_cid_bytes();
}

void CLineDevice::handle_line_positive_hook_off()
{
    LINE_LOG(3, "%s ++ line old state=%d,  line_state=%d", logical_state_.load(),
             confirmed_state_.load());
    handle_polarity_hook_off(OLVA_STATE_POSITIVE_OFF_HOOK);
}

void CLineDevice::handle_line_reverse_hook_off()
{
    LINE_LOG(3, "%s ++line old state=%d, line_state=%d", logical_state_.load(),
             confirmed_state_.load());
    handle_polarity_hook_off(OLVA_STATE_REVERSE_OFF_HOOK);
}

void CLineDevice::handle_polarity_hook_off(int state)
{
    fsk_cid_.store(false);
    cid_number_reported_.store(false);
    dial_window_samples_.store(0);
    call_phase_.store(3);
    control_mic_start(true);
    const bool positive = state == OLVA_STATE_POSITIVE_OFF_HOOK;
    const int opposite = positive ? OLVA_STATE_REVERSE_OFF_HOOK : OLVA_STATE_POSITIVE_OFF_HOOK;
    const ModelTraits& traits = this->traits();
    if (logical_state_.load() == opposite) {
        // The exchange reversed the line's polarity during the call; on the
        // Tz2501B a reversal while it rang is not one.
        if (!traits.extension_on_line2 || ring_count_.load() == 0) {
            fire_event(OLVA_EVENT_POLARITY, positive ? 0 : 1, 0, 0, 0);
            LINE_LOG(3, "%s++ EVENT_POLARITY");
        }
        return;
    }
    control_ch_led(true);
    fire_event(OLVA_EVENT_LINE_HOOK_OFF, static_cast<unsigned long>(state), 0, 0, 0);
    const LineSettings& s = settings_;
    if (traits.relay_audio) {
        tz2501_close_audio_mute();
        if (s.not_set_volume_2501.load() == 0)
            set_mic_volume(s.default_mic_volume.load());
    } else {
        set_mic_volume(s.default_mic_volume.load());
    }
    empty_cid_bytes();
}

void CLineDevice::handle_line_reset()
{
    LINE_LOG(3, "%s ++ %s", __func__);
    in_call_.store(false);
    cid_number_reported_.store(false);
    const int logical = logical_state_.load();
    if (logical == OLVA_STATE_RINGING || logical == kWaitHang) {
        // A ring burst is over; the call may still come.
        call_phase_.store(10);
        dialling_.store(false);
        fire_event(OLVA_EVENT_RING_STOP, 0, 0, 0, 0);
        control_ch_led(false);
        return;
    }
    ring_count_.store(0);
    call_out_finished_.store(false);
    fsk_cid_.store(false);
    cid_ring_flag_.store(0);
    fire_event(OLVA_EVENT_LINE_HOOK_ON, 0, 0, 0, 0);
    call_phase_.store(9);
    logical_state_.store(OLVA_STATE_IDLE);
    control_mic_start(false);
    control_ch_led(false);
    empty_dial_buffer();
}

void CLineDevice::handle_ring_cancel()
{
    LINE_LOG(3, "%s ++ %s", __func__);
    control_ch_led(false);
    call_out_finished_.store(false);
    fsk_cid_.store(false);
    cid_number_reported_.store(false);
    cid_ring_flag_.store(0);
    fire_event(OLVA_EVENT_RING_CANCEL, 0, 0, 0, 0);
    call_phase_.store(11);
    control_mic_start(false);
    empty_cid_bytes();
    // Digits left from the unanswered call must not hold back the next
    // call's caller ID.
    empty_dial_buffer();
}

void CLineDevice::handle_line_hang()
{
    LINE_LOG(3, "%s ++ %s", __func__);
    try {
        empty_dial_buffer();
        fsk_cid_.store(false);
        cid_ring_flag_.store(0);
        fire_event(OLVA_EVENT_LING_HANG, 0, 0, 0, 0);
        line_stop_record();
        call_phase_.store(4);
        control_mic_start(false);
        olva_soft_hook_on();
        control_led_twinkle();
        empty_cid_bytes();
    } catch (const std::exception&) {
        LINE_LOG(1, "%sfire_event( OLVA_EVENT_LING_HANG, ... ) except!!!");
    } catch (...) {
        LINE_LOG(1, "%sfire_event( OLVA_EVENT_LING_HANG, ... ) except!!!");
    }
}

void CLineDevice::handle_call_end()
{
    LINE_LOG(3, "%s ++ %s", __func__);
    if (in_call_.load())
        control_ch_switch(false);
    const ModelTraits& traits = this->traits();
    if (traits.playback == PlaybackRoute::kGsmBridge)
        set_Tz2701_gpio(19, 0);
    else if (traits.playback == PlaybackRoute::kTz2501bLatches)
        open_Tz2501b_playfile_switch(false);
    if (!call_out_finished_.load()) {
        if (!traits.gsm)
            fire_event(OLVA_EVENT_CALL_OUT_FINISH, 0, 0, 0, 0);
        call_out_finished_.store(true);
    }
    dialling_.store(false);
}

void CLineDevice::handle_play_end(int error)
{
    {
        std::lock_guard<std::mutex> lock(play_mutex_);
        LINE_LOG(3, "%s ++ set(%d)", error);
        playing_.store(false);
        const PlaybackRoute route = traits().playback;
        if (route == PlaybackRoute::kTz2501bLatches)
            open_Tz2501b_playfile_switch(false);
        if (route != PlaybackRoute::kChannelSwitchForDtmf && route != PlaybackRoute::kRelaySpeaker)
            control_ch_switch(false);
    }
    // Raised after the play mutex is let go: a callback may start the next play.
    fire_event(error != 0 ? OLVA_EVENT_PLAY_ERROR : OLVA_EVENT_PLAY_END, 0, 0, 0, 0);
    LINE_LOG(3, "%s ++ set(%d) end", error);
}
