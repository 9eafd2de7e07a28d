// 16-bit fixed-point helpers shared by the line-signal detectors: Q15
// products and quotients, saturation to the int16 range, the FIR filters
// that every detector runs in front of its analysis and the running mean
// of their gain controls.
//
// Every place where a 32-bit intermediate goes back into 16 bits saturates:
// a wrapped value near full scale turns a loud sample into a loud sample of
// the other sign, and the analysis that follows reads garbage.
//
// The block filter and the eight-lane product use SSE2 where the compiler
// offers it (every x86-64 does); elsewhere, or with OLVA_DSP_NO_SIMD
// defined, plain loops compute the same values.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#if defined(__SSE2__) && !defined(OLVA_DSP_NO_SIMD)
#define OLVA_DSP_SSE2 1
#include <emmintrin.h>
#endif

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
// else floor(num * 32768 / den), which is below 32768 as num < den (the
// value that 15 steps of long division give).
constexpr std::int16_t DIV_S16_S16(std::int16_t num, std::int16_t den)
{
    if (num < 0 || den <= 0)
        return 0;
    // A choice rather than a branch: it goes either way at random on noise.
    const std::int32_t quotient = (std::int32_t{num} << 15) / den;
    return static_cast<std::int16_t>(num >= den ? INT16_MAX : quotient);
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

#ifdef OLVA_DSP_SSE2
// (c * s) >> 15 with 16-bit lanes, for -32768 < c < 32768: it is the high
// half of s * 2c, exact, where 2c fits 16 bits; otherwise 2c - 65536 (c > 0)
// or 2c + 65536 (c < 0) is taken, and the high half comes out s too low or
// too high, which correction (+1 or -1) puts right.
struct Q15Doubled {
    std::int16_t doubled;
    int correction;
};

constexpr Q15Doubled q15_doubled(std::int16_t c)
{
    return {static_cast<std::int16_t>(static_cast<std::uint16_t>(2 * c)), c >= 16384 ? 1 : (c < -16384 ? -1 : 0)};
}
#endif

// The same filter over blocks of up to kMaxBlock samples: output n is the
// 32-bit sum over k of (x[n - k] * Coef[k]) >> 15, saturated, where the
// inputs before a block are the last N - 1 of the blocks before it (0 after
// reset). The inputs sit in one buffer behind those N - 1, so no sample
// moves until the block is done. The coefficients are a template argument:
// the taps unroll with their constants in place.
template <std::size_t N>
class FirQ15 {
public:
    static constexpr std::size_t kMaxBlock = 160;

    void reset() { std::fill(std::begin(buffer_), std::end(buffer_), 0); }

    // in and out may be the same buffer. Coefficients lie within
    // -32767..32767.
    template <const auto& Coef>
    void run(const std::int16_t* in, std::int16_t* out, std::size_t n)
    {
        static_assert(std::size(Coef) == N, "one coefficient per tap");
        n = std::min(n, kMaxBlock);
        std::int16_t* block = buffer_ + (N - 1);
        std::copy(in, in + n, block);
        for (std::size_t first = 0; first < n; first += kLanes) {
            std::int16_t group[kLanes];
            filter_group<Coef>(block + first, group, std::make_index_sequence<N>{});
            std::copy(group, group + std::min(kLanes, n - first), out + first);
        }
        std::copy(block + n - (N - 1), block + n, buffer_);
    }

private:
    static constexpr std::size_t kLanes = 8;

#ifdef OLVA_DSP_SSE2
    // Each product (x * c) >> 15 lies within -|c|..|c|: a run of taps whose
    // |c| add up to at most 32767 sums exactly in 16 bits, even where the
    // partial sums wrap on the way. True at the last tap of each run.
    template <const auto& Coef>
    static constexpr std::array<bool, N> kRunEnds = [] {
        std::array<bool, N> ends{};
        int run = 0;
        for (std::size_t k = 0; k < N; ++k) {
            const int magnitude = Coef[k] < 0 ? -Coef[k] : Coef[k];
            if (run + magnitude > INT16_MAX) {
                ends[k - 1] = true;
                run = 0;
            }
            run += magnitude;
        }
        ends[N - 1] = true;
        return ends;
    }();

    struct Sums {
        __m128i low;   // outputs 0-3, 32 bits each
        __m128i high;  // outputs 4-7
        __m128i run;   // the current run of taps, 16 bits each
    };

    template <const auto& Coef, std::size_t K>
    static void add_tap(const std::int16_t* x, Sums& s)
    {
        constexpr Q15Doubled tap = q15_doubled(Coef[K]);
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x - K));
        s.run = _mm_add_epi16(s.run, _mm_mulhi_epi16(in, _mm_set1_epi16(tap.doubled)));
        if constexpr (tap.correction > 0)
            s.run = _mm_add_epi16(s.run, in);
        if constexpr (tap.correction < 0)
            s.run = _mm_sub_epi16(s.run, in);
        if constexpr (kRunEnds<Coef>[K]) {
            // Sign-extended to 32 bits.
            s.low = _mm_add_epi32(s.low, _mm_srai_epi32(_mm_unpacklo_epi16(s.run, s.run), 16));
            s.high = _mm_add_epi32(s.high, _mm_srai_epi32(_mm_unpackhi_epi16(s.run, s.run), 16));
            s.run = _mm_setzero_si128();
        }
    }
#endif

    // Outputs x[0..7], from inputs x[-(N-1)..7].
    template <const auto& Coef, std::size_t... K>
    static void filter_group(const std::int16_t* x, std::int16_t* out, std::index_sequence<K...>)
    {
#ifdef OLVA_DSP_SSE2
        Sums s{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
        (add_tap<Coef, K>(x, s), ...);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(s.low, s.high));
#else
        for (std::ptrdiff_t lane = 0; lane < static_cast<std::ptrdiff_t>(kLanes); ++lane)
            out[lane] = sat16((MUL_S16_S16(x[lane - static_cast<std::ptrdiff_t>(K)], Coef[K]) + ...));
#endif
    }

    // The last N - 1 inputs, the block, and room for a last group that
    // reads past a block's end (its outputs are dropped).
    std::int16_t buffer_[N - 1 + kMaxBlock + kLanes] = {};
};

// The mean of |x| over the latest N input samples, >> log2 N, saturated to
// 16 bits (N samples of -32768 give 32768), kept as a running sum.
template <std::size_t N>
class RingMeanAbs {
public:
    static_assert((N & (N - 1)) == 0, "ring size must be a power of two");

    // A ring full of fill.
    void reset(std::int16_t fill)
    {
        const std::uint16_t magnitude = abs16(fill);
        std::fill(std::begin(ring_), std::end(ring_), magnitude);
        sum_ = static_cast<std::int32_t>(N) * magnitude;
        next_ = 0;
    }

    // Puts x in place of the oldest sample; returns the new mean.
    std::int16_t push(std::int16_t x)
    {
        const std::uint16_t magnitude = abs16(x);
        sum_ += magnitude - ring_[next_];
        ring_[next_] = magnitude;
        next_ = (next_ + 1) & (N - 1);
        return sat16(sum_ / static_cast<std::int32_t>(N));
    }

private:
    static std::uint16_t abs16(std::int16_t x)
    {
        return static_cast<std::uint16_t>(x < 0 ? -std::int32_t{x} : std::int32_t{x});
    }

    std::uint16_t ring_[N] = {};
    std::int32_t sum_ = 0;
    std::size_t next_ = 0;
};

#ifdef OLVA_DSP_SSE2
// (c * s) >> 15 for eight lanes of s, each with its own 0 <= c < 32768.
class Q15Factors {
public:
    explicit Q15Factors(const std::int16_t (&c)[8])
    {
        alignas(16) std::int16_t doubled[8];
        alignas(16) std::int16_t high[8];
        for (int i = 0; i < 8; ++i) {
            const Q15Doubled d = q15_doubled(c[i]);
            doubled[i] = d.doubled;
            high[i] = static_cast<std::int16_t>(-d.correction);
        }
        doubled_ = _mm_load_si128(reinterpret_cast<const __m128i*>(doubled));
        high_ = _mm_load_si128(reinterpret_cast<const __m128i*>(high));
    }

    __m128i times(__m128i s) const
    {
        return _mm_add_epi16(_mm_mulhi_epi16(s, doubled_), _mm_and_si128(s, high_));
    }

private:
    __m128i doubled_;
    __m128i high_;
};
#endif
