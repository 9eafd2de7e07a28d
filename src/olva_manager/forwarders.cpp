// The manager's forwarders: a line handle names a slot's box and a line.
#include <climits>
#include <exception>

#include "base/logger.h"
#include "olva_manager/olva_manager.h"
#include "olva_manager/with_box.h"

namespace {

// The work mode in which a Tz2401B's thresholds can be read.
constexpr int kThresholdWorkMode = 2;

// A threshold as the box takes it; one beyond int is refused there.
int thresholdValue(unsigned value)
{
    return value > static_cast<unsigned>(INT_MAX) ? -1 : static_cast<int>(value);
}
// The work mode in which the library streams no audio.
constexpr int kNoStreamWorkMode = 2;

bool acceptedCoder(int coder)
{
    // A-law, 16-bit PCM, streaming, µ-law.
    return coder == 0 || coder == 1 || coder == 20 || coder == 100;
}

}  // namespace

OlvaManager::CUsbBoxDevice* OlvaManager::box_of(unsigned long handle)
{
    const long index = static_cast<long>(handle >> 8);
    for (CUsbBoxDevice* box : {&box1_, &box2_})
        if (box->device_index() != -1 && box->device_index() == index)
            return box;
    return nullptr;
}

int OlvaManager::olva_check_coder(int coder)
{
    return acceptedCoder(coder) ? OLVA_OK : OLVA_ERR_CODER;
}

int OlvaManager::olva_get_line_state(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_get_line_state(line);
    });
}

int OlvaManager::olva_set_volume(unsigned long handle, unsigned volume)
{
    return with_box(handle, [volume](CUsbBoxDevice& box, unsigned long) {
        return box.olva_set_volume(static_cast<int>(volume));
    });
}

int OlvaManager::olva_set_Speakervolume(unsigned long handle, int volume)
{
    return with_box(handle, [volume](CUsbBoxDevice& box, unsigned long) {
        return box.olva_set_Speakervolume(volume);
    });
}

int OlvaManager::olva_play_pause(unsigned long handle)
{
    return with_box(handle,
                    [](CUsbBoxDevice& box, unsigned long line) { return box.olva_play_pause(line); });
}

int OlvaManager::olva_get_device_versionnum(unsigned long handle, float& version)
{
    return with_box(handle, [&version](CUsbBoxDevice& box, unsigned long) {
        return box.olva_get_device_versionnum(version);
    });
}

int OlvaManager::olva_get_product_name(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long) { return box.model(); });
}

int OlvaManager::olva_set_send_dtmf_param(unsigned long handle, int tone_time, int silence_time,
                                          float dtmf_cof, int dtmf_scale, int speaker_volume)
{
    return with_box(handle, [=](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_set_send_dtmf_param(line, tone_time, silence_time, dtmf_cof, dtmf_scale,
                                            speaker_volume);
    });
}

int OlvaManager::olva_close_agc(unsigned long handle, int off)
{
    return with_box(handle, [off](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_close_agc(line, off);
    });
}

int OlvaManager::olva_set_busy_info(unsigned long handle, const tagBusyInfo& info)
{
    return with_box(handle, [&info](CUsbBoxDevice& box, unsigned long line) {
        box.set_busy_info(line, info);
        return OLVA_OK;
    });
}

template <class Getter>
int OlvaManager::threshold_getter(unsigned long handle, Getter getter)
{
    return with_box(handle, [this, getter](CUsbBoxDevice& box, unsigned long) {
        if (model_traits(box.model()).line_thresholds && work_mode_ != kThresholdWorkMode)
            return static_cast<int>(OLVA_ERR_WORK_MODE);
        return (box.*getter)();
    });
}

int OlvaManager::olva_get_hang_threshold(unsigned long handle)
{
    return threshold_getter(handle, &CUsbBoxDevice::olva_get_hang_threshold);
}

int OlvaManager::olva_get_hookoff_threshold(unsigned long handle)
{
    return threshold_getter(handle, &CUsbBoxDevice::olva_get_hookoff_threshold);
}

int OlvaManager::olva_set_hang_threshold(unsigned long handle, unsigned value)
{
    return with_box(handle, [value](CUsbBoxDevice& box, unsigned long) {
        return box.olva_set_hang_threshold(thresholdValue(value));
    });
}

int OlvaManager::olva_set_hookoff_threshold(unsigned long handle, unsigned value)
{
    return with_box(handle, [value](CUsbBoxDevice& box, unsigned long) {
        return box.olva_set_hookoff_threshold(thresholdValue(value));
    });
}

int OlvaManager::olva_start_read_line_voltage(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long) {
        if (!model_traits(box.model()).line_voltage)
            return static_cast<int>(OLVA_ERR_FAILED);
        box.start_read_line_voltage();
        return static_cast<int>(OLVA_OK);
    });
}

int OlvaManager::olva_stop_read_line_voltage(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long) {
        if (model_traits(box.model()).line_voltage)
            box.stop_read_line_voltage();
        return static_cast<int>(OLVA_OK);
    });
}

int OlvaManager::olva_record_file(unsigned long handle, const char* path, int coder)
{
    return with_box(handle, [path, coder](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_record_file(line, path, coder);
    });
}

int OlvaManager::olva_record_stream(unsigned long handle, int coder)
{
    if (handle != kNoHandle && work_mode_ == kNoStreamWorkMode)
        return OLVA_ERR_WORK_MODE;
    return with_box(handle, [coder](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_record_stream(line, coder);
    });
}

int OlvaManager::olva_stop_record(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_stop_record(line);
    });
}

int OlvaManager::olva_soft_hook_off(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_soft_hook_off(line);
    });
}

int OlvaManager::olva_soft_hook_on(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_soft_hook_on(line);
    });
}

int OlvaManager::olva_set_message_param(unsigned long handle, bool on)
{
    return with_box(handle, [on](CUsbBoxDevice& box, unsigned long) {
        return box.set_message_param(on) ? OLVA_OK : OLVA_ERR_FAILED;
    });
}

int OlvaManager::olva_open_buzzer(unsigned long handle, bool on)
{
    return with_box(handle, [on](CUsbBoxDevice& box, unsigned long) {
        return box.olva_open_buzzer(on) ? OLVA_OK : OLVA_ERR_FAILED;
    });
}

int OlvaManager::olva_read_eeprom(unsigned long handle, unsigned addr, unsigned char* data, int len)
{
    return with_box(handle, [=](CUsbBoxDevice& box, unsigned long) {
        return box.olva_read_eepromEx(addr, data, len);
    });
}

int OlvaManager::olva_write_eeprom(unsigned long handle, unsigned addr, const unsigned char* data,
                                   int len)
{
    return with_box(handle, [=](CUsbBoxDevice& box, unsigned long) {
        return box.olva_write_eeprom(addr, data, len);
    });
}

int OlvaManager::olva_get_usernum(unsigned long handle, unsigned char* data, int len)
{
    return with_box(handle, [=](CUsbBoxDevice& box, unsigned long) {
        return box.olva_get_usernum(data, len);
    });
}

int OlvaManager::olva_send_gsm_cmd(unsigned long handle, const char* cmd, int len)
{
    return with_offering_box(handle, &ModelTraits::gsm,
                             [cmd, len](CUsbBoxDevice& box, unsigned long line) {
                                 return box.olva_send_gsm_cmd(line, cmd, len);
                             });
}

int OlvaManager::olva_send_dtmf(unsigned long handle, const char* digits)
{
    return with_box(handle, [digits](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_send_dtmf(line, digits);
    });
}

int OlvaManager::olva_play_file(unsigned long handle, const char* path)
{
    return with_box(handle, [path](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_play_file(line, path);
    });
}

int OlvaManager::olva_stop_play(unsigned long handle)
{
    return with_box(handle, [](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_stop_play(line);
    });
}
