// Parsing of one FSK caller-ID message as the demodulator delivers it:
//   55 55 .. 55 | type | L | L body bytes | checksum
// type 0x04 (single data message): 8 date-and-time bytes, then the number;
// type 0x80 (multiple data message): parameters of type, length, value.
// Pure: no state, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cid_message {

constexpr std::uint8_t kTypeSdmf = 0x04;
constexpr std::uint8_t kTypeMdmf = 0x80;

enum class Parse {
    kIncomplete,  // wait for more bytes
    kEmpty,       // complete with a body length of 0: nothing to report
    kComplete,    // texts hold the message
};

struct Texts {
    std::string number;
    std::string time;
    std::string name;
};

// Parses the bytes received so far. The checksum is not awaited nor
// verified. With type3 a parameter of type 3 adds to the number.
Parse parse(const std::uint8_t* bytes, std::size_t count, bool type3, Texts& texts);

}  // namespace cid_message
