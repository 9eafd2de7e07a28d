// The HTTP messages the server reads and writes.
#pragma once

#include <variant>

#include <boost/beast/http.hpp>

namespace web {

namespace http = boost::beast::http;

using HttpRequest = http::request<http::string_body>;
using StringResponse = http::response<http::string_body>;
using FileResponse = http::response<http::file_body>;
using HttpResponse = std::variant<StringResponse, FileResponse>;

}  // namespace web
