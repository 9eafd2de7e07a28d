// The HID read thread of a box: the interrupt-transfer event loop of the
// Tz2401 family and the GET_REPORT status poll of the Tz2501B.
#include <algorithm>
#include <chrono>
#include <system_error>

#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"

namespace {

// The box answers within this; a silent box still lets the loop pass.
constexpr unsigned int kInterruptTimeoutMs = 10000;
// One pass of event handling waits at most this long, so that the loop
// sees its stop flags even when the transfer is gone.
constexpr int kEventPassMs = 100;
// A Tz2701A in event mode reports its status when asked, about this often.
constexpr std::chrono::milliseconds kStatusRequestPeriod{50};
// A close with a mode sets the unplugged flag just before the close.
constexpr int kPlugOutGraceMs = 50;
constexpr int kStatusPollPeriodMs = 10;
constexpr unsigned long kStatusReportSize = 4;

}  // namespace

bool HidDevice::start_read_thread(hid_device_* dev, bool event_loop)
{
    if (read_thread_active_.load()) {
        hid_log(1, "%s the read thread runs already", __func__);
        return false;
    }
    // A thread that closed its own record is joined before the next starts.
    join_read_thread();
    if (event_loop &&
        !report_worker_.start(
            [this](const std::uint8_t* data, unsigned long len) { dispatch_report(data, len); },
            [this](const char* what, std::uint64_t count) {
                hid_log(1, "report worker %s %llu", what, static_cast<unsigned long long>(count));
            })) {
        hid_log(1, "%s cannot start the report worker", __func__);
        return false;
    }
    std::lock_guard<std::mutex> lock(close_mutex_);
    try {
        read_thread_ = std::thread(&HidDevice::HidReadThread, this, dev, event_loop);
    } catch (const std::system_error& error) {
        hid_log(1, "%s cannot start the read thread: %s", __func__, error.what());
        return false;
    }
    read_thread_id_.store(read_thread_.get_id());
    return true;
}

void HidDevice::HidReadThread(hid_device_* dev, bool event_loop)
{
    static constexpr const char* kRoutine = "HidReadThread";
    read_thread_id_.store(std::this_thread::get_id());
    read_thread_active_.store(true);
    hid_log(4, "%s++", kRoutine);
    if (event_loop)
        Tz2701_handle_thread_read(dev);
    else
        Tz2501B_handle_thread_read();
    hid_log(4, "%s--", kRoutine);
    read_thread_active_.store(false);
}

void HidDevice::Tz2701_handle_thread_read(hid_device_* dev)
{
    hid_log(3, "%s++  ", __func__);
    usb::InterruptInTransfer* transfer = nullptr;
    if (dev->input_endpoint != 0 && dev->input_packet_size > 0) {
        auto made = dev->handle->makeInterruptInTransfer(
            static_cast<std::uint8_t>(dev->input_endpoint), dev->input_packet_size,
            kInterruptTimeoutMs,
            [this, dev](usb::TransferStatus status, const std::uint8_t* data, int length) {
                read_callback(dev, status, data, length);
            });
        if (made) {
            transfer = made.get();
            std::lock_guard<std::mutex> lock(dev->mutex);
            dev->transfer = std::move(made);
            dev->pending_primed = true;
        }
    }
    if (!transfer) {
        hid_log(1, "%s cannot make the interrupt transfer", __func__);
    } else if (const int submitted = transfer->submit(); submitted < 0) {
        hid_log(1, "%s submit transfer failed:%d", __func__, submitted);
        std::lock_guard<std::mutex> lock(dev->mutex);
        dev->pending_primed = false;
        dev->cancelled.store(true);
        transfer = nullptr;
    }
    // From here on every interrupt report reaches the completion.
    dev->started.count_down();

    if (transfer) {
        // Events are handled until the next status request is due, so that
        // a completed transfer is reaped at once. The wait is libusb's own,
        // in real time, and so is the request's period.
        auto request_due = std::chrono::steady_clock::now();
        while (!dev->shutdown_thread.load() && !unplugged_.load() && !dev->no_device.load()) {
            int wait_ms = kEventPassMs;
            if (dev->blocking.load() == 0) {
                auto now = std::chrono::steady_clock::now();
                if (now >= request_due) {
                    Tz2701_read_state();
                    now = std::chrono::steady_clock::now();
                    request_due = now + kStatusRequestPeriod;
                }
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(request_due - now).count();
                wait_ms = static_cast<int>(std::clamp<std::int64_t>(left, 0, kEventPassMs));
            }
            const int handled = usb::backend().handleEvents(wait_ms);
            if (handled < 0) {
                hid_log(1, "%s read hid events res(%d)", __func__, handled);
                // libusb tells of a box that is gone this way too.
                if (handled == usb::kErrorNoDevice)
                    end_stream(dev, true);
                break;
            }
        }
        // The transfer is freed by the close, and only once it has completed.
        // A completion already due when the cancel comes (the cancel then
        // finds nothing to cancel) must not submit it again.
        dev->loop_ended.store(true);
        transfer->cancel();
        while (transfer->inFlight()) {
            if (usb::backend().handleEvents(kEventPassMs) < 0)
                platform::sleeper().sleepMs(kEventPassMs);
        }
        hid_log(4, "%s stop read hid @%d ", __func__, 3221);
        std::lock_guard<std::mutex> lock(dev->mutex);
        dev->pending_primed = false;
        dev->condition.notify_all();
    }

    hid_log(4, "%s shutdown_thread(%d), plug out flag(%d) ", __func__,
            dev->shutdown_thread.load() ? 1 : 0, unplugged_.load() ? 1 : 0);
    // A box pulled out ends here even when its sound card, whose failed
    // read would otherwise tell, never opened.
    bool gone = unplugged_.load() || dev->no_device.load();
    if (!gone) {
        platform::sleeper().sleepMs(kPlugOutGraceMs);
        gone = unplugged_.load();
    }
    if (gone) {
        hid_log(1, "%s usb hid plugout ", __func__);
        // The owner closes the record from here; it is not touched after.
        handle_plug_out();
    }
    hid_log(3, "%s--", __func__);
}

void HidDevice::Tz2501B_handle_thread_read()
{
    hid_log(4, "%s ++", __func__);
    // A box pulled out ends here even when its sound card, whose failed
    // read would otherwise tell, still reads or never opened.
    bool gone = false;
    while (record_usable() && !unplugged_.load() && !closing_.load()) {
        std::uint8_t report[kStatusReportSize] = {};
        bool read;
        int error = 0;
        {
            // Register reads share this GET_REPORT channel.
            std::lock_guard<std::mutex> channel(channel_mutex_);
            read = sync_read(report, kStatusReportSize, &error);
        }
        // A record closed under the read fails the same way: not a plug-out.
        if (error == usb::kErrorNoDevice && record_usable() && !closing_.load()) {
            gone = true;
            break;
        }
        std::uint8_t bits = 0;
        if (read && tz2501b_status_bits(report, bits))
            handle_Hid_data_Tz2501B(bits);
        platform::sleeper().sleepMs(kStatusPollPeriodMs);
    }
    if (gone || unplugged_.load()) {
        hid_log(1, "%s usb hid plugout ", __func__);
        handle_plug_out();
    }
    hid_log(4, "%s --", __func__);
}
