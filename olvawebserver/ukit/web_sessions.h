// The sessions of the server's connections, one HTTP session per accepted
// socket that hands its stream on to a WebSocket session at an upgrade. The
// plain and the TLS sessions are compiled in files of their own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/error.hpp>

#include "ukit/web_connection.h"

namespace web {

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

// Logs an error of a connection unless it is one of its ordinary ends.
void fail(const boost::beast::error_code& ec, const char* what);

// Serves the accepted socket: HTTP/1.1, and WebSocket after an upgrade.
void start_plain_session(boost::asio::ip::tcp::socket socket, WebEvents& events, std::string address,
                         ConnectionSlot slot);
// The same over TLS with the listener's context.
void start_tls_session(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls,
                       WebEvents& events, std::string address, ConnectionSlot slot);

}  // namespace web
