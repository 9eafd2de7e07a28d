// Maintenance reports that the call path leaves alone: a parameter read and
// the LED state of the 17-byte boxes, the microphone gain of their cm6308
// codec, and the Tz2701A's buzzer query and bridge echo test.
//   17-byte command   [0, cmd, len, data..., 0 fill]
//   codec mode        [0, 0x01, 1, 0x28]   GET_REPORT then answers the codec state
//   microphone gain   [0, 0x28, 2, code, code]
#include <cstdio>

#include "base/logger.h"
#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2701_bridge_reports.h"

namespace {

constexpr const char* kModule = "olva ";
constexpr std::uint8_t kModeCommand = 0x01;
constexpr std::uint8_t kStatusMode = 0x00;
constexpr std::uint8_t kCodecMode = 0x28;
constexpr std::uint8_t kMicGainCommand = 0x28;
constexpr unsigned long kAnswerSize = 17;
// The codec takes this long to switch modes or to settle on a new gain.
constexpr int kCodecPauseMs = 100;
constexpr int kGainPauseMs = 20;
constexpr int kLedPauseMs = 20;

constexpr std::uint8_t kBuzzerQuery = 0xF4;
constexpr std::uint8_t kEchoMessage = 0x90;
constexpr std::uint8_t kEchoRequest = 0xA2;

// The codec's gain code for a microphone volume.
std::uint8_t mic_gain_code(int micvolume)
{
    switch (micvolume) {
    case 0:
        return 0x04;
    case 1:
        return 0x08;
    case 2:
        return 0x0B;
    default:
        return micvolume < 0 ? 0x0B : static_cast<std::uint8_t>(micvolume + 11);
    }
}

}  // namespace

bool HidDevice::read_param(std::uint8_t code, std::uint8_t* out, int len)
{
    if (!out || len < 1)
        return false;
    if (!write_cmd(kModeCommand, &code, 1))
        return false;
    return sync_read(out, static_cast<unsigned long>(len));
}

void HidDevice::init_ledState()
{
    const std::uint8_t first[] = {0x56};
    const std::uint8_t second[8] = {};
    write_cmd(0x02, first, sizeof first);
    platform::sleeper().sleepMs(kLedPauseMs);
    write_cmd(0x0F, second, sizeof second);
    platform::sleeper().sleepMs(kLedPauseMs);
    const std::uint8_t status_mode = kStatusMode;
    write_cmd(kModeCommand, &status_mode, 1);
}

bool HidDevice::Tz2402D_GPIO_read()
{
    return true;
}

void HidDevice::cm6308_set_micvolume(int micvolume)
{
    static constexpr const char* kRoutine = "cm6308_set_micvolume";
    const std::uint8_t code = mic_gain_code(micvolume);
    const std::uint8_t codec_mode = kCodecMode;
    // The codec state before and after, each read in codec mode.
    auto log_codec_state = [&](const char* tag) {
        write_cmd(kModeCommand, &codec_mode, 1);
        platform::sleeper().sleepMs(kCodecPauseMs);
        std::uint8_t state[kAnswerSize] = {};
        if (sync_read(state, kAnswerSize))
            logger(4, kModule, tag, "%s %s", kRoutine, hid_spaced_hex(state, kAnswerSize).c_str());
        else
            logger(1, kModule, "led 0:", "%sread failed ", kRoutine);
    };
    log_codec_state("before mic 0:");
    const std::uint8_t gain[2] = {code, code};
    write_cmd(kMicGainCommand, gain, 2);
    platform::sleeper().sleepMs(kGainPauseMs);
    logger(4, kModule, "logger_channel_name()", "%smic volume: %x", kRoutine, code);
    platform::sleeper().sleepMs(kCodecPauseMs);
    log_codec_state("mic 0:");
    const std::uint8_t status_mode = kStatusMode;
    write_cmd(kModeCommand, &status_mode, 1);
}

int HidDevice::Tz2701_get_buzzer()
{
    std::uint8_t reply[tz2401::kReportSize] = {};
    const long result =
        Tz2401_request(tz2401::kReportId, kBuzzerQuery, 0, 0, reply, tz2401::kReportSize);
    if (result == kRequestNotSent)
        return 0;
    if (result < 1)
        hid_log(4, "%sval = ", __func__);
    return 1;
}

int HidDevice::Tz2701_echo_test()
{
    const std::string box_tag = tag();
    std::printf("%s  Tz2701_echo_test\n", box_tag.c_str());
    // "ABCD" and three bytes the bridge hands back as they are.
    const std::uint8_t payload[tz2701::kMessageSize] = {kEchoMessage, 'A', 'B', 'C',
                                                        'D',          'E', 'F', 'G'};
    std::uint8_t reply[tz2401::kReportSize] = {};
    int sent = 0;
    int answered = 0;
    {
        RecordUse use(*this);
        if (!use)
            return 0;
        CommandLock lock(*this);
        sent = Tz2701_i2c_two_cycle_write(0, payload);
        const std::uint64_t token = hid_arm_read(use.get());
        if (Tz2701_i2c_write_read(kEchoRequest, 0xA0, 0x07, 0x00, 0x00))
            answered = Tz2701_read_reply(use.get(), token, reply);
    }
    if (answered <= 0) {
        std::printf("%s  read = %s\n", box_tag.c_str(), hid_hex_bytes(reply, sizeof reply).c_str());
        std::printf("%s  echo test count=%d, failed\n", box_tag.c_str(), 1);
        std::printf("%s  write data: %s\n", box_tag.c_str(),
                    hid_hex_bytes(payload, sizeof payload).c_str());
    }
    return sent;
}
