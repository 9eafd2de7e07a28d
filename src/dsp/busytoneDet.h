// Call-progress tone detector for 8 kHz 16-bit line audio, in 16-bit fixed
// point: two Goertzel filters over blocks of 80 samples decide per block
// whether the tone is there, and the lengths of tone and pause runs are
// matched against a cadence. One instance watches for busy tone, another for
// dial tone and ringback.
#pragma once

#include <cstdint>

#include "dsp/dsp_q15.h"
#include "model/busy_info.h"


class CToneDetect {
public:
    // Samples analysed per block; the sample after them ends the block.
    static constexpr int kBlockSamples = 80;
    // Frequencies are kept within this range, in 5 Hz steps.
    static constexpr std::int64_t kMinFrequency = 300;
    static constexpr std::int64_t kMaxFrequency = 799;
    static constexpr std::int64_t kMaxGate = 50;

    // Takes the settings: frequencies kept within 300..799 Hz, the gate within
    // 0..50 and replaced by its energy threshold. Returns 0.
    int Initial(const tagBusyInfo& info);
    // Clears the runs and filters; the match count keeps its value.
    void StarttoneDet();

    // Busy tone: true on the sample that completes the cadence.
    bool toneDet(std::int16_t x);
    // Dial tone and ringback: type is -1 inside a block, 0 at a block end
    // without detection (level_db then gets the block level, 0 to -48 dB),
    // 1 dial tone, 2 ringback. True when type is 1 or 2.
    bool toneDet(std::int16_t x, std::int16_t& level_db, int& type);

    // The level (0 to -48 dB) of a block's sum of |x|.
    static std::int16_t get_db_by_frame_energy(unsigned sum);

    // The settings in force: clamped frequencies, and the energy threshold
    // in place of the gate.
    const tagBusyInfo& settings() const { return settings_; }
    std::int16_t coefficient(int filter) const { return coef_[filter]; }
    // A filter's energy at the last block end.
    std::int16_t energy(int filter) const { return energy_[filter]; }

private:
    enum class Block { Inside, Tone, Pause };
    // One sample through gain control and, by the block's end, the filters.
    Block analyse(std::int16_t x, bool sum_block);
    // The samples gathered since the last run through the filters.
    void run_filters();
    // A transition: when the last pause and tone both fit the cadence, one
    // more match is counted, and true means needed matches are complete (the
    // count starts again); a miss clears the count.
    bool cadence_step(std::int64_t off_run, std::int64_t on_run, std::int16_t& count,
                      std::int64_t needed) const;
    // One match counted; true (and the count cleared) when needed is reached.
    static bool count_match(std::int16_t& count, std::int64_t needed);

    std::int32_t block_countdown_ = kBlockSamples;
    std::int16_t on_run_ = 0;
    std::int16_t off_run_ = 0;
    std::int16_t in_tone_ = 0;
    RingMeanAbs<32> gain_mean_;
    std::int16_t state_[2][2] = {};  // per filter: value before last, last value
    // Gain-controlled samples that have not been through the filters yet:
    // they run in one pass at the block's end, or before the coefficients
    // change, so that each sample meets the coefficients it always met.
    std::int16_t pending_[kBlockSamples] = {};
    int pending_count_ = 0;
    std::int16_t energy_[2] = {};
    std::int16_t coef_[2] = {};
    std::int16_t match_count_ = 0;
    std::int16_t ringback_match_count_ = 0;
    std::int16_t ringback_on_run_ = 0;
    std::int16_t ringback_off_run_ = 0;
    std::int32_t block_sum_ = 0;
    tagBusyInfo settings_ = {};
};
