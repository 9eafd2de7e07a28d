// The boxes' status reports: the Tz2401B's 8-byte input reports and the
// Tz2501B's status bits become raw line states for line 1, which its timer
// debounces; the Tz2401B's code-19 reports are that timer's clock.
#include <exception>

#include "logger.h"
#include "olva_device/olva_device.h"
#include "usb_hid/tz2401_report.h"

namespace {

// [3, code or volts, kind, 0, low nibble << 4, high nibble, 0, 0]
constexpr std::uint8_t kKindStatus = 1;
constexpr std::uint8_t kKindVoltage = 16;
// One status report with this code stands for 100 ms.
constexpr std::uint8_t kClockCode = 19;
constexpr unsigned long kClockStepMs = 100;
// From this firmware byte on the voltage comes as two nibbles with a check.
constexpr std::uint8_t kNibbleVoltageFirmware = 64;
// Older firmware sends the volts in byte 1; 0, 254 and 255 are no reading.
constexpr int kMinVolts = 1;
constexpr int kMaxVolts = 253;

struct StatusCode {
    std::uint8_t code;
    ENUM_OLVA_STATE state;
};
constexpr StatusCode kTz2401bStates[] = {
    {7, OLVA_STATE_FLOATING},
    {8, OLVA_STATE_IDLE},
    {15, OLVA_STATE_RINGING},
    {22, OLVA_STATE_OFF_HOOK},
};

// Tz2501B status bits 1-0.
constexpr ENUM_OLVA_STATE kTz2501bLineStates[4] = {
    OLVA_STATE_RINGING,
    OLVA_STATE_REVERSE_OFF_HOOK,
    OLVA_STATE_IDLE,
    OLVA_STATE_POSITIVE_OFF_HOOK,
};
constexpr std::uint8_t kTz2501bLineMask = 0x03;
// Bit 2 set: the extension phone is on-hook.
constexpr std::uint8_t kTz2501bExtensionOnHook = 0x04;

}  // namespace

void OlvaDevice::handle_hid_read(const std::uint8_t* data, unsigned long len)
{
    if (model() != OLVA_PRODUCT_TZ2401B || !data || len < tz2401::kReportSize ||
        data[0] != tz2401::kReportId)
        return;
    try {
        if (data[2] == kKindStatus) {
            if (data[1] == kClockCode) {
                handle_timer(kClockStepMs);
                return;
            }
            for (const StatusCode& row : kTz2401bStates)
                if (row.code == data[1])
                    line1_.save_tmp_line_state(row.state);
            return;
        }
        if (data[2] != kKindVoltage)
            return;
        BOX_LOG(4, "%svoltage = %d", data[1]);
        int volts;
        if (version1() >= kNibbleVoltageFirmware) {
            const int high = data[5] & 0x0F;
            const int low = data[4] >> 4;
            volts = (high << 4) | low;
            const int check = (high + low + data[4]) & 0x0F;
            BOX_LOG(4, "%svoltage2: 0x%02x, 0x%02x, check=0x%x, voltage:%d", data[4], data[5],
                    check, volts);
            if (check != 0 || volts == 0 || !line_voltage_reading())
                return;
        } else {
            volts = data[1];
            if (volts < kMinVolts || volts > kMaxVolts)
                return;
        }
        fire_event(1, OLVA_EVENT_LINE_VOLTAGE, static_cast<unsigned long>(volts), 0, 0, 0);
    } catch (const std::exception& error) {
        BOX_LOG(1, "%s status report dropped: %s", error.what());
    } catch (...) {
        BOX_LOG(1, "%s status report dropped");
    }
}

void OlvaDevice::handle_Hid_data_Tz2501B(std::uint8_t bits)
{
    line1_.save_tmp_line_state(kTz2501bLineStates[bits & kTz2501bLineMask]);
    line1_.save_tmp_line_slic_state((bits & kTz2501bExtensionOnHook) ? OLVA_STATE_IDLE
                                                                      : OLVA_STATE_OFF_HOOK);
}
