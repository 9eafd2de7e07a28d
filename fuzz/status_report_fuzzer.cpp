// The Tz2401B's 8-byte input reports through its decoders: status codes,
// the clock and the line voltage, the parameter replies and the EEPROM
// replies. Bit 1 of the first byte chooses the newer firmware's voltage
// form; the rest is the reports, the last one perhaps cut short.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2401_status_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kReportSize = 8;
    if (size == 0)
        return 0;
    const std::uint8_t firmware = (data[0] & 0x02) ? 0x40 : 0x30;
    for (std::size_t at = 1; at < size; at += kReportSize) {
        const std::size_t length = std::min(kReportSize, size - at);
        decode_tz2401_status(data + at, length, firmware);
        if (length < kReportSize)
            break;
        std::uint8_t value = 0;
        tz2401_param_value(data + at, false, value);
        tz2401_param_value(data + at, true, value);
        tz2401_paramex_reply(data + at);
    }
    return 0;
}
