// The service's view of the server: one WebSocket client, and the handlers
// the server calls. Everything here runs on the web thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ukit/http_types.h"

namespace web {

// The close codes the service sends.
enum class CloseCode : std::uint16_t {
    normal = 1000,            // a newer client took over
    going_away = 1001,        // the service shuts down
    policy_violation = 1008,  // the client fell too far behind in reading
};

class WsConnection {
public:
    virtual ~WsConnection() = default;
    WsConnection(const WsConnection&) = delete;
    WsConnection& operator=(const WsConnection&) = delete;

    // The peer as "ip:port".
    const std::string& address() const { return address_; }

    // Queues one text frame; frames go out in the order queued. A client
    // whose queue would pass its bounds is closed with 1008 instead.
    virtual void send_text(std::string text) = 0;
    // Queues a close frame with the code and the reason, after the frames
    // already queued; nothing is sent after it.
    virtual void send_close(CloseCode code, std::string reason) = 0;

protected:
    explicit WsConnection(std::string address) : address_(std::move(address)) {}

private:
    std::string address_;
};

class WebEvents {
public:
    virtual ~WebEvents() = default;
    // A WebSocket handshake request whose Host header passed the check;
    // false refuses it with 403.
    virtual bool on_ws_upgrade(const HttpRequest& req) = 0;
    // A plain HTTP request whose Host header passed the check.
    virtual HttpResponse on_http_request(const HttpRequest& req) = 0;
    // The Content-Security-Policy of every HTTP reply, refusals too: which
    // pages may frame the service's own.
    virtual const std::string& frame_ancestors() const = 0;
    // A WebSocket handshake completed.
    virtual void on_ws_open(const std::shared_ptr<WsConnection>& c) = 0;
    // A text frame arrived (binary ones are logged and dropped).
    virtual void on_ws_frame(const std::shared_ptr<WsConnection>& c, std::string_view payload) = 0;
    // An open WebSocket connection ended.
    virtual void on_ws_close(const std::shared_ptr<WsConnection>& c) = 0;
};

}  // namespace web
