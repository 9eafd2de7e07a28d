#include "dsp/Tone.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/logger.h"
#include "dsp/dsp_q15.h"

namespace {

constexpr const char* kModule = "olva ";
constexpr const char* kTag = "tone";

// The generator's own two pi; its phase steps are computed with it.
constexpr double kTwoPi = 6.28318;
constexpr int kBaseRate = 8000;
constexpr long kUnknownKeySilenceMs = 1000;
// The int16 store scales the generated terms by 64.
constexpr std::int64_t kStoreScale = 64;

struct DtmfPair {
    unsigned char key;
    float low;
    float high;
};

// The high tone of '1' is 1209.9 Hz; the rest of its column use 1209 Hz.
constexpr DtmfPair kDtmfPairs[] = {
    {'1', 697, 1209.9f}, {'2', 697, 1336}, {'3', 697, 1477}, {'4', 770, 1209},
    {'5', 770, 1336},    {'6', 770, 1477}, {'7', 852, 1209}, {'8', 852, 1336},
    {'9', 852, 1477},    {'*', 941, 1209}, {'0', 941, 1336}, {'#', 941, 1477},
    {'A', 697, 1633},    {'B', 770, 1633}, {'C', 852, 1633}, {'D', 941, 1633},
};

// Samples of ms at 8000 * multiplier Hz; the operands are bounded first so
// that no setting can overflow the product (anything that large is refused
// by the length limit anyway).
std::int64_t samples_of(long ms, int multiplier)
{
    const std::int64_t m = std::clamp<std::int64_t>(multiplier, -kMaxToneSamples, kMaxToneSamples);
    const std::int64_t t = std::clamp<std::int64_t>(ms, -kMaxToneSamples, kMaxToneSamples);
    return t * (kBaseRate / 1000) * m;
}

// (long)v, cut toward zero, without undefined behaviour for values beyond
// the range (they saturate; the int16 store saturates them again) or NaN.
std::int64_t cut(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<std::int64_t>(std::clamp(v, -2147483648.0, 2147483647.0));
}

std::int16_t store(std::int64_t v)
{
    return sat16(v * kStoreScale);
}

// Sizes a segment of on_samples of tone and off_samples of silence; false
// (and empty) when it has no length or is longer than the limit.
bool size_segment(std::vector<std::int16_t>& samples, std::int64_t on_samples,
                  std::int64_t off_samples)
{
    const std::int64_t total = on_samples + off_samples;
    if (total <= 0)
        return false;
    if (total > kMaxToneSamples) {
        logger(1, kModule, kTag, "tone segment of %lld samples refused, the limit is %lld",
               static_cast<long long>(total), static_cast<long long>(kMaxToneSamples));
        return false;
    }
    samples.assign(static_cast<std::size_t>(total), 0);
    return true;
}

}  // namespace

bool GetDtmfFrequency(unsigned char key, float& low, float& high)
{
    const unsigned char upper = (key >= 'a' && key <= 'd') ? key - 'a' + 'A' : key;
    for (const DtmfPair& p : kDtmfPairs) {
        if (p.key == upper) {
            low = p.low;
            high = p.high;
            return true;
        }
    }
    low = 0;
    high = 0;
    return false;
}

CToneObject::CToneObject(long ms, int multiplier)
{
    size_segment(samples_, 0, samples_of(ms, multiplier));
}

CToneObject::CToneObject(float f, long amplitude, long on_ms, long off_ms)
{
    const std::int64_t on = samples_of(on_ms, 1);
    if (!size_segment(samples_, on, samples_of(off_ms, 1)))
        return;
    const float w = static_cast<float>(f * kTwoPi / kBaseRate);
    const std::int64_t tone = std::clamp<std::int64_t>(on, 0, static_cast<std::int64_t>(samples_.size()));
    for (std::int64_t i = 0; i < tone; ++i)
        samples_[i] = store(cut(std::sin(double{static_cast<float>(i) * w}) * static_cast<double>(amplitude)));
}

CToneObject::CToneObject(float f1, float f2, long amplitude, long on_ms, long off_ms, float ratio,
                         int multiplier)
{
    const std::int64_t on = samples_of(on_ms, multiplier);
    if (!size_segment(samples_, on, samples_of(off_ms, multiplier)))
        return;
    const double rate = static_cast<double>(multiplier) * kBaseRate;
    const float w1 = static_cast<float>(f1 * kTwoPi / rate);
    const float w2 = static_cast<float>(f2 * kTwoPi / rate);
    const std::int64_t tone = std::clamp<std::int64_t>(on, 0, static_cast<std::int64_t>(samples_.size()));
    for (std::int64_t i = 0; i < tone; ++i) {
        const std::int64_t low = cut(static_cast<double>(amplitude) * std::sin(double{w1 * static_cast<float>(i)}));
        const std::int64_t high = cut(static_cast<double>(ratio * static_cast<float>(amplitude)) *
                                      std::sin(double{w2 * static_cast<float>(i)}));
        samples_[i] = store(low + high);
    }
}

namespace {

// Joins segments back to back; false (and nothing joined) past the limit.
bool join(std::vector<std::int16_t>& out, const std::vector<CToneObject>& segments)
{
    std::int64_t total = 0;
    for (const CToneObject& s : segments)
        total += static_cast<std::int64_t>(s.sample_count());
    if (total > kMaxToneSamples) {
        logger(1, kModule, kTag, "tone of %lld samples refused, the limit is %lld",
               static_cast<long long>(total), static_cast<long long>(kMaxToneSamples));
        return false;
    }
    out.reserve(static_cast<std::size_t>(total));
    for (const CToneObject& s : segments)
        out.insert(out.end(), s.data(), s.data() + s.sample_count());
    return true;
}

}  // namespace

CToneVoice::CToneVoice(const char* digits, long on_ms, long off_ms, short amplitude, float ratio,
                       int, int multiplier)
{
    if (!digits)
        return;
    const std::size_t count = strnlen(digits, kMaxDtmfDigits + 1);
    if (count > kMaxDtmfDigits) {
        logger(1, kModule, kTag, "dtmf string of more than %zu characters refused", kMaxDtmfDigits);
        return;
    }
    std::vector<CToneObject> segments;
    segments.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        float low = 0;
        float high = 0;
        if (GetDtmfFrequency(static_cast<unsigned char>(digits[i]), low, high))
            segments.emplace_back(low, high, amplitude, on_ms, off_ms, ratio, multiplier);
        else
            segments.emplace_back(kUnknownKeySilenceMs, multiplier);
    }
    join(samples_, segments);
}

CToneVoice::CToneVoice(float f, long total_ms, short amplitude, const char* cadence)
{
    if (total_ms <= 0)
        return;
    const std::int64_t total = samples_of(total_ms, 1);
    if (total > kMaxToneSamples) {
        logger(1, kModule, kTag, "tone of %ld ms refused, the limit is %lld samples", total_ms,
               static_cast<long long>(kMaxToneSamples));
        return;
    }

    std::vector<CToneObject> segments;
    if (cadence && *cadence) {
        // Pairs of on and off times; no value longer than the whole tone is
        // needed, so none is taken longer.
        std::string text(cadence);
        std::int64_t sum = 0;
        char* rest = nullptr;
        for (char* token = strtok_r(text.data(), " ,;.:'-\t", &rest); token;) {
            const long on = std::min(std::strtol(token, nullptr, 10), total_ms);
            token = strtok_r(nullptr, " ,;.:'-\t", &rest);
            const bool has_off = token != nullptr;
            const long off = has_off ? std::min(std::strtol(token, nullptr, 10), total_ms) : 0;
            segments.emplace_back(f, amplitude, on, off);
            sum += on + off;
            if (!has_off || sum >= total_ms)
                break;
            token = strtok_r(nullptr, " ,;.:'-\t", &rest);
        }
    } else {
        segments.emplace_back(f, amplitude, total_ms, 0);
    }

    // The segments repeat until the tone is full, the last copy cut to fit.
    // Segments that are all empty leave it silent.
    samples_.assign(static_cast<std::size_t>(total), 0);
    std::size_t cycle = 0;
    for (const CToneObject& s : segments)
        cycle += s.sample_count();
    if (cycle == 0)
        return;
    std::size_t pos = 0;
    while (pos < samples_.size()) {
        for (const CToneObject& s : segments) {
            const std::size_t n = std::min(s.sample_count(), samples_.size() - pos);
            std::copy_n(s.data(), n, samples_.begin() + static_cast<std::ptrdiff_t>(pos));
            pos += n;
            if (pos == samples_.size())
                break;
        }
    }
}
