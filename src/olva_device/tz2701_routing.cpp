// The one entry of a Tz2701A input report on the box's report worker: GSM
// module bytes go to the line assembler and the reply rules, status reports
// to the status decoder. Answers to requests (EEPROM bytes, other replies)
// never come here: the completion hands them to the waiting reader.
#include "olva_device/olva_device.h"

#include "base/logger.h"
#include "gsm/reply_rules.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2701_bridge_reports.h"

void OlvaDevice::route_tz2701_report(const std::uint8_t* report, std::size_t len)
{
    if (!report || len < tz2401::kReportSize || report[0] != tz2401::kReportId)
        return;
    const std::uint8_t head = report[1];
    if (head == tz2701::kStatusHead) {
        handle_tz2701_status(report, len);
        return;
    }
    // Anything but a status report starts the count of status reports again.
    tz2701_status_reports_.store(0);
    if (tz2701::is_text_head(head))
        recv_gsm_data(report + tz2701::kTextAt,
                      static_cast<std::size_t>(head - tz2701::kTextHead));
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
            actions = gsm::handle_line(gsm_, context, kTz2701GsmLevels, item.text);
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
