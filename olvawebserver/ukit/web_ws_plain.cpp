// The WebSocket sessions of plain connections: the session and its handshake.
#include "ukit/web_ws_plain.h"

namespace web::session {

template void WsSession<beast::tcp_stream>::do_accept();
template void start_ws_session<beast::tcp_stream>(beast::tcp_stream&&, WebEvents&, std::string, ConnectionSlot,
                                                   HttpRequest);

}  // namespace web::session
