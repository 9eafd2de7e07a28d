// Opening a box: the HID interface, the read thread where the model needs it
// before probing, identification (Tz2401B or Tz2701A; the Tz2501B's codec
// EEPROM), the Tz2401B's line thresholds from "olva.ini", and the switch to
// the running mode once the box's lines are open.
#include <cstdio>
#include <mutex>

#include "base/base_ini.h"
#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2501b_eeprom.h"

namespace {

constexpr const char* kIniFile = "/olva.ini";
constexpr const char* kIniSection = "device";

constexpr std::uint8_t kProbe = 0x30;
constexpr std::uint8_t kReadVersion = 0xF1;
constexpr std::uint8_t kReadDeviceType = 0xF2;
constexpr std::uint8_t kRingThreshold = 0x3A;
constexpr std::uint8_t kRingAlternations = 0x3B;
constexpr std::uint8_t kReadRingThreshold = 0x3E;
constexpr std::uint8_t kReadRingAlternations = 0x3F;
constexpr std::uint8_t kGsmDeviceType = 0x30;
// From this firmware on the device type tells a Tz2701A from a Tz2401B.
constexpr std::uint8_t kFirstTypedFirmware = 0x43;

constexpr int kProbeCount = 5;
constexpr int kProbePauseMs = 20;
constexpr int kIdentifyAttempts = 5;
constexpr int kIdentifyRetryMs = 1000;

constexpr int kDefaultHangVoltage = 3;
constexpr int kDefaultHookOffVoltage = 18;
constexpr int kDefaultRingThreshold = 15;
constexpr int kDefaultRingAlternations = 3;

// Tz2501B codec EEPROM: read in chunks of 16 bytes; the version byte and the
// user-writable window are not compared with the image.
constexpr int kEepromChunk = 16;
constexpr int kEepromSize = 256;
constexpr int kEepromVersionByte = 0x1C;
constexpr int kEepromWindowFirst = 0x4C;
constexpr int kEepromWindowLast = 0x54;
constexpr std::uint8_t kOldestRegisterFirmware = 0x70;
constexpr std::uint8_t kFirstNewCodecFirmware = 0x80;
constexpr std::uint16_t kMicRegister = 0x282;

}  // namespace

bool HidDevice::hid_open(const char* path, unsigned long index, OLVA_PRODUCT product)
{
    hid_log(3, "%s++  ", __func__);
    hidClose();
    // The slot's last box may have left its number behind.
    clear_user_number();
    device_index_.store(static_cast<long>(index));
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        tag_ = "hid." + std::to_string(index);
    }
    if (!path) {
        hid_log(3, "%s--", __func__);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        path_ = path;
    }
    hid_device_* dev = hid_open_path(path);
    unplugged_.store(false);
    // A status request owed to the last record is not this one's.
    status_owed_.store(false);
    model_.store(product);
    if (!dev) {
        hid_log(1, "%s pszDeviceName =%s,productid=%d, open hid dev failed", __func__, path,
                product);
        hid_log(3, "%s--", __func__);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(use_mutex_);
        dev_ = dev;
    }
    hid_log(4, "%s pszDeviceName =%s,productid=%d, open hid dev ok", __func__, path, product);
    if (product == OLVA_PRODUCT_TZ2401B || product == OLVA_PRODUCT_TZ2701A) {
        // The probes are request/reply pairs whose replies the thread's
        // transfer receives: it must run first.
        if (start_read_thread(dev, true))
            dev->started.wait();
    }
    const bool identified = hid_handle_open();
    hid_log(3, "%s--", __func__);
    return identified;
}

int HidDevice::read_device_setting(const char* key, int default_value)
{
    const std::string ini = app_dir_ + kIniFile;
    const int value = readIntValue(kIniSection, key, ini.c_str());
    if (value != -1)
        return value;
    writeIntValue(kIniSection, key, default_value, ini.c_str());
    return default_value;
}

bool HidDevice::hid_handle_open()
{
    hid_log(3, "%s++  ", __func__);
    device_type_.store(0);
    bool identified = false;
    switch (model_.load()) {
    case OLVA_PRODUCT_TZ2401B:
        identified = Tz2401_identify();
        break;
    case OLVA_PRODUCT_TZ2501B:
        identified = Tz2501B_check_eeprom();
        break;
    default:
        break;
    }
    hid_log(3, "%s--", __func__);
    return identified;
}

bool HidDevice::Tz2401_identify()
{
    set_nonblocking(0);
    for (int i = 0; i < kProbeCount; ++i) {
        Tz2401_write_cmd(tz2401::kReportId, kProbe, 0, 0);
        platform::sleeper().sleepMs(kProbePauseMs);
    }
    set_nonblocking(0);

    std::uint8_t version = 0;
    bool answered = false;
    for (int attempt = 0; attempt < kIdentifyAttempts && !answered; ++attempt) {
        answered = Tz2401_read_param(version, tz2401::kReportId, kReadVersion, 0, 0);
        if (answered)
            break;
        hid_log(1, "%s read 2401 version failed count(%d) ", __func__, attempt);
        Tz2401_write_cmd(tz2401::kReportId, kProbe, 0, 0);
        set_nonblocking(0);
        platform::sleeper().sleepMs(kIdentifyRetryMs);
    }
    if (!answered)
        return false;
    version1_.store(version);
    hid_log(4, "%s  tz2x firmware version:0x%x ", __func__, version);

    std::uint8_t type = 0;
    if (Tz2401_read_param(type, tz2401::kReportId, kReadDeviceType, 0, 0))
        device_type_.store(type);

    if (version >= kFirstTypedFirmware) {
        device_type_.store(0);
        model_.store(OLVA_PRODUCT_TZ2701A);
        for (int attempt = 0; attempt < kIdentifyAttempts; ++attempt) {
            const bool read = Tz2401_read_param(type, tz2401::kReportId, kReadDeviceType, 0, 0);
            if (read)
                device_type_.store(type);
            if (read && type == kGsmDeviceType) {
                hid_log(4, "%s tz2x dev type:0x%x ", __func__, type);
                // A later attempt can find the module after an earlier miss.
                model_.store(OLVA_PRODUCT_TZ2701A);
                Tz2701_setup();
                return true;
            }
            if (!read)
                hid_log(1, "%s get tz2x dev type failed", __func__);
            model_.store(OLVA_PRODUCT_TZ2401B);
            platform::sleeper().sleepMs(kIdentifyRetryMs);
        }
    }

    hid_log(4, "%s dev tz2401 version:0x%x ", __func__, device_type_.load());
    Tz2401_load_thresholds();
    return true;
}

void HidDevice::Tz2401_load_thresholds()
{
    struct Threshold {
        const char* key;
        int default_value;
        std::uint8_t command;
        int value;
    };
    Threshold thresholds[] = {
        {"hang_voltage", kDefaultHangVoltage, tz2401::kHangThreshold, 0},
        {"hook_off_voltage", kDefaultHookOffVoltage, tz2401::kHookOffThreshold, 0},
    };
    for (Threshold& threshold : thresholds)
        threshold.value = read_device_setting(threshold.key, threshold.default_value);
    hid_log(4, "%s hang threshold:%d,hook off threshold:%d", __func__, thresholds[0].value,
            thresholds[1].value);
    for (const Threshold& threshold : thresholds) {
        std::uint8_t p1 = 0;
        std::uint8_t p2 = 0;
        if (!tz2401_threshold_word(threshold.value, p1, p2)) {
            hid_log(1, "%s %s %d does not fit the threshold word, %d is used", __func__,
                    threshold.key, threshold.value, threshold.default_value);
            tz2401_threshold_word(threshold.default_value, p1, p2);
        }
        hid_log(4, "%s %s word sent: p1 0x%02x, p2 0x%02x", __func__, threshold.key, p1, p2);
        Tz2401_write_cmd(tz2401::kReportId, threshold.command, p1, p2);
    }

    const int ring = read_device_setting("ring_vol_thresh", kDefaultRingThreshold);
    const int alternations = read_device_setting("ring_vol_alt_thresh", kDefaultRingAlternations);
    std::uint8_t box_ring = 0;
    std::uint8_t box_alternations = 0;
    Tz2401_read_param(box_ring, tz2401::kReportId, kReadRingThreshold, 0, 0);
    Tz2401_read_param(box_alternations, tz2401::kReportId, kReadRingAlternations, 0, 0);
    hid_log(4,
            "%s before write read ring_vol_thresh:%d, ring_vol_alt_thresh:%d,set ring vol thre:%d, "
            "ring vol alt number:%d",
            __func__, box_ring, box_alternations, ring, alternations);
    Tz2401_write_cmd(tz2401::kReportId, kRingThreshold, static_cast<std::uint8_t>(ring), 0);
    Tz2401_write_cmd(tz2401::kReportId, kRingAlternations,
                     static_cast<std::uint8_t>(alternations), 0);
    Tz2401_read_param(box_ring, tz2401::kReportId, kReadRingThreshold, 0, 0);
    Tz2401_read_param(box_alternations, tz2401::kReportId, kReadRingAlternations, 0, 0);
    hid_log(4, "%s read ring_vol_thresh:%d,ring_vol_alt_thresh:%d", __func__, box_ring,
            box_alternations);
}

bool HidDevice::Tz2501B_check_eeprom()
{
    Tz2501B_GPIO_init();
    Tz2501B_function_setting(7, 0);
    model_.store(OLVA_PRODUCT_TZ2501B);
    for (int chunk = 0; chunk < kEepromSize; chunk += kEepromChunk) {
        std::uint8_t bytes[kEepromChunk] = {};
        if (!Tz2402D_Read_2402(static_cast<std::uint8_t>(chunk), bytes, kEepromChunk)) {
            hid_log(1, "%s read error", __func__);
            continue;
        }
        for (int j = 0; j < kEepromChunk; ++j) {
            const int i = chunk + j;
            if (i == kEepromVersionByte) {
                hid_log(4, "%s dev version:0x%x ", __func__, bytes[j]);
                const std::uint8_t version =
                    bytes[j] >= kFirstNewCodecFirmware ? bytes[j] : kOldestRegisterFirmware;
                version1_.store(version);
                version2_.store(version);
            } else if (i >= kEepromWindowFirst && i <= kEepromWindowLast) {
                continue;
            } else if (bytes[j] != TZ2501B_eeprom[i]) {
                hid_log(1, "%s eeprom data num %d frames (%x)->(%x)", __func__, i, bytes[j],
                        TZ2501B_eeprom[i]);
            }
        }
    }
    hid_log(4, "%s  check eeprom data end product id:%d", __func__, model_.load());
    return true;
}

void HidDevice::create_thread()
{
    if (unplugged_.load() || closing_.load())
        return;
    switch (model_.load()) {
    case OLVA_PRODUCT_TZ2401B:
        Tz2401_write_cmd(tz2401::kReportId, tz2401::kLineVoltageOff, 0, 0);
        set_nonblocking(1);
        break;
    case OLVA_PRODUCT_TZ2701A:
        set_nonblocking(1);
        break;
    case OLVA_PRODUCT_TZ2501B: {
        {
            // A library call may already read the box's user number.
            std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
            std::uint8_t mic = 0;
            if (Tz2402D_Reg_Read(kMicRegister, mic))
                hid_log(4, "%s mic reg 0x%x:0x%x", __func__, kMicRegister, mic);
            else
                hid_log(1, "%sget Tz2501B  mic reg data failed", __func__);
            Tz2501B_Restore_read_gpioaddr();
        }
        if (is_open())
            start_read_thread(nullptr, false);
        break;
    }
    default:
        break;
    }
}
