// The WebSocket client of the tests over a plain or a TLS stream. Its three
// asynchronous operations (handshake, read, write) are each compiled in a
// file of their own for each kind of stream: web_client_ws_plain.h,
// web_client_ws_tls.h.
#pragma once

#include <deque>
#include <type_traits>

#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include "support/web_client_streams.h"

namespace olva_test::web_client_detail {

namespace http = beast::http;
namespace websocket = beast::websocket;

template <class Stream>
class WsClientImpl final : public WsClient {
public:
    explicit WsClientImpl(std::shared_ptr<asio::ssl::context> tls)
        : tls_(std::move(tls)), ws_(make_stream())
    {
    }

    ~WsClientImpl() override
    {
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
        ioc_.restart();
        ioc_.poll();
    }

    bool open(const ClientOptions& options, std::string* error, int* status);

    bool send(const std::string& text) override { return write(text, true); }
    bool send_binary(const std::string& bytes) override { return write(bytes, false); }

    std::optional<std::string> read(std::chrono::milliseconds timeout) override
    {
        run_until(ioc_, [&] { return !messages_.empty() || ended_; }, timeout);
        if (messages_.empty())
            return std::nullopt;
        std::string message = std::move(messages_.front());
        messages_.pop_front();
        return message;
    }

    bool wait_closed(std::chrono::milliseconds timeout) override
    {
        return run_until(ioc_, [&] { return ended_; }, timeout);
    }

    bool got_close_frame() const override { return close_frame_; }
    int close_code() const override { return close_code_; }
    std::string close_reason() const override { return close_reason_; }

private:
    // Without permessage-deflate, which the server never takes: its code
    // would only cost build time.
    using WsStream = websocket::stream<Stream, false>;

    WsStream make_stream()
    {
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>)
            return WsStream(ioc_);
        else
            return WsStream(ioc_, *tls_);
    }

    bool write(const std::string& text, bool as_text);
    void start_read();

    asio::io_context ioc_;
    std::shared_ptr<asio::ssl::context> tls_;
    WsStream ws_;
    beast::flat_buffer buffer_;
    std::deque<std::string> messages_;
    bool ended_ = false;
    bool close_frame_ = false;
    int close_code_ = 0;
    std::string close_reason_;
};

// Defined out of the class, so that a file may leave them to another with
// an extern template declaration.
template <class Stream>
bool WsClientImpl<Stream>::open(const ClientOptions& options, std::string* error, int* status)
{
    beast::error_code ec = open_stream(ioc_, ws_.next_layer(), options);
    if (!ec) {
        websocket::response_type response;
        bool done = false;
        ws_.set_option(websocket::stream_base::decorator(
            [origin = options.origin, headers = options.headers](websocket::request_type& req) {
                if (!origin.empty())
                    req.set(http::field::origin, origin);
                for (const auto& [name, value] : headers)
                    req.set(name, value);
            }));
        ws_.async_handshake(response, host_of(options), options.target, [&](beast::error_code handshake_ec) {
            ec = handshake_ec;
            done = true;
        });
        if (!run_until(ioc_, [&] { return done; }, kWait))
            ec = asio::error::timed_out;
        if (status)
            *status = static_cast<int>(response.result_int());
    }
    if (ec) {
        if (error)
            *error = ec.message();
        return false;
    }
    start_read();
    return true;
}

template <class Stream>
bool WsClientImpl<Stream>::write(const std::string& text, bool as_text)
{
    bool done = false;
    beast::error_code result;
    ws_.text(as_text);
    ws_.async_write(asio::buffer(text), [&](beast::error_code ec, std::size_t) {
        result = ec;
        done = true;
    });
    return run_until(ioc_, [&] { return done; }, kWait) && !result;
}

template <class Stream>
void WsClientImpl<Stream>::start_read()
{
    ws_.async_read(buffer_, [this](beast::error_code ec, std::size_t) {
        if (ec) {
            ended_ = true;
            if (ec == websocket::error::closed) {
                close_frame_ = true;
                close_code_ = ws_.reason().code;
                close_reason_ = std::string(ws_.reason().reason.c_str());
            }
            return;
        }
        messages_.push_back(beast::buffers_to_string(buffer_.cdata()));
        buffer_.consume(buffer_.size());
        start_read();
    });
}

}  // namespace olva_test::web_client_detail
