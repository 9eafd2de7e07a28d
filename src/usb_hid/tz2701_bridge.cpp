// Tz2701A bridge reports (tz2701_bridge_reports.h), and a message of any
// length cut into text chunks:
//   6 bytes       two-cycle 0x86, c0..c5, 0
//   5 bytes last  two-cycle 0x85, c0..c4, 0, 0
//   1-4 bytes     one-cycle 0, 0x80 + n, c0, c1..c3 or 0
// "AT\r" goes as [3, 0xA5, 0x00, 0x83, 'A', 'T', '\r', 0x00].
#include <algorithm>
#include <chrono>

#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2701_bridge_reports.h"

namespace {

using tz2401::kReportId;
using tz2401::kReportSize;
using namespace tz2701;

constexpr int kOneCycleTries = 3;
constexpr int kDirectChunk = 4;
// The bridge needs these pauses to pass a chunk on to the module.
constexpr int kChunkPauseMs = 5;
constexpr int kMessageEndPauseMs = 10;
constexpr const char* kHangUp = "ATH\r";

}  // namespace

bool HidDevice::Tz2701_may_write() const
{
    return has_tz2701_bridge() && !closing_.load() && !unplugged_.load();
}

int HidDevice::Tz2701_i2c_one_cycle_write(std::uint8_t a1, std::uint8_t a2, std::uint8_t a3,
                                          std::uint8_t a4, std::uint8_t a5, std::uint8_t a6)
{
    if (!Tz2701_may_write())
        return 0;
    const std::uint8_t report[kReportSize] = {kReportId, kOneCycle, a1, a2, a3, a4, a5, a6};
    for (int attempt = 0; attempt < kOneCycleTries; ++attempt)
        if (sync_write(report, kReportSize))
            return 1;
    hid_log(1, "%s one-cycle write 0x%02x failed", __func__, a2);
    return 0;
}

int HidDevice::Tz2701_i2c_two_cycle_write(std::uint8_t v,
                                          const std::uint8_t payload[kMessageSize])
{
    const std::uint8_t first[kReportSize] = {kReportId, kFirstHalf, payload[0], payload[1],
                                             payload[2], payload[3], v, kTwoCycleEnd};
    const std::uint8_t second[kReportSize] = {kReportId, kSecondHalf, payload[4], payload[5],
                                              payload[6], payload[7], v, kTwoCycleEnd};
    if (!sync_write(first, kReportSize))
        sync_write(first, kReportSize);
    bool sent = sync_write(second, kReportSize);
    if (!sent)
        sent = sync_write(second, kReportSize);
    return sent ? 1 : 0;
}

int HidDevice::Tz2701_i2c_write_read(std::uint8_t sub, std::uint8_t x1, std::uint8_t x2,
                                     std::uint8_t x3, std::uint8_t x4)
{
    if (!Tz2701_may_write())
        return 0;
    const std::uint8_t report[kReportSize] = {kReportId, kWriteRead, sub, x1, x2, x3, x4, 0};
    return sync_write(report, kReportSize) ? 1 : 0;
}

int HidDevice::Tz2701_read_reply(hid_device_* dev, std::uint64_t token,
                                 std::uint8_t reply[kReportSize])
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(reply_timeout_ms_);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return 0;
        const int result =
            hid_read_timeout(dev, token, reply, kReportSize, static_cast<int>(left));
        // GSM bytes and status reports that come meanwhile are not the answer.
        if (result <= 0 || tz2701_is_reply(reply, static_cast<std::size_t>(result)))
            return result;
    }
}

int HidDevice::Tz2701_Send_HidCmd(const std::uint8_t* data, int len)
{
    if (!data || len <= 0)
        return 0;
    CommandLock lock(*this);
    int result = 0;
    int at = 0;
    for (; len - at >= kMaxTextChunk; at += kMaxTextChunk) {
        std::uint8_t payload[kMessageSize] = {kTextHead + kMaxTextChunk};
        std::copy(data + at, data + at + kMaxTextChunk, payload + 1);
        result = Tz2701_i2c_two_cycle_write(0, payload);
        platform::sleeper().sleepMs(kChunkPauseMs);
    }
    const int rest = len - at;
    if (rest == 0)
        return result;
    if (rest == 5) {
        std::uint8_t payload[kMessageSize] = {kTextHead + 5};
        std::copy(data + at, data + len, payload + 1);
        result = Tz2701_i2c_two_cycle_write(0, payload);
    } else {
        std::uint8_t text[4] = {};
        std::copy(data + at, data + len, text);
        result = Tz2701_i2c_one_cycle_write(0, static_cast<std::uint8_t>(kTextHead + rest),
                                            text[0], text[1], text[2], text[3]);
    }
    platform::sleeper().sleepMs(kMessageEndPauseMs);
    return result;
}

int HidDevice::Tz2701_Send_MsgToGsm_noqueue(const std::uint8_t* data, int len)
{
    if (!data || len <= 0)
        return 0;
    CommandLock lock(*this);
    int result = 0;
    for (int at = 0; at < len; at += kDirectChunk) {
        const int n = std::min(kDirectChunk, len - at);
        std::uint8_t text[4] = {};
        std::copy(data + at, data + at + n, text);
        result = Tz2701_i2c_one_cycle_write(0, static_cast<std::uint8_t>(kTextHead + n), text[0],
                                            text[1], text[2], text[3]);
    }
    return result;
}

int HidDevice::Tz2701_hangup()
{
    hid_log(4, "%s hangup", __func__);
    return Tz2701_Send_MsgToGsm_noqueue(reinterpret_cast<const std::uint8_t*>(kHangUp), 4);
}
