// The line object: construction, opening with the line's keys of
// "olva.ini", closing, and the detector and gain-control settings.
#include <algorithm>

#include "CLineDevice/CLineDevice.h"
#include "base/base_ini.h"
#include "base/logger.h"
#include "base/platform/paths.h"
#include "base/platform/settings_dir.h"

namespace {

constexpr const char* kIniSection = "device";
constexpr const char* kIniFile = "/olva.ini";

struct SettingKey {
    const char* key;
    std::atomic<int> LineSettings::*member;
    int default_value;
};

// In the order they are read; a missing key, or -1, takes its default and
// the default is written back.
constexpr SettingKey kSettingKeys[] = {
    {"cid_type", &LineSettings::cid_type, 0},
    {"ring_cancel_time", &LineSettings::ring_cancel_time, 7000},
    {"default_mic_volume", &LineSettings::default_mic_volume, 3},
    {"custom_mic_volume", &LineSettings::custom_mic_volume, 3},
    {"speaker_volume", &LineSettings::speaker_volume, 10},
    {"custom_speaker_volume", &LineSettings::custom_speaker_volume, 10},
    {"hang_wait_time", &LineSettings::hang_wait_time, 500},
    {"hangup_wait_time", &LineSettings::hangup_wait_time, 300},
    {"cid_mdmf_type3_enable", &LineSettings::cid_mdmf_type3_enable, 0},
    {"cid_type_self_adaption", &LineSettings::cid_type_self_adaption, 0},
    {"2501_not_set_volume", &LineSettings::not_set_volume_2501, 0},
    {"enable_mp3_compress", &LineSettings::enable_mp3_compress, 1},
};

}  // namespace

CLineDevice::CLineDevice()
{
    cidReset();
    reset_agc();
}

CLineDevice::~CLineDevice() = default;

void CLineDevice::set_texts(const std::string& tag, const std::string& name)
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    tag_ = tag;
    name_ = name;
}

std::string CLineDevice::tag() const
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    return tag_;
}

std::string CLineDevice::name() const
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    return name_;
}

std::string CLineDevice::app_dir() const
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    return app_dir_;
}

void CLineDevice::reset_agc()
{
    agc_gain_ = 1.0f;
    agc_power_ = 0.0f;
    agc_out_power_ = 0.0f;
    std::copy(std::begin(kAgcSettings), std::end(kAgcSettings), agc_);
}

void CLineDevice::read_settings(const std::string& ini)
{
    bool cid_type_missing = false;
    for (const SettingKey& row : kSettingKeys) {
        int value = readIntValue(kIniSection, row.key, ini.c_str());
        if (value == -1) {
            value = row.default_value;
            if (writeIntValue(kIniSection, row.key, value, ini.c_str()) != 0)
                LINE_LOG(2, "%s cannot write %s to %s", row.key, ini.c_str());
            if (row.member == &LineSettings::cid_type)
                cid_type_missing = true;
        }
        (settings_.*row.member).store(value);
    }
    const LineSettings& s = settings_;
    LINE_LOG(4, cid_type_missing ? "%s ++ cid_type:%d failed" : "%s ++ cid_type:%d ok",
             s.cid_type.load());
    LINE_LOG(4,
             "%s ++ cid_type(%d) default_mic_volume(%d) custom_mic_volume(%d) default speaker "
             "vol(%d) custom speaker vol(%d)",
             s.cid_type.load(), s.default_mic_volume.load(), s.custom_mic_volume.load(),
             s.speaker_volume.load(), s.custom_speaker_volume.load());
    LINE_LOG(4, "%s ++ ring_cancel_time:%d", s.ring_cancel_time.load());
    LINE_LOG(4,
             "%s  hang_wait_time:%d, hangup_wait_time:%d, cid_mdmf_type_enable:%d,"
             "cid_type_self_adapation:%d,enable_mp3_compress:%d",
             s.hang_wait_time.load(), s.hangup_wait_time.load(), s.cid_mdmf_type3_enable.load(),
             s.cid_type_self_adaption.load(), s.enable_mp3_compress.load());
}

void CLineDevice::line_open(unsigned long id, const std::string& name, OLVA_PRODUCT product, bool)
{
    set_texts("line." + std::to_string(id) + "-" + std::to_string(product), name);
    LINE_LOG(3, "%s++  %s", __func__);
    line_id_.store(id);
    dtmf_cid_count_.store(0);
    fsk_cid_count_.store(0);
    tz2701_ring_count_.store(0);
    tz2701_digit_count_.store(0);
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        slic_number_.clear();
    }
    product_.store(product);
    if (closing_.load()) {
        LINE_LOG(3, "%s--");
        return;
    }

    const std::string dir = platform::paths().applicationDirectory();
    if (dir.empty())
        LINE_LOG(2, "%s ++ current path:%s is not find last /", dir.c_str());
    else
        LINE_LOG(4, "%s ++ current path:%s,exe name:%s", dir.c_str(),
                 platform::paths().executableName().c_str());
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        app_dir_ = dir;
    }
    read_settings(platform::settingsDirectory() + kIniFile);
    fsk_priority_.store(settings_.cid_type_self_adaption.load());
    dial_window_samples_.store(0);
    tz2701_slic_link_.store(1);
    LINE_LOG(4, "%s enable_debug_record:%d, debug_record_callin:%d,debug_record_callout:%d", 0, 0,
             0);

    const bool extension_on_line2 = model_traits(product).extension_on_line2;
    if (extension_on_line2) {
        auto_link_slic_.store(1);
        auto_line_earphone_.store(1);
        slic_ring_request_.store(0);
        slic_ring_request2_.store(0);
        cid_ring_flag_.store(0);
        LINE_LOG(4, "%s 2501B auto_link_slic:%d, auto_line_earphone:%d", auto_link_slic_.load(),
                 auto_line_earphone_.load());
    }

    {
        std::lock_guard<std::mutex> lock(detector_mutex_);
        busy_info_pending_ = false;
        busy_tone_.Initial(kBusyTone);
        busy_tone_.StarttoneDet();
        dtmf_.dtmf_init();
        dial_tone_.Initial(kDialTone);
        dial_tone_.StarttoneDet();
    }
    call_out_finished_.store(false);

    // The Tz2501B's second line carries its extension phone: it is not
    // announced on its own.
    const bool announced = !(extension_on_line2 && id == 2);
    if (announced)
        handle_plug_in();

    confirmed_state_.store(OLVA_STATE_IDLE);
    pending_state_.store(OLVA_STATE_IDLE);
    slic_confirmed_state_.store(OLVA_STATE_IDLE);
    slic_pending_state_.store(OLVA_STATE_IDLE);
    pending_time_.store(0);
    slic_keep_time_.store(0);
    hook_off_reported_.store(false);
    if (announced && !plug_out_flag_.load())
        fire_event(OLVA_EVENT_LINE_HOOK_ON, 0, 0, 0, 0);

    reset_agc();
    LINE_LOG(3, "%s--");
}

void CLineDevice::line_close(int)
{
    LINE_LOG(3, "%s++  %s", __func__);
    line_stop_record();
    confirmed_state_.store(OLVA_STATE_NO_DEVICE);
    pending_state_.store(OLVA_STATE_NO_DEVICE);
    pending_time_.store(0);
    dialling_.store(false);
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        dial_buffer_.clear();
    }
    dtmf_cid_.store(false);
    dtmf_cid_silence_ms_.store(0);
    line_id_.store(kNoLine);
    LINE_LOG(3, "%s--");
}

void CLineDevice::line_closeEx()
{
    closing_.store(true);
}

void CLineDevice::set_busy_info(const tagBusyInfo& info)
{
    LINE_LOG(4, "%s ++");
    LINE_LOG(4,
             "%sset  busy_dual_frequency=%d, busy_frequency0=%d,busy_frequency1=%d,busy_on=%d,"
             "busyinfo.busy_off=%d,busy_on_off_error=%d, busy_enery_gate=%d,busy_period_count=%d",
             static_cast<int>(info.busy_dual_frequency), static_cast<int>(info.busy_frequency0),
             static_cast<int>(info.busy_frequency1), static_cast<int>(info.busy_on),
             static_cast<int>(info.busy_off), static_cast<int>(info.busy_on_off_error),
             static_cast<int>(info.busy_enery_gate), static_cast<int>(info.busy_period_count));
    // The capture thread may be inside the detector: it takes them up
    // before its next frame.
    std::lock_guard<std::mutex> lock(detector_mutex_);
    pending_busy_info_ = info;
    busy_info_pending_ = true;
}

int CLineDevice::line_close_agc(int off)
{
    agc_off_.store(off);
    return 0;
}

tagBusyInfo CLineDevice::busy_tone_settings() const
{
    std::lock_guard<std::mutex> lock(detector_mutex_);
    return busy_tone_.settings();
}

tagBusyInfo CLineDevice::dial_tone_settings() const
{
    std::lock_guard<std::mutex> lock(detector_mutex_);
    return dial_tone_.settings();
}
