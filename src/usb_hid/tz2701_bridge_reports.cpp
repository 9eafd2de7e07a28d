// Tz2701A: the three 8-byte reports that carry every message through the
// box's bridge, report id 3 first:
//   one-cycle write       [3, 0xA5, a1, a2, a3, a4, a5, a6]
//   two-cycle write       [3, 0xA1, p0, p1, p2, p3, v, 7] [3, 0xA2, p4, p5, p6, p7, v, 7]
//   write-read request    [3, 0xA0, sub, x1, x2, x3, x4, 0]
// The callers hold the command mutex where a message takes more than one
// report.
#include <chrono>

#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"

namespace {

constexpr unsigned long kReportSize = 8;
constexpr int kOneCycleTries = 3;
constexpr int kHalfTries = 2;

}  // namespace

int HidDevice::Tz2701_i2c_one_cycle_write(std::uint8_t a1, std::uint8_t a2, std::uint8_t a3,
                                          std::uint8_t a4, std::uint8_t a5, std::uint8_t a6)
{
    if (model_.load() != OLVA_PRODUCT_TZ2701A || closing_.load() || unplugged_.load())
        return 0;
    const std::uint8_t report[kReportSize] = {3, 0xA5, a1, a2, a3, a4, a5, a6};
    for (int attempt = 0; attempt < kOneCycleTries; ++attempt) {
        if (sync_write(report, kReportSize))
            return 1;
    }
    return 0;
}

int HidDevice::Tz2701_i2c_two_cycle_write(std::uint8_t v, const std::uint8_t payload[8])
{
    const std::uint8_t first[kReportSize] = {3,          0xA1,       payload[0], payload[1],
                                             payload[2], payload[3], v,          7};
    const std::uint8_t second[kReportSize] = {3,          0xA2,       payload[4], payload[5],
                                              payload[6], payload[7], v,          7};
    for (int attempt = 0; attempt < kHalfTries && !sync_write(first, kReportSize); ++attempt) {
    }
    bool sent = false;
    for (int attempt = 0; attempt < kHalfTries && !sent; ++attempt)
        sent = sync_write(second, kReportSize);
    return sent ? 1 : 0;
}

int HidDevice::Tz2701_i2c_write_read(std::uint8_t sub, std::uint8_t x1, std::uint8_t x2,
                                     std::uint8_t x3, std::uint8_t x4)
{
    if (model_.load() != OLVA_PRODUCT_TZ2701A || closing_.load() || unplugged_.load())
        return 0;
    const std::uint8_t report[kReportSize] = {3, 0xA0, sub, x1, x2, x3, x4, 0};
    return sync_write(report, kReportSize) ? 1 : 0;
}

int HidDevice::Tz2701_read_reply(hid_device_* dev, std::uint64_t token, std::uint8_t reply[8])
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(reply_timeout_ms_);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return 0;
        const int result = hid_read_armed(dev, token, reply, kReportSize, static_cast<int>(left));
        // GSM bytes and status reports that come meanwhile are not the answer.
        if (result <= 0 || tz2701_is_reply(reply, static_cast<std::size_t>(result)))
            return result;
    }
}
