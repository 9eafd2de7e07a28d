// Browser commands: one JSON object per WebSocket frame, its "event" naming
// the command. On the web thread; replies go to the requesting connection
// only. A member a command reads that is missing, or of another type,
// counts as 0 or as an empty text, and the library answers for it.
#include <cJSON.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/logger.h"
#include "cavrel_olva.h"
#include "ukit/command_args.h"
#include "ukit/file_rules.h"
#include "ukit/json_input.h"
#include "ukit/json_text.h"
#include "ukit/olva_mgr.h"
#include "ukit/upload_result.h"

namespace {

using web::arg_handle;
using web::arg_int;
using web::arg_path;
using web::arg_text;

// Browser commands that name files touch recordings only, as the HTTP
// routes do: a page must not delete, probe or upload the user's other
// files. rule is web::is_recording_path, or web::is_upload_path, which
// follows no link.
bool recording_or_refuse(const char* addr, const char* command, const std::string& path,
                         bool (*rule)(const std::string&) = web::is_recording_path)
{
    if (rule(path))
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
        {"SendDtmf", &COlvaMgr::cmd_send_dtmf},
        {"PlayFile", &COlvaMgr::cmd_play_file},
        {"StopPlay", &COlvaMgr::cmd_stop_play},
        {"StartReadLineVoltage", &COlvaMgr::cmd_start_read_line_voltage},
        {"StopReadLineVoltage", &COlvaMgr::cmd_stop_read_line_voltage},
        {"SoftHookoff", &COlvaMgr::cmd_soft_hook_off},
        {"SoftHookon", &COlvaMgr::cmd_soft_hook_on},
        {"GetDeviceVersionNum", &COlvaMgr::cmd_get_device_version},
        {"GetProductID", &COlvaMgr::cmd_get_product_id},
        {"GetUsernum", &COlvaMgr::cmd_get_usernum},
        {"JudgeFileSize", &COlvaMgr::cmd_judge_file_size},
        {"OLVADeletefile", &COlvaMgr::cmd_delete_file},
        {"UploadFile", &COlvaMgr::cmd_upload_file},
        {"UploadFileEx", &COlvaMgr::cmd_upload_file_ex},
        {"UploadFormFile", &COlvaMgr::cmd_upload_form_file},
        {"allmsg", &COlvaMgr::cmd_ignored},
        {"msgsize", &COlvaMgr::cmd_msgsize},
        {"sendmsg", &COlvaMgr::cmd_sendmsg},
        {"querySms", &COlvaMgr::cmd_query_sms},
        {"deleteSms", &COlvaMgr::cmd_delete_sms},
        {"uwebclose", &COlvaMgr::cmd_uwebclose},
        {"GetVoiceFileNames", &COlvaMgr::cmd_ignored},
        {"sendcmd", &COlvaMgr::cmd_sendcmd},
        {"set_talk_link", &COlvaMgr::cmd_set_talk_link},
        {"set_record_enable", &COlvaMgr::cmd_set_record_enable},
        {"olva_makecall", &COlvaMgr::cmd_makecall},
        {"rejectcall", &COlvaMgr::cmd_reject_call},
        {"olva_makecallSlic", &COlvaMgr::cmd_makecall_slic},
        {"selectsimcard", &COlvaMgr::cmd_select_simcard},
        {"gsmpower", &COlvaMgr::cmd_gsm_power},
        {"gsmboot", &COlvaMgr::cmd_gsm_boot},
    };
    return kCommands;
}

std::vector<std::string_view> COlvaMgr::command_names()
{
    std::vector<std::string_view> names;
    for (const CommandRow& row : commands())
        names.push_back(row.name);
    return names;
}

void COlvaMgr::handle_recv_event(web::WsConnection& c, std::string_view payload)
{
    const char* addr = c.address().c_str();
    const std::string frame(payload);
    // A NUL, raw or escaped, would cut a name short: no command. The frame
    // is one JSON text as a whole: bytes after the object (but blanks) make
    // it no command, so {"event":"getinfo"}{"event":"StopRecord"} runs
    // nothing. The length counts the string's own NUL, where cJSON wants
    // the text to end.
    const bool nul = web::holds_nul(frame);
    const char* parse_end = nullptr;
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(
        nul ? nullptr : cJSON_ParseWithLengthOpts(frame.c_str(), frame.size() + 1, &parse_end, 1),
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

void COlvaMgr::cmd_send_dtmf(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    const std::string digits = arg_text(f.json, "dtmf");
    const int result = olva_send_dtmf(handle, digits.c_str());
    logger(-1, "userver", "", "recv from %s SendDtmf, handle:%d,, result=%d", f.addr,
           static_cast<int>(handle), result);
    if (result != 0)
        send_notiy_msg(f.conn, "SendDtmf", static_cast<int>(handle), result);
}

void COlvaMgr::cmd_play_file(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    const std::string path = arg_path(f.json, "filename");
    const int result = olva_play_file(handle, path.c_str());
    logger(-1, "userver", "", "recv from %s  PlayFile, handle:%d, filename:%.512s, result=%d",
           f.addr, static_cast<int>(handle), path.c_str(), result);
    if (result != 0)
        send_notiy_msg(f.conn, "PlayFile", static_cast<int>(handle), result);
}

void COlvaMgr::cmd_stop_play(const Frame& f)
{
    line_command(f, "StopPlay", "StopPlay", olva_stop_play);
}

void COlvaMgr::cmd_start_read_line_voltage(const Frame& f)
{
    line_command(f, "StartReadLineVoltage", "StartReadLineVoltage", olva_start_read_line_voltage);
}

void COlvaMgr::cmd_stop_read_line_voltage(const Frame& f)
{
    line_command(f, "StopReadLineVoltage", "StopReadLineVoltage", olva_stop_read_line_voltage);
}

void COlvaMgr::cmd_soft_hook_off(const Frame& f)
{
    line_command(f, "SoftHookoff", "SoftHookoff", olva_soft_hook_off);
}

void COlvaMgr::cmd_soft_hook_on(const Frame& f)
{
    line_command(f, "SoftHookon", "SoftHookon", olva_soft_hook_on);
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

void COlvaMgr::cmd_get_usernum(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    char number[16] = {};
    const int result = olva_get_usernum(handle, number, sizeof number);
    logger(-1, "userver", "", "recv from %s GetUsernum, handle:%d,, result=%d", f.addr,
           static_cast<int>(handle), result);
    // The browser is shown the first 8 bytes, up to a NUL.
    if (result > 0)
        send_answer_msg(f.conn, "GetUsernum", static_cast<int>(handle),
                        std::string(number, strnlen(number, 8)));
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
    const int result = recording_or_refuse(f.addr, "UploadFile", path, web::is_upload_path)
                           ? olva_uploadFile(url.c_str(), param.c_str(), path.c_str())
                           : OLVA_ERR_INVALID_PARAM;
    logger(-1, "userver", "", "recv from %s UploadFile, filename:%.512s,, result=%d", f.addr,
           path.c_str(), result);
    send_notiy_msg(f.conn, "UploadFile", 0, result);
}

void COlvaMgr::cmd_sendcmd(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    std::string cmd = arg_text(f.json, "cmd");
    const int result = olva_send_gsm_cmd(handle, cmd.data(), static_cast<int>(cmd.size()));
    logger(-1, "userver", "", "recv from %s sendcmd, handle:%d,, result=%d", f.addr,
           static_cast<int>(handle), result);
}

void COlvaMgr::cmd_upload_file_ex(const Frame& f)
{
    std::string path = arg_path(f.json, "filename");
    if (!recording_or_refuse(f.addr, "UploadFileEx", path, web::is_upload_path)) {
        send_notiy_msg(f.conn, "UploadFileEx", 0, UploadTransfer::kPlainOpenFailed);
        return;
    }
    // The browser waits for its answer, the web thread does not: the upload
    // runs on the plain upload thread and its answer is posted back here.
    auto done = [this, weak = shared_connection(f.conn), addr = std::string(f.addr), path](int code) {
        post_to_web([this, weak, addr, path, code] {
            logger(-1, "userver", "", "recv from %s UploadFileEx, filename:%.512s,, result=%d",
                   addr.c_str(), path.c_str(), code);
            if (const auto c = weak.lock(); c && std::ranges::find(ws_connections_, c) != ws_connections_.end())
                send_notiy_msg(*c, "UploadFileEx", 0, code);
        });
    };
    if (!plain_uploads_ ||
        !plain_uploads_->submit(arg_text(f.json, "url"), arg_text(f.json, "paramname"), path, done)) {
        logger(1, "olva upload", "", "recv from %s UploadFileEx, filename:%.512s: %d uploads waiting already",
               f.addr, path.c_str(), static_cast<int>(PlainUploadThread::kMaxWaitingPlainUploads));
        send_notiy_msg(f.conn, "UploadFileEx", 0, UploadTransfer::kPlainNoHandle);
    }
}

void COlvaMgr::refuse_form_upload(const Frame& f, const char* message)
{
    const std::string result = upload::failure_text(message);
    send_upload_result(f.conn, result);
    logger(-1, "olva server", "", "UploadFormFile result:%s", result.c_str());
}

void COlvaMgr::cmd_upload_form_file(const Frame& f)
{
    logger(-1, "olva server", "", "UploadFormFile ... ");
    FileUploadPacket packet;
    struct Member {
        const char* name;
        std::string* value;
        const char* missing_log;
        const char* not_text_log;  // null: a member of another type reads as empty
        const char* taken_log;
    };
    const Member members[] = {
        {"uploadurl", &packet.url, " no uploadurl ", " uploadurl is null", "UploadFormFile utf8_url:%.512s"},
        {"bucketName", &packet.bucketName, " no bucketName ", nullptr, "UploadFormFile utf8_param:%.512s"},
        {"objectName", &packet.objectName, " no objectName ", nullptr,
         "UploadFormFile utf8_filename:%.512s"},
        {"localfilepath", &packet.localfilename, " no localfilepath ", " localfilepath is null ",
         "UploadFormFile uft8_localfilename:%.512s"},
    };
    bool marked = false;
    for (const Member& m : members) {
        const cJSON* item = cJSON_GetObjectItem(f.json, m.name);
        if (!item) {
            logger(1, "olva server", "", "%s", m.missing_log);
            marked = true;
        } else if (!cJSON_IsString(item) || !item->valuestring) {
            if (m.not_text_log) {
                logger(1, "olva server", "", "%s", m.not_text_log);
                marked = true;
            }
        } else {
            *m.value = item->valuestring;
            logger(-1, "olva server", "", m.taken_log, m.value->c_str());
        }
    }
    if (marked) {
        refuse_form_upload(f, upload::kParamError);
        return;
    }
    packet.mod = 1;
    packet.localfilename = web::windows_path_conver_linux(packet.localfilename);
    packet.customFiled = arg_text(f.json, "customFiled");
    logger(-1, "olva server", "", "UploadFormFile locafile(%.512s) ", packet.localfilename.c_str());
    if (!packet.customFiled.empty())
        logger(-1, "olva server", "", "addr:%s UploadFormFile customFiled:%.512s", f.addr,
               packet.customFiled.c_str());
    const std::string local = packet.localfilename;
    if (!recording_or_refuse(f.addr, "UploadFormFile", local, web::is_upload_path)) {
        refuse_form_upload(f, upload::kOpenFailed);
        return;
    }
    UploadQueue::Refusal refusal{};
    const std::optional<std::size_t> queued = upload_queue_.push(std::move(packet), &refusal);
    if (!queued && refusal == UploadQueue::Refusal::kJobTooLong) {
        refuse_form_upload(f, upload::kParamError);
        return;
    }
    if (!queued) {
        const std::string result = upload::failure_text(upload::kQueueFull);
        send_upload_result(f.conn, result);
        logger(1, "olva server", "", "addr:%s UploadFormFile filename:%.512s refused, %d uploads queued",
               f.addr, local.c_str(), static_cast<int>(UploadQueue::kMaxQueuedUploads));
        return;
    }
    logger(-1, "olva server", "", "addr:%s UploadFormFile filename:%.512s, upload queue size:%d", f.addr,
           local.c_str(), static_cast<int>(*queued));
}
