#include "usb_hid/libusb_backend.h"

#include <mutex>

#include <libusb-1.0/libusb.h>

#include "base/logger.h"

namespace usb {
namespace {

class LibusbTransfer final : public InterruptInTransfer {
public:
    LibusbTransfer(libusb_device_handle* handle, std::uint8_t endpoint, int length,
                   unsigned int timeout_ms, Callback callback)
        : transfer_(libusb_alloc_transfer(0)), buffer_(static_cast<std::size_t>(length)),
          callback_(std::move(callback))
    {
        if (transfer_)
            libusb_fill_interrupt_transfer(transfer_, handle, endpoint, buffer_.data(), length,
                                           &LibusbTransfer::on_complete, this, timeout_ms);
    }

    ~LibusbTransfer() override
    {
        if (transfer_)
            libusb_free_transfer(transfer_);
    }

    bool valid() const { return transfer_ != nullptr; }

    // The completion may run on any thread that handles events, as soon as
    // libusb holds the transfer: the flags change under the lock that the
    // completion takes first, so it never finds them stale.
    int submit() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int result = libusb_submit_transfer(transfer_);
        if (result == 0) {
            submitted_ = true;
            in_flight_ = true;
        }
        return result;
    }

    int cancel() override { return libusb_cancel_transfer(transfer_); }

    bool inFlight() const override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return in_flight_;
    }

private:
    static void LIBUSB_CALL on_complete(libusb_transfer* transfer)
    {
        auto* self = static_cast<LibusbTransfer*>(transfer->user_data);
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->submitted_ = false;
        }
        self->callback_(static_cast<TransferStatus>(transfer->status), transfer->buffer,
                        transfer->actual_length);
        std::lock_guard<std::mutex> lock(self->mutex_);
        // The callback may have submitted the transfer again.
        if (!self->submitted_)
            self->in_flight_ = false;
    }

    libusb_transfer* transfer_;
    std::vector<std::uint8_t> buffer_;
    Callback callback_;
    mutable std::mutex mutex_;
    bool submitted_ = false;  // libusb holds the transfer; guarded by mutex_
    bool in_flight_ = false;  // submitted or its callback running; guarded by mutex_
};

class LibusbHandle final : public DeviceHandle {
public:
    explicit LibusbHandle(libusb_device_handle* handle) : handle_(handle) {}
    ~LibusbHandle() override { libusb_close(handle_); }

    int kernelDriverActive(int interface_number) override
    {
        return libusb_kernel_driver_active(handle_, interface_number);
    }
    int detachKernelDriver(int interface_number) override
    {
        return libusb_detach_kernel_driver(handle_, interface_number);
    }
    int claimInterface(int interface_number) override
    {
        return libusb_claim_interface(handle_, interface_number);
    }
    int releaseInterface(int interface_number) override
    {
        return libusb_release_interface(handle_, interface_number);
    }
    int interruptTransfer(std::uint8_t endpoint, std::uint8_t* data, int length,
                          int* transferred, unsigned int timeout_ms) override
    {
        return libusb_interrupt_transfer(handle_, endpoint, data, length, transferred,
                                         timeout_ms);
    }
    int controlTransfer(std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
                        std::uint16_t index, std::uint8_t* data, std::uint16_t length,
                        unsigned int timeout_ms) override
    {
        return libusb_control_transfer(handle_, request_type, request, value, index, data,
                                       length, timeout_ms);
    }
    int clearHalt(std::uint8_t endpoint) override { return libusb_clear_halt(handle_, endpoint); }

    std::unique_ptr<InterruptInTransfer> makeInterruptInTransfer(
        std::uint8_t endpoint, int length, unsigned int timeout_ms,
        InterruptInTransfer::Callback callback) override
    {
        if (length <= 0) {
            logger(1, "olva ", "usb", "interrupt transfer of %d bytes refused", length);
            return nullptr;
        }
        auto transfer = std::make_unique<LibusbTransfer>(handle_, endpoint, length, timeout_ms,
                                                         std::move(callback));
        if (!transfer->valid())
            return nullptr;
        return transfer;
    }

private:
    libusb_device_handle* handle_;
};

std::vector<InterfaceInfo> interfaces_of(libusb_device* device)
{
    std::vector<InterfaceInfo> result;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return result;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            InterfaceInfo info;
            info.number = alt.bInterfaceNumber;
            info.alt_setting = alt.bAlternateSetting;
            info.interface_class = alt.bInterfaceClass;
            for (int e = 0; e < alt.bNumEndpoints; ++e)
                info.endpoints.push_back({alt.endpoint[e].bEndpointAddress,
                                          alt.endpoint[e].bmAttributes,
                                          alt.endpoint[e].wMaxPacketSize});
            result.push_back(std::move(info));
        }
    }
    libusb_free_config_descriptor(config);
    return result;
}

class LibusbBackend final : public Backend {
public:
    int listDevices(std::vector<DeviceInfo>* devices) override
    {
        std::vector<DeviceInfo>& result = *devices;
        result.clear();
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(nullptr, &list);
        if (count < 0) {
            logger(1, "olva ", "usb", "libusb_get_device_list failed: %s",
                   libusb_error_name(static_cast<int>(count)));
            return static_cast<int>(count);
        }
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) != 0)
                continue;
            DeviceInfo info;
            info.bus = libusb_get_bus_number(list[i]);
            info.address = libusb_get_device_address(list[i]);
            info.vendor_id = descriptor.idVendor;
            info.product_id = descriptor.idProduct;
            info.manufacturer_index = descriptor.iManufacturer;
            info.product_index = descriptor.iProduct;
            info.serial_index = descriptor.iSerialNumber;
            info.interfaces = interfaces_of(list[i]);
            result.push_back(std::move(info));
        }
        libusb_free_device_list(list, 1);
        return kSuccess;
    }

    int open(std::uint8_t bus, std::uint8_t address,
             std::unique_ptr<DeviceHandle>* handle) override
    {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(nullptr, &list);
        if (count < 0)
            return static_cast<int>(count);
        int result = kErrorNotFound;
        for (ssize_t i = 0; i < count; ++i) {
            if (libusb_get_bus_number(list[i]) != bus ||
                libusb_get_device_address(list[i]) != address)
                continue;
            libusb_device_handle* raw = nullptr;
            result = libusb_open(list[i], &raw);
            if (result == 0)
                *handle = std::make_unique<LibusbHandle>(raw);
            break;
        }
        libusb_free_device_list(list, 1);
        return result;
    }

    int handleEvents(int timeout_ms) override
    {
        timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        return libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
    }
};

}  // namespace

Backend* libusbBackend()
{
    // Made once and never destroyed: threads may still use it while the
    // process exits.
    static Backend* const instance = []() -> Backend* {
        const int result = libusb_init(nullptr);
        if (result != 0) {
            logger(1, "olva ", "usb", "libusb_init failed: %s", libusb_error_name(result));
            return nullptr;
        }
        return new LibusbBackend;
    }();
    return instance;
}

}  // namespace usb
