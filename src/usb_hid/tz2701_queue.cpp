// The Tz2701A's command and SMS queues: every AT command, SMS part and
// device command is queued here and sent later, one at a time, by the GSM
// command pump. Producers run on any thread; each push and each take holds
// the queue mutex only for itself.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "gsm/device_commands.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/tz2401_report.h"

namespace {

using Kind = hid_cmd_op::Kind;

constexpr int kModeDevice = 0;
constexpr int kModeAt = 1;
constexpr int kModeAtWait = 2;
constexpr std::uint8_t kGpioReport = 0x9A;
constexpr std::uint8_t kBuzzerReport = 0xF3;

struct TalkPath {
    std::uint8_t code;
    const char* log;
};
constexpr TalkPath kTalkPaths[] = {
    {gsm::kCodeGsmToSlic, "%s gsm to slic talk enable:%d"},
    {gsm::kCodeEarphoneToSlic, "%s earphone to slic talk enable:%d"},
    {gsm::kCodeGsmToEarphone, "%s gsm to earphone talk enable:%d"},
    {gsm::kCodeSlicToEarphone, "%sslic to earphone  talk enable:%d"},
    {gsm::kCodeSlicToGsm, "%sslic to gsm  talk enable:%d"},
    {gsm::kCodeEarphoneToGsm, "%searphone to gsm  talk enable:%d"},
};

// The keys the module's DTMF command sends.
bool dtmf_keys_only(const char* digits)
{
    for (const char* at = digits; *at; ++at)
        if (!std::isdigit(static_cast<unsigned char>(*at)) && *at != '*' && *at != '#' &&
            (*at < 'A' || *at > 'D'))
            return false;
    return true;
}

std::unique_ptr<hid_cmd_op> take_front(std::deque<std::unique_ptr<hid_cmd_op>>& queue)
{
    if (queue.empty())
        return nullptr;
    auto front = std::move(queue.front());
    queue.pop_front();
    return front;
}

}  // namespace

int HidDevice::push_entry(std::unique_ptr<hid_cmd_op> entry, bool sms)
{
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        auto& queue = sms ? sms_queue_ : cmd_queue_;
        const std::size_t limit = sms ? kMaxQueuedSmsParts : kMaxQueuedCommands;
        if (queue.size() < limit) {
            queue.push_back(std::move(entry));
            return 1;
        }
    }
    // A module that answers nothing fills the queue: the new entry is refused.
    hid_log(1, "%s %s queue full, entry refused", __func__, sms ? "sms" : "command");
    return 0;
}

int HidDevice::Tz2701_Send_MsgToGsm(const std::uint8_t* data, int len, int mode)
{
    if (!data || len < 0 || len > kHidCmdOpDataSize)
        return 0;
    auto entry = std::make_unique<hid_cmd_op>();
    std::copy(data, data + len, entry->data);
    entry->length = len;
    entry->type = mode == kModeDevice ? Kind::kDeviceCommand : Kind::kAtCommand;
    entry->wait_flag = mode == kModeAtWait ? 1 : 0;
    return push_entry(std::move(entry), false);
}

int HidDevice::Tz2701_Send_at(const std::string& text)
{
    return Tz2701_Send_MsgToGsm(reinterpret_cast<const std::uint8_t*>(text.data()),
                                static_cast<int>(text.size()), kModeAt);
}

namespace {

// One SMS part; null when the text does not fit (it stays terminated).
std::unique_ptr<hid_cmd_op> sms_entry(int index, int count, const char* pdu, int len)
{
    if (!pdu || len < 0 || len > kHidCmdOpDataSize - 1)
        return nullptr;
    auto entry = std::make_unique<hid_cmd_op>();
    std::memcpy(entry->data, pdu, static_cast<std::size_t>(len));
    entry->length = len;
    entry->sms_index = index;
    entry->sms_count = count;
    entry->type = Kind::kSmsPdu;
    return entry;
}

}  // namespace

int HidDevice::Tz2701_Send_shortMsg(int, int index, int count, const char* pdu, int len)
{
    auto entry = sms_entry(index, count, pdu, len);
    return entry ? push_entry(std::move(entry), true) : 0;
}

int HidDevice::Tz2701_Send_shortMsgParts(int index, const std::vector<std::string>& pdus)
{
    std::vector<std::unique_ptr<hid_cmd_op>> entries;
    for (const std::string& pdu : pdus) {
        entries.push_back(sms_entry(index, static_cast<int>(pdus.size()), pdu.data(),
                                    static_cast<int>(pdu.size())));
        if (!entries.back())
            return 0;
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        if (sms_queue_.size() + entries.size() <= kMaxQueuedSmsParts) {
            for (auto& entry : entries)
                sms_queue_.push_back(std::move(entry));
            return 1;
        }
    }
    hid_log(1, "%s sms queue full, %d parts refused", __func__, static_cast<int>(pdus.size()));
    return 0;
}

int HidDevice::Tz2701_device_cmd(std::uint8_t code, int argument)
{
    const std::uint8_t bytes[2] = {code, static_cast<std::uint8_t>(argument)};
    return Tz2701_Send_MsgToGsm(bytes, argument < 0 ? 1 : 2, kModeDevice);
}

int HidDevice::Tz2701_answer()
{
    hid_log(4, "%sanswer call in", __func__);
    return Tz2701_Send_at("ATA\r");
}

int HidDevice::Tz2701_reject_callin()
{
    hid_log(4, "%sreject call in", __func__);
    return Tz2701_Send_at("AT+CHUP\r");
}

int HidDevice::Tz2701_getsignalsize()
{
    return Tz2701_Send_at("AT+CSQ\r");
}

int HidDevice::Tz2701_getsimreg()
{
    return Tz2701_Send_at("AT+CREG?\r");
}

int HidDevice::Tz2701_send_dtmf(const char* digits)
{
    // Any other character would end the command's quoted key list.
    if (!digits || !*digits || !dtmf_keys_only(digits)) {
        hid_log(1, "%s dtmf refused: (%s)", __func__, digits ? digits : "(null)");
        return 0;
    }
    hid_log(4, "%ssend dtmf:%s", __func__, digits);
    return Tz2701_Send_at(std::string("AT+QWDTMF=7,0,\"G,30,20,") + digits + ",80,80\"\r");
}

int HidDevice::Tz2701_set_talk_path(std::uint8_t code, int on)
{
    for (const TalkPath& path : kTalkPaths)
        if (path.code == code)
            hid_log(4, path.log, __func__, on);
    return Tz2701_device_cmd(code, on ? 1 : 0);
}

int HidDevice::Tz2701_set_Gsm_SignalStrength(int rssi)
{
    return Tz2701_device_cmd(gsm::kCodeSignalStrength, rssi);
}

int HidDevice::Tz2701_Slic_Ring(int on)
{
    hid_log(4, on == 1 ? "%s slic ring start" : "%s slic ring stop", __func__);
    return Tz2701_device_cmd(on == 1 ? gsm::kCodeSlicRingStart : gsm::kCodeSlicRingStop, -1);
}

int HidDevice::Tz2701_SIMSelect(int slot)
{
    return Tz2701_device_cmd(gsm::kCodeSimSelect, slot);
}

int HidDevice::Tz2701_set_GsmPower(int on)
{
    if (on == 1)
        hid_log(4, "%s GSM power on", __func__);
    else
        std::printf(" GSM power off\n");
    return Tz2701_device_cmd(on == 1 ? gsm::kCodePowerOn : gsm::kCodePowerOff, -1);
}

int HidDevice::Tz2701_set_GsmPower_PressKey(int press)
{
    hid_log(4, press == 1 ? "%s GSM power press key on" : "%s GSM power press key off", __func__);
    return Tz2701_device_cmd(press == 1 ? gsm::kCodePowerKeyPress : gsm::kCodePowerKeyRelease, -1);
}

int HidDevice::Tz2701_feed_slic(int positive)
{
    hid_log(4, positive == 1 ? "%s GSM polarity p " : "%s GSM polarity n", __func__);
    return Tz2701_device_cmd(
        positive == 1 ? gsm::kCodePolarityPositive : gsm::kCodePolarityNegative, -1);
}

int HidDevice::Tz2701_set_Gsm_usb_mode()
{
    return Tz2701_device_cmd(gsm::kCodeUsbMode, 1);
}

int HidDevice::Tz2701_push_raw(const std::uint8_t (&report)[tz2401::kReportSize])
{
    if (!Tz2701_may_write() || !is_open())
        return 0;
    auto entry = std::make_unique<hid_cmd_op>();
    std::copy(report, report + tz2401::kReportSize, entry->data);
    entry->length = static_cast<int>(tz2401::kReportSize);
    entry->type = Kind::kRawReport;
    return push_entry(std::move(entry), false);
}

int HidDevice::Tz2701_gpio_set(int gpio, int value)
{
    return Tz2701_push_raw({tz2401::kReportId, kGpioReport, static_cast<std::uint8_t>(gpio),
                            static_cast<std::uint8_t>(value), 0, 0, 0, 0});
}

int HidDevice::Tz2701_control_buzzer(std::uint8_t on, std::uint8_t b1, std::uint8_t b2,
                                     std::uint8_t b3, std::uint8_t b4, std::uint8_t b5)
{
    return Tz2701_push_raw({tz2401::kReportId, kBuzzerReport, on, b1, b2, b3, b4, b5});
}

std::unique_ptr<hid_cmd_op> HidDevice::take_command()
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    return take_front(cmd_queue_);
}

std::unique_ptr<hid_cmd_op> HidDevice::take_sms()
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    return take_front(sms_queue_);
}

void HidDevice::drop_sms_parts(int index)
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    std::erase_if(sms_queue_, [index](const auto& entry) { return entry->sms_index == index; });
}

std::size_t HidDevice::queued_sms_parts() const
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    return sms_queue_.size();
}

void HidDevice::clear_queues()
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    cmd_queue_.clear();
    sms_queue_.clear();
}

std::size_t HidDevice::queued_commands() const
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    return cmd_queue_.size();
}
