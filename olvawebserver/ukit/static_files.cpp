#include "ukit/static_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "base/logger.h"
#include "ukit/http_util.h"
#include "ukit/json_text.h"

namespace web {
namespace {

struct ContentType {
    const char* extension;
    const char* type;
};

constexpr ContentType kContentTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".htm", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".json", "application/json"},
    {".txt", "text/plain; charset=utf-8"},
    {".log", "text/plain; charset=utf-8"},
    {".png", "image/png"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".gif", "image/gif"},
    {".svg", "image/svg+xml"},
    {".ico", "image/x-icon"},
    {".wav", "audio/wav"},
    {".mp3", "audio/mpeg"},
};

// Made valid UTF-8 too: the page says it is, and a file name may not be.
std::string html_escape(std::string_view text)
{
    std::string out;
    for (char c : valid_utf8(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// Percent-encodes everything but unreserved characters, for a link.
std::string url_encode(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        }
    }
    return out;
}

namespace fs = std::filesystem;

// The real path of file (links followed) when it lies inside the real root;
// a link to elsewhere, or a file that is not there, gives nothing.
std::optional<fs::path> real_path_inside(const fs::path& real_root, const fs::path& file)
{
    std::error_code ec;
    fs::path real = fs::canonical(file, ec);
    if (ec)
        return std::nullopt;
    const auto [root_end, real_at] = std::mismatch(real_root.begin(), real_root.end(), real.begin(), real.end());
    if (root_end != real_root.end())
        return std::nullopt;
    return real;
}

// A path of our own for the redirect of a folder: its segments encoded and
// empty ones dropped, so that it is never read as "//host/..." (a request
// for "//doc" must not send the browser to http://doc/).
std::string folder_location(std::string_view decoded_path)
{
    std::string location = "/";
    std::size_t start = 0;
    while (start < decoded_path.size()) {
        const std::size_t end = std::min(decoded_path.find('/', start), decoded_path.size());
        if (end > start)
            location += url_encode(decoded_path.substr(start, end - start)) + "/";
        start = end + 1;
    }
    return location;
}

// The decoded request path when it stays below the root, else empty.
std::string safe_path(std::string_view target)
{
    std::string path;
    if (!url_decode(target_path(target), false, path) || !path.starts_with('/'))
        return {};
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0)
            return {};
        start = end + 1;
    }
    return path;
}

// Lists what the web root serves: links that lead out of it are left out.
StringResponse listing(const fs::path& real_root, const fs::path& dir, const std::string& url_path,
                       const HttpRequest& req)
{
    struct Entry {
        std::string name;
        bool directory;
        std::uintmax_t size;
    };
    std::vector<Entry> entries;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(dir, ec)) {
        if (!real_path_inside(real_root, item.path()))
            continue;
        std::error_code ignored;
        const bool directory = item.is_directory(ignored);
        const std::uintmax_t size = directory ? 0 : item.file_size(ignored);
        entries.push_back({item.path().filename().string(), directory,
                           size == static_cast<std::uintmax_t>(-1) ? 0 : size});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });

    const std::string title = "Index of " + html_escape(url_path);
    std::string body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                       "</title></head>\n<body><h1>" + title + "</h1>\n<table>\n";
    if (url_path != "/")
        body += "<tr><td><a href=\"../\">../</a></td><td></td></tr>\n";
    for (const Entry& e : entries) {
        const std::string shown = e.name + (e.directory ? "/" : "");
        body += "<tr><td><a href=\"" + url_encode(e.name) + (e.directory ? "/" : "") + "\">" +
                html_escape(shown) + "</a></td><td>" +
                (e.directory ? std::string("-") : std::to_string(e.size)) + "</td></tr>\n";
    }
    body += "</table></body></html>\n";

    StringResponse res{http::status::ok, req.version()};
    res.set(http::field::content_type, "text/html; charset=utf-8");
    res.body() = req.method() == http::verb::head ? std::string() : std::move(body);
    res.keep_alive(req.keep_alive());
    if (req.method() == http::verb::head)
        res.content_length(body.size());
    else
        res.prepare_payload();
    return res;
}

// file is the real path; the content type follows the name asked for.
HttpResponse file_reply(const std::string& file, const std::string& asked, const HttpRequest& req)
{
    std::string error;
    if (std::optional<HttpResponse> res = file_response(file, content_type_of(asked), req, error))
        return std::move(*res);
    logger(2, "userver", "", "   open file name (%s) failed: %s", file.c_str(), error.c_str());
    return text_reply(http::status::not_found, "not found\n", req.version(), req.keep_alive());
}

}  // namespace

std::optional<HttpResponse> file_response(const std::string& file, const char* content_type,
                                          const HttpRequest& req, std::string& error)
{
    http::file_body::value_type body;
    boost::beast::error_code ec;
    body.open(file.c_str(), boost::beast::file_mode::scan, ec);
    if (ec) {
        error = ec.message();
        return std::nullopt;
    }
    const std::uint64_t size = body.size();
    if (req.method() == http::verb::head) {
        StringResponse res{http::status::ok, req.version()};
        res.set(http::field::content_type, content_type);
        res.content_length(size);
        res.keep_alive(req.keep_alive());
        return res;
    }
    FileResponse res{std::piecewise_construct, std::make_tuple(std::move(body)),
                     std::make_tuple(http::status::ok, req.version())};
    res.set(http::field::content_type, content_type);
    res.content_length(size);
    res.keep_alive(req.keep_alive());
    return res;
}

const char* content_type_of(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos) {
        std::string extension = path.substr(dot);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (const ContentType& row : kContentTypes) {
            if (extension == row.extension)
                return row.type;
        }
    }
    return "application/octet-stream";
}

HttpResponse serve_static(const std::string& root, const HttpRequest& req)
{
    if (req.method() != http::verb::get && req.method() != http::verb::head)
        return text_reply(http::status::method_not_allowed, "method not allowed\n",
                          req.version(), req.keep_alive());
    const std::string path = safe_path(req.target());
    if (path.empty())
        return text_reply(http::status::bad_request, "bad path\n", req.version(),
                          req.keep_alive());

    const std::string full = root + path;
    std::error_code ec;
    const fs::path real_root = fs::canonical(root, ec);
    const std::optional<fs::path> real = ec ? std::nullopt : real_path_inside(real_root, full);
    if (!real) {
        if (fs::exists(fs::symlink_status(full, ec)))
            logger(2, "userver", "", "   refused file (%.512s): its real path lies outside the web root",
                   full.c_str());
        return text_reply(http::status::not_found, "not found\n", req.version(), req.keep_alive());
    }
    const auto status = fs::status(*real, ec);
    if (fs::is_directory(status)) {
        if (!path.ends_with('/')) {
            StringResponse res{http::status::moved_permanently, req.version()};
            res.set(http::field::location, folder_location(path));
            res.keep_alive(req.keep_alive());
            res.prepare_payload();
            return res;
        }
        const std::optional<fs::path> index = real_path_inside(real_root, *real / "index.html");
        if (index && fs::is_regular_file(*index, ec))
            return file_reply(index->string(), "index.html", req);
        return listing(real_root, *real, path, req);
    }
    if (fs::is_regular_file(status))
        return file_reply(real->string(), full, req);
    return text_reply(http::status::not_found, "not found\n", req.version(), req.keep_alive());
}

}  // namespace web
