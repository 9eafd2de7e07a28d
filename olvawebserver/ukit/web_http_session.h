// An accepted connection speaking HTTP/1.1 until a WebSocket upgrade.
#pragma once

#include <optional>

#include <boost/asio/ssl/stream_base.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "base/logger.h"
#include "ukit/http_util.h"
#include "ukit/web_session_common.h"

namespace web::session {

namespace websocket = beast::websocket;

template <class Stream>
class HttpSession final : public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream&& stream, WebEvents& events, std::string address, ConnectionSlot slot)
        : stream_(std::move(stream)), events_(events), address_(std::move(address)), slot_(std::move(slot))
    {
    }

    void run()
    {
        if constexpr (kIsTls<Stream>) {
            beast::get_lowest_layer(stream_).expires_after(kTlsHandshakeTimeout);
            stream_.async_handshake(asio::ssl::stream_base::server,
                                    beast::bind_front_handler(&HttpSession::on_handshake,
                                                              this->shared_from_this()));
        } else {
            do_read();
        }
    }

private:
    void on_handshake(beast::error_code ec)
    {
        if (ec) return fail(ec, "tls handshake");
        do_read();
    }

    void do_read()
    {
        parser_.emplace();
        parser_->body_limit(kMaxRequestBody);
        parser_->header_limit(kMaxRequestHeader);
        beast::get_lowest_layer(stream_).expires_after(kHttpTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&HttpSession::on_read, this->shared_from_this()));
    }

    void on_read(beast::error_code ec, std::size_t)
    {
        if (ec) return on_read_error(ec);
        HttpRequest req = parser_->release();
        const std::string_view host = req[http::field::host];
        if (!is_local_host(host)) {
            logger(1, "userver", "", " refused request from %s for host (%.*s)", address_.c_str(),
                   static_cast<int>(std::min<std::size_t>(host.size(), 64)), host.data());
            return send(text_reply(http::status::forbidden, "forbidden host\n", req.version(), false));
        }
        if (websocket::is_upgrade(req)) {
            if (!events_.on_ws_upgrade(req))
                return send(text_reply(http::status::forbidden, "forbidden origin\n", req.version(), false));
            beast::get_lowest_layer(stream_).expires_never();
            start_ws_session(std::move(stream_), events_, address_, std::move(slot_), std::move(req));
            return;
        }
        send(events_.on_http_request(req));
    }

    void on_read_error(const beast::error_code& ec)
    {
        if (ec == http::error::body_limit || ec == http::error::header_limit) {
            return send(text_reply(http::status::payload_too_large, "request too large\n", 11, false));
        }
        if (ec == http::error::end_of_stream)
            return do_close();
        fail(ec, "http read");
    }

    void send(HttpResponse res)
    {
        response_ = std::move(res);
        std::visit(
            [this](auto& message) {
                // Refusals too: only the service's own pages and the allowed
                // ones may frame it. Browsers without CSP read the second.
                message.set("Content-Security-Policy", events_.frame_ancestors());
                message.set(http::field::x_frame_options, "SAMEORIGIN");
                keep_alive_ = message.keep_alive();
                beast::get_lowest_layer(stream_).expires_after(kHttpTimeout);
                http::async_write(stream_, message,
                                  beast::bind_front_handler(&HttpSession::on_write,
                                                            this->shared_from_this()));
            },
            response_);
    }

    void on_write(beast::error_code ec, std::size_t)
    {
        if (ec) return fail(ec, "http write");
        response_ = StringResponse();
        if (!keep_alive_)
            return do_close();
        do_read();
    }

    void do_close()
    {
        if constexpr (kIsTls<Stream>) {
            beast::get_lowest_layer(stream_).expires_after(kTlsHandshakeTimeout);
            stream_.async_shutdown(
                beast::bind_front_handler(&HttpSession::on_shutdown, this->shared_from_this()));
        } else {
            beast::error_code ignored;
            stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        }
    }

    void on_shutdown(beast::error_code ec)
    {
        if (ec) return fail(ec, "tls shutdown");
    }

    Stream stream_;
    WebEvents& events_;
    std::string address_;
    ConnectionSlot slot_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpResponse response_;
    bool keep_alive_ = false;
};

}  // namespace web::session
