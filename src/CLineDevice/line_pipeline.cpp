// The line's per-frame signal pipeline on the box's capture thread: DTMF
// keys, FSK caller ID, busy tone, dial tone and ringback, then gain
// control; and the line's handling of key codes a box decoded itself and
// of digits it is about to send.
//
// The detector mutex is held only while the detectors run; events are
// raised, and the text mutex taken, after it is released.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CLineDevice/CLineDevice.h"
#include "base/logger.h"
#include "base/platform/clock.h"
#include "model/model_traits.h"

namespace {

constexpr int kFrameSamples = static_cast<int>(CLineDevice::kFrameBytes / 2);
constexpr std::int16_t kKeyA = 10;
constexpr std::int16_t kKeyD = 13;
constexpr std::int16_t kKeyStar = 14;
constexpr std::int16_t kKeyHash = 15;
constexpr int kToneDial = 1;
// A frame ends at most two 80-sample blocks, and each block end gives at
// most one busy and one tone report; reports beyond the room are dropped.
constexpr int kMaxFrameReports = 4;

// Only these lines have their signals detected in software.
bool detectsSignals(int product, unsigned long line)
{
    return line >= 1 && line <= static_cast<unsigned long>(model_traits(product).detected_lines);
}

// The ASCII character of a key code, 0 for none.
char keyChar(std::int16_t code)
{
    if (code >= 0 && code <= 9)
        return static_cast<char>('0' + code);
    if (code >= kKeyA && code <= kKeyD)
        return static_cast<char>('A' + code - kKeyA);
    if (code == kKeyStar)
        return '*';
    if (code == kKeyHash)
        return '#';
    return 0;
}

bool isOffHook(int state)
{
    return state == OLVA_STATE_OFF_HOOK || state == OLVA_STATE_REVERSE_OFF_HOOK ||
           state == OLVA_STATE_POSITIVE_OFF_HOOK;
}

struct ToneReport {
    int event;
    int type;
    std::int16_t level;
};

struct FrameReports {
    ToneReport reports[kMaxFrameReports];
    int count = 0;
    void add(int event, int type, std::int16_t level)
    {
        if (count < kMaxFrameReports)
            reports[count++] = {event, type, level};
    }
};

unsigned long signedParam(long value)
{
    return static_cast<unsigned long>(value);
}

}  // namespace

void CLineDevice::handle_record_wave(char* frame, unsigned long len)
{
    if (!frame || len != kFrameBytes) {
        LINE_LOG(1, "%s frame of %lu bytes refused", len);
        return;
    }
    take_busy_info();
    // A recording that starts resets the gain control before this frame.
    apply_agc_reset_request();
    if (detectsSignals(product_.load(), line_id_.load())) {
        std::int16_t samples[kFrameSamples];
        std::memcpy(samples, frame, kFrameBytes);
        detect_signals(samples);
    }
    // The detectors saw the frame as captured; recording sees it after.
    if (agc_off_.load() == 0)
        handle_tool_wav(frame, len);
    handle_write_wav(frame, len);
}

void CLineDevice::take_busy_info()
{
    std::lock_guard<std::mutex> lock(detector_mutex_);
    if (!busy_info_pending_)
        return;
    busy_tone_.Initial(pending_busy_info_);
    busy_info_pending_ = false;
}

void CLineDevice::detect_signals(std::int16_t* samples)
{
    std::int16_t code = dtmf_decoder::kNoKey;
    bool key;
    {
        std::lock_guard<std::mutex> lock(detector_mutex_);
        key = dtmf_.dtmf_detect(samples, &code, true);
    }
    if (key)
        on_detected_key(code);

    // The demodulator belongs to this thread; its bytes go to OnCidData.
    if (call_phase_.load() != 3)
        cid_detect_frame(samples, 0);

    // Dial tone and ringback only on an outgoing call, and only in its
    // first minute.
    const bool watch_dial = ring_count_.load() == 0 &&
                            (call_phase_.load() == 3 || logical_state_.load() == OLVA_STATE_OFF_HOOK);
    FrameReports found;
    {
        std::lock_guard<std::mutex> lock(detector_mutex_);
        for (int i = 0; i < kFrameSamples; ++i) {
            const std::int16_t sample = samples[i];
            if (busy_tone_.toneDet(sample))
                found.add(OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0);
            if (!watch_dial || dial_window_samples_.load() >= kDialWindowSamples)
                continue;
            dial_window_samples_.fetch_add(1);
            std::int16_t level = 0;
            int type = -1;
            if (dial_tone_.toneDet(sample, level, type) || type == 0)
                found.add(OLVA_EVENT_DIAL_TONE, type, level);
        }
    }
    for (int i = 0; i < found.count; ++i) {
        const ToneReport& r = found.reports[i];
        if (r.event == OLVA_EVENT_DEVICE_BUSY_TONE) {
            fire_event(OLVA_EVENT_DEVICE_BUSY_TONE, 0, 0, 0, 0);
            LINE_LOG(3, "%s  dect busytone! ");
            continue;
        }
        fire_event(OLVA_EVENT_DIAL_TONE, signedParam(r.type), signedParam(r.level), 0, 0);
        if (r.type != 0)
            LINE_LOG(3, "%s  dial (%s) dect ok", r.type == kToneDial ? "dialtone" : "ringback tone");
    }
}

void CLineDevice::on_detected_key(std::int16_t code)
{
    if (tone_playing_.load())
        line_stop_play();
    const char key = keyChar(code);
    if (code >= 0 && code <= 9) {
        last_digit_time_.store(platform::clock().wallSeconds());
        append_digit(key);
    } else if (code == kKeyHash) {
        hash_key_seen_.store(true);
    }
    if (key)
        fire_event(OLVA_EVENT_DTMF_DOWN, static_cast<unsigned char>(key), 0, 0, 0);
    LINE_LOG(4, "%s++, DtmfCode:%x", static_cast<int>(code));
}

void CLineDevice::append_digit(char digit)
{
    bool kept;
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        kept = dial_buffer_.size() < kMaxDialDigits;
        if (kept)
            dial_buffer_ += digit;
    }
    if (!kept)
        LINE_LOG(2, "%s digit %c not kept: %zu digits are held", digit, kMaxDialDigits);
}

std::string CLineDevice::dial_buffer() const
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    return dial_buffer_;
}

void CLineDevice::line_stop_play()
{
    tone_playing_.store(false);
    playing_.store(false);
    if (in_call_.load())
        control_ch_switch(false);
}

void CLineDevice::handld_dtmf_code(std::int16_t code)
{
    const int state = confirmed_state_.load();
    LINE_LOG(4, "%s++ code:%d, dialing:%d, fsk cid:%d, state:%d", static_cast<int>(code),
             dialling_.load() ? 1 : 0, fsk_cid_.load() ? 1 : 0, state);
    if (dialling_.load() || fsk_cid_.load())
        return;
    const char key = keyChar(code);
    if (code == kKeyStar || code == kKeyHash) {
        fire_event(OLVA_EVENT_DTMF_DOWN, static_cast<unsigned char>(key), 0, 0, 0);
        return;
    }
    if (code >= kKeyA && code <= kKeyD) {
        if (isOffHook(state))
            fire_event(OLVA_EVENT_DTMF_DOWN, static_cast<unsigned char>(key), 0, 0, 0);
        return;
    }
    if (code < 0 || code > 9)
        return;
    if (isOffHook(state)) {
        fire_event(OLVA_EVENT_DTMF_DOWN, static_cast<unsigned char>(key), 0, 0, 0);
        return;
    }
    // A digit while on-hook belongs to a DTMF caller ID; the line timer
    // ends it after a silence.
    if (settings_.cid_type.load() == 1)
        return;
    append_digit(key);
    if (!dtmf_cid_.load()) {
        dtmf_cid_seen_mark_.store(0);
        dtmf_cid_digit_mark_.store(1);
        dtmf_cid_.store(true);
    } else {
        dtmf_cid_digit_mark_.fetch_add(1);
    }
}

int CLineDevice::line_send_dtmf(const char* digits, int echo)
{
    const std::string sent = digits ? digits : "";
    LINE_LOG(3, "%s++ dtmf:%s", sent.c_str());
    dialling_.store(true);
    const PlaybackRoute route = traits().playback;
    if (route == PlaybackRoute::kRelaySpeaker)
        set_speaker_volume(settings_.speaker_volume.load());
    if (route == PlaybackRoute::kTz2501bLatches)
        open_Tz2501b_playfile_switch(true);
    if (echo != 0) {
        for (char c : sent) {
            LINE_LOG(4, "%s++key:%c", c);
            fire_event(OLVA_EVENT_DTMF_DOWN, static_cast<unsigned char>(c), 0, 0, 0);
        }
    }
    return 0;
}

void CLineDevice::handle_tool_wav(char* frame, unsigned long len)
{
    if (!frame)
        return;
    for (unsigned long at = 0; at + 1 < len; at += 2) {
        std::int16_t sample;
        std::memcpy(&sample, frame + at, sizeof sample);
        sample = agc_float(sample);
        std::memcpy(frame + at, &sample, sizeof sample);
    }
}

std::int16_t CLineDevice::agc_float(std::int16_t s)
{
    const float x = s / 32768.0f;
    const float k = 1.0f - agc_[0];
    const float p = agc_power_ - (agc_power_ - x * x) * k;
    float h = ((agc_[2] - agc_out_power_) * (agc_[1] * p) / (agc_[4] + p) + 1.0f) * agc_gain_;
    if (h > -0.0001f && h < 0.0001f)
        h = 1.0f;
    const float g = h > agc_[7] ? agc_[7] : std::max(h, agc_[6]);
    float y = s * g;
    if (g > 20.0f || g < -20.0f)
        y = 0.625f * y;
    y = y * agc_[5];
    if (p > 0.000005f && p < 0.1f)
        y = (4.0f * (0.01f - p) + 1.2f) * y;
    const float o = y / 32768.0f;
    agc_out_power_ = agc_out_power_ - k * (agc_out_power_ - 3.0f * o * o);
    agc_gain_ = g;
    agc_power_ = p;
    return static_cast<std::int16_t>(std::clamp(y, -32768.0f, 32767.0f));
}
