// The settings routes: the service's own switches in "config.ini", the line
// voltage thresholds in "olva.ini" (read by the library when it next opens a
// box) and the library's DTMF sending settings.
#include <cJSON.h>

#include <cmath>

#include "base/base_ini.h"
#include "base/logger.h"
#include "cavrel_olva.h"
#include "ukit/http_json.h"
#include "ukit/olva_mgr.h"

namespace {

constexpr const char* kModule = "olva server";
constexpr const char* kDeviceSection = "device";

struct Switch {
    const char* member;  // in the request and the reply
    const char* key;     // in "config.ini"
    int COlvaMgr::*value;
    const char* label;   // of the log line
};

struct Threshold {
    const char* key;  // in the request, the reply and "olva.ini"
    int shown;        // what the reply shows while the key is missing
    const char* label;
};

constexpr Threshold kThresholds[] = {
    {"hang_voltage", 3, "   set hang voltarge threshold:"},
    {"hook_off_voltage", 18, "   set hookoff voltarge threshold:"},
    {"ring_vol_thresh", 25, "   set ring vol threshold:"},
    {"ring_vol_alt_thresh", 3, "   set ring vol count threshold:"},
};

// The library's DTMF sending settings before it has told its own.
struct DtmfSettings {
    int tone_time = 100;
    int silence_time = 80;
    int scale = 220;
    int speaker_volume = 10;
    float cof = 1.26f;
};

// The browser picks the coefficient by number: "1" is 1.0, "2" is 1.26.
constexpr float kDtmfCofOne = 1.0f;
constexpr float kDtmfCofTwo = 1.26f;
constexpr double kDtmfCofTolerance = 0.001;

DtmfSettings library_dtmf_settings()
{
    DtmfSettings s;
    olva_get_send_dtmf_param(&s.tone_time, &s.silence_time, &s.cof, &s.scale, &s.speaker_volume);
    return s;
}

void log_result(int result)
{
    logger(-1, kModule, "", "   set dial config param:%d", result);
}

}  // namespace

web::HttpResponse COlvaMgr::GetConfigParam(const web::HttpRequest& req)
{
    HttpPort = read_config_int("HttpPort", 8054);

    web::JsonDoc reply(cJSON_CreateObject());
    cJSON_AddNumberToObject(reply.get(), "code", 200);
    cJSON* data = cJSON_AddObjectToObject(reply.get(), "data");

    cJSON* base = cJSON_AddObjectToObject(data, "baseForm");
    cJSON_AddBoolToObject(base, "autorun", Autorun != 0);
    cJSON_AddBoolToObject(base, "enable_ring_buzzer", enable_ring_buzzer != 0);
    cJSON_AddBoolToObject(base, "pop_state_tip", pop_state_tip != 0);
    cJSON_AddBoolToObject(base, "keep_only_conncet", keep_only_conncet != 0);

    cJSON* voltage = cJSON_AddObjectToObject(data, "VolForm");
    const std::string ini = olva_ini_path();
    for (const Threshold& t : kThresholds) {
        const int value = readIntValue(kDeviceSection, t.key, ini.c_str());
        cJSON_AddNumberToObject(voltage, t.key, value == -1 ? t.shown : value);
    }

    const DtmfSettings dtmf = library_dtmf_settings();
    cJSON* dial = cJSON_AddObjectToObject(data, "dialForm");
    cJSON_AddNumberToObject(dial, "dtmftonetime", dtmf.tone_time);
    cJSON_AddNumberToObject(dial, "dtmfsilencetime", dtmf.silence_time);
    cJSON_AddNumberToObject(dial, "dtmfscale", dtmf.scale);
    cJSON_AddStringToObject(dial, "dtmfcof",
                            std::fabs(dtmf.cof - kDtmfCofOne) <= kDtmfCofTolerance ? "1" : "2");
    cJSON_AddNumberToObject(dial, "dtmfspeakvol", dtmf.speaker_volume);

    logger(-1, kModule, "", "   get  config param");
    return web::formatted_reply(reply.get(), req);
}

web::HttpResponse COlvaMgr::SetBaseConfigParam(const web::HttpRequest& req)
{
    static constexpr Switch kSwitches[] = {
        {"autorun", "Autorun", &COlvaMgr::Autorun, "   set auto run:"},
        {"enable_ring_buzzer", "enable_ring_buzzer", &COlvaMgr::enable_ring_buzzer,
         "   set enable_ring_buzzer:"},
        {"keep_only_conncet", "keep_only_conncet", &COlvaMgr::keep_only_conncet,
         "   set keep_only_connceted:"},
        {"pop_state_tip", "pop_state_tip", &COlvaMgr::pop_state_tip, "   set pop state tip:"},
    };
    const web::JsonDoc body = web::parse_body(req, web::BodyKind::Object);
    bool ok = body != nullptr;
    for (const Switch& s : kSwitches) {
        const std::optional<int> value = web::int_member(body.get(), s.member);
        if (!value)
            continue;
        this->*s.value = *value;
        logger(1, kModule, "", "%s%d", s.label, *value);
        if (write_config_int(s.key, *value) != 0) {
            logger(1, kModule, "", "   write %s to %s failed", s.key, config_path().c_str());
            ok = false;
        }
    }
    log_result(ok ? 0 : -1);
    return web::status_reply(ok, req);
}

web::HttpResponse COlvaMgr::SetVoltageConfigParam(const web::HttpRequest& req)
{
    const web::JsonDoc body = web::parse_body(req, web::BodyKind::Object);
    bool ok = body != nullptr;
    const std::string ini = olva_ini_path();
    for (const Threshold& t : kThresholds) {
        const std::optional<int> value = web::int_member(body.get(), t.key);
        if (!value)
            continue;
        logger(1, kModule, "", "%s%d", t.label, *value);
        if (writeIntValue(kDeviceSection, t.key, *value, ini.c_str()) != 0) {
            logger(1, kModule, "", "   write %s to %s failed", t.key, ini.c_str());
            ok = false;
        }
    }
    log_result(ok ? 0 : -1);
    return web::status_reply(ok, req);
}

web::HttpResponse COlvaMgr::SetDialConfigParam(const web::HttpRequest& req)
{
    int result = -1;
    if (const web::JsonDoc body = web::parse_body(req, web::BodyKind::Object)) {
        const unsigned long handle = first_line_in_use();
        if (handle == COlvaLine::kFree) {
            logger(1, kModule, "", "   set dial config param: no line in use");
        } else {
            DtmfSettings s = library_dtmf_settings();
            s.tone_time = web::int_member(body.get(), "dtmftonetime").value_or(s.tone_time);
            s.silence_time = web::int_member(body.get(), "dtmfsilencetime").value_or(s.silence_time);
            s.scale = web::int_member(body.get(), "dtmfscale").value_or(s.scale);
            s.speaker_volume = web::int_member(body.get(), "dtmfspeakvol").value_or(s.speaker_volume);
            if (const std::optional<std::string> cof = web::text_member(body.get(), "dtmfcof"))
                s.cof = *cof == "2" ? kDtmfCofTwo : kDtmfCofOne;
            result = olva_set_send_dtmf_param(handle, s.tone_time, s.silence_time, s.cof, s.scale,
                                              s.speaker_volume);
        }
    }
    log_result(result);
    return web::status_reply(result == 0, req);
}

unsigned long COlvaMgr::first_line_in_use()
{
    std::lock_guard lock(slots_mutex_);
    for (const COlvaLine& line : lines_) {
        if (line.line_handel() != COlvaLine::kFree)
            return line.line_handel();
    }
    return COlvaLine::kFree;
}
