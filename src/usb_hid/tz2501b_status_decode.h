// The Tz2501B's status, read for what the box does with it: the three bits
// that tz2501b_status_bits (hid_reports.h) takes from a status report
//
//   [0, 0xC0, 0, 0x31]   bits 0b110: the line idle, the extension on-hook
//
// give the line's reading (bits 1-0) and the extension phone's hook
// (bit 2). No I/O here: the box applies the result.
#pragma once

#include <cstdint>

#include "model/olva_types.h"

struct Tz2501bStatus {
    ENUM_OLVA_STATE line = OLVA_STATE_IDLE;
    bool extension_off_hook = false;
};

Tz2501bStatus decode_tz2501b_status(std::uint8_t bits);
