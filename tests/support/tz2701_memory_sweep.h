// A Tz2701A's controller memory used in event mode, as a browser's library
// calls use it while the box's read thread asks for its status: reads and
// writes that must each be answered quickly, and the status request's
// period meanwhile. Shared by the simulated and the umockdev-emulated box.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace olva_test {

// A stored user number of digits: "GetUsernum" answers its first 8 bytes.
inline std::vector<std::uint8_t> tz2701DigitNumber()
{
    const std::string digits = "8613900012345678";
    return {digits.begin(), digits.end()};
}

// The bytes device 1 of the controller memory holds for the reads.
inline std::vector<std::uint8_t> tz2701ReadPattern()
{
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    return bytes;
}

// Box addresses split into a device (address / 255) and an offset.
inline constexpr unsigned kTz2701ReadBase = 255;       // device 1, offset 0
inline constexpr unsigned kTz2701WriteBase = 2 * 255;  // device 2, offset 0
inline constexpr int kTz2701SweepReads = 50;
inline constexpr int kTz2701SweepWrites = 20;
// A call is answered within 100 ms; a loaded machine (the sanitizer runs,
// a parallel suite) may hold any one thread back for some hundreds, so
// that limit is kept by the sweep's median. A call that stalls behind the
// status request waits out the read's whole 1 s time-out, which no call
// may come near.
inline constexpr std::chrono::milliseconds kTz2701AnswerLimit{100};
inline constexpr std::chrono::milliseconds kTz2701StallLimit{500};

// 50 reads of 4 bytes at device 1 (holding tz2701ReadPattern()) and 20
// writes of 4 bytes at device 2, each read back, through the box's
// olva_read_eepromEx and olva_write_eeprom (read and write take the box
// address, the bytes and the length). What went wrong, one text a fault;
// empty when every call succeeded with the right bytes in time.
template <class Read, class Write>
std::vector<std::string> tz2701MemorySweep(Read read, Write write)
{
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    std::vector<std::string> faults;
    std::vector<milliseconds> times;
    auto timed = [&](const std::string& what, auto call) {
        const auto start = Clock::now();
        const int result = call();
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        times.push_back(took);
        if (result != 0)
            faults.push_back(what + " returned " + std::to_string(result));
        if (took >= kTz2701StallLimit)
            faults.push_back(what + " took " + std::to_string(took.count()) + " ms");
    };
    const std::vector<std::uint8_t> pattern = tz2701ReadPattern();
    for (int i = 0; i < kTz2701SweepReads; ++i) {
        const unsigned offset = 4u * static_cast<unsigned>(i);
        std::uint8_t got[4] = {};
        const std::string what = "read " + std::to_string(i);
        timed(what, [&] { return read(kTz2701ReadBase + offset, got, 4); });
        if (!std::equal(got, got + 4, pattern.begin() + offset))
            faults.push_back(what + " gave other bytes");
    }
    for (int i = 0; i < kTz2701SweepWrites; ++i) {
        const unsigned address = kTz2701WriteBase + 4u * static_cast<unsigned>(i);
        const std::uint8_t data[4] = {static_cast<std::uint8_t>(i), 0xC3,
                                      static_cast<std::uint8_t>(0xFF - i), 0x3C};
        std::uint8_t back[4] = {};
        const std::string what = "write " + std::to_string(i);
        timed(what, [&] { return write(address, data, 4); });
        timed(what + " read back", [&] { return read(address, back, 4); });
        if (!std::equal(back, back + 4, data))
            faults.push_back(what + " read back other bytes");
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    const milliseconds median = times[times.size() / 2];
    if (median >= kTz2701AnswerLimit)
        faults.push_back("the median call took " + std::to_string(median.count()) + " ms");
    return faults;
}

// The read thread asks for the status about every 50 ms: the times it sent
// the request, over a stretch of some hundreds of milliseconds. What went
// wrong; empty when the period held.
inline std::vector<std::string> tz2701StatusPeriodFaults(
    const std::vector<std::chrono::steady_clock::time_point>& requests)
{
    using std::chrono::milliseconds;
    if (requests.size() < 6)
        return {"only " + std::to_string(requests.size()) + " status requests"};
    std::vector<milliseconds> gaps;
    for (std::size_t i = 1; i < requests.size(); ++i)
        gaps.push_back(std::chrono::duration_cast<milliseconds>(requests[i] - requests[i - 1]));
    std::vector<milliseconds> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> faults;
    const milliseconds median = sorted[sorted.size() / 2];
    if (median < milliseconds(40) || median > milliseconds(100))
        faults.push_back("median gap " + std::to_string(median.count()) + " ms");
    // A request held up behind a stalled read waits out the read's second.
    if (sorted.back() >= kTz2701StallLimit)
        faults.push_back("longest gap " + std::to_string(sorted.back().count()) + " ms");
    return faults;
}

}  // namespace olva_test
