// Tz2701A: the set-up once a box is identified as one (USB mode, the GSM
// module's type and SIM slot, the talk paths and GPIOs queued for the pump)
// and the status request that its read loop sends.
#include "base/platform/sleeper.h"
#include "gsm/device_commands.h"
#include "gsm/startup_script.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2701_bridge_reports.h"

namespace {

// The module needs this long after identification before it is spoken to.
constexpr int kSettleMs = 1000;
constexpr std::uint8_t kModuleControl = 0x14;
constexpr int kUsbModeReports = 5;
constexpr int kUsbModePauseMs = 10;
constexpr int kTypeAttempts = 5;
constexpr std::uint8_t kStatusRequest = 0xA1;

using namespace tz2701;

struct GpioSetting {
    int gpio;
    int value;
};

}  // namespace

bool HidDevice::Tz2701_read_type(std::uint8_t reply[tz2401::kReportSize])
{
    RecordUse use(*this);
    if (!use)
        return false;
    // Armed before the request: the reply may come while the write returns.
    const std::uint64_t token = hid_arm_read(use.get());
    if (!Tz2701_i2c_write_read(kStatusRequest, 0x07, 0, 0, 0))
        return false;
    const int result =
        hid_read_timeout(use.get(), token, reply, tz2401::kReportSize, reply_timeout_ms_);
    if (result <= 0) {
        hid_log(1, "%s read GSM device type failed, res=%d ", __func__, result);
        return false;
    }
    hid_log(4, "%s read type:0x%x, 0x%x,0x%x,0x%x,0x%x,0x%x", __func__, reply[0], reply[1],
            reply[2], reply[3], reply[4], reply[5]);
    if (reply[0] != tz2401::kReportId || reply[1] != tz2701::kStatusHead) {
        hid_log(1, "%s read GSM device type failed ", __func__);
        return false;
    }
    return true;
}

void HidDevice::Tz2701_setup()
{
    hid_log(4, "%s find Tz2701 device ", __func__);
    platform::sleeper().sleepMs(kSettleMs);
    for (int i = 0; i < kUsbModeReports; ++i) {
        Tz2701_i2c_one_cycle_write(0, gsm::kCodeUsbMode, 1, 0, 0, 0);
        platform::sleeper().sleepMs(kUsbModePauseMs);
    }
    for (int attempt = 0; attempt < kTypeAttempts; ++attempt) {
        std::uint8_t reply[tz2401::kReportSize] = {};
        if (!Tz2701_read_type(reply))
            continue;
        version2_.store(reply[2]);
        hid_log(4, reply[2] == gsm::kModuleType4G ? "%s device is 4G " : "%s device is 2G ", __func__);
        set_simcard_state(reply[3], reply[4], reply[5]);
        break;
    }

    Tz2401_write_cmd(tz2401::kReportId, kModuleControl, 0, 0);
    for (const GpioSetting& g :
         {GpioSetting{kGpioGsmRecord, 1}, GpioSetting{kGpioSlicRecord, 0},
          GpioSetting{kGpioEarphoneRecord, 1}})
        Tz2701_gpio_set(g.gpio, g.value);
    for (const std::uint8_t path : {gsm::kCodeSlicToGsm, gsm::kCodeGsmToSlic,
                                    gsm::kCodeSlicToEarphone, gsm::kCodeEarphoneToSlic})
        Tz2701_set_talk_path(path, 0);
    for (const GpioSetting& g :
         {GpioSetting{kGpio20, 0}, GpioSetting{kGpio21, 0}, GpioSetting{kGpioPlayToSlic, 0}})
        Tz2701_gpio_set(g.gpio, g.value);
    Tz2701_set_talk_path(gsm::kCodeEarphoneToGsm, 0);
    Tz2701_set_talk_path(gsm::kCodeGsmToEarphone, 1);
    Tz2401_write_cmd(tz2401::kReportId, kModuleControl, 0, 0);
    Tz2701_read_user();
}

void HidDevice::set_simcard_state(std::uint8_t standalone, std::uint8_t sim_a, std::uint8_t sim_b)
{
    if (standalone == 0) {
        Tz2701_i2c_one_cycle_write(0, gsm::kCodeUsbMode, 1, 0, 0, 0);
        hid_log(1, "%s device work in standalone mode", __func__);
    }
    if (version2_.load() == 0)
        return;
    if (sim_a == 0 && sim_b == 0)
        active_sim_.store(0);
    else if (sim_a == 1 && sim_b == 0)
        active_sim_.store(1);
    else
        return;
    hid_log(4, "%s++  sim %d is working", __func__, active_sim_.load() + 1);
}

int HidDevice::Tz2701_read_state()
{
    if (!has_tz2701_bridge() || !is_open() || closing_.load() ||
        unplugged_.load())
        return 0;
    // A holder of the command mutex may wait for an answer that only this
    // thread reaps: the request is then left to it. Tried once more, in
    // case the holder let go before it could see the request owed.
    std::unique_lock<std::mutex> lock(cmd_mutex_, std::try_to_lock);
    status_owed_.store(true);
    if (lock.owns_lock() || lock.try_lock())
        send_owed_status_request();
    return 0;
}

void HidDevice::send_owed_status_request()
{
    if (status_owed_.exchange(false))
        Tz2701_i2c_write_read(kStatusRequest, 0x07, 0, 0, 0);
}
