#include "dsp/dtmf_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace {

// Goertzel cosines (Q15) of 697, 770, 852, 941, 1209, 1336, 1477, 1633 Hz.
constexpr std::int16_t COEF[8] = {27980, 26956, 25701, 24219, 19073, 16325, 13085, 9315};

// Row index * 256 + column index for key codes 0-15.
constexpr std::uint16_t KEYS[16] = {
    0x0301, 0x0000, 0x0001, 0x0002, 0x0100, 0x0101, 0x0102, 0x0200,
    0x0201, 0x0202, 0x0003, 0x0103, 0x0203, 0x0303, 0x0300, 0x0302,
};

// Band-pass over the DTMF band, 31 symmetric taps (Q15).
constexpr std::int16_t dtmf_BPCoef[31] = {
    640,   968,  634,  1428,  456,   1937,  -517, 1651, -1442, -491, -1258,
    -4473, 87,   -8555, 1400, 22468, 1400,  -8555, 87, -4473, -1258, -491,
    -1442, 1651, -517, 1937,  456,   1428,  634,   968, 640,
};

constexpr std::int16_t kRelativeRowThreshold = 8519;  // second row peak at most 0.26 of the first
constexpr std::int16_t kRelativeColThreshold = 3276;  // second column peak at most 0.1 of the first
constexpr int kMinPeakSum = 310;
constexpr std::int16_t kStrengthNormal = 35;
constexpr std::int16_t kStrengthStrict = 50;
constexpr std::int16_t kTwistNormal = 1966;  // about 12 dB
constexpr std::int16_t kTwistStrict = 3932;  // about 9 dB
// Each half of a loud frame holds at least this sum of |x| (mean 400).
constexpr std::int64_t kLoudHalfSum = 32000;
// A report needs a band-passed frame of more than this sum of |x|.
constexpr std::int64_t kReportLevel = 80000;
// Frames with a larger sum of |x| are scaled down to about this sum.
constexpr std::int32_t kGainTarget = 5120;

struct Peak {
    std::int16_t value;
    int index;
    std::int16_t second;
};

// The largest of four energies, the first index holding it, and the largest
// of the other three.
Peak find_peak(const std::int16_t* e)
{
    Peak p{e[0], 0, 0};
    for (int i = 1; i < 4; ++i)
        if (e[i] > p.value)
            p = {e[i], i, 0};
    bool first = true;
    for (int i = 0; i < 4; ++i) {
        if (i == p.index)
            continue;
        if (first || e[i] > p.second)
            p.second = e[i];
        first = false;
    }
    return p;
}

std::int64_t abs_sum(const std::int16_t* x, int n)
{
    std::int32_t sum = 0;  // at most 80 * 32768
    for (int i = 0; i < n; ++i)
        sum += std::abs(int{x[i]});
    return sum;
}

}  // namespace

dtmf_decoder::dtmf_decoder()
    : strength_threshold_(kStrengthNormal),
      twist_rows_stronger_(kTwistNormal),
      twist_cols_stronger_(kTwistNormal),
      strict_mode_(false)
{
}

std::int16_t dtmf_decoder::sat16(int v)
{
    return ::sat16(v);
}

void dtmf_decoder::dtmf_init()
{
    std::fill(std::begin(filtered_), std::end(filtered_), 0);
    std::fill(std::begin(energy_), std::end(energy_), 0);
    band_pass_.reset();
    last_code_ = kNoKey;
    pause_counter_ = 0;
    strength_threshold_ = kStrengthNormal;
    twist_rows_stronger_ = kTwistNormal;
    twist_cols_stronger_ = kTwistNormal;
    strict_mode_ = false;
}

void dtmf_decoder::set_mode(bool strict)
{
    if (strict == strict_mode_)
        return;
    strict_mode_ = strict;
    strength_threshold_ = strict ? kStrengthStrict : kStrengthNormal;
    twist_rows_stronger_ = strict ? kTwistStrict : kTwistNormal;
    twist_cols_stronger_ = twist_rows_stronger_;
}

// s = c + (x - s2 + c) with c = cos(w) s1, each sum saturated. As every
// cosine is positive, c = (cos(w) * s1) >> 15 fits 16 bits as it is.
void dtmf_decoder::goertzel()
{
    alignas(16) std::int16_t s2[8] = {};
    alignas(16) std::int16_t s1[8] = {};
#ifdef OLVA_DSP_SSE2
    // The eight filters side by side; the saturating 16-bit sums are the
    // sat16 of the plain ones.
    const Q15Factors cosines(COEF);
    __m128i older = _mm_setzero_si128();
    __m128i last = _mm_setzero_si128();
    for (std::int16_t x : filtered_) {
        const __m128i t = _mm_subs_epi16(_mm_set1_epi16(x), older);
        const __m128i c = cosines.times(last);
        older = last;
        last = _mm_adds_epi16(c, _mm_adds_epi16(t, c));
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(s2), older);
    _mm_store_si128(reinterpret_cast<__m128i*>(s1), last);
#else
    for (std::int16_t x : filtered_) {
        for (int f = 0; f < 8; ++f) {
            const std::int16_t t = ::sat16(int{x} - s2[f]);
            const std::int16_t c = ::sat16(MUL_S16_S16(COEF[f], s1[f]));
            const std::int16_t next = ::sat16(int{c} + ::sat16(int{t} + c));
            s2[f] = s1[f];
            s1[f] = next;
        }
    }
#endif
    for (int f = 0; f < 8; ++f)
        energy_[f] = goertzel_energy_q15(s2[f], s1[f], COEF[f]);
}

bool dtmf_decoder::passes_checks(bool strict, std::int16_t row_peak, std::int16_t row_second,
                                 std::int16_t col_peak, std::int16_t col_second)
{
    const std::int16_t weaker = std::min(row_peak, col_peak);
    bool pass;
    if (pause_counter_ == (strict ? 2 : 1)) {
        pass = weaker > strength_threshold_ && int{row_peak} + col_peak > kMinPeakSum;
    } else {
        if (weaker <= strength_threshold_ && pause_counter_ < INT32_MAX)
            ++pause_counter_;
        pass = false;
    }
    if (col_peak < row_peak)
        pass = pass && MUL_S16_S16(twist_rows_stronger_, row_peak) < col_peak;
    else
        pass = pass && MUL_S16_S16(twist_cols_stronger_, col_peak) < row_peak;
    return pass && MUL_S16_S16(kRelativeRowThreshold, row_peak) >= row_second &&
           MUL_S16_S16(col_peak, kRelativeColThreshold) >= col_second;
}

bool dtmf_decoder::dtmf_detect(const std::int16_t* frame, std::int16_t* code, bool strict)
{
    if (!frame)
        return false;
    set_mode(strict);

    band_pass_.run<dtmf_BPCoef>(frame, filtered_, kFrameLength);

    const std::int64_t first_half = abs_sum(filtered_, kFrameLength / 2);
    const std::int64_t second_half = abs_sum(filtered_ + kFrameLength / 2, kFrameLength / 2);
    const std::int64_t total = first_half + second_half;
    const bool loud = !strict && first_half >= kLoudHalfSum && second_half >= kLoudHalfSum;

    const std::int32_t level = static_cast<std::int32_t>(total);
    if (level > kGainTarget) {
        const std::int16_t gain = DIV_S16_S16(20, static_cast<std::int16_t>(level >> 8));
        for (std::int16_t& x : filtered_)
            x = static_cast<std::int16_t>(MUL_S16_S16(x, gain));
    }

    goertzel();
    const Peak row = find_peak(energy_);
    const Peak col = find_peak(energy_ + 4);

    if (!strict && !loud)
        pause_counter_ = 1;

    if (!passes_checks(strict, row.value, row.second, col.value, col.second)) {
        last_code_ = kNoKey;
        return false;
    }

    const std::uint16_t key = static_cast<std::uint16_t>(row.index * 256 + col.index);
    const std::int16_t found =
        static_cast<std::int16_t>(std::find(std::begin(KEYS), std::end(KEYS), key) - std::begin(KEYS));

    if (total > kReportLevel && found == last_code_) {
        if (code)
            *code = found;
        pause_counter_ = 0;
        last_code_ = kNoKey;
        return true;
    }
    last_code_ = found;
    return false;
}
