#include "ukit/web_server.h"

#include <chrono>
#include <deque>
#include <optional>
#include <type_traits>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "logger.h"
#include "ukit/http_util.h"

namespace web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using SslStream = beast::ssl_stream<beast::tcp_stream>;

namespace {

constexpr std::size_t kMaxRequestBody = 1024 * 1024;  // no route takes more
constexpr std::size_t kMaxRequestHeader = 16 * 1024;
constexpr std::size_t kMaxFrameSize = 256 * 1024;     // one command frame, any larger closes
constexpr std::size_t kMaxQueuedFrames = 1024;        // per client; a full queue drops the newest
constexpr std::size_t kMaxAddressLength = 32;         // "ip:port" as the logs show it
constexpr auto kHttpTimeout = std::chrono::seconds(30);  // to read a request or write a reply
constexpr auto kTlsHandshakeTimeout = std::chrono::seconds(10);
constexpr auto kWsHandshakeTimeout = std::chrono::seconds(30);
// With keep-alive pings a live browser always answers well within this.
constexpr auto kWsIdleTimeout = std::chrono::seconds(120);
// After a failed accept (no file descriptors left, say) before the next try.
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);

// One open connection of a listener, held by the session that owns its
// socket (handed on from the HTTP session to the WebSocket one). The count
// may outlive the listener; everything runs on the web thread.
class ConnectionSlot {
public:
    explicit ConnectionSlot(std::shared_ptr<std::size_t> count) : count_(std::move(count)) { ++*count_; }
    ~ConnectionSlot()
    {
        if (count_)
            --*count_;
    }
    ConnectionSlot(ConnectionSlot&&) = default;
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;

private:
    std::shared_ptr<std::size_t> count_;  // null once handed on
};

template <class Stream>
constexpr bool kIsTls = std::is_same_v<Stream, SslStream>;

// The ordinary ends of a connection are not worth a log line.
bool is_ordinary_end(const beast::error_code& ec)
{
    return ec == asio::error::operation_aborted || ec == asio::error::eof ||
           ec == asio::error::connection_reset || ec == beast::error::timeout ||
           ec == websocket::error::closed || ec == http::error::end_of_stream ||
           ec == asio::ssl::error::stream_truncated;
}

void fail(const beast::error_code& ec, const char* what)
{
    if (!is_ordinary_end(ec))
        logger(2, "userver", "", " %s: %s", what, ec.message().c_str());
}

std::string peer_address(const tcp::socket& socket)
{
    beast::error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return "unknown";
    std::string text = peer.address().to_string() + ":" + std::to_string(peer.port());
    if (text.size() > kMaxAddressLength)
        text.resize(kMaxAddressLength);
    return text;
}

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
        if (queue_.size() >= kMaxQueuedFrames) {
            logger(2, "userver", "", " %s reads too slowly, frame dropped", address().c_str());
            return;
        }
        queue_.push_back({false, std::move(text)});
        if (queue_.size() == 1)
            do_write();
    }

    void send_close(std::string reason) override
    {
        if (closing_)
            return;
        closing_ = true;
        queue_.push_back({true, std::move(reason)});
        if (queue_.size() == 1)
            do_write();
    }

private:
    struct Outgoing {
        bool close;
        std::string text;  // the frame, or the close reason
    };

    void do_accept()
    {
        ws_.async_accept(req_, beast::bind_front_handler(&WsSession::on_accept, this->shared_from_this()));
    }

    void on_accept(beast::error_code ec)
    {
        if (ec) return fail(ec, "websocket accept");
        open_ = true;
        events_.on_ws_open(this->shared_from_this());
        do_read();
    }

    void do_read()
    {
        ws_.async_read(buffer_, beast::bind_front_handler(&WsSession::on_read, this->shared_from_this()));
    }

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

    void do_write()
    {
        Outgoing& next = queue_.front();
        if (next.close) {
            ws_.async_close(websocket::close_reason(websocket::close_code::normal, next.text),
                            beast::bind_front_handler(&WsSession::on_close, this->shared_from_this()));
            return;
        }
        ws_.text(true);
        ws_.async_write(asio::buffer(next.text),
                        beast::bind_front_handler(&WsSession::on_write, this->shared_from_this()));
    }

    void on_write(beast::error_code ec, std::size_t)
    {
        if (ec) return fail(ec, "websocket write");
        queue_.pop_front();
        if (!queue_.empty())
            do_write();
    }

    void on_close(beast::error_code ec)
    {
        if (ec) return fail(ec, "websocket close");
        queue_.pop_front();
    }

    websocket::stream<Stream> ws_;
    WebEvents& events_;
    ConnectionSlot slot_;
    HttpRequest req_;
    beast::flat_buffer buffer_;
    std::deque<Outgoing> queue_;  // front: the frame being written
    bool open_ = false;           // handshake done, not yet ended
    bool closing_ = false;        // close frame queued, or the connection ended
};

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
            std::make_shared<WsSession<Stream>>(std::move(stream_), events_, address_, std::move(slot_))
                ->run(std::move(req));
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

}  // namespace

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(asio::io_context& ioc, WebEvents& events, std::shared_ptr<asio::ssl::context> tls)
        : ioc_(ioc), acceptor_(ioc), retry_(ioc), events_(events), tls_(std::move(tls))
    {
    }

    bool open(unsigned short port, std::string& error)
    {
        const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), port);
        beast::error_code ec;
        acceptor_.open(endpoint.protocol(), ec);
        // Lets a restart bind while the last run's connections sit in
        // TIME_WAIT; on Linux it never lets two listeners share the port.
        if (!ec)
            acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec)
            acceptor_.bind(endpoint, ec);
        if (!ec)
            acceptor_.listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            error = ec.message();
            beast::error_code ignored;
            acceptor_.close(ignored);
            return false;
        }
        do_accept();
        return true;
    }

    unsigned short port() const
    {
        beast::error_code ec;
        const tcp::endpoint local = acceptor_.local_endpoint(ec);
        return ec ? 0 : local.port();
    }

    void close()
    {
        beast::error_code ignored;
        acceptor_.close(ignored);
        retry_.cancel();
    }

private:
    void do_accept()
    {
        acceptor_.async_accept(ioc_, beast::bind_front_handler(&Listener::on_accept, shared_from_this()));
    }

    void on_accept(beast::error_code ec, tcp::socket socket)
    {
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) {
            fail(ec, "accept");
            retry_.expires_after(kAcceptRetryDelay);
            retry_.async_wait([self = shared_from_this()](beast::error_code wait_ec) {
                if (!wait_ec)
                    self->do_accept();
            });
            return;
        }
        std::string address = peer_address(socket);
        if (*open_connections_ >= kMaxConnections) {
            // Refused at once, so that the clients already in are served.
            if (!full_)
                logger(1, "userver", "", " %zu connections open: new ones are refused, %s first",
                       *open_connections_, address.c_str());
            full_ = true;
            beast::error_code ignored;
            socket.close(ignored);
            return do_accept();
        }
        full_ = false;
        ConnectionSlot slot(open_connections_);
        if (tls_) {
            std::make_shared<HttpSession<SslStream>>(SslStream(std::move(socket), *tls_), events_,
                                                     std::move(address), std::move(slot))
                ->run();
        } else {
            std::make_shared<HttpSession<beast::tcp_stream>>(beast::tcp_stream(std::move(socket)),
                                                             events_, std::move(address), std::move(slot))
                ->run();
        }
        do_accept();
    }

    asio::io_context& ioc_;
    tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    WebEvents& events_;
    std::shared_ptr<asio::ssl::context> tls_;  // shared with the TLS streams
    std::shared_ptr<std::size_t> open_connections_ = std::make_shared<std::size_t>(0);
    bool full_ = false;  // the last connection was refused: log the next refusal only after one got in
};

WebServer::WebServer(asio::io_context& ioc, WebEvents& events) : ioc_(ioc), events_(events) {}

WebServer::~WebServer()
{
    close();
}

bool WebServer::listen(unsigned short port, const TlsFiles* tls, std::string& error)
{
    close();
    std::shared_ptr<asio::ssl::context> context;
    if (tls) {
        context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
        context->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                             asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                             asio::ssl::context::no_tlsv1_1);
        beast::error_code ec;
        context->use_certificate_chain_file(tls->certificate, ec);
        if (ec) {
            error = "certificate " + tls->certificate + ": " + ec.message();
            return false;
        }
        context->use_private_key_file(tls->private_key, asio::ssl::context::pem, ec);
        if (ec) {
            error = "private key " + tls->private_key + ": " + ec.message();
            return false;
        }
    }
    auto listener = std::make_shared<Listener>(ioc_, events_, std::move(context));
    if (!listener->open(port, error))
        return false;
    listener_ = std::move(listener);
    return true;
}

unsigned short WebServer::port() const
{
    return listener_ ? listener_->port() : 0;
}

void WebServer::close()
{
    if (listener_) {
        listener_->close();
        listener_.reset();
    }
}

}  // namespace web
