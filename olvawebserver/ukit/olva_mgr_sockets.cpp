// Connection events from the server, the reply texts and the keeping of one
// client only. All on the web thread.
#include "ukit/olva_mgr.h"

#include <algorithm>
#include <chrono>

#include "base/logger.h"
#include "ukit/http_util.h"
#include "ukit/json_text.h"

namespace {

// The close reason of the farewell at shut-down.
constexpr const char* kGoingAway = "going away";
// A browser answers a close frame at once; one that does not is not waited
// for longer than this.
constexpr auto kFarewellTimeout = std::chrono::seconds(1);

// The connection events, as their exception log lines number them.
enum WebEvent { kEvClose = 1, kEvHttpRequest = 2, kEvHandshakeDone = 3, kEvFrame = 4 };

// An exception while one event is handled is logged and ends that event.
template <class Work>
void guarded(WebEvent ev, Work&& work)
{
    try {
        work();
    } catch (...) {
        logger(1, "userver", "", " ev:%d except", ev);
    }
}

}  // namespace

bool COlvaMgr::origin_allowed(const web::HttpRequest& req)
{
    const web::OriginVerdict verdict = origins_.judge(req);
    if (verdict.outcome == web::OriginVerdict::allowed)
        return true;
    if (!origins_.first_refusal(verdict.origin))
        return false;
    if (verdict.outcome == web::OriginVerdict::foreign_origin)
        logger(1, "userver", "", " refused a page of origin (%s): not local and not in allowed_origins",
               verdict.origin.c_str());
    else
        logger(1, "userver", "", " refused a request of another site that names no origin: "
                                 "neither Origin nor a Referer with one");
    return false;
}

const std::string& COlvaMgr::frame_ancestors() const
{
    return origins_.frame_ancestors();
}

bool COlvaMgr::on_ws_upgrade(const web::HttpRequest& req)
{
    return origin_allowed(req);
}

web::HttpResponse COlvaMgr::on_http_request(const web::HttpRequest& req)
{
    web::HttpResponse res = web::text_reply(web::http::status::internal_server_error,
                                            "internal error\n", req.version(), false);
    guarded(kEvHttpRequest, [&] { res = route_http_request(req); });
    return res;
}

void COlvaMgr::on_ws_open(const std::shared_ptr<web::WsConnection>& c)
{
    guarded(kEvHandshakeDone, [&] {
        const std::string greeting = web::greeting_text(work_dir_);
        logger(-1, "userver", "", "new connect from %s --%s", c->address().c_str(), greeting.c_str());
        ws_connections_.push_back(c);
        // A handshake that ends during the farewell gets the farewell.
        if (leaving_)
            return c->send_close(web::CloseCode::going_away, kGoingAway);
        send_msg(*c, greeting);
        close_other_socket(*c);
    });
}

void COlvaMgr::on_ws_frame(const std::shared_ptr<web::WsConnection>& c, std::string_view payload)
{
    guarded(kEvFrame, [&] { handle_recv_event(*c, payload); });
}

void COlvaMgr::on_ws_close(const std::shared_ptr<web::WsConnection>& c)
{
    guarded(kEvClose, [&] {
        logger(-1, "userver", "", "disconnect connect from %s --%s", c->address().c_str(),
               web::kFarewellText);
        std::erase(ws_connections_, c);
        note_if_all_left();
    });
}

void COlvaMgr::bid_farewell()
{
    {
        std::lock_guard lock(farewell_mutex_);
        all_left_ = false;
    }
    post_to_web([this] {
        leaving_ = true;
        logger(-1, "userver", "", " closing %zu websocket connections: going away", ws_connections_.size());
        for (const auto& c : ws_connections_)
            c->send_close(web::CloseCode::going_away, kGoingAway);
        server_->close();
        note_if_all_left();
    });
    std::unique_lock lock(farewell_mutex_);
    if (!farewell_done_.wait_for(lock, kFarewellTimeout, [this] { return all_left_; }))
        logger(2, "userver", "", " websocket clients did not answer the close in time: dropped");
}

void COlvaMgr::note_if_all_left()
{
    if (!leaving_ || !ws_connections_.empty())
        return;
    {
        std::lock_guard lock(farewell_mutex_);
        all_left_ = true;
    }
    farewell_done_.notify_all();
}

void COlvaMgr::close_other_socket(const web::WsConnection& keep)
{
    if (keep_only_conncet == 0)
        return;
    logger(-1, "userver", "", " close socket");
    for (const auto& c : ws_connections_) {
        if (c.get() == &keep) {
            logger(-1, "userver", "", " not close addr:%s connect", c->address().c_str());
        } else {
            logger(-1, "userver", "", " close addr:%s to connect", c->address().c_str());
            c->send_close(web::CloseCode::normal, web::kFarewellText);
        }
    }
}

void COlvaMgr::broadcast(const std::string& text)
{
    for (const auto& c : ws_connections_)
        c->send_text(text);
}

void COlvaMgr::send_msg(web::WsConnection& c, const std::string& text)
{
    c.send_text(text);
}

void COlvaMgr::send_notiy_msg(web::WsConnection& c, const char* name, int handle, int result)
{
    const std::string text = web::notify_text(name, handle, result);
    logger(-1, "userver", "", "send error msg:%s", text.c_str());
    c.send_text(text);
}

void COlvaMgr::send_answer_msg(web::WsConnection& c, const char* name, int handle,
                               const std::string& value)
{
    c.send_text(web::answer_text(name, handle, value));
}

void COlvaMgr::send_upload_result(web::WsConnection& c, const std::string& result_json)
{
    c.send_text(web::upload_result_text(result_json));
}
