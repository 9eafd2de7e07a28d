// The firmware of a Tz2701A for the umockdev box: the simulated Tz2701A's
// own (sim/sim_tz2401.h), run off any backend. Its bridge answers each
// write-read request with one interrupt report ([3, 0x91, ...] to sub 0xA1,
// [3, 0xA3, hi, lo, d0..d3] to sub 0xA3), takes one- and two-cycle
// messages, and its GSM module speaks in reports 0x81-0x86. The bed puts
// every answer on the bus only after the request's own URB was reaped.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "sim/sim_tz2401.h"
#include "umockdev_usb_box.h"

namespace olva_test {

class UmockdevTz2701a {
public:
    explicit UmockdevTz2701a(olva_sim::SimTz2401Box::Options options) : box_(std::move(options)) {}

    // Makes this the box's firmware; it must outlive the box's use.
    void install(UmockdevUsbBox& box)
    {
        box.setResponder([this](const std::vector<std::uint8_t>& r) { return box_.answer(r); });
    }
    olva_sim::SimTz2401Box& box() { return box_; }
    // The module's replies that fell due by platform::clock() go out.
    void flush(UmockdevUsbBox& bed)
    {
        box_.gsmFlush();
        for (std::vector<std::uint8_t>& report : box_.takeSent())
            bed.sendInterruptIn(std::move(report));
    }

private:
    olva_sim::SimTz2401Box box_;
};

}  // namespace olva_test
