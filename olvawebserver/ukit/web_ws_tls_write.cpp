// The WebSocket sessions of TLS connections: writing frames and the close.
#include "ukit/web_ws_tls.h"

namespace web::session {

template void WsSession<TlsStream>::do_write();

}  // namespace web::session
