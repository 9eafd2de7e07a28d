// DTMF key detector for 20 ms frames of 8 kHz 16-bit line audio, in 16-bit
// fixed point: a 31-tap band-pass, a frame-level gain control, eight
// Goertzel filters, then strength, twist and relative-peak checks. A key is
// reported on the second of two consecutive frames that agree.
#pragma once

#include <cstdint>

#include "dsp/dsp_q15.h"

class dtmf_decoder {
public:
    static constexpr int kFrameLength = 160;
    // Key codes: 0-9 the digits, 10-13 'A'-'D', 14 '*', 15 '#'.
    static constexpr std::int16_t kNoKey = 16;

    dtmf_decoder();
    virtual ~dtmf_decoder() = default;

    // Resets the detector; call before the first frame.
    virtual void dtmf_init();

    // Runs one frame of kFrameLength samples. Returns true when a key is
    // reported, and then stores its code through code (when not null).
    // strict raises the strength and twist thresholds and turns off the
    // loudness gate.
    virtual bool dtmf_detect(const std::int16_t* frame, std::int16_t* code, bool strict);

    static std::int16_t sat16(int v);

    // The energy of Goertzel filter 0-7 (rows, then columns) in the last frame.
    std::int16_t energy(int filter) const { return energy_[filter]; }

private:
    void set_mode(bool strict);
    // Runs the Goertzel filters over the filtered frame and leaves the eight
    // energies in energy_.
    void goertzel();
    // Strength (with the pause gate), twist and relative-peak checks.
    bool passes_checks(bool strict, std::int16_t row_peak, std::int16_t row_second,
                       std::int16_t col_peak, std::int16_t col_second);

    std::int16_t filtered_[kFrameLength] = {};
    std::int16_t last_code_ = kNoKey;
    // 1 (normal) or 2 (strict) opens the strength gate; a report closes it.
    std::int32_t pause_counter_ = 0;
    std::int16_t energy_[8] = {};  // rows 0-3, columns 4-7
    FirQ15<31> band_pass_;
    std::int16_t strength_threshold_;
    std::int16_t twist_rows_stronger_;
    std::int16_t twist_cols_stronger_;
    bool strict_mode_;
};
