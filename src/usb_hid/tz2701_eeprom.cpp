// Tz2701A: the memory behind the box controller, reached by messages through
// the bridge (tz2701_bridge.cpp):
//   read     one-cycle [0x00, 0x32, hi, lo, 0, 0], then the write-read
//            request [sub 0xA3, 0x07, 0x00, hi, lo]; the answer carries the
//            four bytes in bytes 4..7
//   write    two-cycle payload [0x31, dev, addr, d0, d1, d2, d3, 0x00]
//   erase    two-cycle payload [0x30, unit, 0xCF, unit ^ 0xFF, 0x55, 0x55, 0x55, 0x00]
// Each message goes out under the command mutex, so that its reports and
// the answer are not mixed with another message's.
#include <algorithm>
#include <cstring>

#include "usb_hid/hid_device.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2701_bridge_reports.h"

namespace {

using tz2401::kReportSize;
using tz2701::kMessageSize;

constexpr int kPieceSize = 4;
constexpr std::uint8_t kSetReadAddress = 0x32;
constexpr std::uint8_t kReadRequest = 0xA3;
constexpr std::uint8_t kWriteMessage = 0x31;
constexpr std::uint8_t kEraseMessage = 0x30;
constexpr int kAnswerDataOffset = 4;

}  // namespace

int HidDevice::Tz2701_read_eeprom(std::uint8_t hi, std::uint8_t lo, std::uint8_t* dst, int len)
{
    if (!dst || len < 1)
        return 0;
    RecordUse use(*this);
    if (!use)
        return 0;
    CommandLock lock(*this);
    // Without the address the answer would be for whatever was asked before.
    if (!Tz2701_i2c_one_cycle_write(0x00, kSetReadAddress, hi, lo, 0x00, 0x00)) {
        hid_log(1, "%s address [%d,%d] not sent", __func__, hi, lo);
        return 0;
    }
    // Armed before the request: the answer may come while the write returns.
    const std::uint64_t token = hid_arm_read(use.get());
    if (!Tz2701_i2c_write_read(kReadRequest, 0x07, 0x00, hi, lo))
        return 0;
    std::uint8_t answer[kReportSize] = {};
    const int result = Tz2701_read_reply(use.get(), token, answer);
    if (result < static_cast<int>(kReportSize)) {
        hid_log(1, "%sread error result:%d", __func__, result);
        return 0;
    }
    std::memcpy(dst, answer + kAnswerDataOffset, static_cast<std::size_t>(std::min(len, kPieceSize)));
    return 1;
}

bool HidDevice::Tz2701_write_eeprom(std::uint8_t dev, std::uint8_t addr, const std::uint8_t* data,
                                    int len)
{
    if (len > kPieceSize) {
        hid_log(1, "%swrite len is big than %d", __func__, len);
        return false;
    }
    if (!data || len < 1 || !has_tz2701_bridge())
        return false;
    std::uint8_t piece[kPieceSize] = {};
    // The message always stores four bytes: a shorter piece carries the
    // stored bytes beside it, or the write would zero them.
    if (len < kPieceSize && !Tz2701_read_eeprom(dev, addr, piece, kPieceSize)) {
        hid_log(1, "%s cannot keep the bytes beside [%d,%d], nothing written", __func__, dev,
                addr);
        return false;
    }
    std::memcpy(piece, data, static_cast<std::size_t>(len));
    const std::uint8_t payload[kMessageSize] = {kWriteMessage, dev,      addr,     piece[0],
                                                piece[1],      piece[2], piece[3], 0x00};
    CommandLock lock(*this);
    return Tz2701_i2c_two_cycle_write(0, payload) == 1;
}

void HidDevice::Tz2701_erase_eeprom(std::uint8_t unit)
{
    if (!has_tz2701_bridge())
        return;
    const std::uint8_t payload[kMessageSize] = {
        kEraseMessage, unit, 0xCF, static_cast<std::uint8_t>(unit ^ 0xFF), 0x55, 0x55, 0x55, 0x00};
    CommandLock lock(*this);
    Tz2701_i2c_two_cycle_write(0, payload);
}
