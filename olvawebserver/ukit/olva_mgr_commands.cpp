// Browser commands: one JSON object per WebSocket frame, its "event" naming
// the command. On the web thread; replies go to the requesting connection
// only. A member a command reads that is missing, or of another type,
// counts as 0 or as an empty text, and the library answers for it.
#include <cJSON.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "cavrel_olva.h"
#include "logger.h"
#include "ukit/file_rules.h"
#include "ukit/json_text.h"
#include "ukit/olva_mgr.h"

namespace {

int arg_int(const cJSON* json, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(json, name);
    return cJSON_IsNumber(item) ? item->valueint : 0;
}

// A line handle given as a JSON number, sign-extended: -1 stays "none".
unsigned long arg_handle(const cJSON* json)
{
    return static_cast<unsigned long>(static_cast<long>(arg_int(json, "handle")));
}

std::string arg_text(const cJSON* json, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(json, name);
    return cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
}

std::string arg_path(const cJSON* json, const char* name)
{
    return web::windows_path_conver_linux(arg_text(json, name));
}

// Browser commands that name files touch recordings only, as the HTTP
// routes do: a page must not delete or probe the user's other files.
bool recording_or_refuse(const char* addr, const char* command, const std::string& path)
{
    if (web::is_recording_path(path))
        return true;
    logger(1, "userver", "", "recv from %s %s, filename:%.512s refused: not a regular .wav or .mp3 file",
           addr, command, path.c_str());
    return false;
}

}  // namespace

std::span<const COlvaMgr::CommandRow> COlvaMgr::commands()
{
    static constexpr CommandRow kCommands[] = {
        {"getinfo", &COlvaMgr::cmd_getinfo},
        {"getsysteminfo", &COlvaMgr::cmd_getsysteminfo},
        {"RecordFile", &COlvaMgr::cmd_record_file},
        {"StopRecord", &COlvaMgr::cmd_stop_record},
        {"StartReadLineVoltage", &COlvaMgr::cmd_start_read_line_voltage},
        {"StopReadLineVoltage", &COlvaMgr::cmd_stop_read_line_voltage},
        {"GetDeviceVersionNum", &COlvaMgr::cmd_get_device_version},
        {"GetProductID", &COlvaMgr::cmd_get_product_id},
        {"JudgeFileSize", &COlvaMgr::cmd_judge_file_size},
        {"OLVADeletefile", &COlvaMgr::cmd_delete_file},
        {"UploadFile", &COlvaMgr::cmd_upload_file},
        {"allmsg", &COlvaMgr::cmd_ignored},
        {"uwebclose", &COlvaMgr::cmd_uwebclose},
        {"GetVoiceFileNames", &COlvaMgr::cmd_ignored},
    };
    return kCommands;
}

void COlvaMgr::handle_recv_event(web::WsConnection& c, std::string_view payload)
{
    const char* addr = c.address().c_str();
    const std::string frame(payload);
    // JSON text holds no NUL byte; cJSON would take one inside a string as
    // its end, and {"event":"getinfo<NUL>x"} would run "getinfo". The frame
    // is one JSON text as a whole: bytes after the object (but blanks) make
    // it no command, so {"event":"getinfo"}{"event":"StopRecord"} runs
    // nothing. The length counts the string's own NUL, where cJSON wants
    // the text to end.
    const std::size_t nul = frame.find('\0');
    const char* parse_end = nul == std::string::npos ? nullptr : frame.c_str() + nul;
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(
        parse_end ? nullptr : cJSON_ParseWithLengthOpts(frame.c_str(), frame.size() + 1, &parse_end, 1),
        &cJSON_Delete);
    if (!json) {
        logger(1, "userver", "", "recv from %s  error json msg: [%.256s] %.512s\n", addr,
               parse_end ? parse_end : "", frame.c_str());
        return;
    }
    try {
        const cJSON* event =
            cJSON_IsObject(json.get()) ? cJSON_GetObjectItem(json.get(), "event") : nullptr;
        if (cJSON_IsString(event) && event->valuestring) {
            for (const CommandRow& row : commands()) {
                if (std::strcmp(row.name, event->valuestring) == 0)
                    return (this->*row.run)(Frame{c, json.get(), addr});
            }
        }
        logger(-1, "userver", "", "other msg recv from %s --%.512s", addr, frame.c_str());
    } catch (...) {
        logger(1, "userver", "", " rececev :%d except", static_cast<int>(frame.size()));
    }
}

std::string COlvaMgr::getinfo_text()
{
    std::string channels = "[";
    {
        std::lock_guard lock(slots_mutex_);
        for (const COlvaLine& line : lines_) {
            if (line.line_handel() == COlvaLine::kFree)
                continue;
            if (channels.size() > 1)
                channels += ',';
            channels += web::JsonPieces()
                            .num("handle", line.line_handel())
                            .num("deviceError", line.get_device_error())
                            .num("simNo", line.get_device_simNo())
                            .num("simReg", line.get_device_simReg())
                            .num("simState", line.get_device_simState())
                            .num("deviceAlarm", line.get_device_alarm())
                            .num("devicePlayAlarm", line.get_device_playalarm())
                            .num("devicePlayAlarmParam", line.get_device_playalarm_error())
                            .done();
        }
    }
    channels += ']';
    return web::JsonPieces()
        .str("event", "getinfo")
        .str("workpath", work_dir_)
        .raw("channels", channels)
        .done();
}

void COlvaMgr::cmd_getinfo(const Frame& f)
{
    logger(-1, "userver", "", "recv from %s --%s", f.addr, "getinfo");
    send_msg(f.conn, getinfo_text());
}

void COlvaMgr::cmd_getsysteminfo(const Frame& f)
{
    logger(-1, "userver", "", "start get sysinfo  from addr:%s", f.addr);
}

void COlvaMgr::cmd_uwebclose(const Frame& f)
{
    logger(-1, "userver", "", "recv from %s msg  uweb service close", f.addr);
    send_answer_msg(f.conn, "uwebclose", 0, "");
}

void COlvaMgr::cmd_ignored(const Frame&) {}

void COlvaMgr::cmd_record_file(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    const std::string path = arg_path(f.json, "filename");
    const int codec = arg_int(f.json, "codec");
    const int result = olva_record_file(handle, path.c_str(), codec);
    logger(-1, "userver", "",
           "recv from %s  record file, handle:%d, codec:%d, filename:%.512s, result=%d", f.addr,
           static_cast<int>(handle), codec, path.c_str(), result);
    if (result != 0)
        send_notiy_msg(f.conn, "RecordFile", static_cast<int>(handle), result);
}

void COlvaMgr::line_command(const Frame& f, const char* name, const char* label,
                            int (*call)(unsigned long))
{
    const unsigned long handle = arg_handle(f.json);
    const int result = call(handle);
    logger(-1, "userver", "", "recv from %s %s, handle:%d,, result=%d", f.addr, label,
           static_cast<int>(handle), result);
    if (result != 0)
        send_notiy_msg(f.conn, name, static_cast<int>(handle), result);
}

void COlvaMgr::cmd_stop_record(const Frame& f)
{
    line_command(f, "StopRecord", " stop record", olva_stop_record);
}

void COlvaMgr::cmd_start_read_line_voltage(const Frame& f)
{
    line_command(f, "StartReadLineVoltage", "StartReadLineVoltage", olva_start_read_line_voltage);
}

void COlvaMgr::cmd_stop_read_line_voltage(const Frame& f)
{
    line_command(f, "StopReadLineVoltage", "StopReadLineVoltage", olva_stop_read_line_voltage);
}

void COlvaMgr::cmd_get_device_version(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    float version = 0;
    const int result = olva_get_device_versionnum(handle, &version);
    logger(-1, "userver", "", "recv from %s GetDeviceVersionNum, handle:%d,, result=%d", f.addr,
           static_cast<int>(handle), result);
    if (result == 0) {
        char value[64];
        std::snprintf(value, sizeof value, "%0.2f", version);
        send_answer_msg(f.conn, "GetDeviceVersionNum", static_cast<int>(handle), value);
    } else {
        send_notiy_msg(f.conn, "GetDeviceVersionNum", static_cast<int>(handle), result);
    }
}

void COlvaMgr::cmd_get_product_id(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    const int result = olva_get_product_ID(handle);
    logger(-1, "userver", "", "recv from %s GetProductID, handle:%d,, result=%d", f.addr,
           static_cast<int>(handle), result);
    if (result > 0)
        send_answer_msg(f.conn, "GetProductID", static_cast<int>(handle), std::to_string(result));
    else
        send_notiy_msg(f.conn, "GetProductID", static_cast<int>(handle), result);
}

void COlvaMgr::cmd_judge_file_size(const Frame& f)
{
    const std::string filename = arg_text(f.json, "filename");
    const int result = recording_or_refuse(f.addr, "JudgeFileSize", filename)
                           ? olva_judge_file_size(filename.c_str())
                           : OLVA_ERR_INVALID_PARAM;
    logger(-1, "userver", "", "recv from %s JudgeFileSize, filename:%.512s,, result=%d", f.addr,
           filename.c_str(), result);
    send_answer_msg(f.conn, "GetFileSize", 0, std::to_string(result));
}

void COlvaMgr::cmd_delete_file(const Frame& f)
{
    const std::string path = arg_path(f.json, "filename");
    const int result = recording_or_refuse(f.addr, "OLVADeletefile", path)
                           ? olva_delete_file(path.c_str())
                           : OLVA_ERR_INVALID_PARAM;
    logger(-1, "userver", "", "recv from %s OLVADeletefile, filename:%.512s,, result=%d", f.addr,
           path.c_str(), result);
    if (result != 0)
        send_notiy_msg(f.conn, "OLVADeletefile", 0, result);
}

void COlvaMgr::cmd_upload_file(const Frame& f)
{
    const std::string url = arg_text(f.json, "url");
    const std::string param = arg_text(f.json, "paramname");
    const std::string path = arg_path(f.json, "filename");
    const int result = olva_uploadFile(url.c_str(), param.c_str(), path.c_str());
    logger(-1, "userver", "", "recv from %s UploadFile, filename:%.512s,, result=%d", f.addr,
           path.c_str(), result);
    send_notiy_msg(f.conn, "UploadFile", 0, result);
}
