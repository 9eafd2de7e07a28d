// The Tz2701A's bridge to its GSM module and box controller, in reports of
// the Tz2401 family (tz2401_report.h):
//   one-cycle write   [3, 0xA5, a1..a6]
//   two-cycle write   [3, 0xA1, m0..m3, v, 7] + [3, 0xA2, m4..m7, v, 7]
//                     carries one 8-byte message m
//   write-read        [3, 0xA0, sub, x1..x4, 0]
// Text to the module and the module's bytes back go in chunks whose head
// is 0x80 plus the byte count; the module's bytes arrive as
//   [3, 0x80 + n, c0..c(n-1)]     n 1 to 6
// and the box's status as [3, 0x91, ...].
#pragma once

#include <cstddef>
#include <cstdint>

namespace tz2701 {

inline constexpr std::uint8_t kOneCycle = 0xA5;
inline constexpr std::uint8_t kFirstHalf = 0xA1;
inline constexpr std::uint8_t kSecondHalf = 0xA2;
inline constexpr std::uint8_t kWriteRead = 0xA0;
inline constexpr std::uint8_t kTwoCycleEnd = 0x07;
inline constexpr std::size_t kMessageSize = 8;

// Text chunks, both ways.
inline constexpr std::uint8_t kTextHead = 0x80;  // + the byte count
inline constexpr int kMaxTextChunk = 6;
inline constexpr std::size_t kTextAt = 2;  // where an input chunk's bytes begin

// The box's status report.
inline constexpr std::uint8_t kStatusHead = 0x91;

// GPIO pins of the box's audio switches.
inline constexpr int kGpioSlicRecord = 16;
inline constexpr int kGpioEarphoneRecord = 17;
inline constexpr int kGpioGsmRecord = 18;
inline constexpr int kGpioPlayToSlic = 19;
inline constexpr int kGpio20 = 20;
inline constexpr int kGpio21 = 21;

// True for a report that carries the module's bytes.
constexpr bool is_text_head(std::uint8_t head)
{
    return head > kTextHead && head <= kTextHead + kMaxTextChunk;
}

}  // namespace tz2701
