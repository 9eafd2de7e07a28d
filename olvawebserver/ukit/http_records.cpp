// The call-record routes: add, page, count and delete records in the record
// database. On the web thread, which alone uses the database.
#include <cJSON.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "base/logger.h"
#include "cavrel_olva.h"
#include "ukit/file_rules.h"
#include "ukit/http_json.h"
#include "ukit/json_text.h"
#include "ukit/olva_mgr.h"

namespace {

constexpr const char* kModule = "olva server";
constexpr int kDefaultPage = 1;
constexpr int kDefaultLimit = 20;
// Any page may ask for a page of records: no reply holds more than this
// many (300 000 records in one reply took 123 MB and held the web thread
// for seconds), and pages start at 1.
constexpr int kMinPage = 1;
constexpr int kMaxRecordLimit = 1000;

RECORD_PAGE clamped_page(int page, int limit)
{
    return record_page_of(std::max(page, kMinPage), std::clamp(limit, 0, kMaxRecordLimit));
}

int member_or_0(const cJSON* body, const char* name)
{
    return web::int_member(body, name).value_or(0);
}

RECORD_FILTER filter_of(const cJSON* body)
{
    return record_filter_of(member_or_0(body, "phoneType"), member_or_0(body, "startTime"),
                            member_or_0(body, "endTime"));
}

// {"ID":..,"lineId":..,"callType":..,"phoneNumber":..,"startTime":..,
//  "endTime":..,"fileSize":..,"fileName":..}
cJSON* record_item(const RECORD_INFO& record)
{
    // The record is packed: its fields are read by value.
    const std::int32_t filesize = record.filesize;
    cJSON* item = cJSON_CreateObject();
    cJSON_AddNumberToObject(item, "ID", record.recordid);
    cJSON_AddNumberToObject(item, "lineId", record.inchlno);
    cJSON_AddNumberToObject(item, "callType", record.type);
    cJSON_AddStringToObject(item, "phoneNumber", std::string(record_text(record.phone)).c_str());
    cJSON_AddNumberToObject(item, "startTime", static_cast<double>(record.begintime));
    cJSON_AddNumberToObject(item, "endTime", static_cast<double>(record.endtime));
    cJSON_AddNumberToObject(item, "fileSize", std::max(filesize, std::int32_t{0}));
    cJSON_AddStringToObject(item, "fileName", std::string(record_text(record.path)).c_str());
    return item;
}

// The record a body of "/addRecord" describes. Nothing (logged) when a text
// of it is not valid UTF-8: the list would show it as it came, and a reply
// that is not UTF-8 is no JSON to the page.
std::optional<RECORD_INFO> record_of(const cJSON* body)
{
    const std::string phone = web::text_member(body, "phoneNumber").value_or("");
    const std::string path = web::windows_path_conver_linux(web::text_member(body, "fileName").value_or(""));
    for (const auto& [name, text] : {std::pair{"phoneNumber", &phone}, std::pair{"fileName", &path}}) {
        if (!web::is_valid_utf8(*text)) {
            logger(1, kModule, "", "   add record refused: %s is not valid UTF-8", name);
            return std::nullopt;
        }
    }
    RECORD_INFO record{};
    const int line = member_or_0(body, "lineId");
    record.inchlno = line;
    record.outchlno = line;
    record.type = member_or_0(body, "callType");
    set_record_text(record.phone, phone);
    record.begintime = member_or_0(body, "startTime");
    record.endtime = member_or_0(body, "endTime");
    set_record_text(record.path, path);
    // The size of the recording the record names, as stored (cut to its
    // field), taken only for a recording file itself, as an upload would
    // take it: a page must not learn the size of any other file, say
    // /etc/shadow, nor of one a link leads to.
    const std::string stored_path(record_text(record.path));
    record.filesize = web::is_upload_path(stored_path) ? olva_judge_file_size(stored_path.c_str()) : 0;
    return record;
}

}  // namespace

web::HttpResponse COlvaMgr::AddRecord(const web::HttpRequest& req)
{
    int id = 0;
    // A body that cannot be read adds nothing: an empty record would only
    // clutter the list.
    if (const web::JsonDoc body = web::parse_body(req, web::BodyKind::Object)) {
        if (std::optional<RECORD_INFO> record = record_of(body.get())) {
            const int res = database_.AddRecord(*record);
            if (res == 0) {
                id = record->recordid;
                logger(-1, kModule, "", "   add record ok, id:%d", id);
            } else {
                logger(1, kModule, "", "   add record failed, res:%d", res);
            }
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "{ \"code\": 200, \"id\":%d}", id);
    return web::json_reply(text, req);
}

web::HttpResponse COlvaMgr::GetRecord(const web::HttpRequest& req)
{
    // A body that cannot be read lists the newest records, as many as any
    // page may have.
    RECORD_SELECT query{{}, clamped_page(kDefaultPage, kMaxRecordLimit)};
    if (const web::JsonDoc body = web::parse_body(req, web::BodyKind::Object)) {
        query.filter = filter_of(body.get());
        query.page = clamped_page(web::int_member(body.get(), "page").value_or(kDefaultPage),
                                  web::int_member(body.get(), "limit").value_or(kDefaultLimit));
    }
    std::vector<RECORD_INFO> records;
    const int res = database_.GetOlvaRecord(query, records);
    if (res != 0)
        logger(1, kModule, "", "   get record failed, res:%d", res);
    else
        logger(-1, kModule, "", "   recourd count:%d", static_cast<int>(records.size()));

    web::JsonDoc reply(cJSON_CreateObject());
    cJSON_AddNumberToObject(reply.get(), "code", 200);
    cJSON* data = cJSON_AddObjectToObject(reply.get(), "data");
    cJSON* items = cJSON_AddArrayToObject(data, "items");
    for (const RECORD_INFO& record : records)
        cJSON_AddItemToArray(items, record_item(record));
    cJSON_AddNumberToObject(data, "size", static_cast<double>(records.size()));
    return web::formatted_reply(reply.get(), req);
}

web::HttpResponse COlvaMgr::GetRecordCount(const web::HttpRequest& req)
{
    std::int64_t total = 0;  // also what a failed count shows
    if (const web::JsonDoc body = web::parse_body(req, web::BodyKind::Object)) {
        const std::int64_t count = database_.GetRecordCount(filter_of(body.get()));
        if (count < 0)
            logger(1, kModule, "", "   query recourd count failed");
        else
            total = count;
    }
    logger(-1, kModule, "", "   query recourd count:%lld", static_cast<long long>(total));

    web::JsonDoc reply(cJSON_CreateObject());
    cJSON_AddNumberToObject(reply.get(), "code", 200);
    cJSON* data = cJSON_AddObjectToObject(reply.get(), "data");
    cJSON_AddNumberToObject(data, "total", static_cast<double>(total));
    return web::formatted_reply(reply.get(), req);
}

web::HttpResponse COlvaMgr::DeleteRecord(const web::HttpRequest& req)
{
    // A body that is not an array deletes nothing and fails.
    const web::JsonDoc body = web::parse_body(req, web::BodyKind::Array);
    const int size = body ? cJSON_GetArraySize(body.get()) : 0;
    logger(-1, kModule, "", "   delete record size:%d", size);
    int deleted = 0;
    for (const cJSON* item = body ? body->child : nullptr; item; item = item->next) {
        if (const std::optional<int> id = web::int_member(item, "ID")) {
            if (database_.DelRecord(*id) == 0) {
                ++deleted;
                logger(-1, kModule, "", "   delete record id(%d) ok", *id);
            } else {
                logger(1, kModule, "", "   delete record id(%d) failed", *id);
            }
        }
        if (const std::optional<std::string> name = web::text_member(item, "fileName")) {
            logger(-1, kModule, "", "   delete record filename(%s)", name->c_str());
            // Records name recordings; no other file is deleted for a page.
            if (web::audio_file_path(*name))
                olva_delete_file(name->c_str());
            else
                logger(1, kModule, "", "   delete record filename(%s) refused: not a regular .wav or .mp3 file",
                       name->c_str());
        }
    }

    web::JsonDoc reply(cJSON_CreateObject());
    cJSON_AddNumberToObject(reply.get(), "code", 200);
    if (body && deleted == size) {
        cJSON_AddStringToObject(reply.get(), "status", "success");
    } else {
        cJSON_AddStringToObject(reply.get(), "status", "failed");
        cJSON_AddNumberToObject(reply.get(), "count", size - deleted);
    }
    logger(-1, kModule, "", "   need delete size(%d), success delete count(%d)", size, deleted);
    return web::formatted_reply(reply.get(), req);
}
