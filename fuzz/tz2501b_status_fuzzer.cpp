// The Tz2501B's 4-byte status reports through the poll's check and the
// status decoder; each report's status byte is decoded as bits too, as a
// caller that skipped the check would hand it.
#include <cstddef>
#include <cstdint>

#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2501b_status_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kReportSize = 4;
    for (std::size_t at = 0; at + kReportSize <= size; at += kReportSize) {
        std::uint8_t bits = 0;
        if (tz2501b_status_bits(data + at, bits))
            decode_tz2501b_status(bits);
        decode_tz2501b_status(data[at + 1]);
    }
    return 0;
}
