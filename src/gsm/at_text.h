// Small, bounded readers of the module's line fields, and the checks on
// what callers may put into an AT command.
#pragma once

#include <cstddef>
#include <string>

namespace gsm {

// Longest telephone number taken from or given to the module.
inline constexpr std::size_t kMaxNumber = 64;

// The text behind the first n characters, empty when the line is shorter.
std::string behind(const std::string& line, std::size_t n);
// The text up to the first comma (all of it without one).
std::string first_field(const std::string& text);
// A quoted field less its first and last character, empty when shorter
// than two characters; at most kMaxNumber characters are kept.
std::string unquote(const std::string& field);
// The decimal number at the start of text after blanks, as atoi reads it
// but bounded: false when no digit comes or it has more than nine digits.
bool read_number(const std::string& text, long& value);

// A number the module may dial: digits, '*', '#' and '+', 1 to kMaxNumber.
bool valid_number(const std::string& number);
// The module's command that plays a caller's number to the extension
// phone: "AT+QLDTMF=1,\"1,0,0,8,6\"\r" for 10086 or "10086" in the quotes
// the module gives it. The digits end at the first other character (at most
// kMaxNumber of them); empty when the number has none.
std::string caller_tones_command(const std::string& number);
// A caller's command text is one command line: no CR or LF of its own
// (the line end is added). Anything else goes to the module as it is.
bool valid_command_text(const std::string& text);

}  // namespace gsm
