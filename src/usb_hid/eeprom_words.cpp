// Word-wise access to the lower 128 bytes of the memory behind a box that
// answers the 5-byte word reports
//   [0, 0x80, low, high, 0x80 + word]   read word: GET_REPORT [0, 0xC0, low, high, -]
//   [0, 0x80, low, high, 0xC0 + word]   write word
// word = byte address / 2. The pins of the Tz2501A are restored afterwards,
// as the word reports share its pin channel.
#include <cstdio>
#include <cstring>

#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"

namespace {

constexpr unsigned long kReportSize = 5;
constexpr std::uint8_t kWordCommand = 0x80;
constexpr std::uint8_t kReadWord = 0x80;
constexpr std::uint8_t kWriteWord = 0xC0;
constexpr std::uint8_t kWordAnswer = 0xC0;
// Word 64 would turn a read command into a write.
constexpr unsigned long kReachable = 128;
// The memory's write cycle.
constexpr int kWordWritePauseMs = 20;

bool in_reach(std::uint8_t addr, unsigned long len)
{
    return len >= 1 && len <= kReachable && addr + len <= kReachable;
}

}  // namespace

bool HidDevice::readEepromex(std::uint8_t addr, std::uint8_t* out, unsigned long len)
{
    if (!out || !in_reach(addr, len))
        return false;
    std::printf("%s  readEepromex addr:0x%02x\n", tag().c_str(), addr);
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    bool ok = true;
    for (unsigned long word = addr / 2; word < (addr + len + 1) / 2 && ok; ++word) {
        const std::uint8_t request[kReportSize] = {0, kWordCommand, 0, 0,
                                                   static_cast<std::uint8_t>(kReadWord + word)};
        std::uint8_t answer[kReportSize] = {};
        ok = sync_write(request, kReportSize) && sync_read(answer, kReportSize) &&
             answer[1] == kWordAnswer;
        // Whole words: an odd edge brings its neighbour, which is not stored.
        for (unsigned long half = 0; half < 2 && ok; ++half) {
            const unsigned long byte = 2 * word + half;
            if (byte >= addr && byte < addr + len)
                out[byte - addr] = answer[2 + half];
        }
    }
    Set_GPIO(g1_.load(), g2_.load());
    return ok;
}

bool HidDevice::writeEepromex(std::uint8_t addr, const std::uint8_t* data, unsigned long len)
{
    if (!data || !in_reach(addr, len))
        return false;
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    const unsigned long start = addr & ~1UL;
    const unsigned long end = (addr + len + 1) & ~1UL;
    std::uint8_t bytes[kReachable] = {};
    // The neighbour of an odd edge keeps what it holds.
    if ((addr & 1) && !readEepromex(static_cast<std::uint8_t>(start), bytes + start, 2))
        return false;
    if (((addr + len) & 1) && !readEepromex(static_cast<std::uint8_t>(end - 2), bytes + end - 2, 2))
        return false;
    std::memcpy(bytes + addr, data, len);
    std::printf("%s  writeEepromex addr:0x%02x len:%lu data:", tag().c_str(), addr, len);
    for (unsigned long i = 0; i < len; ++i)
        std::printf(" %02x", data[i]);
    std::printf("\n");
    bool ok = true;
    for (unsigned long word = start / 2; word < end / 2 && ok; ++word) {
        const std::uint8_t request[kReportSize] = {0, kWordCommand, bytes[2 * word],
                                                   bytes[2 * word + 1],
                                                   static_cast<std::uint8_t>(kWriteWord + word)};
        ok = sync_write(request, kReportSize);
        platform::sleeper().sleepMs(kWordWritePauseMs);
    }
    Set_GPIO(g1_.load(), g2_.load());
    return ok;
}
