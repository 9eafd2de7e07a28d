// The WebSocket sessions of plain connections: each operation is compiled in
// a file of its own (web_ws_plain*.cpp), so none of them is built twice.
#pragma once

#include "ukit/web_ws_session.h"

namespace web::session {

extern template void WsSession<beast::tcp_stream>::do_accept();
extern template void WsSession<beast::tcp_stream>::do_read();
extern template void WsSession<beast::tcp_stream>::do_write();

}  // namespace web::session
