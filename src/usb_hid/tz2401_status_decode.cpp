#include "usb_hid/tz2401_status_decode.h"

#include "usb_hid/tz2401_report.h"

namespace {

constexpr std::uint8_t kKindStatus = 1;
constexpr std::uint8_t kKindVoltage = 16;
constexpr std::uint8_t kClockCode = 19;
constexpr std::uint8_t kNibbleVoltageFirmware = 64;
// Older firmware sends the volts in byte 1; 0, 254 and 255 are no reading.
constexpr int kMinVolts = 1;
constexpr int kMaxVolts = 253;

struct StatusCode {
    std::uint8_t code;
    ENUM_OLVA_STATE line;
};
constexpr StatusCode kStatusCodes[] = {
    {7, OLVA_STATE_FLOATING},
    {8, OLVA_STATE_IDLE},
    {15, OLVA_STATE_RINGING},
    {22, OLVA_STATE_OFF_HOOK},
};

Tz2401Voltage read_voltage(const std::uint8_t* report, std::uint8_t firmware)
{
    Tz2401Voltage voltage;
    voltage.byte1 = report[1];
    if (firmware < kNibbleVoltageFirmware) {
        voltage.volts = report[1];
        voltage.usable = voltage.volts >= kMinVolts && voltage.volts <= kMaxVolts;
        return voltage;
    }
    voltage.nibbles = true;
    voltage.byte4 = report[4];
    voltage.byte5 = report[5];
    const int high = report[5] & 0x0F;
    const int low = report[4] >> 4;
    voltage.volts = (high << 4) | low;
    voltage.check = (high + low + report[4]) & 0x0F;
    voltage.usable = voltage.check == 0 && voltage.volts != 0;
    return voltage;
}

}  // namespace

Tz2401Status decode_tz2401_status(const std::uint8_t* report, std::size_t length,
                                  std::uint8_t firmware)
{
    Tz2401Status status;
    if (!report || length < tz2401::kReportSize || report[0] != tz2401::kReportId)
        return status;
    if (report[2] == kKindStatus) {
        if (report[1] == kClockCode) {
            status.kind = Tz2401Status::Kind::kClock;
            return status;
        }
        for (const StatusCode& row : kStatusCodes) {
            if (row.code == report[1]) {
                status.kind = Tz2401Status::Kind::kLine;
                status.line = row.line;
            }
        }
        return status;
    }
    if (report[2] == kKindVoltage) {
        status.kind = Tz2401Status::Kind::kVoltage;
        status.voltage = read_voltage(report, firmware);
    }
    return status;
}
