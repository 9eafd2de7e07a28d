#include "usb_hid/tz2701_status_decode.h"

#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2701_bridge_reports.h"

namespace {

constexpr std::size_t kStandaloneAt = 3;
constexpr std::size_t kSlot1At = 4;
constexpr std::size_t kSlot2At = 5;
constexpr std::size_t kHookAt = 6;
constexpr std::size_t kKeyAt = 7;
constexpr std::uint8_t kYes = 1;
constexpr std::uint8_t kNo = 0;

std::optional<bool> yes_or_no(std::uint8_t byte)
{
    if (byte == kYes)
        return true;
    if (byte == kNo)
        return false;
    return std::nullopt;
}

}  // namespace

std::optional<Tz2701Status> decode_tz2701_status(const std::uint8_t* report, std::size_t length,
                                                 bool has_module)
{
    if (!report || length < tz2401::kReportSize || report[0] != tz2401::kReportId ||
        report[1] != tz2701::kStatusHead)
        return std::nullopt;
    Tz2701Status status;
    status.standalone = report[kStandaloneAt] == 0;
    const std::uint8_t slot1 = report[kSlot1At];
    const std::uint8_t slot2 = report[kSlot2At];
    if (!has_module) {
        status.sim_present[0] = yes_or_no(slot1);
        status.sim_present[1] = yes_or_no(slot2);
    } else if (slot2 == 0 && slot1 <= 1) {
        status.working_sim = slot1;
    }
    status.extension_off_hook = yes_or_no(report[kHookAt]);
    status.earphone_key = report[kKeyAt] == kYes;
    return status;
}
