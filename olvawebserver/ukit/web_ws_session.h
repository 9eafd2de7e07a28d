// A WebSocket connection over a stream handed on by its HTTP session. Its
// three asynchronous operations (accept, read, write) are each compiled in a
// file of their own for each kind of stream: web_ws_plain.h, web_ws_tls.h.
#pragma once

#include <deque>

#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include "base/logger.h"
#include "ukit/web_session_common.h"

namespace web::session {

namespace websocket = beast::websocket;

template <class Stream>
class WsSession final : public WsConnection,
                        public std::enable_shared_from_this<WsSession<Stream>> {
public:
    WsSession(Stream&& stream, WebEvents& events, std::string address, ConnectionSlot slot)
        : WsConnection(std::move(address)), ws_(std::move(stream)), events_(events), slot_(std::move(slot))
    {
    }

    void run(HttpRequest req)
    {
        req_ = std::move(req);
        ws_.set_option(websocket::stream_base::timeout{kWsHandshakeTimeout, kWsIdleTimeout, true});
        ws_.read_message_max(kMaxFrameSize);
        do_accept();
    }

    void send_text(std::string text) override
    {
        if (closing_)
            return;
        if (queue_.size() >= kMaxQueuedFrames || queued_bytes_ + text.size() > kMaxQueuedBytes)
            return fell_behind();
        queued_bytes_ += text.size();
        queue_.push_back({false, CloseCode::normal, std::move(text)});
        if (queue_.size() == 1)
            do_write();
    }

    void send_close(CloseCode code, std::string reason) override
    {
        if (closing_)
            return;
        closing_ = true;
        queue_.push_back({true, code, std::move(reason)});
        if (queue_.size() == 1)
            do_write();
    }

private:
    struct Outgoing {
        bool close;
        CloseCode code;    // of a close frame
        std::string text;  // the frame, or the close reason
    };

    // The frames waiting behind the one being written are dropped; the close
    // goes out once the client reads again, or the idle time-out ends it.
    void fell_behind()
    {
        logger(1, "userver", "", " %s reads too slowly: %zu frames of %zu bytes queued, closed", address().c_str(),
               queue_.size(), queued_bytes_);
        if (!queue_.empty()) {
            queue_.erase(queue_.begin() + 1, queue_.end());
            queued_bytes_ = queue_.front().text.size();
        }
        send_close(CloseCode::policy_violation, "send queue full");
    }

    void do_accept();

    void on_accept(beast::error_code ec)
    {
        if (ec) return fail(ec, "websocket accept");
        open_ = true;
        events_.on_ws_open(this->shared_from_this());
        do_read();
    }

    void do_read();

    void on_read(beast::error_code ec, std::size_t)
    {
        if (ec) return ended(ec);
        const std::string payload = beast::buffers_to_string(buffer_.cdata());
        buffer_.consume(buffer_.size());
        // Commands are JSON texts; a binary frame carries none.
        if (ws_.got_binary())
            logger(1, "userver", "", "recv from %s a binary frame of %zu bytes: ignored", address().c_str(),
                   payload.size());
        else
            events_.on_ws_frame(this->shared_from_this(), payload);
        do_read();
    }

    void ended(const beast::error_code& ec)
    {
        fail(ec, "websocket read");
        closing_ = true;
        if (open_) {
            open_ = false;
            events_.on_ws_close(this->shared_from_this());
        }
    }

    void do_write();

    void on_write(beast::error_code ec, std::size_t)
    {
        if (ec) return fail(ec, "websocket write");
        queued_bytes_ -= queue_.front().text.size();
        queue_.pop_front();
        if (!queue_.empty())
            do_write();
    }

    void on_close(beast::error_code ec)
    {
        if (ec) return fail(ec, "websocket close");
        queue_.pop_front();
    }

    // Without permessage-deflate, which the server never offers: its code
    // would only cost build time.
    websocket::stream<Stream, false> ws_;
    WebEvents& events_;
    ConnectionSlot slot_;
    HttpRequest req_;
    beast::flat_buffer buffer_;
    std::deque<Outgoing> queue_;  // front: the frame being written
    std::size_t queued_bytes_ = 0;  // of the text frames in queue_
    bool open_ = false;           // handshake done, not yet ended
    bool closing_ = false;        // close frame queued, or the connection ended
};

// Defined out of the class, so that a file may leave them to another with
// an extern template declaration.
template <class Stream>
void WsSession<Stream>::do_accept()
{
    ws_.async_accept(req_, beast::bind_front_handler(&WsSession::on_accept, this->shared_from_this()));
}

template <class Stream>
void WsSession<Stream>::do_read()
{
    ws_.async_read(buffer_, beast::bind_front_handler(&WsSession::on_read, this->shared_from_this()));
}

template <class Stream>
void WsSession<Stream>::do_write()
{
    Outgoing& next = queue_.front();
    if (next.close) {
        ws_.async_close(websocket::close_reason(static_cast<websocket::close_code>(next.code), next.text),
                        beast::bind_front_handler(&WsSession::on_close, this->shared_from_this()));
        return;
    }
    ws_.text(true);
    ws_.async_write(asio::buffer(next.text),
                    beast::bind_front_handler(&WsSession::on_write, this->shared_from_this()));
}

template <class Stream>
void start_ws_session(Stream&& stream, WebEvents& events, std::string address, ConnectionSlot slot,
                      HttpRequest req)
{
    std::make_shared<WsSession<Stream>>(std::move(stream), events, std::move(address), std::move(slot))
        ->run(std::move(req));
}

}  // namespace web::session
