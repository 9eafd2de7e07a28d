// The Tz2701A's status decoder on its own, over the status reports the
// simulated box sends for the work modes, SIM slots, extension hook and
// earphone key that the box tests check, with a module and without.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "usb_hid/tz2701_status_decode.h"

namespace {

using Tz2701Report = std::vector<std::uint8_t>;

struct Tz2701Expected {
    bool standalone = false;
    std::optional<int> working_sim;
    std::optional<bool> sim1_present;
    std::optional<bool> sim2_present;
    std::optional<bool> extension_off_hook;
    bool earphone_key = false;
};

void expectTz2701Status(const std::optional<Tz2701Status>& status, const Tz2701Expected& expected)
{
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->standalone, expected.standalone);
    EXPECT_EQ(status->working_sim, expected.working_sim);
    EXPECT_EQ(status->sim_present[0], expected.sim1_present);
    EXPECT_EQ(status->sim_present[1], expected.sim2_present);
    EXPECT_EQ(status->extension_off_hook, expected.extension_off_hook);
    EXPECT_EQ(status->earphone_key, expected.earphone_key);
}

TEST(Tz2701StatusDecode, ABoxWithAModuleNamesItsWorkingSimSlot)
{
    const struct {
        const char* name;
        Tz2701Report report;
        Tz2701Expected expected;
    } cases[] = {
        // {standalone, working SIM, SIM 1 and SIM 2 present, extension lifted, key}
        {"USB mode, slot 1, extension lifted", {3, 0x91, 0x20, 1, 0, 0, 1, 0},
         {false, 0, {}, {}, true, false}},
        {"the key held too", {3, 0x91, 0x20, 1, 0, 0, 1, 1},
         {false, 0, {}, {}, true, true}},
        {"extension put down", {3, 0x91, 0x09, 1, 0, 0, 0, 0},
         {false, 0, {}, {}, false, false}},
        {"standalone", {3, 0x91, 0x09, 0, 0, 0, 0, 0},
         {true, 0, {}, {}, false, false}},
        {"slot 2", {3, 0x91, 0x09, 1, 1, 0, 0, 0}, {false, 1, {}, {}, false, false}},
        // No slot the box names.
        {"slot byte 2", {3, 0x91, 0x09, 1, 2, 0, 0, 0}, {false, {}, {}, {}, false, false}},
        {"second byte set", {3, 0x91, 0x09, 1, 0, 1, 0, 0}, {false, {}, {}, {}, false, false}},
        // A hook byte of neither form says nothing; any key byte but 1 is no key.
        {"hook byte 2, key byte 2", {3, 0x91, 0x09, 1, 0, 0, 2, 2}, {false, 0, {}, {}, {}, false}},
        // A standalone byte other than 0 is USB mode.
        {"work-mode byte 2", {3, 0x91, 0x09, 2, 0, 0, 0, 0},
         {false, 0, {}, {}, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectTz2701Status(decode_tz2701_status(c.report.data(), c.report.size(), true), c.expected);
    }
}

TEST(Tz2701StatusDecode, ABoxWithoutAModuleTellsEachSlotsSim)
{
    const struct {
        const char* name;
        Tz2701Report report;
        Tz2701Expected expected;
    } cases[] = {
        // {standalone, working SIM, SIM 1 and SIM 2 present, extension lifted, key}
        {"both empty", {3, 0x91, 0, 1, 0, 0, 0, 0},
         {false, {}, false, false, false, false}},
        {"slot 1", {3, 0x91, 0, 1, 1, 0, 0, 0},
         {false, {}, true, false, false, false}},
        {"both", {3, 0x91, 0, 1, 1, 1, 0, 0},
         {false, {}, true, true, false, false}},
        {"slot 2 unknown", {3, 0x91, 0, 1, 0, 7, 0, 0},
         {false, {}, false, {}, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectTz2701Status(decode_tz2701_status(c.report.data(), c.report.size(), false), c.expected);
    }
}

TEST(Tz2701StatusDecode, ReportsThatAreNoStatusReportGiveNothing)
{
    const struct {
        const char* name;
        Tz2701Report report;
    } cases[] = {
        {"module bytes", {3, 0x84, '\r', '\n', 'O', 'K', 0, 0}},
        {"an EEPROM answer", {3, 0xA3, 0, 0x10, 1, 2, 3, 4}},
        {"another report id", {2, 0x91, 0x09, 1, 0, 0, 1, 0}},
        {"cut short", {3, 0x91, 0x09, 1, 0, 0, 1}},
        {"empty", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decode_tz2701_status(c.report.data(), c.report.size(), true).has_value());
    }
    EXPECT_FALSE(decode_tz2701_status(nullptr, 8, true).has_value());
}

}  // namespace
