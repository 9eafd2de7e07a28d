// The Tz2401B's status decoder on its own: the reports the simulated box
// sends for the line states, the clock and both voltage forms that the box
// tests check, and the reports it must leave alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "usb_hid/tz2401_status_decode.h"

namespace {

using Tz2401Kind = Tz2401Status::Kind;
using Tz2401Report = std::vector<std::uint8_t>;

constexpr std::uint8_t kTz2401OlderFirmware = 0x30;
constexpr std::uint8_t kTz2401NibbleFirmware = 0x42;

TEST(Tz2401StatusDecode, StatusCodesAreLineReadingsAndCode19TheClock)
{
    const struct {
        const char* name;
        Tz2401Report report;
        Tz2401Kind kind;
        ENUM_OLVA_STATE line;
    } cases[] = {
        {"floating", {3, 7, 1, 0, 0, 0, 0, 0}, Tz2401Kind::kLine, OLVA_STATE_FLOATING},
        {"idle", {3, 8, 1, 0, 0, 0, 0, 0}, Tz2401Kind::kLine, OLVA_STATE_IDLE},
        {"ringing", {3, 15, 1, 0, 0, 0, 0, 0}, Tz2401Kind::kLine, OLVA_STATE_RINGING},
        {"off hook", {3, 22, 1, 0, 0, 0, 0, 0}, Tz2401Kind::kLine, OLVA_STATE_OFF_HOOK},
        {"the clock", {3, 19, 1, 0, 0, 0, 0, 0}, Tz2401Kind::kClock, OLVA_STATE_IDLE},
        // Bytes behind the code do not change what it says.
        {"ringing, trailing bytes", {3, 15, 1, 9, 9, 9, 9, 9}, Tz2401Kind::kLine, OLVA_STATE_RINGING},
        {"no such code", {3, 9, 1, 0, 0, 0, 0, 0}, Tz2401Kind::kNone, OLVA_STATE_IDLE},
        {"another report id", {2, 15, 1, 0, 0, 0, 0, 0}, Tz2401Kind::kNone, OLVA_STATE_IDLE},
        {"another kind", {3, 15, 2, 0, 0, 0, 0, 0}, Tz2401Kind::kNone, OLVA_STATE_IDLE},
        {"a form-0x20 reply", {3, 0x2D, 0x20, 0, 0, 0, 0, 0}, Tz2401Kind::kNone, OLVA_STATE_IDLE},
        {"EEPROM bytes", {3, 0xB1, 1, 2, 3, 4, 0, 0}, Tz2401Kind::kNone, OLVA_STATE_IDLE},
        {"cut short", {3, 15, 1, 0, 0, 0, 0}, Tz2401Kind::kNone, OLVA_STATE_IDLE},
        {"empty", {}, Tz2401Kind::kNone, OLVA_STATE_IDLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::uint8_t firmware : {kTz2401OlderFirmware, kTz2401NibbleFirmware}) {
            const Tz2401Status status = decode_tz2401_status(c.report.data(), c.report.size(), firmware);
            EXPECT_EQ(status.kind, c.kind);
            if (c.kind == Tz2401Kind::kLine) {
                EXPECT_EQ(status.line, c.line);
            }
        }
    }
    EXPECT_EQ(decode_tz2401_status(nullptr, 8, kTz2401OlderFirmware).kind, Tz2401Kind::kNone);
}

TEST(Tz2401StatusDecode, TheNewerFirmwaresVoltageIsTwoNibblesWithACheck)
{
    // 167 = 0xA7: byte 5 holds 0xA, byte 4 0x7 and a check nibble that
    // makes the nibbles add up to 0 modulo 16. Byte 1 is not the reading.
    const struct {
        const char* name;
        Tz2401Report report;
        int volts;
        int check;
        bool usable;
    } cases[] = {
        {"167", {3, 0, 16, 0, 0x7F, 0x0A, 0, 0}, 167, 0, true},
        {"1", {3, 200, 16, 0, 0x1F, 0x00, 0, 0}, 1, 0, true},
        {"255", {3, 0, 16, 0, 0xF2, 0xFF, 0, 0}, 255, 0, true},
        {"check nibble not 0", {3, 0, 16, 0, 0x7E, 0x0A, 0, 0}, 167, 15, false},
        {"voltage 0", {3, 50, 16, 0, 0x00, 0x00, 0, 0}, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Tz2401Status status = decode_tz2401_status(c.report.data(), c.report.size(), kTz2401NibbleFirmware);
        ASSERT_EQ(status.kind, Tz2401Kind::kVoltage);
        EXPECT_TRUE(status.voltage.nibbles);
        EXPECT_EQ(status.voltage.volts, c.volts);
        EXPECT_EQ(status.voltage.check, c.check);
        EXPECT_EQ(status.voltage.usable, c.usable);
        // What the box logs of the report.
        EXPECT_EQ(status.voltage.byte1, c.report[1]);
        EXPECT_EQ(status.voltage.byte4, c.report[4]);
        EXPECT_EQ(status.voltage.byte5, c.report[5]);
    }
}

TEST(Tz2401StatusDecode, TheOlderFirmwaresVoltageIsByteOne)
{
    // The nibbles of 167 are there too, and not read.
    const struct {
        std::uint8_t volts;
        bool usable;
    } cases[] = {{0, false}, {1, true}, {48, true}, {253, true}, {254, false}, {255, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.volts));
        const Tz2401Report report = {3, c.volts, 16, 0, 0x7F, 0x0A, 0, 0};
        const Tz2401Status status = decode_tz2401_status(report.data(), report.size(), kTz2401OlderFirmware);
        ASSERT_EQ(status.kind, Tz2401Kind::kVoltage);
        EXPECT_FALSE(status.voltage.nibbles);
        EXPECT_EQ(status.voltage.volts, c.volts);
        EXPECT_EQ(status.voltage.usable, c.usable);
    }
}

// Firmware byte 64 is the first with the nibble form.
TEST(Tz2401StatusDecode, TheVoltageFormChangesAtFirmware64)
{
    const Tz2401Report report = {3, 48, 16, 0, 0x7F, 0x0A, 0, 0};
    EXPECT_EQ(decode_tz2401_status(report.data(), report.size(), 63).voltage.volts, 48);
    EXPECT_EQ(decode_tz2401_status(report.data(), report.size(), 64).voltage.volts, 167);
}

}  // namespace
