// The one entry of a Tz2701A input report on the box's report worker: GSM
// module bytes go to the line assembler and the reply rules, status reports
// to the status decoder. Answers to requests (EEPROM bytes, other replies)
// never come here: the completion hands them to the waiting reader.
#include "olva_device/olva_device.h"

#include "base/logger.h"
#include "gsm/reply_rules.h"

namespace {

constexpr std::size_t kReportSize = 8;
constexpr std::uint8_t kReportId = 3;
constexpr std::uint8_t kFirstGsmHead = 0x81;
constexpr std::uint8_t kLastGsmHead = 0x86;
constexpr std::uint8_t kStatusHead = 0x91;
constexpr std::uint8_t kGsmBytesAt = 2;

}  // namespace

void OlvaDevice::route_tz2701_report(const std::uint8_t* report, std::size_t len)
{
    if (!report || len < kReportSize || report[0] != kReportId)
        return;
    const std::uint8_t head = report[1];
    if (head == kStatusHead) {
        handle_tz2701_status(report, len);
        return;
    }
    // Anything but a status report starts the count of status reports again.
    tz2701_status_reports_.store(0);
    if (head >= kFirstGsmHead && head <= kLastGsmHead)
        recv_gsm_data(report + kGsmBytesAt, static_cast<std::size_t>(head - 0x80));
    else
        BOX_LOG(1, "%s error head:0x%02x", head);
}

void OlvaDevice::handle_Hid_data_Tz2701A(const std::uint8_t* data, unsigned long len)
{
    route_tz2701_report(data, len);
}

void OlvaDevice::recv_gsm_data(const std::uint8_t* bytes, std::size_t count)
{
    for (const gsm::LineAssembler::Item& item : assembler_.feed(bytes, count)) {
        gsm::Actions actions;
        switch (item.kind) {
        case gsm::LineAssembler::Item::Kind::kLine: {
            const gsm::LineContext context = gsm_context();
            std::lock_guard<std::mutex> lock(gsm_mutex_);
            actions = gsm::handle_line(gsm_, context, gsm_levels_, item.text);
            break;
        }
        case gsm::LineAssembler::Item::Kind::kPrompt: {
            std::lock_guard<std::mutex> lock(gsm_mutex_);
            actions = gsm::handle_prompt(gsm_, item.text);
            break;
        }
        case gsm::LineAssembler::Item::Kind::kDroppedLongLine:
            BOX_LOG(1, "%s module line longer than %zu characters dropped",
                    gsm::LineAssembler::kMaxLine);
            break;
        }
        apply_gsm_actions(actions);
    }
}

gsm::LineContext OlvaDevice::gsm_context() const
{
    return {
        .active_sim = active_sim(),
        .call_phase = line1_.call_phase(),
        .auto_link_slic = auto_link_slic_.load(),
        .extension_off_hook = extension_off_hook_.load(),
        .extension_ringing = line1_.slic_ringing(),
    };
}
