// The HTTP sessions of plain connections: reading requests.
#include "ukit/web_http_plain.h"

namespace web::session {

template void HttpSession<beast::tcp_stream>::do_read();

}  // namespace web::session
