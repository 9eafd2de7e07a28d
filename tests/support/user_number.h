// User numbers for the tests: 16 bytes of a pattern, and a stored copy with
// its check byte (the 17 bytes add up to 0 modulo 256).
#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

namespace olva_test {

inline std::vector<std::uint8_t> user_number(std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(16);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + 13 * i);
    return bytes;
}

inline std::vector<std::uint8_t> checked_copy(const std::vector<std::uint8_t>& user)
{
    std::vector<std::uint8_t> copy = user;
    const int sum = std::accumulate(user.begin(), user.end(), 0);
    copy.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    return copy;
}

}  // namespace olva_test
