#include "dsp/busytoneDet.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace {

// Goertzel cosines floor(32768 * cos(2 pi f / 8000)) for f = 300, 305, ... 795 Hz.
constexpr std::int16_t g_BusyToneFreq[100] = {
    31862, 31832, 31801, 31770, 31738, 31706, 31673, 31640, 31606, 31572,
    31537, 31502, 31466, 31430, 31394, 31357, 31319, 31281, 31242, 31203,
    31164, 31124, 31083, 31042, 31001, 30959, 30917, 30874, 30830, 30786,
    30742, 30697, 30652, 30606, 30560, 30514, 30466, 30419, 30371, 30322,
    30273, 30224, 30174, 30123, 30072, 30021, 29969, 29917, 29864, 29811,
    29758, 29703, 29649, 29594, 29538, 29482, 29426, 29369, 29312, 29254,
    29196, 29137, 29078, 29019, 28959, 28898, 28837, 28776, 28714, 28652,
    28589, 28526, 28463, 28399, 28334, 28270, 28204, 28139, 28072, 28006,
    27939, 27871, 27803, 27735, 27666, 27597, 27528, 27458, 27387, 27316,
    27245, 27173, 27101, 27029, 26956, 26882, 26809, 26734, 26660, 26585,
};

// Block energy thresholds by gate 0-50, 1 dB apart.
constexpr std::int16_t g_EnergySimilar[51] = {
    2407, 2406, 2144, 1911, 1703, 1518, 1353, 1206, 1074, 957, 853, 760, 678,
    604,  538,  480,  427,  381,  339,  302,  270,  240,  214, 191, 170, 151,
    135,  120,  107,  95,   85,   76,   67,   60,   53,   48,  42,  38,  33,
    30,   27,   24,   21,   19,   17,   15,   13,   12,   10,  9,   8,
};

// Block sums of |x| for 0 to -48 dB.
constexpr unsigned pcm_energy_table[49] = {
    19776, 17625, 15709, 14000, 12478, 11121, 9911, 8833, 7873, 7016, 6253, 5573, 4967,
    4427,  3945,  3516,  3134,  2793,  2489,  2218, 1977, 1762, 1570, 1400, 1247, 1112,
    991,   883,   787,   701,   625,   557,   496,  442,  394,  351,  313,  279,  248,
    221,   197,   176,   157,   139,   124,   111,  99,   88,   78,
};

// Inputs are scaled down to this mean |x|; quieter ones stay as they are.
constexpr std::int16_t kGainLevel = 128;

// Run counters stop at the top of their range instead of wrapping round to
// lengths that could match a cadence again after minutes of silence.
void count_up(std::int16_t& run)
{
    if (run < INT16_MAX)
        ++run;
}

// |run - target| < error, exact for any settings the caller passes.
bool near(std::int64_t run, std::int64_t target, std::int64_t error)
{
    const __int128 d = static_cast<__int128>(run) - target;
    return (d < 0 ? -d : d) < error;
}

}  // namespace

int CToneDetect::Initial(const tagBusyInfo& info)
{
    run_filters();
    settings_ = info;
    std::int64_t* frequency[2] = {&settings_.busy_frequency0, &settings_.busy_frequency1};
    for (int i = 0; i < 2; ++i) {
        std::int64_t& f = *frequency[i];
        int index;
        if (f <= kMinFrequency) {
            f = kMinFrequency;
            index = 0;
        } else if (f > kMaxFrequency) {
            f = kMaxFrequency;
            index = 99;
        } else {
            index = static_cast<int>((f - kMinFrequency) / 5);
        }
        coef_[i] = g_BusyToneFreq[index];
    }
    const std::int64_t gate = std::clamp<std::int64_t>(info.busy_enery_gate, 0, kMaxGate);
    settings_.busy_enery_gate = g_EnergySimilar[gate];
    return 0;
}

void CToneDetect::StarttoneDet()
{
    in_tone_ = 0;
    block_countdown_ = kBlockSamples;
    gain_mean_.reset(0);
    on_run_ = 0;
    off_run_ = 0;
    ringback_match_count_ = 0;
    ringback_on_run_ = 0;
    ringback_off_run_ = 0;
    block_sum_ = 0;
    pending_count_ = 0;
    for (auto& s : state_)
        s[0] = s[1] = 0;
    energy_[0] = energy_[1] = 0;
}

std::int16_t CToneDetect::get_db_by_frame_energy(unsigned sum)
{
    for (int i = 0; i < 49; ++i)
        if (sum >= pcm_energy_table[i])
            return static_cast<std::int16_t>(-i);
    return -48;
}

CToneDetect::Block CToneDetect::analyse(std::int16_t x, bool sum_block)
{
    const std::int16_t mean = gain_mean_.push(x);
    if (mean > kGainLevel)
        x = sat16(MUL_S16_S16(DIV_S16_S16(kGainLevel, mean), x));

    if (block_countdown_ > 0) {
        --block_countdown_;
        if (sum_block)
            block_sum_ += std::abs(int{x});
        pending_[pending_count_++] = x;
        return Block::Inside;
    }

    run_filters();
    block_countdown_ = kBlockSamples;
    for (int f = 0; f < 2; ++f) {
        energy_[f] = goertzel_energy_q15(state_[f][0], state_[f][1], coef_[f]);
        state_[f][0] = state_[f][1] = 0;
    }
    const int energy = settings_.busy_dual_frequency ? (energy_[0] + energy_[1]) / 2 : energy_[0];
    return settings_.busy_enery_gate < energy ? Block::Tone : Block::Pause;
}

// s = x - s2 + 2 cos(w) s1, halved while it is formed: s = 2 (t + c) with
// t = (x - s2) / 2 and c = cos(w) s1, each step saturated. Every cosine is
// positive, so c fits 16 bits as it is.
void CToneDetect::run_filters()
{
#ifdef OLVA_DSP_SSE2
    // Both filters side by side in the lanes of one register.
    const std::int16_t cosine[8] = {coef_[0], coef_[1]};
    const Q15Factors cosines(cosine);
    __m128i older = _mm_setr_epi16(state_[0][0], state_[1][0], 0, 0, 0, 0, 0, 0);
    __m128i last = _mm_setr_epi16(state_[0][1], state_[1][1], 0, 0, 0, 0, 0, 0);
    for (int i = 0; i < pending_count_; ++i) {
        const __m128i t = _mm_srai_epi16(_mm_subs_epi16(_mm_set1_epi16(pending_[i]), older), 1);
        const __m128i half = _mm_adds_epi16(t, cosines.times(last));
        older = last;
        last = _mm_adds_epi16(half, half);
    }
    state_[0][0] = static_cast<std::int16_t>(_mm_extract_epi16(older, 0));
    state_[1][0] = static_cast<std::int16_t>(_mm_extract_epi16(older, 1));
    state_[0][1] = static_cast<std::int16_t>(_mm_extract_epi16(last, 0));
    state_[1][1] = static_cast<std::int16_t>(_mm_extract_epi16(last, 1));
#else
    for (int i = 0; i < pending_count_; ++i) {
        for (int f = 0; f < 2; ++f) {
            std::int16_t* s = state_[f];
            const std::int16_t t = static_cast<std::int16_t>(sat16(int{pending_[i]} - s[0]) >> 1);
            const std::int16_t next = sat16(2 * int{sat16(t + MUL_S16_S16(coef_[f], s[1]))});
            s[0] = s[1];
            s[1] = next;
        }
    }
#endif
    pending_count_ = 0;
}

bool CToneDetect::cadence_step(std::int64_t off_run, std::int64_t on_run, std::int16_t& count,
                               std::int64_t needed) const
{
    const std::int64_t error = settings_.busy_on_off_error;
    if (!near(off_run, settings_.busy_off, error) || !near(on_run, settings_.busy_on, error)) {
        count = 0;
        return false;
    }
    return count_match(count, needed);
}

bool CToneDetect::count_match(std::int16_t& count, std::int64_t needed)
{
    count_up(count);
    if (count < needed)
        return false;
    count = 0;
    return true;
}

bool CToneDetect::toneDet(std::int16_t x)
{
    const Block block = analyse(x, false);
    if (block == Block::Inside)
        return false;

    // Counts stay within int16, so a larger count can never be reached anyway.
    const std::int64_t transitions =
        2 * std::clamp<std::int64_t>(settings_.busy_period_count, INT32_MIN, INT32_MAX);
    if (block == Block::Tone) {
        if (in_tone_) {
            count_up(on_run_);
            return false;
        }
        // The pause ends: the last complete pause and tone must both fit.
        in_tone_ = 1;
        const bool done = cadence_step(off_run_, on_run_, match_count_, transitions);
        on_run_ = 1;
        return done;
    }

    if (!in_tone_) {
        count_up(off_run_);
        return false;
    }
    // The tone ends.
    in_tone_ = 0;
    const bool done = cadence_step(off_run_, on_run_, match_count_, transitions);
    off_run_ = 1;
    return done;
}

bool CToneDetect::toneDet(std::int16_t x, std::int16_t& level_db, int& type)
{
    type = -1;
    const Block block = analyse(x, true);
    if (block == Block::Inside)
        return false;

    type = 0;
    bool found = false;
    if (block == Block::Tone) {
        // Dial tone: a run of 9 to 11 tone blocks.
        const std::int16_t before = on_run_;
        count_up(on_run_);
        if (before >= 8 && before <= 10) {
            if (count_match(match_count_, settings_.busy_period_count)) {
                type = 1;
                on_run_ = 0;
                found = true;
            }
        } else {
            match_count_ = 0;
        }
        // Ringback: the cadence of tone and pause runs.
        if (in_tone_) {
            count_up(ringback_on_run_);
        } else {
            in_tone_ = 1;
            if (cadence_step(ringback_off_run_, ringback_on_run_, ringback_match_count_,
                             settings_.busy_period_count)) {
                type = 2;
                ringback_off_run_ = 0;
                found = true;
            }
            ringback_on_run_ = 1;
        }
    } else {
        on_run_ = 0;
        match_count_ = 0;
        if (!in_tone_) {
            count_up(ringback_off_run_);
            level_db = get_db_by_frame_energy(static_cast<unsigned>(block_sum_));
            block_sum_ = 0;
            return false;
        }
        in_tone_ = 0;
        if (cadence_step(ringback_off_run_, ringback_on_run_, ringback_match_count_,
                         settings_.busy_period_count)) {
            type = 2;
            ringback_on_run_ = 0;
            found = true;
        }
        ringback_off_run_ = 1;
    }
    if (!found)
        level_db = get_db_by_frame_energy(static_cast<unsigned>(block_sum_));
    block_sum_ = 0;
    return found;
}
