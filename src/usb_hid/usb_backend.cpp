#include "usb_hid/usb_backend.h"

#include <atomic>

#include "usb_hid/libusb_backend.h"

namespace usb {
namespace {

// Stands in when libusb cannot start: no devices, nothing opens.
class AbsentBackend final : public Backend {
public:
    int listDevices(std::vector<DeviceInfo>* devices) override
    {
        devices->clear();
        return kErrorNotSupported;
    }
    int open(std::uint8_t, std::uint8_t, std::unique_ptr<DeviceHandle>*) override
    {
        return kErrorNotSupported;
    }
    int handleEvents(int) override { return kErrorNotSupported; }
};

std::atomic<Backend*> g_backend{nullptr};

}  // namespace

const char* errorName(int error)
{
    switch (error) {
    case kSuccess: return "LIBUSB_SUCCESS";
    case kErrorIo: return "LIBUSB_ERROR_IO";
    case kErrorInvalidParam: return "LIBUSB_ERROR_INVALID_PARAM";
    case kErrorAccess: return "LIBUSB_ERROR_ACCESS";
    case kErrorNoDevice: return "LIBUSB_ERROR_NO_DEVICE";
    case kErrorNotFound: return "LIBUSB_ERROR_NOT_FOUND";
    case kErrorBusy: return "LIBUSB_ERROR_BUSY";
    case kErrorTimeout: return "LIBUSB_ERROR_TIMEOUT";
    case kErrorOverflow: return "LIBUSB_ERROR_OVERFLOW";
    case kErrorPipe: return "LIBUSB_ERROR_PIPE";
    case kErrorInterrupted: return "LIBUSB_ERROR_INTERRUPTED";
    case kErrorNoMem: return "LIBUSB_ERROR_NO_MEM";
    case kErrorNotSupported: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case kErrorOther: return "LIBUSB_ERROR_OTHER";
    default: return "**UNKNOWN**";
    }
}

Backend& backend()
{
    if (Backend* chosen = g_backend.load(std::memory_order_acquire))
        return *chosen;
    if (Backend* real = libusbBackend())
        return *real;
    static AbsentBackend absent;
    return absent;
}

void setBackend(Backend* replacement)
{
    g_backend.store(replacement, std::memory_order_release);
}

}  // namespace usb
