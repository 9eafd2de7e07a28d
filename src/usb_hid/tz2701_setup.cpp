// Tz2701A: the set-up once a box is identified as one, and the status request
// that its read loop sends.
#include "platform/sleeper.h"
#include "usb_hid/hid_device.h"

namespace {

// The module needs this long after identification before it is spoken to.
constexpr int kSettleMs = 1000;
constexpr std::uint8_t kModuleControl = 0x14;
constexpr unsigned long kReportSize = 8;

constexpr HidDevice::GsmLevels kTz2701Levels = {
    .speaker_2g = 40,
    .mic_2g = 5,
    .tone_detection = 1,
    .speaker_4g = 3,
    .mic_gain_4g = {8000, 8000},
    .speaker_ec200 = 4,
    .mic_gain_ec200 = {35000, 35000},
};

}  // namespace

void HidDevice::Tz2701_setup()
{
    hid_log(4, "%s find Tz2701 device ", __func__);
    platform::sleeper().sleepMs(kSettleMs);
    Tz2401_write_cmd(3, kModuleControl, 0, 0);
    Tz2401_write_cmd(3, kModuleControl, 0, 0);
    gsm_levels_ = kTz2701Levels;
    Tz2701_read_user();
}

int HidDevice::Tz2701_read_state()
{
    if (model_.load() != OLVA_PRODUCT_TZ2701A || !is_open() || closing_.load() ||
        unplugged_.load())
        return 0;
    const std::uint8_t request[kReportSize] = {0x03, 0xA0, 0xA1, 0x07, 0x00, 0x00, 0x00, 0x00};
    std::lock_guard<std::mutex> lock(cmd_mutex_);
    sync_write(request, kReportSize);
    return 0;
}
