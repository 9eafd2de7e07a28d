// The WebSocket sessions of TLS connections.
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "ukit/web_ws_session.h"

namespace web::session {

using SslStream = beast::ssl_stream<beast::tcp_stream>;
template void start_ws_session<SslStream>(SslStream&&, WebEvents&, std::string, ConnectionSlot, HttpRequest);

}  // namespace web::session
