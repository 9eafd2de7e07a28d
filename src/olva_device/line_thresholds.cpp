// The Tz2401B's line thresholds set from the library: the hang and
// hook-off voltage thresholds go to the box as threshold words.
#include "base/logger.h"
#include "olva_device/olva_device.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2401_report.h"

int OlvaDevice::olva_get_hang_threshold()
{
    return OLVA_ERR_PRODUCT;
}

int OlvaDevice::olva_get_hookoff_threshold()
{
    return OLVA_ERR_PRODUCT;
}

int OlvaDevice::olva_set_hang_threshold(int value)
{
    return set_line_threshold(tz2401::kHangThreshold, value, "hang");
}

int OlvaDevice::olva_set_hookoff_threshold(int value)
{
    return set_line_threshold(tz2401::kHookOffThreshold, value, "hook off");
}

int OlvaDevice::set_line_threshold(std::uint8_t cmd, int value, const char* what)
{
    if (!model_traits(model()).line_thresholds) {
        BOX_LOG(2, "%s no %s threshold on model %d", what, model());
        return OLVA_ERR_PRODUCT;
    }
    std::uint8_t p1 = 0;
    std::uint8_t p2 = 0;
    if (!tz2401_threshold_word(value, p1, p2)) {
        BOX_LOG(1, "%s %s threshold %d does not fit the threshold word", what, value);
        return OLVA_ERR_INVALID_PARAM;
    }
    if (!Tz2401_write_cmd(tz2401::kReportId, cmd, p1, p2)) {
        BOX_LOG(1, "%s %s threshold %d not sent", what, value);
        return OLVA_ERR_FAILED;
    }
    BOX_LOG(4, "%s %s threshold:%d, word sent: p1 0x%02x, p2 0x%02x", what, value, p1, p2);
    return OLVA_OK;
}
