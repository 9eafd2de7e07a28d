#include "support/spandsp_signals.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <spandsp.h>

namespace olva_test {

namespace {

constexpr int kChunk = 160;

std::int16_t saturate(double v)
{
    return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

// Runs a spandsp generator until it stops giving samples (or total samples).
template <typename Generate>
Samples drain(Generate generate, std::size_t limit)
{
    Samples out;
    std::int16_t chunk[kChunk];
    while (out.size() < limit) {
        const int want = static_cast<int>(std::min<std::size_t>(kChunk, limit - out.size()));
        const int got = generate(chunk, want);
        if (got <= 0)
            break;
        out.insert(out.end(), chunk, chunk + got);
    }
    return out;
}

int adsiStandard(CidStandard standard)
{
    switch (standard) {
    case CidStandard::Bell202:
        return ADSI_STANDARD_CLASS;
    case CidStandard::V23:
        return ADSI_STANDARD_CLIP;
    case CidStandard::V23Singapore:
        return ADSI_STANDARD_ACLIP;
    }
    throw std::invalid_argument("unknown caller-ID standard");
}

// Sends a message built by spandsp's field helper; the wire bytes are the
// built message (its length filled in by the transmitter) and the checksum
// that makes all bytes add up to 0.
CidMessage transmit(adsi_tx_state_t* tx, std::uint8_t* msg, int len)
{
    if (len < 2 || adsi_tx_put_message(tx, msg, len) != len)
        throw std::runtime_error("spandsp refused the caller-ID message");
    CidMessage m;
    m.bytes.assign(msg, msg + len);
    m.bytes[1] = static_cast<std::uint8_t>(len - 2);
    std::uint8_t sum = 0;
    for (std::uint8_t b : m.bytes)
        sum = static_cast<std::uint8_t>(sum + b);
    m.bytes.push_back(static_cast<std::uint8_t>(-sum));
    // A message lasts well under two seconds.
    m.signal = drain([tx](std::int16_t* buf, int n) { return adsi_tx(tx, buf, n); }, msToSamples(2000));
    adsi_tx_free(tx);
    return m;
}

std::uint8_t* asBytes(const std::string& s)
{
    return reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()));
}

}  // namespace

Samples silence(int ms)
{
    return Samples(msToSamples(ms), 0);
}

void append(Samples& a, const Samples& b)
{
    a.insert(a.end(), b.begin(), b.end());
}

Samples framed(Samples s)
{
    constexpr std::size_t frame = msToSamples(20);
    s.resize((s.size() + frame - 1) / frame * frame, 0);
    return s;
}

void mixIn(Samples& a, const Samples& b, std::size_t offset)
{
    if (a.size() < offset + b.size())
        a.resize(offset + b.size(), 0);
    for (std::size_t i = 0; i < b.size(); ++i)
        a[offset + i] = saturate(static_cast<double>(a[offset + i]) + b[i]);
}

void applyGainDb(Samples& s, double gain_db)
{
    const double g = std::pow(10.0, gain_db / 20.0);
    for (std::int16_t& v : s)
        v = saturate(v * g);
}

Samples spandspDtmf(const std::string& digits, int level_dbm0, int twist_db, int on_ms, int off_ms)
{
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_set_level(tx, level_dbm0, twist_db);
    dtmf_tx_set_timing(tx, on_ms, off_ms);
    Samples out;
    // The generator's queue holds MAX_DTMF_DIGITS; feed it in parts. It
    // answers with the number of digits it could not take.
    for (std::size_t pos = 0; pos < digits.size(); pos += 64) {
        const std::string part = digits.substr(pos, 64);
        if (dtmf_tx_put(tx, part.c_str(), static_cast<int>(part.size())) != 0)
            throw std::runtime_error("spandsp's DTMF queue is full");
        const std::size_t limit = part.size() * msToSamples(on_ms + off_ms) + kChunk;
        append(out, drain([tx](std::int16_t* buf, int n) { return dtmf_tx(tx, buf, n); }, limit));
    }
    dtmf_tx_free(tx);
    return out;
}

std::string spandspDtmfDecode(const std::int16_t* samples, std::size_t count)
{
    std::string found;
    auto collect = [](void* user, const char* digits, int len) {
        static_cast<std::string*>(user)->append(digits, static_cast<std::size_t>(len));
    };
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, collect, &found);
    for (std::size_t pos = 0; pos < count; pos += kChunk)
        dtmf_rx(rx, samples + pos, static_cast<int>(std::min<std::size_t>(kChunk, count - pos)));
    dtmf_rx_free(rx);
    return found;
}

Samples spandspTone(int f1, int level1_dbm0, int f2, int level2_dbm0, int on_ms, int off_ms,
                    int total_ms)
{
    const bool steady = off_ms <= 0;
    tone_gen_descriptor_t* desc =
        tone_gen_descriptor_init(nullptr, f1, level1_dbm0, f2, level2_dbm0, steady ? total_ms : on_ms,
                                 steady ? 0 : off_ms, 0, 0, steady ? 0 : 1);
    tone_gen_state_t* gen = tone_gen_init(nullptr, desc);
    Samples out =
        drain([gen](std::int16_t* buf, int n) { return tone_gen(gen, buf, n); }, msToSamples(total_ms));
    out.resize(msToSamples(total_ms), 0);
    tone_gen_free(gen);
    tone_gen_descriptor_free(desc);
    return out;
}

Samples spandspNoise(int level_dbm0, int ms, int seed)
{
    awgn_state_t* noise = awgn_init_dbm0(nullptr, seed, static_cast<float>(level_dbm0));
    Samples out(msToSamples(ms));
    for (std::int16_t& v : out)
        v = awgn(noise);
    awgn_free(noise);
    return out;
}

const char* cidStandardName(CidStandard standard)
{
    switch (standard) {
    case CidStandard::Bell202:
        return "Bell202";
    case CidStandard::V23:
        return "V23";
    case CidStandard::V23Singapore:
        return "V23Singapore";
    }
    return "?";
}

CidMessage spandspSdmf(CidStandard standard, const std::string& date_time, const std::string& number)
{
    adsi_tx_state_t* tx = adsi_tx_init(nullptr, adsiStandard(standard));
    std::uint8_t msg[256];
    int len = adsi_add_field(tx, msg, -1, CLASS_SDMF_CALLERID, nullptr, 0);
    len = adsi_add_field(tx, msg, len, 0, asBytes(date_time), static_cast<int>(date_time.size()));
    len = adsi_add_field(tx, msg, len, 0, asBytes(number), static_cast<int>(number.size()));
    return transmit(tx, msg, len);
}

CidMessage spandspMdmf(CidStandard standard, const std::vector<CidField>& fields)
{
    adsi_tx_state_t* tx = adsi_tx_init(nullptr, adsiStandard(standard));
    std::uint8_t msg[256];
    int len = adsi_add_field(tx, msg, -1, CLASS_MDMF_CALLERID, nullptr, 0);
    for (const CidField& f : fields)
        len = adsi_add_field(tx, msg, len, f.type, asBytes(f.body), static_cast<int>(f.body.size()));
    return transmit(tx, msg, len);
}

FskBits& FskBits::seizure(int bits)
{
    for (int i = 0; i < bits; ++i)
        bits_.push_back(static_cast<std::uint8_t>(i & 1));
    return *this;
}

FskBits& FskBits::marks(int bits)
{
    bits_.insert(bits_.end(), static_cast<std::size_t>(bits), 1);
    return *this;
}

FskBits& FskBits::characters(const std::vector<std::uint8_t>& bytes)
{
    for (std::uint8_t b : bytes) {
        bits_.push_back(0);
        for (int i = 0; i < 8; ++i)
            bits_.push_back(static_cast<std::uint8_t>((b >> i) & 1));
        bits_.push_back(1);
    }
    return *this;
}

Samples spandspFsk(CidStandard standard, const FskBits& bits, int level_dbm0)
{
    struct Source {
        const std::vector<std::uint8_t>* bits;
        std::size_t next;
    } source{&bits.bits(), 0};
    auto get_bit = [](void* user) -> int {
        auto* s = static_cast<Source*>(user);
        if (s->next < s->bits->size())
            return (*s->bits)[s->next++];
        return int{SIG_STATUS_END_OF_DATA};
    };
    const int modem = standard == CidStandard::Bell202 ? int{FSK_BELL202} : int{FSK_V23CH1};
    const fsk_spec_t* spec = &preset_fsk_specs[modem];
    fsk_tx_state_t* tx = fsk_tx_init(nullptr, spec, get_bit, &source);
    fsk_tx_power(tx, static_cast<float>(level_dbm0));
    // 20 samples for 3 bits at 1200 baud, and a little for the filters.
    const std::size_t length = bits.bits().size() * 20 / 3 + kChunk;
    Samples out = drain([tx](std::int16_t* buf, int n) { return fsk_tx(tx, buf, n); }, length);
    fsk_tx_free(tx);
    return out;
}

std::vector<std::uint8_t> spandspCidDecode(CidStandard standard, const Samples& signal)
{
    std::vector<std::uint8_t> found;
    auto collect = [](void* user, const std::uint8_t* msg, int len) {
        if (len > 0)
            static_cast<std::vector<std::uint8_t>*>(user)->assign(msg, msg + len);
    };
    adsi_rx_state_t* rx = adsi_rx_init(nullptr, adsiStandard(standard), collect, &found);
    for (std::size_t pos = 0; pos < signal.size(); pos += kChunk)
        adsi_rx(rx, signal.data() + pos, static_cast<int>(std::min<std::size_t>(kChunk, signal.size() - pos)));
    adsi_rx_free(rx);
    return found;
}

}  // namespace olva_test
