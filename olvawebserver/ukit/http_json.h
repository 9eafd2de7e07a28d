// The JSON side of the HTTP routes: reading a request body, its members, and
// the reply in cJSON's formatted print inside the chunked reply frame.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ukit/http_types.h"

struct cJSON;

namespace web {

struct JsonDelete {
    void operator()(cJSON* json) const;
};
using JsonDoc = std::unique_ptr<cJSON, JsonDelete>;

enum class BodyKind { Object, Array };

// The body when it is one JSON value of the kind wanted (blanks around it
// allowed), else null after logging "   recvf data is not json format".
JsonDoc parse_body(const HttpRequest& req, BodyKind kind);

// A member looked up without regard to case. A number is taken as an
// integer, true as 1 and false as 0; any other type counts as absent, so
// that a stray text never writes a setting as 0.
std::optional<int> int_member(const cJSON* object, const char* name);
// A text member; any other type counts as absent.
std::optional<std::string> text_member(const cJSON* object, const char* name);

// json printed in cJSON's formatted form, in the chunked reply frame. Its
// texts (stored records, file names) are made valid UTF-8 as the WebSocket
// replies are (json_text.h), so the reply is always strict JSON.
StringResponse formatted_reply(const cJSON* json, const HttpRequest& req);
// The text as it stands, in the chunked reply frame.
StringResponse json_reply(std::string text, const HttpRequest& req);

// {"code":200,"data":{"status":"success"}} or "failed", formatted.
StringResponse status_reply(bool success, const HttpRequest& req);

// A file route that cannot serve: 404 with an empty body, so that the
// browser sees the end at once.
StringResponse not_found_reply(const HttpRequest& req);

}  // namespace web
