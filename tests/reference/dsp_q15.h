// Reference copy of the product's scalar code as it stood before the
// detectors were vectorised, in namespace reference: the equivalence tests
// and the benchmark compare the product against it bit for bit. Not part
// of the product; do not change it to follow the product.

// 16-bit fixed-point helpers shared by the line-signal detectors: Q15
// products and quotients, saturation to the int16 range and the FIR filter
// that every detector runs in front of its analysis.
//
// Every place where a 32-bit intermediate goes back into 16 bits saturates:
// a wrapped value near full scale turns a loud sample into a loud sample of
// the other sign, and the analysis that follows reads garbage.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace reference {

// v limited to -32768..32767.
constexpr std::int16_t sat16(std::int64_t v)
{
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, INT16_MIN, INT16_MAX));
}

// Q15 product (a * b) >> 15. Kept at 32 bits: the callers decide where the
// result goes back into 16 bits (-32768 * -32768 gives 32768).
constexpr std::int32_t MUL_S16_S16(std::int16_t a, std::int16_t b)
{
    return (std::int32_t{a} * std::int32_t{b}) >> 15;
}

// Q15 quotient num / den of non-negative operands: 0 when either is 0 (or
// negative, which no caller passes), 32767 when the quotient is 1 or more,
// else 15 steps of long division.
constexpr std::int16_t DIV_S16_S16(std::int16_t num, std::int16_t den)
{
    if (num <= 0 || den <= 0)
        return 0;
    if (num >= den)
        return INT16_MAX;
    std::int32_t remainder = num;
    std::int32_t quotient = 0;
    for (int step = 0; step < 15; ++step) {
        remainder <<= 1;
        quotient <<= 1;
        if (remainder >= den) {
            remainder -= den;
            quotient |= 1;
        }
    }
    return static_cast<std::int16_t>(quotient);
}

// Goertzel energy s1^2 + s2^2 - 2 cos(w) s1 s2 of the last two states, in
// Q15, formed halved and then doubled, saturated. The halved sum of squares
// is taken in 32 bits: cut to 16 bits first, states near full scale (the
// onset of a loud tone, before a gain control has caught up) gave a negative
// energy and a tone block was taken for a pause.
constexpr std::int16_t goertzel_energy_q15(std::int16_t s2, std::int16_t s1, std::int16_t cosine)
{
    const std::int32_t half_sum = (MUL_S16_S16(s2, s2) + MUL_S16_S16(s1, s1)) >> 1;
    const std::int16_t cross = sat16(MUL_S16_S16(s1, s2));
    return sat16(2 * std::int32_t{sat16(half_sum - MUL_S16_S16(cross, cosine))});
}

// One sample through an N-tap Q15 FIR filter: the delay line (newest sample
// first, N samples) moves on by one, x goes in front, and the output is the 32-bit sum
// of (tap k * coefficient k) >> 15, saturated to 16 bits.
template <std::size_t N>
std::int16_t fir_q15(const std::int16_t (&coef)[N], std::int16_t* delay, std::int16_t x)
{
    std::memmove(delay + 1, delay, (N - 1) * sizeof *delay);
    delay[0] = x;
    std::int32_t sum = 0;
    for (std::size_t k = 0; k < N; ++k)
        sum += MUL_S16_S16(delay[k], coef[k]);
    return sat16(sum);
}

// The mean of |x| over a ring of the latest input samples, >> log2 of its
// size, saturated to 16 bits (a ring full of -32768 gives 32768).
template <std::size_t N>
std::int16_t ring_mean_abs(const std::int16_t (&ring)[N])
{
    static_assert((N & (N - 1)) == 0, "ring size must be a power of two");
    std::int32_t sum = 0;
    for (std::int16_t v : ring)
        sum += v < 0 ? -std::int32_t{v} : std::int32_t{v};
    return sat16(sum / static_cast<std::int32_t>(N));
}

}  // namespace reference
