// The routes of the HTTP API, tried in order against the request's path
// (without its query); the first that matches handles the request. Every
// route, reads too, is refused to pages that the origin policy does not
// allow: records and settings are for the user's own pages only.
#include "ukit/http_util.h"
#include "ukit/olva_mgr.h"
#include "ukit/static_files.h"

std::span<const COlvaMgr::HttpRoute> COlvaMgr::http_routes()
{
    static constexpr HttpRoute kRoutes[] = {
        {false, "/addRecord", &COlvaMgr::AddRecord},
        {false, "/getRecord", &COlvaMgr::GetRecord},
        {false, "/playaudiofile", &COlvaMgr::PlayAudioFile},
        {false, "/deleteRecord", &COlvaMgr::DeleteRecord},
        {false, "/getRecordCount", &COlvaMgr::GetRecordCount},
        {false, "/SetBaseConfigParam", &COlvaMgr::SetBaseConfigParam},
        {false, "/SetVoltageConfigParam", &COlvaMgr::SetVoltageConfigParam},
        {false, "/SetDialConfigParam", &COlvaMgr::SetDialConfigParam},
        {false, "/GetConfigParam", &COlvaMgr::GetConfigParam},
        {false, "/getLog", &COlvaMgr::GetLog},
        {true, "/downloadwav", &COlvaMgr::DownloadAudioFile},
        {true, "/downloadlogfile", &COlvaMgr::DownloadLogFile},
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
        if (!origin_allowed(req))
            return web::text_reply(web::http::status::forbidden, "forbidden origin\n", req.version(), false);
        return (this->*route.handle)(req);
    }
    return web::serve_static(app_dir_ + "webroot", req);
}
