#include "base/common.h"

namespace {

constexpr const char* kBlanks = " \r\n\t";

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

void trim(std::string& s)
{
    const auto last = s.find_last_not_of(kBlanks);
    if (last == std::string::npos) {
        s.clear();
        return;
    }
    s.erase(last + 1);
    s.erase(0, s.find_first_not_of(kBlanks));
}

std::uint32_t GSM_StringToHex(const char* text, std::uint8_t len)
{
    std::uint32_t value = 0;
    if (!text)
        return 0;
    for (int i = 0; i < len && i < 8 && text[i]; ++i) {
        const int digit = hex_digit(text[i]);
        value = value * 16 + static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
    }
    return value;
}

int ChartoPhoneNum(const char* src, char* dst, std::uint8_t len)
{
    if (!src || !dst)
        return 0;
    int k = 0;
    for (; k < len && src[k]; ++k) {
        const char c = src[k];
        if (c == 'F') {
            if (k % 2 == 1) {
                // "1F": the filler after its digit, which was put one place on.
                dst[k - 1] = src[k - 1];
                return k;
            }
            // "F5": the filler before the lone last digit of the number.
            const char digit = src[k + 1];
            if (digit < '0' || digit > '9')
                return k;
            dst[k] = digit;
            return k + 1;
        }
        if (c < '0' || c > '9')
            return 0;
        if (k % 2 == 1) {
            dst[k - 1] = c;
            continue;
        }
        // An unpaired last digit (odd length, no filler) stands as it is.
        if (k + 1 >= len || src[k + 1] == '\0') {
            dst[k] = c;
            return k + 1;
        }
        dst[k + 1] = c;
    }
    return k;
}
