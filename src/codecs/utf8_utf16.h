// UTF-8 <-> UTF-16 conversion for SMS text, independent of the process
// locale. Whatever cannot be mapped (malformed UTF-8, lone surrogates) becomes
// U+FFFD, and the result counts the replacements, so a caller can tell a
// faithful conversion from a lossy one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct Utf16Text {
    std::u16string text;
    std::size_t replaced = 0;  // input sequences turned into U+FFFD
};

struct Utf8Text {
    std::string text;
    std::size_t replaced = 0;  // lone surrogates turned into U+FFFD
};

// Every maximal ill-formed subsequence of the input becomes one U+FFFD:
// stray continuation bytes, overlong forms, encoded surrogates, values above
// U+10FFFF and sequences cut short. Characters above U+FFFF become a
// surrogate pair.
Utf16Text utf8ToUtf16(std::string_view utf8);

// A high surrogate followed by a low one is one character; any other
// surrogate becomes U+FFFD.
Utf8Text utf16ToUtf8(std::u16string_view utf16);

// The building blocks of both conversions.
//
// Reads one character of utf8 at pos and moves pos past it. Returns false,
// with cp = U+FFFD, for an ill-formed subsequence (pos then moves past its
// maximal subpart, at least one byte). pos must be below utf8.size().
bool utf8DecodeNext(std::string_view utf8, std::size_t& pos, char32_t& cp);

// Appends the UTF-8 form of cp (a scalar value: not a surrogate, at most
// U+10FFFF; anything else is appended as U+FFFD).
void utf8Append(std::string& out, char32_t cp);
