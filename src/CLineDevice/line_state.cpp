// The line's state machine: raw states handed in by the box's report
// decoder, debounced and acted on by the 100 ms timer step, the end of a
// DTMF caller ID by silence, and the Tz2501B's extension phone.
#include <string>

#include "CLineDevice/CLineDevice.h"
#include "base/logger.h"
#include "base/platform/clock.h"

namespace {

// A DTMF caller ID ends after this much silence between digits.
constexpr int kDtmfCidSilenceMs = 600;
// A floating line's LED changes every 300 ms.
constexpr int kFloatBlinkMs = 300;
// The DTMF caller ID that may take the priority back from FSK, and the
// digits it needs for that.
constexpr int kDtmfCidPriorityRound = 3;
constexpr std::size_t kPriorityDigits = 3;
// Two ring bursts within this many seconds are one accepted ring.
constexpr std::int64_t kRingTooFastS = 1;
// The extension phone's cadence: bell on to the next second, then 4 s off;
// a number is sent 300 ms into the pause.
constexpr std::int64_t kSlicRingPauseS = 4;
constexpr int kSlicNumberDelayMs = 300;
constexpr std::size_t kSlicNumberMinLength = 3;

std::int64_t wallSeconds()
{
    return platform::clock().wallSeconds();
}

}  // namespace

void CLineDevice::save_tmp_line_state(ENUM_OLVA_STATE state)
{
    pending_state_.store(state);
}

void CLineDevice::save_tmp_line_slic_state(ENUM_OLVA_STATE state)
{
    slic_pending_state_.store(state);
}

void CLineDevice::handle_timer(unsigned long ms)
{
    step_line_state(ms);
    step_float_led(ms);
    step_dtmf_cid(ms);
    if (traits().extension_on_line2) {
        step_slic_hook(ms);
        step_slic_ring(ms);
    }
}

void CLineDevice::step_line_state(unsigned long ms)
{
    // A state posted since the last step starts its debounce here.
    const int raw = pending_state_.load();
    if (raw != debounce_state_.load()) {
        debounce_state_.store(raw);
        pending_time_.store(0);
    }
    pending_time_.fetch_add(ms);
    if (raw != confirmed_state_.load()) {
        if (pending_time_.load() >= static_cast<std::uint64_t>(kDebounceMs)) {
            pending_time_.store(0);
            confirmed_state_.store(raw);
            confirm_line_state(raw);
        }
        return;
    }
    step_held_state();
}

void CLineDevice::confirm_line_state(int state)
{
    switch (state) {
    case OLVA_STATE_NO_DEVICE:
        ring_count_.store(0);
        hook_off_reported_.store(false);
        handle_plug_out();
        break;
    case OLVA_STATE_IDLE:
        if (logical_state_.load() == OLVA_STATE_RINGING)
            handle_line_reset();
        else
            logical_state_.store(kWaitReset);
        break;
    case OLVA_STATE_RINGING:
        confirm_ringing();
        break;
    case OLVA_STATE_OFF_HOOK:
        if (hook_off_reported_.load()) {
            LINE_LOG(4, "%s  rcv again hookoff, not fired event to app ");
            logical_state_.store(state);
        } else {
            logical_state_.store(OLVA_STATE_OFF_HOOK);
            hook_off_reported_.store(true);
            handle_line_hook_off(1);
        }
        break;
    case OLVA_STATE_FLOATING:
        ring_count_.store(0);
        logical_state_.store(kWaitHang);
        break;
    case OLVA_STATE_REVERSE_OFF_HOOK:
    case OLVA_STATE_POSITIVE_OFF_HOOK:
        confirm_polarity_hook_off(state);
        break;
    default:
        break;
    }
}

void CLineDevice::confirm_ringing()
{
    ring_count_.fetch_add(1);
    logical_state_.store(OLVA_STATE_RINGING);
    hook_off_reported_.store(false);
    const std::int64_t now = wallSeconds();
    if (now - last_ring_time_.load() <= kRingTooFastS) {
        LINE_LOG(4, "%s detect ring too fast,  ring num: ");
        handle_line_ringing();
        return;
    }
    last_ring_time_.store(now);
    const int rings = ring_count_.fetch_add(1) + 1;
    // The extension phone rings along from the first accepted ring, unless
    // a caller ID has started it already or the call is answered.
    if (traits().extension_on_line2 && auto_link_slic_.load() != 0 &&
        !slic_ring_on_.load() && rings == 2 && cid_ring_flag_.load() == 0 &&
        call_phase_.load() != 3) {
        LINE_LOG(4, "%s start slic ring, ring num:%d ", rings);
        start_slic_ring();
    }
    handle_line_ringing();
    handle_line_ringing();
}

void CLineDevice::confirm_polarity_hook_off(int state)
{
    if (auto_link_slic_.load() != 0 && ring_count_.load() > 0) {
        control_slic_ring(0);
        slic_ring_on_.store(false);
    }
    hook_off_reported_.store(false);
    if (state == OLVA_STATE_REVERSE_OFF_HOOK)
        handle_line_reverse_hook_off();
    else
        handle_line_positive_hook_off();
    if (logical_state_.load() != OLVA_STATE_OFF_HOOK)
        logical_state_.store(state);
}

void CLineDevice::step_held_state()
{
    const int confirmed = confirmed_state_.load();
    const int logical = logical_state_.load();
    // A state that stands as it was acted on waits for nothing: a long ring
    // is still a ring.
    if (logical == confirmed)
        return;
    const std::uint64_t held = pending_time_.load();
    const LineSettings& s = settings_;
    auto waited = [held](int wait_ms) {
        return held >= static_cast<std::uint64_t>(wait_ms < 0 ? 0 : wait_ms);
    };
    if (logical == kWaitHang && waited(s.hang_wait_time.load())) {
        LINE_LOG(4, "%s old state=%d, state=%d, tate_keep_time_=%d", logical, confirmed,
                 static_cast<int>(held));
        pending_time_.store(0);
        logical_state_.store(confirmed);
        hook_off_reported_.store(false);
        handle_line_hang();
    } else if (logical == kWaitReset && waited(s.hangup_wait_time.load())) {
        logical_state_.store(confirmed);
        pending_time_.store(0);
        hook_off_reported_.store(false);
        handle_line_reset();
    } else if (logical == OLVA_STATE_RINGING && waited(s.ring_cancel_time.load())) {
        LINE_LOG(4, "%s old state=%d, state=%d, state_keep_time_=%d", logical, confirmed,
                 static_cast<int>(held));
        pending_time_.store(0);
        ring_count_.store(0);
        hook_off_reported_.store(false);
        logical_state_.store(confirmed);
        handle_ring_cancel();
        if (auto_link_slic_.load() != 0) {
            control_slic_ring(0);
            slic_ring_on_.store(false);
        }
    }
}

void CLineDevice::step_float_led(unsigned long ms)
{
    if (confirmed_state_.load() != OLVA_STATE_FLOATING)
        return;
    if (float_blink_ms_.fetch_add(static_cast<int>(ms)) + static_cast<int>(ms) < kFloatBlinkMs)
        return;
    float_blink_ms_.store(0);
    const bool on = !float_led_on_.load();
    float_led_on_.store(on);
    control_ch_led(on);
}

void CLineDevice::step_dtmf_cid(unsigned long ms)
{
    if (!dtmf_cid_.load())
        return;
    const int mark = dtmf_cid_digit_mark_.load();
    if (mark != dtmf_cid_seen_mark_.load()) {
        dtmf_cid_seen_mark_.store(mark);
        dtmf_cid_silence_ms_.store(0);
        return;
    }
    if (dtmf_cid_silence_ms_.fetch_add(static_cast<int>(ms)) + static_cast<int>(ms) <=
        kDtmfCidSilenceMs)
        return;
    dtmf_cid_silence_ms_.store(0);
    dtmf_cid_.store(false);
    end_dtmf_cid();
}

void CLineDevice::end_dtmf_cid()
{
    const std::string digits = dial_buffer();
    empty_dial_buffer();
    // The event's text lives for the call only.
    auto report = [this, &digits] {
        fire_event(OLVA_EVENT_CALLER_ID, reinterpret_cast<unsigned long>(digits.c_str()), 0, 0, 0);
    };
    if (settings_.cid_type.load() != 0) {
        if (!digits.empty())
            report();
        return;
    }
    const int round = dtmf_cid_count_.fetch_add(1) + 1;
    if (round == kDtmfCidPriorityRound && digits.size() >= kPriorityDigits &&
        fsk_priority_.load() == 1 && fsk_cid_count_.load() == 0) {
        LINE_LOG(4, "%s++  change  fsk low priority");
        fsk_priority_.store(0);
        report();
    } else if (!digits.empty()) {
        if (fsk_priority_.load() == 1)
            LINE_LOG(4, "%s++ shield  dtmf cid:%s to send to app", digits.c_str());
        else
            report();
    }
}

void CLineDevice::step_slic_hook(unsigned long ms)
{
    const int raw = slic_pending_state_.load();
    if (raw != slic_debounce_state_.load()) {
        slic_debounce_state_.store(raw);
        slic_keep_time_.store(0);
    }
    const std::int64_t kept = slic_keep_time_.fetch_add(static_cast<std::int64_t>(ms)) +
                              static_cast<std::int64_t>(ms);
    if (raw == slic_confirmed_state_.load() || kept < kDebounceMs)
        return;
    slic_keep_time_.store(0);
    slic_confirmed_state_.store(raw);
    const bool linked = auto_link_slic_.load() != 0;
    if (raw == OLVA_STATE_IDLE) {
        LINE_LOG(3, "%s++   slic hangup");
        fire_event(OLVA_EVENT_LINE_HOOK_ON, 0, 0, 0, 0);
        if (linked) {
            LINE_LOG(3, "%s++   control ext hangup");
            open_hookoff_switch(false);
            open_Tz2501b_slic_switch(false);
        }
    } else if (raw == OLVA_STATE_OFF_HOOK) {
        LINE_LOG(3, "%s++    slic hookoff");
        // The call is taken: the next one's ring starts the extension again.
        cid_ring_flag_.store(0);
        fire_event(OLVA_EVENT_LINE_HOOK_OFF, 0, 0, 0, 0);
        LINE_LOG(4, "%s slic hookoff2");
        if (linked) {
            slic_ring_on_.store(false);
            control_slic_ring(0);
            LINE_LOG(3, "%s++  control ext hookoff");
            open_hookoff_switch(true);
            open_Tz2501b_slic_switch(true);
        }
    }
}

void CLineDevice::start_slic_ring()
{
    slic_ring_phase_.store(OLVA_STATE_RINGING);
    slic_ring_phase_start_.store(wallSeconds());
    control_slic_ring(1);
    slic_ring_phase_ms_.store(0);
    slic_ring_on_.store(true);
}

void CLineDevice::step_slic_ring(unsigned long ms)
{
    if (!slic_ring_on_.load())
        return;
    const int in_phase = slic_ring_phase_ms_.fetch_add(static_cast<int>(ms)) + static_cast<int>(ms);
    const std::int64_t now = wallSeconds();
    if (slic_ring_phase_.load() == OLVA_STATE_RINGING) {
        if (now != slic_ring_phase_start_.load()) {
            slic_ring_phase_.store(kRingPause);
            slic_ring_phase_ms_.store(0);
            control_slic_ring(0);
            slic_ring_phase_start_.store(now);
            LINE_LOG(4, "%s ++ stop ring");
        }
        return;
    }
    if (slic_number_pending_.load() && in_phase >= kSlicNumberDelayMs) {
        std::string number;
        {
            std::lock_guard<std::mutex> lock(text_mutex_);
            number = slic_number_;
        }
        if (number.size() >= kSlicNumberMinLength) {
            LINE_LOG(3, "%s send(%s) to slic", number.c_str());
            slic_number_pending_.store(false);
            open_Tz2501b_playfile_to_slic(true);
            play_dtmf(line_id_.load(), number.data());
        }
    }
    if (now - slic_ring_phase_start_.load() >= kSlicRingPauseS) {
        slic_ring_phase_.store(OLVA_STATE_RINGING);
        slic_ring_phase_ms_.store(0);
        slic_ring_phase_start_.store(now);
        control_slic_ring(1);
        LINE_LOG(4, "%s  ++ start ring");
    }
}
