// The file routes: the list of log files, a log file by name, and recorded
// audio files. A file route that cannot serve answers 404 with an empty body.
#include <cJSON.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include <dirent.h>
#include <sys/stat.h>

#include "base/logger.h"
#include "ukit/file_rules.h"
#include "ukit/http_json.h"
#include "ukit/http_util.h"
#include "ukit/olva_mgr.h"
#include "ukit/static_files.h"

namespace {

constexpr const char* kModule = "olva server";
constexpr const char* kLogDir = "olva-log";
// Files are sent as they are; the page knows what it asked for.
constexpr const char* kFileContentType = "text/plain";

// "%d-%d-%d %d:%d:%d " in local time.
std::string local_time_text(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

// The request's "filename" query variable, or nothing (logged) when there
// is no query, or the variable is missing, empty, badly encoded or too long.
std::optional<std::string> query_filename(const web::HttpRequest& req)
{
    const std::string_view query = web::target_query(req.target());
    if (query.empty())
        return std::nullopt;
    std::string name;
    const int res = web::get_query_var(query, "filename", name);
    if (res <= 0) {
        logger(1, kModule, "", "   get filename failed, res:%d", res);
        return std::nullopt;
    }
    return name;
}

bool exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Logs why name is not served, what is served instead, and answers 404.
web::HttpResponse refuse(const std::string& name, bool found, const char* allowed,
                         const web::HttpRequest& req)
{
    if (found)
        logger(1, kModule, "", "   refused file name (%s): %s only", name.c_str(), allowed);
    else
        logger(1, kModule, "", "   open file name (%s) failed", name.c_str());
    return web::not_found_reply(req);
}

web::HttpResponse send_file(const std::string& path, const web::HttpRequest& req)
{
    std::string error;
    if (std::optional<web::HttpResponse> res = web::file_response(path, kFileContentType, req, error))
        return std::move(*res);
    logger(1, kModule, "", "   open file name (%s) failed", path.c_str());
    return web::not_found_reply(req);
}

}  // namespace

web::HttpResponse COlvaMgr::GetLog(const web::HttpRequest& req)
{
    web::JsonDoc reply(cJSON_CreateObject());
    cJSON_AddNumberToObject(reply.get(), "code", 200);
    cJSON* data = cJSON_AddObjectToObject(reply.get(), "data");
    cJSON* items = cJSON_AddArrayToObject(data, "items");
    int count = 0;
    const std::string dir = work_dir_ + kLogDir + "/";
    if (DIR* listing = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            struct stat st {};
            // Only what the log file route serves: regular files, no links.
            if (name == "." || name == ".." || lstat((dir + name).c_str(), &st) != 0 ||
                !S_ISREG(st.st_mode))
                continue;
            cJSON* item = cJSON_CreateObject();
            cJSON_AddNumberToObject(item, "ID", ++count);
            cJSON_AddNumberToObject(item, "fileSize", static_cast<double>(st.st_size));
            cJSON_AddStringToObject(item, "fileName", name.c_str());
            cJSON_AddStringToObject(item, "createTime", local_time_text(st.st_atime).c_str());
            cJSON_AddStringToObject(item, "lastWriteTime", local_time_text(st.st_mtime).c_str());
            cJSON_AddItemToArray(items, item);
        }
        closedir(listing);
    }
    cJSON_AddNumberToObject(data, "size", count);
    return web::formatted_reply(reply.get(), req);
}

web::HttpResponse COlvaMgr::PlayAudioFile(const web::HttpRequest& req)
{
    const std::string query(web::target_query(req.target()));
    logger(-1, kModule, "", "   recv query string:%s", query.empty() ? "null" : query.c_str());
    return serve_audio_file(req, true);
}

web::HttpResponse COlvaMgr::DownloadAudioFile(const web::HttpRequest& req)
{
    return serve_audio_file(req, false);
}

web::HttpResponse COlvaMgr::serve_audio_file(const web::HttpRequest& req, bool log_play)
{
    const std::optional<std::string> name = query_filename(req);
    if (!name)
        return web::not_found_reply(req);
    if (log_play)
        logger(-1, kModule, "", "  play filename(%s)", name->c_str());
    // A relative name starts at the current directory, the application's.
    const std::optional<std::string> path = web::audio_file_path(*name);
    if (!path)
        return refuse(*name, exists(*name), "regular .wav and .mp3 files", req);
    return send_file(*path, req);
}

web::HttpResponse COlvaMgr::DownloadLogFile(const web::HttpRequest& req)
{
    const std::optional<std::string> name = query_filename(req);
    if (!name)
        return web::not_found_reply(req);
    const std::string dir = work_dir_ + kLogDir + "/";
    const std::optional<std::string> path = web::log_file_path(dir, *name);
    if (!path) {
        const char* allowed = "regular files of the log directory by their bare names";
        if (!web::is_bare_file_name(*name))
            return refuse(*name, true, allowed, req);
        return refuse(dir + *name, exists(dir + *name), allowed, req);
    }
    return send_file(*path, req);
}
