// The extension phone rung by command (the Tz2501B's and the Tz2701A's),
// and the Tz2701A's line operations: its GSM call state, its tones and its
// extension's hook.
#include <filesystem>
#include <string>

#include "CLineDevice/CLineDevice.h"
#include "base/logger.h"

namespace {

struct StateLabel {
    int state;
    const char* label;
};
constexpr StateLabel kStateLabels[] = {
    {OLVA_STATE_NO_DEVICE, " : 空设备"},
    {OLVA_STATE_IDLE, " : 复位"},
    {OLVA_STATE_RINGING, " : 振铃"},
    {OLVA_STATE_OFF_HOOK, " : 摘机"},
    {OLVA_STATE_FLOATING, " : 悬空"},
    {OLVA_STATE_REVERSE_OFF_HOOK, " : 反向摘机"},
    {OLVA_STATE_POSITIVE_OFF_HOOK, " : 正向摘机"},
    {OLVA_STATE_HANG_UP, " : 挂机"},
};
constexpr const char* kUnknownStateLabel = " : 未定义";

std::string stateText(int state)
{
    for (const StateLabel& row : kStateLabels)
        if (row.state == state)
            return std::to_string(state) + row.label;
    return std::to_string(state) + kUnknownStateLabel;
}

// The extension's ring cadence on the Tz2701A, and when in the first pause
// the caller's number is played to it.
constexpr std::int64_t kBellOnMs = 1000;
constexpr std::int64_t kBellOffMs = 4000;
constexpr std::int64_t kNumberDelayMs = 399;
constexpr int kGpioPlayToSlic = 19;

}  // namespace

int CLineDevice::olva_makecallSlic(const char* number)
{
    LINE_LOG(3, "%s++ %s", __func__);
    if (traits().clock == LineClock::kOwnTimer) {
        // The Tz2701A's line timer keeps the ring phase in the confirmed state.
        confirmed_state_.store(OLVA_STATE_RINGING);
        control_slic_ring(1);
        slic_ring_phase_ms_.store(0);
        slic_ring_on_.store(true);
    } else {
        start_slic_ring();
    }
    if (number && *number) {
        LINE_LOG(3, "%s++phonenumber:s");
        {
            std::lock_guard<std::mutex> lock(text_mutex_);
            slic_number_ = number;
        }
        slic_number_pending_.store(true);
    } else {
        dialling_.store(false);
        slic_number_pending_.store(false);
    }
    return 0;
}

int CLineDevice::olva_stop_makcallSlic()
{
    LINE_LOG(3, "%s++ %s", __func__);
    control_slic_ring(0);
    slic_ring_on_.store(false);
    return 0;
}

void CLineDevice::stop_slic_ring()
{
    if (slic_ring_request_.load() == 0 || slic_ring_request2_.load() == 0)
        return;
    slic_ring_phase_.store(OLVA_STATE_RINGING);
    slic_ring_request_.store(0);
    control_slic_ring(0);
    slic_ring_phase_ms_.store(0);
    slic_ring_on_.store(false);
}

void CLineDevice::set_gsm_state(int state)
{
    gsm_state_.store(state);
    call_phase_.store(state);
    LINE_LOG(3, "%s gsm_state(%d) ->%s", state, stateText(state).c_str());
    if (state == OLVA_STATE_RINGING) {
        const int rings = tz2701_ring_count_.fetch_add(1) + 1;
        if (rings == 1 && tz2701_slic_link_.load() != 0) {
            // The extension rings along with the incoming call.
            confirmed_state_.store(OLVA_STATE_RINGING);
            control_slic_ring(1);
            slic_ring_on_.store(true);
            slic_number_pending_.store(true);
            std::lock_guard<std::mutex> lock(text_mutex_);
            slic_number_.clear();
        }
        return;
    }
    tz2701_ring_count_.store(0);
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        slic_number_.clear();
    }
    if (state == OLVA_STATE_HANG_UP) {
        tz2701_digit_count_.store(0);
        // The far end hung up while the extension is lifted: busy tone.
        if (confirmed_state_.load() == OLVA_STATE_OFF_HOOK)
            Tz2701_play_tone(1);
    }
}

void CLineDevice::Tz2701_play_tone(int busy)
{
    const std::string path = app_dir() + "/voice" + (busy != 0 ? "/busy.wav" : "/dial.wav");
    tone_playing_.store(false);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        LINE_LOG(2, "%s %s is not found", path.c_str());
        return;
    }
    tone_playing_.store(true);
    if (line_play_file(path.c_str()) != 0)
        tone_playing_.store(false);
}

void CLineDevice::Tz2701_set_slic_state(int state)
{
    // On the Tz2701A the confirmed state is the extension phone's hook.
    confirmed_state_.store(state);
    empty_dial_buffer();
    hash_key_seen_.store(false);
    last_digit_time_.store(0);
}

void CLineDevice::Tz2701_set_caller_number(const std::string& number)
{
    LINE_LOG(4, "%s caller number for the extension:%s", number.c_str());
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        slic_number_ = number;
    }
    slic_number_pending_.store(true);
}

void CLineDevice::Tz2701_handle_timer(unsigned long ms)
{
    if (!slic_ring_on_.load()) {
        slic_ring_phase_ms_.store(0);
        return;
    }
    const std::int64_t elapsed = slic_ring_phase_ms_.fetch_add(static_cast<int>(ms)) +
                                 static_cast<std::int64_t>(ms);
    // The Tz2701A keeps its ring phase in the confirmed state.
    const int phase = confirmed_state_.load();
    if (phase == OLVA_STATE_RINGING) {
        if (elapsed >= kBellOnMs) {
            confirmed_state_.store(kRingPause);
            slic_ring_phase_ms_.store(0);
            control_slic_ring(0);
            LINE_LOG(4, "%s++ stop ring");
        }
        return;
    }
    if (phase != kRingPause)
        return;
    if (elapsed > kNumberDelayMs && slic_number_pending_.load()) {
        std::string number;
        {
            std::lock_guard<std::mutex> lock(text_mutex_);
            number = slic_number_;
        }
        // A number of any length is the caller's: short service numbers too.
        if (!number.empty()) {
            slic_number_pending_.store(false);
            LINE_LOG(4, "%s send(%s) to slic", number.c_str());
            set_Tz2701_gpio(kGpioPlayToSlic, 1);
            // Played as DTMF tones on the line's playback, which the GPIO
            // above routes to the extension; the end of the digits routes
            // it back (handle_call_end).
            line_send_dtmf(number.c_str(), 0);
            play_dtmf(line_id(), number.data());
        }
    }
    if (elapsed >= kBellOffMs) {
        confirmed_state_.store(OLVA_STATE_RINGING);
        slic_ring_phase_ms_.store(0);
        control_slic_ring(1);
        // Both turns of the cadence log the same text.
        LINE_LOG(4, "%s++ stop ring");
    }
}
