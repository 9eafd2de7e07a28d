// Short pin and register reports, all with report id 0 (not sent on the wire):
//   17-byte command   [0, cmd, len, data..., 0 fill]
//   register address  [0, 0x60, reg low, reg high, 0x10]
//   register data     [0, 0x60, value, 0, 0x20]
//   Tz2402D pins      [0, 0x60, G1, G2, 0x3F]
//   Tz2501B pins      [0, 0x60, G1, G2, G3]
//   Tz2501A pins      [0, buzzer, G1, G2, 0]
// and the Tz2501B's two addressable latches behind its pins.
#include <cstring>

#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"

namespace {

constexpr unsigned long kCommandReportSize = 17;
constexpr int kCommandDataMax = 14;
constexpr unsigned long kRegisterReportSize = 5;
constexpr std::uint8_t kRegisterCommand = 0x60;
constexpr std::uint8_t kSelectRegister = 0x10;
constexpr std::uint8_t kWriteRegister = 0x20;
constexpr unsigned long kRegisterAnswerSize = 4;
// Each latch step waits for the pins to settle before the next.
constexpr int kLatchStepMs = 10;
constexpr std::uint8_t kLatch1Strobe = 0x10;  // G1 bit 4, "GPIO4"
constexpr std::uint8_t kLatch2Strobe = 0x01;  // G3 bit 0, "GPIO8"

}  // namespace

bool HidDevice::write_cmd(std::uint8_t cmd, const std::uint8_t* data, int len)
{
    if (!data || len < 1 || len > kCommandDataMax)
        return false;
    std::uint8_t report[kCommandReportSize] = {0, cmd, static_cast<std::uint8_t>(len)};
    std::memcpy(report + 3, data, static_cast<std::size_t>(len));
    return sync_write(report, kCommandReportSize);
}

bool HidDevice::Set_GPIO(std::uint8_t p0, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3)
{
    const std::uint8_t report[kCommandReportSize] = {0, 0x05, 0x04, p0, p1, p2, p3};
    std::lock_guard<std::mutex> lock(gpio_mutex_);
    return sync_write(report, kCommandReportSize);
}

bool HidDevice::Set_GPIO(std::uint8_t data, std::uint8_t dir)
{
    if (unplugged_.load() || closing_.load())
        return false;
    const std::uint8_t report[kRegisterReportSize] = {0, buzzer_.load(), data, dir, 0};
    return sync_write(report, kRegisterReportSize);
}

bool HidDevice::send_register_address(std::uint16_t reg)
{
    const std::uint8_t report[kRegisterReportSize] = {0, kRegisterCommand,
                                                      static_cast<std::uint8_t>(reg & 0xFF),
                                                      static_cast<std::uint8_t>(reg >> 8),
                                                      kSelectRegister};
    return sync_write(report, kRegisterReportSize);
}

bool HidDevice::Tz2402D_Reg_Setting(std::uint16_t reg, std::uint8_t value)
{
    // Another thread's register access between the address and the value
    // would take the value, or leave a sequence under way at another register.
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    const bool selected = send_register_address(reg);
    if (!selected)
        hid_log(1, "%s Set Output tReport is error", __func__);
    const std::uint8_t report[kRegisterReportSize] = {0, kRegisterCommand, value, 0,
                                                      kWriteRegister};
    const bool written = sync_write(report, kRegisterReportSize);
    if (!written)
        hid_log(1, "%s Set Outpu tReport is error2", __func__);
    // Without the address report the value went to whichever register was
    // selected before.
    return selected && written;
}

bool HidDevice::Tz2402D_Reg_Read(std::uint16_t reg, std::uint8_t& out)
{
    // A register sequence of another thread must not move the address
    // under this read, nor this read the address under the sequence.
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    // The status poll reads the same channel; its GET_REPORT must not fall
    // between the address report and the register's answer.
    std::lock_guard<std::mutex> channel(channel_mutex_);
    const bool selected = send_register_address(reg);
    if (!selected)
        hid_log(1, "%s set wrtie read  failed", __func__);
    std::uint8_t answer[kRegisterAnswerSize] = {};
    const int result = get_report(answer, kRegisterAnswerSize);
    if (result < 0) {
        log_get_report_error(__func__, result, false);
        return false;
    }
    if (static_cast<unsigned long>(result) < kRegisterAnswerSize) {
        hid_log(1, "%s short report: %d of %lu bytes", __func__, result, kRegisterAnswerSize);
        return false;
    }
    // Without the address report the answer is some other register's.
    if (!selected)
        return false;
    out = answer[1];
    return true;
}

bool HidDevice::Tz2402D_Set_GPIO(std::uint8_t g1, std::uint8_t g2)
{
    std::lock_guard<std::mutex> lock(gpio_mutex_);
    if (unplugged_.load() || closing_.load())
        return false;
    const std::uint8_t report[kRegisterReportSize] = {0, kRegisterCommand, g1, g2, 0x3F};
    return sync_write(report, kRegisterReportSize);
}

bool HidDevice::Tz2501B_Set_GPIO(std::uint8_t g1, std::uint8_t g3, std::uint8_t g2)
{
    std::lock_guard<std::mutex> lock(gpio_mutex_);
    if (unplugged_.load() || closing_.load())
        return false;
    const std::uint8_t report[kRegisterReportSize] = {0, kRegisterCommand, g1, g2, g3};
    return sync_write(report, kRegisterReportSize);
}

bool HidDevice::Tz2402D_GPIO_init(int on)
{
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    g1_.store(0x3C);
    g2_.store(0x1C);
    const std::uint8_t report[kRegisterReportSize] = {0, kRegisterCommand, 0x3C, 0x1C,
                                                      static_cast<std::uint8_t>(on ? 0x3F : 0x3C)};
    return sync_write(report, kRegisterReportSize);
}

bool HidDevice::Tz2501B_GPIO_init()
{
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    g1_.store(0x00);
    g2_.store(0x1F);
    g3_.store(0x34);
    return send_tz2501b_pins();
}

bool HidDevice::send_tz2501b_pins()
{
    const std::uint8_t report[kRegisterReportSize] = {0, kRegisterCommand, g1_.load(), g2_.load(),
                                                      g3_.load()};
    return sync_write(report, kRegisterReportSize);
}

bool HidDevice::Tz2402D_Restore_read_gpioaddr()
{
    const std::uint8_t report[kRegisterReportSize] = {0, kRegisterCommand, g1_.load(), g2_.load(),
                                                      0x3F};
    const bool sent = sync_write(report, kRegisterReportSize);
    if (!sent)
        hid_log(1, "%s restore read goioaddr failed", __func__);
    return sent;
}

void HidDevice::Tz2501B_Restore_read_gpioaddr()
{
    send_tz2501b_pins();
}

bool HidDevice::Tz2501_close_mute()
{
    std::printf("%s  %s\n\n", tag().c_str(), " set  ");
    return true;
}

bool HidDevice::latch_setting(int func, int val, bool second_latch)
{
    const char* routine = second_latch ? "Tz2501B_function2_setting" : "Tz2501B_function_setting";
    const char* strobe_high = second_latch ? "%sGPIO8 high error" : "%sGPIO4 high error";
    const char* strobe_low = second_latch ? "%sGPIO8 low error" : "%sGPIO4 low error";
    auto step = [&](const char* failure) {
        if (send_tz2501b_pins())
            return true;
        hid_log(1, failure, routine);
        return false;
    };

    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    hid_log(4, "%s function_name:%d, val:%d", routine, func, val);
    g1_.store(static_cast<std::uint8_t>((g1_.load() & 0xF0) | (func & 7) | (val == 1 ? 0x08 : 0)));
    if (!step(second_latch ? "%serror" : "%s error"))
        return false;

    platform::sleeper().sleepMs(kLatchStepMs);
    if (second_latch)
        g3_.store(g3_.load() | kLatch2Strobe);
    else
        g1_.store(g1_.load() | kLatch1Strobe);
    if (!step(strobe_high))
        return false;

    // The addressed output takes its level while the strobe is low.
    platform::sleeper().sleepMs(kLatchStepMs);
    if (second_latch)
        g3_.store(g3_.load() & ~kLatch2Strobe);
    else
        g1_.store(g1_.load() & ~kLatch1Strobe);
    if (!step(strobe_low))
        return false;

    platform::sleeper().sleepMs(kLatchStepMs);
    if (second_latch)
        g3_.store(g3_.load() | kLatch2Strobe);
    g1_.store(g1_.load() | (second_latch ? 0x01 : kLatch1Strobe | 0x01));
    if (!step(strobe_high))
        return false;

    if (!second_latch)
        platform::sleeper().sleepMs(kLatchStepMs);
    return true;
}

bool HidDevice::Tz2501B_function_setting(int func, int val)
{
    return latch_setting(func, val, false);
}

bool HidDevice::Tz2501B_function2_setting(int func, int val)
{
    return latch_setting(func, val, true);
}
