// The WebSocket sessions of TLS connections: the session and its handshake.
#include "ukit/web_ws_tls.h"

namespace web::session {

template void WsSession<TlsStream>::do_accept();
template void start_ws_session<TlsStream>(TlsStream&&, WebEvents&, std::string, ConnectionSlot, HttpRequest);

}  // namespace web::session
