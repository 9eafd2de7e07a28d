// The HTTP sessions of plain connections: reading requests and writing
// replies are compiled in files of their own (web_http_plain*.cpp).
#pragma once

#include "ukit/web_http_session.h"

namespace web::session {

extern template void HttpSession<beast::tcp_stream>::run();
extern template void HttpSession<beast::tcp_stream>::do_read();
extern template void HttpSession<beast::tcp_stream>::write(StringResponse&);
extern template void HttpSession<beast::tcp_stream>::write(FileResponse&);
extern template void HttpSession<beast::tcp_stream>::do_close();

}  // namespace web::session
