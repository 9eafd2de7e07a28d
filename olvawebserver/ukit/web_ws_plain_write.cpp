// The WebSocket sessions of plain connections: writing frames and the close.
#include "ukit/web_ws_plain.h"

namespace web::session {

template void WsSession<beast::tcp_stream>::do_write();

}  // namespace web::session
