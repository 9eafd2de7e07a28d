// The configuration the Tz2501B's codec EEPROM (a 24C02) should hold. The
// box's open compares it byte by byte and logs differences; it is never
// written to the box.
#pragma once

#include <cstdint>

extern const std::uint8_t TZ2501B_eeprom[256];
