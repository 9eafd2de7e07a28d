// The Tz2501A's I2C bus, driven pin by pin: SDA is bit 0 and SCL bit 1 of
// the pin byte G1, the same bits of G2 say which pins the box drives. Every
// pin change is one Tz2501A pin report; SDA is sampled with a 5-byte
// GET_REPORT [-, 0 (valid), pins, -, -].
#include "usb_hid/hid_device.h"

namespace {

constexpr std::uint8_t kSda = 0x01;
constexpr std::uint8_t kScl = 0x02;
constexpr std::uint8_t kBoth = kSda | kScl;
constexpr std::uint8_t kMemoryWrite = 0xA0;
constexpr std::uint8_t kMemoryRead = 0xA1;
constexpr int kAckPolls = 5;
constexpr unsigned long kSampleSize = 5;
constexpr unsigned long kWriteMax = 128;

}  // namespace

bool HidDevice::send_tz2501a_pins(std::uint8_t g1, std::uint8_t g2)
{
    g1_.store(g1);
    g2_.store(g2);
    return Set_GPIO(g1, g2);
}

bool HidDevice::sample_sda(bool& sda, bool& valid)
{
    std::uint8_t sample[kSampleSize] = {};
    if (!sync_read(sample, kSampleSize))
        return false;
    valid = sample[1] == 0;
    sda = valid && (sample[2] & kSda) != 0;
    return true;
}

bool HidDevice::I2CStart()
{
    const std::uint8_t g1 = g1_.load() | kBoth;
    const std::uint8_t g2 = g2_.load() | kBoth;
    return send_tz2501a_pins(g1, g2) && send_tz2501a_pins(g1 & ~kSda, g2) &&
           send_tz2501a_pins(g1 & ~kBoth, g2);
}

bool HidDevice::I2CStop()
{
    const std::uint8_t g1 = g1_.load() & ~kSda;
    const std::uint8_t g2 = g2_.load() | kSda;
    return send_tz2501a_pins(g1, g2) && send_tz2501a_pins(g1 | kScl, g2) &&
           send_tz2501a_pins(g1 | kBoth, g2);
}

bool HidDevice::I2C_Send8bit(std::uint8_t byte)
{
    for (int bit = 7; bit >= 0; --bit) {
        const std::uint8_t g2 = g2_.load() | kBoth;
        const std::uint8_t low = g1_.load() & ~kScl;
        const std::uint8_t data = ((byte >> bit) & 1) ? (low | kSda) : (low & ~kSda);
        if (!send_tz2501a_pins(low, g2) || !send_tz2501a_pins(data, g2) ||
            !send_tz2501a_pins(data | kScl, g2))
            return false;
    }
    // SDA released for the acknowledge, SCL low and driven.
    return send_tz2501a_pins((g1_.load() & ~kBoth) | kSda, (g2_.load() & ~kBoth) | kScl);
}

bool HidDevice::I2CRevAck()
{
    for (int poll = 0; poll < kAckPolls; ++poll) {
        if (!send_tz2501a_pins(g1_.load() | kScl, g2_.load()))
            return false;
        // A lost sample is a failed transfer, not a missing acknowledge:
        // polling on would clock the memory out of step.
        bool sda = true;
        bool valid = false;
        if (!sample_sda(sda, valid))
            return false;
        if (valid && !sda)
            break;
        if (!send_tz2501a_pins(g1_.load() & ~kScl, g2_.load()))
            return false;
    }
    // A missing acknowledge is not an error: the transaction goes on.
    return send_tz2501a_pins(g1_.load() & ~kSda, g2_.load()) &&
           send_tz2501a_pins((g1_.load() & ~kBoth) | kSda, g2_.load() | kBoth);
}

bool HidDevice::I2C_Recv8bit(std::uint8_t& out)
{
    if (!send_tz2501a_pins((g1_.load() & ~kBoth) | kSda, (g2_.load() & ~kBoth) | kScl))
        return false;
    std::uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (!send_tz2501a_pins(g1_.load() | kScl, g2_.load()))
            return false;
        // An invalid sample counts as 0.
        bool sda = false;
        bool valid = false;
        if (!sample_sda(sda, valid))
            return false;
        byte = static_cast<std::uint8_t>((byte << 1) | (sda ? 1 : 0));
        if (!send_tz2501a_pins(g1_.load() & ~kScl, g2_.load()))
            return false;
    }
    out = byte;
    return true;
}

bool HidDevice::I2CSendAck()
{
    const std::uint8_t g2 = g2_.load() | kBoth;
    const std::uint8_t g1 = g1_.load() & ~kSda;
    return send_tz2501a_pins(g1, g2) && send_tz2501a_pins(g1 & ~kScl, g2) &&
           send_tz2501a_pins(g1 | kScl, g2) && send_tz2501a_pins(g1 & ~kScl, g2) &&
           send_tz2501a_pins((g1 & ~kScl) | kSda, g2);
}

bool HidDevice::I2C_Clock()
{
    const std::uint8_t g2 = g2_.load();
    const std::uint8_t g1 = g1_.load();
    return send_tz2501a_pins(g1 & ~kScl, g2) && send_tz2501a_pins(g1 | kScl, g2) &&
           send_tz2501a_pins(g1 & ~kScl, g2);
}

bool HidDevice::I2CSend_bytes(std::uint8_t addr, const std::uint8_t* data, unsigned long len)
{
    if (!data || len < 1 || len > kWriteMax)
        return false;
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    for (unsigned long i = 0; i < len; ++i) {
        // One whole transaction per byte.
        if (!I2CStart() || !I2C_Send8bit(kMemoryWrite) || !I2CRevAck() || !I2C_Send8bit(addr) ||
            !I2CRevAck() || !I2C_Send8bit(data[i]) || !I2CRevAck() || !I2CStop())
            return false;
        ++addr;
    }
    return true;
}

bool HidDevice::I2CRecv_seqbytes(std::uint8_t addr, std::uint8_t* out, unsigned long len)
{
    if (!out || len < 1)
        return false;
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    if (!I2CStart() || !I2C_Send8bit(kMemoryWrite) || !I2CRevAck() || !I2C_Send8bit(addr) ||
        !I2CRevAck() || !I2CStart() || !I2C_Send8bit(kMemoryRead) || !I2CRevAck())
        return false;
    unsigned long received = 0;
    while (received < len && !closing_.load()) {
        if (!I2C_Recv8bit(out[received]))
            break;
        ++received;
        // Acknowledge every byte but the last, which gets a bare clock.
        if (!(received == len ? I2C_Clock() : I2CSendAck()))
            break;
    }
    // The stop is sent even after a failure in the data phase.
    const bool stopped = I2CStop();
    return received == len && stopped;
}

bool HidDevice::I2CSend_byte(std::uint8_t addr, std::uint8_t byte)
{
    return I2CSend_bytes(addr, &byte, 1);
}

bool HidDevice::I2CRecv_byte(std::uint8_t addr, std::uint8_t& out)
{
    return I2CRecv_seqbytes(addr, &out, 1);
}
