// The real USB backend on libusb-1.0's default context.
#pragma once

#include "usb_hid/usb_backend.h"

namespace usb {

// The process's libusb backend, made on first use. Null when libusb cannot
// be initialised.
Backend* libusbBackend();

}  // namespace usb
