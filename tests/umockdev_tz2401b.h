// The firmware of a Tz2401B for the umockdev box: it answers the reports
// that identify the box and read its settings with 8-byte interrupt reports
//   [3, value, 0x10, 0, 0, 0, 0, 0]    a one-byte parameter
//   [3, 0xB1, d0, d1, d2, d3, 0, 0]    EEPROM bytes (all 0: an empty number)
// and keeps whether line-voltage reports are asked for (0xFE then 0x70 on,
// 0x90 off). Its sound card is none of its business.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "umockdev_usb_box.h"

namespace olva_test {

class UmockdevTz2401b {
public:
    static constexpr std::uint8_t kVersion = 0x42;

    // Makes this the box's firmware; it must outlive the box's use.
    void install(UmockdevUsbBox& box)
    {
        box.setResponder([this](const std::vector<std::uint8_t>& r) { return answer(r); });
    }
    bool voltageReading() const { return voltage_reading_.load(); }

private:
    std::vector<std::vector<std::uint8_t>> answer(const std::vector<std::uint8_t>& r)
    {
        if (r.size() != 8 || r[0] != 3)
            return {};
        auto one_byte = [](std::uint8_t value) {
            return std::vector<std::vector<std::uint8_t>>{{3, value, 0x10, 0, 0, 0, 0, 0}};
        };
        switch (r[1]) {
        case 0xF1: return one_byte(kVersion);
        case 0xF2: return one_byte(0x00);
        case 0x3E: return one_byte(0x0C);
        case 0x3F: return one_byte(0x02);
        case 0xB1:
        case 0xB2: return {{3, r[1], 0, 0, 0, 0, 0, 0}};
        case 0xFE: voltage_armed_ = true; return {};
        case 0x70: voltage_reading_.store(voltage_armed_); return {};
        case 0x90:
            voltage_armed_ = false;
            voltage_reading_.store(false);
            return {};
        default: return {};
        }
    }

    bool voltage_armed_ = false;  // the box's lock
    std::atomic<bool> voltage_reading_{false};
};

}  // namespace olva_test
