#include "dsp/cid_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace {

// Band-pass over the FSK band, 31 taps (Q15).
constexpr std::int16_t BPCoef[31] = {
    139,   516,   -62,   -396, 150,  -574, -1563, 666,  2397, 306,   482,
    1876,  -4287, -8446, 2744, 12394, 2744, -8446, -4287, 1876, 482,   306,
    2397,  666,   -1563, -574, 150,  -396, -62,   516,   139,
};

// Second-order all-pass (numerator x[n], x[n-1], x[n-2]; feedback y[n-1],
// y[n-2]): the delayed copy the discriminator multiplies with the input.
constexpr std::int16_t DPCoef[5] = {5240, 18536, 32767, -18536, -5240};

// Low-pass after the discriminator, 15 taps (Q15).
constexpr std::int16_t LPCoef[15] = {
    -1011, -1835, -1948, -201, 3762, 9009, 13544, 15338,
    13544, 9009,  3762,  -201, -1948, -1835, -1011,
};

constexpr std::int16_t HPCoef[31] = {
    3874,  1717,  -2584, 560,   -1950, -277,  -1780, -928,  -1865, -1446, -2050,
    -1842, -2226, -2086, -2327, 30602, -2327, -2086, -2226, -1842, -2050, -1446,
    -1865, -928,  -1780, -277,  -1950, 560,   -2584, 1717,  3874,
};

constexpr std::int16_t kDcOffsetAtReset = 8;
constexpr std::int16_t kGainRingAtReset = 2056;
// Inputs whose mean |x| is above this pass the gain control unchanged.
constexpr std::int16_t kGainCeiling = 2047;
// Seven quiet low-pass outputs sum to less than this. The test runs on the
// output itself, not on the output less the DC offset: the offset measured
// over the seizure grows with the level (loud signals pass the gain control
// unchanged), and once it passes 20 the silence after the carrier never
// looked quiet, so the message never ended and the carrier search never
// resumed. While the carrier lasts the output stays far from 0 at every level.
constexpr int kQuietSum = 140;
// The seizure is a run of alternating bits with at least this many changes.
constexpr int kSeizureAlternations = 100;
// Mark bits before the first start bit.
constexpr int kCarrierMarks = 20;
// Low-pass outputs of the seizure's end left out of the DC measurement.
constexpr int kDcTail = 12;
// The bit clock rebases its counters past this many samples without a
// crossing (about two minutes), keeping 20 * bit number - 3 * samples.
constexpr int kClockRebaseSamples = 1 << 20;
constexpr int kClockRebaseStep = 1 << 14;

}  // namespace

cid_decoder::cid_decoder()
{
    reset_state();
}

std::int16_t cid_decoder::HPFilter(std::int16_t x, std::int16_t* delay)
{
    return fir_q15(HPCoef, delay, x);
}

void cid_decoder::reset_state()
{
    ++resets_;
    collected_count_ = 0;
    collected_next_ = 0;
    dc_offset_ = kDcOffsetAtReset;
    collection_stopped_ = false;
    quiet_sum_ = 0;
    std::fill(std::begin(quiet_window_), std::end(quiet_window_), 0);
    quiet_next_ = 0;
    band_pass_.reset();
    std::fill(std::begin(dephasor_history_), std::end(dephasor_history_), 0);
    low_pass_.reset();
    seizure_found_ = false;
    carrier_found_ = false;
    data_started_ = false;
    previous_bit_ = 0;
    alternations_ = 0;
    mark_count_ = 0;
    byte_count_ = 0;
    samples_since_crossing_ = 0;
    countdown_ = 4;
    bit_number_ = 1;
    bit_index_ = 1;
    previous_value_ = 0;
    shift_register_ = 0;
    gain_mean_.reset(kGainRingAtReset);
}

void cid_decoder::cidReset()
{
    reset_state();
    OnCidReset();
}

bool cid_decoder::cid_detect_frame(std::int16_t* samples, int shift)
{
    if (!samples)
        return false;
    shift = std::clamp(shift, 0, 15);
    bool ended = false;
    std::int16_t lowpass[kFrameLength];
    for (int from = 0; from < kFrameLength;) {
        const int n = kFrameLength - from;
        demodulate(samples + from, shift, lowpass, n);
        const unsigned resets = resets_;
        int i = 0;
        while (i < n && resets_ == resets) {
            if (cidDet(lowpass[i++])) {
                cidReset();
                ended = true;
            }
        }
        from += i;
    }
    return ended;
}

void cid_decoder::demodulate(const std::int16_t* samples, int shift, std::int16_t* lowpass, int n)
{
    std::int16_t work[kFrameLength];
    for (int i = 0; i < n; ++i)
        work[i] = gain_control(static_cast<std::int16_t>(samples[i] >> shift));
    band_pass_.run<BPCoef>(work, work, static_cast<std::size_t>(n));
    dephasor(work, n);
    low_pass_.run<LPCoef>(work, lowpass, static_cast<std::size_t>(n));
}

std::int16_t cid_decoder::gain_control(std::int16_t x)
{
    const std::int16_t mean = std::max(gain_mean_.push(x), std::int16_t{1});
    // About 2048 * |x| / mean, with the sign of x; chosen without branches,
    // as noise sends them either way at random.
    const std::int16_t magnitude = DIV_S16_S16(static_cast<std::int16_t>(std::abs(int{x}) >> 4), mean);
    const std::int16_t scaled = x > 0 ? magnitude : static_cast<std::int16_t>(-magnitude);
    return mean > kGainCeiling ? x : scaled;
}

// Each band-pass output x becomes x times the all-pass output y, in place.
void cid_decoder::dephasor(std::int16_t* band, int n)
{
    std::int16_t x1 = dephasor_history_[0];
    std::int16_t x2 = dephasor_history_[1];
    std::int16_t y1 = dephasor_history_[2];
    std::int16_t y2 = dephasor_history_[3];
    for (int i = 0; i < n; ++i) {
        const std::int16_t x = band[i];
        const std::int16_t y = sat16(MUL_S16_S16(DPCoef[0], x) + MUL_S16_S16(DPCoef[1], x1) +
                                     MUL_S16_S16(DPCoef[2], x2) + MUL_S16_S16(DPCoef[3], y1) +
                                     MUL_S16_S16(DPCoef[4], y2));
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        band[i] = sat16(MUL_S16_S16(y, x));
    }
    dephasor_history_[0] = x1;
    dephasor_history_[1] = x2;
    dephasor_history_[2] = y1;
    dephasor_history_[3] = y2;
}

void cid_decoder::collect(std::int16_t lowpass)
{
    if (collection_stopped_)
        return;
    collected_[collected_next_] = lowpass;
    collected_next_ = (collected_next_ + 1) % kMaxCollected;
    if (collected_count_ < kMaxCollected)
        ++collected_count_;
}

bool cid_decoder::cidDet(std::int16_t lowpass)
{
    OnLowPassOut(lowpass);
    collect(lowpass);

    const std::int16_t v = sat16(int{lowpass} - dc_offset_);

    const std::int16_t magnitude = sat16(std::abs(int{lowpass}));
    quiet_sum_ += magnitude - quiet_window_[quiet_next_];
    quiet_window_[quiet_next_] = magnitude;
    quiet_next_ = quiet_next_ + 1 == static_cast<int>(std::size(quiet_window_)) ? 0 : quiet_next_ + 1;
    if (quiet_sum_ < kQuietSum)
        return data_started_;

    if (std::int32_t{v} * previous_value_ < 0) {
        bit_number_ = 1;
        samples_since_crossing_ = 1;
        countdown_ = 3;
        previous_value_ = v;
        return false;
    }
    previous_value_ = v;
    ++samples_since_crossing_;
    if (samples_since_crossing_ >= kClockRebaseSamples) {
        samples_since_crossing_ -= 20 * kClockRebaseStep;
        bit_number_ -= 3 * kClockRebaseStep;
    }
    if (--countdown_ > 0)
        return false;
    countdown_ = 1;
    // Bit k of a run is taken about 20k/3 samples after the crossing, near its
    // middle: a bit lasts 20/3 samples at 8000 samples a second.
    if (std::abs(20 * bit_number_ - 3 * samples_since_crossing_) > 9)
        return false;
    countdown_ = 4;
    ++bit_number_;
    return on_bit(v > 0 ? 1 : 0);
}

bool cid_decoder::on_bit(int bit)
{
    if (!seizure_found_) {
        chkSeizure(bit);
        return false;
    }
    if (!carrier_found_) {
        chkCarrier(bit);
        return false;
    }
    return take_data_bit(bit);
}

void cid_decoder::chkSeizure(int bit)
{
    if (bit != previous_bit_) {
        ++alternations_;
        previous_bit_ = bit;
        return;
    }
    if (alternations_ < kSeizureAlternations) {
        alternations_ = 0;
        return;
    }
    seizure_found_ = true;
    // The mean over the seizure, leaving out its last outputs, which may
    // already belong to the mark signal.
    const int used = collected_count_ > kDcTail ? collected_count_ - kDcTail : collected_count_;
    if (used > 0) {
        std::int64_t sum = 0;
        const int oldest = (collected_next_ - collected_count_ + kMaxCollected) % kMaxCollected;
        for (int i = 0; i < used; ++i)
            sum += collected_[(oldest + i) % kMaxCollected];
        dc_offset_ = static_cast<std::int16_t>(sum / used);
    }
    collection_stopped_ = true;
    OnLowPassMark(dc_offset_);
}

void cid_decoder::chkCarrier(int bit)
{
    if (bit) {
        ++mark_count_;
        return;
    }
    if (mark_count_ >= kCarrierMarks) {
        carrier_found_ = true;
        OnFoundCarrier(mark_count_);
        return;
    }
    mark_count_ = 0;
}

bool cid_decoder::take_data_bit(int bit)
{
    data_started_ = true;
    ++bit_index_;
    if (bit_index_ == 10) {
        bit_index_ = 0;
        ++byte_count_;
        const std::uint8_t byte = static_cast<std::uint8_t>(shift_register_ >> 1);
        OnCidData(byte);
        if (byte_count_ >= kMaxMessageBytes)
            return true;
        shift_register_ = 0;
    } else if (bit_index_ == 1) {
        if (bit)
            bit_index_ = 0;
        else
            shift_register_ >>= 1;
    } else {
        shift_register_ = static_cast<std::uint16_t>(bit ? (shift_register_ + 512) >> 1
                                                         : shift_register_ >> 1);
    }
    return false;
}
