// An SMS to send, turned into the PDUs of its parts: UCS2 text, one
// SMS-SUBMIT when it fits in 140 octets, else a concatenated series whose
// parts carry 134 octets of text each behind their 6-octet header. Each PDU
// ends in Ctrl-Z, ready for the module after its "> " prompt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gsm {

// The text is UCS2 already, written as hex digits; any other type is UTF-8.
inline constexpr int kSmsTypeUcs2Hex = 0;
// Hex characters of UCS2 in one unsplit SMS (140 octets) and in one part
// of a concatenated one (134 octets, 67 characters).
inline constexpr std::size_t kSingleSmsHexChars = 280;
inline constexpr std::size_t kSmsPartHexChars = 268;
// The longest destination number.
inline constexpr std::size_t kMaxSmsNumberDigits = 15;

struct SmsPlan {
    std::vector<std::string> pdus;  // in part order, each ending in Ctrl-Z
    std::size_t ucs2_hex_chars = 0; // the text's UCS2 as hex characters
    std::string error;              // why nothing can be sent; empty when sent
};

// The parts of the text for number through the service centre (digits,
// may be empty), with reference as the concatenation reference. At most
// max_parts parts: a longer text is refused.
SmsPlan plan_sms(const std::string& service_centre, std::string_view number, int type,
                 std::string_view text, std::uint8_t reference, std::size_t max_parts);

}  // namespace gsm
