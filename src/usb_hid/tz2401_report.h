// The Tz2401 family's reports (Tz2401B, Tz2701A): 8 bytes behind report id
// 3, both ways. A command goes out as
//   [3, cmd, p1, p2, 0, 0, 0, 0]
// and a request is a command whose answer is the next input report.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tz2401 {

inline constexpr std::uint8_t kReportId = 3;
inline constexpr std::size_t kReportSize = 8;

// Commands sent from more than one place.
inline constexpr std::uint8_t kHangThreshold = 0xB8;     // p1, p2: the threshold word
inline constexpr std::uint8_t kHookOffThreshold = 0xB7;  // p1, p2: the threshold word
inline constexpr std::uint8_t kLineVoltageOff = 0x90;
// The Tz2401B's EEPROM: a write in two halves [3, 0xA3 or 0xA4, d0..d3,
// addr, count], a read of bytes 0-3 and 4-7 whose answers echo the code.
inline constexpr std::uint8_t kEepromWriteFirst = 0xA3;
inline constexpr std::uint8_t kEepromWriteSecond = 0xA4;
inline constexpr std::uint8_t kEepromReadFirst = 0xB1;
inline constexpr std::uint8_t kEepromReadSecond = 0xB2;

}  // namespace tz2401
