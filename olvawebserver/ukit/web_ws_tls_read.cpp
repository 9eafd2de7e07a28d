// The WebSocket sessions of TLS connections: reading frames.
#include "ukit/web_ws_tls.h"

namespace web::session {

template void WsSession<TlsStream>::do_read();

}  // namespace web::session
