// Reports of a simulated Tz2401B for its HID read thread: status codes, the
// code-19 reports that are its line's 100 ms clock, and the line voltage.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sim_backend.h"
#include "support/eventually.h"
#include "usb_hid/report_worker.h"

namespace olva_test {

using HidReport = std::vector<std::uint8_t>;

// Status codes of the Tz2401B.
constexpr std::uint8_t kTz2401Floating = 7;
constexpr std::uint8_t kTz2401Idle = 8;
constexpr std::uint8_t kTz2401Ringing = 15;
constexpr std::uint8_t kTz2401Clock = 19;
constexpr std::uint8_t kTz2401OffHook = 22;

inline HidReport tz2401Status(std::uint8_t code)
{
    return {3, code, 1, 0, 0, 0, 0, 0};
}

// Older firmware sends the volts in byte 1, newer ones in bytes 4 and 5.
inline HidReport tz2401Voltage(std::uint8_t volts, std::uint8_t b4 = 0, std::uint8_t b5 = 0)
{
    return {3, volts, 16, 0, b4, b5, 0, 0};
}

// Hands the reports to the box's HID read thread in order, in batches that
// the simulated box's input queue holds, and waits until each batch is
// taken and handled by the box's report worker.
inline void pushReports(olva_sim::SimBackend& sim, const olva_sim::SimBox& box,
                        const std::vector<HidReport>& reports)
{
    constexpr std::size_t kBatch = 32;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        sim.pushInput(box, reports[i]);
        if ((i + 1) % kBatch == 0 || i + 1 == reports.size()) {
            ASSERT_TRUE(eventually(
                [&] { return sim.settled(box) && ReportWorker::in_hand() == 0; }));
        }
    }
}

// A raw state and then the code-19 reports of the given line steps.
inline void holdStatus(olva_sim::SimBackend& sim, const olva_sim::SimBox& box, std::uint8_t code,
                       int steps)
{
    std::vector<HidReport> reports = {tz2401Status(code)};
    for (int i = 0; i < steps; ++i)
        reports.push_back(tz2401Status(kTz2401Clock));
    pushReports(sim, box, reports);
}

}  // namespace olva_test
