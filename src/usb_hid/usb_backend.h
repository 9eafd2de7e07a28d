// The USB seam: everything above libusb talks to a box through these
// interfaces, so that the program runs on libusb and the tests on simulated
// boxes. No libusb header is included here; error values are libusb's own
// numbers and transfer states libusb's own values.
//
// Completions of an InterruptInTransfer run only inside Backend::handleEvents()
// or inside a synchronous transfer of the same backend, never two at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace usb {

// libusb's error numbers.
enum Error : int {
    kSuccess = 0,
    kErrorIo = -1,
    kErrorInvalidParam = -2,
    kErrorAccess = -3,
    kErrorNoDevice = -4,
    kErrorNotFound = -5,
    kErrorBusy = -6,
    kErrorTimeout = -7,
    kErrorOverflow = -8,
    kErrorPipe = -9,
    kErrorInterrupted = -10,
    kErrorNoMem = -11,
    kErrorNotSupported = -12,
    kErrorOther = -99,
};

// libusb's short name of an error number ("LIBUSB_ERROR_PIPE" and so on).
const char* errorName(int error);

// libusb's transfer states.
enum class TransferStatus : int {
    kCompleted = 0,
    kError = 1,
    kTimedOut = 2,
    kCancelled = 3,
    kStall = 4,
    kNoDevice = 5,
    kOverflow = 6,
};

constexpr std::uint8_t kEndpointDirIn = 0x80;
constexpr std::uint8_t kTransferTypeMask = 0x03;
constexpr std::uint8_t kTransferTypeInterrupt = 0x03;
constexpr std::uint8_t kClassHid = 3;

struct EndpointInfo {
    std::uint8_t address = 0;     // bit 7 set: IN
    std::uint8_t attributes = 0;  // bits 0-1: transfer type
    std::uint16_t max_packet_size = 0;
};

struct InterfaceInfo {
    int number = 0;
    int alt_setting = 0;
    std::uint8_t interface_class = 0;
    std::vector<EndpointInfo> endpoints;
};

struct DeviceInfo {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::uint8_t manufacturer_index = 0;
    std::uint8_t product_index = 0;
    std::uint8_t serial_index = 0;
    // Every interface and alternate setting of the active configuration.
    std::vector<InterfaceInfo> interfaces;
};

class InterruptInTransfer {
public:
    // Called with the transfer's state and, when completed, the bytes read.
    using Callback = std::function<void(TransferStatus status, const std::uint8_t* data, int length)>;

    virtual ~InterruptInTransfer() = default;
    // 0, or a libusb error (kErrorNoDevice once the box is gone).
    virtual int submit() = 0;
    // Asks for the transfer to end; its callback then runs with kCancelled.
    virtual int cancel() = 0;
    // True from a successful submit until its callback has returned.
    virtual bool inFlight() const = 0;
};

class DeviceHandle {
public:
    // Closes the handle.
    virtual ~DeviceHandle() = default;
    // 1 active, 0 not, or a libusb error.
    virtual int kernelDriverActive(int interface_number) = 0;
    virtual int detachKernelDriver(int interface_number) = 0;
    virtual int claimInterface(int interface_number) = 0;
    virtual int releaseInterface(int interface_number) = 0;
    // 0 with *transferred set, or a libusb error.
    virtual int interruptTransfer(std::uint8_t endpoint, std::uint8_t* data, int length,
                                  int* transferred, unsigned int timeout_ms) = 0;
    // Bytes transferred, or a libusb error.
    virtual int controlTransfer(std::uint8_t request_type, std::uint8_t request,
                                std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                                std::uint16_t length, unsigned int timeout_ms) = 0;
    virtual int clearHalt(std::uint8_t endpoint) = 0;
    // A transfer of length bytes from endpoint, not yet submitted; null on
    // failure. It must be destroyed before the handle, and not while in flight.
    virtual std::unique_ptr<InterruptInTransfer> makeInterruptInTransfer(
        std::uint8_t endpoint, int length, unsigned int timeout_ms,
        InterruptInTransfer::Callback callback) = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    // The devices on the bus now: 0 with *devices filled, or a libusb error
    // when the bus cannot be read (*devices then empty), so that a failed
    // read is never taken for a bus without devices.
    virtual int listDevices(std::vector<DeviceInfo>* devices) = 0;
    // 0 with *handle set, or a libusb error.
    virtual int open(std::uint8_t bus, std::uint8_t address,
                     std::unique_ptr<DeviceHandle>* handle) = 0;
    // Runs the completions that are due, waiting at most timeout_ms for one.
    virtual int handleEvents(int timeout_ms) = 0;
};

// The process-wide backend: libusb unless a test installed its own. Chosen
// before the library opens; the caller keeps a replacement alive while it is
// installed, and nullptr restores libusb.
Backend& backend();
void setBackend(Backend* replacement);

}  // namespace usb
