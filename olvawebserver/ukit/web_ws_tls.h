// The WebSocket sessions of TLS connections: each operation is compiled in a
// file of its own (web_ws_tls*.cpp), so none of them is built twice.
#pragma once

#include "ukit/tls_stream.h"
#include "ukit/web_ws_session.h"

namespace web::session {

extern template void WsSession<TlsStream>::do_accept();
extern template void WsSession<TlsStream>::do_read();
extern template void WsSession<TlsStream>::do_write();

}  // namespace web::session
