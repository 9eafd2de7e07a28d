// The whole service over the real libusb backend, with a Tz2401B emulated
// by umockdev whose sound card is missing (so no failed capture read can
// tell that it went): pulled out in each way libusb tells of it, the box
// reaches a browser as "plugout", leaves its slot, and opens in slot 1
// again when plugged back; the cycles leave no thread behind. The device
// manager is driven by hand. Runs under umockdev-wrapper.
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/browser_events.h"
#include "support/eventually.h"
#include "support/thread_count.h"
#include "umockdev_service_fixture.h"
#include "umockdev_tz2401b.h"
#include "umockdev_usb_box.h"

namespace {

using olva_test::UmockdevUsbBox;

constexpr const char* kPlugOut = "{\"event\":\"plugout\",\"handle\":257}";
constexpr int kCycles = 20;

// Answers the box's identification; it outlives the bed.
olva_test::UmockdevTz2401b g_firmware;
[[maybe_unused]] ::testing::Environment* const g_environment =
    olva_test::addUmockdevBed([](UmockdevUsbBox& box) { g_firmware.install(box); });

class LibusbBoxServiceTest : public olva_test::UmockdevServiceTest {};

TEST_F(LibusbBoxServiceTest, ABoxWithoutItsSoundCardIsPulledOutAndComesBackInSlotOne)
{
    struct Way {
        const char* name;
        int urb_status;  // the last interrupt IN URB's; 1: none ends, the box just goes
        std::vector<std::uint8_t> report;
    };
    const Way ways[] = {
        {"a report, then no device on resubmission", 0, {3, 0x19, 1, 0, 0, 0, 0, 0}},
        {"a protocol error, then no device on resubmission", -EPROTO, {}},
        {"the transfer ends with no device", 1, {}},
    };
    std::optional<std::size_t> threads_open;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const Way& way = ways[cycle % 3];
        SCOPED_TRACE("cycle " + std::to_string(cycle) + ": " + way.name);
        box().reset();
        ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
        ASSERT_EQ(read_until("{\"event\":\"plugin\""), olva_test::kPlugIn);
        ASSERT_EQ(slot1().device_index(), 1);
        // The read thread waits for the box's next report.
        ASSERT_TRUE(olva_test::eventually([] { return box().waitingInterruptIn() == 1; }));
        if (!threads_open)
            threads_open = olva_test::thread_count();
        else
            EXPECT_TRUE(olva_test::eventually([&] { return olva_test::thread_count() == *threads_open; }))
                << olva_test::thread_count() << " threads with the box open, " << *threads_open
                << " in the first cycle";

        if (way.urb_status == 1)
            box().unplug();
        else
            ASSERT_TRUE(box().endInterruptInAndUnplug(way.urb_status, way.report));
        ASSERT_EQ(read_until("{\"event\":\"plugout\""), kPlugOut);
        ASSERT_TRUE(olva_test::eventually([] {
            return slot1().device_index() == -1 && !slot1().is_open() &&
                   !slot1().read_thread_active();
        }));
        ASSERT_TRUE(client_->send("{\"event\":\"getinfo\"}"));
        const std::string info = read_until("{\"event\":\"getinfo\"");
        EXPECT_NE(info.find("\"channels\":[]}"), std::string::npos) << info;
    }
}

}  // namespace
