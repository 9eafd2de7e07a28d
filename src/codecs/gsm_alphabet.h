// The GSM 7-bit default alphabet and its extension table, translated to and
// from UTF-8. Septets are unpacked values 0-127, one per byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::uint8_t kGsmEscape = 0x1B;

// The character of each septet; the escape (0x1B) has none of its own and
// shows as a space when nothing valid follows it.
inline constexpr std::array<char16_t, 128> kGsmDefaultAlphabet = {
    u'@',    u'\u00A3', u'$',     u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',
    u'\u00F2', u'\u00C7', u'\n',  u'\u00D8', u'\u00F8', u'\r',     u'\u00C5', u'\u00E5',
    u'\u0394', u'_',    u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',
    u'\u03A3', u'\u0398', u'\u039E', u' ',   u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9',
    u' ', u'!', u'"', u'#', u'\u00A4', u'%', u'&', u'\'', u'(', u')', u'*', u'+', u',', u'-', u'.', u'/',
    u'0', u'1', u'2', u'3', u'4', u'5', u'6', u'7', u'8', u'9', u':', u';', u'<', u'=', u'>', u'?',
    u'\u00A1', u'A', u'B', u'C', u'D', u'E', u'F', u'G', u'H', u'I', u'J', u'K', u'L', u'M', u'N', u'O',
    u'P', u'Q', u'R', u'S', u'T', u'U', u'V', u'W', u'X', u'Y', u'Z',
    u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7',
    u'\u00BF', u'a', u'b', u'c', u'd', u'e', u'f', u'g', u'h', u'i', u'j', u'k', u'l', u'm', u'n', u'o',
    u'p', u'q', u'r', u's', u't', u'u', u'v', u'w', u'x', u'y', u'z',
    u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0',
};

struct GsmExtension {
    std::uint8_t septet;  // the septet after the escape
    char16_t character;
};

inline constexpr std::array<GsmExtension, 10> kGsmExtensionTable = {{
    {0x0A, u'\f'},
    {0x14, u'^'},
    {0x28, u'{'},
    {0x29, u'}'},
    {0x2F, u'\\'},
    {0x3C, u'['},
    {0x3D, u'~'},
    {0x3E, u']'},
    {0x40, u'|'},
    {0x65, u'\u20AC'},
}};

// Septets to UTF-8. An escape followed by a septet that the extension table
// lacks gives that septet's default character; a second escape or an escape
// at the end gives a space. Only the low 7 bits of each byte are read.
std::string gsm7ToUtf8(const std::uint8_t* septets, std::size_t count);

struct Gsm7Text {
    std::vector<std::uint8_t> septets;  // an extension character takes two
    std::size_t replaced = 0;           // characters sent as '?'
};

// UTF-8 to septets; a character the alphabet lacks, or malformed UTF-8,
// becomes '?'.
Gsm7Text utf8ToGsm7(std::string_view utf8);
