// The analogue boxes' status reports through the box's decoders and the
// line step they drive: the Tz2401B's 8-byte input reports (status codes,
// code 19 as the line's clock, the line voltage of both firmware forms and
// the replies to its parameter and memory requests) and the Tz2501B's
// 4-byte status reports, each followed by a 100 ms line step. The first
// byte chooses the box: bit 0 the Tz2501B, bit 1 the newer Tz2401B
// firmware, bit 2 the voltage reading on; the rest is the reports.
#include <cstddef>
#include <cstdint>

#include "base/logger.h"
#include "olva_device/olva_device.h"
#include "usb_hid/hid_reports.h"

namespace {

constexpr std::uint8_t kOldFirmware = 0x30;
constexpr std::uint8_t kNibbleVoltageFirmware = 0x40;
constexpr std::size_t kTz2401ReportSize = 8;
constexpr std::size_t kTz2501bReportSize = 4;
constexpr unsigned long kLineStepMs = 100;

// A box of the chosen model that never saw USB: its lines are opened as a
// plug-in opens them, its events read as a program would read them.
class FuzzBox final : public OlvaDevice {
public:
    FuzzBox(OLVA_PRODUCT model, std::uint8_t firmware, bool voltage_reading)
    {
        model_.store(model);
        version1_.store(firmware);
        line_voltage_reading_.store(voltage_reading);
        // The lines are the box's own, not const; the box keeps no other
        // way in for code outside it.
        const_cast<CBoxLineDevice&>(line(1)).line_open(1, "fuzz", model, true);
        if (model_traits(model).lines > 1)
            const_cast<CBoxLineDevice&>(line(2)).line_open(2, "fuzz", model, true);
    }
    ~FuzzBox() override { shutdown(); }

    void fire_event(unsigned long, int event, unsigned long p1, unsigned long p2,
                    unsigned long p3, unsigned long p4) override
    {
        sink_ ^= static_cast<unsigned long>(event) ^ p1 ^ p2 ^ p3 ^ p4;
    }

private:
    unsigned long sink_ = 0;
};

void tz2401_reports(FuzzBox& box, const std::uint8_t* data, std::size_t size)
{
    for (std::size_t at = 0; at < size; at += kTz2401ReportSize) {
        const std::size_t length = std::min(kTz2401ReportSize, size - at);
        box.handle_hid_read(data + at, length);
        if (length < kTz2401ReportSize)
            return;
        std::uint8_t value = 0;
        tz2401_param_value(data + at, false, value);
        tz2401_param_value(data + at, true, value);
        tz2401_paramex_reply(data + at);
    }
}

void tz2501b_reports(FuzzBox& box, const std::uint8_t* data, std::size_t size)
{
    for (std::size_t at = 0; at + kTz2501bReportSize <= size; at += kTz2501bReportSize) {
        std::uint8_t bits = 0;
        if (tz2501b_status_bits(data + at, bits))
            box.handle_Hid_data_Tz2501B(bits);
        box.handle_timer(kLineStepMs);
    }
}

}  // namespace

// The events' log lines are not worth the time here.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    logger_set_base_level(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t choice = data[0];
    const bool tz2501b = choice & 0x01;
    FuzzBox box(tz2501b ? OLVA_PRODUCT_TZ2501B : OLVA_PRODUCT_TZ2401B,
                (choice & 0x02) ? kNibbleVoltageFirmware : kOldFirmware, choice & 0x04);
    if (tz2501b)
        tz2501b_reports(box, data + 1, size - 1);
    else
        tz2401_reports(box, data + 1, size - 1);
    return 0;
}
