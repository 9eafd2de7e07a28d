// The Tz2701A's 8-byte input reports through its status decoder. Bit 0 of
// the first byte says whether the box has a module; the rest is the
// reports, the last one perhaps cut short.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "usb_hid/tz2701_status_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kReportSize = 8;
    if (size == 0)
        return 0;
    const bool has_module = data[0] & 0x01;
    for (std::size_t at = 1; at < size; at += kReportSize)
        decode_tz2701_status(data + at, std::min(kReportSize, size - at), has_module);
    return 0;
}
