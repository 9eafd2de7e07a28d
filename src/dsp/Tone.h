// Tone and DTMF generation into 16-bit sample buffers at 8000 Hz times a
// rate multiplier (6 gives the 48000 Hz of the two-line boxes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The DTMF pair of a key ('0'-'9', '*', '#', 'A'-'D' in either case), in Hz.
// Any other character gives false and 0, 0.
bool GetDtmfFrequency(unsigned char key, float& low, float& high);

// No generated buffer is longer than this (five minutes at 48000 Hz); a
// segment or voice that would be is refused and left empty.
constexpr std::int64_t kMaxToneSamples = 300LL * 48000;
// The longest DTMF string a voice takes (the play queue's text limit); each
// character that is not a key stands for a second of silence.
constexpr std::size_t kMaxDtmfDigits = 254;

// One segment: silence, a sine tone or a dual tone.
class CToneObject {
public:
    // Silence of ms * 8 * multiplier samples.
    CToneObject(long ms, int multiplier);
    // At 8000 Hz: a tone of f for on_ms, then silence for off_ms. Each sample
    // is (long)(sin(i w) amplitude) * 64.
    CToneObject(float f, long amplitude, long on_ms, long off_ms);
    // At 8000 * multiplier Hz: f1 at amplitude plus f2 at ratio * amplitude
    // for on_ms, then silence for off_ms; each term cut toward zero, the sum
    // times 64.
    CToneObject(float f1, float f2, long amplitude, long on_ms, long off_ms, float ratio,
                int multiplier);
    virtual ~CToneObject() = default;

    const std::int16_t* data() const { return samples_.empty() ? nullptr : samples_.data(); }
    std::size_t sample_count() const { return samples_.size(); }
    // Length in bytes.
    long length() const { return static_cast<long>(samples_.size() * sizeof(std::int16_t)); }

private:
    std::vector<std::int16_t> samples_;
};

// Segments joined into one buffer: a DTMF string or a cadenced tone.
class CToneVoice {
public:
    // Each key of digits as a dual tone for on_ms and silence for off_ms;
    // every other character as one second of silence. A string longer than
    // kMaxDtmfDigits is refused. The sixth argument is not used.
    CToneVoice(const char* digits, long on_ms, long off_ms, short amplitude, float ratio, int,
               int multiplier);
    // total_ms of f at 8000 Hz, cut by a cadence text of on and off pairs in
    // ms (separated by blanks, tabs or any of ,;.:'-), repeated to fill;
    // without a cadence a steady tone.
    CToneVoice(float f, long total_ms, short amplitude, const char* cadence);
    virtual ~CToneVoice() = default;

    // Null when nothing was generated.
    const std::int16_t* data() const { return samples_.empty() ? nullptr : samples_.data(); }
    std::size_t sample_count() const { return samples_.size(); }
    long length() const { return static_cast<long>(samples_.size() * sizeof(std::int16_t)); }

private:
    std::vector<std::int16_t> samples_;
};
