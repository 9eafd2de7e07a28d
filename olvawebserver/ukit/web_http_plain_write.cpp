// The HTTP sessions of plain connections: writing replies held in memory.
#include "ukit/web_http_plain.h"

namespace web::session {

template void HttpSession<beast::tcp_stream>::write(StringResponse&);

}  // namespace web::session
