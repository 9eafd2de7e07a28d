#include "codecs/gsm_alphabet.h"

#include <algorithm>

#include "codecs/utf8_utf16.h"

namespace {

constexpr bool everySeptetHasACharacter()
{
    return std::none_of(kGsmDefaultAlphabet.begin(), kGsmDefaultAlphabet.end(),
                        [](char16_t c) { return c == 0; });
}
static_assert(everySeptetHasACharacter(), "a septet of the default alphabet is missing");

constexpr std::uint8_t kQuestionMark = 0x3F;

const GsmExtension* extensionOfSeptet(std::uint8_t septet)
{
    for (const GsmExtension& e : kGsmExtensionTable)
        if (e.septet == septet)
            return &e;
    return nullptr;
}

const GsmExtension* extensionOfCharacter(char32_t c)
{
    for (const GsmExtension& e : kGsmExtensionTable)
        if (e.character == c)
            return &e;
    return nullptr;
}

// The septet of c in the default alphabet, or -1. The escape's stand-in
// space is not a character of its own.
int septetOfCharacter(char32_t c)
{
    for (int s = 0; s < 128; ++s)
        if (s != kGsmEscape && kGsmDefaultAlphabet[s] == c)
            return s;
    return -1;
}

}  // namespace

std::string gsm7ToUtf8(const std::uint8_t* septets, std::size_t count)
{
    std::string out;
    out.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t s = septets[i] & 0x7F;
        if (s != kGsmEscape) {
            utf8Append(out, kGsmDefaultAlphabet[s]);
            continue;
        }
        if (i + 1 == count) {
            utf8Append(out, u' ');
            continue;
        }
        const std::uint8_t next = septets[++i] & 0x7F;
        if (const GsmExtension* e = extensionOfSeptet(next))
            utf8Append(out, e->character);
        else
            utf8Append(out, kGsmDefaultAlphabet[next]);  // a second escape shows as a space
    }
    return out;
}

Gsm7Text utf8ToGsm7(std::string_view utf8)
{
    Gsm7Text result;
    result.septets.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp = 0;
        utf8DecodeNext(utf8, pos, cp);  // malformed input reads as U+FFFD, which has no septet
        if (const int septet = septetOfCharacter(cp); septet >= 0) {
            result.septets.push_back(static_cast<std::uint8_t>(septet));
        } else if (const GsmExtension* e = extensionOfCharacter(cp)) {
            result.septets.push_back(kGsmEscape);
            result.septets.push_back(e->septet);
        } else {
            result.septets.push_back(kQuestionMark);
            ++result.replaced;
        }
    }
    return result;
}
