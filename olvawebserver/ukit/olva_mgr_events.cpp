// Device events to browsers. handle_event runs on the library thread that
// raised the event: it builds the text (the texts behind the parameters
// live only during the call), updates the line slots and asks for the
// balloon there, and posts the send and the follow-up library calls to the
// web thread. A follow-up made on the raising thread could wait for a lock
// of the box that the raiser already holds.
#include <cJSON.h>

#include <cstring>
#include <initializer_list>
#include <utility>

#include "base/logger.h"
#include "cavrel_olva.h"
#include "ukit/json_text.h"
#include "ukit/olva_mgr.h"

namespace {

constexpr const char* kBalloonPlugIn = "检测到USB盒子连接";
constexpr const char* kBalloonPlugOut = "USB盒子被拨除";
constexpr const char* kBalloonPlayAlarm = "USB盒子告警，打开放音设备失败";
constexpr const char* kBalloonRecordAlarm = "USB盒子告警，打开录音设备失败";
constexpr const char* kBalloonHang = "电话线未连接或者电话线有故障";
constexpr const char* kBalloonDeviceError = "USB盒子错误，不能收来电号码";
// The prompt played when dialling out has finished, beside the executable.
constexpr const char* kCallOutPrompt = "tip.wav";

// A text parameter; a null pointer reads as an empty text.
const char* text_of(unsigned long p)
{
    return p ? reinterpret_cast<const char*>(p) : "";
}

int as_int(unsigned long value)
{
    return static_cast<int>(value);
}

std::string compact(const char* event, unsigned long handle)
{
    return web::JsonPieces().str("event", event).num("handle", handle).done();
}

web::JsonPieces pieces(const char* event, unsigned long handle)
{
    web::JsonPieces json;
    json.str("event", event).num("handle", handle);
    return json;
}

// cJSON's formatted print of {"event": event, "handle": handle, members...}.
std::string indented(const char* event, unsigned long handle,
                     std::initializer_list<std::pair<const char*, unsigned long>> members)
{
    cJSON* object = cJSON_CreateObject();
    cJSON_AddStringToObject(object, "event", event);
    cJSON_AddNumberToObject(object, "handle", static_cast<double>(handle));
    for (const auto& [name, value] : members)
        cJSON_AddNumberToObject(object, name, static_cast<double>(value));
    char* printed = cJSON_Print(object);
    std::string text = printed ? printed : "";
    cJSON_free(printed);
    cJSON_Delete(object);
    return text;
}

}  // namespace

void ProcCavrelCallBack(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                        unsigned long p3, unsigned long p4)
{
    try {
        uWebMgr.handle_event(handle, event, p1, p2, p3, p4);
    } catch (...) {
        logger(1, "userver", "", " event:%d except", event);
    }
}

void COlvaMgr::handle_event(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                            unsigned long p3, unsigned long p4)
{
    const int h = as_int(handle);
    std::string text;
    std::function<void()> follow_up;
    const char* balloon = nullptr;

    switch (event) {
    case OLVA_EVENT_PLUG_IN: {
        bool bound = false;
        {
            std::lock_guard lock(slots_mutex_);
            if (COlvaLine* line = line_or_free(handle)) {
                line->handl_plug_in(handle, 1);
                bound = true;
            }
        }
        if (bound) {
            text = compact("plugin", handle);
            logger(-1, "userver", "", "device plugin --%d", h);
        }
        balloon = kBalloonPlugIn;
        break;
    }
    case OLVA_EVENT_PLUG_OUT: {
        text = compact("plugout", handle);
        logger(-1, "userver", "", "device plugout --%d", h);
        std::lock_guard lock(slots_mutex_);
        if (COlvaLine* line = get_line_by_handle(handle))
            line->handl_plug_out();
        balloon = kBalloonPlugOut;
        break;
    }
    case OLVA_EVENT_ALARM:
        logger(-1, "userver", "", "device deviceAlarm0 --%d, type:%d", h, as_int(p1));
        if (p1 == 3) {
            text = pieces("deviceAlarm", handle).num("type", 3).num("alarmParam", p2).done();
            logger(-1, "olva server", "", "device playaudio deviceAlarm --%d, type:%d, error=%d", h, 3,
                   as_int(p2));
            std::lock_guard lock(slots_mutex_);
            if (COlvaLine* line = line_or_free(handle))
                line->set_device_playalarm(3, as_int(p2));
            balloon = kBalloonPlayAlarm;
        } else if (p1 != 7) {
            text = pieces("deviceAlarm", handle).num("type", p1).done();
            logger(-1, "userver", "", "device deviceAlarm --%d, type:%d", h, as_int(p1));
            std::lock_guard lock(slots_mutex_);
            if (COlvaLine* line = line_or_free(handle))
                line->set_device_alarm(as_int(p1), as_int(p2));
            balloon = kBalloonRecordAlarm;
        }
        break;
    case OLVA_EVENT_LINE_RING:
        text = compact("ring", handle);
        logger(-1, "userver", "", "device ring --%d", h);
        break;
    case OLVA_EVENT_LINE_HOOK_OFF:
        text = pieces("hookoff", handle).num("type", p1).done();
        logger(-1, "userver", "", "device hookoff --%d, type:%d", h, as_int(p1));
        break;
    case OLVA_EVENT_LING_HANG:
        text = compact("hang", handle);
        logger(-1, "userver", "", "device hang --%d", h);
        balloon = kBalloonHang;
        break;
    case OLVA_EVENT_RING_CANCEL:
        text = compact("ringCancel", handle);
        logger(-1, "userver", "", "device ringCancel --%d, type:%d", h, as_int(p1));
        break;
    case OLVA_EVENT_LINE_VOLTAGE:
        text = pieces("voltage", handle).num("vol", p1).done();
        logger(-1, "userver", "", "device voltage --%d, vol:%d", h, as_int(p1));
        // One reading per start command.
        follow_up = [handle] { olva_stop_read_line_voltage(handle); };
        break;
    case OLVA_EVENT_CALLER_ID:
        text = pieces("callerId", handle).str("callernumber", text_of(p1)).done();
        logger(-1, "userver", "", "device callerID --%d, number:%.256s", h, text_of(p1));
        break;
    case OLVA_EVENT_DTMF_DOWN:
        text = pieces("dtmfdown", handle).num("dtmfkey", p1).done();
        logger(-1, "userver", "", "device dtmf --%d, key:%d", h, as_int(p1));
        break;
    case OLVA_EVENT_DEVICE_ERROR: {
        text = compact("deviceError", handle);
        logger(-1, "userver", "", "device deviceError --%d", h);
        std::lock_guard lock(slots_mutex_);
        if (COlvaLine* line = get_line_by_handle(handle))
            line->set_device_error(1);
        balloon = kBalloonDeviceError;
        break;
    }
    case OLVA_EVENT_PLAY_END:
        text = compact("playEnd", handle);
        logger(-1, "userver", "", "device playEnd --%d", h);
        break;
    case OLVA_EVENT_PLAY_ERROR:
        text = compact("playError", handle);
        logger(-1, "userver", "", "device playError --%d", h);
        break;
    case OLVA_EVENT_DEVICE_BUSY_TONE:
        text = compact("busyTone", handle);
        logger(-1, "userver", "", "device busyTone --%d", h);
        break;
    case OLVA_EVENT_CALL_OUT_FINISH:
        text = compact("CallOutFinish", handle);
        logger(-1, "userver", "", "device CallOutFinish --%d", h);
        follow_up = [handle, h] {
            const int result = olva_play_file(handle, kCallOutPrompt);
            logger(-1, "userver", "", "olva(%d) play file result=%d", h, result);
        };
        break;
    case OLVA_EVENT_POLARITY:
        text = pieces("polarity", handle).num("value", p1).done();
        logger(-1, "userver", "", "device polarity --%d, value:%d", h, as_int(p1));
        break;
    case OLVA_EVENT_LINE_HOOK_ON:
        text = pieces("hookup", handle).num("type", p1).done();
        logger(-1, "userver", "", "device hookup --%d", h);
        break;
    case OLVA_EVENT_RING_STOP:
        text = compact("ringstop", handle);
        logger(-1, "userver", "", "device ringstop --%d", h);
        break;
    case OLVA_EVENT_SIM_STATE: {
        {
            std::lock_guard lock(slots_mutex_);
            if (COlvaLine* line = get_line_by_handle(handle)) {
                line->set_device_SimNo(as_int(p1));
                line->set_device_SimState(as_int(p2));
            }
        }
        text = indented("simstate", handle, {{"simNo", p1}, {"result", p2}});
        break;
    }
    case OLVA_EVENT_CALLED_ANSWER:
        text = compact("calledanswer", handle);
        logger(-1, "userver", "", "device answer --%d", h);
        break;
    case OLVA_EVENT_GSM_MSG: {
        const char* module_text = text_of(p1);
        text = pieces("msg", handle).str("result", module_text).done();
        if (const char* colon = std::strchr(module_text, ':'))
            logger(-1, "userver", "", "addr --%p, pData:%p, %d", static_cast<const void*>(colon),
                   static_cast<const void*>(module_text), static_cast<int>(colon - module_text));
        logger(-1, "userver", "", "msg --%d, result:%.512s", h, module_text);
        break;
    }
    case OLVA_EVENT_SHORT_MSG:
        text = pieces("short_msg", handle)
                   .str("from", text_of(p1))
                   .str("time", text_of(p2))
                   .str("result", text_of(p3))
                   .str("divided", text_of(p4))
                   .done();
        logger(-1, "userver", "", "short message --%d, from:%.256s", h, text_of(p1));
        logger(-1, "userver", "", "short message --%d, msg:%.512s", h, text_of(p3));
        break;
    case OLVA_EVENT_SIGNAL_SIZE:
        text = indented("signalsize", handle, {{"size", p1}});
        break;
    case OLVA_EVENT_GSM_VOLUME:
        text = indented("volume", handle, {{"type", p1}, {"vol", p2}});
        break;
    case OLVA_EVENT_SHORT_MSG_SIZE:
        text = pieces("short_msg_size", handle).num("number", p1).num("memory_size", p2).done();
        logger(-1, "userver", "", "msg --%d, short msg size:%d", h, as_int(p1));
        break;
    case OLVA_EVENT_SIM_REG: {
        // The library counts SIM slots from 0, browsers from 1.
        text = indented("simreg", handle, {{"simNo", p1 + 1}, {"result", p2}});
        std::lock_guard lock(slots_mutex_);
        if (COlvaLine* line = get_line_by_handle(handle)) {
            line->set_device_SimNo(as_int(p1 + 1));
            line->set_device_SimReg(as_int(p2));
        }
        break;
    }
    case OLVA_EVENT_SHORT_MSG_REPORT:
        text = indented("shortsms_report", handle, {{"result", p1}});
        break;
    default:
        // Audio data, dial-tone reports, USB errors and failed opens stay
        // in the library's own log.
        return;
    }

    if (!text.empty() || follow_up) {
        post_to_web([this, text = std::move(text), follow_up = std::move(follow_up)] {
            if (!text.empty())
                broadcast(text);
            if (follow_up)
                follow_up();
        });
    }
    if (balloon)
        popup_tip_msg(balloon);
}
