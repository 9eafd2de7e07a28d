// G.711 A-law and µ-law conversion by table lookup, one lookup per sample.
//
// A-law codes are quantised from the sample's magnitude, so a negative
// sample gets the code of its absolute value with the sign bit cleared.
// µ-law codes are made from the A-law code, so they carry A-law's
// quantisation; µ-law decoding is direct.
#pragma once

#include <array>
#include <cstdint>

namespace g711 {

// A-law code (even bits inverted, sign bit set) of the magnitude 16 * i in
// 16-bit units; G.711 works on 12-bit magnitudes, one unit per 8 here.
constexpr std::uint8_t alawOfMagnitude(int i)
{
    const int m = 2 * i;  // 12-bit magnitude
    int code = 0;
    if (m < 32) {
        code = m >> 1;
    } else {
        int seg = 1;
        while (m >= (64 << (seg - 1)) && seg < 7)
            ++seg;
        code = (seg << 4) | ((m >> seg) & 0x0F);
    }
    return static_cast<std::uint8_t>((code | 0x80) ^ 0x55);
}

// The decision value at the middle of the code's quantisation interval.
constexpr std::int16_t alawDecode(std::uint8_t a)
{
    const int c = a ^ 0x55;
    const int seg = (c >> 4) & 0x07;
    const int step = c & 0x0F;
    const int m = seg == 0 ? 2 * step + 1 : (((16 + step) << seg) + (1 << (seg - 1)));
    const int linear = m << 3;
    return static_cast<std::int16_t>((c & 0x80) ? linear : -linear);
}

// µ-law: 14-bit magnitudes biased by 33, one unit per 4 in 16-bit units.
constexpr std::int16_t ulawDecode(std::uint8_t u)
{
    const int c = static_cast<std::uint8_t>(~u);
    const int seg = (c >> 4) & 0x07;
    const int step = c & 0x0F;
    const int linear = (((2 * step + 33) << seg) - 33) * 4;
    return static_cast<std::int16_t>((c & 0x80) ? -linear : linear);
}

constexpr std::array<std::uint8_t, 2049> makeAlawEncode()
{
    std::array<std::uint8_t, 2049> table{};
    for (int i = 0; i < 2048; ++i)
        table[i] = alawOfMagnitude(i);
    table[2048] = 0x2A;  // only -32768 reaches it: the largest negative code
    return table;
}

template <typename Decode>
constexpr std::array<std::int16_t, 256> makeDecodeTable(Decode decode)
{
    std::array<std::int16_t, 256> table{};
    for (int code = 0; code < 256; ++code)
        table[code] = decode(static_cast<std::uint8_t>(code));
    return table;
}

// Entry i: A-law code of the sample 16 * i.
inline constexpr std::array<std::uint8_t, 2049> alaw_encode = makeAlawEncode();
inline constexpr std::array<std::int16_t, 256> g_zALaw_2_Linear = makeDecodeTable(alawDecode);
inline constexpr std::array<std::int16_t, 256> g_zULaw_2_Linear = makeDecodeTable(ulawDecode);

// The A-law to µ-law and µ-law to A-law conversions of G.711 on the codes'
// 7-bit magnitudes (sign bit off, A-law's even-bit and µ-law's full
// inversion undone). _a2u gives the µ-law magnitude, _u2a the A-law magnitude
// plus one.
inline constexpr std::array<std::uint8_t, 128> _a2u = {
    1,   3,   5,   7,   9,   11,  13,  15,  16,  17,  18,  19,  20,  21,  22,  23,
    24,  25,  26,  27,  28,  29,  30,  31,  32,  32,  33,  33,  34,  34,  35,  35,
    36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  48,  49,  49,
    50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  64,  64,
    65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,
    80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,
    96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111,
    112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127,
};

inline constexpr std::array<std::uint8_t, 128> _u2a = {
    1,   1,   2,   2,   3,   3,   4,   4,   5,   5,   6,   6,   7,   7,   8,   8,
    9,   10,  11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,
    25,  27,  29,  31,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,
    46,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,
    64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,
    80,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  96,
    97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112,
    113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128,
};

}  // namespace g711

std::uint8_t linear2alaw_query(std::int16_t x);
void linear2alaw_query(const std::int16_t* in, unsigned count, std::uint8_t* out);
std::int16_t alaw2linear_query(std::uint8_t a);
void alaw2linear_query(const std::uint8_t* in, unsigned count, std::int16_t* out);

std::uint8_t alaw2ulaw(std::uint8_t a);
std::uint8_t ulaw2alaw(std::uint8_t u);

std::uint8_t linear2ulaw_query(std::int16_t x);
void linear2ulaw_query(const std::int16_t* in, unsigned count, std::uint8_t* out);
std::int16_t ulaw2linear_query(std::uint8_t u);
void ulaw2linear_query(const std::uint8_t* in, unsigned count, std::int16_t* out);
