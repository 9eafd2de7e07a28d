// The I2C master of the Tz2402D's and Tz2501B's USB chip, driven through
// its registers: a memory moves in 16-bit words of one 128-byte bank.
#pragma once

#include <cstdint>

namespace usb_chip {

constexpr int kBankSize = 128;
constexpr std::uint16_t kMasterEnable = 0x100;
constexpr std::uint16_t kMasterDevice = 0x110;    // 7-bit I2C device address
constexpr std::uint16_t kMasterSetting1 = 0x111;
constexpr std::uint16_t kMasterSetting2 = 0x112;
constexpr std::uint16_t kMasterBank = 0x08;
constexpr std::uint16_t kMasterLow = 0x09;        // the byte at the even address
constexpr std::uint16_t kMasterHigh = 0x0A;       // the byte at the odd address
constexpr std::uint16_t kMasterCommand = 0x0B;
constexpr std::uint8_t kLowerBank = 0x40;
constexpr std::uint8_t kUpperBank = 0x41;
constexpr std::uint8_t kReadWord = 0x80;          // + word
constexpr std::uint8_t kWriteWord = 0xC0;         // + word

struct RegisterValue {
    std::uint16_t reg;
    std::uint8_t value;
};

}  // namespace usb_chip
