// HidDevice: output reports, GET_REPORT reads, synchronous waits for the
// next interrupt report and the completion of the interrupt transfer.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <vector>

#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2401_report.h"

namespace {

constexpr std::uint8_t kRequestTypeClassOut = 0x21;  // class request to the interface
constexpr std::uint8_t kRequestTypeClassIn = 0xA1;
constexpr std::uint8_t kSetReport = 9;
constexpr std::uint8_t kGetReport = 1;
constexpr std::uint16_t kOutputReport = 0x0200;
constexpr std::uint16_t kInputReport = 0x0100;
constexpr unsigned int kInterruptWriteTimeoutMs = 1000;
constexpr unsigned int kSetReportTimeoutMs = 50;
constexpr unsigned int kGetReportTimeoutMs = 60;
constexpr int kSetReportAttempts = 3;
constexpr int kUsbErrorEvent = 41;  // OLVA_EVENT_USB_ERROR
// Reports kept for synchronous readers; the oldest goes when a new one
// arrives and the list is full.
constexpr std::size_t kPendingReportLimit = 8;

}  // namespace

int HidDevice::hid_write(hid_device_* dev, const std::uint8_t* data, unsigned long len)
{
    if (!data || len == 0 || len > 0xFFFF)
        return -1;
    const std::uint8_t report_id = data[0];
    // Report id 0 is not sent on the wire.
    const bool skip_id = report_id == 0;
    std::vector<std::uint8_t> wire(data + (skip_id ? 1 : 0), data + len);
    const int wire_length = static_cast<int>(wire.size());

    if (dev->output_endpoint != 0) {
        int transferred = 0;
        const int result = dev->handle->interruptTransfer(
            static_cast<std::uint8_t>(dev->output_endpoint), wire.data(), wire_length,
            &transferred, kInterruptWriteTimeoutMs);
        if (result < 0) {
            hid_log(1, "%s interrupt write err:%d, write length:%d", __func__, result, wire_length);
            return -1;
        }
        return transferred + (skip_id ? 1 : 0);
    }

    const std::uint8_t byte1 = wire_length > 1 ? wire[1] : 0;
    const std::uint8_t byte2 = wire_length > 2 ? wire[2] : 0;
    int result = 0;
    for (int attempt = 0; attempt < kSetReportAttempts; ++attempt) {
        result = dev->handle->controlTransfer(
            kRequestTypeClassOut, kSetReport, static_cast<std::uint16_t>(kOutputReport | report_id),
            static_cast<std::uint16_t>(dev->interface), wire.data(),
            static_cast<std::uint16_t>(wire_length), kSetReportTimeoutMs);
        if (result >= 0)
            return static_cast<int>(len);
        hid_log(1, "%s transfer err:%d,count(%d), data[1]:0x%x,data[2]:0x%x,write length:%d",
                __func__, result, attempt, byte1, byte2, wire_length);
    }
    hid_log(1, "%s transfer err:%d, data[1]:0x%x,data[2]:0x%x,write length:%d", __func__, result,
            byte1, byte2, wire_length);
    fire_hid_event(kUsbErrorEvent, result);
    return -1;
}

bool HidDevice::sync_write(const std::uint8_t* data, unsigned long len)
{
    RecordUse use(*this);
    if (!use)
        return false;
    return hid_write(use.get(), data, len) >= 0;
}

int HidDevice::get_report(std::uint8_t* data, unsigned long len)
{
    if (len > 0xFFFF)
        return usb::kErrorInvalidParam;
    RecordUse use(*this);
    if (!use)
        return usb::kErrorNoDevice;
    return use.get()->handle->controlTransfer(
        kRequestTypeClassIn, kGetReport, kInputReport,
        static_cast<std::uint16_t>(use.get()->interface), data, static_cast<std::uint16_t>(len),
        kGetReportTimeoutMs);
}

bool HidDevice::sync_read(std::uint8_t* data, unsigned long len, int* error)
{
    if (unplugged_.load())
        return false;
    if (!is_open())
        return false;
    const int result = get_report(data, len);
    if (result >= 0) {
        // A short report would leave stale bytes behind its end.
        if (static_cast<unsigned long>(result) < len) {
            hid_log(1, "%s short report: %d of %lu bytes", __func__, result, len);
            return false;
        }
        return true;
    }
    if (error)
        *error = result;
    // A record closed under the read (the Tz2501B's poll meeting a close)
    // is no fault of the box.
    if (!record_usable())
        return false;
    log_get_report_error(__func__, result, true);
    return false;
}

void HidDevice::log_get_report_error(const char* routine, int result, bool raise_event)
{
    if (result == usb::kErrorPipe) {
        hid_log(1, "%s   Detected stall - resetting pipe r(%d)...", routine, result);
        RecordUse use(*this);
        if (use)
            use.get()->handle->clearHalt(0);
    } else if (result == usb::kErrorTimeout) {
        hid_log(1,
                "%sTimeout! Please make sure you act on the device within the 5 seconds "
                "allocated...",
                routine);
    } else if (raise_event) {
        hid_log(1, "%s   Error: %s, res(%d)", routine, usb::errorName(result), result);
        fire_hid_event(kUsbErrorEvent, result);
    } else {
        hid_log(1, "%s   Error: %s", routine, usb::errorName(result));
    }
}

std::uint64_t HidDevice::hid_arm_read(hid_device_* dev)
{
    std::lock_guard<std::mutex> lock(dev->mutex);
    return dev->report_count;
}

namespace {

// The first kept report after token, or end().
std::deque<hid_input_report>::iterator first_after(std::deque<hid_input_report>& pending,
                                                   std::uint64_t token)
{
    return std::find_if(pending.begin(), pending.end(),
                        [token](const hid_input_report& report) { return report.number > token; });
}

}  // namespace

int HidDevice::hid_read_timeout(hid_device_* dev, std::uint64_t token, std::uint8_t* data,
                                unsigned long len, int ms)
{
    std::unique_lock<std::mutex> lock(dev->mutex);
    if (dev->shutdown_thread.load())
        return -1;
    auto arrived = [&] {
        return dev->shutdown_thread.load() || !dev->pending_primed ||
               first_after(dev->pending, token) != dev->pending.end();
    };
    if (ms == -1) {
        dev->condition.wait(lock, arrived);
    } else if (ms <= 0) {
        hid_log(1, "%s Purely non-blocking", __func__);
        return 0;
    } else {
        if (!dev->pending_primed)
            return -1;
        if (!dev->condition.wait_for(lock, std::chrono::milliseconds(ms), arrived)) {
            hid_log(1, "%s read time out", __func__);
            return 0;
        }
    }
    if (dev->shutdown_thread.load())
        return -1;
    auto report = first_after(dev->pending, token);
    if (report == dev->pending.end())
        return -1;
    const std::size_t length = std::min<std::size_t>(report->data.size(), len);
    std::memcpy(data, report->data.data(), length);
    dev->pending.erase(dev->pending.begin(), report + 1);
    return static_cast<int>(length);
}

int HidDevice::hid_read_timeout(hid_device_* dev, std::uint8_t* data, unsigned long len, int ms)
{
    return hid_read_timeout(dev, hid_arm_read(dev), data, len, ms);
}

void HidDevice::readHid_callback(hid_device_* dev, usb::TransferStatus status,
                                 const std::uint8_t* data, int length)
{
    static constexpr const char* kRoutine = "readHid_callback";
    switch (status) {
    case usb::TransferStatus::kCompleted:
        if (length > 0) {
            std::lock_guard<std::mutex> lock(dev->mutex);
            // A Tz2701A's answer to a request goes to the waiting reader in
            // event mode too, from here rather than from the worker, so that
            // a request made on the worker (a callback's) gets its reply.
            // Everything else of id 3 goes to the worker.
            const bool for_reader =
                dev->blocking.load() == 1 ||
                (has_tz2701_bridge() &&
                 tz2701_is_reply(data, static_cast<std::size_t>(length)));
            if (for_reader)
                push_pending_locked(dev, data, static_cast<std::size_t>(length));
            else if (data[0] == tz2401::kReportId)
                report_worker_.post(data, static_cast<unsigned long>(length));
        }
        break;
    case usb::TransferStatus::kTimedOut:
        hid_log(1, "%s Timeout (normal)", kRoutine);
        break;
    case usb::TransferStatus::kCancelled:
        end_stream(dev, false);
        hid_log(1, "%s transfer cancelled", kRoutine);
        return;
    case usb::TransferStatus::kNoDevice:
        end_stream(dev, true);
        hid_log(1, "%s transfer no device", kRoutine);
        return;
    default:
        hid_log(1, "%sUnknown transfer code: %d", kRoutine, static_cast<int>(status));
        break;
    }

    if (dev->shutdown_thread.load() || dev->loop_ended.load())
        return;
    // libusb tells of a box pulled out either way: the transfer ends with
    // no-device, or it completes (with a report, none or an error) and
    // then cannot be submitted again.
    if (const int resubmitted = dev->transfer->submit(); resubmitted < 0) {
        const bool gone = resubmitted == usb::kErrorNoDevice;
        end_stream(dev, gone);
        hid_log(1, "%s resubmit transfer failed: %s", kRoutine, usb::errorName(resubmitted));
    }
}

void HidDevice::end_stream(hid_device_* dev, bool device_gone)
{
    std::lock_guard<std::mutex> lock(dev->mutex);
    // A box that is gone ends the read loop with a plug-out; any other end
    // stops it as a close does.
    if (device_gone)
        dev->no_device.store(true);
    else
        dev->shutdown_thread.store(true);
    dev->cancelled.store(true);
    // The stream has ended: a waiting reader need not wait out its time.
    dev->pending_primed = false;
    dev->condition.notify_all();
}

void HidDevice::push_pending_locked(hid_device_* dev, const std::uint8_t* data, std::size_t len)
{
    if (!dev->pending_primed)
        return;
    dev->pending.push_back({std::vector<std::uint8_t>(data, data + len), ++dev->report_count});
    if (dev->pending.size() > kPendingReportLimit)
        dev->pending.pop_front();
    dev->condition.notify_all();
}

void HidDevice::read_callback(hid_device_* dev, usb::TransferStatus status,
                              const std::uint8_t* data, int length)
{
    if (!dev)
        return;
    try {
        readHid_callback(dev, status, data, length);
    } catch (const std::exception&) {
        hid_log(1, "%s read callback except", __func__);
    } catch (...) {
        hid_log(1, "%s read callback except", __func__);
    }
}

void HidDevice::dispatch_report(const std::uint8_t* data, unsigned long len)
{
    try {
        switch (model_traits(model_.load()).input) {
        case InputReports::kTz2401Status:
            handle_hid_read(data, len);
            break;
        case InputReports::kTz2701Bridge:
            handle_Hid_data_Tz2701A(data, len);
            break;
        case InputReports::kNone:
            break;
        }
    } catch (const std::exception& error) {
        hid_log(1, "%s report handler except: %s", __func__, error.what());
    } catch (...) {
        hid_log(1, "%s report handler except", __func__);
    }
}
