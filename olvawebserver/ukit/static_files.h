// Static files from the web root: GET and HEAD of files below it, index.html
// for a directory that has one, else a listing of the directory.
#pragma once

#include <optional>
#include <string>

#include "ukit/http_types.h"

namespace web {

// root is the web root directory, without a final '/'.
HttpResponse serve_static(const std::string& root, const HttpRequest& req);

// The file as the reply (headers only for HEAD), or nothing with the reason
// in error when it cannot be opened.
std::optional<HttpResponse> file_response(const std::string& file, const char* content_type,
                                          const HttpRequest& req, std::string& error);

// The content type for a file name, by its extension.
const char* content_type_of(const std::string& path);

}  // namespace web
