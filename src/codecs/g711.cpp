#include "codecs/g711.h"

namespace {

template <typename In, typename Out, typename Convert>
void convertEach(const In* in, unsigned count, Out* out, Convert convert)
{
    for (unsigned i = 0; i < count; ++i)
        out[i] = convert(in[i]);
}

}  // namespace

std::uint8_t linear2alaw_query(std::int16_t x)
{
    if (x >= 0)
        return g711::alaw_encode[x >> 4];
    // -x fits an int: -32768 reaches the last entry.
    return static_cast<std::uint8_t>(g711::alaw_encode[(-static_cast<int>(x)) >> 4] & 0x7F);
}

void linear2alaw_query(const std::int16_t* in, unsigned count, std::uint8_t* out)
{
    convertEach(in, count, out, [](std::int16_t x) { return linear2alaw_query(x); });
}

std::int16_t alaw2linear_query(std::uint8_t a)
{
    return g711::g_zALaw_2_Linear[a];
}

void alaw2linear_query(const std::uint8_t* in, unsigned count, std::int16_t* out)
{
    convertEach(in, count, out, [](std::uint8_t c) { return alaw2linear_query(c); });
}

std::uint8_t alaw2ulaw(std::uint8_t a)
{
    if (a & 0x80)
        return static_cast<std::uint8_t>(g711::_a2u[a ^ 0xD5] ^ 0xFF);
    return static_cast<std::uint8_t>(g711::_a2u[a ^ 0x55] ^ 0x7F);
}

std::uint8_t ulaw2alaw(std::uint8_t u)
{
    if (u & 0x80)
        return static_cast<std::uint8_t>((g711::_u2a[u ^ 0xFF] - 1) ^ 0xD5);
    return static_cast<std::uint8_t>((g711::_u2a[u ^ 0x7F] - 1) ^ 0x55);
}

std::uint8_t linear2ulaw_query(std::int16_t x)
{
    return alaw2ulaw(linear2alaw_query(x));
}

void linear2ulaw_query(const std::int16_t* in, unsigned count, std::uint8_t* out)
{
    convertEach(in, count, out, [](std::int16_t x) { return linear2ulaw_query(x); });
}

std::int16_t ulaw2linear_query(std::uint8_t u)
{
    return g711::g_zULaw_2_Linear[u];
}

void ulaw2linear_query(const std::uint8_t* in, unsigned count, std::int16_t* out)
{
    convertEach(in, count, out, [](std::uint8_t c) { return ulaw2linear_query(c); });
}
