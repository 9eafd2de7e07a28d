// The Tz2701A's status report, on the box's report worker, decoded by
// tz2701_status_decode and applied here: the box's work mode, its SIM
// slots, the hook of its extension phone and its earphone key, which answer
// and end GSM calls, and the module's signal and registration, asked for
// every so many reports.
#include <cstdio>

#include "base/logger.h"
#include "gsm/device_commands.h"
#include "olva_device/olva_device.h"
#include "usb_hid/tz2701_bridge_reports.h"
#include "usb_hid/tz2701_status_decode.h"

namespace {

// Status reports between two signal queries of a registered module, and
// between two registration queries of one that is not.
constexpr int kSignalPollReports = 500;
constexpr int kRegistrationPollReports = 50;

}  // namespace

void OlvaDevice::handle_tz2701_status(const std::uint8_t* report, std::size_t len)
{
    const std::optional<Tz2701Status> status = decode_tz2701_status(report, len, version2() != 0);
    if (!status)
        return;
    const int reports = tz2701_status_reports_.fetch_add(1) + 1;
    if (status->standalone) {
        Tz2701_set_Gsm_usb_mode();
        BOX_LOG(2, "%s device work in standalone mode 2");
    }
    take_sim_state(*status);
    if (status->extension_off_hook)
        take_extension_hook(*status->extension_off_hook);
    take_earphone_key(status->earphone_key);
    poll_module(reports);
}

void OlvaDevice::take_sim_state(const Tz2701Status& status)
{
    const std::string tag = box_tag();
    if (status.working_sim) {
        const int working = *status.working_sim;
        if (active_sim_.exchange(working) == working)
            return;
        fire_event(1, OLVA_EVENT_SIM_STATE, static_cast<unsigned long>(working + 1), 1, 0, 0);
        std::printf("%s  %s%d is working\n", tag.c_str(), working == 0 ? "++  sim" : "++ sim",
                    working + 1);
        return;
    }
    struct Slot {
        std::optional<bool> reported;
        std::atomic<bool>& present;
        int number;
    };
    for (Slot slot : {Slot{status.sim_present[0], sim1_present_, 1},
                      Slot{status.sim_present[1], sim2_present_, 2}}) {
        if (!slot.reported)
            continue;
        if (*slot.reported && !slot.present.load()) {
            fire_event(1, OLVA_EVENT_SIM_STATE, static_cast<unsigned long>(slot.number), 1, 0, 0);
            active_sim_.store(slot.number - 1);
            slot.present.store(true);
            std::printf("%s  ++ sim%d is plugin\n", tag.c_str(), slot.number);
        } else if (!*slot.reported && slot.present.load()) {
            fire_event(1, OLVA_EVENT_SIM_STATE, static_cast<unsigned long>(slot.number), 0, 0, 0);
            slot.present.store(false);
            std::printf("%s  ++ sim%d is plugout\n", tag.c_str(), slot.number);
        }
    }
}

void OlvaDevice::take_extension_hook(bool off_hook)
{
    if (off_hook && !extension_off_hook_.load()) {
        fire_event(1, OLVA_EVENT_LINE_HOOK_OFF, 0, 0, 0, 0);
        extension_off_hook_.store(true);
        line1_.Tz2701_set_slic_state(OLVA_STATE_OFF_HOOK);
        BOX_LOG(4, "%s ++ telephone hookoff");
        const int rings = line1_.tz2701_ring_count();
        // Lifted while a call rings in: the extension takes it.
        if (auto_link_slic_.load() && rings > 0 && Tz2701_answer() == 1) {
            fire_event(1, OLVA_EVENT_LINE_HOOK_OFF, kHookOffBySoftware, 0, 0, 0);
            line1_.set_gsm_state(OLVA_STATE_OFF_HOOK);
        }
        BOX_LOG(4, "%s ++ telephone hookoff, gsm state:%d, ringnumber:%d", line1_.gsm_state(),
                rings);
        if (line1_.call_phase() == OLVA_STATE_OFF_HOOK) {
            Tz2701_set_talk_path(gsm::kCodeGsmToSlic, 1);
            Tz2701_set_talk_path(gsm::kCodeSlicToGsm, 1);
        } else if (line1_.tz2701_ring_count() == 0) {
            Tz2701_gpio_set(tz2701::kGpioPlayToSlic, 1);
            line1_.Tz2701_play_tone(0);
        }
        if (line1_.slic_ringing())
            stop_extension_ring();
    } else if (!off_hook && extension_off_hook_.load()) {
        fire_event(1, OLVA_EVENT_LINE_HOOK_ON, kHookOnExtension, 0, 0, 0);
        extension_off_hook_.store(false);
        BOX_LOG(4, "%s ++ telephone hangup");
        Tz2701_set_talk_path(gsm::kCodeGsmToSlic, 0);
        Tz2701_set_talk_path(gsm::kCodeSlicToGsm, 0);
        // Put down first: the call's end plays no busy tone to it.
        line1_.Tz2701_set_slic_state(OLVA_STATE_HANG_UP);
        if (auto_link_slic_.load() && line1_.call_phase() == OLVA_STATE_OFF_HOOK)
            gsm_hang_up(1);
        if (line1_.playing() || line1_.tone_playing())
            olva_stop_play(1);
        Tz2701_gpio_set(tz2701::kGpioSlicRecord, 0);
        Tz2701_gpio_set(tz2701::kGpioPlayToSlic, 0);
    }
}

void OlvaDevice::take_earphone_key(bool held)
{
    if (!held) {
        earphone_key_armed_.store(true);
        return;
    }
    // A held key acts once.
    if (!earphone_key_armed_.exchange(false))
        return;
    const bool ec200 = gsm_state().ec200;
    const bool linked = auto_link_earphone_.load();
    if (line1_.tz2701_ring_count() > 0) {
        if (ec200)
            Tz2701_set_talk_path(gsm::kCodeGsmToEarphone, 1);
        fire_event(1, OLVA_EVENT_LINE_HOOK_OFF, kHookOffByEarphone, 0, 0, 0);
        if (linked) {
            if (line1_.slic_ringing())
                stop_extension_ring();
            Tz2701_set_talk_path(gsm::kCodeEarphoneToGsm, 1);
            if (Tz2701_answer() == 1) {
                fire_event(1, OLVA_EVENT_LINE_HOOK_OFF, kHookOffBySoftware, 0, 0, 0);
                line1_.set_gsm_state(OLVA_STATE_OFF_HOOK);
            }
        }
        BOX_LOG(4, "%s++ earphone hookoff, Gsm_auto_link_earphone:%d", linked ? 1 : 0);
    } else if (line1_.call_phase() == OLVA_STATE_OFF_HOOK) {
        fire_event(1, OLVA_EVENT_LINE_HOOK_ON, kHookOnEarphone, 0, 0, 0);
        if (linked) {
            if (ec200)
                Tz2701_set_talk_path(gsm::kCodeGsmToEarphone, 0);
            Tz2701_set_talk_path(gsm::kCodeEarphoneToGsm, 0);
            BOX_LOG(4, "%s ++ earphone hangup, auto call gsm hangup");
            gsm_hang_up(1);
        }
        BOX_LOG(4, "%s ++ earphone hangup");
    }
}

void OlvaDevice::poll_module(int reports)
{
    int reg_state;
    bool dialling;
    bool sms_active;
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        reg_state = gsm_.reg_state;
        dialling = gsm_.dialling;
        sms_active = gsm_.sms_active;
    }
    if (reg_state == gsm::kRegisteredHome || reg_state == gsm::kRegisteredRoaming) {
        if (reports > kSignalPollReports && !dialling) {
            tz2701_status_reports_.store(0);
            if (!sms_active)
                Tz2701_getsignalsize();
        }
    } else if (reg_state != -1 && reports > kRegistrationPollReports) {
        tz2701_status_reports_.store(0);
        Tz2701_getsimreg();
    }
}
