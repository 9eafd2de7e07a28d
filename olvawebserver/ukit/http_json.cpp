#include "ukit/http_json.h"

#include <cJSON.h>

#include "base/logger.h"
#include "ukit/http_util.h"
#include "ukit/json_input.h"
#include "ukit/json_text.h"

namespace web {

void JsonDelete::operator()(cJSON* json) const
{
    cJSON_Delete(json);
}

JsonDoc parse_body(const HttpRequest& req, BodyKind kind)
{
    const std::string& body = req.body();
    JsonDoc json;
    if (!holds_nul(body))
        json.reset(cJSON_ParseWithOpts(body.c_str(), nullptr, 1));
    const bool wanted = kind == BodyKind::Object ? cJSON_IsObject(json.get()) : cJSON_IsArray(json.get());
    if (!wanted) {
        logger(1, "olva server", "", "   recvf data is not json format, len:%d",
               static_cast<int>(body.size()));
        json.reset();
    }
    return json;
}

std::optional<int> int_member(const cJSON* object, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(object, name);
    if (cJSON_IsNumber(item))
        return item->valueint;
    if (cJSON_IsBool(item))
        return cJSON_IsTrue(item) ? 1 : 0;
    return std::nullopt;
}

std::optional<std::string> text_member(const cJSON* object, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(object, name);
    if (cJSON_IsString(item) && item->valuestring)
        return std::string(item->valuestring);
    return std::nullopt;
}

StringResponse formatted_reply(const cJSON* json, const HttpRequest& req)
{
    char* printed = cJSON_Print(json);
    // cJSON copies the bytes of a text as they are, and writes nothing but
    // ASCII around them: the bytes made valid here all lie inside strings.
    std::string text = valid_utf8(printed ? printed : "");
    cJSON_free(printed);
    return json_reply(std::move(text), req);
}

StringResponse json_reply(std::string text, const HttpRequest& req)
{
    return json_chunked_reply(std::move(text), req.version(), req.keep_alive());
}

StringResponse status_reply(bool success, const HttpRequest& req)
{
    JsonDoc reply(cJSON_CreateObject());
    cJSON_AddNumberToObject(reply.get(), "code", 200);
    cJSON* data = cJSON_AddObjectToObject(reply.get(), "data");
    cJSON_AddStringToObject(data, "status", success ? "success" : "failed");
    return formatted_reply(reply.get(), req);
}

StringResponse not_found_reply(const HttpRequest& req)
{
    StringResponse res{http::status::not_found, req.version()};
    res.keep_alive(req.keep_alive());
    res.prepare_payload();
    return res;
}

}  // namespace web
