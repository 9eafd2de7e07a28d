// The Tz2701A's GSM calls as the library asks for them: dial, answer,
// reject and hang up, the audio paths and recording sources of the
// Tz2701A and the Tz2501B, the extension phone rung by command, and the
// module's controls (power, power key, SIM slot, extension polarity, work
// modes), and a caller's number played to the extension as the module's
// tones.
//
// A hang-up never sends from the caller's thread: it asks the command
// pump, which sends "ATH\r" at its next 20 ms step, ahead of any reply it
// waits for. So the report worker and the library's callers never hold
// the command mutex for it, and a completion never sends at all.
#include "olva_device/olva_device.h"

#include "base/logger.h"
#include "base/platform/sleeper.h"
#include "gsm/at_text.h"
#include "gsm/device_commands.h"
#include "gsm/pump.h"
#include "olva_device/audio_route_types.h"
#include "usb_hid/tz2701_bridge_reports.h"

namespace {

using namespace tz2701;

// The Tz2501B has no such switch.
constexpr int kNoSwitch = -1;

// A talk link or record source: a bridge path or a GPIO on the Tz2701A,
// a latch switch on the Tz2501B.
struct Route {
    enum class Kind { kPath, kGpio } kind;
    int tz2701;   // path code or GPIO pin
    int tz2501b;  // latch switch, or kNoSwitch
};

struct TalkLink {
    int type;  // OLVA_TALK_
    Route route;
};
constexpr TalkLink kTalkLinks[] = {
    {OLVA_TALK_SLIC_TO_GSM, {Route::Kind::kPath, gsm::kCodeSlicToGsm, 4}},
    {OLVA_TALK_GSM_TO_SLIC, {Route::Kind::kPath, gsm::kCodeGsmToSlic, 3}},
    {OLVA_TALK_EARPHONE_TO_GSM, {Route::Kind::kPath, gsm::kCodeEarphoneToGsm, 6}},
    {OLVA_TALK_GSM_TO_EARPHONE, {Route::Kind::kPath, gsm::kCodeGsmToEarphone, 5}},
    {OLVA_TALK_SLIC_TO_EARPHONE, {Route::Kind::kPath, gsm::kCodeSlicToEarphone, kNoSwitch}},
    {OLVA_TALK_EARPHONE_TO_SLIC, {Route::Kind::kPath, gsm::kCodeEarphoneToSlic, kNoSwitch}},
    {OLVA_TALK_GPIO20, {Route::Kind::kGpio, kGpio20, 0}},
    {OLVA_TALK_GPIO21, {Route::Kind::kGpio, kGpio21, 2}},
    {OLVA_TALK_GPIO19, {Route::Kind::kGpio, kGpioPlayToSlic, 1}},
};

// With the log line of each model.
struct RecordSource {
    int type;  // OLVA_REC_
    Route route;
    const char* tz2701_log;
    const char* tz2501b_log;
};
constexpr RecordSource kRecordSources[] = {
    {OLVA_REC_SLIC, {Route::Kind::kGpio, kGpioSlicRecord, 0}, "%s ++ slic rec:%d",
     "%s ++ slic rec:%d"},
    {OLVA_REC_GSM, {Route::Kind::kGpio, kGpioGsmRecord, kNoSwitch}, "%s ++ gsm rec:%d",
     "%s ++ gsm rec:%d"},
    {OLVA_REC_EARPHONE, {Route::Kind::kGpio, kGpioEarphoneRecord, 1}, "%s ++ earphone rec:%d",
     "%s ++ earphone rec:%d"},
    {OLVA_REC_USB, {Route::Kind::kPath, gsm::kCodeSlicToEarphone, 3}, "%s ++  usb rec:%d",
     "%s ++ usb rec:%d"},
};

template <class Row, std::size_t N>
const Row* row_of(const Row (&table)[N], int type)
{
    for (const Row& row : table)
        if (row.type == type)
            return &row;
    return nullptr;
}

// 0 when the box queued or set it; -1 on a model without it.
int set_route(OlvaDevice& box, const Route& route, bool second_latch, int value)
{
    switch (model_traits(box.model()).switches) {
    case Switches::kGsmBridge: {
        const int queued =
            route.kind == Route::Kind::kPath
                ? box.Tz2701_set_talk_path(static_cast<std::uint8_t>(route.tz2701), value)
                : box.Tz2701_gpio_set(route.tz2701, value);
        return queued == 1 ? OLVA_OK : OLVA_ERR_FAILED;
    }
    case Switches::kTz2501bLatches: {
        if (route.tz2501b == kNoSwitch)
            return OLVA_ERR_FAILED;
        const bool set = second_latch ? box.Tz2501B_function2_setting(route.tz2501b, value)
                                      : box.Tz2501B_function_setting(route.tz2501b, value);
        return set ? OLVA_OK : OLVA_ERR_FAILED;
    }
    default:
        return OLVA_ERR_FAILED;
    }
}

}  // namespace

int OlvaDevice::olva_set_talk_link(unsigned long, int type, int enable)
{
    const TalkLink* link = row_of(kTalkLinks, type);
    if (!link) {
        BOX_LOG(1, "%s talk link type %d unknown", type);
        return OLVA_ERR_FAILED;
    }
    return set_route(*this, link->route, false, enable);
}

int OlvaDevice::olva_set_record_switch(unsigned long, int type, int value)
{
    const RecordSource* source = row_of(kRecordSources, type);
    if (!source) {
        BOX_LOG(1, "%s record source %d unknown", type);
        return OLVA_ERR_FAILED;
    }
    if (model_traits(model()).switches == Switches::kGsmBridge)
        BOX_LOG(4, source->tz2701_log, value);
    else
        BOX_LOG(4, source->tz2501b_log, value);
    return set_route(*this, source->route, true, value);
}

int OlvaDevice::olva_makecall(unsigned long, const char* number)
{
    BOX_LOG(4, "%s  call:%s", number ? number : "(null)");
    const int queued = Tz2701_make_call(number);
    if (queued != 1)
        return queued == OLVA_ERR_INVALID_PARAM ? queued : OLVA_ERR_FAILED;
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.call_answered = false;
        gsm_.clcc_number = 0;
    }
    line1_.set_gsm_state(OLVA_STATE_OFF_HOOK);
    BOX_LOG(4, "%s  make call:%s", number);
    fire_event(1, OLVA_EVENT_LINE_HOOK_OFF, kHookOffBySoftware, 0, 0, 0);
    olva_stop_play(1);
    return OLVA_OK;
}

int OlvaDevice::olva_reject_call(unsigned long)
{
    Tz2701_reject_callin();
    {
        // Ended by this side without a hang-up event.
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.call_answered = false;
        gsm::end_call(gsm_);
    }
    line1_.set_gsm_state(OLVA_STATE_HANG_UP);
    // The extension rings with the GSM call on line 1, whatever line the
    // caller named: a rejected call must not leave it ringing.
    if (line1_.slic_ringing())
        stop_extension_ring();
    return OLVA_OK;
}

int OlvaDevice::gsm_answer(unsigned long line)
{
    if (auto_link_earphone_.load() && gsm_state().ec200)
        Tz2701_set_talk_path(gsm::kCodeGsmToEarphone, 1);
    if (Tz2701_answer() != 1)
        return OLVA_ERR_FAILED;
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.call_answered = false;
        gsm_.call_up = true;
    }
    if (CBoxLineDevice* found = line_by_id(line)) {
        BOX_LOG(4, "%sgsm hook off");
        fire_event(line, OLVA_EVENT_LINE_HOOK_OFF, kHookOffBySoftware, 0, 0, 0);
        found->set_gsm_state(OLVA_STATE_OFF_HOOK);
        if (auto_link_slic_.load() && found->slic_ringing())
            stop_extension_ring();
    }
    return OLVA_OK;
}

int OlvaDevice::gsm_hang_up(unsigned long line)
{
    hang_up_requested_.store(true);
    bool was_up;
    bool ec200;
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.dialling = false;
        gsm_.call_answered = false;
        gsm_.dialled_number.clear();
        was_up = gsm::end_call(gsm_);
        ec200 = gsm_.ec200;
    }
    if (was_up)
        fire_event(1, OLVA_EVENT_LINE_HOOK_ON, kHookOnCall, 0, 0, 0);
    if (CBoxLineDevice* found = line_by_id(line))
        found->set_gsm_state(OLVA_STATE_HANG_UP);
    if (ec200)
        Tz2701_set_talk_path(gsm::kCodeGsmToEarphone, 0);
    return OLVA_OK;
}

void OlvaDevice::stop_extension_ring()
{
    line1_.clear_slic_ring();
    Tz2701_Slic_Ring(0);
}

int OlvaDevice::olva_makecallSlic(unsigned long, int cadence, int, const char* number)
{
    if (cadence == -1) {
        BOX_LOG(4, "%s  stop ring");
        return line1_.olva_stop_makcallSlic();
    }
    BOX_LOG(4, "%s  start ring");
    return line1_.olva_makecallSlic(number);
}

int OlvaDevice::olva_gsm_power(unsigned long, int on)
{
    const int queued = Tz2701_set_GsmPower(on == 1 ? 1 : 0);
    std::lock_guard<std::mutex> lock(gsm_mutex_);
    gsm_.startup = false;
    gsm_.reg_state = -1;
    return queued == 1 ? OLVA_OK : OLVA_ERR_FAILED;
}

int OlvaDevice::olva_gsm_bootkey(unsigned long, int press)
{
    const int queued = Tz2701_set_GsmPower_PressKey(press == 1 ? 1 : 0);
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.boot = true;
    }
    // The start-up script waits for the module's boot and ends the drop.
    if (press != 1)
        init_gsm(version2());
    return queued == 1 ? OLVA_OK : OLVA_ERR_FAILED;
}

int OlvaDevice::olva_select_simcard(unsigned long, int sim)
{
    const int queued = Tz2701_SIMSelect(sim);
    BOX_LOG(4, "%s select simcard No:%d", sim);
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.reg_state = -1;
    }
    active_sim_.store(sim);
    return queued == 1 ? OLVA_OK : OLVA_ERR_FAILED;
}

int OlvaDevice::olva_fast_select_simcard(unsigned long, int sim)
{
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.sim_switching = true;
    }
    const bool queued = Tz2701_SIMSelect(sim) == 1;
    if (queued) {
        BOX_LOG(4, "%s ++ select simcard No:%d", sim);
        {
            std::lock_guard<std::mutex> lock(gsm_mutex_);
            gsm_.reg_state = -1;
        }
        active_sim_.store(sim);
    }
    // The module leaves the old SIM and takes up the new one; its
    // "+QIND: PB DONE" ends the switch.
    Tz2701_Send_at("AT+CFUN=0\r");
    platform::sleeper().sleepMs(kSimSwitchPauseMs);
    Tz2701_Send_at("AT+CFUN=1\r");
    return queued ? OLVA_OK : OLVA_ERR_FAILED;
}

int OlvaDevice::olva_feed_slic_polarity(unsigned long, int positive)
{
    return Tz2701_feed_slic(positive == 1 ? 1 : 0) == 1 ? OLVA_OK : OLVA_ERR_FAILED;
}

int OlvaDevice::Tz2701_send_cid_to_slic(const char* number)
{
    const std::string text = number ? number : "";
    const std::string command = gsm::caller_tones_command(text);
    if (command.empty()) {
        BOX_LOG(1, "%s caller number (%s) has no digits for the extension", text.c_str());
        return OLVA_ERR_INVALID_PARAM;
    }
    Tz2701_set_talk_path(gsm::kCodeGsmToSlic, 1);
    Tz2701_Send_at("AT+QTONEP=0\r");
    const int queued = Tz2701_Send_at(command);
    BOX_LOG(4, "%s cmd:%s, phonenumber:%s,, phone len:%d", command.c_str(), text.c_str(),
            static_cast<int>(text.size()));
    return queued == 1 ? OLVA_OK : OLVA_ERR_FAILED;
}

int OlvaDevice::olva_set_gsm_work_mode(unsigned long, int index, int value)
{
    if (index == kWorkModeSlic) {
        auto_link_slic_.store(value != 0);
        line1_.set_auto_link_slic(value);
    } else if (index == kWorkModeEarphone) {
        auto_link_earphone_.store(value != 0);
        line1_.set_auto_line_earphone(value);
    }
    return OLVA_OK;
}
