// Tz2401 family (Tz2401B, Tz2701A): the command reports (tz2401_report.h)
// and the request/reply pairs that read a parameter back.
#include <algorithm>

#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2401_report.h"

namespace {

using tz2401::kReportSize;

constexpr int kParamexAttempts = 3;
// The line-voltage reading goes on with these two commands, in order.
constexpr std::uint8_t kLineVoltageOn[] = {0xFE, 0x70};

}  // namespace

bool HidDevice::Tz2401_sync_write(const std::uint8_t* data, unsigned long len)
{
    return sync_write(data, len);
}

bool HidDevice::Tz2401_write_cmd(std::uint8_t id, std::uint8_t cmd, std::uint8_t p1,
                                 std::uint8_t p2)
{
    const std::uint8_t report[kReportSize] = {id, cmd, p1, p2, 0, 0, 0, 0};
    CommandLock lock(*this);
    return Tz2401_sync_write(report, kReportSize);
}

long HidDevice::Tz2401_sync_read(std::uint8_t* buf, unsigned long len)
{
    if (unplugged_.load())
        return -1;
    RecordUse use(*this);
    if (!use)
        return -1;
    return hid_read_timeout(use.get(), buf, len, reply_timeout_ms_);
}

long HidDevice::Tz2401_request(std::uint8_t id, std::uint8_t cmd, std::uint8_t p1,
                               std::uint8_t p2, std::uint8_t* reply, unsigned long len)
{
    RecordUse use(*this);
    if (!use)
        return kRequestNotSent;
    // Armed before the request goes out: the reply may come back while the
    // write is still returning.
    const std::uint64_t token = hid_arm_read(use.get());
    if (!Tz2401_write_cmd(id, cmd, p1, p2))
        return kRequestNotSent;
    if (unplugged_.load())
        return -1;
    return hid_read_timeout(use.get(), token, reply, len, reply_timeout_ms_);
}

bool HidDevice::Tz2401_exchange(std::uint8_t id, std::uint8_t cmd, std::uint8_t p1,
                                std::uint8_t p2, std::uint8_t reply[kReportSize],
                                const char* routine)
{
    std::fill(reply, reply + kReportSize, 0);
    const long result = Tz2401_request(id, cmd, p1, p2, reply, kReportSize);
    if (result == kRequestNotSent)
        return false;
    if (result < 1) {
        hid_log(1, "%s read error result:%ld", routine, result);
        return false;
    }
    return true;
}

bool HidDevice::Tz2401_read_param(std::uint8_t& out, std::uint8_t id, std::uint8_t cmd,
                                  std::uint8_t p1, std::uint8_t p2)
{
    std::uint8_t reply[kReportSize];
    if (!Tz2401_exchange(id, cmd, p1, p2, reply, __func__))
        return false;
    hid_log(4, "%s read values =%s ", __func__, hid_hex_bytes(reply, kReportSize).c_str());
    const bool packed_voltage = model_traits(model_.load()).line_voltage &&
                                version1_.load() >= 0x40 && (cmd == 0x50 || cmd == 0x60);
    std::uint8_t value = 0;
    if (!tz2401_param_value(reply, packed_voltage, value))
        return false;
    out = value;
    return true;
}

bool HidDevice::read_paramex(std::uint8_t* out, std::uint8_t id, std::uint8_t cmd,
                             std::uint8_t p1, std::uint8_t p2)
{
    for (int attempt = 0; attempt < kParamexAttempts; ++attempt) {
        std::uint8_t reply[kReportSize];
        if (!Tz2401_exchange(id, cmd, p1, p2, reply, __func__))
            return false;
        switch (tz2401_paramex_reply(reply)) {
        case ParamexReply::kData:
            if (out)
                std::copy(reply + 2, reply + 6, out);
            return true;
        case ParamexReply::kEmpty:
            continue;
        case ParamexReply::kRefused:
            return false;
        }
    }
    return false;
}

void HidDevice::start_read_line_voltage()
{
    if (!is_open())
        return;
    hid_log(4, "%s", __func__);
    line_voltage_reading_.store(true);
    for (const std::uint8_t command : kLineVoltageOn)
        Tz2401_write_cmd(tz2401::kReportId, command, 0, 0);
}

void HidDevice::stop_read_line_voltage()
{
    hid_log(4, "%s", __func__);
    // Cleared first: a report that comes while the box is being told is
    // already no reading.
    line_voltage_reading_.store(false);
    Tz2401_write_cmd(tz2401::kReportId, tz2401::kLineVoltageOff, 0, 0);
}
