// The box's switches per model: the line's audio channel, LED blink, hook
// relay, extension ring and the Tz2501B's extension circuit, and the soft
// hook of the analogue models built on them.
//
// Reports:
//   Tz2401B channel   [3, 0x24 on / 0x25 off, 0, 0, 0, 0, 0, 0]
//   Tz2501A pins      [0, buzzer, G1, G2, 0]: bit 6 of G1 the switch, bit 7 its second stage
//   Tz2402 GPIO       17-byte [0, 0x05, 0x04, data, data2, dir, dir2] below firmware 0x70,
//                     register [0, 0x60, G1, G2, 0x3F] from 0x70 on
//   Tz2501B latches   function (latch 1) and function-2 (latch 2) switches
#include <iostream>

#include "base/logger.h"
#include "base/platform/sleeper.h"
#include "gsm/device_commands.h"
#include "olva_device/olva_device.h"
#include "usb_hid/tz2401_report.h"

namespace {

constexpr std::uint8_t kChannelOn = 0x24;
constexpr std::uint8_t kChannelOff = 0x25;
// The Tz2402 control generations, by the second version byte.
constexpr std::uint8_t kTz2402SecondGpioFirmware = 0x60;
constexpr std::uint8_t kTz2402RegisterFirmware = 0x70;
constexpr std::uint8_t kSpiChannelCommand = 0x4C;
constexpr int kSpiAttempts = 5;
constexpr int kSpiRetryMs = 10;
// The Tz2501A's relay closes in two stages.
constexpr std::uint8_t kTz2501aSwitch = 0x40;
constexpr std::uint8_t kTz2501aSecondStage = 0x80;
constexpr int kTz2501aStageMs = 50;
constexpr std::uint8_t kLedBlink = 2;

// Latch switches of the Tz2501B: latch 1 the talk paths, latch 2 the
// recording sources, hook, ring and polarity.
constexpr int kLatchPlayfileToSlic = 1;
constexpr int kLatchPlayfile = 2;
constexpr int kLatchGsmToSlic = 3;
constexpr int kLatchSlicToGsm = 4;
constexpr int kLatchGsmToEarphone = 5;
constexpr int kLatchEarphoneToGsm = 6;
constexpr int kLatch2SlicRecord = 0;
constexpr int kLatch2EarphoneRecord = 1;
constexpr int kLatch2LineHook = 4;
constexpr int kLatch2Polarity = 5;
constexpr int kLatch2SlicRing = 6;
constexpr int kLatch2PolarityHold = 7;

std::uint8_t withBit(std::uint8_t byte, std::uint8_t bit, bool set)
{
    return static_cast<std::uint8_t>(set ? byte | bit : byte & ~bit);
}

}  // namespace

bool OlvaDevice::tz2501a_switch(bool on)
{
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    if (!on) {
        g1_.store(withBit(g1_.load(), kTz2501aSwitch, false));
        return Set_GPIO(g1_.load(), g2_.load());
    }
    g1_.store(withBit(withBit(g1_.load(), kTz2501aSecondStage, false), kTz2501aSwitch, true));
    const bool first = Set_GPIO(g1_.load(), g2_.load());
    if (!first)
        BOX_LOG(1, "%s switch first stage not sent");
    // The second stage goes out all the same: its report carries both
    // bits, so the relay ends closed even when the first was lost.
    platform::sleeper().sleepMs(kTz2501aStageMs);
    g1_.store(withBit(g1_.load(), kTz2501aSecondStage, true));
    const bool second = Set_GPIO(g1_.load(), g2_.load());
    return first && second;
}

bool OlvaDevice::send_tz2402_gpio()
{
    return Set_GPIO(tz2402_gpio_.data, tz2402_gpio_.data2, tz2402_gpio_.dir, tz2402_gpio_.dir2);
}

int OlvaDevice::control_ch_switch(unsigned long line, bool on)
{
    const ModelTraits& traits = model_traits(model());
    if (!traits.channel_switch)
        return 0;
    switch (traits.switches) {
    case Switches::kTz2401Command:
        if (!Tz2401_write_cmd(tz2401::kReportId, on ? kChannelOn : kChannelOff, 0, 0))
            std::cout << "\n\n";
        return 0;
    case Switches::kTz2501aRelay:
        if (!tz2501a_switch(on))
            std::cout << "\n\n";
        return 0;
    case Switches::kTz2402Gpio:
        break;
    default:
        return 0;
    }
    if (line != 1 && line != 2)
        return 0;
    const std::uint8_t firmware = version2();
    if (firmware >= kTz2402RegisterFirmware) {
        std::uint8_t channels;
        {
            std::lock_guard<std::mutex> lock(switch_mutex_);
            channel_switch_ = withBit(channel_switch_, line == 1 ? 0x10 : 0x01, on);
            channels = channel_switch_;
        }
        for (int attempt = 0; attempt < kSpiAttempts; ++attempt) {
            if (Mod_write_spi_cmd(kSpiChannelCommand, channels) >= 0)
                return 0;
            platform::sleeper().sleepMs(kSpiRetryMs);
        }
        BOX_LOG(1, "%s channel switch of line %lu not sent: no SPI command", line);
        return -1;
    }
    bool sent;
    {
        std::lock_guard<std::mutex> lock(switch_mutex_);
        if (firmware < kTz2402SecondGpioFirmware)
            tz2402_gpio_.data = withBit(tz2402_gpio_.data, line == 1 ? 0x40 : 0x04, on);
        else
            tz2402_gpio_.data2 = withBit(tz2402_gpio_.data2, line == 1 ? 0x80 : 0x20, on);
        sent = send_tz2402_gpio();
    }
    if (!sent)
        std::cout << box_tag() << "  " << "error" << "\n\n";
    return 0;
}

void OlvaDevice::control_ch_led(unsigned long, bool) {}

void OlvaDevice::control_led_twinkle(unsigned long line)
{
    if (!model_traits(model()).led_blink || version2() < kTz2402RegisterFirmware)
        return;
    const std::uint8_t led = led_state_.load();
    led_state_.store(line == 1 ? static_cast<std::uint8_t>((led & 0x0F) | (kLedBlink << 4))
                               : static_cast<std::uint8_t>((led & 0xF0) | kLedBlink));
}

int OlvaDevice::control_slic_ring(unsigned long, int on)
{
    switch (model_traits(model()).switches) {
    case Switches::kTz2501bLatches:
        return Tz2501B_function2_setting(kLatch2SlicRing, on) ? 1 : 0;
    case Switches::kGsmBridge:
        // The ringing extension hears no call audio.
        Tz2701_Slic_Ring(on);
        return Tz2701_set_talk_path(gsm::kCodeGsmToSlic, 0);
    default:
        return model();
    }
}

int OlvaDevice::open_hookoff_switch(unsigned long line, bool on)
{
    bool sent = true;
    switch (model_traits(model()).switches) {
    case Switches::kTz2402Gpio:
        if (line != 1 && line != 2)
            return 0;
        if (version2() >= kTz2402RegisterFirmware) {
            std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
            g1_.store(withBit(g1_.load(), line == 1 ? 0x01 : 0x02, on));
            sent = Tz2402D_Set_GPIO(g1_.load(), g2_.load());
        } else {
            std::lock_guard<std::mutex> lock(switch_mutex_);
            if (line == 1)
                tz2402_gpio_.data = withBit(tz2402_gpio_.data, 0x01, on);
            else
                tz2402_gpio_.data2 = withBit(tz2402_gpio_.data2, 0x40, on);
            sent = send_tz2402_gpio();
        }
        break;
    case Switches::kTz2501aRelay:
        sent = tz2501a_switch(on);
        break;
    case Switches::kTz2501bLatches:
        return control_line_hookoff(line, on);
    default:
        return -1;
    }
    if (!sent) {
        BOX_LOG(1, "%serror");
        return -1;
    }
    return 0;
}

int OlvaDevice::control_line_hookoff(unsigned long line, bool on)
{
    if (!has_tz2501b_latches())
        return -1;
    BOX_LOG(3, "%s ext line (%d)", static_cast<int>(line));
    bool sent;
    if (on) {
        line1_.save_tmp_line_slic_state(OLVA_STATE_OFF_HOOK);
        sent = Tz2501B_function2_setting(kLatch2LineHook, 1);
    } else {
        sent = Tz2501B_function2_setting(kLatch2LineHook, 0);
        line1_.stop_slic_ring();
    }
    if (!sent) {
        BOX_LOG(1, "%serror");
        return -1;
    }
    return 0;
}

bool OlvaDevice::open_Tz2501b_playfile_to_slic(bool on)
{
    if (!has_tz2501b_latches())
        return false;
    return Tz2501B_function_setting(kLatchPlayfileToSlic, on ? 1 : 0);
}

bool OlvaDevice::open_Tz2501b_playfile_switch(bool on)
{
    if (!has_tz2501b_latches())
        return false;
    return Tz2501B_function_setting(kLatchPlayfile, on ? 1 : 0);
}

bool OlvaDevice::open_Tz2501b_slic_switch(bool on)
{
    if (!has_tz2501b_latches())
        return false;
    if (on) {
        Tz2501B_function2_setting(kLatch2SlicRecord, 1);
        Tz2501B_function_setting(kLatchGsmToSlic, 1);
        return Tz2501B_function_setting(kLatchSlicToGsm, 1);
    }
    Tz2501B_function2_setting(kLatch2SlicRecord, 0);
    Tz2501B_function_setting(kLatchGsmToSlic, 1);
    Tz2501B_function_setting(kLatchSlicToGsm, 0);
    Tz2501B_function_setting(kLatchGsmToEarphone, 0);
    return Tz2501B_function_setting(kLatchEarphoneToGsm, 0);
}

bool OlvaDevice::Tz2501b_close_polarity()
{
    if (!has_tz2501b_latches())
        return false;
    Tz2501B_function2_setting(kLatch2PolarityHold, 1);
    return Tz2501B_function2_setting(kLatch2Polarity, 1);
}

int OlvaDevice::olva_soft_hook_off(unsigned long line)
{
    switch (model_traits(model()).soft_hook) {
    case SoftHook::kHookSwitch:
        return open_hookoff_switch(line, true);
    case SoftHook::kExtensionLatches: {
        // The hook-off also puts the extension's state off-hook.
        const int result = control_line_hookoff(line, true);
        if (line1_.auto_line_earphone() == 0)
            return result;
        const LatchStep link_earphone[] = {{true, kLatch2EarphoneRecord, 1},
                                           {false, kLatchEarphoneToGsm, 1},
                                           {false, kLatchGsmToEarphone, 1}};
        return set_tz2501b_latches(link_earphone) ? result : -1;
    }
    case SoftHook::kGsmCall:
        return gsm_answer(line);
    default:
        BOX_LOG(2, "%s no soft hook on model %d", model());
        return -1;
    }
}

int OlvaDevice::olva_soft_hook_on(unsigned long line)
{
    switch (model_traits(model()).soft_hook) {
    case SoftHook::kHookSwitch:
        return open_hookoff_switch(line, false);
    case SoftHook::kExtensionLatches: {
        const int result = control_line_hookoff(line, false);
        if (line1_.auto_line_earphone() == 0)
            return result;
        const LatchStep part_earphone[] = {{true, kLatch2EarphoneRecord, 0},
                                           {false, kLatchGsmToEarphone, 0},
                                           {false, kLatchEarphoneToGsm, 0}};
        return set_tz2501b_latches(part_earphone) ? result : -1;
    }
    case SoftHook::kGsmCall:
        return gsm_hang_up(line);
    default:
        BOX_LOG(2, "%s no soft hook on model %d", model());
        return -1;
    }
}

bool OlvaDevice::set_message_param(bool)
{
    return true;
}

bool OlvaDevice::olva_open_buzzer(bool)
{
    return true;
}

int OlvaDevice::Mod_write_spi_cmd(std::uint8_t, unsigned)
{
    return -1;
}
