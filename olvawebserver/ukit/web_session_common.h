// What the HTTP and the WebSocket sessions share. Each kind of session is
// compiled for each kind of stream, plain or TLS, in files of its own.
#pragma once

#include <chrono>
#include <type_traits>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include "ukit/http_types.h"
#include "ukit/web_sessions.h"

namespace web::session {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

constexpr std::size_t kMaxRequestBody = 1024 * 1024;  // no route takes more
constexpr std::size_t kMaxRequestHeader = 16 * 1024;
constexpr std::size_t kMaxFrameSize = 256 * 1024;     // one command frame, any larger closes
// A client's send queue, frames not yet written; past either bound the
// client is not reading, its queue is dropped and it is closed with 1008.
constexpr std::size_t kMaxQueuedFrames = 1024;
constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;
constexpr auto kHttpTimeout = std::chrono::seconds(30);  // to read a request or write a reply
constexpr auto kTlsHandshakeTimeout = std::chrono::seconds(10);
constexpr auto kWsHandshakeTimeout = std::chrono::seconds(30);
// With keep-alive pings a live browser always answers well within this.
constexpr auto kWsIdleTimeout = std::chrono::seconds(120);

template <class Stream>
constexpr bool kIsTls = !std::is_same_v<Stream, beast::tcp_stream>;

// Serves the upgraded stream as a WebSocket connection; compiled for each
// kind of stream with the WebSocket session.
template <class Stream>
void start_ws_session(Stream&& stream, WebEvents& events, std::string address, ConnectionSlot slot,
                      HttpRequest req);

}  // namespace web::session
