// The Tz2501B's status decoder on its own, over the status reports the
// simulated box answers its poll with: every line reading and extension
// hook the box tests check, through the poll's own check of the report.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2501b_status_decode.h"

namespace {

TEST(Tz2501bStatusDecode, StatusReportsGiveTheLineAndTheExtensionHook)
{
    // Status byte bits 5, 7 and 6 are the status bits 0, 1 and 2.
    const struct {
        const char* name;
        std::array<std::uint8_t, 4> report;
        ENUM_OLVA_STATE line;
        bool extension_off_hook;
    } cases[] = {
        {"idle", {0, 0xC0, 0, 0x31}, OLVA_STATE_IDLE, false},
        {"idle, extension lifted", {0, 0x80, 0, 0x31}, OLVA_STATE_IDLE, true},
        {"ringing", {0, 0x40, 0, 0x31}, OLVA_STATE_RINGING, false},
        {"ringing, extension lifted", {0, 0x00, 0, 0x31}, OLVA_STATE_RINGING, true},
        {"reversed", {0, 0x60, 0, 0x31}, OLVA_STATE_REVERSE_OFF_HOOK, false},
        {"reversed, extension lifted", {0, 0x20, 0, 0x31}, OLVA_STATE_REVERSE_OFF_HOOK, true},
        {"positive", {0, 0xE0, 0, 0x31}, OLVA_STATE_POSITIVE_OFF_HOOK, false},
        {"positive, extension lifted", {0, 0xA0, 0, 0x31}, OLVA_STATE_POSITIVE_OFF_HOOK, true},
        // The other status bits say nothing.
        {"idle, other bits set", {0, 0xDF, 0, 0x3F}, OLVA_STATE_IDLE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t bits = 0;
        ASSERT_TRUE(tz2501b_status_bits(c.report.data(), bits));
        const Tz2501bStatus status = decode_tz2501b_status(bits);
        EXPECT_EQ(status.line, c.line);
        EXPECT_EQ(status.extension_off_hook, c.extension_off_hook);
    }
}

TEST(Tz2501bStatusDecode, BitsAboveTheThreeAreIgnored)
{
    for (unsigned bits = 0; bits < 8; ++bits) {
        SCOPED_TRACE(bits);
        const Tz2501bStatus plain = decode_tz2501b_status(static_cast<std::uint8_t>(bits));
        const Tz2501bStatus high = decode_tz2501b_status(static_cast<std::uint8_t>(bits | 0xF8));
        EXPECT_EQ(high.line, plain.line);
        EXPECT_EQ(high.extension_off_hook, plain.extension_off_hook);
    }
}

}  // namespace
