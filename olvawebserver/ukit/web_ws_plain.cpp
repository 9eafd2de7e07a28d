// The WebSocket sessions of plain connections.
#include "ukit/web_ws_session.h"

namespace web::session {

template void start_ws_session<beast::tcp_stream>(beast::tcp_stream&&, WebEvents&, std::string, ConnectionSlot,
                                                   HttpRequest);

}  // namespace web::session
