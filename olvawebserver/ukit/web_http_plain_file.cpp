// The HTTP sessions of plain connections: writing replies read from files.
#include "ukit/web_http_plain.h"

namespace web::session {

template void HttpSession<beast::tcp_stream>::write(FileResponse&);

}  // namespace web::session
