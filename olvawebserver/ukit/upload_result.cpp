#include "ukit/upload_result.h"

#include <cJSON.h>

#include <cstring>
#include <memory>

#include "ukit/json_text.h"
#include "ukit/strict_json.h"

namespace upload {
namespace {

constexpr long kHttpOk = 200;
constexpr long kHttpNoContent = 204;
// A custom field shorter than this is not placed into "data".
constexpr std::size_t kMinCustomField = 6;

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

JsonPtr parse(std::string_view text)
{
    // JSON holds no NUL byte; cJSON would stop there and accept the head.
    if (text.find('\0') != std::string_view::npos)
        return JsonPtr(nullptr, &cJSON_Delete);
    const char* end = nullptr;
    JsonPtr json(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, 0), &cJSON_Delete);
    // Anything but blanks after the value makes the whole text invalid.
    if (json && end) {
        for (const char* p = end; p < text.data() + text.size(); ++p) {
            if (!std::strchr(" \t\r\n", *p))
                return JsonPtr(nullptr, &cJSON_Delete);
        }
    }
    return json;
}

}  // namespace

std::string failure_text(std::string_view message)
{
    return "{\"code\":\"failure\",\"errMsg\":\"" + std::string(message) + "\", \"data\":\"\"}";
}

std::string perform_failed_text(int code)
{
    return failure_text("uploadform perform failed," + std::to_string(code));
}

std::string success_text()
{
    return "{\"code\":\"success\",\"errMsg\":\"\", \"data\":\"\"}";
}

std::string success_text(std::string_view custom)
{
    const std::optional<std::string> json = web::reprint_strict_json(custom);
    return "{\"code\":\"success\",\"errMsg\":\"\", \"data\":" + (json ? *json : web::json_quote(custom)) + "}";
}

std::string form_reply_result(bool replied, std::string_view body, long status,
                              std::string_view custom)
{
    const bool ok_status = status == kHttpOk || status == kHttpNoContent;
    if (replied && body.size() > 1) {
        const std::optional<std::string> json = web::reprint_strict_json(body);
        return json && json->starts_with('{') ? *json : failure_text(kNoResponse);
    }
    if (ok_status && (replied || custom.size() < kMinCustomField))
        return success_text();
    if (ok_status)
        return success_text(custom);
    return failure_text(kNoResponse);
}

Verdict judge_form_result(std::string_view result)
{
    const JsonPtr json = parse(result);
    if (!json)
        return Verdict::kBadFormat;
    const cJSON* code = cJSON_GetObjectItem(json.get(), "code");
    if (cJSON_IsNumber(code))
        return code->valuedouble == kHttpOk ? Verdict::kSuccess : Verdict::kBadCode;
    if (cJSON_IsString(code) && code->valuestring && std::strcmp(code->valuestring, "success") == 0)
        return Verdict::kSuccess;
    return Verdict::kFailed;
}

}  // namespace upload
