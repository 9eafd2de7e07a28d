// Telephony signals made by spandsp, an implementation we did not write, as
// 8 kHz int16 buffers: DTMF digits, FSK caller-ID messages, tones and noise;
// and spandsp's DTMF receiver to decode what our generator makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace olva_test {

using Samples = std::vector<std::int16_t>;

// Samples of ms milliseconds at 8000 Hz.
constexpr std::size_t msToSamples(int ms)
{
    return static_cast<std::size_t>(ms) * 8;
}

Samples silence(int ms);

// Appends b to a.
void append(Samples& a, const Samples& b);

// Padded with silence to whole 20 ms frames.
Samples framed(Samples s);

// Adds b into a sample by sample from offset (growing a when needed),
// saturating.
void mixIn(Samples& a, const Samples& b, std::size_t offset = 0);

// Scales by gain_db, saturating.
void applyGainDb(Samples& s, double gain_db);

// DTMF digits from spandsp's generator: level of the low tone in dBm0, the
// high tone twist_db above it, tone and gap lengths in ms. Every digit is
// followed by its gap.
Samples spandspDtmf(const std::string& digits, int level_dbm0, int twist_db, int on_ms,
                    int off_ms);

// Digits that spandsp's DTMF receiver finds in 8 kHz samples.
std::string spandspDtmfDecode(const std::int16_t* samples, std::size_t count);

// One tone pair (f2 = 0: a single tone) with a cadence: on_ms of tone, off_ms
// of silence, repeated until total_ms (off_ms = 0: a steady tone). Levels in
// dBm0.
Samples spandspTone(int f1, int level1_dbm0, int f2, int level2_dbm0, int on_ms, int off_ms,
                    int total_ms);

// White Gaussian noise at level_dbm0.
Samples spandspNoise(int level_dbm0, int ms, int seed);

// Caller-ID standards of spandsp's ADSI transmitter, by modulation.
enum class CidStandard {
    Bell202,       // the North American standard (1200 Hz mark, 2200 Hz space)
    V23,           // the European standard (1300 Hz mark, 2100 Hz space), MDMF only
    V23Singapore,  // V.23 with the North American message formats
};

const char* cidStandardName(CidStandard standard);

struct CidField {
    std::uint8_t type;
    std::string body;
};

// A caller-ID message as spandsp sends it: the message type, the length,
// the body (SDMF: date and time, then number; MDMF: fields) and the
// checksum. SDMF is type 0x04, MDMF type 0x80.
struct CidMessage {
    std::vector<std::uint8_t> bytes;  // as on the wire, the checksum last
    Samples signal;                   // seizure, marks, message, trailing marks
};

CidMessage spandspSdmf(CidStandard standard, const std::string& date_time,
                       const std::string& number);
CidMessage spandspMdmf(CidStandard standard, const std::vector<CidField>& fields);

// The bits of a hand-made FSK signal (1 mark, 0 space), for framings that a
// well-formed message cannot show.
class FskBits {
public:
    // Alternating bits, starting with a space.
    FskBits& seizure(int bits);
    FskBits& marks(int bits);
    // Start bit, eight data bits least significant first, stop bit.
    FskBits& characters(const std::vector<std::uint8_t>& bytes);
    const std::vector<std::uint8_t>& bits() const { return bits_; }

private:
    std::vector<std::uint8_t> bits_;
};

// The bits sent at 1200 baud by spandsp's FSK modulator of the standard, at
// level_dbm0; ends with the last bit.
Samples spandspFsk(CidStandard standard, const FskBits& bits, int level_dbm0);

// The message bytes that spandsp's own ADSI receiver takes from a signal
// (its checksum checked and left off); empty when it found none.
std::vector<std::uint8_t> spandspCidDecode(CidStandard standard, const Samples& signal);

}  // namespace olva_test
