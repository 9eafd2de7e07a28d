// A Tz2701A in event mode on the simulated bus in libusb's order: each
// answer is reaped by the read thread's event handling a bus delay after
// its request's transfer ended, while that thread also asks for the box's
// status every 50 ms. After the GSM start-up the user number is still
// there, and the controller memory answers each library call quickly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "olva_device/olva_device.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/gsm_box_fixture.h"
#include "support/tz2701_memory_sweep.h"
#include "support/user_number.h"

namespace tz2701_event_mode {

using olva_test::gsm_box::GsmBoxTest;
using olva_test::gsm_box::SimTz2401Box;
using ::testing::IsEmpty;

struct Bus {
    const char* name;
    bool four_g;
    int delay_ms;
};

inline void PrintTo(const Bus& bus, std::ostream* out) { *out << bus.name; }

class Tz2701EventModeTest : public GsmBoxTest, public ::testing::WithParamInterface<Bus> {
protected:
    // The status requests sent from the moment given on.
    std::vector<olva_sim::TraceEntry> statusRequestsSince(
        std::chrono::steady_clock::time_point from) const
    {
        std::vector<olva_sim::TraceEntry> requests;
        for (const olva_sim::TraceEntry& entry : sim_.trace(*sim_box_))
            if (entry.sent >= from && entry.report.size() == 8 && entry.report[1] == 0xA0 &&
                entry.report[2] == 0xA1)
                requests.push_back(entry);
        return requests;
    }
};

TEST_P(Tz2701EventModeTest, KeepsItsNumberAfterTheStartUpAndAnswersMemoryCallsWhileAskedForStatus)
{
    sim_.setBusDelay(GetParam().delay_ms);
    SimTz2401Box& sim_box =
        plug(GetParam().four_g ? SimTz2401Box::tz2701a4g() : SimTz2401Box::tz2701a2g());
    const std::vector<std::uint8_t> number = olva_test::tz2701DigitNumber();
    sim_box.setControllerMemory(0, 0x80, olva_test::checked_copy(number));
    sim_box.setControllerMemory(1, 0, olva_test::tz2701ReadPattern());
    open(sim_box);
    finishStartup();
    // The start-up ends with the number read again on the report worker.
    ASSERT_TRUE(olva_test::eventually([&] { return memoryReads() >= 10; }));
    settle();
    for (int ask = 0; ask < 3; ++ask) {
        std::uint8_t got[16] = {};
        ASSERT_EQ(box_.olva_get_usernum(got, 16), 0) << "ask " << ask;
        EXPECT_EQ(std::vector<std::uint8_t>(got, got + 16), number) << "ask " << ask;
    }

    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(olva_test::tz2701MemorySweep(
                    [&](unsigned addr, std::uint8_t* out, int len) {
                        return box_.olva_read_eepromEx(addr, out, len);
                    },
                    [&](unsigned addr, const std::uint8_t* data, int len) {
                        return box_.olva_write_eeprom(addr, data, len);
                    }),
                IsEmpty());
    // The period is looked at over 400 ms at least.
    ASSERT_TRUE(olva_test::eventually([&] {
        return std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(400);
    }));
    const std::vector<olva_sim::TraceEntry> requests = statusRequestsSince(start);
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const olva_sim::TraceEntry& request : requests)
        times.push_back(request.sent);
    EXPECT_THAT(olva_test::tz2701StatusPeriodFaults(times), IsEmpty());
    if (GetParam().delay_ms >= 4) {
        // The reads held the command mutex most of the time: the requests
        // that fell due meanwhile went out from this thread, each at the end
        // of its read, while the read thread went on reaping answers.
        EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const auto& request) {
            return request.thread == std::this_thread::get_id();
        }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    LibusbOrder, Tz2701EventModeTest,
    ::testing::Values(Bus{"Module2gBus0ms", false, 0}, Bus{"Module2gBus1ms", false, 1},
                      Bus{"Module2gBus4ms", false, 4}, Bus{"Module2gBus8ms", false, 8},
                      Bus{"Module4gBus0ms", true, 0}, Bus{"Module4gBus1ms", true, 1},
                      Bus{"Module4gBus4ms", true, 4}, Bus{"Module4gBus8ms", true, 8}),
    [](const ::testing::TestParamInfo<Bus>& info) { return std::string(info.param.name); });

}  // namespace tz2701_event_mode
