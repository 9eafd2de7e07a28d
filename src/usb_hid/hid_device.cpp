// HidDevice: construction, the record's life (open by path, close) and the
// close of the whole box with its read thread.
#include "usb_hid/hid_device.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/logger.h"
#include "base/platform/sleeper.h"
#include "usb_hid/hid_reports.h"

namespace {

constexpr const char* kModule = "olva ";
constexpr int kPathSize = 64;  // "%04x:%04x:%02x" cut to 63 characters
// How long one pass of event handling may wait while a close drains a
// cancelled transfer.
constexpr int kDrainPassMs = 100;

}  // namespace

hid_device_* new_hid_device()
{
    return new (std::nothrow) hid_device_;
}

void free_hid_device(hid_device_* dev)
{
    logger(3, kModule, nullptr, "%s++  %p", __func__, static_cast<void*>(dev));
    delete dev;
    logger(3, kModule, nullptr, "%s--", __func__);
}

int hid_set_nonblocking(hid_device_* dev, int nonblock)
{
    dev->blocking.store(nonblock ? 0 : 1);
    return 0;
}

HidDevice::HidDevice() = default;

HidDevice::~HidDevice()
{
    hidClose();
    join_read_thread();
    // Only a box destroyed by its own read thread still holds it here.
    std::lock_guard<std::mutex> lock(close_mutex_);
    if (read_thread_.joinable())
        read_thread_.detach();
}

void HidDevice::handle_hid_read(const std::uint8_t*, unsigned long) {}
void HidDevice::handle_Hid_data_Tz2402D(std::uint8_t) {}
void HidDevice::handle_Hid_data_Tz2501B(std::uint8_t) {}
void HidDevice::handle_Hid_data_Tz2701A(const std::uint8_t*, unsigned long) {}
void HidDevice::handle_plug_out() {}
void HidDevice::fire_hid_event(int, int) {}

void HidDevice::hid_log(int level, const char* format, ...) const
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const std::string box_tag = tag();
    logger(level, kModule, box_tag.c_str(), "%s", text);
}

std::string HidDevice::tag() const
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    return tag_;
}

std::string HidDevice::path() const
{
    std::lock_guard<std::mutex> lock(text_mutex_);
    return path_;
}

void HidDevice::set_app_dir(const std::string& dir)
{
    app_dir_ = dir;
}

bool HidDevice::is_open() const
{
    std::lock_guard<std::mutex> lock(use_mutex_);
    return dev_ != nullptr;
}

bool HidDevice::record_usable() const
{
    std::lock_guard<std::mutex> lock(use_mutex_);
    return dev_ != nullptr && !dev_->closing.load();
}

HidDevice::RecordUse::RecordUse(const HidDevice& box) : box_(box), dev_(nullptr)
{
    std::lock_guard<std::mutex> lock(box_.use_mutex_);
    if (box_.dev_ && !box_.dev_->closing.load()) {
        dev_ = box_.dev_;
        ++box_.record_users_;
    }
}

HidDevice::RecordUse::~RecordUse()
{
    if (!dev_)
        return;
    std::lock_guard<std::mutex> lock(box_.use_mutex_);
    if (--box_.record_users_ == 0)
        box_.use_ended_.notify_all();
}

void HidDevice::set_nonblocking(int nonblock)
{
    RecordUse use(*this);
    if (use)
        hid_set_nonblocking(use.get(), nonblock);
}

hid_device_* HidDevice::hid_open_path(const char* path)
{
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        cmd_queue_.clear();
    }
    hid_device_* dev = new_hid_device();
    if (!dev)
        return nullptr;

    bool opened = false;
    bool matched = false;
    std::vector<usb::DeviceInfo> devices;
    usb::backend().listDevices(&devices);
    for (const usb::DeviceInfo& device : devices) {
        for (const usb::InterfaceInfo& interface : device.interfaces) {
            if (interface.interface_class != usb::kClassHid)
                continue;
            char candidate[kPathSize];
            std::snprintf(candidate, sizeof candidate, "%04x:%04x:%02x", device.bus,
                          device.address, interface.number);
            if (std::strcmp(candidate, path) != 0)
                continue;
            matched = true;

            std::unique_ptr<usb::DeviceHandle> handle;
            if (usb::backend().open(device.bus, device.address, &handle) != 0 || !handle) {
                hid_log(1, "%s can't open device", __func__);
                break;
            }
            if (handle->kernelDriverActive(interface.number) == 1 &&
                handle->detachKernelDriver(interface.number) < 0) {
                hid_log(1, "%s Unable to detach Kernel Driver", __func__);
                break;
            }
            const int claimed = handle->claimInterface(interface.number);
            if (claimed < 0) {
                hid_log(1, "%scan't claim interface %d: %d\n", __func__, interface.number, claimed);
                break;
            }
            for (const usb::EndpointInfo& endpoint : interface.endpoints) {
                if ((endpoint.attributes & usb::kTransferTypeMask) != usb::kTransferTypeInterrupt)
                    continue;
                if (endpoint.address & usb::kEndpointDirIn) {
                    if (dev->input_endpoint == 0) {
                        dev->input_endpoint = endpoint.address;
                        dev->input_packet_size = endpoint.max_packet_size;
                        hid_log(4, "%s open device input endpoint:%d, packet size:%d", __func__,
                                dev->input_endpoint, dev->input_packet_size);
                    }
                } else if (dev->output_endpoint == 0) {
                    dev->output_endpoint = endpoint.address;
                }
            }
            dev->interface = interface.number;
            dev->handle = std::move(handle);
            opened = true;
            break;
        }
        if (matched)
            break;
    }

    if (!opened) {
        free_hid_device(dev);
        return nullptr;
    }
    hid_log(4, "%s open device endpoint:%d, interface:%d", __func__, dev->output_endpoint,
            dev->interface);
    return dev;
}

void HidDevice::join_read_thread()
{
    std::thread reader;
    {
        std::lock_guard<std::mutex> lock(close_mutex_);
        if (!read_thread_.joinable() || read_thread_.get_id() == std::this_thread::get_id())
            return;
        reader = std::move(read_thread_);
    }
    reader.join();
    // Kept until the join, so that the thread's own close sees it is the reader.
    read_thread_id_.store(std::thread::id{});
}

void HidDevice::hid_close(hid_device_* dev)
{
    hid_log(3, "%s++  ", __func__);
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        cmd_queue_.clear();
        sms_queue_.clear();
    }
    if (!dev) {
        hid_log(3, "%s--", __func__);
        return;
    }

    // First refuse new uses and tell the read thread and the readers.
    {
        std::lock_guard<std::mutex> lock(use_mutex_);
        dev->closing.store(true);
    }
    usb::InterruptInTransfer* transfer = nullptr;
    {
        std::lock_guard<std::mutex> lock(dev->mutex);
        dev->shutdown_thread.store(true);
        dev->condition.notify_all();
        transfer = dev->transfer.get();
    }
    // Only this close destroys the transfer, so the pointer stays good.
    if (transfer)
        transfer->cancel();

    // Then wait for the read thread, unless this is it, and for the reports
    // it handed over.
    join_read_thread();
    report_worker_.stop();

    // The transfer must have completed before it is freed; the read thread
    // drains it on its way out, this covers a thread that never got there.
    int passes = 0;
    while (transfer && transfer->inFlight()) {
        transfer->cancel();
        if (usb::backend().handleEvents(kDrainPassMs) < 0)
            platform::sleeper().sleepMs(kDrainPassMs);
        if (++passes % 50 == 0)
            hid_log(1, "%s waiting for the interrupt transfer to end", __func__);
    }

    // Last, wait until no other thread uses the record, and free it.
    {
        std::unique_lock<std::mutex> lock(use_mutex_);
        use_ended_.wait(lock, [this] { return record_users_ == 0; });
        dev_ = nullptr;
    }
    if (dev->handle)
        dev->handle->releaseInterface(dev->interface);
    dev->transfer.reset();
    dev->handle.reset();
    {
        std::lock_guard<std::mutex> lock(dev->mutex);
    }
    free_hid_device(dev);
    hid_log(3, "%s--", __func__);
}

void HidDevice::hidClose()
{
    hid_log(3, "%s++  ", __func__);
    {
        std::unique_lock<std::mutex> lock(close_mutex_);
        if (close_running_) {
            // The running close waits for the read thread: never wait for it there.
            if (read_thread_id_.load() == std::this_thread::get_id()) {
                hid_log(3, "%s--", __func__);
                return;
            }
            close_done_.wait(lock, [this] { return !close_running_; });
        }
        close_running_ = true;
    }

    hid_device_* dev;
    {
        std::lock_guard<std::mutex> lock(use_mutex_);
        dev = dev_;
    }
    if (dev) {
        hid_close(dev);
        device_index_.store(-1);
        std::lock_guard<std::mutex> lock(text_mutex_);
        path_.clear();
    }
    // A read thread that closed its own record has ended or is ending.
    join_read_thread();

    {
        std::lock_guard<std::mutex> lock(close_mutex_);
        close_running_ = false;
    }
    close_done_.notify_all();
    hid_log(3, "%s--", __func__);
}

void HidDevice::hid_closeEx()
{
    closing_.store(true);
}

int HidDevice::olva_get_device_versionnum(float& version)
{
    if (!is_open())
        return -1;
    version = hid_version_number(model_.load(), version1_.load(), version2_.load());
    hid_log(4, "%s:version number:V%f", __func__, static_cast<double>(version));
    return 0;
}
