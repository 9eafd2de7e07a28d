#include "codecs/utf8_utf16.h"

#include <cstdint>

namespace {

constexpr bool isHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool isLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The well-formed byte sequences: the lead byte fixes the length and the range
// of the second byte; every later byte is 80..BF. The narrow second-byte
// ranges exclude overlong forms (E0, F0), surrogates (ED) and values above
// U+10FFFF (F4).
struct LeadRule {
    std::uint8_t first, last;    // lead byte range
    int length;                  // bytes in the sequence
    std::uint8_t low2, high2;    // allowed second byte
};

constexpr LeadRule kLeadRules[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF},
    {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F},
    {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF},
    {0xF4, 0xF4, 4, 0x80, 0x8F},
};

const LeadRule* leadRule(std::uint8_t lead)
{
    for (const LeadRule& rule : kLeadRules)
        if (lead >= rule.first && lead <= rule.last)
            return &rule;
    return nullptr;
}

}  // namespace

bool utf8DecodeNext(std::string_view utf8, std::size_t& pos, char32_t& cp)
{
    const auto lead = static_cast<std::uint8_t>(utf8[pos++]);
    if (lead < 0x80) {
        cp = lead;
        return true;
    }
    const LeadRule* rule = leadRule(lead);
    cp = kReplacementCharacter;
    if (!rule)
        return false;
    char32_t value = lead & (0x7F >> rule->length);
    for (int i = 1; i < rule->length; ++i) {
        if (pos >= utf8.size())
            return false;
        const auto byte = static_cast<std::uint8_t>(utf8[pos]);
        const std::uint8_t low = i == 1 ? rule->low2 : 0x80;
        const std::uint8_t high = i == 1 ? rule->high2 : 0xBF;
        if (byte < low || byte > high)
            return false;  // the byte that broke the sequence starts the next one
        value = (value << 6) | (byte & 0x3F);
        ++pos;
    }
    cp = value;
    return true;
}

void utf8Append(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || isHighSurrogate(cp) || isLowSurrogate(cp))
        cp = kReplacementCharacter;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

Utf16Text utf8ToUtf16(std::string_view utf8)
{
    Utf16Text result;
    result.text.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp = 0;
        if (!utf8DecodeNext(utf8, pos, cp))
            ++result.replaced;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            result.text += static_cast<char16_t>(0xD800 + (cp >> 10));
            result.text += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            result.text += static_cast<char16_t>(cp);
        }
    }
    return result;
}

Utf8Text utf16ToUtf8(std::u16string_view utf16)
{
    Utf8Text result;
    result.text.reserve(utf16.size() * 3);
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (isHighSurrogate(cp) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (isHighSurrogate(cp) || isLowSurrogate(cp)) {
            cp = kReplacementCharacter;
            ++result.replaced;
        }
        utf8Append(result.text, cp);
    }
    return result;
}
