#include "support/web_client.h"

#include <deque>
#include <type_traits>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

namespace olva_test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using SslStream = beast::ssl_stream<beast::tcp_stream>;
using Clock = std::chrono::steady_clock;

// Runs handlers until done() holds or the time-out ends.
template <class Done>
bool run_until(asio::io_context& ioc, Done done, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        if (ioc.stopped())
            ioc.restart();
        ioc.run_one_for(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
    }
    return true;
}

std::shared_ptr<asio::ssl::context> client_tls(const ClientOptions& options)
{
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    if (!options.ca_file.empty())
        context->load_verify_file(options.ca_file);
    context->set_verify_mode(asio::ssl::verify_peer);
    return context;
}

std::string host_of(const ClientOptions& options)
{
    return options.host.empty() ? "localhost:" + std::to_string(options.port) : options.host;
}

// Connects the lowest layer and, for TLS, makes the TLS handshake.
template <class Stream>
beast::error_code open_stream(asio::io_context& ioc, Stream& stream, const ClientOptions& options)
{
    beast::error_code result;
    bool done = false;
    const tcp::endpoint endpoint(asio::ip::make_address(options.address), options.port);
    beast::get_lowest_layer(stream).async_connect(endpoint, [&](beast::error_code ec) {
        result = ec;
        done = true;
    });
    if (!run_until(ioc, [&] { return done; }, kWait))
        return asio::error::timed_out;
    if (result)
        return result;
    if constexpr (std::is_same_v<Stream, SslStream>) {
        SSL_set_tlsext_host_name(stream.native_handle(), "localhost");
        stream.set_verify_callback(asio::ssl::host_name_verification("localhost"));
        done = false;
        stream.async_handshake(asio::ssl::stream_base::client, [&](beast::error_code ec) {
            result = ec;
            done = true;
        });
        if (!run_until(ioc, [&] { return done; }, kWait))
            return asio::error::timed_out;
    }
    return result;
}

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

    bool open(const ClientOptions& options, std::string* error, int* status)
    {
        beast::error_code ec = open_stream(ioc_, ws_.next_layer(), options);
        if (!ec) {
            websocket::response_type response;
            bool done = false;
            if (!options.origin.empty()) {
                ws_.set_option(websocket::stream_base::decorator(
                    [origin = options.origin](websocket::request_type& req) {
                        req.set(http::field::origin, origin);
                    }));
            }
            ws_.async_handshake(response, host_of(options), options.target,
                                [&](beast::error_code handshake_ec) {
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

    bool send(const std::string& text) override { return write(text, true); }
    bool send_binary(const std::string& bytes) override { return write(bytes, false); }

    bool write(const std::string& text, bool as_text)
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
        if constexpr (std::is_same_v<Stream, SslStream>)
            return WsStream(ioc_, *tls_);
        else
            return WsStream(ioc_);
    }

    void start_read()
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

template <class Stream>
HttpResult http_exchange(asio::io_context& ioc, Stream& stream, const ClientOptions& options,
                         const std::string& method, const std::string& body)
{
    HttpResult result;
    if (beast::error_code ec = open_stream(ioc, stream, options)) {
        result.error = ec.message();
        return result;
    }
    http::request<http::string_body> req{http::string_to_verb(method), options.target, 11};
    req.set(http::field::host, host_of(options));
    if (!options.origin.empty())
        req.set(http::field::origin, options.origin);
    req.keep_alive(false);
    if (!body.empty()) {
        req.body() = body;
        req.prepare_payload();
    }
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    if (method == "HEAD")
        parser.skip(true);
    bool done = false;
    beast::error_code failure;
    http::async_write(stream, req, [&](beast::error_code ec, std::size_t) {
        if (ec) {
            failure = ec;
            done = true;
            return;
        }
        http::async_read(stream, buffer, parser, [&](beast::error_code read_ec, std::size_t) {
            failure = read_ec;
            done = true;
        });
    });
    if (!run_until(ioc, [&] { return done; }, kWait))
        failure = asio::error::timed_out;
    if (failure) {
        result.error = failure.message();
        return result;
    }
    const auto& res = parser.get();
    result.status = static_cast<int>(res.result_int());
    for (const auto& field : res) {
        std::string name(field.name_string());
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        result.headers[name] = std::string(field.value());
    }
    result.body = res.body();
    result.chunked = res.chunked();
    return result;
}

}  // namespace

std::unique_ptr<WsClient> WsClient::connect(const ClientOptions& options, std::string* error,
                                            int* status)
{
    if (options.tls) {
        auto client = std::make_unique<WsClientImpl<SslStream>>(client_tls(options));
        if (!client->open(options, error, status))
            return nullptr;
        return client;
    }
    auto client = std::make_unique<WsClientImpl<beast::tcp_stream>>(nullptr);
    if (!client->open(options, error, status))
        return nullptr;
    return client;
}

HttpResult http_request(const ClientOptions& options, const std::string& method,
                        const std::string& body)
{
    asio::io_context ioc;
    if (options.tls) {
        auto tls = client_tls(options);
        SslStream stream(ioc, *tls);
        return http_exchange(ioc, stream, options, method, body);
    }
    beast::tcp_stream stream(ioc);
    return http_exchange(ioc, stream, options, method, body);
}

std::string raw_exchange(const ClientOptions& options, const std::string& request,
                         std::chrono::milliseconds timeout, const std::string& until)
{
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    if (open_stream(ioc, stream, options))
        return {};
    std::string reply;
    bool done = false;
    char chunk[4096];
    std::function<void()> read_more = [&] {
        stream.async_read_some(asio::buffer(chunk), [&](beast::error_code ec, std::size_t n) {
            reply.append(chunk, n);
            if (ec || (!until.empty() && reply.ends_with(until)))
                done = true;
            else
                read_more();
        });
    };
    asio::async_write(stream, asio::buffer(request), [&](beast::error_code ec, std::size_t) {
        if (ec)
            done = true;
        else
            read_more();
    });
    run_until(ioc, [&] { return done; }, timeout);
    return reply;
}

bool tcp_connects(const std::string& address, unsigned short port)
{
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    ClientOptions options;
    options.address = address;
    options.port = port;
    return !open_stream(ioc, stream, options);
}

}  // namespace olva_test
