// Checks on JSON text from outside before cJSON reads it.
#pragma once

#include <string_view>

namespace web {

// True when the text holds a NUL byte, raw or escaped as \u0000 inside a
// string. cJSON keeps its strings NUL-terminated, so either would cut a
// command or member name short: {"event":"getinfo\u0000x"} would read as
// "getinfo". Such a text is no JSON the service takes.
bool holds_nul(std::string_view json);

}  // namespace web
