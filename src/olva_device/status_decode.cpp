// The boxes' status reports, decoded by their report family's decoder and
// applied here: the Tz2401B's 8-byte input reports and the Tz2501B's
// status bits become raw line states for line 1, which its timer
// debounces; the Tz2401B's code-19 reports are that timer's clock.
#include <exception>

#include "base/logger.h"
#include "olva_device/olva_device.h"
#include "usb_hid/tz2401_status_decode.h"
#include "usb_hid/tz2501b_status_decode.h"

void OlvaDevice::handle_hid_read(const std::uint8_t* data, unsigned long len)
{
    if (model_traits(model()).input != InputReports::kTz2401Status)
        return;
    const Tz2401Status status = decode_tz2401_status(data, len, version1());
    try {
        switch (status.kind) {
        case Tz2401Status::Kind::kNone:
            break;
        case Tz2401Status::Kind::kClock:
            handle_timer(kTz2401ClockStepMs);
            break;
        case Tz2401Status::Kind::kLine:
            line1_.save_tmp_line_state(status.line);
            break;
        case Tz2401Status::Kind::kVoltage:
            take_line_voltage(status.voltage);
            break;
        }
    } catch (const std::exception& error) {
        BOX_LOG(1, "%s status report dropped: %s", error.what());
    } catch (...) {
        BOX_LOG(1, "%s status report dropped");
    }
}

void OlvaDevice::take_line_voltage(const Tz2401Voltage& voltage)
{
    BOX_LOG(4, "%svoltage = %d", voltage.byte1);
    if (voltage.nibbles)
        BOX_LOG(4, "%svoltage2: 0x%02x, 0x%02x, check=0x%x, voltage:%d", voltage.byte4,
                voltage.byte5, voltage.check, voltage.volts);
    // The nibble form is only read while the box reads the voltage.
    if (!voltage.usable || (voltage.nibbles && !line_voltage_reading()))
        return;
    fire_event(1, OLVA_EVENT_LINE_VOLTAGE, static_cast<unsigned long>(voltage.volts), 0, 0, 0);
}

void OlvaDevice::handle_Hid_data_Tz2501B(std::uint8_t bits)
{
    const Tz2501bStatus status = decode_tz2501b_status(bits);
    line1_.save_tmp_line_state(status.line);
    line1_.save_tmp_line_slic_state(status.extension_off_hook ? OLVA_STATE_OFF_HOOK
                                                              : OLVA_STATE_IDLE);
}
