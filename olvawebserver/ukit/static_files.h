// Static files from the web root: GET and HEAD of files below it, index.html
// for a directory that has one, else a listing of the directory.
#pragma once

#include <string>

#include "ukit/http_types.h"

namespace web {

// root is the web root directory, without a final '/'.
HttpResponse serve_static(const std::string& root, const HttpRequest& req);

// The content type for a file name, by its extension.
const char* content_type_of(const std::string& path);

}  // namespace web
