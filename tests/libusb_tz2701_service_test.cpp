// The whole service over the real libusb backend, with a Tz2701A emulated
// by umockdev (a 2G and a 4G module): its bridge answers each request a
// bus delay after the request's URB was reaped, as the box does, so that
// only the read thread's event handling can reap it while that thread also
// asks for the box's status every 50 ms. After the GSM start-up a browser
// still gets the box's user number, and the controller memory answers each
// call quickly. The device manager is driven by hand; runs under
// umockdev-wrapper.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sim/sim_tz2401.h"
#include "support/browser_events.h"
#include "support/eventually.h"
#include "support/tz2701_memory_sweep.h"
#include "support/user_number.h"
#include "umockdev_service_fixture.h"
#include "umockdev_tz2701a.h"
#include "usb_hid/report_worker.h"

namespace {

using olva_sim::SimTz2401Box;
using olva_test::UmockdevTz2701a;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using ::testing::IsEmpty;

constexpr unsigned long kHandle = 0x101;
constexpr const char* kUserNumberAnswer =
    "{\"event\":\"answer\",\"type\":\"GetUsernum\",\"handle\":257,\"result\":\"86139000\"}";

// Each outlives the bed: the box's firmware of one test.
UmockdevTz2701a g_module_2g{SimTz2401Box::tz2701a2g()};
UmockdevTz2701a g_module_4g{SimTz2401Box::tz2701a4g()};
[[maybe_unused]] ::testing::Environment* const g_environment = olva_test::addUmockdevBed();

struct Module {
    const char* name;
    UmockdevTz2701a* firmware;
};

void PrintTo(const Module& module, std::ostream* out) { *out << module.name; }

class LibusbTz2701ServiceTest : public olva_test::UmockdevServiceTest,
                                public ::testing::WithParamInterface<Module> {
protected:
    void SetUp() override
    {
        UmockdevServiceTest::SetUp();
        if (IsSkipped())
            return;
        GetParam().firmware->install(box());
    }
    SimTz2401Box& firmware() { return GetParam().firmware->box(); }

    // One 20 ms tick of the timer thread, with the box's answers taken off
    // the bus and handled before and after it.
    void tick()
    {
        clock_.advanceMs(20);
        GetParam().firmware->flush(box());
        settle();
        g_pOlvaMgr->timer_tick();
        settle();
    }
    void settle()
    {
        auto quiet = [] { return box().settled() && ReportWorker::in_hand() == 0; };
        for (int look = 0; look < 1000; ++look) {
            ASSERT_TRUE(olva_test::eventually(quiet));
            // A report reaped just now may still be in its completion, not
            // yet handed to the worker: once the host has found the bus
            // empty again, that completion has run.
            const std::uint64_t reaps = box().emptyReaps();
            ASSERT_TRUE(olva_test::eventually([&] { return box().emptyReaps() > reaps; }));
            if (quiet())
                return;
        }
        FAIL() << "the box's reports never settled";
    }
    bool startUpDone()
    {
        bool script_done = false;
        for (const auto& received : firmware().gsmReceived())
            script_done = script_done || received.command == "AT+CSCA?";
        return script_done && slot1().gsm_state().ready != 0 && slot1().queued_commands() == 0;
    }
    // The times of the box's output reports that start with head.
    static std::vector<Clock::time_point> sent(const Bytes& head, Clock::time_point from = {})
    {
        std::vector<Clock::time_point> times;
        for (const auto& out : box().interruptOuts())
            if (out.time >= from && out.data.size() >= head.size() &&
                std::equal(head.begin(), head.end(), out.data.begin()))
                times.push_back(out.time);
        return times;
    }
    static std::size_t memoryReads() { return sent({3, 0xA0, 0xA3}).size(); }
};

TEST_P(LibusbTz2701ServiceTest, KeepsItsNumberAfterTheStartUpAndAnswersMemoryCallsInEventMode)
{
    const Bytes number = olva_test::tz2701DigitNumber();
    firmware().setControllerMemory(0, 0x80, olva_test::checked_copy(number));
    firmware().setControllerMemory(1, 0, olva_test::tz2701ReadPattern());
    ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
    ASSERT_EQ(read_until("{\"event\":\"plugin\""), olva_test::kPlugIn);
    ASSERT_EQ(slot1().model(), OLVA_PRODUCT_TZ2701A);
    // The opening read the first copy: five pieces.
    EXPECT_EQ(memoryReads(), 5u);

    for (int i = 0; i < 3000 && !startUpDone(); ++i)
        ASSERT_NO_FATAL_FAILURE(tick());
    ASSERT_TRUE(startUpDone());
    // The start-up ends with the number read again, off the timer thread.
    ASSERT_TRUE(olva_test::eventually([] { return memoryReads() >= 10; }));
    ASSERT_NO_FATAL_FAILURE(settle());
    for (int ask = 0; ask < 3; ++ask) {
        ASSERT_TRUE(client_->send("{\"event\":\"GetUsernum\",\"handle\":257}"));
        EXPECT_EQ(read_until("{\"event\":\"answer\",\"type\":\"GetUsernum\"", 1000),
                  kUserNumberAnswer)
            << "ask " << ask;
    }

    const Clock::time_point start = Clock::now();
    EXPECT_THAT(olva_test::tz2701MemorySweep(
                    [](unsigned addr, std::uint8_t* out, int len) {
                        return g_pOlvaMgr->olva_read_eeprom(kHandle, addr, out, len);
                    },
                    [](unsigned addr, const std::uint8_t* data, int len) {
                        return g_pOlvaMgr->olva_write_eeprom(kHandle, addr, data, len);
                    }),
                IsEmpty());
    // The period is looked at over 400 ms at least.
    ASSERT_TRUE(olva_test::eventually(
        [&] { return Clock::now() - start >= std::chrono::milliseconds(400); }));
    EXPECT_THAT(olva_test::tz2701StatusPeriodFaults(sent({3, 0xA0, 0xA1}, start)), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Modules, LibusbTz2701ServiceTest,
                         ::testing::Values(Module{"Module2g", &g_module_2g},
                                           Module{"Module4g", &g_module_4g}),
                         [](const ::testing::TestParamInfo<Module>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
