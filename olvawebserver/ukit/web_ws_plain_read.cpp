// The WebSocket sessions of plain connections: reading frames.
#include "ukit/web_ws_plain.h"

namespace web::session {

template void WsSession<beast::tcp_stream>::do_read();

}  // namespace web::session
