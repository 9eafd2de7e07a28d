// The Tz2401B's 8-byte input reports, read for what the box does with them:
//
//   [3, 8, 1, 0, 0, 0, 0, 0]          status code 8: the line is idle
//   [3, 19, 1, 0, 0, 0, 0, 0]         status code 19: the line's clock
//   [3, 0, 16, 0, 0x7F, 0x0A, 0, 0]   line voltage 167 (0xA7) in nibbles
//
// No I/O here: the box applies the result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/olva_types.h"

// One clock report stands for this much of the line's time.
inline constexpr unsigned long kTz2401ClockStepMs = 100;

// A voltage report as its form reads. From firmware byte 64 on the volts
// come as two nibbles, high in byte 5 and low in the high nibble of byte 4,
// whose low nibble makes the three add up to 0 modulo 16; older firmware
// sends them in byte 1.
struct Tz2401Voltage {
    std::uint8_t byte1 = 0;
    bool nibbles = false;  // the newer firmware's form
    std::uint8_t byte4 = 0;
    std::uint8_t byte5 = 0;
    int check = 0;  // the nibbles' sum modulo 16: 0 when they agree
    int volts = 0;
    bool usable = false;  // the form's own checks passed
};

struct Tz2401Status {
    enum class Kind {
        kNone,     // not a status or voltage report, or a code with no meaning
        kClock,    // code 19
        kLine,     // a line reading
        kVoltage,  // a voltage report
    };
    Kind kind = Kind::kNone;
    ENUM_OLVA_STATE line = OLVA_STATE_IDLE;  // kLine
    Tz2401Voltage voltage;                  // kVoltage
};

// firmware is the box's version byte 1, which chooses the voltage form.
Tz2401Status decode_tz2401_status(const std::uint8_t* report, std::size_t length,
                                  std::uint8_t firmware);
