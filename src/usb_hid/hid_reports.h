// Pure encoding and decoding of the boxes' reports: no I/O here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "usb_hid/tz2401_report.h"

// Tz2401 family: the threshold word of commands 0xB8 and 0xB7. The word
// holds the threshold in bits 4-11 and a check nibble that makes its three
// nibbles add up to 16:
//   18 = 0x12 -> 0x12D -> p1 0x2D, p2 0x01
// False when the threshold is outside 0..255 or its nibbles add up to more
// than 16 or to 0 (no check nibble fits). Such a value is refused rather
// than sent with a signed check: a negative check sets bits 4-11 of the
// word, so the box would read threshold 255 and find the nibbles' sum
// wrong; a check of 16 carries into the threshold (0 would read as 1).
bool tz2401_threshold_word(int threshold, std::uint8_t& p1, std::uint8_t& p2);

// Tz2401 family: the value of a one-byte parameter reply
//   [3, value, form, b3, b4, b5, -, -]
// Forms 0x10 (0xFE and 0xFF are refusals) and 0x20 (a value of 0x80 or more
// holds only when b3 is below 0x80). With packed_voltage the value is
// b5 << 4 | b4 >> 4 whatever the rest holds. False: no value.
bool tz2401_param_value(const std::uint8_t reply[tz2401::kReportSize], bool packed_voltage,
                        std::uint8_t& out);

enum class ParamexReply { kData, kEmpty, kRefused };
// Tz2401 family EEPROM reply [3, 0xB1 or 0xB2, d0, d1, d2, d3, -, -]:
// kData with bytes 2-5; kEmpty for a report starting 0, 0, 0 (worth asking
// again); kRefused for anything else.
ParamexReply tz2401_paramex_reply(const std::uint8_t reply[tz2401::kReportSize]);

// Tz2501B 4-byte status report [0, status, -, 0x3n]: true with bits 0-2
// taken from status bits 5, 7 and 6.
bool tz2501b_status_bits(const std::uint8_t report[4], std::uint8_t& bits);

// The firmware version as a number: model 8 reads version byte 2 in hex
// digits as a decimal number (0x20 gives 20); the others read "v1.v2" in
// hex digits and divide by 10 (0x42, 0x00 give 4.2).
float hid_version_number(int model, std::uint8_t version1, std::uint8_t version2);

// Stored user-number copies: 16 bytes and a check byte, the 17 adding up to
// 0 modulo 256. The sum of length bytes modulo 256.
std::uint8_t user_number_sum(const std::uint8_t* bytes, std::size_t length);

// Tz2701A input reports [3, kind, ...]: kind 0x81..0x86 carries GSM bytes,
// 0x91 the box's status; any other report answers a request of the host
// (an EEPROM read [3, 0xA3, hi, lo, d0, d1, d2, d3], a buzzer query, the
// echo test) and goes to the synchronous reader.
bool tz2701_is_reply(const std::uint8_t* report, std::size_t length);

// " 0x03 0x42 ..." for a log line.
std::string hid_hex_bytes(const std::uint8_t* data, std::size_t length);
// " 03 42 ..." for a log line.
std::string hid_spaced_hex(const std::uint8_t* data, std::size_t length);
