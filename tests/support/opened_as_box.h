// A box object whose events go nowhere, for a simulated box opened through
// OlvaDeviceAccess::openAs as any model and firmware.
#pragma once

#include "olva_device/olva_device.h"
#include "support/olva_device_access.h"

namespace olva_test {

class OpenedAsBox final : public OlvaDevice {
public:
    ~OpenedAsBox() override { shutdown(); }
    void fire_event(unsigned long, int, unsigned long, unsigned long, unsigned long,
                    unsigned long) override
    {
    }
};

}  // namespace olva_test
