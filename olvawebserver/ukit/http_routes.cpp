// The routes of the HTTP API, tried in order against the request's path
// (without its query); the first that matches handles the request. A route
// that changes records, settings or files is refused to pages of other
// sites.
#include "ukit/http_util.h"
#include "ukit/olva_mgr.h"
#include "ukit/static_files.h"

std::span<const COlvaMgr::HttpRoute> COlvaMgr::http_routes()
{
    static constexpr HttpRoute kRoutes[] = {
        {false, "/addRecord", &COlvaMgr::AddRecord, true},
        {false, "/getRecord", &COlvaMgr::GetRecord, false},
        {false, "/playaudiofile", &COlvaMgr::PlayAudioFile, false},
        {false, "/deleteRecord", &COlvaMgr::DeleteRecord, true},
        {false, "/getRecordCount", &COlvaMgr::GetRecordCount, false},
        {false, "/SetBaseConfigParam", &COlvaMgr::SetBaseConfigParam, true},
        {false, "/SetVoltageConfigParam", &COlvaMgr::SetVoltageConfigParam, true},
        {false, "/SetDialConfigParam", &COlvaMgr::SetDialConfigParam, true},
        {false, "/GetConfigParam", &COlvaMgr::GetConfigParam, false},
        {false, "/getLog", &COlvaMgr::GetLog, false},
        {true, "/downloadwav", &COlvaMgr::DownloadAudioFile, false},
        {true, "/downloadlogfile", &COlvaMgr::DownloadLogFile, false},
    };
    return kRoutes;
}

std::vector<std::string_view> COlvaMgr::route_paths()
{
    std::vector<std::string_view> paths;
    for (const HttpRoute& route : http_routes())
        paths.push_back(route.path);
    return paths;
}

web::HttpResponse COlvaMgr::route_http_request(const web::HttpRequest& req)
{
    const std::string_view path = web::target_path(req.target());
    for (const HttpRoute& route : http_routes()) {
        const bool match = route.contains ? path.find(route.path) != std::string_view::npos
                                          : path == route.path;
        if (!match)
            continue;
        if (route.changes_state && !origin_allowed(req))
            return web::text_reply(web::http::status::forbidden, "forbidden origin\n", req.version(), false);
        return (this->*route.handle)(req);
    }
    return web::serve_static(app_dir_ + "webroot", req);
}
