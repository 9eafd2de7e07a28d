// Text from outside the service (an upload server's reply) is parsed and
// printed again before any browser sees it, so that every frame sent is
// valid UTF-8 (a browser drops a connection over a text frame that is not)
// and strict JSON (JSON.parse refuses what cJSON lets pass). cJSON alone is
// lenient: it takes numbers such as 01, 1. and -.5, raw control characters
// inside strings, any byte up to a blank between tokens, and bytes that are
// not UTF-8. The text is first checked against the strict grammar here;
// only then cJSON parses and prints it. Pure text work: no I/O.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace web {

// Whether text is one JSON value (RFC 8259, blanks around it allowed) in
// valid UTF-8. An escaped NUL (\u0000) is refused too: cJSON would end the
// string there, and the text printed again would not say what was sent.
bool is_strict_json(std::string_view text);

// The value printed again by cJSON without blanks, when is_strict_json.
std::optional<std::string> reprint_strict_json(std::string_view text);

}  // namespace web
