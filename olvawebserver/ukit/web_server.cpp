#include "ukit/web_server.h"

#include <chrono>
#include <optional>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/websocket/error.hpp>

#include <unistd.h>

#include "base/logger.h"
#include "ukit/peer_account.h"
#include "ukit/web_sessions.h"

namespace web {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kMaxAddressLength = 32;  // "ip:port" as the logs show it
// After a failed accept (no file descriptors left, say) before the next try.
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);

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

// The ordinary ends of a connection are not worth a log line.
bool is_ordinary_end(const beast::error_code& ec)
{
    return ec == asio::error::operation_aborted || ec == asio::error::eof ||
           ec == asio::error::connection_reset || ec == beast::error::timeout ||
           ec == beast::websocket::error::closed || ec == http::error::end_of_stream ||
           ec == asio::ssl::error::stream_truncated;
}

}  // namespace

void fail(const beast::error_code& ec, const char* what)
{
    if (!is_ordinary_end(ec))
        logger(2, "userver", "", " %s: %s", what, ec.message().c_str());
}

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
        if (!from_own_account(socket, address)) {
            beast::error_code ignored;
            socket.close(ignored);
            return do_accept();
        }
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
        if (tls_)
            start_tls_session(std::move(socket), *tls_, events_, std::move(address), std::move(slot));
        else
            start_plain_session(std::move(socket), events_, std::move(address), std::move(slot));
        do_accept();
    }

    // Only the service's own account is served: the user's browser runs as
    // the user. Checked before anything is read from the connection.
    bool from_own_account(const tcp::socket& socket, const std::string& address)
    {
        beast::error_code peer_ec, local_ec;
        const tcp::endpoint peer = socket.remote_endpoint(peer_ec);
        const tcp::endpoint local = socket.local_endpoint(local_ec);
        const std::optional<unsigned> owner =
            peer_ec || local_ec ? std::nullopt : peer_account(peer, local);
        if (owner == own_uid_)
            return true;
        if (refused_accounts_.first_refusal(owner)) {
            if (owner)
                logger(1, "userver", "",
                       " connection from %s refused: it belongs to uid %u, not to this service's uid %u",
                       address.c_str(), *owner, own_uid_);
            else
                logger(1, "userver", "", " connection from %s refused: the account at its other end cannot be found",
                       address.c_str());
        }
        return false;
    }

    asio::io_context& ioc_;
    tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    WebEvents& events_;
    std::shared_ptr<asio::ssl::context> tls_;  // shared with the TLS streams
    std::shared_ptr<std::size_t> open_connections_ = std::make_shared<std::size_t>(0);
    bool full_ = false;  // the last connection was refused: log the next refusal only after one got in
    const unsigned own_uid_ = geteuid();
    RefusedAccounts refused_accounts_;
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
