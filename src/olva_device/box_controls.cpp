// The box's line objects and the settings and information operations that
// the library reaches through the device manager.
#include <exception>
#include <iostream>

#include "base/logger.h"
#include "base/platform/settings_dir.h"
#include "olva_device/olva_device.h"
#include "usb_hid/tz2401_report.h"

namespace {

constexpr const char* kIniFile = "/olva.ini";
constexpr std::uint8_t kMicVolumeCommand = 0x13;
constexpr std::uint8_t kSpeakerVolumeCommand = 0x23;
// The volume byte's bit 7 tells the box to take the value.
constexpr int kVolumeValid = 0x80;
constexpr std::uint8_t kLoudestSpeaker = 0x8C;

// The Tz2401B's speaker byte for a volume: two steps per volume step,
// 0x8C above 16.
std::uint8_t speakerVolumeByte(int volume)
{
    if (volume > 16)
        return kLoudestSpeaker;
    const int steps = volume < 10 ? 2 * volume + 108 : 2 * volume - 20;
    return static_cast<std::uint8_t>(steps | kVolumeValid);
}

}  // namespace

void OlvaDevice::CBoxLineDevice::set_mic_volume(int volume)
{
    if (box_)
        box_->olva_set_volume(volume);
}

void OlvaDevice::CBoxLineDevice::set_speaker_volume(int volume)
{
    if (box_)
        box_->olva_set_Speakervolume(volume);
}

void OlvaDevice::CBoxLineDevice::fire_event(int event, unsigned long p1, unsigned long p2,
                                            unsigned long p3, unsigned long p4)
{
    const unsigned long id = line_id();
    if (box_ && id != kNoLine)
        box_->fire_event(id, event, p1, p2, p3, p4);
}

OlvaDevice::CBoxLineDevice* OlvaDevice::line_by_id(unsigned long id)
{
    if (id == CLineDevice::kNoLine)
        return nullptr;
    if (line1_.line_id() == id)
        return &line1_;
    if (line2_.line_id() == id)
        return &line2_;
    return nullptr;
}

std::set<int> OlvaDevice::sound_cards_in_use() const
{
    return {};
}

void OlvaDevice::handle_line_frame(CBoxLineDevice& line, char* frame, unsigned long len)
{
    line.handle_record_wave(frame, len);
}

int OlvaDevice::olva_set_send_dtmf_param(unsigned long, int tone_time, int silence_time,
                                         float dtmf_cof, int dtmf_scale, int speaker_volume)
{
    BOX_LOG(4,
            "%s set dtmf tonetime:%d,silenctime:%d, dtmf_scale:%d, dtmf_cof:%f,speaker_volume:%d",
            tone_time, silence_time, dtmf_scale, static_cast<double>(dtmf_cof), speaker_volume);
    const DtmfSendSettings settings{tone_time, silence_time, dtmf_cof, dtmf_scale, speaker_volume};
    if (!dtmf_send_settings_in_range(settings))
        return -1;
    BOX_LOG(4,
            "%s  2 set dtmf tonetime:%d,silenctime:%d, dtmf_scale:%d, dtmf_cof:%f,"
            "speaker_volume:%d",
            tone_time, silence_time, dtmf_scale, static_cast<double>(dtmf_cof), speaker_volume);
    tone_time_.store(tone_time);
    silence_time_.store(silence_time);
    dtmf_scale_.store(dtmf_scale);
    speaker_volume_.store(speaker_volume);
    dtmf_cof_.store(dtmf_cof);
    // The box uses the values from now on, written or not.
    const std::string ini = platform::settingsDirectory() + kIniFile;
    if (!write_dtmf_send_settings(settings, ini))
        BOX_LOG(1, "%s cannot write the dtmf settings to %s", ini.c_str());
    return 0;
}

int OlvaDevice::olva_get_line_state(unsigned long line)
{
    const CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed id=%d", static_cast<int>(line));
        return -1;
    }
    const int state = found->confirmed_state();
    BOX_LOG(4, "%s++ id=%d, state:%d", static_cast<int>(line), state);
    return state;
}

int OlvaDevice::olva_set_volume(int volume)
{
    if (!model_traits(model()).tz2401_family)
        return 0;
    try {
        const auto value = static_cast<std::uint8_t>((2 * volume) | kVolumeValid);
        return Tz2401_write_cmd(tz2401::kReportId, kMicVolumeCommand, value, 0) ? 0 : -1;
    } catch (const std::exception& error) {
        BOX_LOG(1, "%s set mic volume except: %s", error.what());
        return -5;
    }
}

int OlvaDevice::olva_set_Speakervolume(int volume)
{
    if (!model_traits(model()).speaker_by_command)
        return 0;
    try {
        return Tz2401_write_cmd(tz2401::kReportId, kSpeakerVolumeCommand,
                                speakerVolumeByte(volume), 0)
                   ? 0
                   : -1;
    } catch (const std::exception& error) {
        BOX_LOG(1, "%s set speaker volume except: %s", error.what());
        return -5;
    }
}

int OlvaDevice::olva_play_pause(unsigned long)
{
    return -1;
}

void OlvaDevice::set_busy_info(unsigned long line, const tagBusyInfo& info)
{
    std::cout << box_tag() << "  ++\n\n";
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed");
        return;
    }
    found->set_busy_info(info);
}

int OlvaDevice::olva_close_agc(unsigned long line, int off)
{
    BOX_LOG(4, "%s++ id=%d", static_cast<int>(line));
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed id=%d", static_cast<int>(line));
        return 0;
    }
    return found->line_close_agc(off);
}
