// The device commands of the Tz2701A's bridge controller: a code and an
// optional argument, sent as a one-cycle write [0, code, argument, 0, 0, 0]
// through the command queue or at once. The GSM dialogue asks for some of
// them itself (the talk paths of a call, the signal bars, the SLIC ring, the
// 4G module's start pulse); the box sends the rest for the library.
#pragma once

#include <cstdint>

namespace gsm {

inline constexpr std::uint8_t kCodeUsbMode = 0x10;  // argument 1: the box back in USB mode
inline constexpr std::uint8_t kCodeSimSelect = 0x11;  // argument: the SIM slot, 0 or 1
inline constexpr std::uint8_t kCodePowerOn = 0x12;
inline constexpr std::uint8_t kCodePowerOff = 0x13;
inline constexpr std::uint8_t kCodePowerKeyPress = 0x14;
inline constexpr std::uint8_t kCodePowerKeyRelease = 0x15;
inline constexpr std::uint8_t kCodeSignalStrength = 0x16;  // argument: the bars
inline constexpr std::uint8_t kCodeSlicRingStart = 0x17;
inline constexpr std::uint8_t kCodeSlicRingStop = 0x18;
inline constexpr std::uint8_t kCodePolarityPositive = 0x19;
inline constexpr std::uint8_t kCodePolarityNegative = 0x1A;
inline constexpr std::uint8_t kCodeStartPulse = 0x90;  // wakes a 4G module

// Talk paths: argument 0 off, 1 on.
inline constexpr std::uint8_t kCodeGsmToSlic = 0x20;
inline constexpr std::uint8_t kCodeEarphoneToSlic = 0x21;
inline constexpr std::uint8_t kCodeGsmToEarphone = 0x23;
inline constexpr std::uint8_t kCodeSlicToEarphone = 0x24;
inline constexpr std::uint8_t kCodeSlicToGsm = 0x26;
inline constexpr std::uint8_t kCodeEarphoneToGsm = 0x28;

}  // namespace gsm
