// 1200-baud FSK caller-ID demodulator for 8 kHz 16-bit line audio, in 16-bit
// fixed point, sample by sample: gain control, band-pass, a delay-and-multiply
// discriminator, low-pass, DC removal, a zero-crossing bit clock, channel
// seizure and mark detection, and 8N1 framing. Every received byte goes to
// OnCidData; the line derives from this class and overrides the hooks.
#pragma once

#include <cstdint>

#include "dsp/dsp_q15.h"

class cid_decoder {
public:
    static constexpr int kFrameLength = 160;
    // Bytes of one message: the 300th is still delivered, then the message
    // ends, so that a carrier that never goes quiet cannot run on for ever.
    static constexpr int kMaxMessageBytes = 300;
    // Low-pass outputs kept before the seizure to measure the DC offset.
    static constexpr int kMaxCollected = 512;

    cid_decoder();
    virtual ~cid_decoder() = default;

    // Runs kFrameLength samples, each shifted right by shift first. Returns
    // true when a message ended inside the frame; the demodulator was then
    // reset (cidReset) at once and goes on searching for the next carrier.
    virtual bool cid_detect_frame(std::int16_t* samples, int shift);
    // Back to carrier search; then OnCidReset().
    virtual void cidReset();

    virtual void on_line_ringing() { cidReset(); }
    virtual void on_line_hook_off() { cidReset(); }
    virtual void on_line_reset() { cidReset(); }
    virtual void on_ring_cancel() { cidReset(); }

    // One received character.
    virtual void OnCidData(std::uint8_t byte) { (void)byte; }
    // Every low-pass output, before the DC offset is taken off.
    virtual void OnLowPassOut(std::int16_t value) { (void)value; }
    // The seizure was found; the DC offset measured over it.
    virtual void OnLowPassMark(std::int16_t dc_offset) { (void)dc_offset; }
    // The mark signal ended with its first start bit after mark_count marks.
    virtual void OnFoundCarrier(int mark_count) { (void)mark_count; }
    virtual void OnCidReset() {}

    // One sample through a 31-tap high-pass with a caller-owned delay line
    // (31 samples, newest first).
    static std::int16_t HPFilter(std::int16_t x, std::int16_t* delay);

private:
    void reset_state();
    // Gain control, band-pass, discriminator and low-pass over n samples
    // (each shifted right by shift first), one block each.
    void demodulate(const std::int16_t* samples, int shift, std::int16_t* lowpass, int n);
    // One low-pass output through the bit clock and the framing; true when
    // the message ended.
    bool cidDet(std::int16_t lowpass);
    std::int16_t gain_control(std::int16_t x);
    void dephasor(std::int16_t* band, int n);
    void collect(std::int16_t lowpass);
    // One bit from the bit clock, routed by phase. True when the message ended.
    bool on_bit(int bit);
    void chkSeizure(int bit);
    void chkCarrier(int bit);
    bool take_data_bit(int bit);

    // Low-pass outputs before the seizure: a ring of the latest ones.
    std::int16_t collected_[kMaxCollected] = {};
    int collected_count_ = 0;
    int collected_next_ = 0;  // where the next output goes
    std::int16_t dc_offset_ = 8;
    bool collection_stopped_ = false;

    // Counts every reset, so that a frame whose demodulator was reset part
    // way (a message that ended, or a hook that reset it) runs its remaining
    // samples through the filters afresh.
    unsigned resets_ = 0;

    int quiet_sum_ = 0;
    std::int16_t quiet_window_[7] = {};  // |v| of the latest outputs, a ring
    int quiet_next_ = 0;                 // the oldest, replaced next
    FirQ15<31> band_pass_;
    // x[n-1], x[n-2], y[n-1], y[n-2]
    std::int16_t dephasor_history_[4] = {};
    FirQ15<15> low_pass_;
    bool seizure_found_ = false;
    bool carrier_found_ = false;
    bool data_started_ = false;
    int previous_bit_ = 0;
    int alternations_ = 0;
    int mark_count_ = 0;
    int byte_count_ = 0;
    int samples_since_crossing_ = 0;
    int countdown_ = 4;
    int bit_number_ = 1;
    int bit_index_ = 1;
    std::int16_t previous_value_ = 0;
    std::uint16_t shift_register_ = 0;
    RingMeanAbs<32> gain_mean_;
};
