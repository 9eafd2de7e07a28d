// The umockdev test bed of one box for a whole test program, with the real
// libusb backend over it. libusb looks for usbfs and enumerates the bus
// once, when it is initialised, so the bed is built (and the box's firmware
// installed) by a global test environment before libusb's first use, and
// lives until the program's tests have run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "umockdev_usb_box.h"
#include "usb_hid/libusb_backend.h"

namespace olva_test {

struct UmockdevBed {
    UmockdevUsbBox box;
    usb::Backend* backend = nullptr;
    std::string skip_reason;  // why the bed does not stand; empty when it does
};

inline std::unique_ptr<UmockdevBed>& umockdevBedSlot()
{
    static std::unique_ptr<UmockdevBed> bed;
    return bed;
}
inline UmockdevBed& umockdevBed() { return *umockdevBedSlot(); }

class UmockdevBedEnvironment : public ::testing::Environment {
public:
    // prepare, when given, runs once the box is up and before libusb starts.
    explicit UmockdevBedEnvironment(std::function<void(UmockdevUsbBox&)> prepare)
        : prepare_(std::move(prepare))
    {
    }
    void SetUp() override
    {
        umockdevBedSlot() = std::make_unique<UmockdevBed>();
        UmockdevBed& bed = umockdevBed();
        bed.skip_reason = bed.box.start();
        if (!bed.skip_reason.empty())
            return;
        if (prepare_)
            prepare_(bed.box);
        bed.backend = usb::libusbBackend();
        if (!bed.backend)
            bed.skip_reason = "libusb cannot start on the umockdev test bed";
    }
    void TearDown() override { umockdevBedSlot().reset(); }

private:
    std::function<void(UmockdevUsbBox&)> prepare_;
};

// Registers the bed's environment; call once, at namespace scope.
inline ::testing::Environment* addUmockdevBed(std::function<void(UmockdevUsbBox&)> prepare = {})
{
    return ::testing::AddGlobalTestEnvironment(new UmockdevBedEnvironment(std::move(prepare)));
}

// A test on the bed: skipped when the bed does not stand, else its box
// plugged in afresh. A derived SetUp returns when IsSkipped().
class UmockdevBedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!umockdevBed().skip_reason.empty())
            GTEST_SKIP() << umockdevBed().skip_reason;
        box().reset();
    }
    static bool bedStands() { return umockdevBed().skip_reason.empty(); }
    static UmockdevUsbBox& box() { return umockdevBed().box; }
};

}  // namespace olva_test
