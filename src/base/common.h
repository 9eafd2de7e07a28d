// Small text helpers for GSM module output and SMS PDUs.
#pragma once

#include <cstdint>
#include <string>

// Removes leading and trailing space, CR, LF and TAB in place.
void trim(std::string& s);

// The value of the first min(len, 8) hexadecimal digits of text (stops at
// the end of the text); 0 for len 0.
std::uint32_t GSM_StringToHex(const char* text, std::uint8_t len);

// Decodes a number in swapped semi-octets ("2143F5" gives "12345"): reads at
// most len characters of src (stopping at its end) and writes at most len
// digits to dst, unterminated. Returns the number of digits written, 0 when
// src holds something other than digits and the 'F' filler.
int ChartoPhoneNum(const char* src, char* dst, std::uint8_t len);
