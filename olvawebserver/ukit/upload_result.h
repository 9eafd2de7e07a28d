// The result texts of an upload, as browsers receive them inside
// {"event":"uploadfileresult","result":J}, and the rules that read them.
// Pure text work: no I/O.
#pragma once

#include <string>
#include <string_view>

namespace upload {

// {"code":"failure","errMsg":"<message>", "data":""}; message is one of our
// own texts and is written as it stands.
std::string failure_text(std::string_view message);

inline constexpr const char* kUrlNull = "url is null";
inline constexpr const char* kBucketNull = "UserId is null";
inline constexpr const char* kLocalFileNull = "localfilename is null";
inline constexpr const char* kObjectNull = "Filename is null";
inline constexpr const char* kOpenFailed = "open upload filename failed";
inline constexpr const char* kSizeFailed = "get file size failed";
inline constexpr const char* kNoResponse = "uploadform  failed,no responce";
inline constexpr const char* kParamError = "param error failed";
inline constexpr const char* kQueueFull = "upload queue full";

// The transfer failed with this libcurl code (-1: it threw).
std::string perform_failed_text(int code);

// {"code":"success","errMsg":"", "data":""}
std::string success_text();
// {"code":"success","errMsg":"", "data":<custom>}. A custom field that is
// strict JSON goes in printed again (strict_json.h); any other text goes in
// as a JSON string, so that the result stays one JSON object.
std::string success_text(std::string_view custom);

// What a finished form transfer reports. replied: the server sent a body.
// A body that is a JSON object, strict and in UTF-8, is the result, printed
// again (strict_json.h); anything else the server says is reported with the
// failure text, never pasted raw.
std::string form_reply_result(bool replied, std::string_view body, long status,
                              std::string_view custom);

enum class Verdict {
    kSuccess,    // "code" is 200 or "success": the job is done
    kBadCode,    // a numeric "code" other than 200
    kFailed,     // any other code, or none
    kBadFormat,  // not JSON
};
Verdict judge_form_result(std::string_view result);

}  // namespace upload
