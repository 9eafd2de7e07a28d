// The listener and its connections on one io_context, run by the web
// thread: HTTP/1.1 with keep-alive, WebSocket upgrades on any path, plain or
// TLS. It binds the loopback address only, closes at once a connection
// whose other end belongs to another account of the machine, and refuses a
// request whose Host header names anything but the loopback.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "ukit/web_connection.h"

namespace web {

class Listener;

// Open connections at most (plain HTTP and WebSocket together); a new one
// beyond it is closed at once while the open ones are served.
inline constexpr std::size_t kMaxConnections = 512;

struct TlsFiles {
    std::string certificate;  // PEM certificate chain
    std::string private_key;  // PEM private key
};

class WebServer {
public:
    WebServer(boost::asio::io_context& ioc, WebEvents& events);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and starts accepting; with
    // tls, every connection speaks TLS with the given files. Returns false
    // with the reason in error.
    bool listen(unsigned short port, const TlsFiles* tls, std::string& error);
    // The bound port, 0 when not listening.
    unsigned short port() const;
    // Stops accepting. Open connections end with the io_context.
    void close();

private:
    boost::asio::io_context& ioc_;
    WebEvents& events_;
    std::shared_ptr<Listener> listener_;
};

}  // namespace web
