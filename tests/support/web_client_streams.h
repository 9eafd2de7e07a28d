// What the parts of the Beast clients share (web_client*.cpp): the plain
// and the TLS clients are compiled in files of their own.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include "support/web_client.h"

namespace web {
class TlsStream;
}

namespace olva_test::web_client_detail {

namespace asio = boost::asio;
namespace beast = boost::beast;
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

std::shared_ptr<asio::ssl::context> client_tls(const ClientOptions& options);
std::string host_of(const ClientOptions& options);

// Connects the stream's socket; a TLS stream also makes its handshake. Both
// are declared here, so that every client template sees both.
beast::error_code open_stream(asio::io_context& ioc, beast::tcp_stream& stream, const ClientOptions& options);
beast::error_code open_stream(asio::io_context& ioc, web::TlsStream& stream, const ClientOptions& options);

// The WebSocket clients, plain and TLS.
std::unique_ptr<WsClient> connect_plain(const ClientOptions& options, std::string* error, int* status);
std::unique_ptr<WsClient> connect_tls(const ClientOptions& options, std::string* error, int* status);

// One request on a connection of its own, plain and TLS.
HttpResult http_request_plain(const ClientOptions& options, const std::string& method, const std::string& body);
HttpResult http_request_tls(const ClientOptions& options, const std::string& method, const std::string& body);

}  // namespace olva_test::web_client_detail
