// The Tz2701A's GSM conversation on the box: the module's start-up, the
// command pump's 20 ms step, the library's AT command, and the actions the
// pump and the reply rules decide on, carried out with no GSM lock held.
//
// Lock order: the GSM-state mutex, then the queue mutex (the pump takes its
// entry while deciding). Nothing is sent and no event is raised under the
// GSM-state mutex.
#include "olva_device/olva_device.h"

#include <cstdio>
#include <cstring>

#include "base/logger.h"
#include "gsm/at_text.h"
#include "gsm/pump.h"
#include "gsm/startup_script.h"

namespace {

constexpr int kMaxCommandText = kHidCmdOpDataSize - 2;  // room for "\r"

// The box's queues as the pump takes from them.
class BoxQueues final : public gsm::PumpQueues {
public:
    explicit BoxQueues(HidDevice& box) : box_(box) {}
    std::unique_ptr<hid_cmd_op> take_command() override { return box_.take_command(); }
    std::unique_ptr<hid_cmd_op> take_sms() override { return box_.take_sms(); }
    std::size_t sms_size() const override { return box_.queued_sms_parts(); }

private:
    HidDevice& box_;
};

unsigned long text_parameter(const std::string& text)
{
    return reinterpret_cast<unsigned long>(text.c_str());
}

}  // namespace

void OlvaDevice::reset_gsm_state()
{
    std::lock_guard<std::mutex> lock(gsm_mutex_);
    gsm_ = gsm::GsmState{};
    assembler_ = gsm::LineAssembler{};
}

gsm::GsmState OlvaDevice::gsm_state() const
{
    std::lock_guard<std::mutex> lock(gsm_mutex_);
    return gsm_;
}

void OlvaDevice::init_gsm(int module_type)
{
    gsm::Actions actions;
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        actions = gsm::begin_startup(gsm_, module_type);
    }
    apply_gsm_actions(actions);
}

void OlvaDevice::Tz2701_write_hid_cmd_timer(unsigned long ms)
{
    if (!model_traits(model()).gsm || giving_up())
        return;
    const int elapsed = static_cast<int>(ms);
    BoxQueues queues(*this);
    gsm::Actions actions;
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        actions = gsm::step_startup(gsm_, elapsed, kTz2701GsmLevels);
        gsm::Actions pumped = hang_up_requested_.exchange(false)
                                  ? gsm::hang_up(gsm_)
                                  : gsm::pump_step(gsm_, elapsed, queues);
        actions.insert(actions.end(), pumped.begin(), pumped.end());
    }
    apply_gsm_actions(actions);
}

int OlvaDevice::olva_send_gsm_cmd(unsigned long, const char* cmd, int len)
{
    if (!cmd || len <= 0 || len > kMaxCommandText)
        return OLVA_ERR_INVALID_PARAM;
    const std::string text(cmd, strnlen(cmd, static_cast<std::size_t>(len)));
    if (text.empty() || !gsm::valid_command_text(text)) {
        BOX_LOG(1, "%s  cmd refused: %s", text.c_str());
        return OLVA_ERR_INVALID_PARAM;
    }
    BOX_LOG(4, "%s  cmd:%s", text.c_str());
    return Tz2701_Send_at(text + "\r") == 1 ? OLVA_OK : OLVA_ERR_FAILED;
}

int OlvaDevice::Tz2701_make_call(const char* number)
{
    if (!number || !gsm::valid_number(number)) {
        BOX_LOG(1, "%smake call refused: (%s)", number ? number : "(null)");
        return OLVA_ERR_INVALID_PARAM;
    }
    int result;
    {
        // Queued under the GSM-state mutex: the pump cannot send the dial
        // before the call is marked up, and a dial the queue refused leaves
        // no call behind.
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        result = Tz2701_Send_at(std::string("ATD") + number + ";\r");
        if (result == 1) {
            gsm_.dialling = true;
            gsm_.call_up = true;
            gsm_.dialled_number = number;
        }
    }
    BOX_LOG(4, "%smake call:(%s), result:%d", number, result);
    return result;
}

void OlvaDevice::apply_gsm_actions(const gsm::Actions& actions)
{
    using Kind = gsm::Action::Kind;
    for (const gsm::Action& a : actions) {
        switch (a.kind) {
        case Kind::kFireEvent:
            fire_event(1, static_cast<int>(a.a), a.has_text ? text_parameter(a.text) : a.b,
                       static_cast<unsigned long>(a.c), a.has_text2 ? text_parameter(a.text2) : a.d,
                       0);
            break;
        case Kind::kQueueAt:
            Tz2701_Send_at(a.text);
            break;
        case Kind::kQueueDevice:
            Tz2701_device_cmd(static_cast<std::uint8_t>(a.a), static_cast<int>(a.b));
            break;
        case Kind::kSoftHookOn:
            gsm_hang_up(1);
            break;
        case Kind::kSendText:
            Tz2701_Send_HidCmd(reinterpret_cast<const std::uint8_t*>(a.text.data()),
                               static_cast<int>(a.text.size()));
            break;
        case Kind::kSendOneCycle:
            Tz2701_i2c_one_cycle_write(0, static_cast<std::uint8_t>(a.a),
                                       static_cast<std::uint8_t>(a.b), 0, 0, 0);
            break;
        case Kind::kSendRaw:
            sync_write(reinterpret_cast<const std::uint8_t*>(a.text.data()), a.text.size());
            break;
        case Kind::kSetGsmState:
            line1_.set_gsm_state(static_cast<int>(a.a));
            break;
        case Kind::kSetActiveSim:
            active_sim_.store(static_cast<int>(a.a));
            break;
        case Kind::kSetCallerId:
            line1_.Tz2701_set_caller_number(gsm::unquote(a.text));
            break;
        case Kind::kStopExtensionRing:
            stop_extension_ring();
            break;
        case Kind::kDropSmsParts:
            drop_sms_parts(static_cast<int>(a.a));
            break;
        case Kind::kStartGsm:
            init_gsm(version2());
            break;
        case Kind::kReceivedPdu:
            // A line that only looked like a PDU ("+CMTI: ...,100") is the
            // module's text after all.
            if (pdumsg_handle(a.text) == gsm::ReceivedSms::Outcome::kNotPdu)
                fire_event(1, gsm::kEventModuleText, text_parameter(a.text), a.text.size(), 0, 0);
            break;
        case Kind::kReadUserNumber:
            if (!Tz2701_read_user_on_worker())
                BOX_LOG(1, "%s user number not read: the report worker takes no task");
            break;
        case Kind::kLog:
            BOX_LOG(static_cast<int>(a.a), "%s%s", a.text.c_str());
            break;
        case Kind::kPrint:
            std::printf("%s\n", a.text.c_str());
            break;
        }
    }
}
