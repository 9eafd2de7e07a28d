// Small pieces of HTTP of our own: the Host check, URL decoding, query
// variables and the chunked JSON reply.
#pragma once

#include <string>
#include <string_view>

#include "ukit/http_types.h"

namespace web {

// True when a Host header names this machine's loopback: localhost,
// 127.0.0.1 or [::1], with or without a port. Anything else is refused, so
// that a page of another site cannot reach the service by rebinding its
// own name to 127.0.0.1.
bool is_local_host(std::string_view host);

// Decodes %XX escapes, and '+' as a blank when form is set. Returns false
// for a broken escape or an encoded NUL.
bool url_decode(std::string_view text, bool form, std::string& out);

// The longest query variable value accepted.
constexpr std::size_t kMaxQueryValue = 1023;

// The URL-decoded value of the first variable called name (compared without
// regard to case) in a query string such as "filename=a.wav&x=1".
// Returns the value's length, -1 when it is missing or badly encoded, -2
// when it is longer than max_length.
int get_query_var(std::string_view query, std::string_view name, std::string& value,
                  std::size_t max_length = kMaxQueryValue);

// Path and query of a request target ("/a/b?x=1" gives "/a/b" and "x=1").
std::string_view target_path(std::string_view target);
std::string_view target_query(std::string_view target);

// The reply frame of the JSON routes: status 200, "application/json",
// chunked, the text as one chunk and then the empty chunk.
StringResponse json_chunked_reply(std::string json, unsigned version, bool keep_alive);

// A short plain-text reply for errors.
StringResponse text_reply(http::status status, std::string text, unsigned version,
                          bool keep_alive);

}  // namespace web
