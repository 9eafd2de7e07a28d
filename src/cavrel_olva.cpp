// The library interface: plain functions over the one device manager. No
// exception leaves them: any that reaches this layer gives -5.
#include "cavrel_olva.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "base/logger.h"
#include "base/platform/settings_dir.h"
#include "model/model_traits.h"
#include "olva_device/dtmf_send_settings.h"
#include "olva_manager/library_call.h"
#include "olva_manager/olva_manager.h"

namespace {

constexpr const char* kModule = "olva ";
constexpr const char* kVersion = "V1.0";
constexpr const char* kIniFile = "/olva.ini";
constexpr unsigned kMaxVolume = 20;

// A model without a name (the Tz2501B and the results of a bad handle
// too) is an unknown device.
constexpr const char* kUnknownProduct = "unknown device";

const char* productName(int product)
{
    const char* name = model_traits(product).name;
    return name ? name : kUnknownProduct;
}

void open_logfile(const char* dir)
{
    try {
        logger_init(dir, "olva");
        loger_clear();
        const std::string dashes(72, '-');
        logger(-1, kModule, "", "%s", dashes.c_str());
        logger(-1, kModule, "", "-- olva lib(version:%s) built on %s %s.", kVersion, __DATE__,
               __TIME__);
        logger(-1, kModule, "", "%s", dashes.c_str());
    } catch (...) {
    }
}

// The library's EEPROM window: a caller's address (its low byte) and length
// as the box address they reach, or -4. The model's window says where it
// starts and how far it reaches (on the Tz2501B the 24C02's bytes the
// configuration check leaves alone).
int eeprom_window(OlvaManager& m, unsigned long h, unsigned addr, const void* data, int len,
                  unsigned& box_addr)
{
    const ModelTraits& traits = model_traits(m.olva_get_product_name(h));
    const unsigned offset = addr & 0xFF;
    const unsigned limit = traits.eeprom_window_size;
    if (!data || len < 1 || offset > limit || static_cast<unsigned>(len) > limit - offset)
        return OLVA_ERR_INVALID_PARAM;
    box_addr = offset + traits.eeprom_window_base;
    return OLVA_OK;
}

// A manager call at the box address of a caller's EEPROM address.
template <class Call>
int with_eeprom_window(unsigned long h, unsigned addr, const void* data, int len, Call call)
{
    return with_manager([&](OlvaManager& m) {
        unsigned box_addr = 0;
        if (const int checked = eeprom_window(m, h, addr, data, len, box_addr); checked != OLVA_OK)
            return checked;
        return call(m, box_addr);
    });
}

int read_eeprom(unsigned long h, unsigned addr, unsigned char* data, int len)
{
    return with_eeprom_window(h, addr, data, len, [&](OlvaManager& m, unsigned box_addr) {
        return m.olva_read_eeprom(h, box_addr, data, len);
    });
}

// -4 without a path, -1 when it cannot be examined.
int examine(const char* path, struct stat& info)
{
    if (!path)
        return OLVA_ERR_INVALID_PARAM;
    return stat(path, &info) == 0 ? OLVA_OK : OLVA_ERR_FAILED;
}

}  // namespace

extern "C" {

int olva_open(olva_event_callback cb)
{
    logger(3, kModule, "", "  main++");
    if (g_pOlvaMgr)
        return OLVA_ERR_BUSY;
    OlvaManager* manager = nullptr;
    try {
        manager = new OlvaManager();
    } catch (...) {
        logger(1, kModule, "", "--%snew OlvaManager happend except!!!", "olva_open");
        return OLVA_ERR_EXCEPTION;
    }
    g_pOlvaMgr = manager;
    try {
        manager->olva_open(cb);
    } catch (...) {
        // A manager that could not start is not left half open.
        logger(1, kModule, "", "--%s manager open except!!!", "olva_open");
        g_pOlvaMgr = nullptr;
        try {
            manager->olva_close(0);
            delete manager;
        } catch (...) {
        }
        return OLVA_ERR_EXCEPTION;
    }
    logger(3, kModule, "", "  main--");
    return OLVA_OK;
}

void olva_close()
{
    logger(3, kModule, "", "   close ++");
    if (OlvaManager* manager = g_pOlvaMgr) {
        try {
            manager->olva_close(0);
            delete manager;
            g_pOlvaMgr = nullptr;
        } catch (...) {
            logger(1, kModule, "", "   close except, the manager is kept");
        }
    }
    logger(3, kModule, "", "   close --");
}

void olva_open_logfile()
{
    open_logfile(nullptr);
}

void olva_open_logfileEx(const char* dir)
{
    open_logfile(dir);
}

void olva_close_logfile()
{
    try {
        logger_close();
    } catch (...) {
    }
}

int olva_check_coder(int coder)
{
    return with_manager([coder](OlvaManager& m) { return m.olva_check_coder(coder); });
}

int olva_get_line_state(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_get_line_state(h); });
}

int olva_record_file(unsigned long h, const char* path, int coder)
{
    return with_manager([=](OlvaManager& m) { return m.olva_record_file(h, path, coder); });
}

int olva_record_stream(unsigned long h, int coder)
{
    return with_manager([h, coder](OlvaManager& m) { return m.olva_record_stream(h, coder); });
}

int olva_stop_record(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_stop_record(h); });
}

int olva_send_dtmf(unsigned long h, const char* digits)
{
    return with_manager([h, digits](OlvaManager& m) { return m.olva_send_dtmf(h, digits); });
}

int olva_play_file(unsigned long h, const char* path)
{
    return with_manager([h, path](OlvaManager& m) { return m.olva_play_file(h, path); });
}

int olva_stop_play(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_stop_play(h); });
}

int olva_play_pause(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_play_pause(h); });
}

int olva_close_agc(unsigned long h, int off)
{
    return with_manager([h, off](OlvaManager& m) { return m.olva_close_agc(h, off); });
}

int olva_soft_hook_off(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_soft_hook_off(h); });
}

int olva_soft_hook_on(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_soft_hook_on(h); });
}

int olva_set_busy_tone(unsigned long h, tagBusyInfo info)
{
    return with_manager([h, &info](OlvaManager& m) { return m.olva_set_busy_info(h, info); });
}

int olva_set_volume(unsigned long h, unsigned volume)
{
    return with_manager([h, volume](OlvaManager& m) -> int {
        if (volume > kMaxVolume)
            return OLVA_ERR_INVALID_PARAM;
        return m.olva_set_volume(h, volume);
    });
}

int olva_set_Speakervolume(unsigned long h, int volume)
{
    return with_manager([h, volume](OlvaManager& m) -> int { return m.olva_set_Speakervolume(h, volume); });
}

int olva_get_hang_threshold(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_get_hang_threshold(h); });
}

int olva_set_hang_threshold(unsigned long h, unsigned value)
{
    return with_manager([h, value](OlvaManager& m) { return m.olva_set_hang_threshold(h, value); });
}

int olva_get_hookoff_threshold(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_get_hookoff_threshold(h); });
}

int olva_set_hookoff_threshold(unsigned long h, unsigned value)
{
    return with_manager(
        [h, value](OlvaManager& m) { return m.olva_set_hookoff_threshold(h, value); });
}

int olva_stop_read_line_voltage(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_stop_read_line_voltage(h); });
}

int olva_start_read_line_voltage(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_start_read_line_voltage(h); });
}

int olva_send_gsm_cmd(unsigned long h, char* cmd, int len)
{
    return with_manager([=](OlvaManager& m) { return m.olva_send_gsm_cmd(h, cmd, len); });
}

int olva_get_device_versionnum(unsigned long h, float* version)
{
    if (!g_pOlvaMgr)
        return OLVA_ERR_FAILED;
    return with_manager([h, version](OlvaManager& m) -> int {
        if (!version)
            return OLVA_ERR_INVALID_PARAM;
        return m.olva_get_device_versionnum(h, *version);
    });
}

int olva_get_product_ID(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return m.olva_get_product_name(h); });
}

int olva_get_product_name(unsigned long h, void* dst)
{
    return with_manager([h, dst](OlvaManager& m) -> int {
        if (!dst)
            return OLVA_ERR_INVALID_PARAM;
        const char* name = productName(m.olva_get_product_name(h));
        const std::size_t length = std::strlen(name);
        std::memcpy(dst, name, length);
        return static_cast<int>(length);
    });
}

int olva_set_message_param(unsigned long h, bool on)
{
    return with_manager([h, on](OlvaManager& m) -> int {
        if (!model_traits(m.olva_get_product_name(h)).message_param)
            return OLVA_ERR_PRODUCT;
        return m.olva_set_message_param(h, on);
    });
}

int olva_open_buzzer_switch(unsigned long h, bool on)
{
    return with_manager([h, on](OlvaManager& m) -> int {
        if (!model_traits(m.olva_get_product_name(h)).buzzer)
            return OLVA_ERR_PRODUCT;
        return m.olva_open_buzzer(h, on);
    });
}

const char* olva_get_serial_number(unsigned long h)
{
    static const char kEmpty[] = "";
    with_manager([h](OlvaManager& m) { return m.olva_get_product_name(h); });
    return kEmpty;
}

int olva_set_send_dtmf_param(unsigned long h, int tone_time, int silence_time, float dtmf_cof,
                             int dtmf_scale, int speaker_volume)
{
    return with_manager([=](OlvaManager& m) {
        return m.olva_set_send_dtmf_param(h, tone_time, silence_time, dtmf_cof, dtmf_scale,
                                          speaker_volume);
    });
}

int olva_get_send_dtmf_param(int* tone_time, int* silence_time, float* dtmf_cof,
                             int* dtmf_scale, int* speaker_volume)
{
    if (!tone_time || !silence_time || !dtmf_cof || !dtmf_scale || !speaker_volume)
        return OLVA_ERR_INVALID_PARAM;
    try {
        const DtmfSendSettings s = read_dtmf_send_settings(
            platform::settingsDirectory() + kIniFile, "olva");
        *tone_time = s.tone_time;
        *silence_time = s.silence_time;
        *dtmf_cof = s.dtmf_cof;
        *dtmf_scale = s.dtmf_scale;
        *speaker_volume = s.speaker_volume;
        return OLVA_OK;
    } catch (...) {
        return OLVA_ERR_EXCEPTION;
    }
}

int olva_get_usernum(unsigned long h, char* data, int len)
{
    return with_manager([=](OlvaManager& m) -> int {
        if (!data || len < 16)
            return OLVA_ERR_INVALID_PARAM;
        const int result = m.olva_get_usernum(h, reinterpret_cast<unsigned char*>(data), 16);
        return result == OLVA_OK ? 16 : result;
    });
}

int olva_read_eeprom(unsigned long h, unsigned addr, unsigned char* data, int len)
{
    return read_eeprom(h, addr, data, len);
}

int olva_read_eepromEx(unsigned long h, unsigned addr, unsigned char* data, int len)
{
    return read_eeprom(h, addr, data, len);
}

int olva_write_eeprom(unsigned long h, unsigned addr, unsigned char* data, int len)
{
    return with_eeprom_window(h, addr, data, len, [&](OlvaManager& m, unsigned box_addr) {
        return m.olva_write_eeprom(h, box_addr, data, len);
    });
}

int olva_write_usernum()
{
    return OLVA_ERR_NOT_AVAILABLE;
}

int olva_get_work_mode()
{
    return OLVA_ERR_NOT_AVAILABLE;
}

int olva_get_dev_data()
{
    return OLVA_ERR_NOT_AVAILABLE;
}

int olva_set_dev_data()
{
    return OLVA_ERR_NOT_AVAILABLE;
}

int olva_write_gsm_devtype()
{
    return OLVA_ERR_NOT_AVAILABLE;
}

int olva_delete_file(const char* path)
{
    struct stat info;
    if (const int checked = examine(path, info); checked != OLVA_OK)
        return checked;
    if (std::remove(path) != 0) {
        logger(1, kModule, "", "delete file %s failed: %s", path, std::strerror(errno));
        return OLVA_ERR_FAILED;
    }
    return OLVA_OK;
}

int olva_judge_file_size(const char* path)
{
    struct stat info;
    if (const int checked = examine(path, info); checked != OLVA_OK)
        return checked;
    // The result cannot tell a larger size.
    if (info.st_size > INT_MAX) {
        logger(1, kModule, "", "file %s is too large to tell its size", path);
        return OLVA_ERR_FAILED;
    }
    return static_cast<int>(info.st_size);
}

int olva_uploadFile(const void*, const void*, const void*)
{
    return OLVA_ERR_UNSUPPORTED;
}

}  // extern "C"
